// Message texts and raw SEL data fetched on the worker thread: what goes down, what is handed up
// and what the text caches keep.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "module/tarnel_module.h"
#include "tests/log_scan_data.h"
#include "tests/support/down_host.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

const char* kTexts = R"({"id":"0x20001","answers":[{"oc":"0xE001","oe":"0x0211","da":"Desk 7"},
    {"oc":"0x0B21","da":"long text"},{"oc":"0x0B23","da":"summary"},{"oc":"0x0B1A","da":["c0","c1","c2"]},
    {"oc":"0x0B17","da":["Call %HD% now","Reboot","%HD%"]}]})";
constexpr uint32_t kCode = 0x123456, kGerman = 0x0407;

// A started module; Run hands a task to it as the worker thread does.
struct Fixture {
    explicit Fixture(const std::string& modules = kTexts) : host(test::Scenario({modules})) { m.Start(&host, 0x00FE0001); }
    ~Fixture() { m.Stop(); }
    // What the task handed up ("" when nothing); sent holds what it sent down.
    std::string Run(uint32_t oc, uint32_t oi, uint32_t da, uint32_t mi = 0) {
        const size_t down = host.Down().size(), up = host.Delivered("").size();
        CSipRecord r(oc, kGerman, oi, 0, kNoStatus);
        if (mi) r.SetModuleId(mi);
        r.SetDataUInt(r.CurrentCommand(), da);
        m.OnTaskExecution(r, 0);
        const auto all = host.Down(), delivered = host.Delivered("");
        sent.assign(all.begin() + static_cast<long>(down), all.end());
        return delivered.size() > up ? delivered.back() : "";
    }
    // A request as the host passes it: answered at once from the caches, or queued (ST 22).
    std::string Ask(uint32_t oc, uint32_t oi, uint32_t code = kCode) {
        CSipRecord r(oc, kGerman, oi, 0, kNoStatus);
        r.SetDataUInt(r.CurrentCommand(), code);
        m.OnRequest(&r);
        return host::DescribeRecord(r);
    }
    test::DownHost host;
    CTarnelModule m;
    std::vector<std::string> sent;
};

std::string Head(uint32_t oc, uint32_t oi) {
    char b[64];
    std::snprintf(b, sizeof b, "CA=0 OC=0x%04X OE=0x0407", oc);
    return oi ? b + std::string(" OI=") + std::to_string(oi) : b;
}

std::string Da(uint32_t v) {
    char b[40];
    std::snprintf(b, sizeof b, " DA=%u (0x%X)", v, v);
    return b;
}

TEST(TextTasks, AskTheLowerModulesOnceAndAnswerLaterFromTheCache) {
    const struct {
        uint32_t oc, oi, sent_oc;
        std::string answer;
    } cases[] = {
        {0x0B21, 0, 0x0B21, R"(ST=0 DA="long text" [C])"},
        {0x0B23, 0, 0x0B23, R"(ST=0 DA="summary" [C])"},
        {0x0B1A, 0, 0x0B1A, R"(ST=0 DA=["c0", "c1", "c2"] [C])"},
        {0x0B17, 0, 0x0B17, R"(ST=0 DA=["Call Desk 7 now", "Reboot", "Desk 7"] [C])"},
        {0x0B24, 1, 0x0B1A, R"(ST=0 DA="c1" [C])"},  // paragraphs: the whole list is fetched
        {0x0B25, 2, 0x0B17, R"(ST=0 DA="Desk 7" [C])"},
    };
    Fixture f;
    test::TraceCapture trace(3);
    uint32_t code = kCode;
    for (const auto& c : cases) {
        EXPECT_EQ(f.Run(c.oc, c.oi, ++code), Head(c.oc, c.oi) + " " + c.answer);
        EXPECT_EQ(f.sent, std::vector<std::string>{Head(c.sent_oc, 0) + " ST=0" + Da(code)});
        const size_t down = f.host.Down().size();
        EXPECT_EQ(f.Ask(c.oc, c.oi, code), Head(c.oc, c.oi) + " " + c.answer);
        EXPECT_EQ(f.host.Down().size(), down);
    }
    // Each paragraph of a list is traced: by the task for the four lists, from the cache for two.
    EXPECT_EQ(trace.Count("     message ["), 12u);
    EXPECT_EQ(trace.Count("     message["), 6u);
}

