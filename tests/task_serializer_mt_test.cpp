// Task serializer, the thread wrapper and the platform thread primitives under it.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "module/sip_record.h"
#include "platform/sync.h"
#include "tasks/task_serializer.h"
#include "tasks/thread.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

constexpr uint32_t kThrow = 0xDEAD, kBlock = 0xB10C;
using Ran = std::vector<std::pair<uint32_t, int>>;

CSipRecord Task(uint32_t opcode) { return CSipRecord(opcode, 0, 0, 1, status::kPending); }

// Records the tasks it runs; kBlock holds the worker until gate opens, kThrow fails.
class TestSerializer : public CTaskSerializer {
public:
    explicit TestSerializer(uint32_t levels = 1) : CTaskSerializer(levels) {}
    ~TestSerializer() override { EndSerialization(); }
    void OnTaskExecution(CSipRecord& request, int level) override {
        const uint32_t oc = request.Value(key::OC);
        if (oc == kBlock) {
            entered.Set();
            gate->Wait(platform::kInfinite);
        }
        {
            std::lock_guard<std::mutex> g(mutex);
            ran.emplace_back(oc, level);
        }
        if (finished) finished->store(true);
        if (oc == kThrow) throw std::runtime_error("task failed");
    }
    void OnQueueFull(const CSipRecord& request, int) override { full.push_back(request.Value(key::OC)); }
    void OnThreadStart() override { hooks += 1; }
    void OnThreadExit() override { hooks += 10; }
    void OnQueueEmpty(int level) override {
        std::lock_guard<std::mutex> g(mutex);
        emptied.push_back(level);
    }
    Ran Done() { return Locked(ran); }
    std::vector<int> Emptied() { return Locked(emptied); }
    platform::Event entered, own_gate;
    platform::Event* gate = &own_gate;
    std::vector<uint32_t> full;  // host thread only
    std::atomic<int> hooks{0};
    std::atomic<bool>* finished = nullptr;  // set by every task that returns
    using CTaskSerializer::EndSerialization;
    using CTaskSerializer::SetStuckTraceIntervalMs;

private:
    template <class T>
    T Locked(const T& v) {
        std::lock_guard<std::mutex> g(mutex);
        return v;
    }
    std::mutex mutex;
    Ran ran;
    std::vector<int> emptied;
};

bool Wait(platform::Event& e) { return e.Wait(10000) == platform::WaitResult::Signalled; }

TEST(TaskSerializer, HigherLevelFirstThenOldestFirstOnEveryLevelAndFailuresDoNotStopTheWorker) {
    test::TraceCapture trace;
    platform::Event done, after_throw;
    platform::Event *done_handle = &done, *throw_handle = &after_throw, *null_handle = nullptr;
    TestSerializer s(2);
    // Queued before any worker exists: the tasks wait and run once it starts.
    for (auto [oc, level] : Ran{{1, 0}, {kThrow, 0}, {3, 1}, {4, 1}})
        EXPECT_TRUE(s.InsertTask(Task(oc), level, oc == kThrow ? &throw_handle : oc == 3 ? &null_handle : nullptr));
    EXPECT_TRUE(s.InsertTask(Task(2), 0, &done_handle));
    ASSERT_TRUE(s.StartSerialization());
    ASSERT_TRUE(Wait(done));
    EXPECT_TRUE(after_throw.IsSignalled());
    EXPECT_TRUE(s.TerminateSerialization());
    EXPECT_EQ(s.Done(), (Ran{{3, 1}, {4, 1}, {1, 0}, {kThrow, 0}, {2, 0}}));
    EXPECT_EQ(s.Emptied(), (std::vector<int>{1, 0}));  // once per level, when its last task finished
    EXPECT_EQ(s.hooks.load(), 11);  // the worker's first and last call
    EXPECT_EQ(trace.Count("\n\nCTaskSerializer     : ## EXCEPTION in OnTaskExecution()! ##"), 1u);
    EXPECT_EQ(trace.Count("CTaskSerializer     : ERROR setting external event object 0x"), 1u);
    EXPECT_EQ(trace.Count("CTaskSerializer     : External event object 0x"), 2u);

    // Every one of six levels is open and served from the top.
    done.Reset();
    TestSerializer six(6);
    for (int level = 0; level < 6; ++level)
        EXPECT_TRUE(six.InsertTask(Task(10 + level), level, level ? nullptr : &done_handle));
    ASSERT_TRUE(six.StartSerialization());
    ASSERT_TRUE(Wait(done));
    EXPECT_EQ(six.Done(), (Ran{{15, 5}, {14, 4}, {13, 3}, {12, 2}, {11, 1}, {10, 0}}));
}

