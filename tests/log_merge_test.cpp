// Time-order merge of log entries from several sources.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "msglog/log_merge.h"

namespace em {
namespace {

TEST(LogMerge, TimelessEntriesTravelWithTheNextTimedOne) {
    using V = std::vector<int32_t>;
    const struct {
        V merged, source, want;
    } cases[] = {
        {{5, 9}, {7, 0, 8}, {5, 7, 0, 8, 9}},
        {{0, 10}, {4}, {4, 0, 10}},  // a merged element without time: its next timed one decides
        {{0}, {4}, {0, 4}},
        {{0, 10}, {0, 2}, {0, 2, 0, 10}},  // neither has a time: the next timed ones on both sides
        {{0, 10}, {0, 12}, {0, 10, 0, 12}},
        {{7}, {0}, {7, 0}},
        {{}, {3}, {3}},
        {{3}, {}, {3}},
        {{1}, {INT32_MIN}, {INT32_MIN, 1}},  // times compare as signed numbers
    };
    for (const auto& c : cases) {
        V merged = c.merged, source = c.source;
        EXPECT_EQ(MergeByTime(std::move(merged), std::move(source), [](int32_t t) { return static_cast<uint32_t>(t); }),
                  c.want);
    }
}

}  // namespace
}  // namespace em
