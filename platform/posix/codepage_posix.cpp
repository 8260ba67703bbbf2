// POSIX backend of platform/codepage.h, converting as the Windows conversion does (no flags):
// single-byte code pages by the Windows tables, the double-byte ones by a pair table derived from
// iconv with the Windows differences applied, UTF-8 and UTF-7 by decoders of their own, and every
// other code page by glibc iconv.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/codepage.h"

namespace em::platform {

namespace {

constexpr uint32_t kCodePageUtf7 = 65000;

struct CodePageName {
    uint32_t code_page;
    const char* iconv_name;
};

// Windows code page number -> glibc iconv name, sorted by code page. Code pages that glibc does
// not carry (720, 10006, 10081, 20838, 20924, 52936, ...) are absent: converting to them fails,
// and converting from them too unless a table below has them.
constexpr CodePageName kCodePages[] = {
    {37, "IBM037"},           {437, "IBM437"},          {500, "IBM500"},
    {708, "ASMO-708"},        {737, "CP737"},           {775, "CP775"},
    {850, "IBM850"},          {852, "IBM852"},          {855, "IBM855"},
    {857, "IBM857"},          {858, "IBM858"},          {860, "IBM860"},
    {861, "IBM861"},          {862, "IBM862"},          {863, "IBM863"},
    {864, "IBM864"},          {865, "IBM865"},          {866, "IBM866"},
    {869, "IBM869"},          {870, "IBM870"},          {874, "CP874"},
    {875, "IBM875"},          {932, "CP932"},           {936, "CP936"},
    {949, "CP949"},           {950, "CP950"},           {1026, "IBM1026"},
    {1047, "IBM1047"},        {1140, "IBM1140"},        {1141, "IBM1141"},
    {1142, "IBM1142"},        {1143, "IBM1143"},        {1144, "IBM1144"},
    {1145, "IBM1145"},        {1146, "IBM1146"},        {1147, "IBM1147"},
    {1148, "IBM1148"},        {1149, "IBM1149"},        {1200, "UTF-16LE"},
    {1201, "UTF-16BE"},       {1250, "CP1250"},         {1251, "CP1251"},
    {1252, "CP1252"},         {1253, "CP1253"},         {1254, "CP1254"},
    {1255, "CP1255"},         {1256, "CP1256"},         {1257, "CP1257"},
    {1258, "CP1258"},         {1361, "JOHAB"},          {10000, "MACINTOSH"},
    {10007, "MAC-CYRILLIC"},  {10017, "MAC-UK"},        {10029, "MAC-CENTRALEUROPE"},
    {10079, "MAC-IS"},        {12000, "UTF-32LE"},      {12001, "UTF-32BE"},
    {20106, "ISO646-DE"},     {20107, "ISO646-SE"},     {20108, "ISO646-NO"},
    {20127, "ASCII"},         {20261, "T.61-8BIT"},     {20269, "ISO_6937"},
    {20273, "IBM273"},        {20277, "IBM277"},        {20278, "IBM278"},
    {20280, "IBM280"},        {20284, "IBM284"},        {20285, "IBM285"},
    {20290, "IBM290"},        {20297, "IBM297"},        {20420, "IBM420"},
    {20423, "IBM423"},        {20424, "IBM424"},        {20866, "KOI8-R"},
    {20871, "IBM871"},        {20880, "IBM880"},        {20905, "IBM905"},
    {20932, "EUC-JP-MS"},     {20936, "GB2312"},        {21025, "IBM1025"},
    {21866, "KOI8-U"},        {28591, "ISO-8859-1"},    {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},    {28594, "ISO-8859-4"},    {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},    {28597, "ISO-8859-7"},    {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},    {28603, "ISO-8859-13"},   {28605, "ISO-8859-15"},
    {38598, "ISO-8859-8"},    {50220, "ISO-2022-JP"},   {50221, "ISO-2022-JP"},
    {50222, "ISO-2022-JP"},   {50225, "ISO-2022-KR"},   {50227, "ISO-2022-CN"},
    {50229, "ISO-2022-CN-EXT"}, {51932, "EUC-JP"},      {51936, "EUC-CN"},
    {51949, "EUC-KR"},        {51950, "EUC-TW"},        {54936, "GB18030"},
    {65000, "UTF-7"},         {65001, "UTF-8"},
};

constexpr bool SortedByCodePage() {
    for (size_t i = 1; i < std::size(kCodePages); ++i)
        if (kCodePages[i - 1].code_page >= kCodePages[i].code_page) return false;
    return true;
}
static_assert(SortedByCodePage(), "kCodePages must be sorted by code page");

const char* IconvName(uint32_t cp) {
    const auto* end = std::end(kCodePages);
    const auto* it = std::lower_bound(std::begin(kCodePages), end, cp,
                                      [](const CodePageName& e, uint32_t v) { return e.code_page < v; });
    return it != end && it->code_page == cp ? it->iconv_name : nullptr;
}

struct ByteTable {
    uint32_t code_page;
    char16_t units[256];
};

// Pairs first, first + 1, ... give unit, unit + 1, ...
struct PairRun {
    uint16_t first;
    uint16_t count;
    char16_t unit;
};

struct DoubleByteTable {
    uint32_t code_page;
    const char* iconv_name;
    char16_t default_char;  // for a lead byte without a valid trail byte
    uint32_t lead[8];       // bit set of the lead bytes
    char16_t singles[256];
    const PairRun* runs;
    size_t run_count;

