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
    CSipRecord reply(0x0300, 0, 0, 0, 0);
    for (uint32_t i = 0; i < 8; ++i) {
        reply.SetModuleId(i < 4 ? 0x10001 : 0x20001);
        t.AddInstanceMapping(reply, i % 4);
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int n = 0; n < 4; ++n) {
        threads.emplace_back([&, n] {
            for (uint32_t i = 0; i < 3000; ++i) {
                const uint32_t global = (i + n) % 8;
                CSipRecord req(0x0302, 0, global, 0, kNoStatus);
                wrong += !t.TranslateOids(req, true) || req.Value(key::MI) != (global < 4 ? 0x10001u : 0x20001u) ||
                         req.Value(key::OI) != global % 4;
                req.SetStatus(0);
                wrong += !t.TranslateOids(req, true) || req.Value(key::OI) != global;
            }
        });
    }
    // Another cabinet's count pass runs meanwhile (a module coming late).
    CSipRecord late(0x0300, 0, 0, 5, 0);
    late.SetModuleId(0x30001);
    for (uint32_t i = 0; i < 2000; ++i) t.AddInstanceMapping(late, i);
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    CSipRecord count(0x0300, 0, 0, 5, kNoStatus);
    ASSERT_TRUE(t.TranslateOids(count, true));
    EXPECT_EQ(count.Value(key::DA), 2000u & 0xFF);
}

}  // namespace
}  // namespace em
