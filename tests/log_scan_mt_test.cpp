// Fills of one cabinet on two threads at once, sharing the CSS and designation caches, while the
// scan of that cabinet runs.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "tests/log_scan_data.h"

namespace em {
namespace {

using namespace test;

TEST(LogScanMt, FillsOnTwoThreadsNumberEveryEntryOnce) {
    constexpr uint32_t kPerFill = 8, kFills = 15;
    ScanFixture f(Scenario({Mod(0x10001, {Ans(0x0B00, Raw(Cat({Sel(0x0400, 5, 1), Sel(0x0400, 6, 2)})), 0, 0),
                                          Ans(0x0307, "1"), Ans(0x0304, R"("Fan")")})}));
    CTarnelModule& m = f.m;

    std::vector<uint32_t> firsts[2];
    std::vector<std::thread> threads;
    threads.emplace_back([&] { for (int i = 0; i < 3; ++i) m.RunLogScan(0); });
    for (uint32_t t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            // New-entries events of one module: entries of group 0x04 for objects 0-3 (shared keys).
            for (uint32_t round = 0; round < kFills; ++round) {
                Bytes data;
                for (uint32_t i = 0; i < kPerFill; ++i)
                    data = Cat({data, Sel(0x0400, round * 100 + i + 1, static_cast<uint16_t>(i % 4))});
                CSipRecord r(0x0B00, 0, 0, 0, 0xFF);
                r.SetModuleId(0x10001 + t);
                r.SetReplyRaw(data, 0xFF);
                firsts[t].push_back(m.FillCache(r));
            }
        });
    for (auto& t : threads) t.join();

    // Each fill got a block of numbers of its own; with the scans' 3 x 2 entries the numbers run
    // from 1 without a gap.
    const uint32_t total = 2 * kFills * kPerFill + 6;
    ASSERT_EQ(m.MsgLogCache().GetEntryCount(0), total);
    std::set<uint32_t> seen;
    CMsgLogEntry e;
    for (uint32_t i = 0; m.MsgLogCache().GetCabinet(0, false)->CopyEntryAt(i, e); ++i) {
        EXPECT_TRUE(seen.insert(e.sequenceNumber).second);
    }
    EXPECT_EQ(*seen.begin(), 1u);
    EXPECT_EQ(*seen.rbegin(), total);
    for (const auto& list : firsts)
        for (uint32_t first : list) {
            ASSERT_TRUE(m.MsgLogCache().FindEntryBySequence(0, first + kPerFill - 1, e));
            EXPECT_EQ(e.timestamp % 100, kPerFill);  // the fill's last entry closes its block
        }
    // Racing fills may ask for a new key at the same time, but never once it is cached.
    EXPECT_LE(f.host.Down({"OC=0x0307"}).size(), 4u * 3);
}

}  // namespace
}  // namespace em
