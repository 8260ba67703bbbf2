// Pages of cached log entries as text records: order, paging, long texts, fallbacks and cuts.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "module/tarnel_module.h"
#include "platform/codepage.h"
#include "tests/diag_test_util.h"
#include "tests/support/down_host.h"
#include "tests/support/scenario_util.h"

namespace em {
namespace {

struct Rec {
    uint32_t length, type, entryClass, code, flags, time, sequence;
    std::string text;
    bool operator==(const Rec&) const = default;
};

// The records of a reply, checked for sound lengths and terminating zeros.
std::vector<Rec> Records(const CSipRecord& r) {
    std::vector<uint8_t> b;
    std::vector<Rec> out;
    r.GetDataBytes(r.Cur(), b);
    auto u16 = [&](size_t i) { return uint32_t(b[i] | b[i + 1] << 8); };
    for (size_t at = 0; at + 17 <= b.size(); at += out.back().length) {
        const uint32_t length = u16(at);
        if (length < 17 || at + length > b.size()) {
            ADD_FAILURE() << "record length " << length << " at " << at;
            break;
        }
        out.push_back({length, b[at + 2], b[at + 3], u16(at + 4), b[at + 6], u16(at + 8) | u16(at + 10) << 16,
                       u16(at + 12) | u16(at + 14) << 16, std::string(reinterpret_cast<const char*>(&b[at + 16]), length - 17)});
        EXPECT_EQ(b[at + 7], 0);
        EXPECT_EQ(b[at + length - 1], 0);
    }
    return out;
}

std::vector<uint32_t> Numbers(const CSipRecord& r) {
    std::vector<uint32_t> n;
    for (const Rec& x : Records(r)) n.push_back(x.sequence);
    return n;
}

// An old-style entry as a lower module sends it; in a text entry (code 0x3F00) the argument
// words hold the text itself.
std::unique_ptr<CMsgLogEntry> OldEntry(const host::OldStyleEntry& old) {
    auto e = std::make_unique<CMsgLogEntry>();
    e->rawSel = host::EncodeOldStyle(old);
    e->errorCode = old.code;
    e->entryClass = old.entry_class;
    e->timestamp = old.time;
    return e;
}

std::unique_ptr<CMsgLogEntry> UnifiedEntry(uint32_t code, std::map<uint32_t, std::u16string> args = {}) {
    auto e = std::make_unique<CMsgLogEntry>();
    e->oldStyle = 0;
    e->errorCode = code;
    e->flags = 0x101;  // CSS, and a bit beyond the record's byte
    e->entryClass = 2;
    e->stringArgs = std::move(args);
    return e;
}

struct Fixture {
    explicit Fixture(const std::string& answers = "")
        : host(test::ParseScenarioOrFail(R"({"modules":[{"id":1,"answers":[)" + answers + "]}]}")) {
        m.Attach(&host, 0x00FE0001);
        m.MsgLogCache().InitCabinet(0);
    }
    template <class... E>
    void Store(E... e) {
        std::vector<std::unique_ptr<CMsgLogEntry>> v;
        (v.push_back(std::move(e)), ...);
        m.MsgLogCache().StoreEntries(m.MsgLogCache().GetCabinet(0), v);
    }
    CSipRecord Page(uint32_t page, int64_t lowest = -1, uint32_t oe = 0) {
        CSipRecord r(0x0B10, oe, page, 0, kNoStatus);
        if (lowest >= 0) r.SetDataUInt(r.CurrentCommand(), static_cast<uint32_t>(lowest));
        result = m.GetMsgLogCacheEntries(r);
        EXPECT_EQ(result, r.HasData(0, 0, false));
        return r;
    }
    test::DownHost host;
    CTarnelModule m;
    bool result = false;
};

TEST(CacheQueries, PagesNewestFirstFromTheLowestWantedNumber) {
    Fixture f;
    for (uint32_t i = 1; i <= 5; ++i) f.Store(OldEntry({.code = 0x3F00, .time = i, .entry_class = 3, .text = "entry " + std::to_string(i)}));
    CSipRecord all = f.Page(0);
    EXPECT_EQ(Numbers(all), (std::vector<uint32_t>{5, 4, 3, 2, 1}));
    EXPECT_EQ(Records(all)[0], (Rec{17 + 7, 3, 3, 0x3F00, 0, 5, 5, "entry 5"}));
    EXPECT_EQ(Numbers(f.Page(0, 4)), (std::vector<uint32_t>{5, 4}));

    // Nothing qualifies: no DA, also when the request carried one.
    for (auto [page, lowest] : {std::pair<uint32_t, int64_t>{0, 6}, {1, -1}, {0xFFFFFFFF, -1}}) {
        f.Page(page, lowest);
        EXPECT_FALSE(f.result) << page;
    }
}

TEST(CacheQueries, UnifiedEntriesTakeTheLongTextOncePerCodeAndLanguage) {
    Fixture f(R"J({"oc":"0x0B21","da":"Slot %2 of %1 (%3)"})J");
    f.Store(OldEntry({.code = 0x3F00, .time = 9}), UnifiedEntry(0x00AB12CD, {{1, u"Board"}, {3, u"x"}}));
    std::vector<Rec> recs = Records(f.Page(0, -1, 0x0407));
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].text, "Slot %2 of Board (x)");
    EXPECT_EQ(recs[0].code, 0xABCDu);  // bits 16-23 and 0-7
    EXPECT_EQ(recs[0].flags, 0x01u);
    EXPECT_EQ(recs[1].text, "Unknown error 0x3F00");  // a text entry without text
    f.Page(0, -1, 0x0407);  // cached: not asked again
    f.Page(0, -1, 0x0409);
    EXPECT_EQ(f.host.Down({"OC=0x0B21"}), (std::vector<std::string>{"CA=0 OC=0x0B21 OE=0x0407 ST=22 DA=11211469 (0xAB12CD)",
                                                                     "CA=0 OC=0x0B21 OE=0x0409 ST=22 DA=11211469 (0xAB12CD)"}));

