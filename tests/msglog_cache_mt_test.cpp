// Message log cache under concurrent fills, clears, waits and readers.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "msglog/msg_log_cache.h"
#include "platform/sync.h"

namespace em {
namespace {

std::vector<std::unique_ptr<CMsgLogEntry>> Batch(uint32_t n, uint32_t tag) {
    std::vector<std::unique_ptr<CMsgLogEntry>> out;
    for (uint32_t i = 0; i < n; ++i) {
        out.push_back(std::make_unique<CMsgLogEntry>());
        out.back()->timestamp = tag;
        out.back()->stringArgs[1] = u"argument";
    }
    return out;
}

TEST(MsgLogCacheMt, ReadersSeeConsistentListsWhileFillsClearsAndTrimsRun) {
    CMsgLogCache cache;
    ASSERT_TRUE(cache.InitCabinet(1));
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> faults{0};
    std::vector<std::thread> threads;

    // Two fills of the same cabinet at once (worker scan and event replies): each fill's numbers
    // are contiguous and start where its result says.
    for (uint32_t f = 0; f < 2; ++f) {
        threads.emplace_back([&, f] {
            for (uint32_t round = 0; round < 150; ++round) {
                auto batch = Batch(40, f * 1000 + round);
                uint32_t first = cache.StoreEntries(cache.GetCabinet(1), batch);
                CMsgLogEntry e;
                // Another fill may already have trimmed it away, but never renumbered it.
                if (cache.FindEntryBySequence(1, first + 39, e) && e.timestamp != f * 1000 + round) faults++;
            }
        });
    }
    threads.emplace_back([&] {
        for (uint32_t i = 0; i < 20; ++i) {
            platform::Sleep(1);
            cache.ClearCabinet(1);
            cache.SetCacheReady(1, i % 2 == 0);
        }
    });
    // Readers: positions under the entry lock (numbers ascending), numbers, counters.
    for (uint32_t r = 0; r < 3; ++r) {
        threads.emplace_back([&] {
            CCabinetLogCache* cab = cache.GetCabinet(1, false);
            while (!stop.load()) {
                {
                    platform::CsLock lock(cab->EntryLock());
                    const uint32_t n = cab->Entries().GetCount();
                    if (n > CMsgLogCache::kMaxEntries + 40) faults++;
                    uint32_t prev = 0;
                    for (uint32_t i = 0; i < n; ++i) {
                        auto* e = static_cast<const CMsgLogEntry*>(cab->Entries().GetAt(i));
                        if (e->sequenceNumber <= prev) faults++;
                        prev = e->sequenceNumber;
                    }
                }
                const uint32_t last = cache.GetLastSequenceNumber(1);
                CMsgLogEntry e;
                if (cache.FindEntryBySequence(1, last, e) && e.sequenceNumber != last) faults++;
                cache.WaitCacheReady(1, 1);
            }
        });
    }
    // New cabinets made by several threads at once exist once each.
    std::vector<CCabinetLogCache*> made(4 * 50);
    for (uint32_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (uint32_t c = 0; c < 50; ++c) made[t * 50 + c] = cache.GetCabinet(100 + c);
        });
    }

    for (size_t i = 0; i < 3; ++i) threads[i].join();  // fills and clears
    stop.store(true);
    for (size_t i = 3; i < threads.size(); ++i) threads[i].join();

    EXPECT_EQ(faults.load(), 0u);
    EXPECT_EQ(cache.GetLastSequenceNumber(1), 2u * 150 * 40);
    EXPECT_LE(cache.GetEntryCount(1), CMsgLogCache::kMaxEntries);
    EXPECT_EQ(cache.CabinetCount(), 51u);
    for (uint32_t c = 0; c < 50; ++c)
        for (uint32_t t = 1; t < 4; ++t) EXPECT_EQ(made[t * 50 + c], made[c]);
}

TEST(MsgLogCacheMt, OneSetReleasesEveryWaiterAndWaitersHoldNoLock) {
    CMsgLogCache cache;
    ASSERT_TRUE(cache.InitCabinet(2));
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { released += cache.WaitCacheReady(2, 20000); });
    EXPECT_EQ(cache.GetEntryCount(2), 0u);  // table operations go through meanwhile
    EXPECT_TRUE(cache.ClearCabinet(2));
    EXPECT_TRUE(cache.SetCacheReady(2, true));
    for (auto& w : waiters) w.join();
    EXPECT_EQ(released.load(), 4);
}

}  // namespace
}  // namespace em
