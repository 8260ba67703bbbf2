// Request and reply routing: declining, translating and passing down, the multiple-module requests
// with their merges, the module's own message log requests, and events coming up.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <tuple>

#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "tests/support/down_host.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr int64_t kNone = -1;

// One lower module's reply: a status and, when given, a number or raw bytes.
struct Reply {
    Reply(uint32_t s, std::optional<uint64_t> n = {}, std::optional<Bytes> r = {}) : st(s), num(n), raw(std::move(r)) {}
    uint32_t st;
    std::optional<uint64_t> num;
    std::optional<Bytes> raw;
};

// The n-th lower module: 0x00010001, 0x00028001 (a low half with bit 15 set), 0x00030001, ...
uint32_t ModuleId(size_t n) { return n == 1 ? 0x00028001u : static_cast<uint32_t>((n + 1) << 16 | 1); }

// Lower modules of cabinet 0, each answering opcode oc with its reply and holding objects of 0x0400.
host::Scenario Answering(uint32_t oc, const std::vector<Reply>& replies, std::vector<uint32_t> objects = {}) {
    host::Scenario s;
    for (size_t i = 0; i < replies.size(); ++i) {
        host::LowerModule m{.id = ModuleId(i)};
        if (i < objects.size() && objects[i]) m.objects.push_back({0x0400, 0, objects[i]});
        host::Answer a{.oc = oc, .st = replies[i].st};
        if (replies[i].num) a.da.kind = host::Data::Kind::Number, a.da.number = *replies[i].num;
        if (replies[i].raw) a.da.kind = host::Data::Kind::Raw, a.da.raw = *replies[i].raw;
        m.answers.push_back(a);
        s.modules.push_back(m);
    }
    return s;
}

// A module attached to a host that records what goes down; cabinet 0 known to the cache.
struct Bench {
    explicit Bench(host::Scenario s = {}) : host(std::move(s)) {
        m.Attach(&host, 0x00FE0001);
        m.MsgLogCache().InitCabinet(0);
        m.SetCacheWaitMs(20);
    }
    CSipRecord Request(uint32_t oc, uint32_t oe = 0, std::optional<uint32_t> da = {}, uint32_t oi = 0, uint32_t ca = 0) {
        CSipRecord r(oc, oe, oi, ca, kNoStatus);
        if (da) r.SetDataUInt(r.CurrentCommand(), *da);
        result = m.OnRequest(&r);
        return r;
    }
    test::DownHost host;
    CTarnelModule m;
    uint32_t result = 99;
};

int64_t Number(const CSipRecord& r) {
    uint32_t v = 0;
    return r.GetDataUInt(r.Cur(), v) ? int64_t{v} : kNone;
}
uint32_t Status(const CSipRecord& r) { return r.GetCommandValue(r.Cur(), key::ST, 1234); }
Bytes Raw(const CSipRecord& r) {
    Bytes b;
    r.GetDataBytes(r.Cur(), b);
    return b;
}

void Fill(CTarnelModule& m, uint32_t ca, size_t n) {
    std::vector<std::unique_ptr<CMsgLogEntry>> v(n);
    for (auto& e : v) e = std::make_unique<CMsgLogEntry>();
    m.MsgLogCache().StoreEntries(m.MsgLogCache().GetCabinet(ca), v);
}

