// The system's headers for the Win32 backend files, and wide strings for the system calls.
#pragma once

#include <windows.h>
#include <psapi.h>

// The platform interface uses several of the names that the system's headers turn into macros
// for their wide forms; the backend calls the wide forms by their own names.
#undef DeleteFile
#undef ExpandEnvironmentStrings
#undef GetComputerName
#undef GetCurrentDirectory
#undef GetFileVersionInfo
#undef GetFileVersionInfoSize
#undef GetSystemDirectory
#undef GetSystemWow64Directory
#undef MoveFile
#undef OutputDebugString
#undef RegisterEventSource
#undef SetEnvironmentVariable
#undef WriteConsole

#include <string>
#include <string_view>

namespace em::platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");

// A null-terminated copy of the text for a call that takes LPCWSTR.
inline std::wstring Wide(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}
inline std::u16string FromWide(const wchar_t* text, size_t n) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), n);
}
inline std::u16string FromWide(const std::wstring& text) { return FromWide(text.data(), text.size()); }

// UTF-8 (the host tool's narrow strings) to a wide string and back.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace em::platform::win32
