// Cost of tracing: a call site while tracing is off, a composed line, a trace file line.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "diag/debug.h"
#include "platform/codepage.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;

// A registry file of its own in a fresh directory, removed at the end.
struct BenchRegistry {
    fs::path dir;
    explicit BenchRegistry(const std::string& values) {
        dir = fs::temp_directory_path() / ("em_trace_bench_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(dir);
        const std::string text = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\\EM_TARNEL]\n" +
                                 values + "\"TraceFile\"=str(2):\"" + (dir / "bench.log").string() + "\"\n";
        std::ofstream(dir / "registry.reg") << text;
        em::platform::SetRegistryFile((dir / "registry.reg").string());
    }
    ~BenchRegistry() {
        em::platform::SetRegistryFile("");
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

// The global facility with tracing off: the call site tests one flag and skips the rest,
// arguments included.
void BM_InactiveCallSite(benchmark::State& state) {
    BenchRegistry reg("");
    em::diag::g_Debug.ReadSettings();
    std::u16string text = u"argument";
    int n = 0;
    for (auto _ : state) {
        EM_TRACE(3, u"\nEM_TARNEL           : value %d of %s", ++n, text);
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(n);
}
BENCHMARK(BM_InactiveCallSite);

// A line without prefix fields, handed to a counting capture only.
void BM_ComposeLine(benchmark::State& state) {
    BenchRegistry reg("");
    em::diag::CDebug d;
    size_t chars = 0;
    d.SetCapture([](void* ctx, uint32_t, std::u16string_view line) { *static_cast<size_t*>(ctx) += line.size(); }, &chars, 5);
    for (auto _ : state) em::diag::Trace(d, 2, u"\nEM_TARNEL           : request 0x%04X for cabinet %d", 0x0B10u, 1);
    d.SetCapture(nullptr, nullptr, 0);
    benchmark::DoNotOptimize(chars);
}
BENCHMARK(BM_ComposeLine);

// A line composed with every prefix field and handed to no sink but a counting capture.
void BM_ComposeLineAllPrefixes(benchmark::State& state) {
    BenchRegistry reg(
        "\"TimeStampOn\"=dword:1\n\"DateStampOn\"=dword:1\n\"ThreadIdOn\"=dword:1\n\"CpuIdOn\"=dword:1\n"
        "\"AppNameOn\"=dword:1\n\"MemUsageOn\"=dword:1\n\"HandleCountOn\"=dword:1\n");
    em::diag::CDebug d;
    size_t chars = 0;
    d.SetCapture([](void* ctx, uint32_t, std::u16string_view line) { *static_cast<size_t*>(ctx) += line.size(); }, &chars, 5);
    for (auto _ : state) em::diag::Trace(d, 2, u"\nEM_TARNEL           : request 0x%04X for cabinet %d", 0x0B10u, 1);
    d.SetCapture(nullptr, nullptr, 0);
    benchmark::DoNotOptimize(chars);
}
BENCHMARK(BM_ComposeLineAllPrefixes);

// One line to the trace file: lock, examine, open, write, close, unlock.
void BM_FileSinkLine(benchmark::State& state) {
    BenchRegistry reg("\"FileDebugLevel\"=dword:5\n\"TraceFileLimit\"=dword:64\n");
    em::diag::CDebug d;
    for (auto _ : state)
        em::diag::Trace(d, 2, u"\nEM_TARNEL           : request 0x%04X for cabinet %d", 0x0B10u, 1);
}
BENCHMARK(BM_FileSinkLine)->Unit(benchmark::kMicrosecond);

}  // namespace