    bool IsLead(unsigned char b) const { return (lead[b >> 5] >> (b & 31)) & 1u; }
};

#include "platform/posix/codepage_tables.inc"

template <typename T, size_t N>
constexpr bool SortedTables(const T (&t)[N]) {
    for (size_t i = 1; i < N; ++i)
        if (t[i - 1].code_page >= t[i].code_page) return false;
    return true;
}
static_assert(SortedTables(kByteTables) && SortedTables(kDoubleByteTables), "tables must be sorted by code page");

template <typename T, size_t N>
const T* FindTable(const T (&t)[N], uint32_t cp) {
    const T* it = std::lower_bound(std::begin(t), std::end(t), cp, [](const T& e, uint32_t v) { return e.code_page < v; });
    return it != std::end(t) && it->code_page == cp ? it : nullptr;
}

// The character of every lead/trail pair of one double-byte code page (rows are lead bytes from 0x80).
struct PairTable {
    char16_t units[128][256];
};

// What iconv gives for each pair on its own (one character, or the default character), then the
// pairs where the Windows table differs. 20932 writes the characters of the supplementary kanji
// set as a lead byte with a trail byte below 0x80; iconv knows them behind the 0x8F prefix.
std::unique_ptr<PairTable> DerivePairs(const DoubleByteTable& t) {
    auto table = std::make_unique<PairTable>();
    iconv_t cd = iconv_open("UTF-16LE", t.iconv_name);
    for (unsigned lead = 0x80; lead < 0x100; ++lead) {
        char16_t* row = table->units[lead - 0x80];
        std::fill(row, row + 256, t.default_char);
        if (!t.IsLead(static_cast<unsigned char>(lead)) || cd == reinterpret_cast<iconv_t>(-1)) continue;
        for (unsigned trail = 1; trail < 0x100; ++trail) {
            const bool supplementary = t.code_page == 20932 && trail >= 0x21 && trail <= 0x7E;
            char in[3] = {'\x8F', static_cast<char>(lead), static_cast<char>(trail | 0x80)};
            size_t in_len = 3;
            if (!supplementary) {
                in[0] = static_cast<char>(lead);
                in[1] = static_cast<char>(trail);
                in_len = 2;
            }
            char* ip = in;
            size_t i_left = in_len;
            char16_t o[4];
            char* op = reinterpret_cast<char*>(o);
            size_t o_left = sizeof(o);
            size_t rc = iconv(cd, &ip, &i_left, &op, &o_left);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (rc != static_cast<size_t>(-1) && i_left == 0 && o_left == sizeof(o) - sizeof(char16_t)) row[trail] = o[0];
        }
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    for (size_t r = 0; r < t.run_count; ++r)
        for (unsigned k = 0; k < t.runs[r].count; ++k) {
            unsigned pair = t.runs[r].first + k;
            table->units[(pair >> 8) - 0x80][pair & 0xFF] = static_cast<char16_t>(t.runs[r].unit + k);
        }
    return table;
}

const PairTable& Pairs(const DoubleByteTable& t) {
    constexpr size_t kCount = std::size(kDoubleByteTables);
    static std::once_flag once[kCount];
    static std::unique_ptr<PairTable> tables[kCount];
    const size_t index = static_cast<size_t>(&t - kDoubleByteTables);
    std::call_once(once[index], [&] { tables[index] = DerivePairs(t); });
    return *tables[index];
}

void ConvertSingleByte(const ByteTable& t, std::string_view bytes, std::u16string& out) {
    out.resize(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    char16_t* o = out.data();
    for (size_t i = 0; i < bytes.size(); ++i) o[i] = t.units[p[i]];
}

// A lead byte takes the next byte as its trail, unless the input ends there or the next byte is 0:
// then the lead byte alone gives the default character. A pair that is not in the table gives the
// default character too, for both bytes.
void ConvertDoubleByte(const DoubleByteTable& t, std::string_view bytes, std::u16string& out) {
    const PairTable& pairs = Pairs(t);
    out.resize(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    char16_t* o = out.data();
    size_t k = 0;
    for (size_t i = 0; i < n; ++k) {
        const unsigned char b = p[i];
        if (b < 0x80 || !t.IsLead(b)) {
            o[k] = t.singles[b];
            ++i;
        } else if (i + 1 < n && p[i + 1] != 0) {
            o[k] = pairs.units[b - 0x80][p[i + 1]];
            i += 2;
        } else {
            o[k] = t.default_char;
            ++i;
        }
    }
    out.resize(k);
}

// Length of the leading run of ASCII bytes.
size_t AsciiRun(const unsigned char* p, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
        if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    while (i < n && p[i] < 0x80) ++i;
    return i;
}

// Widens n ASCII bytes to UTF-16 units.
void WidenAscii(const unsigned char* p, size_t n, char16_t* out) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < n; ++i) out[i] = p[i];
}

// One UTF-8 sequence starting at a byte from 0x80 up; n bytes are left in the input. Returns the
// bytes taken. As the Windows conversion does: a byte that starts no sequence gives U+FFFD alone;
// a sequence longer than the rest of the input makes that rest one U+FFFD; a sequence broken by a
// byte out of range gives one U+FFFD, and takes that byte along when it is a continuation byte.
size_t DecodeUtf8Sequence(const unsigned char* p, size_t n, std::u16string& out) {
    const unsigned c = p[0];
    size_t len;
    unsigned lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;  // no overlong forms
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        out.push_back(u'\xFFFD');
        return 1;
    }
    if (n < len) {
        out.push_back(u'\xFFFD');
        return n;
    }
    uint32_t cp = c & (0x7Fu >> len);
    for (size_t k = 1; k < len; ++k) {
        const unsigned b = p[k];
        const bool continuation = (b & 0xC0) == 0x80;
        if (k == 1 ? b < lo || b > hi : !continuation) {
            out.push_back(u'\xFFFD');
            return continuation ? k + 1 : k;
        }
        cp = cp << 6 | (b & 0x3F);
    }
    AppendCodePoint(cp, out);
    return len;
}

// UTF-8 to UTF-16: runs of ASCII are widened in blocks, everything else a sequence at a time.
void ConvertUtf8(std::string_view bytes, std::u16string& out) {
    out.clear();
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        const size_t run = AsciiRun(p + i, n - i);
        if (run > 0) {
            const size_t at = out.size();
            out.resize(at + run);
            WidenAscii(p + i, run, out.data() + at);
            i += run;
        } else {
            i += DecodeUtf8Sequence(p + i, n - i, out);
        }
    }
}

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// UTF-7 as the Windows conversion reads it: every byte outside a base64 run stands for itself
// (bytes from 0x80 up too); '+' opens a run, whose sixteen-bit units are taken as they are (lone
// surrogates too) and whose leftover bits are dropped; the byte that ends a run is kept, except a
// '-', which only ends it ("+-" is a '+'). A '+' at the very end gives nothing.
void ConvertUtf7(std::string_view bytes, std::u16string& out) {
    out.clear();
    out.reserve(bytes.size());
    bool in_run = false, empty_run = false;
    uint32_t bits = 0;
    int nbits = 0;
    for (unsigned char c : bytes) {
        if (!in_run) {
            if (c == '+') {
                in_run = empty_run = true;
                bits = 0;
                nbits = 0;
            } else {
                out.push_back(c);
            }
            continue;
        }
        const int v = Base64Value(c);
        if (v >= 0) {
            bits = (bits << 6 | static_cast<uint32_t>(v)) & 0xFFFFFFu;
            nbits += 6;
            if (nbits >= 16) {
                nbits -= 16;
                out.push_back(static_cast<char16_t>(bits >> nbits));
            }
            empty_run = false;
            continue;
        }
        in_run = false;
        if (c != '-')
            out.push_back(c);
        else if (empty_run)
            out.push_back(u'+');
    }
}

}  // namespace

