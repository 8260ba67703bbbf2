// POSIX backend of platform/sync.h.
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <chrono>
#include <mutex>

#include "platform/sync.h"

namespace em::platform {

// ---- critical section ----------------------------------------------------------------------------
struct CriticalSection::Impl {
    std::recursive_mutex mutex;
};

CriticalSection::CriticalSection() : m_impl(std::make_unique<Impl>()) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::Enter() { m_impl->mutex.lock(); }
void CriticalSection::Leave() { m_impl->mutex.unlock(); }
bool CriticalSection::TryEnter() { return m_impl->mutex.try_lock(); }

// ---- event ----------------------------------------------------------------------------------------
struct Event::Impl {
    std::mutex mutex;
    std::condition_variable cv;
    bool signalled = false;
};

Event::Event(bool initially_signalled) : m_impl(std::make_unique<Impl>()) {
    m_impl->signalled = initially_signalled;
}
Event::~Event() = default;

bool Event::Set() {
    // Notify while holding the mutex: a waiter that wakes may destroy the event right away.
    std::lock_guard<std::mutex> g(m_impl->mutex);
    m_impl->signalled = true;
    m_impl->cv.notify_all();
    return true;
}

bool Event::Reset() {
    std::lock_guard<std::mutex> g(m_impl->mutex);
    m_impl->signalled = false;
    return true;
}

bool Event::IsSignalled() {
    std::lock_guard<std::mutex> g(m_impl->mutex);
    return m_impl->signalled;
}

WaitResult Event::Wait(uint32_t timeout_ms) {
    std::unique_lock<std::mutex> g(m_impl->mutex);
    if (timeout_ms == kInfinite) {
        m_impl->cv.wait(g, [this] { return m_impl->signalled; });
        return WaitResult::Signalled;
    }
    // condition_variable waits on the steady (monotonic) clock.
    bool ok = m_impl->cv.wait_for(g, std::chrono::milliseconds(timeout_ms), [this] { return m_impl->signalled; });
    return ok ? WaitResult::Signalled : WaitResult::TimedOut;
}

// ---- threads ----------------------------------------------------------------------------------------
// The handle is shared between the creator and the thread itself; whoever lets go last frees it.
// A thread that was "terminated" keeps its reference, so nothing it may still touch is freed.
class ThreadHandle {
public:
    pthread_t thread{};
    ThreadProc proc = nullptr;
    void* arg = nullptr;
    std::atomic<uint32_t> tid{0};
    std::atomic<int> refs{2};  // creator + thread

    std::mutex mutex;
    std::condition_variable cv;
    bool resumed = false;  // guarded by mutex
    bool ended = false;    // guarded by mutex
    bool detached = false; // guarded by mutex
    uint32_t exit_code = kStillActive;  // guarded by mutex
    int pending_priority = kThreadPriorityNormal;
    bool priority_set = false;

    void Release() {
        if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
};

namespace {

void ApplyPriority(int priority) {
    // Per-thread nice value where allowed; raising priority usually needs privileges.
    int nice_value = -priority * 2;
    errno = 0;
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), nice_value);
}

void* ThreadTrampoline(void* p) {
    auto* h = static_cast<ThreadHandle*>(p);
    h->tid.store(static_cast<uint32_t>(syscall(SYS_gettid)));
    {
        std::unique_lock<std::mutex> g(h->mutex);
        h->cv.notify_all();  // tid is known
        h->cv.wait(g, [h] { return h->resumed; });
    }
    if (h->priority_set) ApplyPriority(h->pending_priority);
    unsigned code = h->proc(h->arg);
    {
        std::lock_guard<std::mutex> g(h->mutex);
        if (h->exit_code == kStillActive) h->exit_code = code;
        h->ended = true;
    }
    h->cv.notify_all();
    h->Release();
    return nullptr;
}

thread_local uint32_t t_last_error = 0;

std::atomic<TickSource> g_tick_source{nullptr};

}  // namespace

void ThreadHandleDeleter::operator()(ThreadHandle* h) const {
    if (!h) return;
    bool join = false;
    {
        std::lock_guard<std::mutex> g(h->mutex);
        if (!h->resumed) {
            // Never resumed: let it run to its gate and return without calling the procedure?
            // A suspended thread that is closed stays suspended forever on Windows; here it is
            // released with a no-op body so that the process does not keep a parked thread.
            h->proc = [](void*) -> unsigned { return 0; };
            h->resumed = true;
        }
        join = h->ended;
    }
    h->cv.notify_all();
    if (join) {
        pthread_join(h->thread, nullptr);
    } else {
        pthread_detach(h->thread);
    }
    h->Release();
}

