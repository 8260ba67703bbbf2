// Message log cache: numbering, trimming, clearing, lookups and the "Cache Ready" wait.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "msglog/msg_log_cache.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

std::vector<std::unique_ptr<CMsgLogEntry>> Batch(uint32_t n) {
    std::vector<std::unique_ptr<CMsgLogEntry>> out;
    for (uint32_t i = 0; i < n; ++i) {
        out.push_back(std::make_unique<CMsgLogEntry>());
        out.back()->timestamp = i + 1;
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

TEST(MsgLogCache, StoringBeyondTheLimitDropsTheOldestInOrder) {
    test::TraceCapture trace;
    CMsgLogCache cache;
    CCabinetLogCache* cab = cache.GetCabinet(1);
    ASSERT_NE(cab, nullptr);
    auto batch = Batch(2500);
    EXPECT_EQ(cache.StoreEntries(cab, batch), 1u);
    EXPECT_TRUE(batch.empty());
    EXPECT_EQ(cache.GetEntryCount(1), 2000u);
    EXPECT_EQ(cache.GetLastSequenceNumber(1), 2500u);
    auto numbers = Numbers(*cab);
    ASSERT_EQ(numbers.size(), 2000u);
    EXPECT_EQ(numbers.front(), 501u);
    EXPECT_EQ(numbers.back(), 2500u);
    EXPECT_EQ(trace.Count("removed from beginning of message log list"), 500u);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Entry 1 removed"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Entry 500 removed"));
    EXPECT_TRUE(trace.Contains("EM_TARNEL           :     2500 entries stored to messag log cache"));

    CMsgLogEntry found;
    for (auto [ca, seq] : {std::pair<uint32_t, uint32_t>{1, 500}, {1, 2501}, {2, 501}, {1, 0}})
        EXPECT_FALSE(cache.FindEntryBySequence(ca, seq, found)) << seq;
    for (uint32_t seq : {501u, 1234u, 2500u}) {
        ASSERT_TRUE(cache.FindEntryBySequence(1, seq, found));
        EXPECT_EQ(found.timestamp, seq);
    }
    // The copy is deep: changing it leaves the cached entry alone.
    found.rawSel.clear();
    ASSERT_TRUE(cab->CopyEntryAt(1999, found));
    EXPECT_EQ(found.rawSel.size(), 12u);
    EXPECT_FALSE(cab->CopyEntryAt(2000, found));
}

TEST(MsgLogCache, NumbersContinueAfterClearAndAcrossStores) {
    test::TraceCapture trace;
    auto owner = std::make_unique<CMsgLogCache>();
    CMsgLogCache& cache = *owner;
    CCabinetLogCache* cab = cache.GetCabinet(3);
    auto three = Batch(3);
    EXPECT_EQ(cache.StoreEntries(cab, three), 1u);
    EXPECT_TRUE(cache.ClearCabinet(3));
    EXPECT_EQ(cache.GetEntryCount(3), 0u);
    EXPECT_EQ(cache.GetLastSequenceNumber(3), 3u);
    EXPECT_FALSE(cache.ClearCabinet(4));
    std::vector<std::unique_ptr<CMsgLogEntry>> none;
    EXPECT_EQ(cache.StoreEntries(cab, none), 0u);
    EXPECT_EQ(cache.StoreEntries(nullptr, none), 0u);
    // The pointer-list form takes the entries over and leaves the list empty.
    CLockedPtrList list;
    for (auto& e : Batch(2)) list.AddTail(e.release());
    EXPECT_EQ(cache.StoreEntries(cab, list), 4u);
    EXPECT_EQ(list.GetCount(), 0u);
    auto more = Batch(1);
    EXPECT_EQ(cache.StoreEntries(cab, more), 6u);
    EXPECT_EQ(Numbers(*cab), (std::vector<uint32_t>{4, 5, 6}));
    owner.reset();  // frees the cabinets and their entries
    EXPECT_TRUE(trace.Contains("CMsgLogCache        : <- Destructor"));
}

TEST(MsgLogCache, CabinetsAreMadeOnceAndNotReadyUntilSet) {
    test::TraceCapture trace;
    CMsgLogCache cache;
    EXPECT_EQ(cache.GetCabinet(7, false), nullptr);
    CCabinetLogCache* cab = cache.GetCabinet(7);
    ASSERT_NE(cab, nullptr);
    EXPECT_EQ(cab->Cabinet(), 7u);
    EXPECT_EQ(cache.GetCabinet(7, false), cab);
    EXPECT_TRUE(cache.InitCabinet(7));
    EXPECT_TRUE(cache.InitCabinet(1));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Init message log cache cabinet 1"));
    EXPECT_EQ(cache.CabinetCount(), 2u);
    EXPECT_EQ(cache.CabinetAt(0), cab);
    EXPECT_EQ(cache.CabinetAt(1)->Cabinet(), 1u);
    EXPECT_EQ(cache.CabinetAt(2), nullptr);

    EXPECT_FALSE(cache.WaitCacheReady(7, 10));
    EXPECT_FALSE(cache.WaitCacheReady(1, 10));
    EXPECT_TRUE(cache.SetCacheReady(1, true));
    EXPECT_TRUE(trace.Contains("EM_TARNEL           : SET event for message log cache cabinet 1"));
    EXPECT_TRUE(cache.WaitCacheReady(1, 120000));
    EXPECT_TRUE(cache.WaitCacheReady(1, 0));  // manual reset: stays set
    EXPECT_FALSE(cache.WaitCacheReady(7, 0));
    EXPECT_TRUE(trace.Contains("EM_TARNEL           : Wait on event for message log cache cabinet 1 (Timeout: 120)"));
    EXPECT_TRUE(cache.SetCacheReady(1, false));
    EXPECT_TRUE(trace.Contains("EM_TARNEL           : RESET event for message log cache cabinet 1"));
    EXPECT_FALSE(cache.WaitCacheReady(1, 10));

    EXPECT_FALSE(cache.SetCacheReady(9, true));
    EXPECT_FALSE(cache.WaitCacheReady(9, 10));
    EXPECT_TRUE(trace.Contains("EM_TARNEL           : ERROR! Cabinet 9 not found in message log cache table!"));
    EXPECT_EQ(cache.GetEntryCount(9), 0u);
    EXPECT_EQ(cache.GetLastSequenceNumber(9), 0u);
}

}  // namespace
}  // namespace em
