// Code-page conversion between multibyte text and UTF-16.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace em::platform {

constexpr uint32_t kCodePageUtf8 = 65001;
constexpr uint32_t kCodePageAnsi = 1252;  // the system's ANSI code page

// Multibyte text in a Windows code page to UTF-16, as the Windows conversion without flags gives
// it: bytes that do not convert become the code page's default character (U+FFFD in UTF-8, and in
// code pages converted without a Windows table). False when the code page is not known to this
// system (out is then empty).
bool MultiByteToWide(uint32_t code_page, std::string_view bytes, std::u16string& out);
// UTF-16 to a Windows code page. False when the code page is unknown or a character has no
// exact mapping (out then holds the best-effort conversion, '?' for unmapped characters).
bool WideToMultiByte(uint32_t code_page, std::u16string_view text, std::string& out);
bool IsCodePageSupported(uint32_t code_page);

// UTF-8 <-> UTF-16, hand-written (hot paths: request records, log entries).
// Invalid sequences become U+FFFD; lone surrogates become U+FFFD in UTF-8 output.
void Utf8ToUtf16(std::string_view bytes, std::u16string& out);
void Utf16ToUtf8(std::u16string_view text, std::string& out);
std::u16string Utf8ToUtf16(std::string_view bytes);

// Appends a code point (at most 0x10FFFF) as one UTF-16 unit or a surrogate pair.
inline void AppendCodePoint(uint32_t cp, std::u16string& out) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace em::platform
