// The UTF-16 printf-style formatter behind every trace line.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "diag/format.h"

using em::diag::Format;
using em::diag::FormatArg;
using em::diag::FormatTo;

TEST(Format, WindowsSizesTextsAndPointers) {
    // Without a length modifier a conversion takes 32 bits, as the Windows runtime does.
    EXPECT_EQ(Format(u"%d|%u|%x|%d", 0xFFFFFFFFu, -1, static_cast<int8_t>(-1), int64_t{0x100000002}), u"-1|4294967295|ffffffff|2");
    EXPECT_EQ(Format(u"%lld|%I64d|%l64u|%I64X|%I64d", int64_t{-0x100000002}, INT64_MIN, UINT64_MAX, uint64_t{0xABCDEF0123}, int64_t{0}),
              u"-4294967298|-9223372036854775808|18446744073709551615|ABCDEF0123|0");
    EXPECT_EQ(Format(u"%I32d|%hd|%ld|%d|%d|%d", -1, 2, 3, true, u'A', uint16_t{65535}), u"-1|2|3|1|65|65535");
    EXPECT_EQ(Format(u"[%-20s]: [%-13s  ][%05s]", u"EM_TARNEL", u"A_NAME_OF_14CH", u"s"),
              u"[EM_TARNEL           ]: [A_NAME_OF_14CH  ][    s]");
    EXPECT_EQ(Format(u"%99999999999d", 1).size(), 4096u);  // widths are capped
    const std::u16string owned = u"owned";
    const char16_t* null_text = nullptr;
    EXPECT_EQ(Format(u"%s %s %s [%s]", owned, std::u16string_view(u"view"), u"literal", null_text), u"owned view literal [(null)]");
    EXPECT_EQ(Format(u"[%c][%C][%3c]", u'x', u'\u00e9', u'y'), u"[x][\u00e9][  y]");
    EXPECT_EQ(Format(u"%p", reinterpret_cast<const void*>(uintptr_t{0x1234})), u"0000000000001234");
    EXPECT_EQ(Format(u"%p", reinterpret_cast<const void*>(uintptr_t{0x8000000000000000})), u"8000000000000000");
    EXPECT_EQ(Format(u"100%% %q %"), u"100% %q ");  // unknown conversion as written, lone '%' dropped
    EXPECT_EQ(Format(std::u16string_view(u"a%5.x", 3)), u"a");  // ends inside a conversion: nothing read past it
}

TEST(Format, FormatToCutsAtTheCapacity) {
    char16_t buf[16];
    std::fill(std::begin(buf), std::end(buf), u'#');
    const FormatArg args[] = {std::u16string_view(u"abcdefghij"), 12345};
    EXPECT_EQ(FormatTo(buf, 8, u"%s-%d", args), 8u);
    EXPECT_EQ(std::u16string(buf, 8), u"abcdefgh");
    EXPECT_EQ(buf[8], u'#');  // nothing past the capacity
    EXPECT_EQ(FormatTo(buf, 0, u"%s", args), 0u);
    EXPECT_EQ(buf[0], u'a');
}

// The formatter against the C library's on the conversions the trace texts use. Each row gives
// the C library's format and, where it differs, the same request in the Windows meaning that
// the formatter implements (l is 32-bit; I64, I, z, j and t are 64-bit).
namespace {

using CArg = std::variant<int, long long, double, const char*>;

struct Row {
    const char* c_format;
    const char16_t* windows_format;  // null: the same as c_format
    std::vector<CArg> args;
};

std::string CLibrary(const char* format, const std::vector<CArg>& a) {
    char buf[8192] = {};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    auto call = [&](auto... v) { std::snprintf(buf, sizeof buf, format, v...); };
#pragma GCC diagnostic pop
    if (a.empty()) call();
    else if (a.size() == 1) std::visit([&](auto x) { call(x); }, a[0]);
    else if (a.size() == 2) std::visit([&](auto x, auto y) { call(x, y); }, a[0], a[1]);
    else std::visit([&](auto x, auto y, auto z) { call(x, y, z); }, a[0], a[1], a[2]);
    return buf;
}

std::string Ours(const Row& r) {
    std::vector<std::u16string> texts;
    std::vector<FormatArg> args;
    texts.reserve(r.args.size());
    for (const CArg& a : r.args) {
        if (auto* s = std::get_if<const char*>(&a)) args.emplace_back(std::u16string_view(texts.emplace_back(*s, *s + std::strlen(*s))));
        else std::visit([&](auto v) { if constexpr (!std::is_same_v<decltype(v), const char*>) args.emplace_back(v); }, a);
    }
    std::u16string format = r.windows_format ? r.windows_format : std::u16string(r.c_format, r.c_format + std::strlen(r.c_format));
    std::u16string out;
    em::diag::FormatAppend(out, format, args);
    return std::string(out.begin(), out.end());
}

}  // namespace

