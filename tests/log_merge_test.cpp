// Time-order merge of log entries from several sources.
#include <gtest/gtest.h>

#include <utility>

#include "msglog/log_merge.h"

namespace em {
namespace {

// (time, label) pairs; the label tells where an entry came from.
using E = std::pair<int32_t, char>;

std::vector<E> Merge(std::vector<E> m, std::vector<E> s) {
    return MergeByTime(std::move(m), std::move(s), [](const E& e) { return static_cast<uint32_t>(e.first); });
}

std::vector<int32_t> Times(const std::vector<E>& v) {
    std::vector<int32_t> t;
    for (auto& e : v) t.push_back(e.first);
    return t;
}

TEST(LogMerge, TimelessEntriesTravelWithTheNextTimedOne) {
    auto r = Merge({{5, 'a'}, {9, 'a'}}, {{7, 'b'}, {0, 'b'}, {8, 'b'}});
    EXPECT_EQ(Times(r), (std::vector<int32_t>{5, 7, 0, 8, 9}));
}

TEST(LogMerge, EqualTimesKeepTheEarlierSourceFirst) {
    auto r = Merge({{3, 'a'}, {4, 'a'}}, {{3, 'b'}, {4, 'b'}});
    std::vector<char> labels;
    for (auto& e : r) labels.push_back(e.second);
    EXPECT_EQ(labels, (std::vector<char>{'a', 'b', 'a', 'b'}));
}

TEST(LogMerge, TimelessOnBothSidesAndLeftovers) {
    // Merged element without time: compared through the next timed merged element.
    EXPECT_EQ(Times(Merge({{0, 'a'}, {10, 'a'}}, {{4, 'b'}})), (std::vector<int32_t>{4, 0, 10}));
    EXPECT_EQ(Times(Merge({{0, 'a'}}, {{4, 'b'}})), (std::vector<int32_t>{0, 4}));
    // Neither has a time: the next timed elements on both sides decide.
    EXPECT_EQ(Times(Merge({{0, 'a'}, {10, 'a'}}, {{0, 'b'}, {2, 'b'}})), (std::vector<int32_t>{0, 2, 0, 10}));
    EXPECT_EQ(Times(Merge({}, {{3, 'b'}})), (std::vector<int32_t>{3}));
    EXPECT_EQ(Times(Merge({{3, 'a'}}, {})), (std::vector<int32_t>{3}));
    // Times compare as signed numbers: 0x80000000 is the earliest.
    EXPECT_EQ(Times(Merge({{1, 'a'}}, {{INT32_MIN, 'b'}})), (std::vector<int32_t>{INT32_MIN, 1}));
}

}  // namespace
}  // namespace em
