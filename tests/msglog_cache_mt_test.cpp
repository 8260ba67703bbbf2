// Message log cache: numbering, trimming, lookups and the ready wait, alone and concurrently.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "msglog/msg_log_cache.h"
#include "platform/sync.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

std::vector<std::unique_ptr<CMsgLogEntry>> Batch(uint32_t n, uint32_t tag) {
    std::vector<std::unique_ptr<CMsgLogEntry>> out;
    for (uint32_t i = 0; i < n; ++i) {
        out.push_back(std::make_unique<CMsgLogEntry>());
        out.back()->timestamp = tag ? tag : i + 1;
        out.back()->rawSel = {0x01, 0x04, 0, 1, 0, 0, 0, 0, 1, 0, 2, 0};
    }
    return out;
}

std::vector<uint32_t> Numbers(const CCabinetLogCache& cab) {
    std::vector<uint32_t> out;
    CMsgLogEntry e;
    for (uint32_t i = 0; cab.CopyEntryAt(i, e); ++i) out.push_back(e.sequenceNumber);
    return out;
}

TEST(MsgLogCache, StoringBeyondTheLimitDropsTheOldestAndNumbersContinueAfterClear) {
    CMsgLogCache cache;
    CCabinetLogCache* cab = cache.GetCabinet(1);
    auto batch = Batch(2500, 0);
    EXPECT_EQ(cache.StoreEntries(cab, batch), 1u);
    EXPECT_EQ(cache.GetEntryCount(1), 2000u);
    EXPECT_EQ(cache.GetLastSequenceNumber(1), 2500u);

    CMsgLogEntry found;
    for (auto [ca, seq] : {std::pair<uint32_t, uint32_t>{1, 500}, {1, 2501}, {2, 501}, {1, 0}})
        EXPECT_FALSE(cache.FindEntryBySequence(ca, seq, found)) << seq;
    for (uint32_t seq : {501u, 1234u, 2500u}) {
        ASSERT_TRUE(cache.FindEntryBySequence(1, seq, found));
        EXPECT_EQ(found.timestamp, seq);
    }

    // Numbers continue after a clear and across stores.
    cab = cache.GetCabinet(3);
    auto three = Batch(3, 0);
    EXPECT_EQ(cache.StoreEntries(cab, three), 1u);
    EXPECT_TRUE(cache.ClearCabinet(3));
    EXPECT_EQ(cache.GetLastSequenceNumber(3), 3u);
    EXPECT_FALSE(cache.ClearCabinet(4));
    EXPECT_FALSE(cache.FindEntryBySequence(3, 3, found));  // an empty cabinet
    std::vector<std::unique_ptr<CMsgLogEntry>> none;
    EXPECT_EQ(cache.StoreEntries(cab, none), 0u);
    // The pointer-list form takes the entries over and leaves the list empty.
    CLockedPtrList list;
    for (auto& e : Batch(2, 0)) list.AddTail(e.release());
    EXPECT_EQ(cache.StoreEntries(nullptr, list), 0u);
    EXPECT_EQ(cache.StoreEntries(cab, list), 4u);
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_EQ(Numbers(*cab), (std::vector<uint32_t>{4, 5}));
}

TEST(MsgLogCache, CabinetsAreMadeOnceAndOneSetReleasesEveryWaiter) {
    test::TraceCapture trace;
    CMsgLogCache cache;
    EXPECT_EQ(cache.GetCabinet(7, false), nullptr);
    CCabinetLogCache* cab = cache.GetCabinet(7);
    EXPECT_EQ(cache.GetCabinet(7, false), cab);
    EXPECT_TRUE(cache.InitCabinet(7));
    EXPECT_TRUE(cache.InitCabinet(1));
    EXPECT_EQ(cache.CabinetAt(1)->Cabinet(), 1u);

    EXPECT_FALSE(cache.WaitCacheReady(1, 10));
    // Waiters hold no lock: table operations go through meanwhile, and one set releases them all.
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { released += cache.WaitCacheReady(1, 20000); });
    EXPECT_TRUE(cache.ClearCabinet(1));
    EXPECT_TRUE(cache.SetCacheReady(1, true));
    for (auto& w : waiters) w.join();
    EXPECT_EQ(released.load(), 4);
    EXPECT_TRUE(cache.WaitCacheReady(1, 120000));  // manual reset: stays set
    EXPECT_TRUE(trace.Contains("Wait on event for message log cache cabinet 1 (Timeout: 120)"));
    EXPECT_FALSE(cache.WaitCacheReady(7, 0));
    EXPECT_TRUE(cache.SetCacheReady(1, false));
    EXPECT_FALSE(cache.WaitCacheReady(1, 10));

    EXPECT_FALSE(cache.SetCacheReady(9, true));
    EXPECT_FALSE(cache.WaitCacheReady(9, 10));
    EXPECT_EQ(cache.GetEntryCount(9), 0u);
    EXPECT_EQ(cache.GetLastSequenceNumber(9), 0u);
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
                auto batch = Batch(40, f * 1000 + round + 1);
                uint32_t first = cache.StoreEntries(cache.GetCabinet(1), batch);
                CMsgLogEntry e;
                // Another fill may already have trimmed it away, but never renumbered it.
                if (cache.FindEntryBySequence(1, first + 39, e) && e.timestamp != f * 1000 + round + 1) faults++;
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

}  // namespace
}  // namespace em
