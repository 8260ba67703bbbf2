// The module object: one per loaded library, made by EM_Create.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "mapping/oid_map_table.h"
#include "module/extension_module.h"
#include "msglog/msg_log_cache.h"
#include "msglog/scan_caches.h"
#include "msglog/text_caches.h"
#include "platform/sync.h"
#include "tasks/task_serializer.h"

namespace em {

inline constexpr uint32_t kModuleInfoSize = 452;
inline constexpr uint32_t kMaxCabinets = 100;  // the server's cabinet and at most 99 SE cabinets

// The cabinets of the server: entry 0 the server's own, then the SE cabinets in host order.
struct CabinetList {
    uint32_t cabinets[kMaxCabinets];
    uint32_t count = 0;
};

class CTarnelModule : public CExtensionModule, public CTaskSerializer {
public:
    CTarnelModule();
    ~CTarnelModule() noexcept(false) override;

    // ---- host-facing operations ----
    uint32_t GetModuleInfo(void* info) override;
    uint32_t OnHardwareDetected(uint32_t arg1, void* arg2) override;
    uint32_t Start(IExtensionHost* host, uint32_t module_id) override;
    uint32_t Stop() override;
    void DetectCabinets() override;
    void OnReply(CSipRecord* record) override;      // routing/reply_handler.cpp
    uint32_t OnRequest(CSipRecord* record) override;  // routing/request_handler.cpp
    const char16_t* GetModuleName() override { return kModuleName; }

    // ---- task serializer: the task dispatch (msglog/log_scan.cpp) ----
    void OnTaskExecution(CSipRecord& request, int level) override;
    // After each task: queues the next scan of a cabinet that found the queue full
    // (mapping/cabinet_start.cpp).
    void OnTaskDone(const CSipRecord& request, int level) override;
    // Cabinets whose first scan waits for room in the task queue, in cabinet order.
    std::deque<uint32_t> ScanBacklog() EM_EXCLUDES(m_csScans);

    // ---- message log scans (msglog/log_scan.cpp) ----
    void RunLogScan(uint32_t cabinet);
    // Parses the answered commands of a CM_LogEntry or CM_LogMessageArgumentsRead record into
    // the cabinet's cache; the sequence number of the first entry stored, 0 when none was.
    uint32_t FillCache(CSipRecord& record);
    CScanCaches& ScanCaches() { return m_scanCaches; }
    bool MsgLogAvailable() const { return m_bMsgLogAvailable.load(std::memory_order_relaxed) != 0; }
    void SetMsgLogAvailable() { m_bMsgLogAvailable.store(1, std::memory_order_relaxed); }

    // ---- multiple-module requests (routing/multi_module.cpp) ----
    bool IsNeverBroadcast(const CSipRecord& record);
    bool HandleMultipleModuleRequest(CSipRecord& record);
    static bool SelectExtremeDataCommand(CSipRecord& record, int direction);
    static bool AnyCommandHasDataValue(CSipRecord& record, uint32_t value);
    void MergeLogEntryReplies(CSipRecord& copy, CSipRecord& caller);
    bool PatchLogEntryOids(CSipRecord& record) { return m_oidMap.PatchLogEntryOids(record); }

    // Hands a record up as an event: ST 255 while the host's DeliverRecord runs.
    void DeliverAsEvent(CSipRecord& record);

    // ---- the module's own message log opcodes (routing/log_requests.cpp) ----
    bool HandleLogRequest(CSipRecord& record);

    // ---- cabinets and OID map ----
    void BuildCabinetList(CabinetList& list);
    void BuildCabinetMapping(uint32_t cabinet);
    bool TranslateOids(CSipRecord& record) { return m_oidMap.TranslateOids(record, OidMappingNeeded()); }
    bool OidMappingNeeded() const { return m_bOidMappingNeeded.load(std::memory_order_acquire) != 0; }
    const COidMapTable& OidMap() const { return m_oidMap; }

    // ---- learned state ----
    bool IsLanguageSupported(uint32_t language) EM_EXCLUDES(m_csState);
    std::u16string HelpDeskMessage() EM_EXCLUDES(m_csState);
    bool UnifiedSel() const { return m_bUnifiedSel.load(std::memory_order_relaxed) != 0; }
    CMsgLogCache& MsgLogCache() { return m_msgLogCache; }

    // ---- cache entry queries, message texts and raw SEL data (msglog/cache_queries.cpp,
    //      msglog/text_tasks.cpp) ----
    // Fills the current command of a 0x0B10 request with a page of cached entries as text; false
    // when no entry qualifies (the command then carries no DA).
    bool GetMsgLogCacheEntries(CSipRecord& record);
    // Worker-thread tasks for the requests the caches could not answer; both hand the record up.
    void RunTextTask(CSipRecord& request);
    void RunRawSelTask(CSipRecord& request);
    CTextCaches& TextCaches() { return m_textCaches; }
    uint32_t EntriesPerPage() const { return m_dwEntriesPerPage; }
    // How long a log request waits for its cabinet's cache (120 s; tests shorten it).
    uint32_t CacheWaitMs() const { return m_dwCacheWaitMs.load(std::memory_order_relaxed); }
    void SetCacheWaitMs(uint32_t ms) { m_dwCacheWaitMs.store(ms, std::memory_order_relaxed); }

    // How long a lookup in a lower module may take: CSS flag, designation string, message text.
    static constexpr uint32_t kLookupTimeoutMs = 10000;

    static constexpr const char16_t* kModuleName = u"EM_TARNEL";
    static constexpr const char16_t* kDescription = u"OID mapper extension module";

private:
    COidMapTable m_oidMap;
    CScanCaches m_scanCaches;
    CMsgLogCache m_msgLogCache;
    // Guards what DetectCabinets and Start learn while host threads read it.
    platform::CriticalSection m_csState;
    std::map<uint16_t, uint16_t> m_languages EM_GUARDED_BY(m_csState);
    std::u16string m_strHelpDesk EM_GUARDED_BY(m_csState);
    uint32_t m_dwEntriesPerPage = 2000;
    std::atomic<uint32_t> m_bOidMappingNeeded{0};
    std::atomic<uint32_t> m_bUnifiedSel{0};
    std::atomic<uint32_t> m_bMsgLogAvailable{0};
    // Message texts fetched from the lower modules; each cache carries its own lock.
    CTextCaches m_textCaches;
    std::atomic<uint32_t> m_dwCacheWaitMs{120000};
    // Scans in the task queue, and the cabinets whose scan the full queue refused: they are queued
    // again one at a time, each once no other scan is queued, so text tasks keep their room.
    platform::CriticalSection m_csScans;
    uint32_t m_nScansQueued EM_GUARDED_BY(m_csScans) = 0;
    std::deque<uint32_t> m_scanBacklog EM_GUARDED_BY(m_csScans);
};

}  // namespace em
