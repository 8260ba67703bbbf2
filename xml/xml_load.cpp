// CXmlDocument: reading files, encoding detection and conversion to UTF-16.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>

#include "platform/codepage.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/sync.h"
#include "xml/xml_document.h"
#include "xml/xml_scan.h"
#include "xml/xml_tables.h"

#if defined(EM_XML_SSE2) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>
#define EM_XML_SIMD_UTF8 1
#endif

namespace em::xml {

using detail::AsciiLower;
using detail::IsSpace;
using detail::Tok;
using detail::Token;

namespace {

bool EqualNames(std::u16string_view a, std::u16string_view b, bool ignore_case) {
    return detail::EqualNames<char16_t>(a, b, ignore_case);
}

constexpr size_t kFirstChunk = 1024;  // bytes searched for a declared encoding

#ifdef EM_XML_SIMD_UTF8
const bool g_simdUtf8 = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
#endif

// Length of the UTF-8 sequence a lead byte starts; 0 for bytes that start none.
constexpr auto kUtf8Length = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 0x80; ++c) t[c] = 1;
    for (int c = 0xC2; c <= 0xDF; ++c) t[c] = 2;
    for (int c = 0xE0; c <= 0xEF; ++c) t[c] = 3;
    for (int c = 0xF0; c <= 0xF4; ++c) t[c] = 4;
    return t;
}();

// UTF-8 validity, fed as the bytes arrive: every byte from 0x80 up must start a complete, valid
// sequence of at most four bytes. Stops at the first invalid sequence or 0 byte.
class Utf8Validator {
public:
    // Takes the bytes of [0, avail); a sequence cut at `avail` waits for more unless `final`.
    void Feed(const unsigned char* p, size_t avail, bool final) {
#ifdef EM_XML_SIMD_UTF8
        if (m_simd) return FeedBlocks(p, avail, final);
#endif
        FeedScalar(p, avail, final);
    }

private:
    void FeedScalar(const unsigned char* p, size_t avail, bool final) {
        size_t i = m_pos;
        while (i < avail && !m_bad && !m_null) {
#ifdef EM_XML_SSE2
            while (i + 16 <= avail && !m_plain) {  // a run of ASCII, 16 bytes at a time
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
                const int special = _mm_movemask_epi8(v) | _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()));
                if (special != 0) {
                    i += static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(special)));
                    break;
                }
                i += 16;
            }
#endif
            while (i < avail && p[i] < 0x80 && p[i] != 0) ++i;
            if (i >= avail) break;
            if (p[i] == 0) {
                m_null = true;
                break;
            }
            while (i < avail && p[i] >= 0x80) {  // a run of multibyte sequences
                const unsigned c = p[i];
                const size_t len = kUtf8Length[c];
                if (len == 0) {
                    m_bad = true;
                    break;
                }
                if (avail - i < len) {
                    if (final) m_bad = true;
                    m_pos = i;
                    return;
                }
                const unsigned b1 = p[i + 1];
                bool ok = (b1 & 0xC0) == 0x80;
                if (len >= 3) {
                    ok = ok && (p[i + 2] & 0xC0) == 0x80;
                    // no overlong forms, no surrogates, nothing above U+10FFFF
                    if (c == 0xE0) ok = ok && b1 >= 0xA0;
                    else if (c == 0xED) ok = ok && b1 <= 0x9F;
                    if (len == 4) {
                        ok = ok && (p[i + 3] & 0xC0) == 0x80;
                        if (c == 0xF0) ok = ok && b1 >= 0x90;
                        else if (c == 0xF4) ok = ok && b1 <= 0x8F;
                    }
                }
                if (!ok) {
                    m_bad = true;
                    break;
                }
                m_extra += len == 2 ? 1 : 2;  // one UTF-16 unit, or a surrogate pair for 4 bytes
                i += len;
            }
        }
        m_pos = i;
    }
