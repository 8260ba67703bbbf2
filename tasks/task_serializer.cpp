#include "tasks/task_serializer.h"

#include <cstring>
#include <new>

#include "diag/debug.h"

namespace em {

// One queued task: the serializer's own copy of the request and the caller's completion event.
struct CTaskSerializer::TaskRecord {
    platform::Event** external;  // caller-owned handle, read only after the task has run
    CSipRecord request;
};

// Fixed-capacity ring buffer of bytes holding task-record pointers, written and read byte by byte
// with wrap-around. Allocated once; used only under the serializer's lock.
class CTaskSerializer::CTaskQueue {
public:
    static constexpr uint64_t kSlot = sizeof(TaskRecord*);

    CTaskQueue() = default;
    CTaskQueue(const CTaskQueue&) = delete;
    CTaskQueue& operator=(const CTaskQueue&) = delete;

    void Init(uint32_t entries) {
        m_capacity = uint64_t{entries} * kSlot;
        m_storage = std::make_unique<uint8_t[]>(m_capacity);
        m_bOwnsStorage = 1;
    }
    ~CTaskQueue() {
        if (!m_bOwnsStorage) (void)m_storage.release();
    }

    // One slot always stays free: an entry is added only while used + slot < capacity.
    bool HasRoom() const { return m_used + kSlot < m_capacity; }
    bool Empty() const { return m_used < kSlot; }

    bool Push(TaskRecord* task) {
        if (!HasRoom()) return false;
        uint8_t bytes[kSlot];
        std::memcpy(bytes, &task, kSlot);
        for (uint8_t b : bytes) {
            if (m_write >= m_capacity) m_write = 0;
            m_storage[m_write++] = b;
        }
        m_used += kSlot;
        return true;
    }

