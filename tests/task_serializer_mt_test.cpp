// Task serializer: order of service, full queues, failing tasks, stopping with work pending.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "module/sip_record.h"
#include "platform/sync.h"
#include "tasks/task_serializer.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

constexpr uint32_t kThrow = 0xDEAD;
constexpr uint32_t kBlock = 0xB10C;

CSipRecord Task(uint32_t opcode) { return CSipRecord(opcode, 0, 0, 1, status::kPending); }

class TestSerializer : public CTaskSerializer {
public:
    explicit TestSerializer(uint32_t levels = 1) : CTaskSerializer(levels) {}
    ~TestSerializer() override { EndSerialization(); }

    void OnTaskExecution(CSipRecord& request, int level) override {
        const uint32_t oc = request.GetCommandValue(0, key::OC, 0);
        if (oc == kBlock) {
            entered.Set();
            (outer_gate ? *outer_gate : gate).Wait(platform::kInfinite);
        }
        {
            std::lock_guard<std::mutex> g(mutex);
            ran.emplace_back(oc, level);
        }
        if (oc == kThrow) throw std::runtime_error("task failed");
    }
    void OnQueueFull(const CSipRecord& request, int level) override {
        full_calls++;
        full_opcode = request.GetCommandValue(0, key::OC, 0);
    }
    void OnQueueEmpty(int level) override { empty_calls++; }

    std::vector<std::pair<uint32_t, int>> Ran() {
        std::lock_guard<std::mutex> g(mutex);
        return ran;
    }

    platform::Event entered, gate;
    platform::Event* outer_gate = nullptr;  // used instead of gate when set
    std::atomic<int> full_calls{0}, empty_calls{0};
    std::atomic<uint32_t> full_opcode{0};

private:
    std::mutex mutex;
    std::vector<std::pair<uint32_t, int>> ran;
};

bool Wait(platform::Event& e) { return e.Wait(5000) == platform::WaitResult::Signalled; }

TEST(TaskSerializer, HigherLevelFirstThenOldestFirst) {
    test::TraceCapture trace;
    platform::Event done;
    platform::Event* done_handle = &done;
    TestSerializer s(2);
    ASSERT_EQ(s.LevelCount(), 2u);
    // Queued before any worker exists: the tasks wait and run once it starts.
    EXPECT_TRUE(s.InsertTask(Task(1), 0, nullptr));
    EXPECT_TRUE(s.InsertTask(Task(2), 0, &done_handle));
    EXPECT_TRUE(s.InsertTask(Task(3), 1, nullptr));
    EXPECT_TRUE(s.InsertTask(Task(4), 1, nullptr));
    ASSERT_TRUE(s.StartSerialization());
    ASSERT_TRUE(Wait(done));
    EXPECT_EQ(s.Ran(), (std::vector<std::pair<uint32_t, int>>{{3, 1}, {4, 1}, {1, 0}, {2, 0}}));
    EXPECT_TRUE(s.TerminateSerialization());
    EXPECT_EQ(s.empty_calls.load(), 2);  // once per level, when its last task finished
    EXPECT_EQ(trace.Count("Task with priority 1 inserted into task queue!"), 2u);
    EXPECT_EQ(trace.Count("CTaskSerializer     : Process Task (Record 0x"), 4u);
    EXPECT_TRUE(trace.Contains(") at level 1 completed"));
    EXPECT_TRUE(trace.Contains("CTaskSerializer     : External event object 0x"));
    EXPECT_EQ(trace.Count("START THREAD TaskHandler()!"), 1u);
    EXPECT_EQ(trace.Count("EXIT THREAD TaskHandler()!"), 1u);
}

TEST(TaskSerializer, NineteenFitTwentiethIsRefusedUntilTheWorkerTakesOne) {
    test::TraceCapture trace;
    platform::Event last;
    platform::Event* last_handle = &last;
    TestSerializer s;
    EXPECT_TRUE(s.InsertTask(Task(kBlock), 0, nullptr));
    for (uint32_t i = 1; i < 19; ++i) EXPECT_TRUE(s.InsertTask(Task(i), 0, nullptr)) << i;
    EXPECT_FALSE(s.InsertTask(Task(0x77), 0, nullptr));
    EXPECT_EQ(s.full_calls.load(), 1);
    EXPECT_EQ(s.full_opcode.load(), 0x77u);
    EXPECT_TRUE(trace.Contains("CTaskSerializer     : ## ERROR! Task queue for priority 0 is full"));

    // Unknown levels are refused before any queue is looked at.
    EXPECT_FALSE(s.InsertTask(Task(5), -1, nullptr));
    EXPECT_FALSE(s.InsertTask(Task(5), 1, nullptr));
    EXPECT_EQ(s.full_calls.load(), 1);
    EXPECT_TRUE(trace.Contains("CTaskSerializer     : Manager locked for Tasks at level -1. Task ignored!"));
    EXPECT_TRUE(trace.Contains("CTaskSerializer     : Manager locked for Tasks at level 1. Task ignored!"));

    ASSERT_TRUE(s.StartSerialization());
    ASSERT_TRUE(Wait(s.entered));  // the worker holds the first task: one slot is free again
    EXPECT_TRUE(s.InsertTask(Task(19), 0, &last_handle));
    EXPECT_FALSE(s.InsertTask(Task(20), 0, nullptr));
    s.gate.Set();
    ASSERT_TRUE(Wait(last));
    auto ran = s.Ran();
    ASSERT_EQ(ran.size(), 20u);
    EXPECT_EQ(ran.front().first, kBlock);
    for (uint32_t i = 1; i < 20; ++i) EXPECT_EQ(ran[i].first, i);
}

