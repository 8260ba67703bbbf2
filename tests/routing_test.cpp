// Request and reply routing: never-broadcast, translation and pass-down, multiple-module merges,
// events coming up.
#include <gtest/gtest.h>

#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "tests/support/scenario_util.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

using host::HostEvent;
using host::Scenario;
using host::SubstituteHost;

Scenario Parse(const std::string& json) { return test::ParseScenarioOrFail(json); }

// Modules answering one configuration value (0xE001 with the given extension) with these values.
std::string ConfigModules(uint32_t oe, std::vector<int> values) {
    std::string mods;
    int id = 1;
    for (int v : values) {
        if (!mods.empty()) mods += ",";
        mods += R"({"id":)" + std::to_string(id++) + R"(,"answers":[{"oc":"0xE001","oe":)" + std::to_string(oe) +
                (v < 0 ? R"(,"st":15}]})" : R"(,"da":)" + std::to_string(v) + "}]}");
    }
    return R"({"modules":[)" + mods + "]}";
}

// Runs one request through a module attached to a scenario's host (no start: no count pass).
struct Bench {
    explicit Bench(const std::string& json) : host(Parse(json)) { m.Attach(&host, 0x00FE0001); }
    CSipRecord Request(uint32_t oc, uint32_t oe, uint32_t oi = 0, uint32_t ca = 0) {
        CSipRecord r(oc, oe, oi, ca, kNoStatus);
        result = m.OnRequest(&r);
        return r;
    }
    uint32_t Data(const CSipRecord& r) {
        uint32_t v = 0xDEAD;
        r.GetDataUInt(r.Cur(), v);
        return v;
    }
    SubstituteHost host;
    CTarnelModule m;
    uint32_t result = 99;
};

TEST(MultiModule, PriorityListsPickTheFirstListedValueAnyModuleHas) {
    struct Case {
        uint32_t oe;
        std::vector<int> answers;
        uint32_t expect;
    } cases[] = {
        {0x31, {1, 3, 0}, 3}, {0x31, {1, 0}, 1}, {0x31, {2, 2}, 2}, {0x31, {0, 6}, 0},
        {0x11, {0, 1}, 1},    {0x11, {0, 2}, 0}, {0x77, {1, 0}, 1},  {0x31, {7}, 7},  // one reply: taken as it is
        {0x31, {-1, 4}, 4},  // a timed-out module takes no part
    };
    for (const Case& c : cases) {
        Bench b(ConfigModules(c.oe, c.answers));
        CSipRecord r = b.Request(0xE001, c.oe);
        EXPECT_EQ(b.result, 1u);
        EXPECT_EQ(r.Value(key::ST), 0u);
        EXPECT_EQ(b.Data(r), c.expect) << "OE 0x" << std::hex << c.oe;
        EXPECT_TRUE(r.GetCFlag());
    }
}

TEST(MultiModule, MinimaAndNoReplies) {
    test::TraceCapture trace(3);
    Bench three(ConfigModules(0x30, {5, 2, 2}));
    CSipRecord r = three.Request(0xE001, 0x30);
    EXPECT_EQ(three.Data(r), 2u);
    EXPECT_TRUE(trace.Contains("min reply data value found; return value = 2"));
    Bench wide(ConfigModules(0x32, {0x12345, 0x22345}));
    EXPECT_EQ(wide.Data(wide.Request(0xE001, 0x32)), 0x2345u);
    Bench none(ConfigModules(0x30, {-1}));
    CSipRecord n = none.Request(0xE001, 0x30);
    EXPECT_EQ(n.Value(key::ST), 0x13u);
    EXPECT_TRUE(trace.Contains("no replies, CmdStatus=0x13"));
    // No host at all: the priority list finds no reply either.
    CTarnelModule alone;
    CSipRecord q(0xE001, 0x11, 0, 0, kNoStatus);
    EXPECT_EQ(alone.OnRequest(&q), 1u);
    EXPECT_EQ(q.Value(key::ST), 0x13u);
}