TEST(MultiModule, EachRequestIsBroadcastAndItsRepliesMergedByItsRule) {
    const Bytes wide{0x01, 0x80, 0x01};  // 0x018001 as raw bytes
    struct Row {
        uint32_t oc, oe;
        std::vector<Reply> replies;
        uint32_t result, st;
        int64_t da;        // of the answer; the request carries 5
        uint32_t timeout;  // of the one broadcast; 0: nothing goes down
    } rows[] = {
        // priority lists: the first listed value that some module has, else the fallback
        {0xE001, 0x31, {{0, 1}, {0, 3}, {0, 0}}, 1, 0, 3, 10000},
        {0xE001, 0x31, {{0, 4}, {0, 5}}, 1, 0, 5, 10000},
        {0xE001, 0x31, {{0, 3}, {0, 4}}, 1, 0, 4, 10000},
        {0xE001, 0x31, {{0, 1}, {0, 0}}, 1, 0, 1, 10000},
        {0xE001, 0x31, {{0, 0}, {0, 6}}, 1, 0, 0, 10000},
        {0xE001, 0x31, {{0, 2}, {0, 2}}, 1, 0, 2, 10000},
        {0xE001, 0x31, {{15}, {0, 0x1F3}}, 1, 0, 0xF3, 10000},  // one answer: its low byte
        {0xE001, 0x11, {{0, 0}, {0, 1}}, 1, 0, 1, 10000},
        {0xE001, 0x11, {{0, 0}, {0, 2}}, 1, 0, 0, 10000},
        {0xE001, 0x77, {{0, 0}, {0, 1}}, 1, 0, 1, 10000},
        {0xE001, 0x77, {{15}, {1}}, 1, 0x13, 5, 10000},  // 15 and 1 are no answers
        // minima: 0x30 its low byte, 0x32 its low 16 bits
        {0xE001, 0x30, {{0, 0x2F4}, {0, 0x1F3}, {0, 0x3F5}}, 1, 0, 0xF3, 10000},
        {0xE001, 0x32, {{0, 0x20000}, {0, {}, wide}}, 1, 0, 0x8001, 10000},
        {0xE001, 0x30, {{15}}, 1, 0x13, 5, 10000},
        {0xE001, 0x12, {{0, 1}}, 0, 1, 5, 0},  // not a merged value: declined
        // writes: any answer is success, else the failure passed on
        {0x0310, 0, {{1}, {0}}, 1, 0, kNone, 30000},
        {0x0310, 0, {{1}, {15}}, 1, 0x0F, kNone, 30000},
        {0x0310, 0, {{1}}, 1, 1, kNone, 30000},
        {0xE002, 0x0331, {{0x18}, {4}}, 1, 4, 5, 10000},
        {0xE002, 0x9C05, {{6}, {0x18}}, 1, 0x18, 5, 10000},
        {0xE002, 0x1D05, {{2}, {0x0C}}, 1, 0, 5, 10000},
        {0xE002, 0x0040, {{2}}, 1, 0x13, 5, 10000},
        // writes that belong to sibling modules are never broadcast
        {0xE002, 0x0070, {{0}}, 0, 1, 5, 0},
        {0xE002, 0x1C05, {{0}}, 0, 1, 5, 0},
        {0xE002, 0x0000, {{0}}, 1, 1, 5, 0},  // handled: ST 1 with the C mark
        {0xE002, 0x031F, {{0}}, 0, 1, 5, 0},
        {0xE002, 0x032F, {{0}}, 0, 1, 5, 0},
        // log clear: the cabinet's cache is emptied once some module answered
        {0x0B03, 0, {{2}, {0}}, 1, 0, kNone, 15000},
        {0x0B03, 0, {{2}}, 1, 0x13, 5, 15000},
    };
    for (const Row& row : rows) {
        char name[64];
        std::snprintf(name, sizeof name, row.oe ? "CA=0 OC=0x%04X OE=0x%04X MI=0xFFFFFFFF" : "CA=0 OC=0x%04X MI=0xFFFFFFFF",
                      row.oc, row.oe);
        SCOPED_TRACE(name);
        Bench b(Answering(row.oc, row.replies));
        Fill(b.m, 0, 3);
        CSipRecord r = b.Request(row.oc, row.oe, 5);
        EXPECT_EQ(std::tuple(b.result, Status(r), Number(r), r.GetCFlag()), std::tuple(row.result, row.st, row.da, row.result == 1));
        const uint32_t kept = row.oc == 0x0B03 && row.st == 0 ? 0 : 3;
        EXPECT_EQ(std::pair(b.m.MsgLogCache().GetEntryCount(0), b.m.MsgLogCache().GetLastSequenceNumber(0)), std::pair(kept, 3u));
        std::vector<std::string> down = b.host.Down();
        ASSERT_EQ(down.size(), row.timeout ? 1u : 0u);
        if (row.timeout) {
            EXPECT_EQ(down[0].rfind(name, 0), 0u) << down[0];
            EXPECT_EQ(b.host.Timeouts(), std::vector<uint32_t>{row.timeout});
        }
    }

    test::TraceCapture trace(3);
    Bench three(Answering(0xE001, {{0, 4}, {0, 5}, {0, 1}}));
    three.Request(0xE001, 0x31);
    Bench minimum(Answering(0xE001, {{0, 0x28001}, {0, 0x18001}}));
    minimum.Request(0xE001, 0x32);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL (MMR)     :   3 replies, use priority list; return value = 5"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL (MMR)     :   min reply data value found; return value = 32769"));
    CTarnelModule alone;  // no host: the failure of the broadcast is passed on
    for (auto [oc, oe, st] : {std::tuple{0xE002u, 0x40u, 6u}, {0x0B00u, 0u, 6u}}) {
        CSipRecord r(oc, oe, 0, 0, kNoStatus);
        EXPECT_EQ(alone.OnRequest(&r), 1u);
        EXPECT_EQ(Status(r), st) << std::hex << oc;
    }
}

