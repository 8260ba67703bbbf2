// Start and cabinet discovery against simulated lower modules.
#include <gtest/gtest.h>

#include <mutex>

#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "tests/support/scenario_util.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

using host::Scenario;
using host::SubstituteHost;

Scenario Parse(const std::string& json) { return test::ParseScenarioOrFail(json); }

// Records the tasks the worker runs instead of scanning.
class ProbeModule : public CTarnelModule {
public:
    ~ProbeModule() override { EndSerialization(); }
    void OnTaskExecution(CSipRecord& request, int) override {
        std::lock_guard<std::mutex> g(m);
        tasks.push_back({request.Value(key::OC), request.Value(key::CA)});
    }
    std::vector<std::pair<uint32_t, uint32_t>> Tasks() {
        std::lock_guard<std::mutex> g(m);
        return tasks;
    }
    std::mutex m;
    std::vector<std::pair<uint32_t, uint32_t>> tasks;
};

const char* kTwoModules = R"({"modules":[
    {"id":"0x10001","answers":[{"oc":"0x0300","da":2},{"oc":"0x0400","da":1},
                               {"oc":"0xE001","oe":"0x0211","da":"Call 555-0100"},
                               {"oc":"0x0B18","da":257},{"oc":"0x0B20","da":{"raw":[9,4,7,4,1]}}]},
    {"id":"0x20001","answers":[{"oc":"0x0300","da":3}]}]})";

TEST(CabinetStart, CountPassNumbersObjectsAcrossModules) {
    test::TraceCapture trace(3);
    SubstituteHost host(Parse(kTwoModules));
    ProbeModule m;
    ASSERT_EQ(m.Start(&host, 0x00FE0001), 1u);
    EXPECT_TRUE(m.OidMappingNeeded());
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Mapping for OC 0x0300 required!"));
    EXPECT_FALSE(trace.Contains("Mapping for OC 0x0400 required!"));  // one module only
    EXPECT_EQ(trace.Count("Mapping for opcode 0x0300-0x0000 was already requested"), 9u);  // rows 2-7, 34, 35, 39
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Increment map count (1->2) for opcode 0x0300-0x0000"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : OID mapping needed!"));
    EXPECT_TRUE(trace.Contains("SEL resolution help desk message: \"Call 555-0100\" (from config space)"));
    EXPECT_EQ(m.HelpDeskMessage(), u"Call 555-0100");

    CSipRecord req(0x0302, 0, 3, 0, kNoStatus);
    EXPECT_TRUE(m.TranslateOids(req));
    EXPECT_EQ(req.Value(key::MI), 0x20001u);
    EXPECT_EQ(req.Value(key::OI), 1u);
    CSipRecord count(0x0300, 0, 0, 0, kNoStatus);
    EXPECT_TRUE(m.TranslateOids(count));
    uint32_t total = 0;
    EXPECT_TRUE(count.GetDataUInt(0, total));
    EXPECT_EQ(total, 5u);
    ASSERT_EQ(host.Events().back().kind, host::HostEvent::Kind::StartCompleted);
    m.Stop();
}

TEST(CabinetStart, OneModulePerKindNeedsNoMapping) {
    SubstituteHost host(Parse(R"({"modules":[{"id":1,"answers":[{"oc":"0x0300","da":4}]},{"id":2}]})"));
    CTarnelModule m;
    m.Start(&host, 1);
    EXPECT_FALSE(m.OidMappingNeeded());
    CSipRecord count(0x0300, 0, 0, 0, kNoStatus);
    EXPECT_FALSE(m.TranslateOids(count));
    m.Stop();
}

TEST(CabinetStart, NoHostStillCompletes) {
    test::TraceCapture trace(2);
    CTarnelModule m;
    EXPECT_EQ(m.Start(nullptr, 0), 1u);
    EXPECT_FALSE(m.OidMappingNeeded());
    EXPECT_TRUE(m.HelpDeskMessage().empty());
    EXPECT_TRUE(trace.Contains("OID mapping NOT needed!"));
    EXPECT_TRUE(trace.Contains("## Start completed! ##"));
    m.DetectCabinets();
    EXPECT_FALSE(m.UnifiedSel());
    m.Stop();
}

