// The module's trace facility: one global CDebug per loaded library.
//
// Call sites use EM_TRACE(level, format, args...): when the facility is not active the call and
// the evaluation of its arguments are skipped. Configuration comes from the registry keys
// SOFTWARE\Debug (DynamicUpdate) and SOFTWARE\Debug\<application name> (levels, prefixes, file);
// see docs/TRACING.md.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "diag/file_debug.h"
#include "diag/format.h"
#include "platform/debug_output.h"
#include "platform/sync.h"
#include "platform/thread_annotations.h"

namespace em::diag {

class CDebug {
public:
    static constexpr size_t kLineBuffer = 4196;
    static constexpr size_t kPrefixLimit = 3172;

    CDebug();
    ~CDebug();
    CDebug(const CDebug&) = delete;
    CDebug& operator=(const CDebug&) = delete;

    bool Init(const char16_t* app_name, bool show_banner);
    void ReadSettings();

    bool IsActive() const { return m_bActive.load(std::memory_order_relaxed) != 0; }
    const char16_t* AppName() const { return m_szAppName; }

    // The line writer: formats and hands the line to every sink whose level admits it.
    void WriteTrace(uint32_t level, std::u16string_view format, std::span<const FormatArg> args);

    // Test hook: a fourth sink that receives every composed line up to its level. While a
    // capture is installed the facility is active. Installing or removing one waits for the
    // calls of the previous one that are in flight: once it returns, the old sink is not called
    // again and its context may go.
    using CaptureFn = void (*)(void* ctx, uint32_t level, std::u16string_view line);
    void SetCapture(CaptureFn fn, void* ctx, uint32_t level);

    uint32_t FileLevel() const { return m_file.Level(); }
    uint32_t ConsoleLevel() const { return m_dwConLevel.load(std::memory_order_relaxed); }
    uint32_t DebuggerLevel() const { return m_dwDbgLevel.load(std::memory_order_relaxed); }
    uint32_t DynamicUpdate() const { return m_dwDynamicUpdate.load(std::memory_order_relaxed); }
    CFileDebug& FileSink() { return m_file; }

private:
    enum Prefix { kTimeStamp, kDateStamp, kThreadId, kCpuId, kAppName, kMemUsage, kHandleCount, kPrefixCount };

    // Builds the line (leading line breaks, prefix, message) in buf; returns its length.
    size_t Compose(char16_t* buf, std::u16string_view format, std::span<const FormatArg> args) const;
    void Dispatch(uint32_t level, std::u16string_view line);
    void WriteDebugger(std::u16string_view line) const;

    CFileDebug m_file;
    std::atomic<uint32_t> m_dwConLevel{0};
    std::atomic<platform::ConsoleHandle> m_hConsole{platform::kInvalidConsole};
    std::atomic<uint32_t> m_dwDbgLevel{0};
    // Counter sources: taken when the memory or handle prefix is first switched on.
    std::atomic<bool> m_bMemCounters{false};
    std::atomic<bool> m_bHandleCounter{false};
    char16_t m_szAppName[32] = {};
    std::atomic<uint32_t> m_dwPrefix[kPrefixCount] = {};
    std::atomic<uint32_t> m_dwDynamicUpdate{0};
    std::atomic<uint32_t> m_dwLastRead{0};
    std::atomic<uint32_t> m_bActive{0};
    // The capture sink is read and changed only under its lock, and called under it, so that a
    // removal cannot overtake a call. The level beside it lets a line skip the lock when no sink
    // wants it (0: none installed).
    struct CaptureHook {
        CaptureFn fn = nullptr;
        void* ctx = nullptr;
        uint32_t level = 0;
    };
    mutable platform::CriticalSection m_captureLock;
    CaptureHook m_capture EM_GUARDED_BY(m_captureLock);
    std::atomic<bool> m_bCapture{false};
    std::atomic<uint32_t> m_captureLevel{0};
};

// The one facility of the library, constructed before any other global of the module.
extern CDebug g_Debug;

// The module start's event log registration (diag/eventlog_switch.h), declared here as well so
// that the module frame reaches it through the header it already uses.
const char16_t* EventSourceNameForHostType(uint32_t host_type);
bool RegisterModuleEventSource(uint32_t host_type, const char16_t* module_name);

template <class... A>
void Trace(CDebug& facility, uint32_t level, std::u16string_view format, const A&... args) {
    if constexpr (sizeof...(A) == 0) {
        facility.WriteTrace(level, format, {});
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        facility.WriteTrace(level, format, list);
    }
}

}  // namespace em::diag

#define EM_TRACE(level, ...)                                                    \
    do {                                                                        \
        if (::em::diag::g_Debug.IsActive())                                     \
            ::em::diag::Trace(::em::diag::g_Debug, (level), __VA_ARGS__);       \
    } while (0)
