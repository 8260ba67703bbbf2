// Start, cabinet discovery and the count pass that fills the OID map table.
#include <algorithm>
#include <vector>

#include "diag/debug.h"
#include "module/byte_order.h"
#include "module/opcodes.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"

namespace em {

namespace {
constexpr uint32_t kRequestTimeout = 10000;
constexpr const char16_t* kSeparator =
    u"\n------------------------------------------------------------------------------------------\n";
}  // namespace

uint32_t CTarnelModule::Start(IExtensionHost* host, uint32_t module_id) {
    EM_TRACE(2, kSeparator);
    EM_TRACE(2, u"\nEM_TARNEL           : ## Start");
    Attach(host, module_id);
    StartSerialization();
    m_bOidMappingNeeded.store(0, std::memory_order_release);
    const uint32_t server = ServerCabinetNumber();
    EM_TRACE(2, u"\nEM_TARNEL           : ## Server's cabinet number = %d", server);

    CabinetList list;
    BuildCabinetList(list);
    if (!StopRequested()) {
        for (uint32_t i = 0; i < list.count; ++i) {
            uint32_t cabinet = list.cabinets[i];
            EM_TRACE(2, u"\n                    :      Check OID mapping for cabinet %d", cabinet);
            if (!StopRequested()) BuildCabinetMapping(cabinet);
            if (!m_msgLogCache.InitCabinet(cabinet))
                EM_TRACE(1, u"\nEM_TARNEL           : ERROR! FAILED to initialize message log cache for cabinet number %d",
                         cabinet);
            if (StopRequested()) break;
        }
    }
    EM_TRACE(2, u"\nEM_TARNEL           : OID mapping %sneeded!", OidMappingNeeded() ? u"" : u"NOT ");

    CSipRecord helpDesk(0xE001, 0x0211, 0, server, kNoStatus);
    PassDown(helpDesk, kRequestTimeout);
    std::u16string text;
    if (helpDesk.HasAnswer(0, true) && helpDesk.GetDataString(helpDesk.Cur(), text, 0) && !text.empty()) {
        {
            platform::CsLock g(m_csState);
            m_strHelpDesk = text;
        }
        EM_TRACE(2, u"\nEM_TARNEL           : SEL resolution help desk message: \"%s\" (from config space)", text);
    }

    if (m_pHost) m_pHost->StartCompleted(this, 0);
    EM_TRACE(2, u"\nEM_TARNEL           : ## Start completed! ##");
    EM_TRACE(2, kSeparator);
    return 1;
}

void CTarnelModule::BuildCabinetList(CabinetList& list) {
    list.cabinets[0] = ServerCabinetNumber();
    list.count = 1;
    uint32_t* se = nullptr;
    uint8_t count = 0;
    if (!m_pHost || m_pHost->GetSECabinets(&se, &count) == 0) {
        EM_TRACE(3, u"\nEM_TARNEL           : No SE cabinets found");
        return;
    }
    EM_TRACE(2, u"\nEM_TARNEL           : %d SE cabinet(s) detected...", count);
    for (uint32_t i = 0; i < count && se; ++i) {
        if (list.count >= kMaxCabinets) {
            EM_TRACE(1, u"\n\nEM_TARNEL           : ## ERROR: cabinet list overflow; rest ignored!!\n");
            break;
        }
        // A cabinet the host names twice (or the server's own among the SE cabinets) is one
        // cabinet: counting it twice would count its objects twice.
        if (std::find(list.cabinets, list.cabinets + list.count, se[i]) != list.cabinets + list.count) {
            EM_TRACE(1, u"\nEM_TARNEL           : ## WARNING: cabinet %d reported twice; taken once", se[i]);
            continue;
        }
        EM_TRACE(2, u"\nEM_TARNEL           :       add cabinet %d", se[i]);
        list.cabinets[list.count++] = se[i];
    }
}

void CTarnelModule::BuildCabinetMapping(uint32_t cabinet) {
    std::vector<uint32_t> requested;  // count keys: opcode << 16 | extension
    CSipRecord scratch;
    for (const MappingRule& row : MappingRules) {
        if (row.countOpcode == 0 || row.kind == 0xFFFFFFFF) break;
        uint32_t key = (row.countOpcode << 16) + row.countOpcodeExt;
        bool asked = false;
        for (uint32_t k : requested) asked |= k == key;
        if (asked) {
            EM_TRACE(3, u"\nEM_TARNEL           : Mapping for opcode 0x%04X-0x%04X was already requested", row.countOpcode,
                     row.countOpcodeExt);
        } else {
            requested.push_back(key);
            scratch.ClearCommands();
            scratch.SetCommandAddress(scratch.CurrentCommand(), row.countOpcode, row.countOpcodeExt, 0, cabinet, kNoStatus);
            EM_TRACE(2, u"\nEM_TARNEL           : Checking mapping for opcode 0x%04X", row.countOpcode);
            Broadcast(scratch, kRequestTimeout);

            uint32_t mapCount = 0, validReplies = 0;
            if (scratch.FirstCommand()) {
                do {
                    uint32_t st = scratch.Value(key::ST);
                    EM_TRACE(2, u"\nEM_TARNEL           : Got SIP status 0x%02X - len %d", st,
                             scratch.GetDataLength(scratch.Cur()));
                    if (!IsFinalStatus(st)) continue;
                    ++validReplies;
                    uint32_t n = 0;
                    scratch.GetDataUInt(scratch.Cur(), n);
                    n &= 0xFF;
                    for (uint32_t i = 0; i < n; ++i) m_oidMap.AddInstanceMapping(scratch, i);
                    if (n > 0)
                        EM_TRACE(3, u"\nEM_TARNEL           : Add map table entry %d for opcode 0x%04X-0x%04X", mapCount,
                                 row.countOpcode, row.countOpcodeExt);
                    EM_TRACE(2, u"\nEM_TARNEL           : Increment map count (%d->%d) for opcode 0x%04X-0x%04X", mapCount,
                             mapCount + 1, row.countOpcode, row.countOpcodeExt);
                    ++mapCount;
                } while (scratch.NextCommand());
            }
            EM_TRACE(3, u"\nEM_TARNEL           : %d valid replies received for count opcode 0x%04X-0x%04X", validReplies,
                     row.countOpcode, row.countOpcodeExt);
            scratch.FirstCommand();
            if (mapCount > 1) {
                m_bOidMappingNeeded.store(1, std::memory_order_release);
                EM_TRACE(2, u"\nEM_TARNEL           : Mapping for OC 0x%04X required!", row.countOpcode);
            }
        }
        if (StopRequested()) break;
    }
}

void CTarnelModule::DetectCabinets() {
    const uint32_t server = ServerCabinetNumber();
    CSipRecord rec(opcode::kUnifiedSel, 0, 0, server, kNoStatus);
    PassDown(rec, kRequestTimeout);
    uint32_t unified = 0;
    rec.GetDataUInt(rec.Cur(), unified);
    m_bUnifiedSel.store((unified & 0xFF) == 1 ? 1 : 0, std::memory_order_relaxed);

    CabinetList list;
    BuildCabinetList(list);

    rec.ClearCommands();
    rec.SetCommandAddress(rec.CurrentCommand(), opcode::kSupportedLanguages, 0, 0, server, kNoStatus);
    PassDown(rec, kRequestTimeout);
    std::vector<uint8_t> bytes;
    if (rec.HasAnswer(0, true) && rec.GetDataBytes(rec.Cur(), bytes)) {
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            uint16_t lang = LoadLe16(&bytes[i]);
            EM_TRACE(3, u"\nEM_TARNEL           : Supported SEL language: LangId 0x%X", lang);
            platform::CsLock g(m_csState);
            m_languages.emplace(lang, lang);
        }
    }

