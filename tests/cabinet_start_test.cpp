// Start and cabinet discovery against simulated lower modules: count pass, texts, flags, first scans.
#include <gtest/gtest.h>

#include <mutex>

#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "tests/support/down_host.h"
#include "tests/support/scenario_util.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

using test::DownHost;

host::Scenario Parse(const std::string& json) { return test::ParseScenarioOrFail(json); }

// Records the tasks the worker runs instead of scanning; done is set once `expected` have run.
class ProbeModule : public CTarnelModule {
public:
    ~ProbeModule() override { EndSerialization(); }
    void OnTaskExecution(CSipRecord& request, int) override {
        std::lock_guard<std::mutex> g(m);
        tasks.push_back({request.Value(key::OC), request.Value(key::CA)});
        if (tasks.size() == expected) done.Set();
    }
    std::mutex m;
    std::vector<std::pair<uint32_t, uint32_t>> tasks;
    size_t expected = 0;
    platform::Event done;
};

// A answers 0x0500 without data. B: 3 objects of 0x0300 (answered just in time), a pending answer
// to 0x0400 (not a reply), 0 objects of 0x0500 and one of 0xF041 that comes too late. The host
// names cabinet 4 twice and the server's own among the SE cabinets.
const char* kTwoModules = R"({"se_cabinets":[4,4,0,7],"modules":[
    {"id":"0x10001","answers":[{"oc":"0x0300","da":2},{"oc":"0x0400","da":1},{"oc":"0x0500"},
                               {"oc":"0x0520","da":258},{"oc":"0xE001","oe":"0x0211","da":"Call 555-0100"},
                               {"oc":"0x0B18","da":257},{"oc":"0x0B20","da":{"raw":[9,4,7,4,12,4]}}]},
    {"id":"0x20001","answers":[{"oc":"0x0300","da":3,"delay_ms":10000},{"oc":"0xF041","da":1,"delay_ms":10001},
                               {"oc":"0x0400","st":22,"da":5},{"oc":"0x0500","da":0}]}]})";

uint32_t Count(CTarnelModule& m, uint32_t oc) {
    CSipRecord count(oc, 0, 0, 0, kNoStatus);
    uint32_t n = 0xDEAD;
    if (m.TranslateOids(count)) count.GetDataUInt(0, n);
    return n;
}

TEST(CabinetStart, CountPassAsksEveryCountKeyOncePerCabinetAndNumbersTheReplies) {
    test::TraceCapture trace(3);
    DownHost host(Parse(kTwoModules));
    ProbeModule m;
    ASSERT_EQ(m.Start(&host, 0x00FE0001), 1u);
    std::vector<std::string> expected;
    for (int ca : {0, 4, 7})
        for (const char* key : {"OC=0x0300", "OC=0x0400", "OC=0x0500", "OC=0x0520", "OC=0xF041", "OC=0x0C21 OE=0x0005",
                                "OC=0x0C21 OE=0x001C"})
            expected.push_back("CA=" + std::to_string(ca) + " " + key + " MI=0xFFFFFFFF");
    expected.push_back("CA=0 OC=0xE001 OE=0x0211");
    EXPECT_EQ(host.Down(), expected);  // each cabinet counted once

    EXPECT_EQ(Count(m, 0x0300), 5u);
    EXPECT_EQ(Count(m, 0x0400), 1u);  // B's pending answer is no reply
    EXPECT_EQ(Count(m, 0x0520), 2u);  // the low byte of 258
    EXPECT_EQ(Count(m, 0xF041), 0xDEADu);
    EXPECT_EQ(Count(m, 0x0500), 0xDEADu);  // two replies, no object
    CSipRecord req(0x0302, 0, 3, 0, kNoStatus);
    EXPECT_TRUE(m.TranslateOids(req));
    EXPECT_EQ(std::pair(req.Value(key::MI), req.Value(key::OI)), std::pair(0x20001u, 1u));
    // Two replies make mapping necessary, also when they count no object.
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Mapping for OC 0x0500 required!"));
    EXPECT_TRUE(trace.Contains("Add map table entry 0 for opcode 0x0400-0x0000"));  // one object is an entry
    EXPECT_TRUE(trace.Contains("Counter OC 0x0300: Map instance id 0x0002 to to MID 0x00020001"));
    EXPECT_EQ(m.HelpDeskMessage(), u"Call 555-0100");
    EXPECT_EQ(m.MsgLogCache().CabinetCount(), 3u);
    EXPECT_TRUE(m.tasks.empty());  // scans come with DetectCabinets only

    // DetectCabinets: the unified flag (257: low byte 1), three languages of six bytes, one scan
    // per cabinet in cabinet order.
    m.expected = 3;
    m.DetectCabinets();
    ASSERT_EQ(m.done.Wait(10000), platform::WaitResult::Signalled);
    EXPECT_EQ(m.tasks, (std::vector<std::pair<uint32_t, uint32_t>>{{0x0B16, 0}, {0x0B16, 4}, {0x0B16, 7}}));
    EXPECT_EQ(host.Down({"OC=0x0B1"}), std::vector<std::string>{"CA=0 OC=0x0B18"});
    EXPECT_EQ(host.Down({"OC=0x0B2"}), std::vector<std::string>{"CA=0 OC=0x0B20"});
    EXPECT_TRUE(m.UnifiedSel());
    for (uint32_t lang : {0x0409u, 0x040Cu, 0u, 0xFFFFu, 0x10409u}) EXPECT_TRUE(m.IsLanguageSupported(lang)) << lang;
    for (uint32_t lang : {0x0704u, 0x0001u}) EXPECT_FALSE(m.IsLanguageSupported(lang)) << lang;
    m.Stop();
}

