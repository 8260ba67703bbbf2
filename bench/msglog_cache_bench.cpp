// Message log cache: storing, trimming, lookups by sequence number and page walks by position.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "msglog/msg_log_cache.h"

namespace em {
namespace {

// A typical old-style entry: 16 SEL bytes and a designation string.
std::vector<std::unique_ptr<CMsgLogEntry>> Batch(uint32_t n) {
    std::vector<std::unique_ptr<CMsgLogEntry>> out;
    out.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
        auto e = std::make_unique<CMsgLogEntry>();
        e->timestamp = i + 1;
        e->rawSel.assign(16, static_cast<uint8_t>(i));
        e->stringArgs[0] = u"System Board Fan 1";
        out.push_back(std::move(e));
    }
    return out;
}

// A cabinet holding the full 2000 entries.
struct FullCabinet {
    CMsgLogCache cache;
    CCabinetLogCache* cab = cache.GetCabinet(1);
    FullCabinet() {
        auto b = Batch(CMsgLogCache::kMaxEntries);
        cache.StoreEntries(cab, b);
    }
};

void BM_Store2000(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto cache = std::make_unique<CMsgLogCache>();
        CCabinetLogCache* cab = cache->GetCabinet(1);
        auto b = Batch(CMsgLogCache::kMaxEntries);
        state.ResumeTiming();
        benchmark::DoNotOptimize(cache->StoreEntries(cab, b));
        state.PauseTiming();
        cache.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * CMsgLogCache::kMaxEntries);
}
BENCHMARK(BM_Store2000)->Unit(benchmark::kMicrosecond);

// A full cabinet receives a fill of n entries: n appends and n removals from the head.
void BM_StoreAndTrim(benchmark::State& state) {
    FullCabinet full;
    const auto n = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto b = Batch(n);
        state.ResumeTiming();
        benchmark::DoNotOptimize(full.cache.StoreEntries(full.cab, b));
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_StoreAndTrim)->Arg(1)->Arg(100)->Arg(2000)->Unit(benchmark::kMicrosecond);

// Every number of a full cabinet in turn (the raw SEL task's lookup), after trims moved the
// numbers away from the positions.
void BM_FindEntryBySequence(benchmark::State& state) {
    FullCabinet full;
    auto extra = Batch(777);
    full.cache.StoreEntries(full.cab, extra);
    const uint32_t last = full.cache.GetLastSequenceNumber(1);
    const uint32_t first = last - CMsgLogCache::kMaxEntries + 1;
    uint32_t seq = first;
    CMsgLogEntry out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(full.cache.FindEntryBySequence(1, seq, out));
        if (++seq > last) seq = first;
    }
}
BENCHMARK(BM_FindEntryBySequence);

// A number that is not in the cache (trimmed away or never given).
void BM_FindEntryBySequenceMiss(benchmark::State& state) {
    FullCabinet full;
    CMsgLogEntry out;
    for (auto _ : state) benchmark::DoNotOptimize(full.cache.FindEntryBySequence(1, 999999, out));
}
BENCHMARK(BM_FindEntryBySequenceMiss);

// A page walk over all 2000 entries, newest first, one GetAt per position under the entry lock.
void BM_WalkByPosition(benchmark::State& state) {
    FullCabinet full;
    for (auto _ : state) {
        uint64_t sum = 0;
        platform::CsLock lock(full.cab->EntryLock());
        for (uint32_t i = full.cab->EntryCount(); i-- > 0;)
            sum += static_cast<const CMsgLogEntry*>(full.cab->Entries().GetAt(i))->sequenceNumber;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * CMsgLogCache::kMaxEntries);
}
BENCHMARK(BM_WalkByPosition)->Unit(benchmark::kMicrosecond);

// The same walk taking a deep copy of every entry.
void BM_WalkByPositionCopy(benchmark::State& state) {
    FullCabinet full;
    CMsgLogEntry out;
    for (auto _ : state) {
        for (uint32_t i = full.cab->EntryCount(); i-- > 0;) benchmark::DoNotOptimize(full.cab->CopyEntryAt(i, out));
    }
    state.SetItemsProcessed(state.iterations() * CMsgLogCache::kMaxEntries);
}
BENCHMARK(BM_WalkByPositionCopy)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace em
