// The time-order merge of log entries from several sources.
//
// The merged list is walked from its start; the head b of the source list goes before the element
// a at hand when:
//   - both have a time: a's time is greater than b's;
//   - a has a time, b has none: a's time is greater than that of the first timed source element
//     after b (none: no);
//   - a has none, b has a time: the first timed merged element after a has a time greater than b's
//     (none: no);
//   - neither has a time: that merged element's time is greater than that source element's (either
//     missing: no).
// What is left of the source goes to the end. Times are compared as signed 32-bit numbers and 0
// means "no time"; equal times keep the merged element first, and entries without a time travel
// with the next entry that has one.
#pragma once

#include <cstdint>
#include <vector>

namespace em {

template <class T, class TimeOf>
std::vector<T> MergeByTime(std::vector<T>&& merged, std::vector<T>&& source, TimeOf time_of) {
    if (source.empty()) return std::move(merged);
    if (merged.empty()) return std::move(source);
    // next_timed[i]: index of the first element after i that has a time, or size.
    auto next_timed = [&](const std::vector<T>& v) {
        std::vector<size_t> next(v.size());
        size_t after = v.size();
        for (size_t i = v.size(); i-- > 0;) {
            next[i] = after;
            if (static_cast<int32_t>(time_of(v[i])) != 0) after = i;
        }
        return next;
    };
    const std::vector<size_t> m_next = next_timed(merged), s_next = next_timed(source);
    std::vector<T> out;
    out.reserve(merged.size() + source.size());
    size_t i = 0, j = 0;
    while (i < merged.size() && j < source.size()) {
        const int32_t ta = static_cast<int32_t>(time_of(merged[i]));
        const int32_t tb = static_cast<int32_t>(time_of(source[j]));
        bool b_first;
        if (ta != 0 && tb != 0) {
            b_first = ta > tb;
        } else if (ta != 0) {
            size_t x = s_next[j];
            b_first = x < source.size() && ta > static_cast<int32_t>(time_of(source[x]));
        } else {
            size_t y = m_next[i];
            if (y >= merged.size()) {
                b_first = false;
            } else if (tb != 0) {
                b_first = static_cast<int32_t>(time_of(merged[y])) > tb;
            } else {
                size_t x = s_next[j];
                b_first = x < source.size() &&
                          static_cast<int32_t>(time_of(merged[y])) > static_cast<int32_t>(time_of(source[x]));
            }
        }
        if (b_first) out.push_back(std::move(source[j++]));
        else out.push_back(std::move(merged[i++]));
    }
    for (; i < merged.size(); ++i) out.push_back(std::move(merged[i]));
    for (; j < source.size(); ++j) out.push_back(std::move(source[j]));
    return out;
}

}  // namespace em
