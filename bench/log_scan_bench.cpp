// Message log scan of one cabinet: four old-style modules with 500 entries each (2000 in all, times
// interleaved), answered at once by an in-process host; tracing off.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "module/host_interface.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"

namespace em {
namespace {

constexpr uint32_t kModules = 4;
constexpr uint32_t kEntriesPerModule = 500;
constexpr uint32_t kObjects = 8;  // objects the entries refer to: 8 CSS and 8 designation lookups

// 500 old-style entries of group 0x04 (CSS and designation lookups), 16 bytes each; module m
// holds the times m + 1, m + 1 + 4, ...
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

// Answers every request at once: no module speaks the unified form, each module serves its error
// log, the event logs are empty, and every CSS and designation request is answered.
class InstantHost : public IExtensionHost {
public:
    InstantHost() {
        for (uint32_t m = 0; m < kModules; ++m) m_logs[0x10001 + m] = ModuleLog(m);
    }
    uint32_t SendRequest(IExtensionModule*, CSipRecord* r, uint32_t) override {
        const uint32_t oc = r->GetCommandValue(0, key::OC, 0);
        if (oc == 0x0B16) {
            auto& cmds = r->Document()[key::SIP][key::CMD];
            cmds.Clear();
            for (uint32_t m = 0; m < kModules; ++m) {
                SipValue c(rapidjson::kObjectType);
                r->SetCommandAddress(c, oc, 0, 0, 0, 1);
                r->SetUIntValue(c, key::MI, 0x10001 + m, false);
                cmds.PushBack(c, r->Allocator());
            }
        } else if (oc == 0x0B00) {
            r->FirstCommand();
            if (r->GetCommandValue(0, key::OI, 0) == 0) r->SetReplyRaw(m_logs[r->Value(key::MI)], 0);
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
    uint32_t GetSECabinets(uint32_t**, uint8_t*) override { return 0; }
    uint32_t ForwardEvent(IExtensionModule*, CSipRecord*, uint16_t, uint16_t) override { return 1; }
    uint32_t GetHostType() override { return 1; }

    const std::vector<uint8_t>& Log(uint32_t mi) { return m_logs[mi]; }

private:
    std::map<uint32_t, std::vector<uint8_t>> m_logs;
};

// Heap bytes of one cached entry with a 64-bit glibc malloc: each block carries an 8-byte header
// and is rounded to 16 bytes, 32 at least; strings of up to 7 UTF-16 units live in the object.
size_t Chunk(size_t n) { return n == 0 ? 0 : std::max<size_t>(32, (n + 8 + 15) & ~size_t(15)); }
size_t EntryBytes(const CMsgLogEntry& e) {
    size_t bytes = Chunk(sizeof(CMsgLogEntry)) + Chunk(e.rawSel.capacity()) + sizeof(void*);  // + list slot
    for (const auto& [index, text] : e.stringArgs) {
        bytes += Chunk(32 + sizeof(std::pair<const uint32_t, std::u16string>));
        if (text.capacity() > 7) bytes += Chunk((text.capacity() + 1) * sizeof(char16_t));
    }
    return bytes;
}

// The whole scan task: broadcast, eight CM_LogEntry requests, 16 lookups, parse, merge, store.
void BM_LogScanFourModules(benchmark::State& state) {
    InstantHost host;
    double bytes_per_entry = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto m = std::make_unique<CTarnelModule>();
        m->Attach(&host, 0x00FE0001);
        m->MsgLogCache().InitCabinet(0);
        state.ResumeTiming();
        m->RunLogScan(0);
        state.PauseTiming();
        CCabinetLogCache* cab = m->MsgLogCache().GetCabinet(0, false);
        if (cab->EntryCount() != kModules * kEntriesPerModule) state.SkipWithError("entries missing");
        size_t total = 0;
        CMsgLogEntry e;
        for (uint32_t i = 0; cab->CopyEntryAt(i, e); ++i) total += EntryBytes(e);
        bytes_per_entry = double(total) / cab->EntryCount();
        m.reset();
        state.ResumeTiming();
    }
    state.counters["bytes_per_entry"] = bytes_per_entry;
    state.SetItemsProcessed(state.iterations() * kModules * kEntriesPerModule);
}
BENCHMARK(BM_LogScanFourModules)->Unit(benchmark::kMillisecond);

// Parse, merge and store alone: FillCache on the collected error-log replies, lookups cached.
void BM_FillCacheFourModules(benchmark::State& state) {
    InstantHost host;
    CSipRecord collected(0x0B00, 0, 0, 0, 0);
    auto& cmds = collected.Document()[key::SIP][key::CMD];
    cmds.Clear();
    for (uint32_t m = 0; m < kModules; ++m) {
        SipValue c(rapidjson::kObjectType);
        collected.SetCommandAddress(c, 0x0B00, 0, 0, 0, 0);
        collected.SetUIntValue(c, key::MI, 0x10001 + m, false);
        const auto& log = host.Log(0x10001 + m);
        collected.SetDataRaw(c, log.data(), log.size());
        cmds.PushBack(c, collected.Allocator());
    }
    CTarnelModule warm;  // lookups answered once, then served from the caches
    warm.Attach(&host, 0x00FE0001);
    for (auto _ : state) {
        state.PauseTiming();
        warm.MsgLogCache().ClearCabinet(0);
        state.ResumeTiming();
        benchmark::DoNotOptimize(warm.FillCache(collected));
    }
    state.SetItemsProcessed(state.iterations() * kModules * kEntriesPerModule);
}
BENCHMARK(BM_FillCacheFourModules)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace em
