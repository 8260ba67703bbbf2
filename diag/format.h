// Type-safe printf-style formatting of UTF-16 text with the Windows meaning of the conversions:
// %s takes a UTF-16 string, %c a UTF-16 character, %d/%i/%u/%x/%X 32-bit integers (64-bit with
// the ll, l64 or I64 length modifiers). A conversion whose argument has the wrong kind, or is
// missing, prints a visible marker instead of reading anything it was not given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace em::diag {

class FormatArg {
public:
    enum class Kind : uint8_t { Signed, Unsigned, Text, Char, Pointer };

    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T> &&
                                            !std::is_same_v<T, char>, int> = 0>
    constexpr FormatArg(T v) : m_kind(Kind::Signed), m_i(static_cast<int64_t>(v)) {}
    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> &&
                                            !std::is_same_v<T, bool> && !std::is_same_v<T, char16_t>,
                                        int> = 0>
    constexpr FormatArg(T v) : m_kind(Kind::Unsigned), m_u(static_cast<uint64_t>(v)) {}
    constexpr FormatArg(bool v) : m_kind(Kind::Signed), m_i(v ? 1 : 0) {}
    constexpr FormatArg(char16_t c) : m_kind(Kind::Char), m_u(c) {}
    // A null text prints "(null)" through %s, as the Windows runtime does.
    constexpr FormatArg(const char16_t* s)
        : m_kind(s ? Kind::Text : Kind::Pointer), m_u(0), m_s(s ? std::u16string_view(s) : std::u16string_view()) {}
    constexpr FormatArg(char16_t* s) : FormatArg(static_cast<const char16_t*>(s)) {}
    FormatArg(const std::u16string& s) : m_kind(Kind::Text), m_s(s) {}
    constexpr FormatArg(std::u16string_view s) : m_kind(Kind::Text), m_s(s) {}
    FormatArg(const void* p) : m_kind(Kind::Pointer), m_u(reinterpret_cast<uintptr_t>(p)) {}
    template <class T>
    FormatArg(T* p) : FormatArg(static_cast<const void*>(p)) {}
    // Narrow text has no meaning in a UTF-16 format: refuse it at compile time.
    FormatArg(const char*) = delete;
    FormatArg(char*) = delete;
    FormatArg(char) = delete;
    FormatArg(const std::string&) = delete;

    Kind kind() const { return m_kind; }
    int64_t as_signed() const { return m_kind == Kind::Signed ? m_i : static_cast<int64_t>(m_u); }
    uint64_t as_unsigned() const { return m_kind == Kind::Signed ? static_cast<uint64_t>(m_i) : m_u; }
    std::u16string_view text() const { return m_s; }
    bool is_number() const { return m_kind != Kind::Text; }

private:
    Kind m_kind;
    union {
        int64_t m_i;
        uint64_t m_u;
    };
    std::u16string_view m_s;
};

// Formats into out[0..cap) and returns the number of characters written; what does not fit is
// cut off. No terminator is written. Never allocates.
size_t FormatTo(char16_t* out, size_t cap, std::u16string_view format, std::span<const FormatArg> args);

// Appends the formatted text to out.
void FormatAppend(std::u16string& out, std::u16string_view format, std::span<const FormatArg> args);

template <class... A>
std::u16string Format(std::u16string_view format, const A&... args) {
    std::u16string out;
    if constexpr (sizeof...(A) == 0) {
        FormatAppend(out, format, {});
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        FormatAppend(out, format, list);
    }
    return out;
}

}  // namespace em::diag
