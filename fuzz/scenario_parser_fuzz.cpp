// libFuzzer target: a scenario file of the substitute host from arbitrary text. A scenario that
// parses is then used as emhost uses it: its request lines are read, its log entries encoded, its
// lower modules asked every kind of request and its events applied.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "host/lib/request_line.h"
#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"

namespace {

using namespace em;
using namespace em::host;

void Ask(LowerModules& lower, uint32_t oc, uint32_t oe, uint32_t oi, uint32_t ca, bool all, uint32_t da) {
    CSipRecord r(oc, oe, oi, ca, kNoStatus);
    if (all) r.SetModuleId(0xFFFF, 0xFFFF);
    if (da) r.SetDataUInt(r.CurrentCommand(), da);
    try {
        lower.Respond(r, 0);  // no time-out wait: a slow answer is cut at once
    } catch (const std::exception&) {
        // a module the scenario makes fail inside SendRequest
    }
    (void)DescribeRecord(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Scenario s;
    std::string error;
    if (!ParseScenario(std::string(reinterpret_cast<const char*>(data), size), s, error)) return 0;
    for (const std::string& line : s.requests) {
        CSipRecord r;
        if (ParseRequestLine(line, r, error)) (void)DescribeRecord(r);
    }
    LowerModules lower(s);
    for (size_t i = 0; i < s.modules.size() && i < 8; ++i) {
        const LowerModule& m = s.modules[i];
        for (const OldStyleEntry& e : m.error_log) (void)EncodeOldStyle(e);
        for (const UnifiedEntry& e : m.unified) (void)EncodeUnified(e);
        const uint32_t ca = m.cabinet;
        for (const KnownKind& k : KnownObjectKinds()) {
            Ask(lower, k.count_opcode, k.count_ext, 0, ca, true, 0);
            for (uint32_t t : k.targets) Ask(lower, t, 0, 1, ca, false, 0);
        }
        for (uint32_t oc : {0x0B00u, 0x0B16u, 0x0B18u, 0x0B20u, 0xE001u, 0x0310u, 0xE002u})
            for (uint32_t oi : {0u, 1u}) Ask(lower, oc, 0x31, oi, ca, oi == 1, 0);
        for (const auto& [code, langs] : m.texts)
            for (uint32_t oc : {0x0B17u, 0x0B1Au, 0x0B21u, 0x0B23u}) Ask(lower, oc, 0x407, 0, ca, false, code);
        for (const auto& [id, bytes] : m.ipmi_sel) Ask(lower, 0xF048, 0, 0, ca, false, id);
        for (const auto& [id, bytes] : m.smbios_sel) Ask(lower, 0x0B19, 0, 0, ca, false, id);
        Ask(lower, 0x0B03, 0, 0, ca, false, 0);
    }
    for (size_t i = 0; i < s.events.size() && i < 16; ++i) {
        CSipRecord out;
        lower.Apply(s.events[i], out);
        (void)DescribeRecord(out);
        (void)RecordToJson(out);
    }
    return 0;
}
