// Fuzz target: the readers of old-style log entries and unified log records over arbitrary log
// data, and the time-order merge against a plain step-by-step version of the same rules.
//
// Input: the whole input is read as the data of a CM_LogEntry reply and as the data of a
// CM_LogMessageArgumentsRead reply. For the merge, byte 0 gives the length of the first list
// (modulo 64), and each further byte is one element's time (see TimeOf).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "msglog/log_merge.h"
#include "msglog/log_scan_records.h"

namespace {

#define FUZZ_CHECK(cond) \
    do {                 \
        if (!(cond)) std::abort(); \
    } while (0)

void OldStyle(std::span<const uint8_t> data) {
    size_t offset = 0;
    while (offset < data.size()) {
        const size_t length = em::OldStyleEntryAt(data, offset);
        if (length == 0) break;
        FUZZ_CHECK(length >= em::kOldStyleMinSize && length <= data.size() - offset);
        FUZZ_CHECK(length == em::SelEntryLength(data.data() + offset));
        em::CMsgLogEntry e;
        em::FillOldStyleEntry(data.data() + offset, length, 7, e);
        FUZZ_CHECK(e.rawSel.size() == length && e.errorCode < 0x4000 && e.entryClass < 4 && e.oldStyle == 1);
        em::ObjectKey(em::OldStyleKeyOf(data.data() + offset));
        offset += length;
    }
}

void Unified(std::span<const uint8_t> data) {
    size_t offset = 0;
    while (offset < data.size()) {
        em::CMsgLogEntry e;
        const em::UnifiedRead r = em::ReadUnifiedRecord(data, offset, e);
        if (r.length == 0) break;
        FUZZ_CHECK(r.length >= em::kUnifiedMinSize && r.length <= data.size() - offset);
        if (r.sound) {
            // Arguments 1..k in order, none empty, no more than the record counts.
            uint32_t expected = 1;
            for (const auto& [index, text] : e.stringArgs) {
                FUZZ_CHECK(index == expected++ && !text.empty());
            }
            FUZZ_CHECK(e.stringArgs.size() <= data[offset + 25] && e.oldStyle == 0 && e.rawSel.empty());
        }
        offset += r.length;
    }
}

struct Item {
    uint32_t time;
    uint32_t id;
    bool operator==(const Item&) const = default;
};

// Small signed times with many zeros ("no time") and the extremes of the signed comparison.
uint32_t TimeOf(uint8_t b) {
    if (b == 0xFF) return 0x80000000u;
    if (b == 0xFE) return 0x7FFFFFFFu;
    if (b < 0x40) return 0;
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(b)) / 4);
}

int32_t Signed(uint32_t t) { return static_cast<int32_t>(t); }

// The merge as a walk over the merged list, inserting the source's head where it belongs.
std::vector<Item> StepByStepMerge(std::vector<Item> m, std::vector<Item> s) {
    size_t head = 0;
    auto first_timed_after = [](const std::vector<Item>& v, size_t i) -> const Item* {
        for (size_t k = i + 1; k < v.size(); ++k)
            if (Signed(v[k].time) != 0) return &v[k];
        return nullptr;
    };
    for (size_t i = 0; i < m.size() && head < s.size(); ++i) {
        const Item a = m[i], b = s[head];
        bool before;
        if (a.time && b.time) {
            before = Signed(a.time) > Signed(b.time);
        } else if (a.time) {
            const Item* x = first_timed_after(s, head);
            before = x && Signed(a.time) > Signed(x->time);
        } else {
            const Item* y = first_timed_after(m, i);
            if (b.time) {
                before = y && Signed(y->time) > Signed(b.time);
            } else {
                const Item* x = first_timed_after(s, head);
                before = y && x && Signed(y->time) > Signed(x->time);
            }
        }
        if (before) m.insert(m.begin() + static_cast<std::ptrdiff_t>(i), s[head++]);
    }
    m.insert(m.end(), s.begin() + static_cast<std::ptrdiff_t>(head), s.end());
    return m;
}

void Merge(std::span<const uint8_t> data) {
    if (data.empty()) return;
    const size_t first = std::min<size_t>(data[0] % 64, data.size() - 1);
    std::vector<Item> m, s;
    uint32_t id = 0;
    for (size_t i = 1; i < data.size() && i < 1 + 128; ++i) (i <= first ? m : s).push_back({TimeOf(data[i]), id++});
    const std::vector<Item> expected = StepByStepMerge(m, s);
    const std::vector<Item> got = em::MergeByTime(std::move(m), std::move(s), [](const Item& e) { return e.time; });
    FUZZ_CHECK(got == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    OldStyle(bytes);
    Unified(bytes);
    Merge(bytes);
    return 0;
}
