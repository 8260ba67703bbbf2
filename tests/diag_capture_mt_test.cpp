// The trace facility's capture sink installed and removed while other threads trace: a sink is
// never called without its context, nor after its removal has returned.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "diag/debug.h"
#include "tests/diag_test_util.h"

using namespace em;

namespace {

struct Owner {
    std::atomic<bool> removed{false};
    std::atomic<unsigned> calls{0};
};

std::atomic<unsigned> g_faults{0};

void Sink(void* ctx, uint32_t, std::u16string_view) {
    auto* owner = static_cast<Owner*>(ctx);
    if (!owner || owner->removed.load()) {
        ++g_faults;
        return;
    }
    ++owner->calls;
}

TEST(TraceCaptureMt, RemovalWaitsForCallsInFlight) {
    test::TempDir dir;
    test::ScopedRegistry reg(dir, "Windows Registry Editor Version 5.00\r\n");
    diag::CDebug d;
    g_faults = 0;
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t)
        writers.emplace_back([&, t] {
            while (!stop.load()) diag::Trace(d, 1, u"\nline %d", t);
        });
    // Owners are kept to the end, so that a late call is counted rather than a crash.
    std::vector<std::unique_ptr<Owner>> owners;
    unsigned calls = 0;
    for (int i = 0; i < 1000; ++i) {
        owners.push_back(std::make_unique<Owner>());
        d.SetCapture(&Sink, owners.back().get(), 5);
        std::this_thread::yield();
        d.SetCapture(nullptr, nullptr, 0);
        owners.back()->removed = true;
        calls += owners.back()->calls.load();
    }
    stop = true;
    for (auto& w : writers) w.join();
    EXPECT_EQ(g_faults.load(), 0u);
    EXPECT_GT(calls, 0u);
}

}  // namespace
