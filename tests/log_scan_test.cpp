// Message log scans and fills against simulated lower modules.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "msglog/log_scan_records.h"
#include "tests/log_scan_data.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

using namespace test;

struct ScanFixture {
    explicit ScanFixture(const std::string& json) : host(Parse(json)) {
        m.Attach(&host, 0x00FE0001);
        m.MsgLogCache().InitCabinet(0);
    }
    std::vector<CMsgLogEntry> Entries() {
        std::vector<CMsgLogEntry> out;
        CCabinetLogCache* c = m.MsgLogCache().GetCabinet(0, false);
        CMsgLogEntry e;
        for (uint32_t i = 0; c && c->CopyEntryAt(i, e); ++i) out.push_back(e);
        return out;
    }
    std::vector<uint32_t> Times() {
        std::vector<uint32_t> t;
        for (const auto& e : Entries()) t.push_back(e.timestamp);
        return t;
    }
    bool Ready() { return m.MsgLogCache().WaitCacheReady(0, 0); }
    CountingHost host;
    CTarnelModule m;
};

constexpr uint32_t kA = 0x10001, kB = 0x20001, kC = 0x30001;
constexpr uint32_t kLogEntry = 0x0B00, kArgsRead = 0x0B16;

// ---- scans ----

TEST(LogScan, UnifiedBeforeErrorLogBeforeEventLog) {
    // A speaks the unified form; B and C answer the old-style logs. The event log holds the
    // oldest entries, yet numbering follows the reading order.
    ScanFixture f(Scenario({
        Mod(kA, {Ans(kArgsRead, Raw(Cat({Unified(0x123456, 500, {"x"}), Unified(0x1, 400, {})})))}),
        Mod(kB, {Ans(kLogEntry, Raw(Cat({Sel(0x0101, 5), Sel(0x0101, 9)})), 0, 0),
                 Ans(kLogEntry, Raw(Sel(0x0102, 2)), 0, 1)}),
        Mod(kC, {Ans(kLogEntry, Raw(Cat({Sel(0x0101, 7), Sel(0x0101, 0), Sel(0x0101, 8)})), 0, 0),
                 Ans(kLogEntry, Raw(Sel(0x0102, 1)), 0, 1)}),
    }));
    EXPECT_FALSE(f.m.MsgLogAvailable());
    f.m.RunLogScan(0);
    EXPECT_TRUE(f.Ready());
    EXPECT_TRUE(f.m.MsgLogAvailable());
    // Unified as sent (one reply keeps its order); error log of B and C merged (5,9 / 7,0,8);
    // event log 2 / 1 merged.
    EXPECT_EQ(f.Times(), (std::vector<uint32_t>{500, 400, 5, 7, 0, 8, 9, 1, 2}));
    auto e = f.Entries();
    ASSERT_EQ(e.size(), 9u);
    for (uint32_t i = 0; i < e.size(); ++i) EXPECT_EQ(e[i].sequenceNumber, i + 1);
    EXPECT_EQ(e[0].oldStyle, 0u);
    EXPECT_EQ(e[2].moduleId, kB);
    EXPECT_EQ(e[3].moduleId, kC);
    EXPECT_EQ(e[8].moduleId, kB);
    // A answered the unified read and is not asked the old way.
    EXPECT_EQ(f.host.Sent(kLogEntry), 4u);
}

TEST(LogScan, EqualTimesKeepReplyOrder) {
    ScanFixture f(Scenario({
        Mod(kC, {Ans(kLogEntry, Raw(Cat({Sel(0x0101, 3, 1), Sel(0x0101, 4, 1)})), 0, 0)}),
        Mod(kB, {Ans(kLogEntry, Raw(Cat({Sel(0x0101, 3, 2), Sel(0x0101, 4, 2)})), 0, 0)}),
    }));
    f.m.RunLogScan(0);
    std::vector<uint32_t> modules;
    for (const auto& e : f.Entries()) modules.push_back(e.moduleId);
    EXPECT_EQ(modules, (std::vector<uint32_t>{kC, kB, kC, kB}));
}

