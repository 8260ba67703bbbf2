// Request record: building, reading and copying the records every request travels in.
#include <benchmark/benchmark.h>

#include "module/sip_record.h"

namespace em {
namespace {

void BM_RecordBuildAndRead(benchmark::State& state) {
    for (auto _ : state) {
        CSipRecord r(0x0302, 0x10, 3, 0, kNoStatus);
        r.SetModuleId(0x0001, 0x0002);
        r.SetReplyUInt(42, 0);
        uint32_t v = 0;
        benchmark::DoNotOptimize(r.GetDataUInt(0, v));
        benchmark::DoNotOptimize(r.Value(key::OI) + r.Value(key::ST));
    }
}
BENCHMARK(BM_RecordBuildAndRead);

void BM_RecordCopy(benchmark::State& state) {
    CSipRecord src(0x0B10, 0x407, 0, 0, kNoStatus);
    std::vector<uint8_t> bytes(512, 0x5A);
    src.SetReplyRaw(bytes, 0);
    for (auto _ : state) {
        CSipRecord copy(src);
        benchmark::DoNotOptimize(copy.GetDataLength(0));
    }
}
BENCHMARK(BM_RecordCopy);

}  // namespace
}  // namespace em