bool IsCodePageSupported(uint32_t code_page) {
    return code_page == kCodePageUtf7 || FindTable(kByteTables, code_page) || FindTable(kDoubleByteTables, code_page) ||
           IconvName(code_page) != nullptr;
}

bool MultiByteToWide(uint32_t code_page, std::string_view bytes, std::u16string& out) {
    out.clear();
    if (code_page == kCodePageUtf8) {
        ConvertUtf8(bytes, out);
        return true;
    }
    if (code_page == kCodePageUtf7) {
        ConvertUtf7(bytes, out);
        return true;
    }
    if (const ByteTable* t = FindTable(kByteTables, code_page)) {
        ConvertSingleByte(*t, bytes, out);
        return true;
    }
    if (const DoubleByteTable* t = FindTable(kDoubleByteTables, code_page)) {
        ConvertDoubleByte(*t, bytes, out);
        return true;
    }
    const char* name = IconvName(code_page);
    if (!name) return false;
    iconv_t cd = iconv_open("UTF-16LE", name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.reserve(bytes.size());
    char* in = const_cast<char*>(bytes.data());
    size_t in_left = bytes.size();
    char16_t buf[1024];
    // A failure is reported either at the first byte of the bad sequence or, by some converters,
    // after its bytes were taken. A failure after progress is therefore settled by the next call:
    // if that one is stuck at once, the byte there is the bad one; if it moves on, the bytes the
    // failed call took were the bad sequence.
    bool taken = false;
    while (in_left > 0) {
        char* o = reinterpret_cast<char*>(buf);
        size_t o_left = sizeof(buf);
        const char* before = in;
        const size_t rc = iconv(cd, &in, &in_left, &o, &o_left);
        const int err = rc == static_cast<size_t>(-1) ? errno : 0;
        const bool moved = in != before;
        if (taken && moved) out.push_back(u'\xFFFD');
        taken = false;
        out.append(buf, (sizeof(buf) - o_left) / sizeof(char16_t));
        if (err == 0 || err == E2BIG) continue;
        // EILSEQ, or EINVAL for a sequence cut short at the end.
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (!moved) {
            out.push_back(u'\xFFFD');  // stuck at a bad byte: replace it and go on after it
            ++in;
            --in_left;
        } else if (in_left == 0) {
            out.push_back(u'\xFFFD');  // the bad sequence ran to the end
        } else {
            taken = true;
        }
    }
    // Flush a stateful encoding's pending output (ISO-2022, UTF-7).
    char* o = reinterpret_cast<char*>(buf);
    size_t o_left = sizeof(buf);
    iconv(cd, nullptr, nullptr, &o, &o_left);
    out.append(buf, (sizeof(buf) - o_left) / sizeof(char16_t));
    iconv_close(cd);
    return true;
}

bool WideToMultiByte(uint32_t code_page, std::u16string_view text, std::string& out) {
    out.clear();
    if (code_page == kCodePageUtf8) {
        Utf16ToUtf8(text, out);
        return true;
    }
    const char* name = IconvName(code_page);
    if (!name) return false;
    iconv_t cd = iconv_open(name, "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    bool exact = true;
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
    size_t in_left = text.size() * sizeof(char16_t);
    char buf[1024];
    while (in_left > 0) {
        char* o = buf;
        size_t o_left = sizeof(buf);
        size_t rc = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(buf, sizeof(buf) - o_left);
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            exact = false;
            out.push_back('?');
            size_t skip = in_left >= 2 ? 2 : in_left;
            in += skip;
            in_left -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else if (rc > 0) {
            exact = false;  // irreversible conversions happened
        }
    }
    char* o = buf;
    size_t o_left = sizeof(buf);
    iconv(cd, nullptr, nullptr, &o, &o_left);
    out.append(buf, sizeof(buf) - o_left);
    iconv_close(cd);
    return exact;
}

}  // namespace em::platform
