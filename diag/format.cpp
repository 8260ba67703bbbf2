#include "diag/format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace em::diag {

namespace {

constexpr std::u16string_view kMissing = u"(missing)";
constexpr std::u16string_view kBadArg = u"(bad-arg)";

// Output cursor that silently drops what does not fit.
struct Sink {
    char16_t* out;
    size_t cap;
    size_t n = 0;
    std::u16string* grow = nullptr;  // when set, appends without a limit

    void put(char16_t c) {
        if (grow) {
            grow->push_back(c);
        } else if (n < cap) {
            out[n++] = c;
        }
    }
    void put(std::u16string_view s) {
        if (grow) {
            grow->append(s);
            return;
        }
        size_t k = std::min(s.size(), cap - n);
        std::copy_n(s.data(), k, out + n);
        n += k;
    }
    void fill(char16_t c, size_t count) {
        for (size_t i = 0; i < count; ++i) put(c);
    }
};

// Widths and precisions are capped, so a hostile format cannot ask for gigabytes.
constexpr int kMaxWidth = 4096;
// Precision of a floating conversion: the C library formats into a buffer on the stack.
constexpr int kMaxFloatPrecision = 350;

struct Spec {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    int width = 0;
    int precision = -1;
    int bits = 32;  // integer size taken from the argument
};

// prefix, then zeros, then body, padded to the width (zeros between prefix and body with the '0'
// flag, unless the text is left-aligned).
void PutPadded(Sink& s, const Spec& sp, std::u16string_view prefix, size_t zeros, std::u16string_view body) {
    const size_t len = prefix.size() + zeros + body.size();
    const size_t width = static_cast<size_t>(sp.width);
    size_t pad = width > len ? width - len : 0;
    if (sp.zero && !sp.left) {
        zeros += pad;
        pad = 0;
    }
    if (!sp.left) s.fill(u' ', pad);
    s.put(prefix);
    s.fill(u'0', zeros);
    s.put(body);
    if (sp.left) s.fill(u' ', pad);
}

void PutInteger(Sink& s, Spec sp, char16_t conv, const FormatArg& a) {
    const uint64_t raw = a.as_unsigned();
    const uint64_t mask = sp.bits == 64 ? ~uint64_t{0} : (uint64_t{1} << sp.bits) - 1;
    uint64_t mag = raw & mask;
    bool neg = false;
    const bool is_signed = conv == u'd' || conv == u'i';
    if (is_signed && sp.bits < 64 && (mag >> (sp.bits - 1)) != 0) {
        neg = true;
        mag = (~mag + 1) & mask;  // two's complement of the cut value
    } else if (is_signed && sp.bits == 64 && static_cast<int64_t>(mag) < 0) {
        neg = true;
        mag = 0 - mag;
    }
    const unsigned base = conv == u'o' ? 8 : (conv == u'x' || conv == u'X' || conv == u'p') ? 16 : 10;
    const char16_t* set = conv == u'x' ? u"0123456789abcdef" : u"0123456789ABCDEF";
    char16_t digits[24];
    size_t nd = 0;
    for (uint64_t v = mag; v != 0; v /= base) digits[nd++] = set[v % base];
    std::reverse(digits, digits + nd);
    // Precision is the minimum digit count; an explicit precision 0 prints nothing for 0.
    const size_t min_digits = sp.precision >= 0 ? static_cast<size_t>(sp.precision) : 1;
    size_t zeros = min_digits > nd ? min_digits - nd : 0;
    if (sp.precision >= 0) sp.zero = false;
    char16_t prefix[2];
    size_t np = 0;
    if (neg) prefix[np++] = u'-';
    else if (is_signed && sp.plus) prefix[np++] = u'+';
    else if (is_signed && sp.space) prefix[np++] = u' ';
    if (sp.alt && base == 8 && zeros == 0 && (nd == 0 || digits[0] != u'0')) zeros = 1;
    if (sp.alt && base == 16 && conv != u'p' && mag != 0) {
        prefix[np++] = u'0';
        prefix[np++] = conv;
    }
    PutPadded(s, sp, {prefix, np}, zeros, {digits, nd});
}

// The floating conversions, formatted by the C library without the width, which is applied here.
void PutFloat(Sink& s, Spec sp, char16_t conv, double v) {
    char fmt[16];
    size_t k = 0;
    fmt[k++] = '%';
    if (sp.plus) fmt[k++] = '+';
    if (sp.space) fmt[k++] = ' ';
    if (sp.alt) fmt[k++] = '#';
    if (sp.precision >= 0) {
        fmt[k++] = '.';
        fmt[k++] = '*';
    }
    fmt[k++] = static_cast<char>(conv);
    fmt[k] = '\0';
    char buf[kMaxFloatPrecision + 340];
    const int precision = std::min(sp.precision, kMaxFloatPrecision);
    const int n = sp.precision >= 0 ? std::snprintf(buf, sizeof buf, fmt, precision, v) : std::snprintf(buf, sizeof buf, fmt, v);
    if (n < 0) return;
    std::u16string_view text;
    char16_t wide[sizeof buf];
    const size_t len = std::min(static_cast<size_t>(n), sizeof buf - 1);
    for (size_t i = 0; i < len; ++i) wide[i] = static_cast<char16_t>(static_cast<unsigned char>(buf[i]));
    text = {wide, len};
    // The sign (and the 0x of %a) stays before the zeros of the '0' flag; infinity and NaN are
    // padded with blanks.
    size_t np = !text.empty() && (text[0] == u'-' || text[0] == u'+' || text[0] == u' ') ? 1 : 0;
    if ((conv == u'a' || conv == u'A') && text.size() >= np + 2 && text[np] == u'0') np += 2;
    if (!std::isfinite(v)) sp.zero = false;
    PutPadded(s, sp, text.substr(0, np), 0, text.substr(np));
}

// Reads a width or precision given as '*': a number, or 0 when the argument is not one.
int64_t StarValue(const FormatArg* a, int64_t fallback) {
    return a && a->is_number() ? static_cast<int64_t>(static_cast<int32_t>(a->as_unsigned())) : fallback;
}

void Run(Sink& s, std::u16string_view f, std::span<const FormatArg> args) {
    size_t next = 0;
    auto take = [&]() -> const FormatArg* { return next < args.size() ? &args[next++] : nullptr; };
    auto digits = [&](size_t& i) {
        int v = 0;
        while (i < f.size() && f[i] >= u'0' && f[i] <= u'9') v = std::min(v * 10 + (f[i++] - u'0'), kMaxWidth);
        return v;
    };
    auto is = [&](size_t i, std::u16string_view what) { return f.substr(i, what.size()) == what; };
    for (size_t i = 0; i < f.size(); ++i) {
        char16_t c = f[i];
        if (c != u'%') {
            s.put(c);
            continue;
        }
        const size_t start = i;
        if (++i >= f.size()) break;  // a lone trailing '%' prints nothing
        Spec sp;
        for (; i < f.size(); ++i) {
            char16_t k = f[i];
            if (k == u'-') sp.left = true;
            else if (k == u'0') sp.zero = true;
            else if (k == u'+') sp.plus = true;
            else if (k == u' ') sp.space = true;
            else if (k == u'#') sp.alt = true;
            else break;
        }
        if (i < f.size() && f[i] == u'*') {
            int64_t v = StarValue(take(), 0);
            if (v < 0) {
                sp.left = true;
                v = -v;  // 64-bit: INT_MIN too
            }
            sp.width = static_cast<int>(std::min<int64_t>(v, kMaxWidth));
            ++i;
        } else {
            sp.width = digits(i);
        }
        if (i < f.size() && f[i] == u'.') {
            ++i;
            if (i < f.size() && f[i] == u'*') {
                const int64_t v = StarValue(take(), -1);
                sp.precision = v < 0 ? -1 : static_cast<int>(std::min<int64_t>(v, kMaxWidth));  // negative: none
                ++i;
            } else {
                sp.precision = digits(i);
            }
        }
        // Length modifiers, Windows x64 sizes: l and I32 are 32-bit; ll, l64, I64, I, z, j, t 64-bit.
        if (is(i, u"hh")) sp.bits = 8, i += 2;
        else if (is(i, u"h")) sp.bits = 16, i += 1;
        else if (is(i, u"ll") || is(i, u"l64") || is(i, u"I64")) sp.bits = 64, i += f[i + 1] == u'l' ? 2 : 3;
        else if (is(i, u"I32")) i += 3;
        else if (is(i, u"I") || is(i, u"z") || is(i, u"j") || is(i, u"t")) sp.bits = 64, i += 1;
        else if (is(i, u"l") || is(i, u"w") || is(i, u"L")) i += 1;
        if (i >= f.size()) break;
        const char16_t conv = f[i];
        switch (conv) {
            case u'%':
                s.put(u'%');
                break;
            case u'd': case u'i': case u'u': case u'o': case u'x': case u'X': {
                const FormatArg* a = take();
                if (!a) s.put(kMissing);
                else if (!a->is_number()) s.put(kBadArg);
                else PutInteger(s, sp, conv, *a);
                break;
            }
            case u'e': case u'E': case u'f': case u'F': case u'g': case u'G': case u'a': case u'A': {
                const FormatArg* a = take();
                if (!a) s.put(kMissing);
                else if (a->kind() != FormatArg::Kind::Float) s.put(kBadArg);
                else PutFloat(s, sp, conv, a->as_double());
                break;
            }
            case u'c': case u'C': {
                const FormatArg* a = take();
                if (!a) s.put(kMissing);
                else if (!a->is_number()) s.put(kBadArg);
                else {
                    const char16_t ch = static_cast<char16_t>(a->as_unsigned());
                    sp.zero = false;  // a character is padded with blanks
                    PutPadded(s, sp, {}, 0, {&ch, 1});
                }
                break;
            }
            case u's': case u'S': {
                const FormatArg* a = take();
                sp.zero = false;
                if (!a) s.put(kMissing);
                else if (a->kind() == FormatArg::Kind::Pointer && a->as_unsigned() == 0) PutPadded(s, sp, {}, 0, u"(null)");
                else if (a->kind() != FormatArg::Kind::Text) s.put(kBadArg);
                else {
                    std::u16string_view t = a->text();
                    if (sp.precision >= 0 && static_cast<size_t>(sp.precision) < t.size()) t = t.substr(0, sp.precision);
                    PutPadded(s, sp, {}, 0, t);
                }
                break;
            }
            case u'p': {
                const FormatArg* a = take();
                if (!a) s.put(kMissing);
                else if (!a->is_number()) s.put(kBadArg);
                else {
                    Spec ps;
                    ps.zero = true;
                    ps.width = 16;
                    ps.bits = 64;
                    PutInteger(s, ps, u'p', *a);
                }
                break;
            }
            case u'n':
                take();  // the count is never written anywhere
                break;
            default:
                // Unknown conversion: printed as written, nothing consumed beyond its '*' values.
                s.put(f.substr(start, i + 1 - start));
                break;
        }
    }
}

}  // namespace

size_t FormatTo(char16_t* out, size_t cap, std::u16string_view format, std::span<const FormatArg> args) {
    Sink s{out, cap};
    Run(s, format, args);
    return s.n;
}

void FormatAppend(std::u16string& out, std::u16string_view format, std::span<const FormatArg> args) {
    Sink s{nullptr, 0};
    s.grow = &out;
    Run(s, format, args);
}

}  // namespace em::diag
