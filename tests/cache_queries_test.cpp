// Pages of cached log entries as text: order, paging, the lowest wanted number, the entry records,
// unified entries through the long-text cache, and the fallbacks.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "platform/codepage.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

using host::HostEvent;

// One record of a reply, as a caller reads it.
struct Rec {
    uint32_t length, type, entryClass, code, flags, pad, time, sequence;
    std::string text;
};

std::vector<Rec> Records(const CSipRecord& r) {
    std::vector<uint8_t> b;
    std::vector<Rec> out;
    if (!r.GetDataBytes(r.Cur(), b)) return out;
    auto u16 = [&](size_t i) { return uint32_t(b[i] | b[i + 1] << 8); };
    auto u32 = [&](size_t i) { return u16(i) | u16(i + 2) << 16; };
    for (size_t at = 0; at + 17 <= b.size();) {
        Rec x{u16(at), b[at + 2], b[at + 3], u16(at + 4), b[at + 6], b[at + 7], u32(at + 8), u32(at + 12), {}};
        EXPECT_LE(at + x.length, b.size());
        EXPECT_EQ(b[at + x.length - 1], 0) << "text not zero-terminated";
        x.text.assign(reinterpret_cast<const char*>(&b[at + 16]), x.length - 17);
        out.push_back(x);
        at += x.length;
    }
    return out;
}

std::vector<uint32_t> Numbers(const std::vector<Rec>& recs) {
    std::vector<uint32_t> n;
    for (const Rec& r : recs) n.push_back(r.sequence);
    return n;
}

// An old-style text entry (code 0x3F00): its argument words hold the text itself.
std::unique_ptr<CMsgLogEntry> TextEntry(const std::string& text, uint32_t time, uint8_t cls = 0) {
    auto e = std::make_unique<CMsgLogEntry>();
    const uint8_t n = static_cast<uint8_t>((text.size() + 4) / 4);
    e->rawSel = {0x00, static_cast<uint8_t>(0x3F | cls << 6), 0, n, uint8_t(time), uint8_t(time >> 8), 0, 0};
    e->rawSel.insert(e->rawSel.end(), text.begin(), text.end());
    e->rawSel.resize(8 + 4 * size_t{n}, 0);
    e->errorCode = 0x3F00;
    e->entryClass = cls;
    e->timestamp = time;
    return e;
}

std::unique_ptr<CMsgLogEntry> UnifiedEntry(uint32_t code, std::map<uint32_t, std::u16string> args = {}) {
    auto e = std::make_unique<CMsgLogEntry>();
    e->oldStyle = 0;
    e->errorCode = code;
    e->flags = 0x101;  // CSS, and a bit beyond the low byte
    e->entryClass = 2;
    e->timestamp = 77;
    e->stringArgs = std::move(args);
    return e;
}

struct Fixture {
    explicit Fixture(const std::string& json = R"({"modules":[{"id":1}]})") : host(Parse(json)) {
        m.Attach(&host, 0x00FE0001);
        m.MsgLogCache().InitCabinet(0);
    }
    static host::Scenario Parse(const std::string& json) {
        host::Scenario s;
        std::string error;
        EXPECT_TRUE(host::ParseScenario(json, s, error)) << error;
        return s;
    }
    void Store(std::vector<std::unique_ptr<CMsgLogEntry>> entries) {
        m.MsgLogCache().StoreEntries(m.MsgLogCache().GetCabinet(0), entries);
    }
    void StoreTexts(uint32_t count) {
        std::vector<std::unique_ptr<CMsgLogEntry>> v;
        for (uint32_t i = 1; i <= count; ++i) v.push_back(TextEntry("entry " + std::to_string(i), i));
        Store(std::move(v));
    }
    // A 0x0B10 request for the page, with the lowest wanted number as DA when given.
    CSipRecord Page(uint32_t page, int64_t lowest = -1, uint32_t oe = 0) {
        CSipRecord r(0x0B10, oe, page, 0, kNoStatus);
        if (lowest >= 0) r.SetDataUInt(r.CurrentCommand(), static_cast<uint32_t>(lowest));
        result = m.GetMsgLogCacheEntries(r);
        return r;
    }
    size_t Sent(uint32_t oc) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "OC=0x%04X", oc);
        size_t n = 0;
        for (const auto& e : host.Events()) n += e.kind == HostEvent::Kind::SendRequest && e.text.find(tag) != std::string::npos;
        return n;
    }
    host::SubstituteHost host;
    CTarnelModule m;
    bool result = false;
};

