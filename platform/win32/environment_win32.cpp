// Win32 backend of platform/environment.h.
#include <stdlib.h>

#include <atomic>
#include <string>

#include "platform/environment.h"
#include "platform/win32/win32_util.h"

namespace em::platform {

bool SetEnvironmentVariable(const std::string& name, const std::string& value) {
    // Both the process block (read by the system's expansion) and the C runtime's copy.
    const std::wstring wname = win32::WideFromUtf8(name);
    const std::wstring wvalue = win32::WideFromUtf8(value);
    if (!SetEnvironmentVariableW(wname.c_str(), wvalue.c_str())) return false;
    return _wputenv_s(wname.c_str(), wvalue.c_str()) == 0;
}

std::string CreateTempFile(const std::string& prefix, const std::string& suffix) {
    static std::atomic<unsigned> counter{0};
    wchar_t dir[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
    if (n == 0 || n > MAX_PATH) return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring path = std::wstring(dir, n) + win32::WideFromUtf8(prefix) +
                                  std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount()) + L"_" +
                                  std::to_wstring(counter++) + win32::WideFromUtf8(suffix);
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return win32::Utf8FromWide(path);
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) return {};
    }
    return {};
}

bool RemoveFile(const std::string& path) { return DeleteFileW(win32::WideFromUtf8(path).c_str()) != FALSE; }

bool StdinIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}

}  // namespace em::platform
