// Win32 backend of platform/sync.h: critical sections, manual-reset events, threads, ticks.
#include "platform/win32/win32_util.h"

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/sync.h"

namespace em::platform {

// ---- critical section ----------------------------------------------------------------------------
struct CriticalSection::Impl {
    CRITICAL_SECTION cs;
    Impl() { InitializeCriticalSection(&cs); }
    ~Impl() { DeleteCriticalSection(&cs); }
};

CriticalSection::CriticalSection() : m_impl(std::make_unique<Impl>()) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::Enter() { EnterCriticalSection(&m_impl->cs); }
void CriticalSection::Leave() { LeaveCriticalSection(&m_impl->cs); }
bool CriticalSection::TryEnter() { return TryEnterCriticalSection(&m_impl->cs) != FALSE; }

// ---- event ----------------------------------------------------------------------------------------
struct Event::Impl {
    HANDLE handle = nullptr;
    ~Impl() {
        if (handle) CloseHandle(handle);
    }
};

Event::Event(bool initially_signalled) : m_impl(std::make_unique<Impl>()) {
    m_impl->handle = CreateEventW(nullptr, TRUE, initially_signalled ? TRUE : FALSE, nullptr);
    if (!m_impl->handle) throw std::bad_alloc();
}
Event::~Event() = default;

bool Event::Set() { return SetEvent(m_impl->handle) != FALSE; }
bool Event::Reset() { return ResetEvent(m_impl->handle) != FALSE; }
bool Event::IsSignalled() { return WaitForSingleObject(m_impl->handle, 0) == WAIT_OBJECT_0; }

WaitResult Event::Wait(uint32_t timeout_ms) {
    return WaitForSingleObject(m_impl->handle, timeout_ms) == WAIT_OBJECT_0 ? WaitResult::Signalled
                                                                              : WaitResult::TimedOut;
}

// ---- threads ----------------------------------------------------------------------------------------
// The handle object is shared by the creator and the thread; whoever lets go last frees it.
// A thread started from a DLL holds a reference to that DLL until its very last instruction
// (FreeLibraryAndExitThread), so the library cannot be unloaded while one of its threads still
// runs its code. A thread that is ended by force cannot let go of its share and its DLL
// reference itself; the caller of the forced end does it for the thread.
class ThreadHandle {
public:
    HANDLE thread = nullptr;
    ThreadProc proc = nullptr;
    void* arg = nullptr;
    HMODULE library = nullptr;         // the DLL the thread pins, or null (code in the executable)
    std::atomic<int> refs{2};          // creator + thread
    std::atomic<bool> left{false};     // the thread's share has been let go (by it or for it)
    std::atomic<bool> resumed{false};

    void Release() {
        if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            if (thread) CloseHandle(thread);
            delete this;
        }
    }
};

namespace {

DWORD WINAPI ThreadStart(LPVOID p) {
    auto* h = static_cast<ThreadHandle*>(p);
    const unsigned code = h->proc(h->arg);
    if (h->left.exchange(true)) return code;  // given up by a forced end that did not complete
    HMODULE library = h->library;
    h->Release();
    if (library) FreeLibraryAndExitThread(library, code);
    return code;
}

unsigned NoWork(void*) { return 0; }

// A new reference to the DLL holding this code, or null when it is part of the executable.
HMODULE PinOwnLibrary() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ThreadStart), &self))
        return nullptr;
    if (self == GetModuleHandleW(nullptr)) return nullptr;
    HMODULE pinned = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ThreadStart), &pinned))
        return nullptr;
    return pinned;
}

std::atomic<TickSource> g_tick_source{nullptr};

}  // namespace

void ThreadHandleDeleter::operator()(ThreadHandle* h) const {
    if (!h) return;
    if (!h->resumed.exchange(true)) {
        // A thread closed before it was resumed would stay suspended for good, holding its DLL
        // reference: it is let go with an empty body instead.
        h->proc = &NoWork;
        ::ResumeThread(h->thread);
    }
    h->Release();
}

ThreadPtr CreateSuspendedThread(ThreadProc proc, void* arg, uint32_t stack_size, uint32_t* thread_id) {
    auto* h = new (std::nothrow) ThreadHandle();
    if (!h) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    h->proc = proc;
    h->arg = arg;
    h->library = PinOwnLibrary();
    DWORD id = 0;
    h->thread = CreateThread(nullptr, stack_size, &ThreadStart, h,
                             CREATE_SUSPENDED | (stack_size ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0), &id);
    if (!h->thread) {
        const DWORD err = ::GetLastError();
        if (h->library) FreeLibrary(h->library);
        delete h;
        SetLastError(err);
        return nullptr;
    }
    if (thread_id) *thread_id = id;
    return ThreadPtr(h);
}

bool ResumeThread(ThreadHandle& h) {
    h.resumed.store(true);
    return ::ResumeThread(h.thread) != static_cast<DWORD>(-1);
}

bool SetThreadPriority(ThreadHandle& h, int priority) {
    ::SetThreadPriority(h.thread, priority);
    return true;
}

bool GetExitCode(ThreadHandle& h, uint32_t* code) {
    DWORD c = 0;
    if (!GetExitCodeThread(h.thread, &c)) return false;
    *code = c;
    return true;
}

WaitResult WaitForThread(ThreadHandle& h, uint32_t timeout_ms) {
    return WaitForSingleObject(h.thread, timeout_ms) == WAIT_OBJECT_0 ? WaitResult::Signalled : WaitResult::TimedOut;
}

bool TerminateThread(ThreadHandle& h, uint32_t exit_code) {
    if (!::TerminateThread(h.thread, exit_code)) return false;
    // The end is carried out asynchronously; once the thread object is signalled no code of the
    // thread runs any more. Its share and DLL reference are let go here unless it did that itself.
    WaitForSingleObject(h.thread, 5000);
    if (!h.left.exchange(true)) {
        if (h.library) FreeLibrary(h.library);
        h.Release();  // never the last share: the caller holds its own
    }
    return true;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

// ---- time ---------------------------------------------------------------------------------------------
void Sleep(uint32_t ms) { ::Sleep(ms); }

// Milliseconds of the performance counter, truncated to 32 bits like the system tick count. The
// system tick count is read from a value the system refreshes on its own schedule, which under
// some emulations lags behind sleeps by more than a timer period; the performance counter never
// does.
uint32_t TickCount() {
    if (TickSource src = g_tick_source.load(std::memory_order_relaxed)) return src();
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 0;
    }();
    LARGE_INTEGER now;
    if (frequency == 0 || !QueryPerformanceCounter(&now)) return GetTickCount();
    const uint64_t c = static_cast<uint64_t>(now.QuadPart);
    const uint64_t f = static_cast<uint64_t>(frequency);
    return static_cast<uint32_t>((c / f) * 1000u + (c % f) * 1000u / f);
}

void SetTickSource(TickSource source) { g_tick_source.store(source); }

// ---- last error ----------------------------------------------------------------------------------------
uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }

uint32_t ErrorFromErrno(int err) {
    switch (err) {
        case 0: return 0;
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EMFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case EACCES: case EPERM: return ERROR_ACCESS_DENIED;
        case EBADF: return ERROR_INVALID_HANDLE;
        case ENOMEM: case EAGAIN: return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case EEXIST: return ERROR_ALREADY_EXISTS;
        case ENOSPC: return ERROR_DISK_FULL;
        default: return 0x20000000u | static_cast<uint32_t>(err);
    }
}

}  // namespace em::platform