TEST(LogScan, FailuresAreTracedAndSkipped) {
    test::TraceCapture trace(2);
    ScanFixture f(Scenario({
        Mod(kA, {Ans(kLogEntry, "", 15, 0), Ans(kLogEntry, "", 0, 1)}),  // error log times out, event log empty
        Mod(kB, {Ans(kLogEntry, Raw(Sel(0x0101, 1)), 0, 0), Ans(kLogEntry, "", 0x13, 1)}),
    }));
    f.m.RunLogScan(0);
    EXPECT_EQ(f.Entries().size(), 1u);
    EXPECT_TRUE(trace.Contains("MID 0x00010001: ## CM_LogEntry (CMOID_CriticalErrorLog) - TIMEOUT!! ##"));
    EXPECT_TRUE(trace.Contains("MID 0x00010001: CM_LogEntry (CMOID_NonCriticalMessageLog) - no data"));
    EXPECT_TRUE(trace.Contains("MID 0x00020001: CM_LogEntry (CMOID_CriticalErrorLog) - 12 data bytes"));
    EXPECT_TRUE(trace.Contains("MID 0x00020001: CM_LogEntry (CMOID_NonCriticalMessageLog) - not supported"));
    EXPECT_TRUE(f.m.MsgLogAvailable());
}

TEST(LogScan, NoHostOrNoModulesLeavesAReadyEmptyCache) {
    CTarnelModule m;
    m.MsgLogCache().InitCabinet(4);
    m.RunLogScan(4);
    EXPECT_TRUE(m.MsgLogCache().WaitCacheReady(4, 0));
    EXPECT_EQ(m.MsgLogCache().GetEntryCount(4), 0u);
    EXPECT_FALSE(m.MsgLogAvailable());

    ScanFixture f(Scenario({Mod(kA, {}, R"(,"cabinet":1)")}));  // cabinet 0 has no module: 0 replies
    f.m.RunLogScan(0);
    EXPECT_TRUE(f.Ready());
    EXPECT_EQ(f.host.Sent(kLogEntry), 0u);
    EXPECT_FALSE(f.m.MsgLogAvailable());
}

TEST(LogScan, ExceptionEndsTheScanButKeepsEntriesAndSetsReady) {
    test::TraceCapture trace(1);
    ScanFixture f(Scenario({
        Mod(kA, {Ans(kArgsRead, Raw(Unified(0x10, 5, {})))}),
        Mod(kB, {R"({"oc":2816,"throw":true})"}),
    }));
    f.m.RunLogScan(0);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : EXCEPTION during message log scan"));
    EXPECT_TRUE(f.Ready());
    EXPECT_EQ(f.Entries().size(), 1u);
}

TEST(LogScan, SetReadyFailureIsTraced) {
    test::TraceCapture trace(1);
    CTarnelModule m;  // cabinet 9 never initialised: nothing to set
    m.RunLogScan(9);
    EXPECT_TRUE(trace.Contains("ERROR! FAILED to set \"Cache Ready\" event for cabinet number 9"));
}

// ---- bad log data ----

