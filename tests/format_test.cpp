// The UTF-16 printf-style formatter behind every trace line.
#include <gtest/gtest.h>

#include <climits>

#include "diag/format.h"

using em::diag::Format;
using em::diag::FormatArg;
using em::diag::FormatTo;

TEST(Format, IntegersWithWindowsWidths) {
    EXPECT_EQ(Format(u"%d|%i|%u", -5, 7, 3u), u"-5|7|3");
    EXPECT_EQ(Format(u"%x|%X|%#x|%#X|%#x", 255u, 255u, 255u, 255u, 0u), u"ff|FF|0xff|0XFF|0");
    // Without a length modifier a conversion takes 32 bits, as the Windows runtime does.
    EXPECT_EQ(Format(u"%d", 0xFFFFFFFFu), u"-1");
    EXPECT_EQ(Format(u"%u|%x", -1, static_cast<int8_t>(-1)), u"4294967295|ffffffff");
    EXPECT_EQ(Format(u"%d", int64_t{0x100000002}), u"2");
    EXPECT_EQ(Format(u"%lld|%I64d|%l64u|%I64X", int64_t{-0x100000002}, INT64_MIN, UINT64_MAX, uint64_t{0xABCDEF0123}),
              u"-4294967298|-9223372036854775808|18446744073709551615|ABCDEF0123");
    EXPECT_EQ(Format(u"%I32d|%hd|%ld", -1, 2, 3), u"-1|2|3");
    EXPECT_EQ(Format(u"%d|%d|%d", true, u'A', uint16_t{65535}), u"1|65|65535");
}

TEST(Format, FlagsWidthAndPrecision) {
    EXPECT_EQ(Format(u"[%5d][%-5d][%05d][%+d][% d][%+u]", 42, 42, -42, 42, 42, 42u), u"[   42][42   ][-0042][+42][ 42][42]");
    EXPECT_EQ(Format(u"[%06d][%02d:%02d:%02d.%03d]", 1234, 9, 5, 0, 7), u"[001234][09:05:00.007]");
    EXPECT_EQ(Format(u"[%.3d][%8.3d][%08.3d][%.0d]", 5, 5, 5, 0), u"[005][     005][     005][]");
    EXPECT_EQ(Format(u"[%*d][%-*d][%.*s]", 4, 1, 4, 1, 2, u"abc"), u"[   1][1   ][ab]");
    EXPECT_EQ(Format(u"[%*d]", -3, 1), u"[1  ]");  // a negative star width left-aligns
    EXPECT_EQ(Format(u"[%-20s]: x", u"EM_TARNEL"), u"[EM_TARNEL           ]: x");
    EXPECT_EQ(Format(u"[%-13s  ]", u"A_NAME_OF_14CH"), u"[A_NAME_OF_14CH  ]");
    EXPECT_EQ(Format(u"[%5s][%.2s][%05s]", u"ab", u"xyz", u"s"), u"[   ab][xy][    s]");
    // Widths are capped, so a hostile format cannot ask for gigabytes.
    EXPECT_EQ(Format(u"%99999999999d", 1).size(), 4096u);
}

TEST(Format, TextCharactersAndPointers) {
    const std::u16string owned = u"owned";
    const char16_t* null_text = nullptr;
    EXPECT_EQ(Format(u"%s %s %s", owned, std::u16string_view(u"view"), u"literal"), u"owned view literal");
    EXPECT_EQ(Format(u"[%s]", null_text), u"[(null)]");
    EXPECT_EQ(Format(u"[%c][%C][%3c]", u'x', u'\u00e9', u'y'), u"[x][\u00e9][  y]");
    EXPECT_EQ(Format(u"%p", reinterpret_cast<const void*>(uintptr_t{0x1234})), u"0000000000001234");
    EXPECT_EQ(Format(u"100%% %q %"), u"100% %q ");  // unknown conversion as written, lone '%' dropped
    EXPECT_EQ(Format(u"\n\nline\n"), u"\n\nline\n");
}

TEST(Format, WrongOrMissingArgumentsShowMarkers) {
    EXPECT_EQ(Format(u"%d", u"text"), u"(bad-arg)");
    EXPECT_EQ(Format(u"%s", 5), u"(bad-arg)");
    EXPECT_EQ(Format(u"%c", u"t"), u"(bad-arg)");
    EXPECT_EQ(Format(u"%s=%d (%s)", u"a"), u"a=(missing) ((missing))");
    EXPECT_EQ(Format(u"%*d", u"w", 5), u"5");  // a text width counts as 0
    EXPECT_EQ(Format(u"%d", 1, 2, 3), u"1");   // extra arguments are ignored
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
    EXPECT_EQ(FormatTo(buf, 4, u"%010d", std::span<const FormatArg>(args + 1, 1)), 4u);
    EXPECT_EQ(std::u16string(buf, 4), u"0000");
    EXPECT_EQ(buf[4], u'e');
}
