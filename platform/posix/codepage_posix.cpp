// POSIX backend of platform/codepage.h: glibc iconv, addressed by Windows code page numbers.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/codepage.h"

namespace em::platform {

namespace {

struct CodePageName {
    uint32_t code_page;
    const char* iconv_name;
};

// Windows code page number -> glibc iconv name, sorted by code page. Code pages that glibc does
// not carry (720, 10006, 10081, 20838, 20924, 52936, ...) are absent: converting from them fails.
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

// UTF-8 to UTF-16: runs of ASCII are widened here in blocks, everything else goes through the
// shared hand-written decoder. An ASCII byte always starts a new character (and ends a truncated
// sequence before it), so cutting the input there gives exactly the shared decoder's result.
void Utf8ToUtf16Blocks(std::string_view bytes, std::u16string& out) {
    out.clear();
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    constexpr size_t kBlock = 4096;
    char16_t buf[kBlock];
    std::u16string piece;
    size_t i = 0;
    while (i < n) {
        size_t run = AsciiRun(p + i, std::min(n - i, kBlock));
        if (run > 0) {
            WidenAscii(p + i, run, buf);
            out.append(buf, run);
            i += run;
            continue;
        }
        size_t j = i;
        while (j < n && p[j] >= 0x80) ++j;
        Utf8ToUtf16(std::string_view(bytes.data() + i, j - i), piece);
        out.append(piece);
        i = j;
    }
}

}  // namespace

bool IsCodePageSupported(uint32_t code_page) { return IconvName(code_page) != nullptr; }

bool MultiByteToWide(uint32_t code_page, std::string_view bytes, std::u16string& out) {
    out.clear();
    if (code_page == kCodePageUtf8) {
        Utf8ToUtf16Blocks(bytes, out);
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
        size_t rc = iconv(cd, &in, &in_left, &o, &o_left);
        const bool moved = in != before;
        if (taken && moved) out.push_back(u'\xFFFD');
        taken = false;
        out.append(buf, (sizeof(buf) - o_left) / sizeof(char16_t));
        if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
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
