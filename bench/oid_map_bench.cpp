// OID translation on the request path: one cabinet against a hundred.
#include <benchmark/benchmark.h>

#include "mapping/oid_map_table.h"
#include "module/sip_record.h"

namespace em {
namespace {

constexpr uint32_t kCountKeys[][2] = {{0x0300, 0}, {0x0400, 0}, {0x0500, 0}, {0x0520, 0},
                                      {0xF041, 0}, {0x0C21, 0x05}, {0x0C21, 0x1C}};

// Every cabinet gets its 7 entries, each served by two modules with 8 objects apiece.
void Fill(COidMapTable& t, uint32_t cabinets) {
    for (uint32_t cab = 0; cab < cabinets; ++cab)
        for (auto [oc, oe] : kCountKeys)
            for (uint32_t mi : {0x00010001u, 0x00020001u}) {
                CSipRecord reply(oc, oe, 0, cab, 0);
                reply.SetModuleId(mi);
                for (uint32_t i = 0; i < 8; ++i) t.AddInstanceMapping(reply, i);
            }
}

// Translates a request for the last cabinet down, then its reply up.
void BM_TranslateOids(benchmark::State& state) {
    COidMapTable t;
    uint32_t cabinets = static_cast<uint32_t>(state.range(0));
    Fill(t, cabinets);
    uint32_t cab = cabinets - 1;
    for (auto _ : state) {
        CSipRecord req(0x0302, 0, 11, cab, kNoStatus);
        benchmark::DoNotOptimize(t.TranslateOids(req, true));
        req.SetStatus(0);
        benchmark::DoNotOptimize(t.TranslateOids(req, true));
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_TranslateOids)->Arg(1)->Arg(100);

// The translation alone, on a record built once (the request path's own cost).
void BM_TranslateOnly(benchmark::State& state) {
    COidMapTable t;
    uint32_t cabinets = static_cast<uint32_t>(state.range(0));
    Fill(t, cabinets);
    CSipRecord req(0x0302, 0, 11, cabinets - 1, 0);
    req.SetModuleId(0x00020001);
    for (auto _ : state) {
        req.SetObjectId(3);
        benchmark::DoNotOptimize(t.TranslateOids(req, true));  // reply: module's 3 -> global 11
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TranslateOnly)->Arg(1)->Arg(100);

}  // namespace
}  // namespace em
