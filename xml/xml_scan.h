// Tag scanner shared by the index builder, the content readers and the encoding sniffer.
// Internal to xml/.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)  // GCC and Clang (the loops below use their builtins)
#include <emmintrin.h>
#define EM_XML_SSE2 1
#endif

// The searches below run once or twice per tag, the start tag scan once per element: a call of its
// own for one of them costs more than the work itself.
#if defined(__GNUC__)
#define EM_XML_HOT inline __attribute__((always_inline))
#else
#define EM_XML_HOT inline
#endif

namespace em::xml::detail {

// Byte loops only, and a file's index built once the whole file is read: the plainest way of
// reading, which tests compare the usual one with (UsePlainReading in xml_tables.h). Read once per
// scan; the searches below are told with their `plain` argument.
inline std::atomic<bool> g_plainReading{false};
inline bool PlainReading() { return g_plainReading.load(std::memory_order_relaxed); }

template <class Ch>
inline bool IsSpace(Ch c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Characters that need a look inside a start tag: white space, ">", quotes and "=".
struct TagClasses {
    bool c[256] = {};
    constexpr TagClasses() {
        for (char ch : {' ', '\t', '\n', '\r', '>', '"', '\'', '='}) c[static_cast<unsigned char>(ch)] = true;
    }
};
inline constexpr TagClasses kTagClasses;

template <class Ch>
inline bool InTagClass(Ch ch) {
    const auto c = static_cast<std::make_unsigned_t<Ch>>(ch);
    if constexpr (sizeof(Ch) == 1)
        return kTagClasses.c[c];
    else
        return c < 256 && kTagClasses.c[c];
}

template <class Ch>
inline Ch AsciiLower(Ch c) { return (c >= 'A' && c <= 'Z') ? static_cast<Ch>(c + 32) : c; }

template <class Ch>
inline bool EqualNames(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b, bool ignore_case) {
    if (a.size() != b.size()) return false;
    if (!ignore_case) return a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Ch)) == 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// Offset of the next "<" at or after pos, or n.
EM_XML_HOT size_t FindLt(const char16_t* s, size_t pos, size_t n, bool plain) {
#ifdef EM_XML_SSE2
    const __m128i lt = _mm_set1_epi16(u'<');
    if (!plain) {
        for (; pos + 8 <= n; pos += 8) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos));
            int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(v, lt));
            if (mask != 0) return pos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
        }
    }
#endif
    while (pos < n && s[pos] != u'<') ++pos;
    return pos;
}

EM_XML_HOT size_t FindLt(const char8_t* s, size_t pos, size_t n, bool plain) {
#ifdef EM_XML_SSE2
    const __m128i lt = _mm_set1_epi8('<');
    if (!plain) {
        for (; pos + 16 <= n; pos += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos));
            int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, lt));
            if (mask != 0) return pos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        }
    }
#endif
    while (pos < n && s[pos] != '<') ++pos;
    return pos;
}

// Offset of the first of the ASCII characters Cs at or after i, or n.
template <char... Cs, class Ch>
EM_XML_HOT size_t FindFirstOf(const Ch* s, size_t i, size_t n, bool plain) {
#ifdef EM_XML_SSE2
    if (sizeof(Ch) == 1 && !plain) {
        for (; i + 16 <= n; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            __m128i hit = _mm_setzero_si128();
            ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(Cs)))), ...);
            const int mask = _mm_movemask_epi8(hit);
            if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        }
    }
#endif
    while (i < n && ((s[i] != static_cast<Ch>(Cs)) && ...)) ++i;
    return i;
}

// Offset of the first character at or after i that ends a tag name, or n.
template <class Ch>
EM_XML_HOT size_t FindNameEnd(const Ch* s, size_t i, size_t n, bool plain) {
    return FindFirstOf<' ', '\t', '\n', '\r', '>', '/'>(s, i, n, plain);
}

constexpr size_t npos = static_cast<size_t>(-1);

