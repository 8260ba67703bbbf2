// Message texts and raw SEL data fetched on the worker thread and handed up with DeliverRecord.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/tarnel_module.h"
#include "platform/sync.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

using host::HostEvent;

host::Scenario Parse(const std::string& modules) {
    host::Scenario s;
    std::string error;
    EXPECT_TRUE(host::ParseScenario(R"({"modules":[)" + modules + "]}", s, error)) << error;
    return s;
}

const char* kTexts = R"({"id":1,"answers":[{"oc":"0xE001","oe":"0x0211","da":"Desk 7"},
    {"oc":"0x0B21","da":"long text"},{"oc":"0x0B23","da":"summary"},{"oc":"0x0B1A","da":["c0","c1","c2"]},
    {"oc":"0x0B17","da":["Call %HD% now","Reboot","%HD%"]}]})";

// A started module; Ask sends a request and, when it was queued, waits for its delivery.
struct Fixture {
    explicit Fixture(const std::string& modules = kTexts) : host(Parse(modules)) { m.Start(&host, 0x00FE0001); }
    ~Fixture() { m.Stop(); }
    std::string Ask(uint32_t oc, uint32_t oi, uint32_t da) {
        const size_t before = Delivered().size();
        CSipRecord r(oc, 0x0407, oi, 0, kNoStatus);
        r.SetDataUInt(r.CurrentCommand(), da);
        m.OnRequest(&r);
        queued = r.Value(key::ST) == 22;
        if (!queued) return host::DescribeRecord(r);
        for (int i = 0; i < 500 && Delivered().size() == before; ++i) platform::Sleep(10);
        return Delivered().size() > before ? Delivered().back() : "(not delivered)";
    }
    std::vector<std::string> Delivered() const {
        std::vector<std::string> out;
        for (const auto& e : host.Events())
            if (e.kind == HostEvent::Kind::DeliverRecord) out.push_back(e.text);
        return out;
    }
    host::SubstituteHost host;
    CTarnelModule m;
    bool queued = false;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(TextTasks, EachOpcodeThroughATaskThenFromTheCache) {
    struct Case {
        uint32_t oc, oi;
        const char* answer;
    } cases[] = {
        {0x0B21, 0, R"(ST=0 DA="long text" [C])"},
        {0x0B23, 0, R"(ST=0 DA="summary" [C])"},
        {0x0B1A, 0, R"(ST=0 DA=["c0", "c1", "c2"] [C])"},
        {0x0B17, 0, R"(ST=0 DA=["Call Desk 7 now", "Reboot", "Desk 7"] [C])"},
        {0x0B24, 1, R"(ST=0 DA="c1" [C])"},
        {0x0B25, 2, R"(ST=0 DA="Desk 7" [C])"},
    };
    for (const Case& c : cases) {
        Fixture f;
        char tag[16];
        std::snprintf(tag, sizeof tag, "OC=0x%04X", c.oc);
        std::string first = f.Ask(c.oc, c.oi, 0x3312);
        EXPECT_TRUE(f.queued && Has(first, c.answer) && Has(first, tag)) << first;
        std::string second = f.Ask(c.oc, c.oi, 0x3312);
        EXPECT_TRUE(!f.queued && Has(second, c.answer)) << second;
    }
}

TEST(TextTasks, ParagraphTooHighAndFailuresCached) {
    test::TraceCapture trace(3);
    Fixture f;
    EXPECT_TRUE(Has(f.Ask(0x0B24, 3, 0x10), "ST=2"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           :    -> paragraph number 3 too high (no more message strings)"));
    EXPECT_TRUE(Has(f.Ask(0x0B24, 3, 0x10), "ST=19"));  // the list is cached; the cache says "not found"
    EXPECT_FALSE(f.queued);

    Fixture g(R"({"id":1,"answers":[{"oc":"0x0B17","st":25},{"oc":"0x0B21","st":15},
                                    {"oc":"0x0B1A","da":["Call %HD% now","Reboot"]}]})");
    EXPECT_TRUE(Has(g.Ask(0x0B17, 0, 5), "ST=25"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ## INFO: Message log resolutions are not supported on this system!"));
    EXPECT_TRUE(Has(g.Ask(0x0B17, 0, 5), "ST=19"));
    EXPECT_TRUE(Has(g.Ask(0x0B21, 0, 5), "ST=19"));  // timed out below: empty result cached
    EXPECT_TRUE(Has(g.Ask(0x0B21, 0, 5), "ST=19"));
    EXPECT_FALSE(g.queued);
    // Causes carry no help-desk parameter; without a help-desk text resolutions would lose it.
    EXPECT_TRUE(Has(g.Ask(0x0B1A, 0, 5), R"(DA=["Call %HD% now", "Reboot"])"));
    Fixture h(R"({"id":1,"answers":[{"oc":"0x0B17","da":["Call %HD% now","Reboot"]}]})");
    EXPECT_TRUE(Has(h.Ask(0x0B17, 0, 5), R"(ST=0 DA=["", "Reboot"])"));
}

TEST(RawSel, ByPlatformAndForEntriesThatCannotHaveIt) {
    test::TraceCapture trace(3);
    Fixture f(R"({"id":"0x20001","answers":[{"oc":"0xF048","da":{"raw":[1,2,3]}}]},
                 {"id":"0x30001","answers":[{"oc":"0x0B19","da":{"raw":[4,5]}}]},
                 {"id":"0x40001","answers":[{"oc":"0xF048","st":15}]})");
    std::vector<std::unique_ptr<CMsgLogEntry>> v;
    auto add = [&](uint8_t platform, uint32_t record_id, uint32_t module) {
        v.push_back(std::make_unique<CMsgLogEntry>());
        v.back()->platformId = platform;
        v.back()->selRecordId = record_id;
        v.back()->moduleId = module;
        v.back()->oldStyle = platform == 0;
    };
    add(0, CMsgLogEntry::kNoSelRecordId, 0x20001);  // 1: trimmed below
    add(0, CMsgLogEntry::kNoSelRecordId, 0x20001);  // 2: old style
    add(2, 0x12345, 0x20001);                       // 3: IPMI
    add(3, 0x12345, 0x30001);                       // 4: SMBIOS
    add(1, 0x10, 0x20001);                          // 5: BIOS
    add(9, 0x10, 0x20001);                          // 6: unknown platform
    add(2, 0x10, 0x40001);                          // 7: IPMI, the module times out
    while (v.size() < 2001) add(0, 0, 0);
    f.m.MsgLogCache().StoreEntries(f.m.MsgLogCache().GetCabinet(0), v);

    EXPECT_TRUE(Has(f.Ask(0x0B19, 0, 3), "ST=0 DA=RAW[3] 01 02 03"));
    EXPECT_TRUE(Has(f.Ask(0x0B19, 0, 4), "ST=0 DA=RAW[2] 04 05"));
    EXPECT_TRUE(Has(f.Ask(0x0B19, 0, 7), "ST=15"));
    for (uint32_t refused : {1u, 2u, 5u, 6u}) {
        std::string r = f.Ask(0x0B19, 0, refused);
        EXPECT_TRUE(f.queued && Has(r, "OC=0x0B19") && Has(r, "ST=19") && !Has(r, "[C]")) << r;
    }
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ... log item with sequence number 1 for cabinet NOT found"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ## ERROR! Invalid SEL record ID 0xFFFFFFFF!"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ## ERROR! Read SEL raw data not supported for BIOS platform (ID 1)!"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ## ERROR! Invalid platform ID 0x9!"));
    size_t to_ipmi = 0;
    for (const auto& e : f.host.Events())
        to_ipmi += e.kind == HostEvent::Kind::SendRequest && Has(e.text, "OC=0xF048") && Has(e.text, "MI=0x00020001");
    EXPECT_EQ(to_ipmi, 1u);  // asked of the module that delivered the entry
}

}  // namespace
}  // namespace em
