// The first scans of the largest server: the main cabinet and 99 SE cabinets, each with four
// old-style modules of 500 entries (2000 cached entries per cabinet, 200,000 in all), answered at
// once by an in-process host; tracing off. Measures the time from DetectCabinets until the last
// cabinet's cache is ready, and the process's resident memory with every cache full.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "module/host_interface.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "platform/sysinfo.h"

namespace em {
namespace {

constexpr uint32_t kCabinets = 100;
constexpr uint32_t kModules = 4;
constexpr uint32_t kEntriesPerModule = 500;
constexpr uint32_t kObjects = 8;

// 500 old-style entries of group 0x04 (one CSS and one designation lookup per object), 16 bytes
// each; module m holds the times m + 1, m + 1 + 4, ...
std::vector<uint8_t> ModuleLog(uint32_t m) {
    std::vector<uint8_t> b;
    b.reserve(kEntriesPerModule * 16);
    for (uint32_t i = 0; i < kEntriesPerModule; ++i) {
        const uint32_t t = 1000 + i * kModules + m;
        const uint16_t oid = static_cast<uint16_t>((i + m) % kObjects);
        const uint8_t e[16] = {0x00, 0x04, 0, 2, uint8_t(t), uint8_t(t >> 8), uint8_t(t >> 16), uint8_t(t >> 24),
                               0, 0, uint8_t(oid), 0, 1, 2, 3, 4};
        b.insert(b.end(), e, e + 16);
    }
    return b;
}

// Every cabinet has the same four modules (ids 0x10001..0x10004); none speaks the unified form.
class ServerHost : public IExtensionHost {
public:
    ServerHost() {
        for (uint32_t m = 0; m < kModules; ++m) m_logs.push_back(ModuleLog(m));
        for (uint32_t c = 1; c < kCabinets; ++c) m_se.push_back(c);
    }
    uint32_t SendRequest(IExtensionModule*, CSipRecord* r, uint32_t) override {
        const uint32_t oc = r->GetCommandValue(0, key::OC, 0), ca = r->GetCommandValue(0, key::CA, 0);
        if (oc == 0x0B16) {
            auto& cmds = r->Document()[key::SIP][key::CMD];
            cmds.Clear();
            for (uint32_t m = 0; m < kModules; ++m) {
                SipValue c(rapidjson::kObjectType);
                r->SetCommandAddress(c, oc, 0, 0, ca, 1);
                r->SetUIntValue(c, key::MI, 0x10001 + m, false);
                cmds.PushBack(c, r->Allocator());
            }
        } else if (oc == 0x0B00) {
            r->FirstCommand();
            if (r->GetCommandValue(0, key::OI, 0) == 0) r->SetReplyRaw(m_logs[(r->Value(key::MI) - 1) & 3], 0);
            else r->SetStatus(0);
        } else if (oc == 0x0307) {
            r->SetReplyUInt(1, 0);
        } else {
            r->FirstCommand();
            r->SetDataString(r->CurrentCommand(), u"System Board Fan 1");
            r->SetStatus(0);
        }
        return 1;
    }
    uint32_t DeliverRecord(IExtensionModule*, CSipRecord*) override { return 1; }
    uint32_t StartCompleted(IExtensionModule*, uint32_t) override { return 1; }
    uint32_t GetSECabinets(uint32_t** cabinets, uint8_t* count) override {
        *cabinets = m_se.data();
        *count = static_cast<uint8_t>(m_se.size());
        return 1;
    }
    uint32_t ForwardEvent(IExtensionModule*, CSipRecord*, uint16_t, uint16_t) override { return 1; }
    uint32_t GetHostType() override { return 1; }

private:
    std::vector<std::vector<uint8_t>> m_logs;
    std::vector<uint32_t> m_se;
};

double ResidentMB() {
    platform::MemoryCounters mc;
    return platform::GetProcessMemoryCounters(&mc) ? double(mc.working_set) / (1024.0 * 1024.0) : 0.0;
}

void BM_HundredCabinetsFirstScans(benchmark::State& state) {
    ServerHost host;
    double rss_before = 0, rss_full = 0, cached = 0;
    for (auto _ : state) {
        rss_before = ResidentMB();
        auto m = std::make_unique<CTarnelModule>();
        m->Start(&host, 0x00FE0001);
        const auto start = std::chrono::steady_clock::now();
        m->DetectCabinets();
        bool ready = true;
        for (uint32_t c = 0; c < kCabinets; ++c) ready &= m->MsgLogCache().WaitCacheReady(c, 600000);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        if (!ready) state.SkipWithError("a cabinet's cache never became ready");
        rss_full = ResidentMB();
        cached = 0;
        for (uint32_t c = 0; c < kCabinets; ++c) cached += m->MsgLogCache().GetEntryCount(c);
        m->Stop();
    }
    state.counters["rss_MB_before"] = rss_before;
    state.counters["rss_MB_full"] = rss_full;
    state.counters["entries"] = cached;
}
BENCHMARK(BM_HundredCabinetsFirstScans)->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace em