// Offset of the character c at or after pos, or npos.
template <class Ch>
EM_XML_HOT size_t FindChar(const Ch* s, size_t pos, size_t n, char c, bool plain) {
    if (pos >= n) return npos;  // callers may start past the end ("<!-" at the very end)
    // Most searches end within a few characters: look there first, then hand over.
    const size_t near = n - pos < 32 ? n : pos + 32;
    for (; pos < near; ++pos)
        if (s[pos] == static_cast<Ch>(c)) return pos;
    if (pos >= n) return npos;
    if (plain) {
        while (pos < n && s[pos] != static_cast<Ch>(c)) ++pos;
        return pos < n ? pos : npos;
    }
    const auto* p = std::char_traits<Ch>::find(s + pos, n - pos, static_cast<Ch>(c));
    return p ? static_cast<size_t>(p - s) : npos;
}

// Offset of the ASCII sequence `pat` at or after pos, or npos. The closing sequences searched for
// ("-->", "]]>", "?>") usually lie further away than FindChar looks first.
template <class Ch>
inline size_t FindSeq(const Ch* s, size_t pos, size_t n, std::string_view pat, bool plain) {
    while (true) {
        if (plain) {
            pos = FindChar(s, pos, n, pat[0], plain);
            if (pos == npos) return npos;
        } else {
            const Ch* p = pos < n ? std::char_traits<Ch>::find(s + pos, n - pos, static_cast<Ch>(pat[0])) : nullptr;
            if (!p) return npos;
            pos = static_cast<size_t>(p - s);
        }
        if (n - pos < pat.size()) return npos;
        size_t k = 1;
        while (k < pat.size() && s[pos + k] == static_cast<Ch>(pat[k])) ++k;
        if (k == pat.size()) return pos;
        ++pos;
    }
}

enum class Tok : uint8_t {
    Text,          // text run up to the next "<"
    StartTag,
    EmptyTag,      // start tag ended by "/>"
    EndTag,
    CData,
    ProcessingInstruction,
    Comment,
    DocType,
    Error,         // syntax error; the token is skipped (for FirstTag only the "<")
    Unterminated,  // tag, comment or section still open at the end; ends the scan
};

enum class Syntax : uint8_t { None, FirstTag, Exclamation, Comment, CDataSection, DocTypeTag };

struct Token {
    Tok kind = Tok::Text;
    size_t start = 0;
    size_t end = 0;         // one past the token
    size_t name_start = 0;  // tags and processing instructions
    size_t name_len = 0;
    Syntax error = Syntax::None;
    const char16_t* unterminated = nullptr;  // kind of what is left open
};

// Scans [pos, n) of a text token by token. Errors inside a document type's internal subset are
// reported through `subset_error` (when set) and do not end the token.
template <class Ch>
class Scanner {
public:
    using SubsetErrorFn = void (*)(void* ctx, size_t offset);
    using Unsigned = std::make_unsigned_t<Ch>;

    Scanner(const Ch* s, size_t n, size_t pos = 0) : m_s(s), m_n(n), m_pos(pos) {}
    void OnSubsetError(SubsetErrorFn fn, void* ctx) {
        m_subsetError = fn;
        m_ctx = ctx;
    }
    size_t Pos() const { return m_pos; }
    void Seek(size_t pos) { m_pos = pos; }

    // False at the end of the range.
    bool Next(Token& t) {
        if (m_pos >= m_n) return false;
        t.start = m_pos;
        t.name_start = t.name_len = 0;
        t.error = Syntax::None;
        t.unterminated = nullptr;
        if (m_s[m_pos] != '<') {
            t.kind = Tok::Text;
            t.end = m_pos = FindLt(m_s, m_pos, m_n, m_plain);
            return true;
        }
        ScanTag(t);
        m_pos = t.end;
        return true;
    }