std::string WithSeCabinets(int n) {
    std::string list;
    for (int i = 1; i <= n; ++i) list += (i > 1 ? "," : "") + std::to_string(i);
    return R"({"se_cabinets":[)" + list + R"(],"modules":[{"id":1}]})";
}

TEST(CabinetStart, CabinetListHoldsAtMostNinetyNineSeCabinets) {
    for (int n : {99, 100}) {
        test::TraceCapture trace(3);
        SubstituteHost host(Parse(WithSeCabinets(n)));
        CTarnelModule m;
        m.Attach(&host, 1);
        CabinetList list;
        m.BuildCabinetList(list);
        EXPECT_EQ(list.count, 100u);
        EXPECT_EQ(list.cabinets[99], 99u);
        EXPECT_EQ(trace.Count("cabinet list overflow; rest ignored!!"), n == 100 ? 1u : 0u);
    }
}

// A host that says it knows SE cabinets but gives none.
struct EmptySeHost : SubstituteHost {
    using SubstituteHost::SubstituteHost;
    uint32_t GetSECabinets(uint32_t** c, uint8_t* n) override {
        *c = nullptr;
        *n = 0;
        return 1;
    }
};

TEST(CabinetStart, NonZeroAnswerWithNoCabinets) {
    test::TraceCapture trace(3);
    EmptySeHost host(Parse(R"({"modules":[{"id":1}]})"));
    CTarnelModule m;
    m.Attach(&host, 1);
    CabinetList list;
    m.BuildCabinetList(list);
    EXPECT_EQ(list.count, 1u);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : 0 SE cabinet(s) detected..."));
    EXPECT_FALSE(trace.Contains("No SE cabinets found"));
}

TEST(CabinetStart, StopFlagBeforeStartSkipsCountPassButNotTheRest) {
    test::TraceCapture trace(2);
    SubstituteHost host(Parse(kTwoModules));
    CTarnelModule m;
    m.Notify(2, 0, 0);
    m.Start(&host, 1);
    EXPECT_FALSE(trace.Contains("Check OID mapping for cabinet"));
    EXPECT_FALSE(trace.Contains("Init message log cache cabinet"));
    EXPECT_EQ(m.MsgLogCache().CabinetCount(), 0u);
    EXPECT_TRUE(trace.Contains("OID mapping NOT needed!"));
    EXPECT_EQ(m.HelpDeskMessage(), u"Call 555-0100");  // the help-desk request still went down
    m.Stop();
}

TEST(CabinetDetect, UnifiedFlagLanguagesAndOneScanPerCabinet) {
    test::TraceCapture trace(3);
    Scenario s = Parse(kTwoModules);
    s.se_cabinets = {4, 7};
    SubstituteHost host(s);
    ProbeModule m;
    m.Start(&host, 1);
    EXPECT_FALSE(m.IsLanguageSupported(0x0409));
    EXPECT_TRUE(m.IsLanguageSupported(0xFFFF));
    m.DetectCabinets();
    EXPECT_TRUE(m.UnifiedSel());  // 257: low byte 1
    EXPECT_TRUE(m.IsLanguageSupported(0x0409));
    EXPECT_TRUE(m.IsLanguageSupported(0x0407));
    EXPECT_FALSE(m.IsLanguageSupported(0x040C));
    EXPECT_TRUE(m.IsLanguageSupported(0));
    EXPECT_EQ(trace.Count("Supported SEL language: LangId 0x"), 2u);  // odd last byte ignored
    for (int i = 0; i < 500 && m.Tasks().size() < 3; ++i) platform::Sleep(2);
    m.Stop();
    auto tasks = m.Tasks();
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0], std::make_pair(0x0B16u, 0u));
    EXPECT_EQ(tasks[1], std::make_pair(0x0B16u, 4u));
    EXPECT_EQ(tasks[2], std::make_pair(0x0B16u, 7u));
}

TEST(CabinetDetect, UnifiedFlagIsTheLowByteOnly) {
    SubstituteHost host(Parse(R"({"modules":[{"id":1,"answers":[{"oc":"0x0B18","da":2},
                                     {"oc":"0x0B20","da":{"raw":[9]}}]}]})"));
    CTarnelModule m;
    m.Attach(&host, 1);
    m.DetectCabinets();
    EXPECT_FALSE(m.UnifiedSel());
    EXPECT_FALSE(m.IsLanguageSupported(9));
}

}  // namespace
}  // namespace em