ThreadPtr CreateSuspendedThread(ThreadProc proc, void* arg, uint32_t stack_size, uint32_t* thread_id) {
    auto* h = new (std::nothrow) ThreadHandle();
    if (!h) {
        SetLastError(8);  // ERROR_NOT_ENOUGH_MEMORY
        return nullptr;
    }
    h->proc = proc;
    h->arg = arg;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stack_size != 0) {
        size_t sz = stack_size < PTHREAD_STACK_MIN ? PTHREAD_STACK_MIN : stack_size;
        pthread_attr_setstacksize(&attr, sz);
    }
    int rc = pthread_create(&h->thread, &attr, &ThreadTrampoline, h);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete h;
        SetLastError(ErrorFromErrno(rc));
        return nullptr;
    }
    {
        std::unique_lock<std::mutex> g(h->mutex);
        h->cv.wait(g, [h] { return h->tid.load() != 0; });
    }
    if (thread_id) *thread_id = h->tid.load();
    return ThreadPtr(h);
}

bool ResumeThread(ThreadHandle& h) {
    {
        std::lock_guard<std::mutex> g(h.mutex);
        h.resumed = true;
    }
    h.cv.notify_all();
    return true;
}

bool SetThreadPriority(ThreadHandle& h, int priority) {
    h.pending_priority = priority;
    h.priority_set = true;
    return true;
}

bool GetExitCode(ThreadHandle& h, uint32_t* code) {
    std::lock_guard<std::mutex> g(h.mutex);
    *code = h.exit_code;
    return true;
}

WaitResult WaitForThread(ThreadHandle& h, uint32_t timeout_ms) {
    std::unique_lock<std::mutex> g(h.mutex);
    auto done = [&h] { return h.ended || h.exit_code != kStillActive; };
    if (timeout_ms == kInfinite) {
        h.cv.wait(g, done);
        return WaitResult::Signalled;
    }
    return h.cv.wait_for(g, std::chrono::milliseconds(timeout_ms), done) ? WaitResult::Signalled
                                                                          : WaitResult::TimedOut;
}

bool TerminateThread(ThreadHandle& h, uint32_t exit_code) {
    {
        std::lock_guard<std::mutex> g(h.mutex);
        if (h.ended) return true;
        h.exit_code = exit_code;
    }
    h.cv.notify_all();
    // A POSIX thread cannot be killed safely (cancellation would unwind through catch-all
    // handlers of the worker). The thread is abandoned instead: waiters see it as ended with
    // the given exit code, and it runs on until its current call returns. The handle stays
    // alive through the thread's own reference.
    return true;
}

uint32_t CurrentThreadId() {
    static thread_local uint32_t tid = static_cast<uint32_t>(syscall(SYS_gettid));
    return tid;
}

// ---- time ---------------------------------------------------------------------------------------------
void Sleep(uint32_t ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

uint32_t TickCount() {
    if (TickSource src = g_tick_source.load(std::memory_order_relaxed)) return src();
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void SetTickSource(TickSource source) { g_tick_source.store(source); }

// ---- last error ----------------------------------------------------------------------------------------
uint32_t GetLastError() { return t_last_error; }
void SetLastError(uint32_t code) { t_last_error = code; }

uint32_t ErrorFromErrno(int err) {
    switch (err) {
        case 0: return 0;
        case ENOENT: return 2;        // ERROR_FILE_NOT_FOUND
        case ENOTDIR: return 3;       // ERROR_PATH_NOT_FOUND
        case EMFILE: return 4;        // ERROR_TOO_MANY_OPEN_FILES
        case EACCES: case EPERM: return 5;  // ERROR_ACCESS_DENIED
        case EBADF: return 6;         // ERROR_INVALID_HANDLE
        case ENOMEM: return 8;        // ERROR_NOT_ENOUGH_MEMORY
        case EAGAIN: return 8;
        case EINVAL: return 87;       // ERROR_INVALID_PARAMETER
        case EEXIST: return 183;      // ERROR_ALREADY_EXISTS
        case ENOSPC: return 112;      // ERROR_DISK_FULL
        case ETIMEDOUT: return 1460;  // ERROR_TIMEOUT
        default: return 0x20000000u | static_cast<uint32_t>(err);  // customer bit: raw errno
    }
}

}  // namespace em::platform