    // The tag (or the markup error) at `lt`, a "<" within the range; the scan goes on after it.
    void TagAt(size_t lt, Token& t) {
        t.start = lt;
        t.name_start = t.name_len = 0;
        t.error = Syntax::None;
        t.unterminated = nullptr;
        ScanTag(t);
        m_pos = t.end;
    }

private:
    void SkipToGt(Token& t, size_t from) {
        size_t gt = FindChar(m_s, from, m_n, '>', m_plain);
        t.end = gt == npos ? m_n : gt + 1;
    }
    void SetError(Token& t, Syntax e, size_t skip_from) {
        t.kind = Tok::Error;
        t.error = e;
        if (e == Syntax::FirstTag)
            t.end = t.start + 1;
        else
            SkipToGt(t, skip_from);
    }
    void SetOpen(Token& t, const char16_t* what) {
        t.kind = Tok::Unterminated;
        t.unterminated = what;
        t.end = m_n;
    }
    static bool StartsName(Ch ch) {
        const auto c = static_cast<Unsigned>(ch);
        return (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 'a';
    }
    // A name ends at white space, ">" or "/" (and "?" in a processing instruction).
    size_t NameEnd(size_t i, bool stop_at_question) const {
        if (stop_at_question) return FindFirstOf<' ', '\t', '\n', '\r', '>', '/', '?'>(m_s, i, m_n, m_plain);
        return FindNameEnd(m_s, i, m_n, m_plain);
    }

    void ScanTag(Token& t) {
        const size_t p = t.start;
        if (p + 1 >= m_n) return SetOpen(t, u"tag");
        const Ch c = m_s[p + 1];
        if (c == '/') return EndTag(t);
        if (c == '?') return Pi(t);
        if (c == '!') {
            if (p + 2 >= m_n) return SetOpen(t, u"tag");
            const Ch d = m_s[p + 2];
            if (d == '-') {
                if (p + 3 >= m_n) return SetOpen(t, u"comment");
                if (m_s[p + 3] != '-') return SetError(t, Syntax::Comment, p + 3);
                return Delimited(t, Tok::Comment, p + 4, "-->", u"comment");
            }
            if (d == '[') {
                if (p + 3 >= m_n) return SetOpen(t, u"cdata_section");
                if (m_s[p + 3] != 'C') return SetError(t, Syntax::CDataSection, p + 3);
                return Delimited(t, Tok::CData, p + 4, "]]>", u"cdata_section");
            }
            if (d == 'D') return DocType(t);
            return SetError(t, Syntax::Exclamation, p + 2);
        }
        if (StartsName(c)) return StartTag(t);
        SetError(t, Syntax::FirstTag, p + 1);
    }

    void Delimited(Token& t, Tok kind, size_t from, std::string_view close, const char16_t* what) {
        size_t k = FindSeq(m_s, from, m_n, close, m_plain);
        if (k == npos) return SetOpen(t, what);
        t.kind = kind;
        t.end = k + close.size();
    }

    void Pi(Token& t) {
        t.name_start = t.start + 2;
        t.name_len = NameEnd(t.name_start, true) - t.name_start;
        Delimited(t, Tok::ProcessingInstruction, t.start + 2, "?>", u"processing_instruction");
    }

    void EndTag(Token& t) {
        t.name_start = t.start + 2;
        t.name_len = NameEnd(t.name_start, false) - t.name_start;
        size_t gt = FindChar(m_s, t.name_start + t.name_len, m_n, '>', m_plain);
        if (gt == npos) return SetOpen(t, u"end_tag");
        t.kind = Tok::EndTag;
        t.end = gt + 1;
    }

    EM_XML_HOT void StartTag(Token& t) {
        t.name_start = t.start + 1;
        size_t i = FindNameEnd(m_s, t.name_start, m_n, m_plain);
        t.name_len = i - t.name_start;
        // On to the ">" that ends the tag; a quote right after "=" (white space between them
        // allowed) opens a value, which may hold ">".
        Ch prev = 0;  // last character that is not white space
        while (i < m_n) {
            const Ch c = m_s[i];
            if (!InTagClass(c)) {
                prev = c;
                ++i;
                continue;
            }
            if (c == '>') {
                t.kind = m_s[i - 1] == '/' ? Tok::EmptyTag : Tok::StartTag;
                t.end = i + 1;
                return;
            }
            if ((c == '"' || c == '\'') && prev == '=') {
                size_t q = FindChar(m_s, i + 1, m_n, static_cast<char>(c), m_plain);
                if (q == npos) break;
                i = q + 1;
                prev = c;
                continue;
            }
            if (!IsSpace(c)) prev = c;
            ++i;
        }
        SetOpen(t, u"start_tag");
    }

    // Skips a quoted literal starting at i; the offset after it, or npos.
    size_t SkipQuoted(size_t i) const {
        size_t q = FindChar(m_s, i + 1, m_n, static_cast<char>(m_s[i]), m_plain);
        return q == npos ? q : q + 1;
    }

    void DocType(Token& t) {
        size_t i = t.start + 3;
        bool subset = false;
        while (i < m_n) {
            const Ch c = m_s[i];
            if (!subset) {
                if (c == '>') {
                    t.kind = Tok::DocType;
                    t.end = i + 1;
                    return;
                }
                if (c == '"' || c == '\'') {
                    i = SkipQuoted(i);
                    if (i == npos) break;
                    continue;
                }
                if (c == '[') subset = true;
                ++i;
                continue;
            }
            if (c == ']') {
                subset = false;
                ++i;
                continue;
            }
            if (c != '<' || i + 1 >= m_n || (m_s[i + 1] != '!' && m_s[i + 1] != '?')) {
                ++i;
                continue;
            }
            if (m_s[i + 1] == '?') {
                size_t k = FindSeq(m_s, i + 2, m_n, "?>", m_plain);
                if (k == npos) break;
                i = k + 2;
                continue;
            }
            if (i + 2 >= m_n) break;
            const Ch d = m_s[i + 2];
            if (d == '-') {
                size_t k = FindSeq(m_s, i + 4, m_n, "-->", m_plain);
                if (k == npos) break;
                i = k + 3;
                continue;
            }
            if (d != 'A' && d != 'E' && d != 'N' && m_subsetError) m_subsetError(m_ctx, i);
            // A declaration (or a bad one, skipped the same way) runs to its ">".
            i += 2;
            while (i < m_n && m_s[i] != '>') {
                if (m_s[i] == '"' || m_s[i] == '\'') {
                    i = SkipQuoted(i);
                    if (i == npos) break;
                } else {
                    ++i;
                }
            }
            if (i == npos || i >= m_n) break;
            ++i;
        }
        SetOpen(t, u"document_type");
    }

    const Ch* m_s;
    size_t m_n;
    size_t m_pos;
    bool m_plain = PlainReading();
    SubsetErrorFn m_subsetError = nullptr;
    void* m_ctx = nullptr;
};

// Calls fn(name, value) for every attribute in [from, to); stops early when fn returns false.
// Attribute syntax: a name, optionally "=" and a quoted value or one running to the next white
// space.
template <class Ch, class Fn>
void ForEachAttribute(const Ch* s, size_t from, size_t to, Fn&& fn) {
    using View = std::basic_string_view<Ch>;
    size_t i = from;
    while (i < to) {
        while (i < to && IsSpace(s[i])) ++i;
        if (i >= to) break;
        if (s[i] == '/' || s[i] == '=') {  // stray characters between attributes
            ++i;
            continue;
        }
        const size_t name = i;
        while (i < to && !IsSpace(s[i]) && s[i] != '=') ++i;
        View name_view(s + name, i - name);
        size_t j = i;
        while (j < to && IsSpace(s[j])) ++j;
        View value;
        if (j < to && s[j] == '=') {
            ++j;
            while (j < to && IsSpace(s[j])) ++j;
            if (j < to && (s[j] == '"' || s[j] == '\'')) {
                const Ch q = s[j];
                size_t v = j + 1, e = v;
                while (e < to && s[e] != q) ++e;
                value = View(s + v, e - v);
                i = e < to ? e + 1 : to;
            } else {
                size_t v = j;
                while (j < to && !IsSpace(s[j])) ++j;
                value = View(s + v, j - v);
                i = j;
            }
        }
        if (!fn(name_view, value)) return;
    }
}

}  // namespace em::xml::detail
