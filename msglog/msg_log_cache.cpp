#include "msglog/msg_log_cache.h"

#include <new>

#include "diag/debug.h"

namespace em {

namespace {

const CMsgLogEntry* EntryAt(const CLockedPtrList& list, uint32_t index) {
    return static_cast<const CMsgLogEntry*>(list.GetAt(index));
}

}  // namespace

// ---- CCabinetLogCache ----------------------------------------------------------------------------

CCabinetLogCache::CCabinetLogCache(uint32_t cabinet) : m_dwCabinet(cabinet) {
    try {
        m_readyEvent = std::make_unique<platform::Event>(false);
    } catch (const std::bad_alloc&) {
        m_dwReadyError = 8;  // ERROR_NOT_ENOUGH_MEMORY; the cache lives on without an event
    }
}

CCabinetLogCache::~CCabinetLogCache() {
    m_readyEvent.reset();
    platform::CsLock lock(EntryLock());
    while (auto* entry = static_cast<CMsgLogEntry*>(m_entries.GetAt(0))) {
        m_entries.RemoveHead();
        delete entry;
    }
}

bool CCabinetLogCache::CopyEntryAt(uint32_t index, CMsgLogEntry& out) const {
    platform::CsLock lock(EntryLock());
    const CMsgLogEntry* entry = EntryAt(m_entries, index);
    if (!entry) return false;
    out = *entry;
    return true;
}

// Numbers ascend along the list with no gaps (a store numbers its entries one after the other
// and entries leave only from the head or all at once), so the position follows from the
// number; a binary search covers any list where that does not hold but the order does.
int64_t CCabinetLogCache::IndexOfSequence(uint32_t sequence) const {
    const uint32_t count = m_entries.GetCount();
    if (count == 0) return -1;
    const uint32_t first = EntryAt(m_entries, 0)->sequenceNumber;
    if (sequence < first) return -1;
    const uint64_t guess = uint64_t{sequence} - first;
    if (guess < count && EntryAt(m_entries, static_cast<uint32_t>(guess))->sequenceNumber == sequence)
        return static_cast<int64_t>(guess);
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        if (EntryAt(m_entries, mid)->sequenceNumber < sequence) lo = mid + 1;
        else hi = mid;
    }
    if (lo < count && EntryAt(m_entries, lo)->sequenceNumber == sequence) return lo;
    return -1;
}

bool CCabinetLogCache::CopyEntryBySequence(uint32_t sequence, CMsgLogEntry& out) const {
    platform::CsLock lock(EntryLock());
    int64_t index = IndexOfSequence(sequence);
    if (index < 0) return false;
    out = *EntryAt(m_entries, static_cast<uint32_t>(index));
    return true;
}

uint32_t CCabinetLogCache::LastSequenceNumber() const {
    platform::CsLock lock(m_storeLock);
    return m_dwLastSequence;
}

void CCabinetLogCache::Append(std::unique_ptr<CMsgLogEntry> entry) {
    const uint32_t number = m_dwLastSequence + 1;
    entry->sequenceNumber = number;
    // Only stores append, and they hold the store lock: the count tells whether the node was made.
    const uint32_t index = m_entries.AddTail(entry.get());
    if (m_entries.GetCount() != index + 1) return;  // no node: the entry is dropped, unnumbered
    (void)entry.release();
    m_dwLastSequence = number;
}

void CCabinetLogCache::Trim(uint32_t limit) {
    while (m_entries.GetCount() > limit) {
        uint32_t number = 0;
        {
            platform::CsLock lock(EntryLock());
            auto* head = static_cast<CMsgLogEntry*>(m_entries.GetAt(0));
            if (!head) break;
            number = head->sequenceNumber;
            m_entries.RemoveHead();
            delete head;
        }
        EM_TRACE(3, u"\nEM_TARNEL           : Entry %d removed from beginning of message log list", number);
    }
}

void CCabinetLogCache::Clear() {
    platform::CsLock lock(EntryLock());
    while (auto* entry = static_cast<CMsgLogEntry*>(m_entries.GetAt(0))) {
        m_entries.RemoveHead();
        delete entry;
    }
}

// ---- CMsgLogCache --------------------------------------------------------------------------------

CMsgLogCache::CMsgLogCache() = default;

CMsgLogCache::~CMsgLogCache() {
    EM_TRACE(5, u"\nCMsgLogCache        : -> Destructor...");
    {
        platform::CsLock lock(*m_cabinets.Lock());
        while (m_cabinets.GetCount() != 0) {
            auto* cabinet = static_cast<CCabinetLogCache*>(m_cabinets.GetAt(0));
            try {
                delete cabinet;
            } catch (...) {
                // One cabinet failing does not stop the others.
            }
            m_cabinets.RemoveHead();
        }
    }
    EM_TRACE(5, u"\nCMsgLogCache        : <- Destructor");
}

CCabinetLogCache* CMsgLogCache::Find(uint32_t cabinet) const {
    for (uint32_t i = 0;; ++i) {
        auto* cache = static_cast<CCabinetLogCache*>(m_cabinets.GetAt(i));
        if (!cache || cache->Cabinet() == cabinet) return cache;
    }
}