TEST(MultiModule, OtherConfigurationValuesAndOpcodesPassBy) {
    test::TraceCapture trace(2);
    Bench b(ConfigModules(0x12, {1, 2}));
    CSipRecord r = b.Request(0xE001, 0x12);
    EXPECT_EQ(b.result, 0u);  // declined: ST 1, no C mark
    EXPECT_EQ(r.Value(key::ST), 1u);
    EXPECT_FALSE(r.GetCFlag());
    EXPECT_TRUE(trace.Contains("CM_ReadConfigurationSpace 0x0012"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL (RETURN)  : CABID 0000: OC 0xE001-0x0012 OID 0x0000 Stat 0x01 Len 0"));
    CSipRecord other = b.Request(0x0B22, 0);
    EXPECT_EQ(b.result, 0u);
    EXPECT_EQ(other.Value(key::ST), 1u);
}

TEST(MultiModule, ConfigurationWritesBySibling) {
    Bench b(R"({"modules":[{"id":1,"answers":[{"oc":"0xE002","st":4}]},{"id":2,"answers":[{"oc":"0xE002","st":24}]}]})");
    CSipRecord praxe = b.Request(0xE002, 0x1C05);
    EXPECT_EQ(b.result, 0u);
    EXPECT_EQ(praxe.Value(key::ST), 1u);
    CSipRecord murlo = b.Request(0xE002, 0);
    EXPECT_EQ(b.result, 1u);  // handled: ST 1 with the C mark
    EXPECT_EQ(murlo.Value(key::ST), 1u);
    EXPECT_TRUE(murlo.GetCFlag());
    CSipRecord kolver = b.Request(0xE002, 0x0315);
    EXPECT_EQ(b.result, 0u);
    EXPECT_FALSE(kolver.GetCFlag());
    CSipRecord failed = b.Request(0xE002, 0x0331);  // broadcast: both fail, 4 comes first
    EXPECT_EQ(b.result, 1u);
    EXPECT_EQ(failed.Value(key::ST), 4u);

    Bench ok(R"({"modules":[{"id":1,"answers":[{"oc":"0xE002","st":4}]},{"id":2,"answers":[{"oc":"0xE002","st":0}]}]})");
    EXPECT_EQ(ok.Request(0xE002, 0x40).Value(key::ST), 0u);
    CTarnelModule alone;
    CSipRecord w(0xE002, 0x40, 0, 0, kNoStatus);
    alone.OnRequest(&w);
    EXPECT_EQ(w.Value(key::ST), 6u);
}

TEST(MultiModule, BroadcastWriteAndLogClear) {
    Bench timeout(R"({"modules":[{"id":1,"answers":[{"oc":"0x0310","st":15}]},{"id":2,"answers":[{"oc":"0x0310","st":1}]}]})");
    EXPECT_EQ(timeout.Request(0x0310, 0).Value(key::ST), 0x0Fu);
    Bench none(R"({"modules":[{"id":1}]})");
    EXPECT_EQ(none.Request(0x0310, 0).Value(key::ST), 1u);
    EXPECT_EQ(none.Request(0x0B03, 0).Value(key::ST), 0x13u);

    Bench clear(R"({"modules":[{"id":1,"answers":[{"oc":"0x0B03","st":0}]}]})");
    clear.m.MsgLogCache().InitCabinet(0);
    CSipRecord r = clear.Request(0x0B03, 0);
    EXPECT_EQ(r.Value(key::ST), 0u);
    EXPECT_FALSE(r.CurrentCommand().HasMember(key::DA));
}

// An old-style entry with a time and an object index.
std::string EntryJson(uint32_t time, uint8_t group, uint16_t oid) {
    std::vector<int> b = {0x01, group, 0, 1, int(time & 0xFF), int((time >> 8) & 0xFF), 0, 0, 0, 0, oid & 0xFF, oid >> 8};
    std::string s;
    for (int v : b) s += (s.empty() ? "" : ",") + std::to_string(v);
    return s;
}

TEST(MultiModule, LogEntriesOfAllModulesMergeInTimeOrder) {
    std::string json = R"({"modules":[
        {"id":"0x10001","answers":[{"oc":"0x0B00","da":{"raw":[)" + EntryJson(5, 0x09, 1) + "," + EntryJson(9, 0x09, 2) +
                       R"(]}}]},
        {"id":"0x20001","answers":[{"oc":"0x0B00","da":{"raw":[)" + EntryJson(7, 0x09, 3) + R"(]}}]},
        {"id":"0x30001","answers":[{"oc":"0x0B00","st":1}]}]})";
    Bench b(json);
    CSipRecord r = b.Request(0x0B00, 0);
    EXPECT_EQ(b.result, 1u);
    EXPECT_EQ(r.Value(key::ST), 0u);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(r.GetDataBytes(r.Cur(), bytes));
    ASSERT_EQ(bytes.size(), 36u);
    EXPECT_EQ(bytes[4], 5);
    EXPECT_EQ(bytes[16], 7);
    EXPECT_EQ(bytes[28], 9);

    // A single reply comes back whole.
    Bench one(R"({"modules":[{"id":"0x10001","answers":[{"oc":"0x0B00","da":{"raw":[)" + EntryJson(5, 9, 1) + "]}}]}]}");
    CSipRecord single = one.Request(0x0B00, 0);
    EXPECT_EQ(single.CommandCount(), 1u);
    EXPECT_EQ(single.Value(key::MI), 0x10001u);
    EXPECT_EQ(single.GetDataLength(0), 12u);
}

TEST(RequestHandler, MappedRequestsAreTranslatedAndPassedDown) {
    test::TraceCapture trace(3);
    SubstituteHost host(Parse(R"({"modules":[
        {"id":"0x10001","name":"A","objects":{"0x0300":2}},{"id":"0x20001","name":"B","objects":{"0x0300":3}}]})"));
    CTarnelModule m;
    m.Start(&host, 0x00FE0001);
    CSipRecord r(0x0302, 0, 3, 0, kNoStatus);
    EXPECT_EQ(m.OnRequest(&r), 1u);
    EXPECT_TRUE(r.GetCFlag());
    EXPECT_EQ(r.Value(key::MI), 0x20001u);
    std::u16string text;
    EXPECT_TRUE(r.GetDataString(0, text, 0));
    EXPECT_EQ(text, u"B object 1");  // the owning module answered with its own index
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL (TRANSLAT): CABID 0000: OC 0x0302-0x0000 OID 0x0001 MID 0x00020001"));

    // The whole trace of one routed request, line by line.
    trace.Clear();
    {
        test::TraceCapture golden(5);
        CSipRecord g(0x0301, 0, 4, 0, kNoStatus);
        m.OnRequest(&g);
        EXPECT_EQ(golden.Utf8Lines(),
                  (std::vector<std::string>{
                      "\nEM_TARNEL (REQUEST) : CABID 0000: OC 0x0301-0x0000 OID 0x0004 MID 0x00000000",
                      "\nEM_TARNEL (TRANSLAT): CABID 0000: OC 0x0301-0x0000 OID 0x0002 MID 0x00020001",
                      // The answer comes back up through OnReply with the global index again.
                      "\nEM_TARNEL (REPLY)   : CABID 0000: OC 0x0301-0x0000 OID 0x0004 MID 0x00020001 Stat 0x00",
                      "\nEM_TARNEL (RETURN)  : CABID 0000: OC 0x0301-0x0000 OID 0x0004 Stat 0x00 Len 11"}));
    }

    CSipRecord count(0x0300, 0, 0, 0, kNoStatus);
    EXPECT_EQ(m.OnRequest(&count), 1u);
    EXPECT_FALSE(count.GetCFlag());  // answered here, not passed down
    uint32_t v = 0;
    EXPECT_TRUE(count.GetDataUInt(0, v));
    EXPECT_EQ(v, 5u);

    // The reply of a lower module comes up with the global index.
    CSipRecord reply(0x0302, 0, 1, 0, 0);
    reply.SetModuleId(0x20001);
    m.OnReply(&reply);
    EXPECT_EQ(reply.Value(key::OI), 3u);
    m.Stop();
}

// A host whose DeliverRecord records the status seen during the call.
struct EventHost : SubstituteHost {
    using SubstituteHost::SubstituteHost;
    uint32_t DeliverRecord(IExtensionModule* m, CSipRecord* r) override {
        seen_status = r->Value(key::ST);
        return SubstituteHost::DeliverRecord(m, r);
    }
    uint32_t seen_status = 0;
};

TEST(ReplyHandler, EventsAreForwardedAndLogClearEmptiesTheCache) {
    test::TraceCapture trace(2);
    EventHost host(Parse(R"({"modules":[{"id":1}]})"));
    CTarnelModule m;
    m.Attach(&host, 1);
    m.MsgLogCache().InitCabinet(2);

    CSipRecord plain(0x0401, 0, 0, 2, 0);
    m.OnReply(&plain);
    EXPECT_TRUE(host.Events().empty());
    CSipRecord noStatus(0x0401, 0, 0, 2, kNoStatus);
    m.OnReply(&noStatus);
    EXPECT_TRUE(trace.Contains("OID 0x0000 MID 0x00000000 Stat 0x16"));
    EXPECT_TRUE(host.Events().empty());

    CSipRecord cleared(0x0B03, 0, 0, 2, 255);
    cleared.SetModuleId(0x00050006);
    m.OnReply(&cleared);
    ASSERT_EQ(host.Events().size(), 1u);
    EXPECT_EQ(host.Events()[0].kind, HostEvent::Kind::ForwardEvent);
    EXPECT_TRUE(trace.Contains("Forward translated event from MID 0x00050006"));
}

TEST(ReplyHandler, NewEntriesBecomeA0B11EventWithTheFirstNewNumber) {
    EventHost host(Parse(R"({"modules":[{"id":1}]})"));
    CTarnelModule m;
    m.Attach(&host, 1);
    m.MsgLogCache().InitCabinet(2);
    auto event = [&](size_t n) {
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < n; ++i) {
            host::OldStyleEntry e;
            e.code = 0x0902;
            e.time = static_cast<uint32_t>(100 + i);
            auto b = host::EncodeOldStyle(e);
            bytes.insert(bytes.end(), b.begin(), b.end());
        }
        CSipRecord r(0x0B00, 0, 0, 2, 255);
        r.SetModuleId(0x00050006);
        r.SetReplyRaw(bytes, 255);
        m.OnReply(&r);
    };
    event(40);
    host.ClearEvents();
    event(3);
    auto events = host.Events();
    ASSERT_EQ(events.size(), 2u);  // the forwarded event, then the module's own
    EXPECT_EQ(events[1].kind, HostEvent::Kind::DeliverRecord);
    EXPECT_EQ(events[1].text, "CA=2 OC=0x0B11 ST=255 DA=41 (0x29)");
    EXPECT_EQ(host.seen_status, 255u);
    host.ClearEvents();
    event(0);  // nothing to store: no event of the module's own
    EXPECT_EQ(host.Events().size(), 1u);
}

TEST(ReplyHandler, ExceptionsAreContained) {
    test::TraceCapture trace(1);
    struct ThrowHost : SubstituteHost {
        using SubstituteHost::SubstituteHost;
        uint32_t ForwardEvent(IExtensionModule*, CSipRecord*, uint16_t, uint16_t) override {
            throw std::runtime_error("host failed");
        }
    } host(Parse(R"({"modules":[{"id":1}]})"));
    CTarnelModule m;
    m.Attach(&host, 1);
    CSipRecord ev(0x0B16, 0, 0, 3, 255);
    m.OnReply(&ev);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : CAB 0003: FATAL ERROR! EXCEPTION in Reply Handler at OpCode 0x0B16!"));
    EXPECT_EQ(trace.Count(std::string(96, '*')), 2u);
}

}  // namespace
}  // namespace em