#ifdef EM_XML_SIMD_UTF8
    // 16 bytes at a time with table lookups (SSSE3): each byte is classified by the high nibble of
    // the byte before it, the low nibble of the byte before it and its own high nibble; a valid
    // pair of bytes has no error bit common to the three. Bytes that must be the second or third
    // continuation of a sequence are told by the lead bytes two and three places back.
    struct State {
        __m128i prev, error, prev_incomplete;
        size_t extra;
        bool null;
    };
    __attribute__((target("ssse3,popcnt"), always_inline)) static inline void Block(State& st, const unsigned char* q) {
        constexpr uint8_t kTooShort = 1 << 0, kTooLong = 1 << 1, kOverlong3 = 1 << 2, kTooLarge = 1 << 3,
                          kSurrogate = 1 << 4, kOverlong2 = 1 << 5, kTooLarge1000 = 1 << 6, kOverlong4 = 1 << 6,
                          kTwoConts = 1 << 7, kCarry = kTooShort | kTooLong | kTwoConts;
        const __m128i input = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(input, _mm_setzero_si128())) != 0) {
            st.null = true;
            return;
        }
        if (_mm_movemask_epi8(input) == 0) {  // ASCII: only a sequence left open before it can fail
            st.error = _mm_or_si128(st.error, st.prev_incomplete);
            st.prev = input;
            st.prev_incomplete = _mm_setzero_si128();
            return;
        }
        const __m128i nibble = _mm_set1_epi8(0x0F);
        const __m128i prev1 = _mm_alignr_epi8(input, st.prev, 15);
        const __m128i byte1_high = _mm_shuffle_epi8(
            _mm_setr_epi8(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
                          static_cast<char>(kTwoConts), static_cast<char>(kTwoConts), static_cast<char>(kTwoConts),
                          static_cast<char>(kTwoConts), kTooShort | kOverlong2, kTooShort,
                          kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4),
            _mm_and_si128(_mm_srli_epi16(prev1, 4), nibble));
        constexpr char kLarge = static_cast<char>(kCarry | kTooLarge | kTooLarge1000);
        const __m128i byte1_low = _mm_shuffle_epi8(
            _mm_setr_epi8(static_cast<char>(kCarry | kOverlong3 | kOverlong2 | kOverlong4),
                          static_cast<char>(kCarry | kOverlong2), static_cast<char>(kCarry), static_cast<char>(kCarry),
                          static_cast<char>(kCarry | kTooLarge), kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge,
                          kLarge, static_cast<char>(kCarry | kTooLarge | kTooLarge1000 | kSurrogate), kLarge, kLarge),
            _mm_and_si128(prev1, nibble));
        constexpr char kCont8 = static_cast<char>(kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4);
        constexpr char kCont9 = static_cast<char>(kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge);
        constexpr char kContAB = static_cast<char>(kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge);
        const __m128i byte2_high = _mm_shuffle_epi8(
            _mm_setr_epi8(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
                          kCont8, kCont9, kContAB, kContAB, kTooShort, kTooShort, kTooShort, kTooShort),
            _mm_and_si128(_mm_srli_epi16(input, 4), nibble));
        const __m128i special = _mm_and_si128(_mm_and_si128(byte1_high, byte1_low), byte2_high);
        const __m128i prev2 = _mm_alignr_epi8(input, st.prev, 14);
        const __m128i prev3 = _mm_alignr_epi8(input, st.prev, 13);
        const __m128i third = _mm_subs_epu8(prev2, _mm_set1_epi8(static_cast<char>(0xE0 - 0x80)));
        const __m128i fourth = _mm_subs_epu8(prev3, _mm_set1_epi8(static_cast<char>(0xF0 - 0x80)));
        const __m128i must23 = _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(static_cast<char>(0x80)));
        st.error = _mm_or_si128(st.error, _mm_xor_si128(must23, special));
        // A lead byte among the last three that its sequence does not fit behind.
        st.prev_incomplete = _mm_subs_epu8(input, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                              static_cast<char>(0xF0 - 1), static_cast<char>(0xE0 - 1),
                                                              static_cast<char>(0xC0 - 1)));
        st.prev = input;
        // continuation bytes (0x80..0xBF) less four-byte leads (0xF0..0xFF)
        const int conts = _mm_movemask_epi8(_mm_cmplt_epi8(input, _mm_set1_epi8(-64)));
        const int leads4 = _mm_movemask_epi8(_mm_cmpgt_epi8(input, _mm_set1_epi8(-17))) & _mm_movemask_epi8(input);
        st.extra += static_cast<size_t>(__builtin_popcount(static_cast<unsigned>(conts))) -
                   static_cast<size_t>(__builtin_popcount(static_cast<unsigned>(leads4)));
    }

    __attribute__((target("ssse3,popcnt"))) void FeedBlocks(const unsigned char* p, size_t avail, bool final) {
        // The state lives in locals during the loop (the bytes may alias members otherwise).
        State st{m_prev, m_error, m_prevIncomplete, m_extra, false};
        size_t i = m_pos;
        const __m128i zero = _mm_setzero_si128();
        while (i + 16 <= avail && !st.null) {
            // 64 bytes of ASCII without a 0 byte, after a complete sequence: nothing to look at.
            if (i + 64 <= avail && _mm_movemask_epi8(_mm_cmpeq_epi8(st.prev_incomplete, zero)) == 0xFFFF) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
                const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32));
                const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48));
                const __m128i any_high = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
                const __m128i low = _mm_min_epu8(_mm_min_epu8(a, b), _mm_min_epu8(c, d));
                if (_mm_movemask_epi8(any_high) == 0 && _mm_movemask_epi8(_mm_cmpeq_epi8(low, zero)) == 0) {
                    st.prev = d;
                    i += 64;
                    continue;
                }
            }
            Block(st, p + i);
            i += 16;
        }
        if (final && !st.null) {
            // The rest, padded with blanks: a sequence cut by the end meets a blank and fails.
            unsigned char tail[16];
            std::memset(tail, ' ', sizeof(tail));
            if (avail > i) std::memcpy(tail, p + i, avail - i);
            Block(st, tail);
            if (!st.null) i = avail;
        }
        m_prev = st.prev;
        m_error = st.error;
        m_prevIncomplete = st.prev_incomplete;
        m_extra = st.extra;
        m_null = st.null;
        m_pos = i;
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(m_error, _mm_setzero_si128())) != 0xFFFF) m_bad = true;
    }

    bool m_simd = g_simdUtf8 && !detail::PlainReading();
    __m128i m_prev = _mm_setzero_si128();
    __m128i m_error = _mm_setzero_si128();
    __m128i m_prevIncomplete = _mm_setzero_si128();