TEST(TaskSerializer, NineteenFitTwentiethIsRefusedUntilTheWorkerTakesOne) {
    test::TraceCapture trace;
    platform::Event last;
    platform::Event* last_handle = &last;
    TestSerializer s;
    EXPECT_FALSE(s.QueueHasRoom(1));
    for (uint32_t i = 0; i < 19; ++i) EXPECT_TRUE(s.InsertTask(Task(i ? i : kBlock), 0, nullptr)) << i;
    EXPECT_FALSE(s.QueueHasRoom(0));
    EXPECT_FALSE(s.InsertTask(Task(0x77), 0, nullptr));
    EXPECT_TRUE(trace.Contains("CTaskSerializer     : ## ERROR! Task queue for priority 0 is full"));
    // Unknown levels are refused before any queue is looked at.
    EXPECT_FALSE(s.InsertTask(Task(5), -1, nullptr));
    EXPECT_FALSE(s.InsertTask(Task(5), 1, nullptr));
    EXPECT_EQ(s.full, std::vector<uint32_t>{0x77});

    ASSERT_TRUE(s.StartSerialization());
    ASSERT_TRUE(Wait(s.entered));  // the worker holds the first task: one slot is free again
    EXPECT_TRUE(s.QueueHasRoom(0));
    EXPECT_TRUE(s.InsertTask(Task(19), 0, &last_handle));
    EXPECT_FALSE(s.InsertTask(Task(20), 0, nullptr));
    s.gate->Set();
    ASSERT_TRUE(Wait(last));
    Ran ran = s.Done();
    ASSERT_EQ(ran.size(), 20u);
    for (uint32_t i = 1; i < 20; ++i) EXPECT_EQ(ran[i].first, i);
}

TEST(TaskSerializer, TerminateDiscardsPendingTasksAndClosesTheQueuesForGood) {
    test::TraceCapture trace;
    platform::Event pending_done;
    platform::Event* pending_handle = &pending_done;
    TestSerializer idle;  // no worker: terminate changes nothing
    EXPECT_TRUE(idle.TerminateSerialization());
    EXPECT_TRUE(idle.InsertTask(Task(2), 0, nullptr));

    TestSerializer s;
    ASSERT_TRUE(s.StartSerialization());
    EXPECT_TRUE(s.StartSerialization());  // a worker runs already
    ASSERT_TRUE(s.InsertTask(Task(kBlock), 0, nullptr));
    ASSERT_TRUE(Wait(s.entered));
    for (uint32_t i = 1; i <= 3; ++i) ASSERT_TRUE(s.InsertTask(Task(i), 0, &pending_handle));
    // The running task is let go only once the pending ones have been discarded.
    std::thread release([&] {
        while (!trace.Contains("All pending tasks removed from queues!")) std::this_thread::yield();
        s.gate->Set();
    });
    EXPECT_TRUE(s.TerminateSerialization());
    release.join();
    EXPECT_EQ(s.Done().size(), 1u);
    EXPECT_FALSE(pending_done.IsSignalled());
    // A restart runs a worker, but the levels stay closed.
    EXPECT_FALSE(s.InsertTask(Task(9), 0, nullptr));
    ASSERT_TRUE(s.StartSerialization());
    EXPECT_FALSE(s.InsertTask(Task(9), 0, nullptr));
    EXPECT_EQ(trace.Count("Manager locked for Tasks at level 0. Task ignored!"), 2u);
    EXPECT_TRUE(s.TerminateSerialization());
    EXPECT_EQ(s.Done().size(), 1u);
}

TEST(TaskSerializer, EndWaitsForATaskThatOutlivesTheStopWait) {
    test::TraceCapture trace(5);
    platform::Event gate;  // outlives the serializer and the thread that opens it
    std::atomic<bool> finished{false};
    auto s = std::make_unique<TestSerializer>();
    s->SetStuckTraceIntervalMs(20);
    s->gate = &gate;
    s->finished = &finished;
    EXPECT_EQ(s->WorkEventError(), 0u);
    ASSERT_TRUE(s->StartSerialization());
    ASSERT_TRUE(s->InsertTask(Task(kBlock), 0, nullptr));
    ASSERT_TRUE(Wait(s->entered));
    EXPECT_FALSE(s->TerminateSerialization());  // gives up after the stop wait
    // Opened once the end has said twice that it waits for the task.
    const char* waiting = "\nCTaskSerializer     : ## Still waiting for the task thread to end (";
    std::thread release([&] {
        while (trace.Count(waiting) < 2) std::this_thread::yield();
        gate.Set();
    });
    s->EndSerialization();
    EXPECT_TRUE(finished.load());  // returned only once the task had
    s.reset();
    release.join();
    EXPECT_TRUE(trace.Contains("\n\nCTaskSerializer     : Class destroyed!"));
    EXPECT_TRUE(trace.Contains("_TaskHndlr\" (bTerminateThread=1)"));  // a worker left running is ended
}

