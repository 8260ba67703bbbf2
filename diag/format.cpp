#include "diag/format.h"

#include <algorithm>

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

struct Spec {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    int width = 0;
    int precision = -1;
    bool wide64 = false;
};

void PutPadded(Sink& s, const Spec& sp, std::u16string_view prefix, std::u16string_view body) {
    size_t len = prefix.size() + body.size();
    size_t pad = sp.width > 0 && static_cast<size_t>(sp.width) > len ? sp.width - len : 0;
    if (sp.left) {
        s.put(prefix);
        s.put(body);
        s.fill(u' ', pad);
    } else if (sp.zero) {
        s.put(prefix);
        s.fill(u'0', pad);
        s.put(body);
    } else {
        s.fill(u' ', pad);
        s.put(prefix);
        s.put(body);
    }
}

void PutInteger(Sink& s, Spec sp, char16_t conv, const FormatArg& a) {
    uint64_t mag;
    bool neg = false;
    if (conv == u'd' || conv == u'i') {
        int64_t v = sp.wide64 ? a.as_signed() : static_cast<int32_t>(static_cast<uint32_t>(a.as_unsigned()));
        neg = v < 0;
        mag = neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    } else {
        mag = sp.wide64 ? a.as_unsigned() : static_cast<uint32_t>(a.as_unsigned());
    }
    char16_t digits[32];
    int nd = 0;
    const char16_t* set = conv == u'X' ? u"0123456789ABCDEF" : u"0123456789abcdef";
    unsigned base = (conv == u'x' || conv == u'X') ? 16 : 10;
    while (mag != 0) {
        digits[nd++] = set[mag % base];
        mag /= base;
    }
    // Precision is the minimum digit count; an explicit precision 0 prints nothing for 0.
    int min_digits = sp.precision >= 0 ? sp.precision : 1;
    if (sp.precision >= 0) sp.zero = false;
    char16_t body[64];
    int nb = 0;
    for (int i = nd; i < min_digits && nb < 32; ++i) body[nb++] = u'0';
    while (nd > 0) body[nb++] = digits[--nd];
    char16_t prefix[3];
    int np = 0;
    if (neg) prefix[np++] = u'-';
    else if (sp.plus && base == 10 && conv != u'u') prefix[np++] = u'+';
    else if (sp.space && base == 10 && conv != u'u') prefix[np++] = u' ';
    if (sp.alt && base == 16 && nb > 0 && !(nb == 1 && body[0] == u'0')) {
        prefix[np++] = u'0';
        prefix[np++] = conv;
    }
    PutPadded(s, sp, {prefix, static_cast<size_t>(np)}, {body, static_cast<size_t>(nb)});
}

void Run(Sink& s, std::u16string_view f, std::span<const FormatArg> args) {
    size_t next = 0;
    auto take = [&]() -> const FormatArg* { return next < args.size() ? &args[next++] : nullptr; };
    for (size_t i = 0; i < f.size(); ++i) {
        char16_t c = f[i];
        if (c != u'%') {
            s.put(c);
            continue;
        }
        if (++i >= f.size()) break;  // a lone trailing '%' prints nothing
        if (f[i] == u'%') {
            s.put(u'%');
            continue;
        }
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
            const FormatArg* w = take();
            int v = w && w->is_number() ? static_cast<int>(w->as_signed()) : 0;
            if (v < 0) {
                sp.left = true;
                v = -v;
            }
            sp.width = std::min(v, 4096);
            ++i;
        } else {
            while (i < f.size() && f[i] >= u'0' && f[i] <= u'9') sp.width = std::min(sp.width * 10 + (f[i++] - u'0'), 4096);
        }
        if (i < f.size() && f[i] == u'.') {
            ++i;
            sp.precision = 0;
            if (i < f.size() && f[i] == u'*') {
                const FormatArg* p = take();
                int v = p && p->is_number() ? static_cast<int>(p->as_signed()) : -1;
                sp.precision = v < 0 ? -1 : std::min(v, 4096);
                ++i;
            } else {
                while (i < f.size() && f[i] >= u'0' && f[i] <= u'9') sp.precision = std::min(sp.precision * 10 + (f[i++] - u'0'), 4096);
            }
        }
        // Length modifiers: h, l, ll, w, z, I, I32, I64, l64.
        while (i < f.size()) {
            char16_t k = f[i];
            if (k == u'h' || k == u'w' || k == u'z' || k == u'j' || k == u't') {
                ++i;
            } else if (k == u'l') {
                if (i + 1 < f.size() && f[i + 1] == u'l') { sp.wide64 = true; i += 2; }
                else if (i + 2 < f.size() && f[i + 1] == u'6' && f[i + 2] == u'4') { sp.wide64 = true; i += 3; }
                else ++i;
            } else if (k == u'I') {
                if (i + 2 < f.size() && f[i + 1] == u'6' && f[i + 2] == u'4') { sp.wide64 = true; i += 3; }
                else if (i + 2 < f.size() && f[i + 1] == u'3' && f[i + 2] == u'2') i += 3;
                else { sp.wide64 = true; ++i; }
            } else {
                break;
            }
        }
        if (i >= f.size()) break;
        char16_t conv = f[i];
        switch (conv) {
            case u'd': case u'i': case u'u': case u'x': case u'X': {
                const FormatArg* a = take();
                if (!a) s.put(kMissing);
                else if (!a->is_number()) s.put(kBadArg);
                else PutInteger(s, sp, conv, *a);
                break;
            }
            case u'c': case u'C': {
                const FormatArg* a = take();
                if (!a) s.put(kMissing);
                else if (!a->is_number()) s.put(kBadArg);
                else {
                    char16_t ch = static_cast<char16_t>(a->as_unsigned());
                    PutPadded(s, sp, {}, {&ch, 1});
                }
                break;
            }
            case u's': case u'S': {
                const FormatArg* a = take();
                if (!a) s.put(kMissing);
                else if (a->kind() == FormatArg::Kind::Pointer && a->as_unsigned() == 0) PutPadded(s, sp, {}, u"(null)");
                else if (a->kind() != FormatArg::Kind::Text) s.put(kBadArg);
                else {
                    std::u16string_view t = a->text();
                    if (sp.precision >= 0 && static_cast<size_t>(sp.precision) < t.size()) t = t.substr(0, sp.precision);
                    sp.zero = false;
                    PutPadded(s, sp, {}, t);
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
                    ps.wide64 = true;
                    PutInteger(s, ps, u'X', *a);
                }
                break;
            }
            default:
                // Unknown conversion: printed as written.
                s.put(u'%');
                s.put(conv);
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