#endif

public:
    size_t Pos() const { return m_pos; }  // bytes checked so far
    bool Bad() const { return m_bad; }
    bool Null() const { return m_null; }
    // Length in UTF-16 units of the bytes checked so far.
    size_t Units() const { return m_pos - m_extra; }

private:
    bool m_plain = detail::PlainReading();
    size_t m_pos = 0;
    size_t m_extra = 0;  // bytes beyond the first of each sequence, less one per surrogate pair
    bool m_bad = false;
    bool m_null = false;
};

struct Utf8Scan {
    bool valid = false;  // valid UTF-8 without a 0 byte
    bool null = false;   // holds a 0 byte
    size_t units = 0;    // length in UTF-16 units (when valid)
};

// True when the bytes are valid UTF-8 without a 0 byte.
bool ScanUtf8(std::string_view bytes, Utf8Scan& scan) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    Utf8Validator v;
    v.Feed(p, bytes.size(), true);
    scan.null = v.Null() || (v.Bad() && std::memchr(p + v.Pos(), 0, bytes.size() - v.Pos()) != nullptr);
    scan.valid = !v.Bad() && !v.Null();
    scan.units = scan.valid ? v.Units() : 0;
    return scan.valid;
}

void Utf32ToUtf16(std::string_view bytes, bool big_endian, std::u16string& out) {
    out.clear();
    out.reserve(bytes.size() / 4 + 1);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    for (; i + 4 <= bytes.size(); i += 4) {
        uint32_t cp = big_endian ? (uint32_t{p[i]} << 24 | uint32_t{p[i + 1]} << 16 | uint32_t{p[i + 2]} << 8 | p[i + 3])
                                 : (uint32_t{p[i + 3]} << 24 | uint32_t{p[i + 2]} << 16 | uint32_t{p[i + 1]} << 8 | p[i]);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(u'\xFFFD');
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    if (i < bytes.size()) out.push_back(u'\xFFFD');
}

// The charset named in a "content" value such as "text/html; charset=iso-8859-1".
std::u16string_view CharsetOfContent(std::u16string_view content) {
    constexpr std::u16string_view key = u"charset";
    for (size_t i = 0; i + key.size() <= content.size(); ++i) {
        if (!EqualNames(content.substr(i, key.size()), key, true)) continue;
        size_t j = i + key.size();
        while (j < content.size() && IsSpace(content[j])) ++j;
        if (j >= content.size() || content[j] != u'=') continue;
        ++j;
        while (j < content.size() && (IsSpace(content[j]) || content[j] == u'"' || content[j] == u'\'')) ++j;
        size_t e = j;
        while (e < content.size() && !IsSpace(content[e]) && content[e] != u';' && content[e] != u'"' &&
               content[e] != u'\'')
            ++e;
        return content.substr(j, e - j);
    }
    return {};
}

// Attribute value of a tag or processing instruction found by the sniffer (names ignore case).
std::u16string_view SniffAttribute(const char16_t* s, size_t from, size_t to, std::u16string_view name) {
    std::u16string_view value;
    if (from > to) return value;
    detail::ForEachAttribute(s, from, to, [&](std::u16string_view n, std::u16string_view v) {
        if (!EqualNames(n, name, true)) return true;
        value = v;
        return false;
    });
    return value;
}

// The encoding declared by an XML declaration or an HTML meta tag in the first chunk.
std::u16string DeclaredEncoding(std::u16string_view chunk) {
    const char16_t* s = chunk.data();
    detail::Scanner<char16_t> scan(s, chunk.size());
    Token t;
    bool in_html = false;
    while (scan.Next(t)) {
        const std::u16string_view name(s + t.name_start, t.name_len);
        switch (t.kind) {
            case Tok::ProcessingInstruction:
                if (EqualNames(name, u"xml", true))
                    return std::u16string(SniffAttribute(s, t.name_start + t.name_len, t.end - 2, u"encoding"));
                break;
            case Tok::StartTag:
            case Tok::EmptyTag: {
                if (!in_html) {
                    if (!EqualNames(name, u"html", true)) return {};
                    in_html = true;
                    break;
                }
                if (!EqualNames(name, u"meta", true)) break;
                const size_t from = t.name_start + t.name_len;
                const size_t to = t.end - (t.kind == Tok::EmptyTag ? 2 : 1);
                if (!EqualNames(SniffAttribute(s, from, to, u"http-equiv"), u"Content-Type", true)) break;
                std::u16string_view charset = CharsetOfContent(SniffAttribute(s, from, to, u"content"));
                if (!charset.empty()) return std::u16string(charset);
                break;
            }
            case Tok::EndTag:
                if (in_html && EqualNames(name, u"head", true)) return {};
                break;
            case Tok::Error:
            case Tok::Unterminated:
                return {};
            default:
                break;
        }
    }
    return {};
}

// The encoding of bytes without a byte order mark: the declared one, or empty. A text that starts
// with "<" is not taken for UTF-8 on sight: without a declaration the UTF-8 test decides, so that
// a message file in the ANSI code page keeps its accented letters.
std::u16string EncodingWithoutMark(std::string_view bytes) {
    return DeclaredEncoding(platform::Utf8ToUtf16(bytes.substr(0, std::min(bytes.size(), kFirstChunk))));
}

// True for an encoding that is UTF-8, or not known yet (UTF-8 when the bytes pass the test).
bool MaybeUtf8(std::u16string_view encoding) {
    return encoding.empty() ||
           (encoding.substr(0, 6) != u"UTF-32" && CharsetToCodePage(encoding) == platform::kCodePageUtf8);
}

bool HasByteOrderMark(const unsigned char* b, size_t n) {
    return (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) || (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) ||
           (n >= 2 && b[0] == 0xFE && b[1] == 0xFF);
}

}  // namespace