    // Not answered: the fallback, and nothing cached, so the next page asks again.
    Fixture none;
    none.Store(UnifiedEntry(0x123456));
    Rec r = Records(none.Page(0))[0];
    EXPECT_EQ(r.text, "Unknown error 0x123456");
    none.Page(0);
    EXPECT_EQ(none.host.Down({"OC=0x0B21"}).size(), 2u);
}

TEST(CacheQueries, OldStyleCodeWithoutMessageAndOverlongTexts) {
    Fixture f;
    // 0x10: 3 bytes a character in UTF-8; 0x11: 30000 placeholders for an argument of 65000
    // characters, 3.9 GB once expanded; 0x12, 0x13: the longest text that fits and one byte more.
    std::u16string wide(30000, u'\u2041'), many;  // E2 81 81
    for (int i = 0; i < 30000; ++i) many += u"%1";
    f.m.TextCaches().longText.Put({0x10, 0, 0}, wide);
    f.m.TextCaches().longText.Put({0x11, 0, 0}, many);
    f.m.TextCaches().longText.Put({0x12, 0, 0}, std::u16string(0xFFFF - 17, u'B'));
    f.m.TextCaches().longText.Put({0x13, 0, 0}, std::u16string(0xFFFF - 16, u'B'));
    f.Store(OldEntry({.code = 0x3E77, .time = 1, .oid = 3, .args = {7}}), UnifiedEntry(0x10), UnifiedEntry(0x11, {{1, std::u16string(65000, u'A')}}),
            UnifiedEntry(0x12), UnifiedEntry(0x13));
    std::vector<Rec> recs = Records(f.Page(0));
    ASSERT_EQ(recs.size(), 5u);
    EXPECT_EQ(std::pair(recs[4].code, recs[4].text), std::pair(0x3E77u, std::string("ERROR 0x3E77 (0x0, 0x3, 0x7)")));
    // Cut to the most whole characters that keep the record length within 16 bits.
    EXPECT_EQ(recs[3].length, 17u + 21839u * 3u);
    EXPECT_EQ(platform::Utf8ToUtf16(recs[3].text), wide.substr(0, 21839));
    EXPECT_EQ(recs[2].text, std::string(0xFFFF - 17, 'A'));
    for (int i : {0, 1, 2}) EXPECT_EQ(recs[i].length, 0xFFFFu) << i;
}

// Message files in the current directory: old style for the old-style flag, unified otherwise.
struct MessageFiles {
    MessageFiles() : old(std::filesystem::current_path()) {
        const char* head = R"(<EventMsg><LanguageTable><Language locale="0x407" lang="de"/><Language locale="0x40C" lang="fr"/></LanguageTable><Events>)";
        test::WriteBytes(dir.File("ERRMSG.XML"), std::string(head) + R"(<Event ErrorCode="0x0400">
            <Messages lang="en"><LongMsg>Fan %2 (0x%1) failed</LongMsg></Messages>
            <Messages lang="de"><LongMsg>Luefter %2 ausgefallen</LongMsg></Messages></Event></Events></EventMsg>)");
        test::WriteBytes(dir.File("EVENTMSG.XML"), std::string(head) + R"(<Event ErrorCode="0x040000">
            <Messages lang="en"><LongMsg>Unified fan %1</LongMsg></Messages></Event></Events></EventMsg>)");
        std::filesystem::current_path(dir.File(""));
    }
    ~MessageFiles() {
        std::error_code ec;
        std::filesystem::current_path(old, ec);
    }
    test::TempDir dir;
    std::filesystem::path old;
};

TEST(CacheQueries, OldStyleEntriesAreDecodedInTheLanguageWithTheirDesignation) {
    MessageFiles files;
    Fixture f(R"({"oc":"0x0B18","da":1})");
    auto e = OldEntry({.code = 0x0400, .oid = 3});
    e->stringArgs[0] = u"FAN1";
    f.Store(std::move(e));
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "Fan \"FAN1\" (0x0) failed"}, {0x0407, "Luefter \"FAN1\" ausgefallen"},
        {0x040C, "Fan \"FAN1\" (0x0) failed"},  // no text in that language: English
        {0xFFFFFFFF, "Fan 3 (0x0) failed"}};       // all languages: no designation
    for (auto [oe, text] : cases) {
        std::vector<Rec> recs = Records(f.Page(0, -1, oe));
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_EQ(recs[0].text, text) << oe;
    }
    f.m.DetectCabinets();  // the unified flag: the unified message file and code
    ASSERT_TRUE(f.m.UnifiedSel());
    EXPECT_EQ(Records(f.Page(0))[0].text, "Unified fan \"FAN1\"");
}

}  // namespace
}  // namespace em