TEST(LogScan, LyingLogData) {
    // A length that cannot be trusted ends the reply's parse; a record whose own length is sound
    // but whose strings run past it is skipped and the next record is read.
    Bytes cut_old = Cat({Sel(0x0101, 1), Sel(0x0101, 2, 0, 3)});
    cut_old.resize(cut_old.size() - 3);  // second entry (20 bytes) cut in the middle
    Bytes zero_len = Cat({Unified(0x10, 1, {"a"}), Unified(0x11, 2, {}), Unified(0x12, 3, {})});
    PutU16(zero_len, zero_len.size() - 52, 0);
    Bytes past_end = Cat({Unified(0x20, 1, {}), Unified(0x21, 2, {"abc"})});
    PutU16(past_end, 26, 200);
    Bytes below_head = Cat({Unified(0x30, 1, {}), Unified(0x31, 2, {}), Unified(0x32, 3, {})});
    PutU16(below_head, 26, 4);
    Bytes head_cut = Cat({Unified(0x50, 1, {}), Bytes(20, 1)});
    // Four records, the second one bad inside: its last argument lost its terminator, or it
    // counts more arguments than it holds.
    Bytes unterminated = Unified(0x41, 2, {"ok", "open"});
    unterminated.back() = 'x';
    Bytes count_high = Unified(0x41, 2, {"one"});
    count_high[25] = 3;
    auto four = [](const Bytes& second) {
        return Cat({Unified(0x40, 1, {"a"}), second, Unified(0x42, 3, {"b"}), Unified(0x43, 4, {})});
    };
    Bytes bad_last = Cat({Unified(0x40, 1, {}), unterminated});
    // Counts as high as they go: a text entry of 255 words (1028 bytes) in 100 bytes, and a
    // record of 255 one-letter arguments, all present.
    Bytes long_text = Cat({Sel(0x0101, 1), Sel(0x3F00, 2, 0, 255)});
    long_text.resize(112);
    std::vector<std::string> letters(255, "z");

    struct Case {
        const char* what;
        std::string scenario;
        std::vector<uint32_t> kept;  // times of the entries stored
        const char* warning;         // the level-1 line, or none
    } cases[] = {
        {"old-style entry cut", Scenario({Mod(kA, {Ans(kLogEntry, Raw(cut_old), 0, 0)})}), {1},
         "MID 0x00010001: log entry cut off at offset 12 (17 bytes left)"},
        {"fewer than 12 bytes", Scenario({Mod(kA, {Ans(kLogEntry, Raw(Bytes(11, 1)), 0, 0)})}), {}, nullptr},
        {"length 0", Scenario({Mod(kA, {Ans(kArgsRead, Raw(zero_len))})}), {1},
         "MID 0x00010001: bad log record length at offset 28 (52 bytes left)"},
        {"length past the data", Scenario({Mod(kA, {Ans(kArgsRead, Raw(past_end))})}), {1}, "bad log record length at offset 26"},
        {"length below the head", Scenario({Mod(kA, {Ans(kArgsRead, Raw(below_head))})}), {1}, "bad log record length at offset 26"},
        {"record head cut", Scenario({Mod(kA, {Ans(kArgsRead, Raw(head_cut))})}), {1}, "bad log record length at offset 26 (20 bytes left)"},
        {"argument without terminator", Scenario({Mod(kA, {Ans(kArgsRead, Raw(four(unterminated)))})}), {1, 3, 4},
         "MID 0x00010001: log record 0x000041 at offset 28 skipped: its strings run past its 34 bytes"},
        {"argument count too high", Scenario({Mod(kA, {Ans(kArgsRead, Raw(four(count_high)))})}), {1, 3, 4}, "skipped"},
        {"last record bad inside", Scenario({Mod(kA, {Ans(kArgsRead, Raw(bad_last))})}), {1}, "skipped"},
        {"255 words in 100 bytes", Scenario({Mod(kA, {Ans(kLogEntry, Raw(long_text), 0, 0)})}), {1},
         "log entry cut off at offset 12 (100 bytes left)"},
        {"255 arguments", Scenario({Mod(kA, {Ans(kArgsRead, Raw(four(Unified(0x41, 2, letters))))})}), {1, 2, 3, 4},
         nullptr},
        {"fewer than 26 bytes", Scenario({Mod(kA, {Ans(kArgsRead, Raw(Bytes(25, 30)))})}), {}, nullptr},
        {"number instead of bytes", Scenario({Mod(kA, {Ans(kArgsRead, "4000000000")})}), {}, nullptr},
        {"text instead of bytes", Scenario({Mod(kA, {Ans(kLogEntry, R"("short text")", 0, 0)})}), {}, nullptr},
        {"broadcast answered without data", Scenario({Mod(kA, {Ans(kArgsRead, "")})}), {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScanFixture f(c.scenario);
        test::TraceCapture trace(1);
        f.m.RunLogScan(0);
        EXPECT_TRUE(f.Ready());
        EXPECT_EQ(f.Times(), c.kept);
        EXPECT_EQ(trace.Count("WARNING!"), c.warning ? 1u : 0u);
        if (c.warning) {
            EXPECT_TRUE(trace.Contains(c.warning));
        }
        EXPECT_TRUE(f.m.MsgLogAvailable());
    }
}

TEST(LogScan, EmptyArgumentEndsTheList) {
    ScanFixture f(Scenario({Mod(kA, {Ans(kArgsRead, Raw(Unified(0xABCDEF, 77, {"one", "", "three"}, 0x3)))})}));
    f.m.RunLogScan(0);
    auto e = f.Entries();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].stringArgs, (std::map<uint32_t, std::u16string>{{1, u"one"}}));
    EXPECT_EQ(e[0].errorCode, 0xABCDEFu);
    EXPECT_EQ(e[0].flags, 3u);
    EXPECT_EQ(e[0].selRecordId, 0x1000u + 77);
    EXPECT_EQ(e[0].platformId, 2u);
    EXPECT_EQ(e[0].entryClass, 3u);
    EXPECT_EQ(e[0].moduleId, kA);
    EXPECT_FALSE(e[0].HasRawSel());
}