bool detail::UsePlainReading(bool on) { return g_plainReading.exchange(on); }

uint32_t CharsetToCodePage(std::u16string_view name) {
    constexpr size_t kMaxName = 100;
    if (name.empty() || name.size() >= kMaxName) return 0;
    char16_t lower[kMaxName];
    for (size_t i = 0; i < name.size(); ++i) lower[i] = AsciiLower(name[i]);
    return detail::LookupCharset(std::u16string_view(lower, name.size()));
}

void ConvertToUtf16(std::u16string_view encoding, std::string_view bytes, std::u16string& out) {
    if (encoding.substr(0, 6) == u"UTF-32") {
        Utf32ToUtf16(bytes, encoding == u"UTF-32BE", out);
        return;
    }
    uint32_t cp = encoding.empty() ? platform::kCodePageAnsi : CharsetToCodePage(encoding);
    if (cp == 0) cp = platform::kCodePageAnsi;
    if (!platform::MultiByteToWide(cp, bytes, out)) platform::MultiByteToWide(platform::kCodePageAnsi, bytes, out);
}

bool CXmlDocument::LoadFile(const char16_t* path) {
    return LoadFile(path ? std::u16string_view(path) : std::u16string_view());
}

bool CXmlDocument::LoadFile(std::u16string_view path) {
    if (m_nDocFlags & (kFlagReadFile | kFlagWriteFile)) return false;
    m_nDocFlags &= ~(kFlagUtf16LeFile | kFlagUtf8Bom | kFlagUtf16BeFile);
    m_strDoc.clear();
    m_strResult.clear();

    platform::File file;
    uint64_t size = 0;
    bool ok = file.Open(path, platform::File::Mode::Read) && file.Size(&size);
    if (ok && size >= 0x7FFFFFF0u) {  // beyond the reach of 32-bit text offsets
        platform::SetLastError(8);
        ok = false;
    }
    Bytes bytes;
    // A file that declares UTF-8, or declares nothing, is checked and indexed chunk by chunk while
    // it is read, each chunk still in the cache. Anything unusual (invalid UTF-8, a 0 byte, a
    // syntax problem) is left to the general path once it is read.
    constexpr size_t kChunk = 256 * 1024;
    constexpr size_t kStep = 16 * 1024;
    Utf8Validator utf8;
    ParseState st;
    bool decided = false, fast = false;
    std::u16string encoding;
    if (ok && size > 0) {
        bytes.p.reset(new char[size]);
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
        platform::SetLastError(0);
        size_t got = 0;
        while (got < size) {
            size_t r = file.Read(bytes.data() + got, std::min<size_t>(kChunk, size - got));
            if (r == 0) break;
            got += r;
            const bool last = got == size;
            if (!decided && (got >= kFirstChunk || last)) {
                decided = true;
                if (!HasByteOrderMark(b, got)) {
                    encoding = EncodingWithoutMark(std::string_view(bytes.data(), got));
                    fast = MaybeUtf8(encoding) && !detail::PlainReading();
                    if (fast) BeginIndex(size, st);
                }
            }
            // Checked and indexed in small steps, so that the index builder finds the bytes that
            // the check has just read still in the first-level cache.
            for (size_t step = utf8.Pos(); fast && step < got;) {
                step = std::min(got, step + kStep);
                const bool final = last && step == got;
                utf8.Feed(b, step, final);
                if (utf8.Bad() || utf8.Null()) {
                    fast = false;
                    break;
                }
                ParseRange(reinterpret_cast<const char8_t*>(bytes.data()), st, utf8.Pos(), final && utf8.Pos() == got);
                if (!m_strResult.empty()) fast = false;
            }
        }
        if (got < size && platform::GetLastError() != 0) ok = false;
        bytes.n = got;
        if (ok && fast && got == size) {
            ParseFinish(reinterpret_cast<const char8_t*>(bytes.data()), st, size);
            fast = m_strResult.empty();
        } else {
            fast = false;
        }
    }
    if (!ok) {
        const uint32_t code = platform::GetLastError();
        m_strDoc8 = {};
        m_bUtf8 = false;
        m_strResult.clear();
        AddResult(u"file_error", u"msg", platform::SystemMessageText(code), u"n", code, true);
        Parse();
        return false;
    }
    file.Close();
    if (!fast) {
        m_strResult.clear();
        return ReadBytes(std::move(bytes));
    }
    // The entries the general path writes for such a file: the encoding as declared, or as found.
    AddResult(u"read", u"encoding", encoding.empty() ? std::u16string_view(u"UTF-8") : encoding, u"length",
              bytes.size(), true);
    if (encoding.empty()) AddResult(u"utf8_detection");
    AddResult(u"converted_to", u"encoding", u"UTF-16", u"length", utf8.Units(), true);
    m_strDoc8 = std::move(bytes);
    m_bUtf8 = true;
    ResetPosition();
    return IsWellFormed();
}

