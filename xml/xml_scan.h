// Tag scanner shared by the index builder, the content readers and the encoding sniffer.
// Internal to xml/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define EM_XML_SSE2 1
#endif

namespace em::xml::detail {

inline bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

inline char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

inline bool EqualNames(std::u16string_view a, std::u16string_view b, bool ignore_case) {
    if (a.size() != b.size()) return false;
    if (!ignore_case) return a == b;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// Offset of the next "<" at or after pos, or n.
inline size_t FindLt(const char16_t* s, size_t pos, size_t n) {
#ifdef EM_XML_SSE2
    const __m128i lt = _mm_set1_epi16(u'<');
    while (pos + 8 <= n) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(v, lt));
        if (mask != 0) return pos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
        pos += 8;
    }
#endif
    while (pos < n && s[pos] != u'<') ++pos;
    return pos;
}

// Offset of `pat` (2 or 3 characters) at or after pos, or npos.
inline size_t FindSeq(const char16_t* s, size_t pos, size_t n, std::u16string_view pat) {
    if (pos >= n) return std::u16string_view::npos;
    return std::u16string_view(s, n).find(pat, pos);
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
class Scanner {
public:
    using SubsetErrorFn = void (*)(void* ctx, size_t offset);

    Scanner(const char16_t* s, size_t n, size_t pos = 0) : m_s(s), m_n(n), m_pos(pos) {}
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
        if (m_s[m_pos] != u'<') {
            t.kind = Tok::Text;
            t.end = m_pos = FindLt(m_s, m_pos, m_n);
            return true;
        }
        ScanTag(t);
        m_pos = t.end;
        return true;
    }

private:
    void SkipToGt(Token& t, size_t from) {
        size_t gt = std::u16string_view(m_s, m_n).find(u'>', from < m_n ? from : m_n);
        t.end = gt == std::u16string_view::npos ? m_n : gt + 1;
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
    static bool StartsName(char16_t c) {
        return (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' || c >= u'a';
    }
    size_t NameEnd(size_t i, bool stop_at_question) const {
        while (i < m_n) {
            char16_t c = m_s[i];
            if (IsSpace(c) || c == u'>' || c == u'/' || (stop_at_question && c == u'?')) break;
            ++i;
        }
        return i;
    }

    void ScanTag(Token& t) {
        const size_t p = t.start;
        if (p + 1 >= m_n) return SetOpen(t, u"tag");
        const char16_t c = m_s[p + 1];
        if (c == u'/') return EndTag(t);
        if (c == u'?') return Pi(t);
        if (c == u'!') {
            if (p + 2 >= m_n) return SetOpen(t, u"tag");
            const char16_t d = m_s[p + 2];
            if (d == u'-') {
                if (p + 3 >= m_n) return SetOpen(t, u"comment");
                if (m_s[p + 3] != u'-') return SetError(t, Syntax::Comment, p + 3);
                return Delimited(t, Tok::Comment, p + 4, u"-->", u"comment");
            }
            if (d == u'[') {
                if (p + 3 >= m_n) return SetOpen(t, u"cdata_section");
                if (m_s[p + 3] != u'C') return SetError(t, Syntax::CDataSection, p + 3);
                return Delimited(t, Tok::CData, p + 4, u"]]>", u"cdata_section");
            }
            if (d == u'D') return DocType(t);
            return SetError(t, Syntax::Exclamation, p + 2);
        }
        if (StartsName(c)) return StartTag(t);
        SetError(t, Syntax::FirstTag, p + 1);
    }

    void Delimited(Token& t, Tok kind, size_t from, std::u16string_view close, const char16_t* what) {
        size_t k = FindSeq(m_s, from, m_n, close);
        if (k == std::u16string_view::npos) return SetOpen(t, what);
        t.kind = kind;
        t.end = k + close.size();
    }

    void Pi(Token& t) {
        t.name_start = t.start + 2;
        t.name_len = NameEnd(t.name_start, true) - t.name_start;
        Delimited(t, Tok::ProcessingInstruction, t.start + 2, u"?>", u"processing_instruction");
    }

    void EndTag(Token& t) {
        t.name_start = t.start + 2;
        t.name_len = NameEnd(t.name_start, false) - t.name_start;
        size_t gt = std::u16string_view(m_s, m_n).find(u'>', t.name_start + t.name_len);
        if (gt == std::u16string_view::npos) return SetOpen(t, u"end_tag");
        t.kind = Tok::EndTag;
        t.end = gt + 1;
    }

    void StartTag(Token& t) {
        t.name_start = t.start + 1;
        size_t i = NameEnd(t.name_start, false);
        t.name_len = i - t.name_start;
        char16_t prev = 0;  // last character that is not white space
        while (i < m_n) {
            const char16_t c = m_s[i];
            if (c == u'>') {
                t.kind = m_s[i - 1] == u'/' ? Tok::EmptyTag : Tok::StartTag;
                t.end = i + 1;
                return;
            }
            if ((c == u'"' || c == u'\'') && prev == u'=') {
                size_t q = std::u16string_view(m_s, m_n).find(c, i + 1);
                if (q == std::u16string_view::npos) break;
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
        size_t q = std::u16string_view(m_s, m_n).find(m_s[i], i + 1);
        return q == std::u16string_view::npos ? q : q + 1;
    }

    void DocType(Token& t) {
        constexpr size_t npos = std::u16string_view::npos;
        size_t i = t.start + 3;
        bool subset = false;
        while (i < m_n) {
            const char16_t c = m_s[i];
            if (!subset) {
                if (c == u'>') {
                    t.kind = Tok::DocType;
                    t.end = i + 1;
                    return;
                }
                if (c == u'"' || c == u'\'') {
                    i = SkipQuoted(i);
                    if (i == npos) break;
                    continue;
                }
                if (c == u'[') subset = true;
                ++i;
                continue;
            }
            if (c == u']') {
                subset = false;
                ++i;
                continue;
            }
            if (c != u'<' || i + 1 >= m_n || (m_s[i + 1] != u'!' && m_s[i + 1] != u'?')) {
                ++i;
                continue;
            }
            if (m_s[i + 1] == u'?') {
                size_t k = FindSeq(m_s, i + 2, m_n, u"?>");
                if (k == npos) break;
                i = k + 2;
                continue;
            }
            if (i + 2 >= m_n) break;
            const char16_t d = m_s[i + 2];
            if (d == u'-') {
                size_t k = FindSeq(m_s, i + 4, m_n, u"-->");
                if (k == npos) break;
                i = k + 3;
                continue;
            }
            if (d != u'A' && d != u'E' && d != u'N' && m_subsetError) m_subsetError(m_ctx, i);
            // A declaration (or a bad one, skipped the same way) runs to its ">".
            i += 2;
            while (i < m_n && m_s[i] != u'>') {
                if (m_s[i] == u'"' || m_s[i] == u'\'') {
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

    const char16_t* m_s;
    size_t m_n;
    size_t m_pos;
    SubsetErrorFn m_subsetError = nullptr;
    void* m_ctx = nullptr;
};

// Calls fn(name, value, has_value) for every attribute in [from, to); stops early when fn returns
// false. Attribute syntax: a name, optionally "=" and a quoted value or one running to the next
// white space.
template <class Fn>
void ForEachAttribute(const char16_t* s, size_t from, size_t to, Fn&& fn) {
    size_t i = from;
    while (i < to) {
        while (i < to && IsSpace(s[i])) ++i;
        if (i >= to) break;
        if (s[i] == u'/' || s[i] == u'=') {  // stray characters between attributes
            ++i;
            continue;
        }
        const size_t name = i;
        while (i < to && !IsSpace(s[i]) && s[i] != u'=') ++i;
        std::u16string_view name_view(s + name, i - name);
        size_t j = i;
        while (j < to && IsSpace(s[j])) ++j;
        std::u16string_view value;
        if (j < to && s[j] == u'=') {
            ++j;
            while (j < to && IsSpace(s[j])) ++j;
            if (j < to && (s[j] == u'"' || s[j] == u'\'')) {
                const char16_t q = s[j];
                size_t v = j + 1, e = v;
                while (e < to && s[e] != q) ++e;
                value = std::u16string_view(s + v, e - v);
                i = e < to ? e + 1 : to;
            } else {
                size_t v = j;
                while (j < to && !IsSpace(s[j])) ++j;
                value = std::u16string_view(s + v, j - v);
                i = j;
            }
        }
        if (!fn(name_view, value)) return;
    }
}

}  // namespace em::xml::detail