TEST(Format, AgreesWithTheCLibrary) {
    const long long big = 0x123456789ABCDEF0LL;
    const std::vector<Row> rows = {
        // integers, every base, sizes and truncation
        {"%d|%i|%u", nullptr, {-5, 7, -1}},
        {"%o|%x|%X", nullptr, {8, 255, 255}},
        {"%#o|%#x|%#X", nullptr, {8, 255, 0}},
        {"%hhd|%hhu|%hhx", nullptr, {320, -1, 0x1FF}},
        {"%hd|%hu|%hx", nullptr, {70000, -1, 0x12345}},
        {"%lld|%llu|%llx", u"%I64d|%I64u|%I64x", {-big, big, big}},
        {"%lld|%llu|%llX", u"%zd|%ju|%tX", {big, -1LL, big}},
        {"%llu|%d", u"%Iu|%I32d", {-1LL, -1}},
        // precision (beyond 32 digits too), width, flags
        {"[%.40d][%.40x][%#.40o]", nullptr, {-12, 255, 8}},
        {"[%.0d][%.0o][%#.0x]", nullptr, {0, 0, 0}},  // %#.0o of 0: "0" by the C standard, "" in msvcrt
        {"[%+.0d][%5.3d][%-8.3x]", nullptr, {0, 5, 5}},
        {"[%08.3d][%#5o][% 05d]", nullptr, {5, 8, 5}},
        {"[%+05d][%-05d][%+u]", nullptr, {5, 5, 5}},
        {"[%*d][% x]", nullptr, {-5, 3, 5}},
        {"[%.*d][%d]", nullptr, {-1, 7, 3}},
        {"[%*.*d]", nullptr, {6, 3, 7}},
        // characters and texts
        {"[%c][%3c][%-3c]", nullptr, {'a', 'b', 'c'}},
        {"[%03c][%5s][%-5s]", nullptr, {'d', "ab", "ab"}},
        {"[%.2s][%05s][%.0s]", nullptr, {"abc", "ab", "ab"}},
        // floating point
        {"[%f][%.2f][%10.3f]", nullptr, {3.25, 3.25, -2.5}},
        {"[%-10.1e][%e][%E]", nullptr, {12345.678, 0.000123, 1e20}},
        {"[%g][%G][%+08.2f]", nullptr, {0.0001, 1e-20, -1.5}},
        {"[%#.0f][% .3g][%08.3e]", nullptr, {2.0, 2.5, -0.5}},
        {"[%08.3f][%010a][%-+9A]", nullptr, {0.5, 1.0, 2.0}},
        // a conversion the traces do not use still takes its argument, so later ones stay in place
        {"%f|%d|%s", nullptr, {1.5, 7, "t"}},
    };
    for (const Row& r : rows) EXPECT_EQ(Ours(r), CLibrary(r.c_format, r.args)) << r.c_format;
}

TEST(Format, ArgumentMarkersAndChoicesWhereTheRuntimesDisagree) {
    // Wrong or missing arguments show markers.
    EXPECT_EQ(Format(u"%d", u"text"), u"(bad-arg)");
    EXPECT_EQ(Format(u"%s", 5), u"(bad-arg)");
    EXPECT_EQ(Format(u"%c", u"t"), u"(bad-arg)");
    EXPECT_EQ(Format(u"%f", 1), u"(bad-arg)");
    EXPECT_EQ(Format(u"%s=%d (%s)", u"a"), u"a=(missing) ((missing))");
    EXPECT_EQ(Format(u"%*d", u"w", 5), u"5");  // a text width counts as 0
    // %n consumes its argument and writes nothing; %5% is one percent sign; an unknown
    // conversion is printed as written and takes nothing.
    int count = 0;
    EXPECT_EQ(Format(u"a%nb|%d", &count, 9), u"ab|9");
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Format(u"[%5%][%-5%]"), u"[%][%]");
    EXPECT_EQ(Format(u"[%5y]%d", 1), u"[%5y]1");
    // A star width of INT_MIN is left alignment at the largest width.
    EXPECT_EQ(Format(u"%*d", INT_MIN, 1).size(), 4096u);
}
