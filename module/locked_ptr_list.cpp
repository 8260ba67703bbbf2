#include "module/locked_ptr_list.h"

#include <algorithm>
#include <new>

namespace em {

// Takes the list's lock, when it has one, for the duration of one operation.
class EM_SCOPED_CAPABILITY CLockedPtrList::Guard {
public:
    Guard(platform::CriticalSection& cs, bool use) EM_ACQUIRE(cs) EM_NO_THREAD_SAFETY_ANALYSIS
        : m_cs(use ? &cs : nullptr) {
        if (m_cs) m_cs->Enter();
    }
    ~Guard() EM_RELEASE() EM_NO_THREAD_SAFETY_ANALYSIS {
        if (m_cs) m_cs->Leave();
    }

private:
    platform::CriticalSection* m_cs;
};

CLockedPtrList::CLockedPtrList(bool with_lock) : m_bHasLock(with_lock) {}

CLockedPtrList::~CLockedPtrList() { RemoveAll(); }

uint32_t CLockedPtrList::AddTail(void* element) {
    Guard g(m_lock, m_bHasLock);
    uint32_t index = static_cast<uint32_t>(m_items.size());
    try {
        m_items.push_back(element);
    } catch (const std::bad_alloc&) {
        // The list stays as it was; the caller sees the index the element would have had.
    }
    return index;
}

bool CLockedPtrList::InsertAt(uint32_t index, void* element) {
    Guard g(m_lock, m_bHasLock);
    try {
        if (index >= m_items.size()) m_items.push_back(element);
        else m_items.insert(m_items.begin() + index, element);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CLockedPtrList::RemoveHead() {
    Guard g(m_lock, m_bHasLock);
    if (!m_items.empty()) m_items.pop_front();
    return m_items.empty();
}

void* CLockedPtrList::GetAt(uint32_t index) const {
    Guard g(m_lock, m_bHasLock);
    return index < m_items.size() ? m_items[index] : nullptr;
}

int32_t CLockedPtrList::Find(const void* element) const {
    Guard g(m_lock, m_bHasLock);
    auto it = std::find(m_items.begin(), m_items.end(), element);
    return it == m_items.end() ? -1 : static_cast<int32_t>(it - m_items.begin());
}

bool CLockedPtrList::RemoveAll() {
    Guard g(m_lock, m_bHasLock);
    m_items.clear();
    return true;
}

uint32_t CLockedPtrList::GetCount() const {
    Guard g(m_lock, m_bHasLock);
    return static_cast<uint32_t>(m_items.size());
}

}  // namespace em