    if (StopRequested()) return;
    // The queue holds 19 tasks. Once it refuses a scan, that cabinet and every later one wait in
    // the backlog, so that the scans still run in cabinet order; OnTaskDone queues them as room
    // frees up. The lock keeps the worker's count of queued scans in step with the inserts.
    platform::CsLock g(m_csScans);
    uint32_t waiting = 0;
    for (uint32_t i = 0; i < list.count; ++i) {
        const uint32_t cabinet = list.cabinets[i];
        if (std::find(m_scanBacklog.begin(), m_scanBacklog.end(), cabinet) != m_scanBacklog.end()) continue;
        CSipRecord scan(opcode::kLogMessageArgumentsRead, 0, 0, cabinet, kNoStatus);
        if (m_scanBacklog.empty() && InsertTask(scan, 0, nullptr)) {
            ++m_nScansQueued;
        } else {
            m_scanBacklog.push_back(cabinet);
            ++waiting;
        }
        if (StopRequested()) break;
    }
    if (waiting != 0)
        EM_TRACE(2, u"\nEM_TARNEL           : %d cabinet scan(s) wait for room in the task queue", waiting);
}

void CTarnelModule::OnTaskDone(const CSipRecord& request, int /*level*/) {
    platform::CsLock g(m_csScans);
    if (request.Value(key::OC) == opcode::kLogMessageArgumentsRead && m_nScansQueued != 0) --m_nScansQueued;
    // One waiting scan at a time, and only when no other scan is queued: the rest of the queue
    // stays free for message texts and raw SEL requests.
    if (m_scanBacklog.empty() || m_nScansQueued != 0 || StopRequested() || !QueueHasRoom(0)) return;
    const uint32_t cabinet = m_scanBacklog.front();
    CSipRecord scan(opcode::kLogMessageArgumentsRead, 0, 0, cabinet, kNoStatus);
    if (!InsertTask(scan, 0, nullptr)) return;  // taken by a host thread first: the next task retries
    m_scanBacklog.pop_front();
    ++m_nScansQueued;
    EM_TRACE(2, u"\nEM_TARNEL           : Scan of cabinet %d queued (%d cabinet scan(s) still waiting)", cabinet,
             static_cast<uint32_t>(m_scanBacklog.size()));
}

std::deque<uint32_t> CTarnelModule::ScanBacklog() {
    platform::CsLock g(m_csScans);
    return m_scanBacklog;
}

bool CTarnelModule::IsLanguageSupported(uint32_t language) {
    uint16_t id = static_cast<uint16_t>(language);
    if (id == 0 || id == 0xFFFF) return true;
    platform::CsLock g(m_csState);
    return m_languages.count(id) != 0;
}

std::u16string CTarnelModule::HelpDeskMessage() {
    platform::CsLock g(m_csState);
    return m_strHelpDesk;
}

}  // namespace em
