// The ordered list of untyped pointers that the module's shared tables are built on.
//
// Each operation takes the list's own critical section (when it has one) for its whole duration.
// The list never owns its elements. Positions are looked up in constant time; what callers
// observe (order, indexes, first match) is that of a plain doubly linked list.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "platform/sync.h"

namespace em {

class CLockedPtrList {
public:
    // with_lock: the list creates a critical section of its own on the heap.
    explicit CLockedPtrList(bool with_lock = true);
    ~CLockedPtrList();
    CLockedPtrList(const CLockedPtrList&) = delete;
    CLockedPtrList& operator=(const CLockedPtrList&) = delete;

    // Appends and returns the new element's index (the count before the append).
    uint32_t AddTail(void* element);
    // 0: new head; at or beyond the count: new tail; otherwise before the element at index.
    bool InsertAt(uint32_t index, void* element);
    // Drops the head node (not its element); true when the list is empty afterwards.
    bool RemoveHead();
    // The element at index, or null beyond the end.
    void* GetAt(uint32_t index) const;
    // Index of the first node holding element; -1 when absent.
    int32_t Find(const void* element) const;
    bool RemoveAll();
    uint32_t GetCount() const;

    // The list's own lock, for callers that must see a consistent whole (null without one).
    platform::CriticalSection* Lock() const { return m_bHasLock ? &m_lock : nullptr; }

private:
    class Guard;
    // A list built without a lock is used by one thread only; the lock object then exists but
    // is never entered, which lets the analysis check the guarded member all the same.
    mutable platform::CriticalSection m_lock;
    const bool m_bHasLock;
    std::deque<void*> m_items EM_GUARDED_BY(m_lock);
};

}  // namespace em
