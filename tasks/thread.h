// CThread: owns one operating-system thread, started suspended with a chosen priority.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/sync.h"

namespace em {

class CThread {
public:
    CThread() = default;
    ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    bool Start(platform::ThreadProc procedure, void* argument, int32_t priority, bool start_suspended,
               uint32_t stack_size);
    bool Resume();
    bool WaitForExit(uint32_t timeout_ms);
    bool Terminate(uint32_t exit_code);
    bool SetName(const char16_t* prefix, const char16_t* suffix);
    // A thread is held and has not ended.
    bool IsRunning();
    // Closes the handle without waiting; the thread, if any, runs on.
    void CloseHandle();

    bool HasThread() const { return m_hThread != nullptr; }
    uint32_t ThreadId() const { return m_dwThreadId; }
    uint32_t LastError() const { return m_dwLastError; }
    // Printed as an empty string when no name was set.
    std::u16string Name() const { return m_name.value_or(u""); }
    bool HasName() const { return m_name.has_value(); }

    uint32_t bTerminateThread = 0;

private:
    platform::ThreadPtr m_hThread;
    std::optional<std::u16string> m_name;
    uint32_t m_dwThreadId = 0;
    uint32_t m_dwLastError = 0;
};

}  // namespace em
