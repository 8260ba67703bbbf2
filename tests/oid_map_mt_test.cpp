// OID translation from many host threads while another cabinet's table is being filled.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "mapping/oid_map_table.h"
#include "module/sip_record.h"

namespace em {
namespace {

TEST(OidMapConcurrency, TranslatorsSeeAConsistentTableWhileItGrows) {
    COidMapTable t;
    for (uint32_t mi : {0x10001u, 0x20001u}) {
        CSipRecord reply(0x0300, 0, 0, 0, 0);
        reply.SetModuleId(mi);
        for (uint32_t i = 0; i < 4; ++i) t.AddInstanceMapping(reply, i);
    }
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int n = 0; n < 4; ++n) {
        threads.emplace_back([&, n] {
            for (int i = 0; i < 3000; ++i) {
                uint32_t global = static_cast<uint32_t>((i + n) % 8);
                CSipRecord req(0x0302, 0, global, 0, kNoStatus);
                if (!t.TranslateOids(req, true)) ++wrong;
                uint32_t expect_mi = global < 4 ? 0x10001u : 0x20001u;
                if (req.Value(key::MI) != expect_mi || req.Value(key::OI) != global % 4) ++wrong;
                req.SetStatus(0);
                if (!t.TranslateOids(req, true) || req.Value(key::OI) != global) ++wrong;
            }
        });
    }
    // Another cabinet's count pass runs meanwhile (a module coming late).
    threads.emplace_back([&] {
        CSipRecord reply(0x0300, 0, 0, 5, 0);
        reply.SetModuleId(0x30001);
        for (uint32_t i = 0; i < 2000 && !stop; ++i) t.AddInstanceMapping(reply, i);
    });
    for (size_t i = 0; i + 1 < threads.size(); ++i) threads[i].join();
    stop = true;
    threads.back().join();
    EXPECT_EQ(wrong.load(), 0);
    CSipRecord count(0x0300, 0, 0, 0, kNoStatus);
    ASSERT_TRUE(t.TranslateOids(count, true));
    uint32_t v = 0;
    EXPECT_TRUE(count.GetDataUInt(0, v));
    EXPECT_EQ(v, 8u);
}

}  // namespace
}  // namespace em
