// The module's own message log opcodes through OnRequest: cache waits and sizes, the language
// check, raw SEL queueing, supported languages, message texts from the text caches, the C mark.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/tarnel_module.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

// A module attached to a host, not started (queued tasks stay queued), with cabinet 0 known to
// the cache but not ready.
struct Fixture {
    explicit Fixture(const std::string& answers = "") : host(Parse(answers)) {
        m.Attach(&host, 0x00FE0001);
        m.MsgLogCache().InitCabinet(0);
        m.SetCacheWaitMs(20);
    }
    static host::Scenario Parse(const std::string& answers) {
        host::Scenario s;
        std::string error;
        EXPECT_TRUE(host::ParseScenario(R"({"modules":[{"id":1,"answers":[)" + answers + "]}]}", s, error)) << error;
        return s;
    }
    CSipRecord Request(uint32_t oc, uint32_t oe = 0, uint32_t oi = 0, int64_t da = -1, uint32_t ca = 0) {
        CSipRecord r(oc, oe, oi, ca, kNoStatus);
        if (da >= 0) r.SetDataUInt(r.CurrentCommand(), static_cast<uint32_t>(da));
        EXPECT_EQ(m.OnRequest(&r), 1u) << std::hex << oc;
        return r;
    }
    host::SubstituteHost host;
    CTarnelModule m;
};

uint32_t Number(const CSipRecord& r) {
    uint32_t v = 0xDEAD;
    r.GetDataUInt(r.Cur(), v);
    return v;
}

TEST(LogRequests, CacheRequestsWaitAndCheckTheLanguage) {
    test::TraceCapture trace(1);
    Fixture f;
    for (uint32_t oc : {0x0B10u, 0x0B12u, 0x0B13u}) EXPECT_EQ(f.Request(oc).Value(key::ST), 15u) << std::hex << oc;
    EXPECT_EQ(f.Request(0x0B13, 0, 0, -1, 5).Value(key::ST), 15u);  // a cabinet the cache does not know
    EXPECT_EQ(trace.Count("ERROR! Timeout (120 sec) waiting for message log cache"), 4u);

    f.m.SetCacheWaitMs(60000);  // a wait would show as a hang
    EXPECT_EQ(f.Request(0x0B10, 0x00010409).Value(key::ST), 19u);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Language ID 0x409 not supported!"));

    f.m.MsgLogCache().SetCacheReady(0, true);
    EXPECT_EQ(f.Request(0x0B12).Value(key::ST), 19u);  // nothing ever stored
    std::vector<std::unique_ptr<CMsgLogEntry>> v(3);
    for (auto& e : v) e = std::make_unique<CMsgLogEntry>();
    f.m.MsgLogCache().StoreEntries(f.m.MsgLogCache().GetCabinet(0), v);
    f.m.MsgLogCache().ClearCabinet(0);
    CSipRecord last = f.Request(0x0B12), count = f.Request(0x0B13);
    EXPECT_EQ(Number(last), 3u);
    EXPECT_EQ(Number(count), 0u);
    EXPECT_EQ(count.Value(key::ST), 0u);
    for (uint32_t oe : {0u, 0xFFFFu}) {
        CSipRecord empty = f.Request(0x0B10, oe, 0, 1);
        EXPECT_EQ(empty.Value(key::ST), 0u);
        EXPECT_FALSE(empty.HasData(0, 0, false));
        EXPECT_FALSE(empty.GetCFlag());
    }
    EXPECT_EQ(trace.Count("\nEM_TARNEL           : Empty log cache"), 2u);
}

TEST(LogRequests, AvailabilityRawSelAndLanguages) {
    test::TraceCapture trace(5);
    Fixture f(R"({"oc":"0x0B20","da":{"raw":[9,4,7,4]}})");
    EXPECT_EQ(Number(f.Request(0x0B01)), 0u);
    f.m.SetMsgLogAvailable();
    CSipRecord avail = f.Request(0x0B01);
    EXPECT_EQ(Number(avail), 1u);
    EXPECT_FALSE(avail.GetCFlag());

    EXPECT_EQ(f.Request(0x0B19, 0, 0, 12).Value(key::ST), 22u);
    EXPECT_EQ(f.Request(0x0B19).Value(key::ST), 18u);
    EXPECT_EQ(trace.Count("Task with priority 0 inserted into task queue!"), 1u);

    CSipRecord langs = f.Request(0x0B20);
    std::vector<uint8_t> bytes;
    langs.GetDataBytes(0, bytes);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{9, 4, 7, 4}));
    EXPECT_TRUE(langs.GetCFlag());
    Fixture one(R"({"oc":"0x0B20","da":{"raw":[9]}})");
    CSipRecord untouched = one.Request(0x0B20, 0, 0, 5);
    EXPECT_EQ(Number(untouched), 5u);
    EXPECT_EQ(untouched.GetCommandValue(0, key::ST, 1234), 1234u);
    CTarnelModule alone;  // no host
    CSipRecord lonely(0x0B20, 0, 0, 0, kNoStatus);
    alone.OnRequest(&lonely);
    EXPECT_EQ(lonely.Value(key::ST), 19u);
}

TEST(LogRequests, MessageTextsFromTheCaches) {
    test::TraceCapture trace(5);
    Fixture f;
    CTextCaches& c = f.m.TextCaches();
    c.longText.Put({0x2A, 7, 0}, u"long");
    c.summary.Put({0x2A, 7, 0}, u"short");
    c.causes.Put({0x2A, 7, 0}, {u"c0", u"c1"});
    c.resolutions.Put({0x2A, 7, 0}, {u"r0", u""});
    using P = std::vector<std::u16string>;
    for (auto [oc, oi, text, list] : {std::tuple{0x0B21u, 0u, u"long", P{}}, {0x0B23u, 0u, u"short", P{}},
                                      {0x0B1Au, 0u, u"", P{u"c0", u"c1"}}, {0x0B17u, 0u, u"", P{u"r0", u""}},
                                      {0x0B24u, 1u, u"c1", P{}}, {0x0B25u, 0u, u"r0", P{}}}) {
        CSipRecord r = f.Request(oc, 7, oi, 0x2A);
        std::u16string t;
        P l;
        r.GetDataString(0, t, 0);
        r.GetDataStringList(0, l);
        EXPECT_EQ(t, text) << std::hex << oc;
        EXPECT_EQ(l, list) << std::hex << oc;
        EXPECT_EQ(r.Value(key::ST), 0u);
        EXPECT_TRUE(r.GetCFlag());
    }
    // A paragraph beyond the list, or an empty one: known code, nothing to give.
    EXPECT_EQ(f.Request(0x0B24, 7, 2, 0x2A).Value(key::ST), 19u);
    EXPECT_EQ(f.Request(0x0B25, 7, 1, 0x2A).Value(key::ST), 19u);
    EXPECT_EQ(trace.Count("\nEM_TARNEL           :   requested message text(s) not found"), 2u);
    EXPECT_EQ(trace.Count("inserted into task queue"), 0u);

    CSipRecord miss = f.Request(0x0B21, 9, 0, 0x2A);  // another language
    EXPECT_EQ(miss.Value(key::ST), 22u);
    EXPECT_TRUE(miss.GetCFlag());
    EXPECT_EQ(trace.Count("inserted into task queue"), 1u);
    CSipRecord no_code = f.Request(0x0B25, 7, 0);
    EXPECT_EQ(no_code.Value(key::ST), 18u);
    EXPECT_TRUE(no_code.GetCFlag());
}

}  // namespace
}  // namespace em
