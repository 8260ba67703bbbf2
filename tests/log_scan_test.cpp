// Message log scans and fills against simulated lower modules.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "msglog/log_scan_records.h"
#include "tests/log_scan_data.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

using namespace test;

constexpr uint32_t kA = 0x10001, kB = 0x20001, kC = 0x30001;
constexpr uint32_t kLogEntry = 0x0B00, kArgsRead = 0x0B16;
using U = std::vector<uint32_t>;

TEST(LogScan, UnifiedFirstThenErrorLogThenEventLog) {
    // A speaks the unified form; B and C answer the old-style logs. B's error log comes just in
    // time, C's event log too late. Numbering follows the reading order, not the times.
    ScanFixture f(Scenario({
        Mod(kA, {Ans(kArgsRead, Raw(Cat({Unified(0x123456, 500, {"x"}), Unified(0x1, 400)})))}),
        Mod(kB, {Ans(kLogEntry, Raw(Cat({Sel(0x0101, 5), Sel(0x0101, 9)})), 0, 0, 150000),
                 Ans(kLogEntry, Raw(Sel(0x0102, 2)), 0, 1)}),
        Mod(kC, {Ans(kLogEntry, Raw(Cat({Sel(0x0101, 7), Sel(0x0101, 0), Sel(0x0101, 8), Sel(0x0101, 9)})), 0, 0),
                 Ans(kLogEntry, Raw(Sel(0x0102, 1)), 0, 1, 150001)}),
    }));
    f.m.RunLogScan(0);
    // One reply keeps its order; the logs of several modules merge by time, equal times in
    // reply order, a timeless entry with the next timed one.
    EXPECT_EQ(f.Field(&CMsgLogEntry::timestamp), (U{500, 400, 5, 7, 0, 8, 9, 9, 2}));
    EXPECT_EQ(f.Field(&CMsgLogEntry::moduleId), (U{kA, kA, kB, kC, kC, kC, kB, kC, kB}));
    EXPECT_EQ(f.host.Down({"OC=0x0B"}),
              (std::vector<std::string>{"CA=0 OC=0x0B16 MI=0xFFFFFFFF", "CA=0 OC=0x0B00 MI=0x00020001",
                                        "CA=0 OC=0x0B00 MI=0x00030001", "CA=0 OC=0x0B00 OI=1 MI=0x00020001",
                                        "CA=0 OC=0x0B00 OI=1 MI=0x00030001"}));
}

