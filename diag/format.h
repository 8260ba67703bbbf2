// Type-safe printf-style formatting of UTF-16 text with the Windows (x64) meaning of the
// conversions: %s takes a UTF-16 string, %c a UTF-16 character; %d/%i/%u/%o/%x/%X take 32 bits
// (also with l or I32), 64 bits with ll, l64, I64, I, z, j or t, and h/hh cut to 16/8 bits;
// %e/%f/%g/%a (and upper case) a double; %p prints 16 hex digits; %n consumes its argument and
// prints nothing (it never writes). Flags, width and precision behave as in the C runtime. A
// conversion whose argument has the wrong kind, or is missing, prints a visible marker instead of
// reading anything it was not given; an unknown conversion is printed as written and consumes
// nothing.
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
    enum class Kind : uint8_t { Signed, Unsigned, Text, Char, Pointer, Float };

    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T> &&
                                            !std::is_same_v<T, char>, int> = 0>
    constexpr FormatArg(T v) : m_kind(Kind::Signed), m_i(static_cast<int64_t>(v)) {}
    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> &&
                                            !std::is_same_v<T, bool> && !std::is_same_v<T, char16_t>,
                                        int> = 0>
    constexpr FormatArg(T v) : m_kind(Kind::Unsigned), m_u(static_cast<uint64_t>(v)) {}
    constexpr FormatArg(bool v) : m_kind(Kind::Signed), m_i(v ? 1 : 0) {}
    constexpr FormatArg(char16_t c) : m_kind(Kind::Char), m_u(c) {}
    constexpr FormatArg(double v) : m_kind(Kind::Float), m_d(v) {}
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
    double as_double() const { return m_d; }
    // An integer, character or pointer (what the integer conversions take).
    bool is_number() const { return m_kind != Kind::Text && m_kind != Kind::Float; }

private:
    Kind m_kind;
    union {
        int64_t m_i;
        uint64_t m_u;
        double m_d;
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