TEST(TaskSerializer, FailingTaskStillCompletesAndTheNextOneRuns) {
    test::TraceCapture trace;
    platform::Event after_throw, last;
    platform::Event* after_throw_handle = &after_throw;
    platform::Event* last_handle = &last;
    platform::Event* null_handle = nullptr;
    TestSerializer s;
    ASSERT_TRUE(s.StartSerialization());
    EXPECT_TRUE(s.InsertTask(Task(kThrow), 0, &after_throw_handle));
    EXPECT_TRUE(s.InsertTask(Task(2), 0, &null_handle));
    EXPECT_TRUE(s.InsertTask(Task(3), 0, &last_handle));
    ASSERT_TRUE(Wait(after_throw));
    ASSERT_TRUE(Wait(last));
    EXPECT_TRUE(s.TerminateSerialization());  // the worker has traced all it does
    EXPECT_EQ(s.Ran().size(), 3u);
    EXPECT_EQ(trace.Count("\n\nCTaskSerializer     : ## EXCEPTION in OnTaskExecution()! ##"), 1u);
    EXPECT_EQ(trace.Count("CTaskSerializer     : ERROR setting external event object 0x"), 1u);
    EXPECT_EQ(trace.Count("CTaskSerializer     : External event object 0x"), 2u);
}

TEST(TaskSerializer, TerminateDiscardsPendingTasksAndLocksTheQueues) {
    test::TraceCapture trace;
    platform::Event pending_done;
    platform::Event* pending_handle = &pending_done;
    TestSerializer s;
    ASSERT_TRUE(s.StartSerialization());
    EXPECT_TRUE(s.StartSerialization());  // a worker runs already
    ASSERT_TRUE(s.InsertTask(Task(kBlock), 0, nullptr));
    ASSERT_TRUE(Wait(s.entered));
    for (uint32_t i = 1; i <= 3; ++i) ASSERT_TRUE(s.InsertTask(Task(i), 0, &pending_handle));

    // The running task is let go only once the pending ones have been discarded.
    std::thread release([&] {
        while (!trace.Contains("All pending tasks removed from queues!")) platform::Sleep(1);
        s.gate.Set();
    });
    EXPECT_TRUE(s.TerminateSerialization());
    release.join();
    EXPECT_EQ(s.Ran().size(), 1u);
    EXPECT_FALSE(pending_done.IsSignalled());
    EXPECT_TRUE(trace.Contains("CTaskSerializer     : Disable all Tasks"));
    EXPECT_EQ(trace.Count("START THREAD TaskHandler()!"), 1u);

    EXPECT_FALSE(s.InsertTask(Task(9), 0, nullptr));
    // A restart runs a worker, but the levels stay closed.
    ASSERT_TRUE(s.StartSerialization());
    EXPECT_FALSE(s.InsertTask(Task(9), 0, nullptr));
    EXPECT_EQ(trace.Count("Manager locked for Tasks at level 0. Task ignored!"), 2u);
    EXPECT_TRUE(s.TerminateSerialization());
    EXPECT_EQ(s.Ran().size(), 1u);
}

TEST(TaskSerializer, TerminateWithoutWorkerChangesNothing) {
    test::TraceCapture trace;
    platform::Event done;
    platform::Event* done_handle = &done;
    TestSerializer s;
    ASSERT_TRUE(s.InsertTask(Task(1), 0, &done_handle));
    EXPECT_TRUE(s.TerminateSerialization());
    EXPECT_FALSE(trace.Contains("Disable all Tasks"));
    EXPECT_TRUE(s.InsertTask(Task(2), 0, nullptr));
    ASSERT_TRUE(s.StartSerialization());
    ASSERT_TRUE(Wait(done));
}

// A task that outlives the stop wait: the object must not be freed under it.
TEST(TaskSerializer, DestructionWaitsForATaskThatOutlivesTheStopWait) {
    test::TraceCapture trace(5);
    platform::Event gate;  // outlives the serializer and the thread that opens it
    std::atomic<bool> task_finished{false};
    struct Slow : TestSerializer {
        // The class whose members the task uses ends the serialization itself.
        ~Slow() override { EndSerialization(); }
        Slow() { SetStuckTraceIntervalMs(20); }
        std::atomic<bool>* finished = nullptr;
        void OnTaskExecution(CSipRecord& request, int level) override {
            TestSerializer::OnTaskExecution(request, level);
            finished->store(true);
        }
    };
    auto s = std::make_unique<Slow>();
    s->finished = &task_finished;
    s->outer_gate = &gate;
    ASSERT_TRUE(s->StartSerialization());
    ASSERT_TRUE(s->InsertTask(Task(kBlock), 0, nullptr));
    ASSERT_TRUE(Wait(s->entered));
    EXPECT_FALSE(s->TerminateSerialization());  // gives up after the stop wait
    EXPECT_FALSE(task_finished.load());
    // Opened once the destruction has said twice that it waits for the task (or after 10 s).
    const char* waiting = "\nCTaskSerializer     : ## Still waiting for the task thread to end (";
    std::thread release([&] {
        for (int i = 0; i < 10000 && trace.Count(waiting) < 2; ++i) platform::Sleep(1);
        gate.Set();
    });
    s.reset();
    EXPECT_GE(trace.Count(waiting), 2u);
    EXPECT_TRUE(task_finished.load());
    release.join();
    EXPECT_TRUE(trace.Contains("\n\nCTaskSerializer     : Class destroyed!"));
}

}  // namespace
}  // namespace em
