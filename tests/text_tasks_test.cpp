// Message texts and raw SEL data fetched on the worker thread and handed up with DeliverRecord.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "platform/sync.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

using host::HostEvent;

host::Scenario Parse(const std::string& json) {
    host::Scenario s;
    std::string error;
    EXPECT_TRUE(host::ParseScenario(json, s, error)) << error;
    return s;
}

// Lower module 1 knows the texts; help desk text "Desk 7" unless the scenario says otherwise.
const char* kTexts = R"({"modules":[{"id":1,"answers":[
    {"oc":"0xE001","oe":"0x0211","da":"Desk 7"},
    {"oc":"0x0B21","da":"long text"},
    {"oc":"0x0B23","da":"summary"},
    {"oc":"0x0B1A","da":["c0","c1","c2"]},
    {"oc":"0x0B17","da":["Call %HD% now","Reboot","%HD%"]}]}]})";

struct Fixture {
    explicit Fixture(const std::string& json = kTexts) : host(Parse(json)) { m.Start(&host, 0x00FE0001); }
    ~Fixture() { m.Stop(); }

    // Sends a request through OnRequest; when it is queued, waits for its delivery and returns
    // the delivered record as the host saw it, else the request as answered at once.
    std::string Ask(uint32_t oc, uint32_t oe, uint32_t oi, uint32_t da) {
        const size_t before = Delivered().size();
        CSipRecord r(oc, oe, oi, 0, kNoStatus);
        r.SetDataUInt(r.CurrentCommand(), da);
        EXPECT_EQ(m.OnRequest(&r), 1u);
        queued = r.Value(key::ST) == 22;
        if (!queued) return host::DescribeRecord(r);
        for (int i = 0; i < 500 && Delivered().size() == before; ++i) platform::Sleep(10);
        std::vector<std::string> d = Delivered();
        return d.size() > before ? d.back() : "(not delivered)";
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
        std::string first = f.Ask(c.oc, 0x0407, c.oi, 0x3312);
        EXPECT_TRUE(f.queued) << std::hex << c.oc;
        EXPECT_TRUE(Has(first, c.answer)) << first;
        char tag[16];
        std::snprintf(tag, sizeof tag, "OC=0x%04X", c.oc);
        EXPECT_TRUE(Has(first, tag)) << "the record goes up with its own opcode: " << first;
        std::string second = f.Ask(c.oc, 0x0407, c.oi, 0x3312);
        EXPECT_FALSE(f.queued) << std::hex << c.oc;
        EXPECT_TRUE(Has(second, c.answer)) << second;
    }
}

TEST(TextTasks, ParagraphNumberTooHigh) {
    test::TraceCapture trace(3);
    Fixture f;
    std::string r = f.Ask(0x0B24, 0, 3, 0x10);
    EXPECT_TRUE(f.queued);
    EXPECT_TRUE(Has(r, "ST=2")) << r;
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           :    -> paragraph number 3 too high (no more message strings)"));
    // The whole list was cached: paragraph 1 comes at once, paragraph 3 is not there.
    EXPECT_TRUE(Has(f.Ask(0x0B24, 0, 1, 0x10), R"(ST=0 DA="c1")"));
    EXPECT_FALSE(f.queued);
    EXPECT_TRUE(Has(f.Ask(0x0B24, 0, 3, 0x10), "ST=19"));
    EXPECT_FALSE(f.queued);
}

TEST(TextTasks, EmptyHelpDeskEmptiesItsParagraphs) {
    Fixture f(R"({"modules":[{"id":1,"answers":[{"oc":"0x0B17","da":["Call %HD% now","Reboot"]}]}]})");
    EXPECT_TRUE(Has(f.Ask(0x0B17, 0, 0, 5), R"(ST=0 DA=["", "Reboot"])"));
    EXPECT_TRUE(Has(f.Ask(0x0B25, 0, 0, 5), "ST=19"));  // an emptied paragraph is no text
}