TEST(LogScan, LyingLogData) {
    // A length that cannot be trusted ends the reply's parse; a record whose own length is sound
    // but whose strings run past it is skipped and the next record is read.
    auto put = [](Bytes b, size_t at, uint16_t v) { return b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8), b; };
    auto cut = [](Bytes b, size_t size) { return b.resize(size), b; };
    // Four records, the second one bad inside: its last argument lost its terminator.
    Bytes unterminated = Unified(0x41, 2, {"ok", "open"});
    unterminated.back() = 'x';
    auto four = [](const Bytes& second) {
        return Cat({Unified(0x40, 1, {"a"}), second, Unified(0x42, 3, {"b"}), Unified(0x43, 4)});
    };
    // A count as high as it goes: a text entry of 255 words (1028 bytes) in 100 bytes.
    auto unified = [](const Bytes& b) { return Scenario({Mod(kA, {Ans(kArgsRead, Raw(b))})}); };
    auto old = [](const std::string& da) { return Scenario({Mod(kA, {Ans(kLogEntry, da, 0, 0)})}); };

    struct Case {
        const char* what;
        host::Scenario scenario;
        U kept;               // times of the entries stored
        const char* warning;  // the level-1 line, or none
    } cases[] = {
        {"old-style entry cut", old(Raw(cut(Cat({Sel(0x0101, 1), host::EncodeOldStyle({.code = 0x0101, .time = 2, .args = {0, 0}})}), 29))), {1},
         "MID 0x00010001: log entry cut off at offset 12 (17 bytes left)"},
        {"fewer than 12 bytes", old(Raw(Bytes(11, 1))), {}, nullptr},
        {"tail shorter than an entry", old(Raw(Cat({Sel(0x0101, 1), Bytes(5, 1)}))), {1},
         "log entry cut off at offset 12 (5 bytes left)"},
        {"length 0", unified(put(Cat({Unified(0x10, 1, {"a"}), Unified(0x11, 2), Unified(0x12, 3, {})}), 28, 0)), {1},
         "MID 0x00010001: bad log record length at offset 28 (52 bytes left)"},
        {"length past the data", unified(put(Cat({Unified(0x20, 1), Unified(0x21, 2, {"abc"})}), 26, 200)), {1},
         "bad log record length at offset 26"},
        {"record head cut", unified(Cat({Unified(0x50, 1), Bytes(20, 1)})), {1},
         "bad log record length at offset 26 (20 bytes left)"},
        {"argument without terminator", unified(four(unterminated)), {1, 3, 4},
         "MID 0x00010001: log record 0x000041 at offset 28 skipped: its strings run past its 34 bytes"},
        {"255 words in 100 bytes", old(Raw(cut(Cat({Sel(0x0101, 1), host::EncodeOldStyle({.code = 0x3F00, .time = 2, .text = std::string(1019, 't')})}), 112))), {1},
         "log entry cut off at offset 12 (100 bytes left)"},
        {"fewer than 26 bytes", unified(Bytes(25, 30)), {}, nullptr},
        {"number instead of bytes", Scenario({Mod(kA, {Ans(kArgsRead, "4000000000")})}), {}, nullptr},
        {"empty array", old(Raw({})), {}, nullptr},
        {"broadcast answered without data", Scenario({Mod(kA, {Ans(kArgsRead, "")})}), {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScanFixture f(c.scenario);
        test::TraceCapture trace(1);
        f.m.RunLogScan(0);
        EXPECT_TRUE(f.m.MsgLogCache().WaitCacheReady(0, 0));
        EXPECT_EQ(f.Field(&CMsgLogEntry::timestamp), c.kept);
        EXPECT_EQ(trace.Count("WARNING!"), c.warning ? 1u : 0u);
        EXPECT_TRUE(!c.warning || trace.Contains(c.warning));
        EXPECT_TRUE(f.m.MsgLogAvailable());
    }
}

TEST(LogScan, EntryFieldsOfBothForms) {
    // n = 0 and n = 17 take 12 bytes, 0x3F00 with n = 20 takes 88; an empty argument ends the list.
    auto words = [](Bytes b, uint8_t n) { return b[3] = n, b; };
    const Bytes last = host::EncodeOldStyle({.code = 0x0101, .time = 4, .args = {1, 2}});
    Bytes old = Cat({words(Sel(0x0101, 1), 0), words(host::EncodeOldStyle({.code = 0x3142, .time = 2, .entry_class = 2}), 17),
                     host::EncodeOldStyle({.code = 0x3F00, .time = 3, .text = std::string(79, 't')}), last});
    Bytes unified = Unified(0xABCDEF, 77, {"one", "", "three"});
    unified[8] = 0x3;  // every flag bit, not only CSS
    ScanFixture f(Scenario({Mod(kA, {Ans(kArgsRead, Raw(unified))}),
                            Mod(kB, {Ans(kLogEntry, Raw(old), 0, 0)})}));
    f.m.RunLogScan(0);
    const auto e = f.Entries();
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].stringArgs, (std::map<uint32_t, std::u16string>{{1, u"one"}}));
    EXPECT_EQ(f.Field(&CMsgLogEntry::errorCode), (U{0xABCDEF, 0x0101, 0x3142, 0x3F00, 0x0101}));
    EXPECT_EQ(f.Field(&CMsgLogEntry::flags), (U{3, 0, 0, 0, 0}));
    EXPECT_EQ(f.Field(&CMsgLogEntry::entryClass), (U{3, 0, 2, 0, 0}));
    EXPECT_EQ(f.Field(&CMsgLogEntry::platformId), (U{2, 0, 0, 0, 0}));
    EXPECT_EQ(f.Field(&CMsgLogEntry::selRecordId), (U{0x1000 + 77, ~0u, ~0u, ~0u, ~0u}));
    EXPECT_EQ(f.Field(&CMsgLogEntry::oldStyle), (U{0, 1, 1, 1, 1}));
    EXPECT_EQ(f.Field([](const CMsgLogEntry& entry) { return entry.rawSel.size(); }), (U{0, 12, 12, 88, 20}));
    EXPECT_EQ(e[4].rawSel, last);
}