    TaskRecord* Pop() {
        if (Empty()) return nullptr;
        uint8_t bytes[kSlot];
        for (uint8_t& b : bytes) {
            if (m_read >= m_capacity) m_read = 0;
            b = m_storage[m_read++];
        }
        m_used -= kSlot;
        TaskRecord* task = nullptr;
        std::memcpy(&task, bytes, kSlot);
        return task;
    }

private:
    uint64_t m_used = 0;
    uint64_t m_read = 0;
    uint64_t m_write = 0;
    std::unique_ptr<uint8_t[]> m_storage;
    uint64_t m_capacity = 0;
    uint32_t m_bOwnsStorage = 0;
};

CTaskSerializer::CTaskSerializer(uint32_t levels) : m_dwLevels(levels) {
    try {
        m_workEvent = std::make_unique<platform::Event>(false);
        m_dwWorkEventError = 0;
    } catch (const std::bad_alloc&) {
        m_dwWorkEventError = 8;  // ERROR_NOT_ENOUGH_MEMORY
    }
    m_thread.bTerminateThread = 1;
    auto queues = std::make_unique<CTaskQueue[]>(levels);
    for (uint32_t i = 0; i < levels; ++i) queues[i].Init(kQueueEntries);
    m_accepting = std::make_unique<std::atomic<uint32_t>[]>(levels);
    m_queues = queues.release();
    EM_TRACE(4, u"\nCTaskSerializer     : Enable all Tasks");
    for (uint32_t i = 0; i < levels; ++i) m_accepting[i].store(1);
}

// The object must never be freed while a worker thread can still touch it. POSIX has no safe
// forced thread end (an "ended" thread keeps running until its current call returns), so when
// the stop wait gives up, the destructor waits for the worker's real end instead of relying on
// the thread wrapper. The worker only blocks inside a task or a lower-module call, never for good.
CTaskSerializer::~CTaskSerializer() noexcept(false) {
    try {
        TerminateSerialization();
    } catch (...) {
    }
    WaitForWorkerEnd();
    {
        platform::CsLock lock(m_lock);
        DiscardQueuedTasks();
        delete[] m_queues;
        m_queues = nullptr;
    }
    EM_TRACE(4, u"\n\nCTaskSerializer     : Class destroyed!");
}

bool CTaskSerializer::EndSerialization() {
    const bool result = TerminateSerialization();
    WaitForWorkerEnd();
    return result;
}

void CTaskSerializer::WaitForWorkerEnd() {
    // Every live worker must have been told to stop, also one left over from a restart.
    m_bStop.store(1);
    if (m_workEvent) m_workEvent->Set();
    const uint32_t start = platform::TickCount();
    uint32_t next_trace = m_dwStuckTraceMs.load();
    while (m_nWorkersAlive.load() != 0) {
        platform::Sleep(1);
        const uint32_t waited = platform::TickCount() - start;
        if (waited < next_trace) continue;
        EM_TRACE(1, u"\nCTaskSerializer     : ## Still waiting for the task thread to end (%d s): a task has not "
                    u"returned from its call yet",
                 waited / 1000);
        next_trace = waited + m_dwStuckTraceMs.load();
    }
}

unsigned CTaskSerializer::ThreadProc(void* self) {
    auto* serializer = static_cast<CTaskSerializer*>(self);
    try {
        serializer->TaskHandler();
    } catch (...) {
        // Only the start and exit hooks can get here; the worker ends as it would on a stop.
    }
    // The last touch of the object by this thread.
    serializer->m_nWorkersAlive.fetch_sub(1);
    return 0;
}

bool CTaskSerializer::StartSerialization() {
    EM_TRACE(4, u"\nCTaskSerializer     : StartSerialization!");
    if (m_thread.HasThread() && m_thread.IsRunning()) return true;

    {
        platform::CsLock lock(m_lock);
        if (m_workEvent) {
            m_workEvent->Reset();
            // Tasks queued before the start must not wait for the next insert.
            if (AnyTaskQueued()) m_workEvent->Set();
        }
    }
    m_bStop.store(0);
    m_thread.CloseHandle();  // an ended worker's handle, if one is still held

    m_nWorkersAlive.fetch_add(1);
    if (!m_thread.Start(&ThreadProc, this, platform::kThreadPriorityHighest, true, m_dwStackSize)) {
        m_nWorkersAlive.fetch_sub(1);
        return false;
    }
    if (!m_thread.Resume()) {
        // Never resumed, the thread body never runs; its handle is let go.
        m_thread.CloseHandle();
        m_nWorkersAlive.fetch_sub(1);
        return false;
    }
    platform::Sleep(100);
    m_thread.SetName(diag::g_Debug.AppName(), u"_TaskHndlr");
    return true;
}

bool CTaskSerializer::QueueHasRoom(int level) {
    if (level < 0 || static_cast<uint32_t>(level) >= m_dwLevels) return false;
    platform::CsLock lock(m_lock);
    return m_queues && m_queues[level].HasRoom();
}

bool CTaskSerializer::InsertTask(const CSipRecord& request, int level, platform::Event** done) {
    EM_TRACE(4, u"\nCTaskSerializer     : Task at level %d raised", level);
    if (!m_queues || level < 0 || static_cast<uint32_t>(level) >= m_dwLevels || m_accepting[level].load() == 0) {
        EM_TRACE(4, u"\nCTaskSerializer     : Manager locked for Tasks at level %d. Task ignored!", level);
        return false;
    }
    std::unique_ptr<TaskRecord> task;
    try {
        task.reset(new TaskRecord{done, request});
    } catch (const std::bad_alloc&) {
        return false;  // no record, nothing queued
    }

    platform::CsLock lock(m_lock);
    CTaskQueue& queue = m_queues[level];
    if (queue.HasRoom()) {
        queue.Push(task.release());
        EM_TRACE(5, u"\nCTaskSerializer     : Task with priority %d inserted into task queue!", level);
        if (m_workEvent) m_workEvent->Set();
        return true;
    }
    EM_TRACE(1, u"\nCTaskSerializer     : ## ERROR! Task queue for priority %d is full", level);
    OnQueueFull(request, level);
    return false;  // the refused record goes with `task`
}

void CTaskSerializer::RemoveAllTasks() {
    platform::CsLock lock(m_lock);
    DiscardQueuedTasks();
    EM_TRACE(4, u"\nCTaskSerializer     : All pending tasks removed from queues!");
}

bool CTaskSerializer::TerminateSerialization() {
    EM_TRACE(4, u"\nCTaskSerializer     : TerminateSerialization!");
    bool result = true;
    if (m_thread.HasThread() && m_thread.IsRunning()) {
        EM_TRACE(4, u"\nCTaskSerializer     : Disable all Tasks");
        for (uint32_t i = 0; i < m_dwLevels; ++i) m_accepting[i].store(0);
        RemoveAllTasks();
        m_bStop.store(1);
        if (m_workEvent) m_workEvent->Set();
        platform::Sleep(100);
        result = m_thread.WaitForExit(kStopWaitMs);
        // A worker that outlives the wait runs on detached; the destructor waits for its end.
        m_thread.CloseHandle();
    }
    EM_TRACE(5, u"\nCTaskSerializer     :   terminated");
    return result;
}

void CTaskSerializer::DiscardQueuedTasks() {
    if (!m_queues) return;
    for (uint32_t i = 0; i < m_dwLevels; ++i) {
        while (TaskRecord* task = m_queues[i].Pop()) delete task;
    }
}

bool CTaskSerializer::AnyTaskQueued() {
    if (!m_queues) return false;
    for (uint32_t i = 0; i < m_dwLevels; ++i)
        if (!m_queues[i].Empty()) return true;
    return false;
}

CTaskSerializer::TaskRecord* CTaskSerializer::TakeNextTask(int* level) {
    for (uint32_t i = m_dwLevels; i-- > 0;) {
        if (TaskRecord* task = m_queues[i].Pop()) {
            *level = static_cast<int>(i);
            return task;
        }
    }
    if (m_workEvent) m_workEvent->Reset();
    return nullptr;
}

void CTaskSerializer::TaskHandler() {
    EM_TRACE(4, u"\nCTaskSerializer     : START THREAD TaskHandler()!");
    OnThreadStart();
    while (m_bStop.load() == 0) {
        EM_TRACE(4, u"\nCTaskSerializer     : Waiting on task queue for next task ...");
        if (m_workEvent) m_workEvent->Wait(platform::kInfinite);
        else platform::Sleep(10);  // no event could be made: poll
        EM_TRACE(4, u"\nCTaskSerializer     : Wakeup from (any) task queue!");
        if (m_bStop.load() != 0) break;

        EM_TRACE(4, u"\nCTaskSerializer     : Checking Task queue for Task records ..");
        TaskRecord* task = nullptr;
        int level = 0;
        {
            platform::CsLock lock(m_lock);
            task = TakeNextTask(&level);
        }
        if (!task) continue;

        EM_TRACE(5, u"\nCTaskSerializer     : Process Task (Record 0x%X) at level %d", task, level);
        try {
            OnTaskExecution(task->request, level);
            EM_TRACE(5, u"\nCTaskSerializer     : Task (Record 0x%X) at level %d completed", task, level);
        } catch (...) {
            EM_TRACE(1, u"\n\nCTaskSerializer     : ## EXCEPTION in OnTaskExecution()! ##");
        }

        if (platform::Event** done = task->external) {
            try {
                if (*done && (*done)->Set()) {
                    EM_TRACE(5, u"\nCTaskSerializer     : External event object 0x%X set!", done);
                } else {
                    EM_TRACE(1, u"\nCTaskSerializer     : ERROR setting external event object 0x%X!", done);
                }
            } catch (...) {
                EM_TRACE(1, u"\n\nCTaskSerializer     : ## EXCEPTION setting external event object 0x%X!", done);
            }
        }

        try {
            OnTaskDone(task->request, level);
        } catch (...) {
            // A failing hook must not end the worker.
        }

        try {
            delete task;
        } catch (...) {
            EM_TRACE(1, u"\n\nCTaskSerializer     : ## EXCEPTION deleting task data record!");
        }

        {
            platform::CsLock lock(m_lock);
            try {
                if (m_queues[level].Empty()) OnQueueEmpty(level);
            } catch (...) {
                // A failing hook must not end the worker.
            }
        }
    }
    OnThreadExit();
    EM_TRACE(4, u"\nCTaskSerializer     : EXIT THREAD TaskHandler()!");
}

}  // namespace em
