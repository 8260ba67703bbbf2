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

TEST(Thread, SuspendedStartRunsOnlyAfterResume) {
    Gate g;
    CThread t;
    ASSERT_TRUE(t.Start(&Quick, &g, platform::kThreadPriorityHighest, true, 0));
    EXPECT_NE(t.ThreadId(), 0u);
    platform::Sleep(20);
    EXPECT_EQ(g.runs.load(), 0);
    EXPECT_TRUE(t.IsRunning());
    ASSERT_TRUE(t.Resume());
    EXPECT_TRUE(t.WaitForExit(5000));
    EXPECT_EQ(g.runs.load(), 1);
    EXPECT_FALSE(t.IsRunning());
}

TEST(Thread, WaitTimesOutWhileRunningAndSucceedsAfter) {
    Gate g;
    CThread t;
    ASSERT_TRUE(t.Start(&WaitForGate, &g, 0, false, 64 * 1024));
    EXPECT_FALSE(t.WaitForExit(10));
    EXPECT_EQ(t.LastError(), 0u);
    g.go.Set();
    EXPECT_TRUE(t.WaitForExit(5000));
    CThread none;
    EXPECT_TRUE(none.WaitForExit(100000));  // no thread: at once
    EXPECT_TRUE(none.Terminate(0));
}

TEST(Thread, TerminateEndedThreadIsQuietAndRunningOneWarns) {
    test::TraceCapture trace;
    Gate done;
    CThread ended;
    ASSERT_TRUE(ended.Start(&Quick, &done, 0, false, 0));
    ASSERT_TRUE(ended.WaitForExit(5000));
    EXPECT_TRUE(ended.Terminate(0));
    EXPECT_FALSE(ended.HasThread());
    EXPECT_FALSE(trace.Contains("TERMINATED"));

    // A gate of its own for every run (the test may be repeated), never freed: the abandoned
    // thread may touch it at any time.
    static auto* abandoned = new std::vector<Gate*>;
    Gate& g = *abandoned->emplace_back(new Gate);
    {
        CThread running;
        running.SetName(u"EM_TARNEL", u"_TaskHndlr");
        ASSERT_TRUE(running.Start(&WaitForGate, &g, 0, false, 0));
        while (g.runs.load() == 0) platform::Sleep(1);
        EXPECT_TRUE(running.Terminate(0));
        EXPECT_FALSE(running.HasThread());
    }
    EXPECT_EQ(trace.Count("## WARNING! RUNNING THREAD"), 1u);
    EXPECT_TRUE(trace.Contains("(\"EM_TARNEL_TaskHndlr\") TERMINATED!  ###"));
    g.go.Set();  // the abandoned thread finishes on its own
    platform::Sleep(10);
}

TEST(Thread, DestructorOfEndedThreadDoesNotWaitOrWarn) {
    test::TraceCapture trace;
    Gate g;
    {
        CThread t;
        t.bTerminateThread = 1;
        ASSERT_TRUE(t.Start(&Quick, &g, 0, false, 0));
        ASSERT_TRUE(t.WaitForExit(5000));
    }
    EXPECT_FALSE(trace.Contains("TERMINATED"));
    EXPECT_EQ(trace.Count("~CThread - name=\"\" (bTerminateThread=1)"), 1u);
}

TEST(Thread, NamesAreCutByTheLengthRule) {
    CThread t;
    EXPECT_FALSE(t.SetName(nullptr, u"x"));
    EXPECT_FALSE(t.SetName(u"", u"x"));
    EXPECT_FALSE(t.HasName());
    std::u16string sixty(60, u'a');
    EXPECT_TRUE(t.SetName(sixty.c_str(), u"_TaskHndlr"));
    EXPECT_EQ(t.Name(), sixty);
    EXPECT_TRUE(t.SetName(u"EM_TARNEL", u"_TaskHndlr"));
    EXPECT_EQ(t.Name(), u"EM_TARNEL_TaskHndlr");
    std::u16string seventy(70, u'b');
    EXPECT_TRUE(t.SetName(seventy.c_str(), nullptr));
    EXPECT_EQ(t.Name().size(), 62u);
}

TEST(Sync, EventIsManualResetAndWakesAllWaiters) {
    platform::Event e;
    EXPECT_EQ(e.Wait(5), platform::WaitResult::TimedOut);
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) waiters.emplace_back([&] {
        if (e.Wait(10000) == platform::WaitResult::Signalled) woke++;
    });
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
            platform::CsLock inner(cs);  // re-entry by the owner
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

TEST(Sync, LastErrorIsPerThreadAndTicksAdvance) {
    // Both threads hold their values at the same time; no system call in between (creating or
    // joining a thread may itself set the last error on Windows).
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
    uint32_t t0 = platform::TickCount();
    platform::Sleep(15);
    EXPECT_GE(static_cast<uint32_t>(platform::TickCount() - t0), 10u);
    platform::SetTickSource([]() -> uint32_t { return 0xFFFFFFF0u; });
    EXPECT_EQ(platform::TickCount(), 0xFFFFFFF0u);
    platform::SetTickSource(nullptr);
}

}  // namespace
}  // namespace em
