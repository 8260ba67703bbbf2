// The task dispatch, the message log scan of a cabinet and the fill that turns log replies into
// cache entries.
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "diag/debug.h"
#include "module/opcodes.h"
#include "module/tarnel_module.h"
#include "msglog/log_merge.h"
#include "msglog/log_scan_records.h"

namespace em {

namespace {

constexpr uint32_t kLogReadTimeoutMs = 150000;
constexpr uint32_t kCriticalErrorLog = 0;       // CMOID_CriticalErrorLog
constexpr uint32_t kNonCriticalMessageLog = 1;  // CMOID_NonCriticalMessageLog

using EntryList = std::vector<std::unique_ptr<CMsgLogEntry>>;

uint32_t StatusOf(const CSipRecord& r, int32_t n) { return r.GetCommandValue(n, key::ST, status::kPending); }

// The texts of one log's requests; the event log's omit the status.
struct LogTexts {
    uint32_t object;
    const char16_t* heading;
    const char16_t* request;
    const char16_t* completed;
    const char16_t* data;
    const char16_t* no_data;
    const char16_t* timeout;
    const char16_t* not_supported;
    bool with_status;
};

constexpr LogTexts kErrorLog = {
    kCriticalErrorLog,
    u"\nEM_TARNEL           : Request error log messages from all modules:",
    u"\nEM_TARNEL           : MID 0x%08X: Request message log using CM_LogEntry (CMOID_CriticalErrorLog)...",
    u"\nEM_TARNEL           : ... MID 0x%08X: Request completed",
    u"\nEM_TARNEL           : MID 0x%08X: CM_LogEntry (CMOID_CriticalErrorLog) - %d data bytes",
    u"\nEM_TARNEL           : MID 0x%08X: CM_LogEntry (CMOID_CriticalErrorLog) - no data (Status: 0x%X)",
    u"\nEM_TARNEL           : MID 0x%08X: ## CM_LogEntry (CMOID_CriticalErrorLog) - TIMEOUT!! ##",
    u"\nEM_TARNEL           : MID 0x%08X: CM_LogEntry (CMOID_CriticalErrorLog) - not supported (Status: 0x%X)",
    true,
};

constexpr LogTexts kEventLog = {
    kNonCriticalMessageLog,
    u"\nEM_TARNEL           : Request event log messages from all modules:",
    u"\nEM_TARNEL           : MID 0x%08X: Request message log using CM_LogEntry (CMOID_NonCriticalMessageLog)...",
    u"\nEM_TARNEL           : ... MID 0x%08X: Request completed",
    u"\nEM_TARNEL           : MID 0x%08X: CM_LogEntry (CMOID_NonCriticalMessageLog) - %d data bytes",
    u"\nEM_TARNEL           : MID 0x%08X: CM_LogEntry (CMOID_NonCriticalMessageLog) - no data",
    u"\nEM_TARNEL           : MID 0x%08X: ## CM_LogEntry (CMOID_NonCriticalMessageLog) - TIMEOUT!! ##",
    u"\nEM_TARNEL           : MID 0x%08X: CM_LogEntry (CMOID_NonCriticalMessageLog) - not supported",
    false,
};

// Reads one log of every old-style module into a collection record and fills the cache with it.
void ReadOldStyleLog(CTarnelModule& m, uint32_t cabinet, const std::vector<uint32_t>& modules, const LogTexts& t) {
    EM_TRACE(2, t.heading);
    CSipRecord collection;
    for (uint32_t mi : modules) {
        CSipRecord work(opcode::kLogEntry, 0, t.object, cabinet, kNoStatus);
        work.SetModuleId(mi);
        EM_TRACE(2, t.request, mi);
        m.PassDown(work, kLogReadTimeoutMs);
        EM_TRACE(2, t.completed, mi);
        const uint32_t st = StatusOf(work, 0);
        if (IsFinalStatus(st)) {
            m.SetMsgLogAvailable();
            if (work.CommandCount() > 0 && work.HasData(0, 0, true)) {
                EM_TRACE(2, t.data, mi, static_cast<uint32_t>(work.GetDataLength(0)));
                work.FirstCommand();
                m.PatchLogEntryOids(work);
                collection.MoveCommandFrom(work, 0);
            } else if (t.with_status) {
                EM_TRACE(2, t.no_data, mi, st);
            } else {
                EM_TRACE(2, t.no_data, mi);
            }
        } else if (st == status::kTimeout) {
            EM_TRACE(1, t.timeout, mi);
        } else if (t.with_status) {
            EM_TRACE(2, t.not_supported, mi, st);
        } else {
            EM_TRACE(2, t.not_supported, mi);
        }
    }
    if (collection.CountAnsweredCommands() != 0) m.FillCache(collection);
}

// Sends a lookup request for the object of an old-style entry; true with a final status.
bool AskLowerModule(CTarnelModule& m, CSipRecord& request) {
    m.TranslateOids(request);
    m.PassDown(request, CTarnelModule::kLookupTimeoutMs);
    return IsFinalStatus(StatusOf(request, 0));
}

uint32_t LookUpCss(CTarnelModule& m, const OldStyleKey& k, const std::u16string& key) {
    const uint32_t opcode = CssRequestOpcode(k.group);
    uint32_t flag = 0;
    if (opcode != 0 && !m.ScanCaches().FindCss(key, flag)) {
        EM_TRACE(4, u"\nEM_TARNEL           :     Request CSS support CAB %d OC 0x%04X OID 0x%04X", k.cabinet, opcode,
                 k.oid);
        CSipRecord request(opcode, 0, k.oid, k.cabinet, status::kPending);
        if (AskLowerModule(m, request)) {
            uint32_t value = 0;
            request.GetDataUInt(0, value);
            flag = (value & 0xFF) != 0 ? kCssFlag : 0;
            m.ScanCaches().StoreCss(key, flag);
        }
    }
    EM_TRACE(3, u"\nEM_TARNEL           :     CSS: %s", flag ? u"yes" : u"no");
    return flag;
}

std::u16string LookUpDesignation(CTarnelModule& m, const OldStyleKey& k, const std::u16string& key) {
    const uint32_t opcode = DesignationOpcode(k.group, k.low);
    std::u16string text;
    if (opcode == kNoRequestOpcode) return text;
    if (!m.ScanCaches().FindDesignation(key, text)) {
        EM_TRACE(4, u"\nEM_TARNEL           :     Request designation string CAB %d OC 0x%04X OID 0x%04X", k.cabinet,
                 opcode, k.oid);
        CSipRecord request(opcode, 0, k.oid, k.cabinet, status::kPending);
        if (AskLowerModule(m, request)) {
            if (!request.GetDataString(0, text, 0)) text.clear();
            m.ScanCaches().StoreDesignation(key, text);
        }
    }
    EM_TRACE(3, u"\nEM_TARNEL           :     Designation string: \"%s\"", text);
    return text;
}

// Parses the old-style entries of one reply; an entry cut off by the end of the data ends it.
void ParseOldStyle(CTarnelModule& m, std::span<const uint8_t> data, uint32_t module_id, EntryList& out) {
    size_t offset = 0;
    while (offset < data.size()) {
        const size_t length = OldStyleEntryAt(data, offset);
        if (length == 0) {
            EM_TRACE(1, u"\nEM_TARNEL           : WARNING! MID 0x%08X: log entry cut off at offset %d (%d bytes left)",
                     module_id, static_cast<uint32_t>(offset), static_cast<uint32_t>(data.size() - offset));
            break;
        }
        const uint8_t* p = data.data() + offset;
        const OldStyleKey k = OldStyleKeyOf(p);
        EM_TRACE(3, u"\nEM_TARNEL           : Add message log entry 0x%02X%02X OID %d", k.group, k.low, k.oid);
        const std::u16string key = ObjectKey(k);
        auto entry = std::make_unique<CMsgLogEntry>();
        FillOldStyleEntry(p, length, module_id, *entry);
        entry->flags = LookUpCss(m, k, key);
        std::u16string designation = LookUpDesignation(m, k, key);
        if (!designation.empty()) entry->stringArgs.emplace(0u, std::move(designation));
        out.push_back(std::move(entry));
        offset += length;
    }
}

// Parses the unified records of one reply. A record whose length cannot be trusted ends it; a
// record whose strings run past its length is skipped.
void ParseUnified(std::span<const uint8_t> data, uint32_t module_id, EntryList& out) {
    size_t offset = 0;
    while (offset < data.size()) {
        auto entry = std::make_unique<CMsgLogEntry>();
        const UnifiedRead r = ReadUnifiedRecord(data, offset, *entry);
        if (r.length == 0) {
            EM_TRACE(1, u"\nEM_TARNEL           : WARNING! MID 0x%08X: bad log record length at offset %d (%d bytes left)",
                     module_id, static_cast<uint32_t>(offset), static_cast<uint32_t>(data.size() - offset));
            break;
        }
        if (r.sound) {
            EM_TRACE(3, u"\nEM_TARNEL           :  Add message log entry 0x%06X (CSS: %s)", entry->errorCode,
                     (entry->flags & kCssFlag) ? u"yes" : u"no");
            entry->moduleId = module_id;
            out.push_back(std::move(entry));
        } else {
            EM_TRACE(1, u"\nEM_TARNEL           : WARNING! MID 0x%08X: log record 0x%06X at offset %d skipped: its strings "
                        u"run past its %d bytes",
                     module_id, entry->errorCode, static_cast<uint32_t>(offset), static_cast<uint32_t>(r.length));
        }
        offset += r.length;
    }
}

}  // namespace

void CTarnelModule::OnTaskExecution(CSipRecord& request, int /*level*/) {
    const uint32_t ca = request.Value(key::CA), oc = request.Value(key::OC);
    EM_TRACE(2, u"\nEM_TARNEL (OnTaskX) : OnTaskExecution: CABID %04d OC 0x%04X-0x%04X OID 0x%04X", ca, oc,
             request.Value(key::OE), request.Value(key::OI));
    switch (oc) {
        case opcode::kLogMessageArgumentsRead:
            RunLogScan(ca);
            break;
        case opcode::kLogMessageRaw:
            RunRawSelTask(request);
            break;
        case opcode::kResolutions:  // message texts that missed the text caches
        case opcode::kCauses:
        case opcode::kLongText:
        case opcode::kSummary:
        case opcode::kCauseParagraph:
        case opcode::kResolutionParagraph:
            RunTextTask(request);
            break;
        default:
            break;
    }
    const uint32_t mi = request.Value(key::MI);
    EM_TRACE(2, u"\nEM_TARNEL (OnTaskX) : CABID %04d: OC 0x%04X-0x%04X OID 0x%04X MID 0x%04X%04X Stat 0x%02X Len %d",
             request.Value(key::CA), request.Value(key::OC), request.Value(key::OE), request.Value(key::OI),
             mi >> 16, mi & 0xFFFF, request.Value(key::ST), static_cast<uint32_t>(request.GetDataLength(request.Cur())));
}

void CTarnelModule::RunLogScan(uint32_t cabinet) {
    m_msgLogCache.SetCacheReady(cabinet, false);
    try {
        EM_TRACE(4, u"\nEM_TARNEL           : Request message log using CM_LogMessageArgumentsRead broadcast...");
        CSipRecord work(opcode::kLogMessageArgumentsRead, 0, 0, cabinet, kNoStatus);
        Broadcast(work, kLogReadTimeoutMs);
        EM_TRACE(4, u"\nEM_TARNEL           : ... broadcast completed");

        std::vector<uint32_t> old_style;
        const uint32_t replies = work.CommandCount();
        for (uint32_t i = 0; i < replies; ++i) {
            const int32_t n = static_cast<int32_t>(i);
            const uint32_t mi = work.GetCommandValue(n, key::MI, 0);
            if (IsFinalStatus(StatusOf(work, n))) {
                EM_TRACE(2, u"\nEM_TARNEL           : MID 0x%08X: CM_LogMessageArgumentsRead supported", mi);
                SetMsgLogAvailable();
            } else {
                EM_TRACE(2, u"\nEM_TARNEL           : MID 0x%08X: CM_LogMessageArgumentsRead not supported", mi);
                old_style.push_back(mi);
            }
        }
        if (work.CountAnsweredCommands() != 0) FillCache(work);

        ReadOldStyleLog(*this, cabinet, old_style, kErrorLog);
        ReadOldStyleLog(*this, cabinet, old_style, kEventLog);
    } catch (...) {
        EM_TRACE(1, u"\nEM_TARNEL           : EXCEPTION during message log scan");
    }
    if (!m_msgLogCache.SetCacheReady(cabinet, true))
        EM_TRACE(1, u"\nEM_TARNEL           : ERROR! FAILED to set \"Cache Ready\" event for cabinet number %d", cabinet);
}

uint32_t CTarnelModule::FillCache(CSipRecord& record) {
    if (!record.FirstCommand()) return 0;
    CCabinetLogCache* cabinet = m_msgLogCache.GetCabinet(record.GetCommandValue(0, key::CA, 0));
    if (!cabinet) return 0;

    const uint32_t oc = record.GetCommandValue(0, key::OC, 0);
    const size_t min_size = oc == opcode::kLogEntry ? kOldStyleMinSize : kUnifiedMinSize;
    EntryList merged;
    if (oc == opcode::kLogEntry || oc == opcode::kLogMessageArgumentsRead) {
        EntryList source;
        std::vector<uint8_t> bytes;
        const uint32_t count = record.CommandCount();
        for (uint32_t i = 0; i < count; ++i) {
            const int32_t n = static_cast<int32_t>(i);
            if (!IsFinalStatus(StatusOf(record, n)) || !record.HasData(n, min_size, true)) continue;
            // A number or an empty array passes the length test; count the bytes themselves.
            if (!record.GetDataBytes(n, bytes) || bytes.size() < min_size) continue;
            source.clear();
            const uint32_t mi = record.GetCommandValue(n, key::MI, 0);
            if (oc == opcode::kLogEntry) ParseOldStyle(*this, bytes, mi, source);
            else ParseUnified(bytes, mi, source);
            EM_TRACE(4, u"\nEM_TARNEL           :     %d message log entries in source table",
                     static_cast<uint32_t>(source.size()));
            merged = MergeByTime(std::move(merged), std::move(source),
                                 [](const std::unique_ptr<CMsgLogEntry>& e) { return e->timestamp; });
            EM_TRACE(4, u"\nEM_TARNEL           :     %d message log entries were left after table merge",
                     static_cast<uint32_t>(merged.size()));
        }
    }
    return m_msgLogCache.StoreEntries(cabinet, merged);
}

}  // namespace em
