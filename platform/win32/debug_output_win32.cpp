// Win32 backend of platform/debug_output.h: the debugger output stream and the console.

#include "platform/debug_output.h"
#include "platform/win32/win32_util.h"

namespace em::platform {

void OutputDebugString(std::u16string_view text) { ::OutputDebugStringW(win32::Wide(text).c_str()); }

ConsoleHandle AllocateConsoleOutput() {
    // Fails when the process has a console already; its output handle is taken either way.
    AllocConsole();
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return kInvalidConsole;
    return reinterpret_cast<ConsoleHandle>(out);
}

bool WriteConsole(ConsoleHandle console, std::u16string_view text) {
    if (console == kInvalidConsole) return false;
    HANDLE out = reinterpret_cast<HANDLE>(console);
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        DWORD written = 0;
        return ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
    }
    // Standard output redirected to a file or pipe: UTF-8 bytes, as on the console of POSIX.
    const std::string bytes = win32::Utf8FromWide(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size()));
    DWORD written = 0;
    return bytes.empty() || WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE;
}

}  // namespace em::platform
