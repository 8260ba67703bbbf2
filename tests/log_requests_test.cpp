// The module's own message log opcodes, through OnRequest: cache waits, size requests, language
// checks, the supported-languages request, message texts from the caches and the C mark.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

host::Scenario Parse(const std::string& json) {
    host::Scenario s;
    std::string error;
    EXPECT_TRUE(host::ParseScenario(json, s, error)) << error;
    return s;
}

// A module attached to a host (no start: no worker, so queued tasks stay queued) with cabinet 0
// in the cache table, not yet ready.
struct Fixture {
    explicit Fixture(const std::string& json = R"({"modules":[{"id":1}]})") : host(Parse(json)) {
        m.Attach(&host, 0x00FE0001);
        m.MsgLogCache().InitCabinet(0);
        m.SetCacheWaitMs(20);
    }
    CSipRecord Request(uint32_t oc, uint32_t oe = 0, uint32_t oi = 0, int64_t da = -1, uint32_t ca = 0) {
        CSipRecord r(oc, oe, oi, ca, kNoStatus);
        if (da >= 0) r.SetDataUInt(r.CurrentCommand(), static_cast<uint32_t>(da));
        result = m.OnRequest(&r);
        return r;
    }
    void Ready() { m.MsgLogCache().SetCacheReady(0, true); }
    host::SubstituteHost host;
    CTarnelModule m;
    uint32_t result = 99;
};

uint32_t Number(const CSipRecord& r) {
    uint32_t v = 0xDEAD;
    r.GetDataUInt(r.Cur(), v);
    return v;
}

TEST(LogRequests, CacheSizeRequestsWaitForTheCabinet) {
    test::TraceCapture trace(3);
    Fixture f;
    for (uint32_t oc : {0x0B10u, 0x0B12u, 0x0B13u}) {
        CSipRecord r = f.Request(oc);
        EXPECT_EQ(f.result, 1u);
        EXPECT_EQ(r.Value(key::ST), 15u) << std::hex << oc;
        EXPECT_FALSE(r.GetCFlag());
    }
    EXPECT_EQ(trace.Count("\nEM_TARNEL           : ERROR! Timeout (120 sec) waiting for message log cache"), 3u);
    EXPECT_EQ(f.Request(0x0B13, 0, 0, -1, 5).Value(key::ST), 15u);  // a cabinet the cache does not know

    f.Ready();
    CSipRecord last = f.Request(0x0B12);
    EXPECT_EQ(last.Value(key::ST), 19u);  // nothing ever stored
    CSipRecord count = f.Request(0x0B13);
    EXPECT_EQ(count.Value(key::ST), 0u);
    EXPECT_EQ(Number(count), 0u);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ... message log cache is ready!"));

    std::vector<std::unique_ptr<CMsgLogEntry>> v;
    for (int i = 0; i < 3; ++i) v.push_back(std::make_unique<CMsgLogEntry>());
    f.m.MsgLogCache().StoreEntries(f.m.MsgLogCache().GetCabinet(0), v);
    f.m.MsgLogCache().ClearCabinet(0);
    EXPECT_EQ(Number(f.Request(0x0B12)), 3u);  // numbering survives the clear
    EXPECT_EQ(Number(f.Request(0x0B13)), 0u);

    CSipRecord empty = f.Request(0x0B10, 0, 0, 1);
    EXPECT_EQ(empty.Value(key::ST), 0u);
    EXPECT_FALSE(empty.HasData(0, 0, false));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Empty log cache"));
    EXPECT_FALSE(empty.GetCFlag());
}

TEST(LogRequests, EntriesRequestChecksTheLanguageFirst) {
    test::TraceCapture trace(1);
    Fixture f;
    f.m.SetCacheWaitMs(60000);  // a wait would show as a hang, not as a wrong answer
    CSipRecord r = f.Request(0x0B10, 0x00010409);
    EXPECT_EQ(r.Value(key::ST), 19u);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Language ID 0x409 not supported!"));
    f.m.SetCacheWaitMs(20);
    EXPECT_EQ(f.Request(0x0B10, 0).Value(key::ST), 15u);  // 0 and 0xFFFF pass and then wait
    EXPECT_EQ(f.Request(0x0B10, 0xFFFFFFFF).Value(key::ST), 15u);
}

TEST(LogRequests, AvailabilityAndRawSelQueueing) {
    test::TraceCapture trace(5);
    Fixture f;
    CSipRecord avail = f.Request(0x0B01);
    EXPECT_EQ(avail.Value(key::ST), 0u);
    EXPECT_EQ(Number(avail), 0u);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Message Log not available!"));
    f.m.SetMsgLogAvailable();
    EXPECT_EQ(Number(f.Request(0x0B01)), 1u);
    EXPECT_FALSE(avail.GetCFlag());

    CSipRecord raw = f.Request(0x0B19, 0, 0, 12);
    EXPECT_EQ(f.result, 1u);
    EXPECT_EQ(raw.Value(key::ST), 22u);
    EXPECT_FALSE(raw.GetCFlag());
    CSipRecord bad = f.Request(0x0B19);
    EXPECT_EQ(bad.Value(key::ST), 18u);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : ERROR! CM_LogMessageRaw - invalid request arguemnts!"));
    EXPECT_EQ(trace.Count("Task with priority 0 inserted into task queue!"), 1u);
}