TEST(MultiModule, TheBroadcastCarriesTheCallersCI) {
    Bench b(Answering(0x0310, {{0}}));
    CSipRecord r(0x0310, 0, 0, 0, kNoStatus), mistyped(r);
    r.SetCommandCI(77);
    auto& a = mistyped.Allocator();
    mistyped.CurrentCommand().AddMember(rapidjson::StringRef(key::CI), SipValue(u"77", a), a);
    b.m.OnRequest(&r);
    b.m.OnRequest(&mistyped);
    EXPECT_EQ(b.host.Down(), (std::vector<std::string>{"CA=0 OC=0x0310 MI=0xFFFFFFFF CI=77", "CA=0 OC=0x0310 MI=0xFFFFFFFF"}));
}

// Old-style entries of error group 0x05 (objects of 0x0400).
Bytes Entry(uint32_t time, uint16_t oid, uint16_t cabinet = 0, std::vector<uint32_t> args = {}, uint32_t code = 0x0501) {
    return host::EncodeOldStyle({.code = code, .time = time, .cabinet = cabinet, .oid = oid, .args = std::move(args), .text = {}});
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(MultiModule, LogEntriesOfAllModulesAreUnitedInTimeOrderWithGlobalObjectIndexes) {
    const uint32_t late = 0x01000000;
    const Bytes a5 = Entry(5, 1, 1), a_late = Entry(late, 0, 0, {0xAABBCCDD}), a_last = Entry(2 * late, 1);
    Bytes truncated = Entry(9, 0, 0, {1});
    truncated.resize(14);  // claims 16 bytes: not taken
    const Bytes fromA = Cat({a5, a_late, a_last}), fromB = Cat({Entry(7, 1), truncated});
    const Bytes all = Cat({a5, Entry(7, 3), a_late, a_last});  // B's object 1 is global object 3
    // The last reply's data, read as a number, limits the union to the newest entries.
    struct Case {
        Reply last;
        Bytes expect;
    } cases[] = {
        {{1}, all},
        {{0, 0x10001}, a_last},
        {{0, 0x8001}, all},
        {{0, {}, Entry(3, 0, 0, {}, 0x0001)}, a_last},  // its first bytes read as 1
    };
    for (const Case& c : cases) {
        test::TraceCapture trace(4);
        Bench b(Answering(0x0B00, {{0, {}, fromA}, {0, {}, fromB}, c.last}, {2, 2}));
        ASSERT_EQ(b.m.Start(&b.host, 0x00FE0001), 1u);
        CSipRecord r = b.Request(0x0B00, 0, 1);
        EXPECT_EQ(std::tuple(b.result, Status(r), Raw(r)), std::tuple(1u, 0u, c.expect));
        EXPECT_EQ(b.host.Down({"OC=0x0B00", "MI=0xFFFFFFFF"}).size(), 1u);
        EXPECT_EQ(b.host.Timeouts().back(), 150000u);
        EXPECT_TRUE(trace.Contains("got CM_LogEntry reply from MID 0x00028001 (DataLength=26)"));
        EXPECT_TRUE(trace.Contains("CM_LogEntry Oid's patched for reply from MID 0x00028001 (DataLength=26)"));
        b.m.Stop();
    }

    Bench one(Answering(0x0B00, {{0, {}, fromA}}));  // a single reply comes back whole
    CSipRecord single = one.Request(0x0B00, 0, 1);
    EXPECT_EQ(std::tuple(single.CommandCount(), single.Value(key::MI), Raw(single)), std::tuple(1u, 0x10001u, fromA));
    Bench shortOnes(Answering(0x0B00, {{0, {}, Bytes(11, 1)}, {0, 7}}));
    CSipRecord empty = shortOnes.Request(0x0B00, 0, 1);  // too short to hold an entry
    EXPECT_EQ(std::pair(Status(empty), empty.HasData(0, 0, false)), std::pair(0u, false));
}

TEST(RequestHandler, MappedRequestsAreTranslatedAndPassedDownToTheirModuleOnly) {
    test::TraceCapture trace(5);
    host::Scenario s = Answering(0xE002, {{0}, {0}});
    s.modules[0].objects = {{0x0300, 0, 2}};
    s.modules[1].objects = {{0x0300, 0, 3}};
    s.modules[1].name = "B";
    Bench b(s);
    ASSERT_EQ(b.m.Start(&b.host, 0x00FE0001), 1u);
    // Asked of its module by that module's own index, and back to the global one on the way up.
    trace.Clear();
    CSipRecord g(0x0301, 0, 4, 0, kNoStatus);
    g.SetModuleId(0x00038001);
    EXPECT_EQ(b.m.OnRequest(&g), 1u);
    EXPECT_TRUE(g.GetCFlag());
    EXPECT_EQ(trace.Utf8Lines(),
              (std::vector<std::string>{
                  "\nEM_TARNEL (REQUEST) : CABID 0000: OC 0x0301-0x0000 OID 0x0004 MID 0x00038001",
                  "\nEM_TARNEL (TRANSLAT): CABID 0000: OC 0x0301-0x0000 OID 0x0002 MID 0x00028001",
                  "\nEM_TARNEL (REPLY)   : CABID 0000: OC 0x0301-0x0000 OID 0x0004 MID 0x00028001 Stat 0x00",
                  "\nEM_TARNEL (RETURN)  : CABID 0000: OC 0x0301-0x0000 OID 0x0004 Stat 0x00 Len 11"}));
    // A mapped configuration write goes to its module only: translation comes before broadcasting.
    b.Request(0xE002, 0x71, 1, 3);
    EXPECT_EQ(b.host.Down({"OC=0xE002", "MI=0xFFFFFFFF"}).size(), 0u);
    EXPECT_EQ(b.host.Down({"OC=0xE002 OE=0x0071 OI=1 MI=0x00028001"}).size(), 1u);
    EXPECT_EQ(b.host.Timeouts().back(), 10000u);

    for (uint32_t oc : {0x0B22u, 0x0D00u}) {
        CSipRecord other = b.Request(oc);
        EXPECT_EQ(std::tuple(b.result, Status(other), other.GetCFlag()), std::tuple(0u, 1u, false));
    }
    EXPECT_EQ(b.m.OnRequest(nullptr), 0u);
    b.m.Stop();
}

// The global numbering of event entries is checked with the serving tests.
TEST(ReplyHandler, EventsAreForwardedLogClearsEmptyTheCacheNewEntriesAreAnnounced) {
    Bench b;
    b.m.MsgLogCache().InitCabinet(2);
    Fill(b.m, 2, 3);
    Fill(b.m, 0, 2);
    CSipRecord plain(0x0401, 0, 0, 2, 0), cleared(0x0B03, 0, 0, 2, 255);
    b.m.OnReply(&plain);
    cleared.SetModuleId(0x00028001);
    b.m.OnReply(&cleared);
    ASSERT_EQ(b.host.Events().size(), 1u);
    EXPECT_EQ(b.host.ForwardedIds(), std::vector<uint32_t>{0x00028001});
    auto& cache = b.m.MsgLogCache();
    EXPECT_EQ(std::tuple(cache.GetEntryCount(2), cache.GetLastSequenceNumber(2), cache.GetEntryCount(0)), std::tuple(0u, 3u, 2u));

    CSipRecord unified(0x0B16, 0, 0, 0, 255);  // announced with the first new number
    unified.SetReplyRaw(host::EncodeUnified({.code = 0x210105}), 255);
    b.m.OnReply(&unified);
    EXPECT_EQ(b.host.Delivered("OC=0x0B11"), std::vector<std::string>{"CA=0 OC=0x0B11 ST=255 DA=3 (0x3)"});
    CSipRecord own(0x0B11, 0, 0, 0, 0);  // handed up as an event, then given back as it came
    b.m.DeliverAsEvent(own);
    EXPECT_EQ(std::pair(b.host.Delivered("OC=0x0B11 ST=255").size(), Status(own)), std::pair(size_t{2}, 0u));
}

TEST(LogRequests, CacheRequestsWaitForTheCacheAndCheckTheLanguage) {
    Bench b;
    test::TraceCapture trace(3);
    for (uint32_t oc : {0x0B10u, 0x0B12u, 0x0B13u}) EXPECT_EQ(Status(b.Request(oc)), 15u) << std::hex << oc;
    EXPECT_EQ(trace.Count("Wait until message log cache is ready ..."), 3u);
    EXPECT_EQ(Status(b.Request(0x0B10, 0x0001FFFF)), 15u);  // the language is the low 16 bits
    EXPECT_EQ(Status(b.Request(0x0B13, 0, {}, 0, 5)), 15u);  // a cabinet not known
    b.m.SetCacheWaitMs(60000);  // a wait would show as a hang
    EXPECT_EQ(Status(b.Request(0x0B10, 0x00010409)), 19u);

    b.m.MsgLogCache().SetCacheReady(0, true);
    EXPECT_EQ(Status(b.Request(0x0B12)), 19u);  // nothing ever stored
    Fill(b.m, 0, 3);
    b.m.MsgLogCache().ClearCabinet(0);
    EXPECT_EQ(Number(b.Request(0x0B12)), 3);
    CSipRecord count = b.Request(0x0B13);
    EXPECT_EQ(std::pair(Status(count), Number(count)), std::pair(0u, int64_t{0}));
    for (uint32_t oe : {0u, 0xFFFFu}) {
        CSipRecord empty = b.Request(0x0B10, oe, 1);
        EXPECT_EQ(Status(empty), 0u);
        EXPECT_FALSE(empty.HasData(0, 0, false) || empty.GetCFlag());
    }
}

TEST(LogRequests, AvailabilityRawSelAndSupportedLanguages) {
    Bench b;
    EXPECT_EQ(Number(b.Request(0x0B01)), 0);
    b.m.SetMsgLogAvailable();
    CSipRecord avail = b.Request(0x0B01);
    EXPECT_EQ(std::tuple(b.result, Status(avail), Number(avail), avail.GetCFlag()), std::tuple(1u, 0u, int64_t{1}, false));
    CSipRecord raw(0x0B19, 0, 0, 0, kNoStatus);
    raw.SetReplyRaw({1, 0, 0, 0}, kNoStatus);
    b.m.OnRequest(&raw);
    EXPECT_EQ(Status(raw), 22u);
    EXPECT_EQ(Status(b.Request(0x0B19)), 18u);

    // The languages are asked of the server's cabinet; at least two bytes are taken as they are.
    for (auto [lower, st, da] : {std::tuple{Reply{0, {}, Bytes{9, 4}}, 0u, Bytes{9, 4}},
                                 {Reply{0, {}, Bytes{9}}, 1234u, Bytes{5}},  // too short: left as it came
                                 {Reply{0}, 0u, Bytes{}},                    // no data: an empty answer
                                 {Reply{1}, 19u, Bytes{5}}}) {
        Bench l(Answering(0x0B20, {lower}));
        CSipRecord r = l.Request(0x0B20, 0, 5);
        EXPECT_EQ(std::tuple(Status(r), Raw(r), r.GetCFlag()), std::tuple(st, da, true));
        EXPECT_EQ(l.host.Down(), std::vector<std::string>{"CA=0 OC=0x0B20 ST=22"});
        EXPECT_EQ(l.host.Timeouts(), std::vector<uint32_t>{10000});
    }
}

// The text caches' answers for each opcode are in the text task tests; here the codes and
// paragraphs the caches cannot answer.
TEST(LogRequests, MessageTextsFromTheTextCachesOrQueued) {
    Bench b;
    CTextCaches& c = b.m.TextCaches();
    c.causes.Put({0x2A, 7, 0}, {u"c0", u"c1"});
    c.resolutions.Put({0x2A, 7, 0}, {u"r0", u""});
    c.summary.Put({0, 7, 0}, u"zero");
    CSipRecord r(0x0B24, 7, 1, 0, kNoStatus);
    r.SetReplyRaw({0x2A, 0, 0}, kNoStatus);  // the error code may come as raw bytes
    EXPECT_EQ(b.m.OnRequest(&r), 1u);
    std::u16string text;
    r.GetDataString(0, text, 0);
    EXPECT_EQ(std::tuple(text, Status(r), r.GetCFlag()), std::tuple(u"c1", 0u, true));
    CSipRecord textCode(0x0B23, 7, 0, 0, kNoStatus);  // a code that is no number reads as 0
    textCode.SetDataString(textCode.CurrentCommand(), u"x");
    b.m.OnRequest(&textCode);
    EXPECT_EQ(Status(textCode), 0u);
    // A paragraph beyond the list, or an empty one: the code is known, there is nothing to give.
    EXPECT_EQ(Status(b.Request(0x0B24, 7, 0x2A, 2)), 19u);
    EXPECT_EQ(Status(b.Request(0x0B25, 7, 0x2A, 1)), 19u);

    CSipRecord miss = b.Request(0x0B21, 9, 0x2A), noCode = b.Request(0x0B25, 7);  // another language
    EXPECT_EQ(std::tuple(Status(miss), miss.GetCFlag(), Status(noCode), noCode.GetCFlag()), std::tuple(22u, true, 18u, true));
}

}  // namespace
}  // namespace em