TEST(LogScan, OldStyleEntryLengths) {
    // n = 0 and n = 17 take 12 bytes; 0x3F00 with n = 20 takes 88.
    Bytes data = Cat({Sel(0x0101, 1, 0, 0), Sel(0x0101, 2, 0, 17), Sel(0x3F00, 3, 0, 20), Sel(0x0101, 4, 0, 3)});
    ASSERT_EQ(data.size(), 12u + 12 + 88 + 20);
    ScanFixture f(Scenario({Mod(kA, {Ans(kLogEntry, Raw(data), 0, 0)})}));
    f.m.RunLogScan(0);
    std::vector<size_t> sizes;
    for (const auto& e : f.Entries()) sizes.push_back(e.rawSel.size());
    EXPECT_EQ(sizes, (std::vector<size_t>{12, 12, 88, 20}));
    auto e = Sel(0x0101, 4, 0, 3, 7, 2);
    EXPECT_EQ(OldStyleEntryAt(e, 0), 20u);
    CMsgLogEntry out;
    FillOldStyleEntry(e.data(), e.size(), 5, out);
    EXPECT_EQ(out.errorCode, 0x0101u);
    EXPECT_EQ(out.entryClass, 2u);
    EXPECT_EQ(out.selRecordId, 0xFFFFFFFFu);
    EXPECT_EQ(ObjectKey(OldStyleKeyOf(e.data())), u"0101000007");
}

// ---- CSS and designation lookups ----

TEST(LogScan, LookupTables) {
    EXPECT_EQ(CssRequestOpcode(0x04), 0x0307u);
    EXPECT_EQ(CssRequestOpcode(0x1C), 0x2114u);
    EXPECT_EQ(CssRequestOpcode(0x05), 0u);
    EXPECT_EQ(DesignationOpcode(0x19, 0x28), 0x0752u);
    EXPECT_EQ(DesignationOpcode(0x19, 0x77), 0x0702u);   // group alone: its first row
    EXPECT_EQ(DesignationOpcode(0x36, 0x05), 0xF042u);
    EXPECT_EQ(DesignationOpcode(0x36, 0x0B), kNoRequestOpcode);
    EXPECT_EQ(DesignationOpcode(0x3E, 0x00), kNoRequestOpcode);
}

TEST(LogScan, CssAndDesignationAskedOncePerObjectKeyWhenAnswered) {
    // Two entries for object 3 of group 0x04, one for object 4; group 0x36/0x0B has no designation.
    Bytes data = Cat({Sel(0x0400, 1, 3), Sel(0x0400, 2, 3), Sel(0x0400, 3, 4), Sel(0x360B, 4, 3)});
    ScanFixture f(Scenario({Mod(kA, {Ans(kLogEntry, Raw(data), 0, 0), Ans(0x0307, "1"),
                                     Ans(0x0304, R"("Fan 3")")})}));
    f.m.RunLogScan(0);
    EXPECT_EQ(f.host.Sent(0x0307), 2u);
    EXPECT_EQ(f.host.Sent(0x0304), 2u);
    EXPECT_EQ(f.host.Sent(0xF042), 0u);
    auto e = f.Entries();
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[1].flags, 1u);
    EXPECT_EQ(e[1].stringArgs.at(0), u"Fan 3");
    EXPECT_EQ(e[3].flags, 0u);
    EXPECT_TRUE(e[3].stringArgs.empty());
    EXPECT_EQ(f.m.ScanCaches().CssCount(), 2u);
}

