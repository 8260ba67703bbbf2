// Win32 backend of platform/codepage.h: the system's code page conversion.
#include "platform/win32/win32_util.h"

#include "platform/codepage.h"

#include <atomic>

namespace em::platform {

namespace {

// UTF-16 and UTF-32 in either byte order: the system's conversion does not take them.
bool IsUtfWide(uint32_t cp) { return cp == 1200 || cp == 1201 || cp == 12000 || cp == 12001; }

void DecodeUtfWide(uint32_t cp, std::string_view bytes, std::u16string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t unit = cp >= 12000 ? 4 : 2;
    const bool big = cp == 1201 || cp == 12001;
    size_t i = 0;
    for (; i + unit <= bytes.size(); i += unit) {
        uint32_t v = 0;
        for (size_t k = 0; k < unit; ++k) v |= static_cast<uint32_t>(p[i + k]) << (8 * (big ? unit - 1 - k : k));
        if (unit == 2) {
            out.push_back(static_cast<char16_t>(v));
        } else if (v < 0x10000 && (v < 0xD800 || v > 0xDFFF)) {
            out.push_back(static_cast<char16_t>(v));
        } else if (v >= 0x10000 && v <= 0x10FFFF) {
            v -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            out.push_back(u'\uFFFD');
        }
    }
    if (i < bytes.size()) out.push_back(u'\uFFFD');  // a cut last unit
}

}  // namespace

bool IsCodePageSupported(uint32_t code_page) {
    if (IsUtfWide(code_page)) return true;
    // The answer for a code page never changes while the process runs; asking the system each
    // time costs more than most conversions.
    static std::atomic<uint8_t> known[65536];  // 0 not asked yet, 1 no, 2 yes
    if (code_page > 0xFFFF) return IsValidCodePage(code_page) != FALSE;
    uint8_t k = known[code_page].load(std::memory_order_relaxed);
    if (k == 0) {
        k = IsValidCodePage(code_page) != FALSE ? 2 : 1;
        known[code_page].store(k, std::memory_order_relaxed);
    }
    return k == 2;
}

bool MultiByteToWide(uint32_t code_page, std::string_view bytes, std::u16string& out) {
    out.clear();
    if (!IsCodePageSupported(code_page)) return false;
    if (bytes.empty()) return true;
    if (IsUtfWide(code_page)) {
        DecodeUtfWide(code_page, bytes, out);
        return true;
    }
    const int in_len = static_cast<int>(bytes.size());
    // No code page gives more UTF-16 units than it takes bytes, so one call mostly does; the
    // size is asked first only when that guess was short.
    out.resize(bytes.size());
    ::SetLastError(ERROR_SUCCESS);
    int got = MultiByteToWideChar(code_page, 0, bytes.data(), in_len, reinterpret_cast<wchar_t*>(out.data()), in_len);
    if (got <= 0 && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        const int n = MultiByteToWideChar(code_page, 0, bytes.data(), in_len, nullptr, 0);
        out.resize(static_cast<size_t>(n > 0 ? n : 0));
        if (n > 0) got = MultiByteToWideChar(code_page, 0, bytes.data(), in_len, reinterpret_cast<wchar_t*>(out.data()), n);
    }
    // Bytes that convert to nothing (a UTF-7 shift with no character in it) are no failure.
    const bool ok = got > 0 || ::GetLastError() == ERROR_SUCCESS;
    out.resize(static_cast<size_t>(got > 0 ? got : 0));
    return ok;
}

bool WideToMultiByte(uint32_t code_page, std::u16string_view text, std::string& out) {
    out.clear();
    if (!IsCodePageSupported(code_page) || IsUtfWide(code_page)) return false;
    if (text.empty()) return true;
    const auto* in = reinterpret_cast<const wchar_t*>(text.data());
    const int in_len = static_cast<int>(text.size());
    // The UTF code pages take neither a default character nor the used-default flag.
    const bool utf = code_page == CP_UTF7 || code_page == CP_UTF8;
    BOOL used_default = FALSE;
    const int n = WideCharToMultiByte(code_page, 0, in, in_len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    int got = WideCharToMultiByte(code_page, 0, in, in_len, out.data(), n, utf ? nullptr : "?",
                                  utf ? nullptr : &used_default);
    if (got <= 0 && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        // Stateful and some other code pages refuse a default character: their own one is used.
        used_default = FALSE;
        got = WideCharToMultiByte(code_page, 0, in, in_len, out.data(), n, nullptr, nullptr);
    }
    out.resize(static_cast<size_t>(got > 0 ? got : 0));
    return got > 0 && !used_default;
}

}  // namespace em::platform