TEST(LogScan, RequestOpcodesOfEveryGroup) {
    const std::pair<uint8_t, uint32_t> css[] = {{0x04, 0x0307}, {0x07, 0x0505}, {0x0C, 0x060C}, {0x15, 0x0529},
                                                {0x19, 0x0708}, {0x1B, 0x2113}, {0x1C, 0x2114}, {0x05, 0}};
    for (const auto& [group, oc] : css) EXPECT_EQ(CssRequestOpcode(group), oc) << int(group);
    const std::tuple<uint8_t, uint8_t, uint32_t> designation[] = {
        {0x04, 0x00, 0x0304}, {0x05, 0x00, 0x0404}, {0x10, 0x00, 0x0404}, {0x07, 0x00, 0x0504}, {0x0C, 0x00, 0x0602},
        {0x15, 0x00, 0x0522}, {0x19, 0x00, 0x0702}, {0x19, 0x04, 0x0742}, {0x19, 0x05, 0x0742}, {0x19, 0x22, 0x0752},
        {0x19, 0x23, 0x0752}, {0x19, 0x24, 0x0752}, {0x19, 0x28, 0x0752}, {0x19, 0x25, 0x0752}, {0x36, 0x00, 0xF042},
        {0x36, 0x0A, kNoRequestOpcode}, {0x36, 0x0B, kNoRequestOpcode}, {0x36, 0x0C, kNoRequestOpcode},
        // Rows for the group alone: its first row.
        {0x19, 0x77, 0x0702}, {0x36, 0x05, 0xF042}, {0x04, 0x01, 0x0304}, {0x3E, 0x00, kNoRequestOpcode},
    };
    for (const auto& [group, low, oc] : designation)
        EXPECT_EQ(DesignationOpcode(group, low), oc) << int(group) << "/" << int(low);
}

TEST(LogScan, CssAndDesignationAskedOncePerObjectUnlessTheyFail) {
    // Group 0x04 asks both; group 0x05 only the designation (which fails here); 0x36/0x0B neither.
    // The CSS flag is the low byte of the answer.
    Bytes data = Cat({Sel(0x0400, 1, 1), Sel(0x0400, 2, 1), Sel(0x0400, 3, 2), Sel(0x0400, 4, 3), Sel(0x0400, 5, 4),
                      Sel(0x0400, 6, 4), Sel(0x0500, 7, 1), Sel(0x0500, 8, 1), Sel(0x360B, 9, 1), Sel(0x0400, 10, 5)});
    ScanFixture f(Scenario({Mod(kA, {Ans(kLogEntry, Raw(data), 0, 0), Ans(0x0307, "128", 0, 1), Ans(0x0307, "1", 0, 2),
                                     Ans(0x0307, "256", 0, 3), Ans(0x0307, "1", 15, 4), Ans(0x0307, "", 0, 5), Ans(0x0304, R"("Fan")"),
                                     Ans(0x0404, R"("Slot")", 1)})}));
    f.m.RunLogScan(0);
    EXPECT_EQ(f.Field(&CMsgLogEntry::flags), (U{1, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
    std::vector<std::u16string> designations;
    for (const auto& e : f.Entries()) designations.push_back(e.stringArgs.count(0) ? e.stringArgs.at(0) : u"-");
    EXPECT_EQ(designations, (std::vector<std::u16string>{u"Fan", u"Fan", u"Fan", u"Fan", u"Fan", u"Fan", u"-", u"-", u"-", u"Fan"}));
    std::vector<std::string> lookups;
    for (const auto& d : f.host.Down()) if (d.find("OC=0x0B") == std::string::npos) lookups.push_back(d);
    EXPECT_EQ(lookups, (std::vector<std::string>{
        "CA=0 OC=0x0307 OI=1 ST=22", "CA=0 OC=0x0304 OI=1 ST=22",
        "CA=0 OC=0x0307 OI=2 ST=22", "CA=0 OC=0x0304 OI=2 ST=22",
        "CA=0 OC=0x0307 OI=3 ST=22", "CA=0 OC=0x0304 OI=3 ST=22",
        "CA=0 OC=0x0307 OI=4 ST=22", "CA=0 OC=0x0304 OI=4 ST=22",
        "CA=0 OC=0x0307 OI=4 ST=22",
        "CA=0 OC=0x0404 OI=1 ST=22", "CA=0 OC=0x0404 OI=1 ST=22",
        "CA=0 OC=0x0307 OI=5 ST=22", "CA=0 OC=0x0304 OI=5 ST=22"}));
    EXPECT_EQ(f.m.ScanCaches().CssCount(), 4u);  // an answer without data is "no"
}

}  // namespace
}  // namespace em
