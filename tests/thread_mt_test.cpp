// Thread wrapper and the platform's thread, event and lock primitives.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/sync.h"
#include "tasks/thread.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

struct Gate {
    platform::Event go;
    std::atomic<int> runs{0};
};

unsigned WaitForGate(void* arg) {
    auto* g = static_cast<Gate*>(arg);
    g->runs++;
    g->go.Wait(platform::kInfinite);
    return 7;
}

unsigned Quick(void* arg) {
    static_cast<Gate*>(arg)->runs++;
    return 3;
}

TEST(Thread, SuspendedStartRunsOnlyAfterResumeAndWaitsTimeOutWhileRunning) {
    Gate g, quick;
    CThread t;
    ASSERT_TRUE(t.Start(&WaitForGate, &g, platform::kThreadPriorityHighest, true, 64 * 1024));
    EXPECT_NE(t.ThreadId(), 0u);
    EXPECT_TRUE(t.IsRunning());
    EXPECT_FALSE(t.WaitForExit(10));
    EXPECT_EQ(g.runs.load(), 0);
    ASSERT_TRUE(t.Resume());
    EXPECT_FALSE(t.WaitForExit(10));
    EXPECT_EQ(t.LastError(), 0u);
    g.go.Set();
    EXPECT_TRUE(t.WaitForExit(10000));
    EXPECT_EQ(g.runs.load(), 1);
    EXPECT_FALSE(t.IsRunning());
    CThread none;
    EXPECT_TRUE(none.WaitForExit(100000));  // no thread: at once
    EXPECT_FALSE(none.IsRunning());
    EXPECT_FALSE(none.Resume());
    EXPECT_TRUE(none.Terminate(0));
}

TEST(Thread, TerminatingARunningThreadWarnsAnEndedOneIsQuiet) {
    test::TraceCapture trace;
    Gate done;
    {
        CThread ended;
        ended.bTerminateThread = 1;
        ASSERT_TRUE(ended.Start(&Quick, &done, 0, false, 0));
        ASSERT_TRUE(ended.WaitForExit(10000));
        EXPECT_TRUE(ended.HasThread());
    }
    CThread ended;
    ASSERT_TRUE(ended.Start(&Quick, &done, 0, false, 0));
    ASSERT_TRUE(ended.WaitForExit(10000));
    EXPECT_TRUE(ended.Terminate(0));
    EXPECT_FALSE(ended.HasThread());
    EXPECT_FALSE(trace.Contains("TERMINATED"));
    EXPECT_EQ(trace.Count("~CThread - name=\"\" (bTerminateThread=1)"), 1u);

    // A gate of its own for every run (the test may be repeated), never freed: the abandoned
    // thread may touch it at any time.
    static auto* abandoned = new std::vector<Gate*>;
    Gate& g = *abandoned->emplace_back(new Gate);
    {
        CThread running;
        running.SetName(u"EM_TARNEL", u"_TaskHndlr");
        ASSERT_TRUE(running.Start(&WaitForGate, &g, 0, false, 0));
        while (g.runs.load() == 0) std::this_thread::yield();
        EXPECT_TRUE(running.Terminate(0));
        EXPECT_FALSE(running.HasThread());
    }
    EXPECT_EQ(trace.Count("## WARNING! RUNNING THREAD"), 1u);
    EXPECT_TRUE(trace.Contains("(\"EM_TARNEL_TaskHndlr\") TERMINATED!  ###"));
    g.go.Set();  // the abandoned thread finishes on its own
}

TEST(Thread, NamesAreCutByTheLengthRule) {
    CThread t;
    EXPECT_FALSE(t.SetName(nullptr, u"x"));
    EXPECT_FALSE(t.SetName(u"", u"x"));
    EXPECT_FALSE(t.HasName());
    const std::u16string s53(53, u'a'), s54(54, u'a'), s70(70, u'b');
    const std::pair<std::u16string, std::u16string> cases[] = {
        {s53, s53 + u"_TaskHndlr"}, {s54, s54}, {s70, s70.substr(0, 62)}, {u"EM_TARNEL", u"EM_TARNEL_TaskHndlr"}};
    for (const auto& [prefix, name] : cases) {
        EXPECT_TRUE(t.SetName(prefix.c_str(), u"_TaskHndlr"));
        EXPECT_EQ(t.Name(), name);
    }
    EXPECT_TRUE(t.SetName(u"x", nullptr));
    EXPECT_EQ(t.Name(), u"x");
}

TEST(Sync, EventIsManualResetAndWakesAllWaiters) {
    platform::Event e;
    EXPECT_EQ(e.Wait(5), platform::WaitResult::TimedOut);
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { woke += e.Wait(10000) == platform::WaitResult::Signalled; });
    e.Set();
    for (auto& w : waiters) w.join();
    EXPECT_EQ(woke.load(), 4);
    EXPECT_EQ(e.Wait(0), platform::WaitResult::Signalled);  // stays set
    e.Reset();
    EXPECT_EQ(e.Wait(0), platform::WaitResult::TimedOut);
}

TEST(Sync, CriticalSectionIsRecursiveAndExclusive) {
    platform::CriticalSection cs;
    long counter = 0;
    // Re-entry is beyond what the lock analysis models.
    auto work = [&]() EM_NO_THREAD_SAFETY_ANALYSIS {
        for (int i = 0; i < 20000; ++i) {
            platform::CsLock outer(cs);
            platform::CsLock inner(cs);
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

TEST(Sync, LastErrorIsPerThreadAndTicksCanBeReplaced) {
    // Both threads hold their values at the same time; no system call in between (a
    // yield may set the last error as well).
    std::atomic<int> step{0};
    uint32_t seen = 1;
    std::thread other([&] {
        while (step.load() != 1) {
        }
        seen = platform::GetLastError();
        platform::SetLastError(9);
        step.store(2);
    });
    platform::SetLastError(5);
    step.store(1);
    while (step.load() != 2) {
    }
    EXPECT_EQ(platform::GetLastError(), 5u);
    other.join();
    EXPECT_NE(seen, 5u);
    platform::SetTickSource([]() -> uint32_t { return 0xFFFFFFF0u; });
    EXPECT_EQ(platform::TickCount(), 0xFFFFFFF0u);
    platform::SetTickSource(nullptr);
}

}  // namespace
}  // namespace em