TEST(LogRequests, SupportedLanguagesFromTheServerCabinet) {
    Fixture two(R"({"modules":[{"id":1,"answers":[{"oc":"0x0B20","da":{"raw":[9,4,7,4]}}]}]})");
    CSipRecord r = two.Request(0x0B20);
    EXPECT_EQ(r.Value(key::ST), 0u);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(r.GetDataBytes(0, bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{9, 4, 7, 4}));
    EXPECT_TRUE(r.GetCFlag());

    Fixture one(R"({"modules":[{"id":1,"answers":[{"oc":"0x0B20","da":{"raw":[9]}}]}]})");
    CSipRecord untouched = one.Request(0x0B20, 0, 0, 5);
    EXPECT_EQ(Number(untouched), 5u);
    EXPECT_EQ(untouched.GetCommandValue(0, key::ST, 1234), 1234u);
    EXPECT_TRUE(untouched.GetCFlag());

    Fixture none(R"({"modules":[{"id":1,"answers":[{"oc":"0x0B20","st":0}]}]})");
    CSipRecord cleared = none.Request(0x0B20, 0, 0, 5);
    EXPECT_EQ(cleared.Value(key::ST), 0u);
    EXPECT_FALSE(cleared.HasData(0, 0, false));

    CTarnelModule alone;  // no host: the lower request ends with ST 6
    CSipRecord lonely(0x0B20, 0, 0, 0, kNoStatus);
    EXPECT_EQ(alone.OnRequest(&lonely), 1u);
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
    c.summary.Put({0x2B, 7, 0}, u"");  // fetched once, nothing there

    auto text = [](const CSipRecord& r) {
        std::u16string t;
        r.GetDataString(r.Cur(), t, 0);
        return t;
    };
    auto list = [](const CSipRecord& r) {
        std::vector<std::u16string> l;
        r.GetDataStringList(r.Cur(), l);
        return l;
    };
    EXPECT_EQ(text(f.Request(0x0B21, 7, 0, 0x2A)), u"long");
    EXPECT_EQ(text(f.Request(0x0B23, 7, 0, 0x2A)), u"short");
    EXPECT_EQ(list(f.Request(0x0B1A, 7, 0, 0x2A)), (std::vector<std::u16string>{u"c0", u"c1"}));
    EXPECT_EQ(list(f.Request(0x0B17, 7, 0, 0x2A)), (std::vector<std::u16string>{u"r0", u""}));
    CSipRecord para = f.Request(0x0B24, 7, 1, 0x2A);
    EXPECT_EQ(text(para), u"c1");
    EXPECT_EQ(para.Value(key::ST), 0u);
    EXPECT_TRUE(para.GetCFlag());
    EXPECT_EQ(text(f.Request(0x0B25, 7, 0, 0x2A)), u"r0");
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           :     message[1] = \"c1\""));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Request message text for error code 0x00002A (Lang: 0x0007) ..."));

    // Known code, nothing to give: a paragraph beyond the list, an empty paragraph, an empty text.
    trace.Clear();
    for (auto [oc, oi, code] : {std::tuple{0x0B24u, 2u, 0x2Au}, {0x0B25u, 1u, 0x2Au}, {0x0B23u, 0u, 0x2Bu}}) {
        CSipRecord r = f.Request(oc, 7, oi, code);
        EXPECT_EQ(r.Value(key::ST), 19u) << std::hex << oc;
        EXPECT_TRUE(r.GetCFlag());
    }
    EXPECT_EQ(trace.Count("\nEM_TARNEL           :   requested message text(s) not found"), 3u);
    EXPECT_EQ(trace.Count("inserted into task queue"), 0u);

    // Another language, or no code at all.
    CSipRecord miss = f.Request(0x0B21, 9, 0, 0x2A);
    EXPECT_EQ(f.result, 1u);
    EXPECT_EQ(miss.Value(key::ST), 22u);
    EXPECT_TRUE(miss.GetCFlag());
    EXPECT_EQ(trace.Count("inserted into task queue"), 1u);
    CSipRecord no_code = f.Request(0x0B25, 7, 0);
    EXPECT_EQ(no_code.Value(key::ST), 18u);
    EXPECT_TRUE(no_code.GetCFlag());
    EXPECT_TRUE(trace.Contains(
        "\nEM_TARNEL           : ## ERROR! Invalid log message text request arguments (no error code supplied)!"));

    CSipRecord other = f.Request(0x0B22, 7, 0, 0x2A);  // not one of ours
    EXPECT_EQ(f.result, 0u);
    EXPECT_EQ(other.Value(key::ST), 1u);
}

}  // namespace
}  // namespace em
