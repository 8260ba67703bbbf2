// Win32 backend of platform/library.h.

#include "platform/library.h"
#include "platform/win32/win32_util.h"

namespace em::platform {

namespace {

std::string ErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string result = n ? win32::Utf8FromWide(std::wstring_view(text, n)) : std::string();
    if (text) LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) result.pop_back();
    return "error " + std::to_string(code) + (result.empty() ? "" : ": " + result);
}

}  // namespace

bool Library::Open(const std::string& path) {
    Close();
    HMODULE h = LoadLibraryW(win32::WideFromUtf8(path).c_str());
    if (!h) {
        m_error = "cannot load " + path + " (" + ErrorText(::GetLastError()) + ")";
        return false;
    }
    m_handle = h;
    m_error.clear();
    return true;
}

void* Library::Symbol(const char* name) const {
    return m_handle ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name)) : nullptr;
}

void Library::Close() {
    if (m_handle) FreeLibrary(static_cast<HMODULE>(m_handle));
    m_handle = nullptr;
}

}  // namespace em::platform
