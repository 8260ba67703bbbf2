// Win32 backend of platform/error_text.h: the system's message table.

#include "platform/error_text.h"
#include "platform/win32/win32_util.h"

namespace em::platform {

std::u16string SystemMessageText(uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                   reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::u16string result = n ? win32::FromWide(text, n) : std::u16string(u"Unknown error");
    if (text) LocalFree(text);
    const size_t cut = result.find_first_of(u"\r\n");
    if (cut != std::u16string::npos) result.resize(cut);
    return result;
}

}  // namespace em::platform