TEST(TextTasks, FailuresAreCachedAsEmptyResults) {
    Fixture f(R"({"id":1,"answers":[{"oc":"0x0B17","st":25},{"oc":"0x0B21","st":15},
                 {"oc":"0x0B1A","da":["Call %HD% now","Reboot"]}]})");
    const struct {
        uint32_t oc, oi;
        const char *first, *later;  // the task's answer, then the cache's
    } cases[] = {
        {0x0B24, 3, "ST=2", "ST=19"},  // paragraph beyond the list
        {0x0B17, 0, "ST=25", "ST=19"},
        {0x0B21, 0, "ST=19", "ST=19"},  // timed out below
        {0x0B1A, 0, R"(ST=0 DA=["Call %HD% now", "Reboot"] [C])", nullptr},  // causes keep the parameter
    };
    for (const auto& c : cases) {
        const std::string code = c.later ? Da(kCode) + " [C]" : "";
        EXPECT_EQ(f.Run(c.oc, c.oi, kCode), Head(c.oc, c.oi) + " " + c.first + code);
        if (c.later) {
            EXPECT_EQ(f.Ask(c.oc, c.oi), Head(c.oc, c.oi) + " " + c.later + code);
        }
    }
    // Without a help-desk text the resolutions holding the parameter become empty.
    Fixture g(R"({"id":1,"answers":[{"oc":"0x0B17","da":["Call %HD% now","Reboot"]}]})");
    EXPECT_EQ(g.Run(0x0B17, 0, 5), Head(0x0B17, 0) + R"( ST=0 DA=["", "Reboot"] [C])");
}

TEST(RawSel, AskedOfTheEntrysModuleByPlatform) {
    Fixture f(R"({"id":"0x20001","answers":[{"oc":"0xF048","da":{"raw":[1,2,3]}}]},
                 {"id":"0x30001","answers":[{"oc":"0x0B19","da":{"raw":[4,5]}}]},
                 {"id":"0x40001","answers":[{"oc":"0xF048","st":15}]})");
    // Numbers high enough to show how the trace cuts them: 0x18000 entries come first.
    constexpr uint32_t kFirst = 0x18001;
    CCabinetLogCache* cabinet = f.m.MsgLogCache().GetCabinet(0);
    std::vector<std::unique_ptr<CMsgLogEntry>> v;
    for (uint32_t batch = 0; batch < (kFirst - 1) / 4096; ++batch) {
        while (v.size() < 4096) v.push_back(std::make_unique<CMsgLogEntry>());
        f.m.MsgLogCache().StoreEntries(cabinet, v);
    }
    auto add = [&](uint8_t platform, uint32_t record_id, uint32_t module) {
        v.push_back(std::make_unique<CMsgLogEntry>());
        v.back()->platformId = platform;
        v.back()->selRecordId = record_id;
        v.back()->moduleId = module;
    };
    add(2, 0x12345, 0x20001);                       // +0 IPMI
    add(3, 0x12345, 0x30001);                       // +1 SMBIOS
    add(2, 0x10, 0x40001);                          // +2 IPMI, the module times out
    add(0, CMsgLogEntry::kNoSelRecordId, 0x20001);  // +3 old style
    add(2, 0, 0x20001);                             // +4 no record id
    add(1, 0x10, 0x20001);                          // +5 BIOS
    add(9, 0x10, 0x20001);                          // +6 unknown platform
    ASSERT_EQ(f.m.MsgLogCache().StoreEntries(cabinet, v), kFirst);

    constexpr uint32_t kTaskMi = 0x00038005;
    test::TraceCapture trace(3);
    EXPECT_EQ(f.Run(0x0B19, 0, kFirst, kTaskMi), Head(0x0B19, 0) + " MI=0x00038005 ST=0 DA=RAW[3] 01 02 03");
    EXPECT_EQ(f.sent, std::vector<std::string>{"CA=0 OC=0xF048 MI=0x00020001 ST=0 DA=9029 (0x2345)"});
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Request raw data for IPMI SEL record 0x8001 (32769) from MID "
                               "0x0003-0x8005 "));
    EXPECT_EQ(f.Run(0x0B19, 0, kFirst + 1, kTaskMi), Head(0x0B19, 0) + " MI=0x00038005 ST=0 DA=RAW[2] 04 05");
    EXPECT_EQ(f.sent, std::vector<std::string>{"CA=0 OC=0x0B19 MI=0x00030001 ST=0 DA=74565 (0x12345)"});
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Request raw data for SMBIOS SEL record 0x18002 (32770) from MID "
                               "0x0003-0x8005 "));
    EXPECT_TRUE(trace.Contains(" MID 0x00038005 Stat 0x00 Len 2"));
    auto failed = [](uint32_t st, uint32_t sequence) { return Head(0x0B19, 0) + " ST=" + std::to_string(st) + Da(sequence); };
    EXPECT_EQ(f.Run(0x0B19, 0, kFirst + 2), failed(15, kFirst + 2));

    const std::pair<uint32_t, const char*> refused[] = {
        {1, "log item with sequence number 1 for cabinet NOT found"},  // trimmed away
        {kFirst + 3, "## ERROR! Invalid SEL record ID 0xFFFFFFFF!"},
        {kFirst + 4, "## ERROR! Invalid SEL record ID 0x0!"},
        {kFirst + 5, "## ERROR! Read SEL raw data not supported for BIOS platform (ID 1)!"},
        {kFirst + 6, "## ERROR! Invalid platform ID 0x9!"},
    };
    for (const auto& [sequence, line] : refused) {
        EXPECT_EQ(f.Run(0x0B19, 0, sequence), failed(19, sequence)) << line;
        EXPECT_TRUE(f.sent.empty() && trace.Contains(line)) << line;
    }
}

}  // namespace
}  // namespace em