TEST(LogScan, FailedLookupsAreAskedAgainAndLeaveNoValue) {
    Bytes data = Cat({Sel(0x0400, 1, 3), Sel(0x0400, 2, 3)});
    ScanFixture f(Scenario({Mod(kA, {Ans(kLogEntry, Raw(data), 0, 0), Ans(0x0307, "1", 15), Ans(0x0304, "", 1)})}));
    f.m.RunLogScan(0);
    EXPECT_EQ(f.host.Sent(0x0307), 2u);
    EXPECT_EQ(f.host.Sent(0x0304), 2u);
    for (const auto& e : f.Entries()) {
        EXPECT_EQ(e.flags, 0u);
        EXPECT_TRUE(e.stringArgs.empty());
    }
    EXPECT_EQ(f.m.ScanCaches().CssCount(), 0u);
    EXPECT_EQ(f.m.ScanCaches().DesignationCount(), 0u);
}

TEST(LogScan, MappedObjectsArePatchedAndLookedUpThroughTheMap) {
    // A serves objects 0-1 and B objects 2-4 of kind 0x0300; B's entry names its own object 1.
    ScanFixture f(R"({"modules":[
        {"id":65537,"name":"BMC-A","objects":{"0x0300":2}},
        {"id":131073,"name":"BMC-B","objects":{"0x0300":3},"answers":[)" +
                  Ans(kLogEntry, Raw(Sel(0x0400, 1, 1)), 0, 0) + "]}]}");
    f.m.BuildCabinetMapping(0);
    ASSERT_TRUE(f.m.OidMappingNeeded());
    f.m.RunLogScan(0);
    auto e = f.Entries();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].rawSel[10], 3u);  // global object index
    EXPECT_EQ(e[0].stringArgs.at(0), u"BMC-B object 1");
}

// ---- fills from event replies ----

TEST(LogScan, FillCacheTakesAnsweredCommandsOnly) {
    CTarnelModule m;
    CSipRecord r(kLogEntry, 0, 0, 6, kNoStatus);
    auto& cmds = r.Document()[key::SIP][key::CMD];
    cmds.Clear();
    auto add = [&](uint32_t mi, uint32_t st, const Bytes& b) {
        SipValue c(rapidjson::kObjectType);
        r.SetCommandAddress(c, kLogEntry, 0, 0, 6, st);
        r.SetUIntValue(c, key::MI, mi, false);
        r.SetDataRaw(c, b.data(), b.size());
        cmds.PushBack(c, r.Allocator());
    };
    add(kA, 0xFF, Cat({Sel(0x0101, 10), Sel(0x0101, 30)}));
    add(kB, 22, Sel(0x0101, 15));  // not answered
    add(kC, 0, Sel(0x0101, 20));
    EXPECT_EQ(m.FillCache(r), 1u);
    EXPECT_EQ(m.FillCache(r), 4u);  // numbering goes on
    EXPECT_EQ(m.MsgLogCache().GetEntryCount(6), 6u);
    CMsgLogEntry e;
    ASSERT_TRUE(m.MsgLogCache().FindEntryBySequence(6, 2, e));
    EXPECT_EQ(e.moduleId, kC);

    CSipRecord other(0x0B03, 0, 0, 6, 0xFF);
    EXPECT_EQ(m.FillCache(other), 0u);
    CSipRecord none;
    EXPECT_EQ(m.FillCache(none), 0u);
}

// ---- task dispatch and the whole scan's trace ----

TEST(LogScan, TaskDispatchTracesEveryTask) {
    test::TraceCapture trace(2);
    CTarnelModule m;
    CSipRecord task(0x0777, 0x0001, 0x0020, 3, kNoStatus);  // no task of this module: traced only
    task.SetModuleId(0x00020003);
    const uint8_t data[3] = {1, 2, 3};
    task.SetDataRaw(task.CurrentCommand(), data, 3);
    m.OnTaskExecution(task, 0);
    EXPECT_EQ(trace.Utf8Lines(), (std::vector<std::string>{
        "\nEM_TARNEL (OnTaskX) : OnTaskExecution: CABID 0003 OC 0x0777-0x0001 OID 0x0020",
        "\nEM_TARNEL (OnTaskX) : CABID 0003: OC 0x0777-0x0001 OID 0x0020 MID 0x00020003 Stat 0x16 Len 3",
    }));
}