TEST(CacheQueries, PagesNewestFirstFromTheLowestWantedNumber) {
    Fixture f;
    f.StoreTexts(5);
    CSipRecord all = f.Page(0);
    EXPECT_TRUE(f.result);
    EXPECT_EQ(all.Value(key::ST), 0u);
    std::vector<Rec> recs = Records(all);
    EXPECT_EQ(Numbers(recs), (std::vector<uint32_t>{5, 4, 3, 2, 1}));
    ASSERT_EQ(recs.size(), 5u);
    EXPECT_EQ(recs[0].text, "entry 5");
    EXPECT_EQ(recs[0].length, 17u + 7u);
    EXPECT_EQ(recs[0].type, 3u);
    EXPECT_EQ(recs[0].code, 0x3F00u);
    EXPECT_EQ(recs[0].time, 5u);

    EXPECT_EQ(Numbers(Records(f.Page(0, 4))), (std::vector<uint32_t>{5, 4}));
    EXPECT_EQ(Numbers(Records(f.Page(0, 0))).size(), 5u);

    // Nothing qualifies: no DA at all, also when the request carried one.
    for (auto [page, lowest] : {std::pair<uint32_t, int64_t>{0, 6}, {1, -1}, {0xFFFFFFFF, -1}}) {
        CSipRecord r = f.Page(page, lowest);
        EXPECT_FALSE(f.result);
        EXPECT_FALSE(r.HasData(0, 0, false));
    }
    CSipRecord other(0x0B10, 0, 0, 7, kNoStatus);
    EXPECT_FALSE(f.m.GetMsgLogCacheEntries(other));
}

TEST(CacheQueries, FullCabinetFitsOnePage) {
    Fixture f;
    f.StoreTexts(2300);  // trimmed to 301..2300
    std::vector<uint32_t> n = Numbers(Records(f.Page(0)));
    ASSERT_EQ(n.size(), 2000u);
    EXPECT_EQ(n.front(), 2300u);
    EXPECT_EQ(n.back(), 301u);
    EXPECT_EQ(Numbers(Records(f.Page(0, 2290))).size(), 11u);
    f.Page(1);
    EXPECT_FALSE(f.result);
}

TEST(CacheQueries, RecordFieldsOfOldStyleAndUnifiedEntries) {
    test::TraceCapture trace(5);
    Fixture f(R"J({"modules":[{"id":1,"answers":[{"oc":"0x0B21","da":"Slot %2 of %1 (%3)"}]}]})J");
    std::vector<std::unique_ptr<CMsgLogEntry>> v;
    v.push_back(TextEntry("", 9, 3));  // decodes to nothing
    v.push_back(UnifiedEntry(0x00AB12CD, {{1, u"Board"}, {3, u"x"}}));
    f.Store(std::move(v));

    std::vector<Rec> recs = Records(f.Page(0, -1, 0x0407));
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].text, "Slot %2 of Board (x)");
    EXPECT_EQ(recs[0].code, 0xABCDu);  // bits 16-23 and 0-7 of the code
    EXPECT_EQ(recs[0].flags, 0x01u);
    EXPECT_EQ(recs[0].pad, 0u);
    EXPECT_EQ(recs[0].entryClass, 2u);
    EXPECT_EQ(recs[0].time, 77u);
    EXPECT_EQ(recs[1].text, "Unknown error 0x3F00");
    EXPECT_EQ(recs[1].entryClass, 3u);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : WARNING! Missing translation for message error code 0x3F00"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Translate (new format based) log entry 0x00AB12CD - CSS: true"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Append SIP Msg: \"Slot %2 of Board (x)\""));

    // The long text is asked once per code and language.
    f.Page(0, -1, 0x0407);
    EXPECT_EQ(f.Sent(0x0B21), 1u);
    std::u16string cached;
    EXPECT_TRUE(f.m.TextCaches().longText.Get({0x00AB12CD, 0x0407, 0}, cached));
    f.Page(0, -1, 0x0409);
    EXPECT_EQ(f.Sent(0x0B21), 2u);
}

