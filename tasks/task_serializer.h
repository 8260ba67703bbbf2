// CTaskSerializer: runs background work one task at a time on a worker thread of its own.
//
// A task is a copy of a request record queued at a priority level. The worker serves the highest
// level first and, within a level, the oldest task first; it hands the copy to OnTaskExecution,
// which the deriving class implements.
//
// Derived classes: every class that overrides OnTaskExecution, or whose members a task uses, calls
// EndSerialization() (or TerminateSerialization() and then, always, WaitForWorkerEnd()) at the
// start of its own destructor. By the time the base destructor runs, the derived part is gone: a
// worker must no longer be able to reach OnTaskExecution, and a task that outlived the stop wait
// must have returned before the members it uses are torn down.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "module/sip_record.h"
#include "platform/sync.h"
#include "tasks/thread.h"

namespace em {

class CTaskSerializer {
public:
    // Room for 20 task pointers per level; one slot always stays free, so a level holds 19 tasks.
    static constexpr uint32_t kQueueEntries = 20;
    // How long TerminateSerialization waits for the worker after the stop request.
    static constexpr uint32_t kStopWaitMs = 2000;

    // May throw (the module frame contains exceptions from the module's destruction).
    virtual ~CTaskSerializer() noexcept(false);
    CTaskSerializer(const CTaskSerializer&) = delete;
    CTaskSerializer& operator=(const CTaskSerializer&) = delete;

    // Runs one task on the worker thread. request is the serializer's own copy; it is destroyed
    // after the call.
    virtual void OnTaskExecution(CSipRecord& request, int level) = 0;
    // Worker thread, lock held: a task of level has finished and the level's queue is empty.
    virtual void OnQueueEmpty(int level) {}
    // InsertTask, lock held: the level's queue has no room; the task is dropped afterwards.
    virtual void OnQueueFull(const CSipRecord& request, int level) {}
    // First and last thing the worker thread does.
    virtual void OnThreadStart() {}
    virtual void OnThreadExit() {}
    // Worker thread, no lock held: the task has run (also when it threw) and its completion event
    // has been set; request is still the serializer's copy. Tasks may be queued from here.
    virtual void OnTaskDone(const CSipRecord& request, int level) {}

    // Starts the worker unless one is running. True when a worker runs.
    bool StartSerialization();
    // Queues a copy of request at level; done (may be null) points to an event handle that is set
    // once the task has run. False when the level is unknown or closed, or its queue is full.
    bool InsertTask(const CSipRecord& request, int level, platform::Event** done);
    // Discards every queued task unexecuted; their completion events are not set.
    void RemoveAllTasks();
    // Closes every level, discards queued tasks and stops a running worker. False only when the
    // worker did not end within the stop wait.
    bool TerminateSerialization();

    // Whether an insert at level would find room now (a host thread may take it first).
    bool QueueHasRoom(int level) EM_EXCLUDES(m_lock);

    uint32_t LevelCount() const { return m_dwLevels; }
    // The system error of the work event's creation (0 when it was created).
    uint32_t WorkEventError() const { return m_dwWorkEventError; }

protected:
    explicit CTaskSerializer(uint32_t levels = 1);

    // TerminateSerialization, then WaitForWorkerEnd. Returns TerminateSerialization's result.
    bool EndSerialization();
    // Tells every worker to stop and blocks until each one this object ever started has left its
    // body. A worker is
    // only ever blocked inside a task or a lower-module call, never forever, so this ends. While
    // it waits, a line is traced every StuckTraceIntervalMs so that a hanging unload shows why.
    void WaitForWorkerEnd();
    static constexpr uint32_t kStuckTraceIntervalMs = 5000;
    void SetStuckTraceIntervalMs(uint32_t ms) { m_dwStuckTraceMs.store(ms ? ms : 1); }

private:
    struct TaskRecord;
    class CTaskQueue;

    static unsigned ThreadProc(void* self);
    void TaskHandler();
    // Takes the oldest task of the highest level that has one; resets the work event when no
    // level has a task.
    TaskRecord* TakeNextTask(int* level) EM_REQUIRES(m_lock);
    bool AnyTaskQueued() EM_REQUIRES(m_lock);
    void DiscardQueuedTasks() EM_REQUIRES(m_lock);

    mutable platform::CriticalSection m_lock;
    std::unique_ptr<platform::Event> m_workEvent;
    uint32_t m_dwWorkEventError = 0;
    CThread m_thread;
    uint32_t m_dwStackSize = 0;
    const uint32_t m_dwLevels;
    // The level table: one queue and one accepting flag per level, index = level number. The
    // flags are read without the lock.
    // Owned; allocated in the constructor, released in the destructor.
    CTaskQueue* m_queues EM_PT_GUARDED_BY(m_lock) = nullptr;
    std::unique_ptr<std::atomic<uint32_t>[]> m_accepting;
    std::atomic<uint32_t> m_bStop{0};
    // Worker threads that have not yet left TaskHandler (more than one only when a restart
    // follows a stop wait that gave up).
    std::atomic<uint32_t> m_nWorkersAlive{0};
    std::atomic<uint32_t> m_dwStuckTraceMs{kStuckTraceIntervalMs};
};

}  // namespace em