TEST(LogScan, GoldenTraceOfOneScan) {
    ScanFixture f(Scenario({
        Mod(kA, {Ans(kArgsRead, Raw(Unified(0x00A1B2, 50, {"PSU"}, 1)))}),
        Mod(kB, {Ans(kLogEntry, Raw(Sel(0x0400, 40, 2)), 0, 0), Ans(kLogEntry, "", 0x13, 1), Ans(0x0307, "0"),
                 Ans(0x0304, R"("Fan 2")")}),
    }));
    test::TraceCapture trace(5);
    CSipRecord task(kArgsRead, 0, 0, 0, kNoStatus);
    f.m.OnTaskExecution(task, 0);
    const std::vector<std::string> expected = {
        "\nEM_TARNEL (OnTaskX) : OnTaskExecution: CABID 0000 OC 0x0B16-0x0000 OID 0x0000",
        "\nEM_TARNEL           : RESET event for message log cache cabinet 0",
        "\nEM_TARNEL           : Request message log using CM_LogMessageArgumentsRead broadcast...",
        // The replies travel up through the module's own OnReply, one command after the other.
        "\nEM_TARNEL (REPLY)   : CABID 0000: OC 0x0B16-0x0000 OID 0x0000 MID 0x00010001 Stat 0x00",
        "\nEM_TARNEL (REPLY)   : CABID 0000: OC 0x0B16-0x0000 OID 0x0000 MID 0x00020001 Stat 0x01",
        "\nEM_TARNEL           : ... broadcast completed",
        "\nEM_TARNEL           : MID 0x00010001: CM_LogMessageArgumentsRead supported",
        "\nEM_TARNEL           : MID 0x00020001: CM_LogMessageArgumentsRead not supported",
        "\nEM_TARNEL           :  Add message log entry 0x00A1B2 (CSS: yes)",
        "\nEM_TARNEL           :     1 message log entries in source table",
        "\nEM_TARNEL           :     1 message log entries were left after table merge",
        "\nEM_TARNEL           :     1 entries stored to messag log cache",
        "\nEM_TARNEL           : Request error log messages from all modules:",
        "\nEM_TARNEL           : MID 0x00020001: Request message log using CM_LogEntry (CMOID_CriticalErrorLog)...",
        "\nEM_TARNEL (REPLY)   : CABID 0000: OC 0x0B00-0x0000 OID 0x0000 MID 0x00020001 Stat 0x00",
        "\nEM_TARNEL           : ... MID 0x00020001: Request completed",
        "\nEM_TARNEL           : MID 0x00020001: CM_LogEntry (CMOID_CriticalErrorLog) - 12 data bytes",
        "\nEM_TARNEL           : Add message log entry 0x0400 OID 2",
        "\nEM_TARNEL           :     Request CSS support CAB 0 OC 0x0307 OID 0x0002",
        "\nEM_TARNEL (REPLY)   : CABID 0000: OC 0x0307-0x0000 OID 0x0002 MID 0x00000000 Stat 0x00",
        "\nEM_TARNEL           :     CSS: no",
        "\nEM_TARNEL           :     Request designation string CAB 0 OC 0x0304 OID 0x0002",
        "\nEM_TARNEL (REPLY)   : CABID 0000: OC 0x0304-0x0000 OID 0x0002 MID 0x00000000 Stat 0x00",
        "\nEM_TARNEL           :     Designation string: \"Fan 2\"",
        "\nEM_TARNEL           :     1 message log entries in source table",
        "\nEM_TARNEL           :     1 message log entries were left after table merge",
        "\nEM_TARNEL           :     2 entries stored to messag log cache",
        "\nEM_TARNEL           : Request event log messages from all modules:",
        "\nEM_TARNEL           : MID 0x00020001: Request message log using CM_LogEntry (CMOID_NonCriticalMessageLog)...",
        "\nEM_TARNEL (REPLY)   : CABID 0000: OC 0x0B00-0x0000 OID 0x0001 MID 0x00020001 Stat 0x13",
        "\nEM_TARNEL           : ... MID 0x00020001: Request completed",
        "\nEM_TARNEL           : MID 0x00020001: CM_LogEntry (CMOID_NonCriticalMessageLog) - not supported",
        "\nEM_TARNEL           : SET event for message log cache cabinet 0",
        "\nEM_TARNEL (OnTaskX) : CABID 0000: OC 0x0B16-0x0000 OID 0x0000 MID 0x00000000 Stat 0x16 Len 0",
    };
    EXPECT_EQ(trace.Utf8Lines(), expected);
}

}  // namespace
}  // namespace em
