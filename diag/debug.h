// The module's trace facility: one global CDebug per loaded library.
//
// Call sites use EM_TRACE(level, format, args...): when the facility is not active the call and
// the evaluation of its arguments are skipped.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "diag/format.h"

namespace em::diag {

class CDebug {
public:
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
    // capture is installed the facility is active.
    using CaptureFn = void (*)(void* ctx, uint32_t level, std::u16string_view line);
    void SetCapture(CaptureFn fn, void* ctx, uint32_t level);

private:
    std::atomic<uint32_t> m_bActive{0};
    char16_t m_szAppName[32] = {};
    std::atomic<CaptureFn> m_capture{nullptr};
    std::atomic<void*> m_captureCtx{nullptr};
    std::atomic<uint32_t> m_captureLevel{0};
};

// The one facility of the library, constructed before any other global of the module.
extern CDebug g_Debug;

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