CCabinetLogCache* CMsgLogCache::CabinetAt(uint32_t index) const {
    return static_cast<CCabinetLogCache*>(m_cabinets.GetAt(index));
}

CCabinetLogCache* CMsgLogCache::Create(uint32_t cabinet) {
    std::unique_ptr<CCabinetLogCache> cache;
    try {
        cache = std::make_unique<CCabinetLogCache>(cabinet);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const uint32_t index = m_cabinets.AddTail(cache.get());
    if (m_cabinets.GetAt(index) != cache.get()) return nullptr;  // no node could be made
    return cache.release();
}

bool CMsgLogCache::InitCabinet(uint32_t cabinet) {
    platform::CsLock lock(m_tableLock);
    EM_TRACE(3, u"\nEM_TARNEL           : Init message log cache cabinet %d", cabinet);
    if (Find(cabinet)) return true;
    return Create(cabinet) != nullptr;
}

CCabinetLogCache* CMsgLogCache::GetCabinet(uint32_t cabinet, bool create) {
    // Cabinets are only ever added, so a cache found here stays. Making one takes the table lock
    // (and looks again), so that two fills for a new cabinet cannot make two caches for it.
    if (CCabinetLogCache* cache = Find(cabinet)) return cache;
    if (!create) return nullptr;
    platform::CsLock lock(m_tableLock);
    if (CCabinetLogCache* cache = Find(cabinet)) return cache;
    return Create(cabinet);
}

bool CMsgLogCache::SetCacheReady(uint32_t cabinet, bool set) {
    platform::CsLock lock(m_tableLock);
    CCabinetLogCache* cache = Find(cabinet);
    if (!cache) return false;
    bool result = false;
    if (platform::Event* event = cache->ReadyEvent()) result = set ? event->Set() : event->Reset();
    if (set) EM_TRACE(3, u"\nEM_TARNEL           : SET event for message log cache cabinet %d", cabinet);
    else EM_TRACE(3, u"\nEM_TARNEL           : RESET event for message log cache cabinet %d", cabinet);
    return result;
}

bool CMsgLogCache::WaitCacheReady(uint32_t cabinet, uint32_t timeout_ms) {
    CCabinetLogCache* cache = Find(cabinet);
    if (!cache) {
        EM_TRACE(1, u"\nEM_TARNEL           : ERROR! Cabinet %d not found in message log cache table!", cabinet);
        return false;
    }
    EM_TRACE(3, u"\nEM_TARNEL           : Wait on event for message log cache cabinet %d (Timeout: %d)", cabinet,
             timeout_ms / 1000);
    platform::Event* event = cache->ReadyEvent();
    if (!event) return false;
    return event->Wait(timeout_ms) == platform::WaitResult::Signalled;
}

uint32_t CMsgLogCache::GetEntryCount(uint32_t cabinet) {
    platform::CsLock lock(m_tableLock);
    CCabinetLogCache* cache = Find(cabinet);
    return cache ? cache->EntryCount() : 0;
}

uint32_t CMsgLogCache::GetLastSequenceNumber(uint32_t cabinet) {
    platform::CsLock lock(m_tableLock);
    CCabinetLogCache* cache = Find(cabinet);
    return cache ? cache->LastSequenceNumber() : 0;
}

bool CMsgLogCache::FindEntryBySequence(uint32_t cabinet, uint32_t sequence, CMsgLogEntry& out) {
    platform::CsLock lock(m_tableLock);
    CCabinetLogCache* cache = Find(cabinet);
    return cache && cache->CopyEntryBySequence(sequence, out);
}

bool CMsgLogCache::ClearCabinet(uint32_t cabinet) {
    platform::CsLock lock(m_tableLock);
    CCabinetLogCache* cache = Find(cabinet);
    if (!cache) return false;
    platform::CsLock store(cache->m_storeLock);
    cache->Clear();
    return true;
}

uint32_t CMsgLogCache::StoreEntries(CCabinetLogCache* cabinet, std::vector<std::unique_ptr<CMsgLogEntry>>& merged) {
    if (!cabinet) return 0;
    platform::CsLock store(cabinet->m_storeLock);
    uint32_t first = 0;
    if (!merged.empty()) {
        first = cabinet->m_dwLastSequence + 1;
        for (auto& entry : merged) {
            if (entry) cabinet->Append(std::move(entry));
        }
        merged.clear();
        EM_TRACE(4, u"\nEM_TARNEL           :     %d entries stored to messag log cache", cabinet->EntryCount());
    }
    cabinet->Trim(kMaxEntries);
    return first;
}

uint32_t CMsgLogCache::StoreEntries(CCabinetLogCache* cabinet, CLockedPtrList& merged) {
    if (!cabinet) return 0;
    std::vector<std::unique_ptr<CMsgLogEntry>> entries;
    entries.reserve(merged.GetCount());
    while (auto* entry = static_cast<CMsgLogEntry*>(merged.GetAt(0))) {
        entries.emplace_back(entry);
        merged.RemoveHead();
    }
    return StoreEntries(cabinet, entries);
}

}  // namespace em