// ---- the thread wrapper and the primitives under it ----

struct Gate {
    platform::Event go;
    std::atomic<int> runs{0};
    std::atomic<uint32_t> id{0};  // as the thread sees itself
};

unsigned WaitForGate(void* arg) {
    auto* g = static_cast<Gate*>(arg);
    g->id = platform::CurrentThreadId();
    g->runs++;
    g->go.Wait(platform::kInfinite);
    return 7;
}

TEST(Thread, SuspendedStartWaitsForResumeAndTerminatingARunningThreadWarns) {
    test::TraceCapture trace;
    Gate g;
    {
        CThread t;
        t.bTerminateThread = 1;
        ASSERT_TRUE(t.Start(&WaitForGate, &g, platform::kThreadPriorityHighest, true, 64 * 1024));
        EXPECT_NE(t.ThreadId(), 0u);
        EXPECT_EQ(t.LastError(), 0u);
        EXPECT_TRUE(t.IsRunning());
        EXPECT_FALSE(t.WaitForExit(10));
        EXPECT_EQ(g.runs.load(), 0);
        ASSERT_TRUE(t.Resume());
        EXPECT_FALSE(t.WaitForExit(10));
        EXPECT_EQ(t.LastError(), 0u);
        g.go.Set();
        EXPECT_TRUE(t.WaitForExit(10000));
        EXPECT_EQ(std::pair(g.runs.load(), g.id.load()), std::pair(1, t.ThreadId()));
        EXPECT_FALSE(t.IsRunning());
        EXPECT_TRUE(t.HasThread());
        EXPECT_TRUE(t.Terminate(0));  // an ended thread: quiet
        EXPECT_EQ(t.LastError(), 0u);
        EXPECT_FALSE(t.HasThread());
    }
    EXPECT_FALSE(trace.Contains("TERMINATED"));
    EXPECT_EQ(trace.Count("~CThread - name=\"\" (bTerminateThread=1)"), 1u);
    CThread none;
    EXPECT_TRUE(none.WaitForExit(100000));  // no thread: at once
    EXPECT_FALSE(none.IsRunning());
    EXPECT_FALSE(none.Resume());
    EXPECT_TRUE(none.Terminate(0));

    // Terminating a running thread warns. New gates for every run (the test may be repeated), never
    // freed: the abandoned threads may touch them at any time.
    trace.Clear();
    static auto* abandoned = new std::vector<Gate*>;
    Gate& held = *abandoned->emplace_back(new Gate);
    Gate& left = *abandoned->emplace_back(new Gate);
    {
        CThread running, leftRunning;  // the second one is only let go of: no warning
        ASSERT_TRUE(leftRunning.Start(&WaitForGate, &left, 0, false, 0));
        running.SetName(u"EM_TARNEL", u"_TaskHndlr");
        ASSERT_TRUE(running.Start(&WaitForGate, &held, 0, false, 0));
        while (held.runs.load() == 0) std::this_thread::yield();
        EXPECT_TRUE(running.Terminate(0));
        EXPECT_FALSE(running.HasThread());
    }
    EXPECT_EQ(trace.Count("## WARNING! RUNNING THREAD"), 1u);
    EXPECT_TRUE(trace.Contains("(\"EM_TARNEL_TaskHndlr\") TERMINATED!  ###"));
    held.go.Set();  // the abandoned threads finish on their own
    left.go.Set();
}

TEST(Thread, NamesAreCutByTheLengthRule) {
    CThread t;
    EXPECT_FALSE(t.SetName(nullptr, u"x"));
    EXPECT_FALSE(t.SetName(u"", u"x"));
    EXPECT_FALSE(t.HasName());
    const std::u16string s53(53, u'a'), s54(54, u'a'), s63(63, u'c'), s70(70, u'b');
    const std::pair<std::u16string, std::u16string> cases[] = {
        {s53, s53 + u"_TaskHndlr"}, {s54, s54}, {s63, s63.substr(0, 62)}, {s70, s70.substr(0, 62)}};
    for (const auto& [prefix, name] : cases) {
        EXPECT_TRUE(t.SetName(prefix.c_str(), u"_TaskHndlr"));
        EXPECT_EQ(t.Name(), name);
    }
    EXPECT_TRUE(t.SetName(u"x", nullptr));
    EXPECT_EQ(t.Name(), u"x");
}

}  // namespace
}  // namespace em
