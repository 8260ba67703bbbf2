#include "tasks/thread.h"

#include "diag/debug.h"

namespace em {

CThread::~CThread() {
    EM_TRACE(5, u"\n~CThread - name=\"%s\" (bTerminateThread=%d)", Name(), bTerminateThread);
    WaitForExit(10);
    if (bTerminateThread && !WaitForExit(5000)) Terminate(0);
    CloseHandle();
}

bool CThread::Start(platform::ThreadProc procedure, void* argument, int32_t priority, bool start_suspended,
                    uint32_t stack_size) {
    uint32_t id = 0;
    platform::ThreadPtr h = platform::CreateSuspendedThread(procedure, argument, stack_size, &id);
    if (!h) {
        m_dwLastError = platform::GetLastError();
        return false;
    }
    m_hThread = std::move(h);
    m_dwThreadId = id;
    m_dwLastError = 0;
    platform::SetThreadPriority(*m_hThread, priority);
    if (!start_suspended && !platform::ResumeThread(*m_hThread)) return false;
    platform::Sleep(0);
    return true;
}

bool CThread::Resume() { return m_hThread && platform::ResumeThread(*m_hThread); }

bool CThread::WaitForExit(uint32_t timeout_ms) {
    if (!m_hThread) return true;
    uint32_t code = 0;
    if (!platform::GetExitCode(*m_hThread, &code)) {
        m_dwLastError = platform::GetLastError();
        return true;
    }
    m_dwLastError = 0;
    if (code != platform::kStillActive) return true;
    return platform::WaitForThread(*m_hThread, timeout_ms) == platform::WaitResult::Signalled;
}

bool CThread::Terminate(uint32_t exit_code) {
    if (!m_hThread) return true;
    bool result = true;
    uint32_t code = 0;
    if (platform::GetExitCode(*m_hThread, &code)) {
        m_dwLastError = 0;
        if (code == platform::kStillActive && platform::WaitForThread(*m_hThread, 0) == platform::WaitResult::TimedOut) {
            if (!platform::TerminateThread(*m_hThread, exit_code)) {
                m_dwLastError = platform::GetLastError();
                result = false;
            } else {
                EM_TRACE(1, u"\n\n## WARNING! RUNNING THREAD %d (\"%s\") TERMINATED!  ###\n", m_dwThreadId, Name());
            }
        }
    } else {
        m_dwLastError = platform::GetLastError();
    }
    CloseHandle();
    return result;
}

bool CThread::SetName(const char16_t* prefix, const char16_t* suffix) {
    if (!prefix || !prefix[0]) return false;
    std::u16string name(prefix);
    if (name.size() > 62) name.resize(62);
    std::u16string_view suf = suffix ? std::u16string_view(suffix) : std::u16string_view();
    if (!suf.empty() && name.size() + suf.size() < 64) name.append(suf);
    m_name = std::move(name);
    return true;
}

bool CThread::IsRunning() {
    if (!m_hThread) return false;
    uint32_t code = 0;
    return platform::GetExitCode(*m_hThread, &code) && code == platform::kStillActive;
}

void CThread::CloseHandle() { m_hThread.reset(); }

}  // namespace em
