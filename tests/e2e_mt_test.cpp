// End to end through the real shared library: host threads send every kind of request while
// events arrive and the worker scans; and a clean stop with tasks still queued.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/lib/request_line.h"
#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"

namespace em::host {
namespace {

Scenario Demo() {
    Scenario s;
    std::string error;
    EXPECT_TRUE(ParseScenario(DefaultScenarioJson(), s, error)) << error;
    return s;
}

struct Loaded {
    explicit Loaded(Scenario s) : host(std::move(s)) {
        std::string error;
        EXPECT_TRUE(host.Load(EM_DEFAULT_LIBRARY, error)) << error;
        EXPECT_EQ(host.Create(), 1u);
        m = host.Module();
        m->SetCabinetNumber(0);
        m->Start(&host, 0x00FE0001);
        m->DetectCabinets();
    }
    ~Loaded() {
        if (m) m->Stop(), host.Delete();
        host.Unload();
    }
    // Submits a request line; its outcome, with the record as answered or as delivered later.
    SubstituteHost::Outcome Send(const std::string& line, CSipRecord& answer, uint32_t wait_ms = 30000) {
        CSipRecord r;
        std::string error;
        EXPECT_TRUE(ParseRequestLine(line, r, error)) << error;
        SubstituteHost::Outcome o = host.Submit(r, answer, wait_ms);
        if (!o.delivered) answer.CopyFrom(r);
        return o;
    }
    int Delivered(const std::string& oc) {
        int n = 0;
        for (const HostEvent& e : host.Events()) n += e.kind == HostEvent::Kind::DeliverRecord && e.text.find(oc) != std::string::npos;
        return n;
    }
    SubstituteHost host;
    IExtensionModule* m = nullptr;
};

TEST(EndToEnd, EveryOpcodeFamilyWhileEventsArriveAndScansRun) {
    Loaded l(Demo());
    const std::vector<std::string> lines = {
        "GetMsgLogCacheEntries ca=0 oe=0x409 oi=0", "GetMsgLogCacheEntries ca=0 oe=0x407 oi=0", "EntryCount ca=0",
        "LastSequenceNumber ca=1", "MsgLogAvailable ca=0", "0x0302 ca=0 oi=3", "Count ca=0", "ReadConfig ca=0 oe=0x31",
        "ReadConfig ca=0 oe=0x30", "WriteConfig ca=0 oe=0x40 da=1", "BroadcastWrite ca=0",
        "Summary ca=0 oe=0x407 da=0x210105", "Cause ca=0 oe=0x411 oi=1 da=0x210105",
        "Resolutions ca=0 oe=0x409 da=0x210105", "Raw ca=0 da=1", "Languages ca=0", "LogEntry ca=0", "0x0D00 ca=0"};
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < 3 * lines.size(); ++i) {
                const std::string& line = lines[(i + t * 5) % lines.size()];
                CSipRecord r;
                SubstituteHost::Outcome o = l.Send(line, r);
                const bool declined = line == "0x0D00 ca=0";
                if (declined ? (o.result != 0 || r.Value(key::ST) != 1) : (o.result != 1 || (o.pending && !o.delivered))) ++bad;
            }
        });
    }
    Scenario s = Demo();  // meanwhile lower modules report new entries
    for (int i = 0; i < 10; ++i) l.host.RaiseEvent(s.events[0]);
    for (auto& t : threads) t.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(l.Delivered("OC=0x0B11"), 10);  // one announcement each
    l.host.RaiseEvent(s.events[1]);            // log clear
    CSipRecord count;
    l.Send("EntryCount ca=0", count);
    EXPECT_EQ(count.Value(key::ST), 0u);
}

TEST(EndToEnd, StopDeleteAndUnloadWithTasksStillQueued) {
    Scenario s = Demo();  // a slow lower module keeps the worker busy while text requests pile up
    for (LowerModule& m : s.modules)
        if (m.name == "PSU-CTL") m.answers.push_back(Answer{0x0B23, {}, {}, 0, {}, 50, false});
    Loaded l(s);
    int queued = 0;
    for (uint32_t code = 0x210200; code < 0x210200 + 25; ++code) {
        CSipRecord none;
        queued += l.Send("Summary ca=0 oe=0x409 da=" + std::to_string(code), none, 0).pending;
    }
    EXPECT_GT(queued, 0);
    EXPECT_EQ(l.m->Stop(), 1u);  // queued tasks are dropped, the running one finishes
    EXPECT_EQ(l.host.Delete(), 1u);
    l.m = nullptr;
    l.host.Unload();
    EXPECT_LT(l.Delivered("OC=0x0B23"), queued);
}

}  // namespace
}  // namespace em::host
