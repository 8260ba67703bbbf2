// Interim trace facility: composes lines and hands them to the test capture only.
// The registry-configured sinks replace this body.
#include "diag/debug.h"

#include "platform/sync.h"

namespace em::diag {

__attribute__((init_priority(101))) CDebug g_Debug;

CDebug::CDebug() { Init(u"EM_TARNEL", false); }
CDebug::~CDebug() = default;

bool CDebug::Init(const char16_t* app_name, bool /*show_banner*/) {
    m_bActive.store(0);
    if (app_name) {
        size_t i = 0;
        for (; i < 31 && app_name[i]; ++i) m_szAppName[i] = app_name[i];
        m_szAppName[i] = 0;
        ReadSettings();
    }
    return true;
}

void CDebug::ReadSettings() {
    m_bActive.store(m_capture.load() ? 1u : 0u);
}

void CDebug::SetCapture(CaptureFn fn, void* ctx, uint32_t level) {
    m_captureCtx.store(ctx);
    m_captureLevel.store(level);
    m_capture.store(fn);
    ReadSettings();
}

void CDebug::WriteTrace(uint32_t level, std::u16string_view format, std::span<const FormatArg> args) {
    uint32_t saved_error = platform::GetLastError();
    if (level == 0) level = 1;
    CaptureFn fn = m_capture.load();
    if (fn && m_captureLevel.load() >= level) {
        char16_t line[4196];
        size_t n = FormatTo(line, 4195, format, args);
        fn(m_captureCtx.load(), level, std::u16string_view(line, n));
    }
    platform::SetLastError(saved_error);
}

}  // namespace em::diag
