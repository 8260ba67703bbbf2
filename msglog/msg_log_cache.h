// The message log cache: per cabinet, a copy of the hardware message log of all management
// modules, merged into one list ordered by time and numbered with a running sequence number.
//
// Locks, always taken in this order: the table lock of CMsgLogCache; a cabinet's store lock
// (serialises the stores and clears of one cabinet and guards its sequence counter); the own lock
// of a list (the cabinet list, a cabinet's entry list), which is always the innermost one.
// Nothing waits (events, lower modules) while holding any of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "module/locked_ptr_list.h"
#include "platform/sync.h"

namespace em {

// One cached log entry, either an old-style SEL entry (oldStyle 1, rawSel holds its bytes) or a
// unified record (oldStyle 0, rawSel empty). Copying makes a deep copy.
struct CMsgLogEntry {
    static constexpr uint32_t kNoSelRecordId = 0xFFFFFFFFu;

    uint32_t moduleId = 0;             // MI of the reply command that carried the entry
    std::vector<uint8_t> rawSel;       // old style: the SEL entry's bytes; unified: empty
    // Old style: index 0 = designation string (only when not empty). Unified: 1, 2, ... = the
    // record's string arguments in their order.
    std::map<uint32_t, std::u16string> stringArgs;
    uint32_t errorCode = 0;            // old style: 14-bit code (group << 8 | low byte)
    uint32_t flags = 0;                // bit 0: CSS
    uint32_t timestamp = 0;            // 0: the entry has no time
    uint32_t sequenceNumber = 0;       // 0 until stored
    uint32_t selRecordId = kNoSelRecordId;
    uint8_t platformId = 0;            // unified: 1 BIOS, 2 IPMI, 3 SMBIOS; old style: 0
    uint32_t oldStyle = 1;
    uint8_t entryClass = 0;

    bool HasRawSel() const { return !rawSel.empty(); }
};

// The cache of one cabinet. Its entry list holds CMsgLogEntry pointers, oldest first, owned by
// the cache. Readers walk it by position with GetAt and must hold the list's own lock
// (EntryLock()) for as long as they use an entry they got, or use CopyEntryAt.
class CCabinetLogCache {
public:
    explicit CCabinetLogCache(uint32_t cabinet);
    ~CCabinetLogCache();
    CCabinetLogCache(const CCabinetLogCache&) = delete;
    CCabinetLogCache& operator=(const CCabinetLogCache&) = delete;

    uint32_t Cabinet() const { return m_dwCabinet; }
    // The "Cache Ready" event (manual reset, created not signalled); null when it could not be
    // made, with the system error in ReadyEventError().
    platform::Event* ReadyEvent() const { return m_readyEvent.get(); }
    uint32_t ReadyEventError() const { return m_dwReadyError; }

    const CLockedPtrList& Entries() const { return m_entries; }
    platform::CriticalSection& EntryLock() const { return *m_entries.Lock(); }
    uint32_t EntryCount() const { return m_entries.GetCount(); }
    // Deep copy of the entry at index (0 = oldest); false beyond the end.
    bool CopyEntryAt(uint32_t index, CMsgLogEntry& out) const;
    // Deep copy of the entry with that sequence number; false when it is not (or no longer) here.
    bool CopyEntryBySequence(uint32_t sequence, CMsgLogEntry& out) const;
    uint32_t LastSequenceNumber() const;

private:
    friend class CMsgLogCache;

    // Appends one entry (taking ownership) and gives it the next number.
    void Append(std::unique_ptr<CMsgLogEntry> entry) EM_REQUIRES(m_storeLock);
    // Drops the oldest entries beyond the limit, tracing each removal.
    void Trim(uint32_t limit) EM_REQUIRES(m_storeLock);
    void Clear() EM_REQUIRES(m_storeLock);
    // Index of the entry numbered sequence, or -1; entry list lock held by the caller.
    int64_t IndexOfSequence(uint32_t sequence) const;

    std::unique_ptr<platform::Event> m_readyEvent;
    uint32_t m_dwReadyError = 0;
    CLockedPtrList m_entries{true};
    mutable platform::CriticalSection m_storeLock;
    uint32_t m_dwLastSequence EM_GUARDED_BY(m_storeLock) = 0;
    const uint32_t m_dwCabinet;
};

// The cache table: one CCabinetLogCache per cabinet. Cabinet caches are never removed before the
// table is destroyed, so a pointer returned by GetCabinet stays valid for the table's life.
class CMsgLogCache {
public:
    // Entries a cabinet keeps; older ones are dropped from the head.
    static constexpr uint32_t kMaxEntries = 2000;

    CMsgLogCache();
    ~CMsgLogCache();
    CMsgLogCache(const CMsgLogCache&) = delete;
    CMsgLogCache& operator=(const CMsgLogCache&) = delete;

    // Makes the cabinet's cache unless it exists; false when it could not be made.
    bool InitCabinet(uint32_t cabinet);
    // Finds the cabinet's cache, making it when it does not exist (create = true); null when
    // absent (create = false) or when it could not be made.
    CCabinetLogCache* GetCabinet(uint32_t cabinet, bool create = true);
    // Sets or resets the cabinet's "Cache Ready" event. False when the cabinet is unknown or has
    // no event.
    bool SetCacheReady(uint32_t cabinet, bool set);
    // Waits, holding no lock, until the cabinet's cache is ready. False when the cabinet is
    // unknown, has no event, or the time-out passed.
    bool WaitCacheReady(uint32_t cabinet, uint32_t timeout_ms);
    // 0 when the cabinet is unknown.
    uint32_t GetEntryCount(uint32_t cabinet);
    uint32_t GetLastSequenceNumber(uint32_t cabinet);
    // Deep copy of the cabinet's entry with that sequence number into out.
    bool FindEntryBySequence(uint32_t cabinet, uint32_t sequence, CMsgLogEntry& out);
    // Deletes every entry of the cabinet; numbering continues after the last number given.
    bool ClearCabinet(uint32_t cabinet);

    // Stores the entries of one fill, already in time order, at the end of the cabinet's list and
    // numbers them, then trims the list to kMaxEntries. Takes ownership of the entries: merged is
    // left empty. Returns the number of the first entry stored, 0 when none was stored (the trim
    // still runs). With a null cabinet nothing is taken and the result is 0.
    uint32_t StoreEntries(CCabinetLogCache* cabinet, std::vector<std::unique_ptr<CMsgLogEntry>>& merged);
    // The same for a list of CMsgLogEntry pointers (the list never owns them; this call takes
    // them over and empties the list).
    uint32_t StoreEntries(CCabinetLogCache* cabinet, CLockedPtrList& merged);

    // Cabinet caches in the order they were made (readers that page through a cabinet's entries
    // find it by position); null beyond the end.
    CCabinetLogCache* CabinetAt(uint32_t index) const;
    uint32_t CabinetCount() const { return m_cabinets.GetCount(); }
    platform::CriticalSection& TableLock() const { return m_tableLock; }

private:
    // Walks the cabinet list; each step takes the list's own lock only.
    CCabinetLogCache* Find(uint32_t cabinet) const;
    CCabinetLogCache* Create(uint32_t cabinet) EM_REQUIRES(m_tableLock);

    mutable platform::CriticalSection m_tableLock;
    CLockedPtrList m_cabinets{true};  // CCabinetLogCache*, owned by the table
};

}  // namespace em