TEST(TextTasks, FailuresAreCachedAsEmpty) {
    test::TraceCapture trace(1);
    Fixture f(R"({"modules":[{"id":1,"answers":[{"oc":"0x0B17","st":25},{"oc":"0x0B21","st":15}]}]})");
    EXPECT_TRUE(Has(f.Ask(0x0B17, 0, 0, 5), "ST=25"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ## INFO: Message log resolutions are not supported on this system!"));
    EXPECT_TRUE(Has(f.Ask(0x0B17, 0, 0, 5), "ST=19"));
    EXPECT_FALSE(f.queued);
    EXPECT_TRUE(Has(f.Ask(0x0B21, 0, 0, 5), "ST=19"));  // the lower module timed out
    EXPECT_TRUE(f.queued);
    EXPECT_TRUE(Has(f.Ask(0x0B21, 0, 0, 5), "ST=19"));
    EXPECT_FALSE(f.queued);
    EXPECT_TRUE(Has(f.Ask(0x0B23, 0, 0, 5), "ST=19"));  // nobody answers at all
}

TEST(TextTasks, NoHostNoDelivery) {
    CTarnelModule m;
    CSipRecord r(0x0B21, 0, 0, 0, kNoStatus);
    r.SetDataUInt(r.CurrentCommand(), 5);
    m.RunTextTask(r);  // must not reach for a host
    EXPECT_EQ(r.Value(key::ST), 19u);
}

// Raw SEL: the entries of cabinet 0, run through the task directly.
struct RawFixture {
    RawFixture()
        : host(Parse(R"({"modules":[
            {"id":"0x20001","answers":[{"oc":"0xF048","da":{"raw":[1,2,3]}}]},
            {"id":"0x30001","answers":[{"oc":"0x0B19","da":{"raw":[4,5]}}]},
            {"id":"0x40001","answers":[{"oc":"0xF048","st":15}]}]})")) {
        m.Attach(&host, 0x00FE0001);
        std::vector<std::unique_ptr<CMsgLogEntry>> v;
        auto add = [&](uint8_t platform, uint32_t record_id, uint32_t module, uint32_t old_style) {
            auto e = std::make_unique<CMsgLogEntry>();
            e->platformId = platform;
            e->selRecordId = record_id;
            e->moduleId = module;
            e->oldStyle = old_style;
            v.push_back(std::move(e));
        };
        add(0, CMsgLogEntry::kNoSelRecordId, 0x20001, 1);  // 1: old style
        add(2, 0x12345, 0x20001, 0);                       // 2: IPMI
        add(3, 0x12345, 0x30001, 0);                       // 3: SMBIOS
        add(1, 0x10, 0x20001, 0);                          // 4: BIOS
        add(9, 0x10, 0x20001, 0);                          // 5: unknown platform
        add(2, 0x10, 0x40001, 0);                          // 6: IPMI, module times out
        m.MsgLogCache().StoreEntries(m.MsgLogCache().GetCabinet(0), v);
    }
    std::string Run(uint32_t sequence) {
        CSipRecord r(0x0B19, 0, 0, 0, kNoStatus);
        r.SetDataUInt(r.CurrentCommand(), sequence);
        m.RunRawSelTask(r);
        std::string text = host::DescribeRecord(r);
        std::vector<HostEvent> ev = host.Events();
        EXPECT_TRUE(!ev.empty() && ev.back().kind == HostEvent::Kind::DeliverRecord && ev.back().text == text) << text;
        return text;
    }
    host::SubstituteHost host;
    CTarnelModule m;
};

TEST(RawSel, ByPlatform) {
    test::TraceCapture trace(3);
    RawFixture f;
    EXPECT_TRUE(Has(f.Run(2), "ST=0 DA=RAW[3] 01 02 03"));
    EXPECT_TRUE(Has(f.Run(3), "ST=0 DA=RAW[2] 04 05"));
    EXPECT_FALSE(Has(f.Run(3), "[C]"));
    EXPECT_TRUE(Has(f.Run(6), "ST=15"));
    for (uint32_t refused : {1u, 4u, 5u, 99u}) EXPECT_TRUE(Has(f.Run(refused), "ST=19")) << refused;
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ## ERROR! Invalid SEL record ID 0xFFFFFFFF!"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ## ERROR! Read SEL raw data not supported for BIOS platform (ID 1)!"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ## ERROR! Invalid platform ID 0x9!"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ... log item with sequence number 99 for cabinet NOT found"));
    size_t to_ipmi = 0;
    for (const auto& e : f.host.Events())
        to_ipmi += e.kind == HostEvent::Kind::SendRequest && Has(e.text, "OC=0xF048") && Has(e.text, "MI=0x00020001");
    EXPECT_EQ(to_ipmi, 1u);  // sent to the module that delivered the entry
}

TEST(RawSel, TrimmedEntryThroughTheQueue) {
    Fixture f(R"({"modules":[{"id":1}]})");
    std::vector<std::unique_ptr<CMsgLogEntry>> v;
    for (int i = 0; i < 2001; ++i) v.push_back(std::make_unique<CMsgLogEntry>());
    f.m.MsgLogCache().StoreEntries(f.m.MsgLogCache().GetCabinet(0), v);  // number 1 is trimmed
    std::string r = f.Ask(0x0B19, 0, 0, 1);
    EXPECT_TRUE(f.queued);
    EXPECT_TRUE(Has(r, "OC=0x0B19") && Has(r, "ST=19")) << r;
}

}  // namespace
}  // namespace em