TEST(CacheQueries, UnifiedEntryWithoutLongText) {
    test::TraceCapture trace(4);
    // Nobody answers 0x0B21 with a final status: nothing is cached and every page asks again.
    Fixture f(R"({"modules":[{"id":1}]})");
    std::vector<std::unique_ptr<CMsgLogEntry>> v;
    v.push_back(UnifiedEntry(0x123456));
    f.Store(std::move(v));
    std::vector<Rec> recs = Records(f.Page(0));
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].text, "Unknown error 0x123456");
    EXPECT_EQ(recs[0].code, 0x1256u);
    EXPECT_TRUE(trace.Contains("Request long text message string via VELT ..."));
    f.Page(0);
    EXPECT_EQ(f.Sent(0x0B21), 2u);
    EXPECT_EQ(f.m.TextCaches().longText.Size(), 0u);

    // An answered but empty long text is cached, and the entry falls back all the same.
    Fixture empty(R"({"modules":[{"id":1,"answers":[{"oc":"0x0B21","da":""}]}]})");
    v.clear();
    v.push_back(UnifiedEntry(0x123456));
    empty.Store(std::move(v));
    EXPECT_EQ(Records(empty.Page(0))[0].text, "Unknown error 0x123456");
    EXPECT_EQ(Records(empty.Page(0))[0].text, "Unknown error 0x123456");
    EXPECT_EQ(empty.Sent(0x0B21), 1u);
}

TEST(CacheQueries, OldStyleCodeWithoutMessageGivesTheErrorLine) {
    Fixture f;
    auto e = std::make_unique<CMsgLogEntry>();
    e->rawSel = {0x77, 0x3E, 0, 2, 1, 0, 0, 0, 0, 0, 3, 0, 7, 0, 0, 0};
    e->errorCode = 0x3E77;
    std::vector<std::unique_ptr<CMsgLogEntry>> v;
    v.push_back(std::move(e));
    f.Store(std::move(v));
    EXPECT_EQ(Records(f.Page(0))[0].text, "ERROR 0x3E77 (0x0, 0x3, 0x7)");
    EXPECT_EQ(Records(f.Page(0, -1, 0xFFFFFFFF))[0].text, "ERROR 0x3E77 (0x0, 0x3, 0x7)");
}

TEST(CacheQueries, TextTooLongForTheRecordIsCutAtACharacterBoundary) {
    std::u16string euros(30000, u'\u20AC');  // 3 bytes each in UTF-8
    Fixture f;
    f.m.TextCaches().longText.Put({0x10, 0, 0}, euros);
    std::vector<std::unique_ptr<CMsgLogEntry>> v;
    v.push_back(UnifiedEntry(0x10));
    v.push_back(UnifiedEntry(0x10));
    f.Store(std::move(v));
    std::vector<Rec> recs = Records(f.Page(0));
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].length, 17u + 21839u * 3u);  // the most whole characters within 65535
    EXPECT_EQ(platform::Utf8ToUtf16(recs[0].text), euros.substr(0, 21839));
    EXPECT_EQ(recs[1].sequence, 1u);
}

}  // namespace
}  // namespace em