bool CXmlDocument::LoadBytes(std::string_view bytes) {
    if (m_nDocFlags & (kFlagReadFile | kFlagWriteFile)) return false;
    m_nDocFlags &= ~(kFlagUtf16LeFile | kFlagUtf8Bom | kFlagUtf16BeFile);
    m_strDoc.clear();
    m_strResult.clear();
    Bytes copy;
    copy.p.reset(new char[bytes.size() + 1]);
    copy.n = bytes.size();
    if (!bytes.empty()) std::memcpy(copy.p.get(), bytes.data(), bytes.size());
    return ReadBytes(std::move(copy));
}

bool CXmlDocument::ReadBytes(Bytes&& bytes) {
    m_strDoc.clear();
    m_strDoc8 = {};
    m_bUtf8 = false;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    std::u16string encoding;
    bool two_byte = false, big_endian = false;
    size_t skip = 0;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        encoding = u"UTF-8";
        m_nDocFlags |= kFlagUtf8Bom;
        skip = 3;
    } else if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        encoding = u"UTF-16LE";
        m_nDocFlags |= kFlagUtf16LeFile;
        skip = 2;
        two_byte = true;
    } else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        encoding = u"UTF-16BE";
        m_nDocFlags |= kFlagUtf16BeFile;
        skip = 2;
        two_byte = big_endian = true;
    }
    if (skip) {
        AddResult(u"bom");
    } else {
        encoding = EncodingWithoutMark(bytes.view());
    }

    if (two_byte) {
        const size_t units = (n - skip) / 2;
        m_strDoc.resize(units);
        char16_t* out = m_strDoc.data();
        size_t len = 0;
        for (size_t i = 0; i < units; ++i) {
            const unsigned char lo = b[skip + 2 * i + (big_endian ? 1 : 0)];
            const unsigned char hi = b[skip + 2 * i + (big_endian ? 0 : 1)];
            const char16_t u = static_cast<char16_t>(hi << 8 | lo);
            if (u != 0) out[len++] = u;
        }
        m_strDoc.resize(len);
        if (len < units) AddResult(u"nulls_removed", {}, {}, u"count", units - len, true);
        if (big_endian) AddResult(u"endian_swap");
        AddResult(u"read", u"encoding", encoding, u"length", len, true);
        return Parse();
    }

    if (skip) {
        std::memmove(bytes.data(), bytes.data() + skip, n - skip);
        bytes.n -= skip;
    }
    // The UTF-8 scan finds a 0 byte on its way; other encodings look for one separately.
    const bool maybe_utf8 = MaybeUtf8(encoding);
    Utf8Scan scan;
    const bool has_null = maybe_utf8 ? !ScanUtf8(bytes.view(), scan) && scan.null
                                     : bytes.size() && std::memchr(bytes.data(), 0, bytes.size()) != nullptr;
    if (has_null) {
        const size_t before = bytes.size();
        bytes.n = static_cast<size_t>(std::remove(bytes.data(), bytes.data() + before, '\0') - bytes.data());
        AddResult(u"nulls_removed", {}, {}, u"count", before - bytes.size(), true);
        if (maybe_utf8) ScanUtf8(bytes.view(), scan);
    }
    AddResult(u"read", u"encoding", encoding, u"length", bytes.size(), true);
    size_t units = scan.units;
    const bool valid_utf8 = maybe_utf8 && scan.valid;
    if (encoding.empty()) {
        AddResult(u"utf8_detection");
        if (valid_utf8) {
            encoding = u"UTF-8";
            SetResultEncoding(u"read", encoding);
        }
    }
    if (valid_utf8) {
        // Valid UTF-8 is kept as it is: the index counts bytes and every piece handed out is
        // converted when it is read, with the same result as converting the whole text first.
        m_strDoc8 = std::move(bytes);
        m_bUtf8 = true;
    } else {
        ConvertToUtf16(encoding, bytes.view(), m_strDoc);
        units = m_strDoc.size();
    }
    AddResult(u"converted_to", u"encoding", u"UTF-16", u"length", units, true);
    return Parse();
}

}  // namespace em::xml