TEST(CabinetStart, WithoutTwoRepliesNothingIsMapped) {
    test::TraceCapture trace(3);
    DownHost host(Parse(R"({"modules":[{"id":1,"answers":[{"oc":"0x0300","da":4},{"oc":"0x0B18","da":2},
                                           {"oc":"0xE001","oe":"0x0211","da":""},{"oc":"0x0B20","da":{"raw":[9,4,1]}}]},
                                       {"id":2}]})"));
    CTarnelModule m;
    m.Start(&host, 1);
    EXPECT_FALSE(m.OidMappingNeeded());
    EXPECT_EQ(Count(m, 0x0300), 0xDEADu);
    m.DetectCabinets();
    EXPECT_FALSE(m.UnifiedSel());  // 2
    EXPECT_TRUE(m.IsLanguageSupported(0x0409));
    EXPECT_EQ(trace.Count("Supported SEL language: LangId 0x"), 1u);  // an odd last byte is no id
    m.Stop();
}

TEST(CabinetStart, CabinetListHoldsTheServerAndAtMostNinetyNineSeCabinets) {
    for (int n : {99, 100}) {
        test::TraceCapture trace(3);
        std::string se;
        for (int i = 1; i <= n; ++i) se += (i > 1 ? "," : "") + std::to_string(i);
        host::SubstituteHost host(Parse(R"({"se_cabinets":[)" + se + R"(],"modules":[{"id":1}]})"));
        CTarnelModule m;
        m.Attach(&host, 1);
        CabinetList list;
        m.BuildCabinetList(list);
        EXPECT_EQ(list.count, 100u);
        EXPECT_EQ(std::pair(list.cabinets[0], list.cabinets[99]), std::pair(0u, 99u));
        EXPECT_EQ(trace.Count("cabinet list overflow; rest ignored!!"), n == 100 ? 1u : 0u);
    }
}

TEST(CabinetStart, StopFlagSkipsCountPassAndScansButNotTheRest) {
    DownHost first(Parse(R"({"modules":[{"id":1,"answers":[{"oc":"0x0300","da":1}]},
                                         {"id":2,"answers":[{"oc":"0x0300","da":1}]}]})"));
    DownHost host(Parse(kTwoModules));
    ProbeModule m;
    m.Start(&first, 1);
    ASSERT_TRUE(m.OidMappingNeeded());
    m.Notify(2, 0, 0);
    m.Start(&host, 1);  // a new start clears the flag before it would count
    EXPECT_EQ(host.Down(), std::vector<std::string>{"CA=0 OC=0xE001 OE=0x0211"});
    EXPECT_EQ(m.MsgLogCache().CabinetCount(), 1u);  // from the first start
    EXPECT_FALSE(m.OidMappingNeeded());
    m.DetectCabinets();
    EXPECT_TRUE(m.UnifiedSel());  // learned all the same
    m.Stop();
    EXPECT_TRUE(m.tasks.empty());
}

}  // namespace
}  // namespace em
