// Threads, locks, events, time and the per-thread last-error value.
// One interface; the backend lives in platform/<os>/.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/thread_annotations.h"

namespace em::platform {

// ---- critical section: recursive, enter/leave ---------------------------------------------------
class EM_CAPABILITY("mutex") CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() EM_ACQUIRE();
    void Leave() EM_RELEASE();
    bool TryEnter() EM_TRY_ACQUIRE(true);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

class EM_SCOPED_CAPABILITY CsLock {
public:
    explicit CsLock(CriticalSection& cs) EM_ACQUIRE(cs) : m_cs(cs) { m_cs.Enter(); }
    ~CsLock() EM_RELEASE() { m_cs.Leave(); }
    CsLock(const CsLock&) = delete;
    CsLock& operator=(const CsLock&) = delete;

private:
    CriticalSection& m_cs;
};

// ---- event: manual reset, unnamed --------------------------------------------------------------
enum class WaitResult { Signalled, TimedOut };
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
public:
    explicit Event(bool initially_signalled = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    bool Set();
    bool Reset();
    WaitResult Wait(uint32_t timeout_ms);
    bool IsSignalled();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// ---- threads -------------------------------------------------------------------------------------
using ThreadProc = unsigned (*)(void* arg);

// Windows priority values, mapped best-effort by the backend.
constexpr int kThreadPriorityNormal = 0;
constexpr int kThreadPriorityHighest = 2;
constexpr uint32_t kStillActive = 259;

// An OS thread created suspended; the thread body runs only after Resume().
class ThreadHandle;
struct ThreadHandleDeleter {
    void operator()(ThreadHandle* h) const;
};
using ThreadPtr = std::unique_ptr<ThreadHandle, ThreadHandleDeleter>;

// Creates a suspended thread. Returns null and sets the last error on failure.
ThreadPtr CreateSuspendedThread(ThreadProc proc, void* arg, uint32_t stack_size, uint32_t* thread_id);
bool ResumeThread(ThreadHandle& h);
bool SetThreadPriority(ThreadHandle& h, int priority);  // best effort, never fails
// Exit code of the thread: kStillActive while it runs.
bool GetExitCode(ThreadHandle& h, uint32_t* code);
// Waits for the thread to end; Signalled when it has ended.
WaitResult WaitForThread(ThreadHandle& h, uint32_t timeout_ms);
// Forced end. There is no safe way to kill a POSIX thread: the thread is abandoned (waiters see
// it ended with the given exit code) and runs on until its current call returns. Its handle is
// never freed under it.
bool TerminateThread(ThreadHandle& h, uint32_t exit_code);

uint32_t CurrentThreadId();

// ---- time ----------------------------------------------------------------------------------------
void Sleep(uint32_t ms);
// Milliseconds of the monotonic clock, 32 bits, wrapping.
uint32_t TickCount();
// Tests may replace the tick source; null restores the clock.
using TickSource = uint32_t (*)();
void SetTickSource(TickSource source);

// ---- last error (per thread, Windows meaning) --------------------------------------------------------
uint32_t GetLastError();
void SetLastError(uint32_t code);
// Maps an errno value to the nearest Windows error code.
uint32_t ErrorFromErrno(int err);

}  // namespace em::platform
