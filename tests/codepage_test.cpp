// Code-page conversion and the reader's character-set and entity tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "tests/cp_corpus.h"
#include "xml/xml_document.h"
#include "xml/xml_tables.h"

namespace {

namespace xd = em::xml::detail;
using em::platform::MultiByteToWide;
using em::platform::WideToMultiByte;

// The code pages of the character-set table's rows: a two-digit name length, a five-digit page and
// the name (the layout and the lookups are checked with the reader's tables).
std::set<uint32_t> TableCodePages() {
    std::set<uint32_t> pages;
    for (const char16_t* bucket : xd::CharsetTable()) {
        for (std::u16string_view rest(bucket); rest.size() >= 7;) {
            const auto number = [&](size_t at, size_t digits) {
                uint32_t v = 0;
                for (size_t i = at; i < at + digits; ++i) v = v * 10 + (rest[i] - u'0');
                return v;
            };
            pages.insert(number(2, 5));
            rest.remove_prefix(std::min<size_t>(rest.size(), 7 + number(0, 2)));
        }
    }
    return pages;
}

TEST(CodePage, Utf8AsciiBlocksAroundSequences) {
    // ASCII runs are widened in blocks; the sequences and stray bytes around them decode as one by one.
    const char* const pieces[] = {"a", "<", "" /* a 0 byte */, "\x7F", "\x80", "\xBF", "\xFF",
                                  "\xF8", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xE2\x82x"};
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        for (size_t i = rng() % 40; i > 0; --i) {
            if (rng() % 3 == 0) bytes.append(rng() % 40, 'x');
            else if (const char* piece = pieces[rng() % std::size(pieces)]; *piece) bytes += piece;
            else bytes.push_back('\0');
        }
        std::u16string fast;
        ASSERT_TRUE(MultiByteToWide(em::platform::kCodePageUtf8, bytes, fast));
        ASSERT_EQ(fast, em::platform::Utf8ToUtf16(bytes)) << "round " << round;
    }
    std::u16string out = u"old";  // replaced, not appended to
    em::platform::Utf8ToUtf16("\xF4\x8F\xBF\xBF\xF4\x90\x80\x80", out);
    EXPECT_EQ(out, u"\U0010FFFF\uFFFD");  // the last code point
}

TEST(CodePage, StatefulPagesAndUnknownPages) {
    std::u16string out;
#ifndef _WIN32  // the Windows test bed (Wine) has no converter for the ISO-2022 pages
    EXPECT_TRUE(MultiByteToWide(50220, "\x1B$B%U%!%s\x1B(BA", out));
    EXPECT_EQ(out, u"\u30d5\u30a1\u30f3A");
    // Texts longer than one pass of the converter, both ways.
    const std::string long_bytes = std::string(3000, 'a') + "\x1B$B%U\x1B(B" + std::string(3000, 'b');
    const std::u16string long_text = std::u16string(3000, u'a') + u"\u30d5" + std::u16string(3000, u'b');
    EXPECT_TRUE(MultiByteToWide(50220, long_bytes, out));
    EXPECT_EQ(out, long_text);
    std::string bytes;
    EXPECT_TRUE(WideToMultiByte(50220, long_text, bytes));
    EXPECT_EQ(bytes, long_bytes);
    EXPECT_TRUE(WideToMultiByte(50220, u"\u30d5A", bytes));
    EXPECT_EQ(bytes, "\x1B$B%U\x1B(BA");
    // A shift-out without designation is reported after its byte is taken: the next byte is kept.
    // Each input sits in a buffer of its exact size, so that reading past it is caught.
    const std::pair<std::string, std::u16string> cases[] = {
        {"\x0E", u"\uFFFD"}, {"A\x0E", u"A\uFFFD"}, {"\x0E" "AB", u"\uFFFDAB"}};
    for (const auto& [bytes, expected] : cases) {
        const std::vector<char> exact(bytes.begin(), bytes.end());
        EXPECT_TRUE(MultiByteToWide(50229, std::string_view(exact.data(), exact.size()), out));
        EXPECT_EQ(out, expected);
    }
    // The same through a message file that declares such an encoding.
    for (std::string_view name : {"iso-2022-cn-ext", "ks_c_5601-1987"}) {
        em::xml::CXmlDocument doc;
        EXPECT_TRUE(doc.LoadBytes("<?xml version=\"1.0\" encoding=\"" + std::string(name) + "\"?><a>\x0E\xA2\xE8</a>"));
        doc.ResetPosition();
        EXPECT_TRUE(doc.FindElement(u"a")) << name;
    }
#endif
    EXPECT_FALSE(MultiByteToWide(4711, "abc", out));
    EXPECT_TRUE(out.empty());
}

TEST(CodePage, ExactlyTheTablePagesConvertAndTextGoesOutAndBackIn) {
    // The reader falls back to the ANSI code page where the support test says no: it agrees with the
    // conversion over every number.
    std::set<uint32_t> supported;
    for (uint32_t cp = 0; cp < 0x10000; ++cp) {
        std::u16string out;
        const bool converts = MultiByteToWide(cp, "A", out);
        ASSERT_EQ(em::platform::IsCodePageSupported(cp), converts) << cp;
        if (converts) supported.insert(cp);
    }
#ifndef _WIN32  // under Windows the pages converted depend on the tables installed
    std::set<uint32_t> expected = TableCodePages();
    for (uint32_t none : {20838, 20924, 52936}) expected.erase(none);
    expected.insert(50222);  // the third ISO-2022-JP page, which no character-set name maps to
    EXPECT_EQ(supported, expected);
    for (uint32_t cp : supported) {
        std::string bytes;
        std::u16string back;
        if (cp == 720) {  // converted in only, by its table
            EXPECT_FALSE(WideToMultiByte(cp, u"A", bytes));
            continue;
        }
        EXPECT_TRUE(WideToMultiByte(cp, u"A1 <", bytes)) << cp;
        EXPECT_TRUE(MultiByteToWide(cp, bytes, back));
        EXPECT_EQ(back, u"A1 <") << cp;
    }
#endif
}

TEST(CodePage, EveryTableCodePageConvertsAsTheWindowsConversion) {
    // Against the results recorded from the Windows conversion; pages it has no table for must only
    // convert the same input to the same text twice.
    size_t compared = 0;
    for (uint32_t cp : TableCodePages()) {
        std::ifstream file(std::string(EM_TEST_DATA) + "/codepage/cp" + std::to_string(cp) + ".txt", std::ios::binary);
        ASSERT_TRUE(file) << cp;
        std::string header, kind;
        uint32_t header_cp = 0;
        size_t count = 0;
        std::getline(file, header);
        std::istringstream(header) >> kind >> header_cp >> kind >> count;
        ASSERT_EQ(header_cp, cp);
        const auto inputs = cp_corpus::Inputs(cp);
        std::u16string out, again;
        if (kind == "none") {
            std::string all;
            for (const auto& in : inputs) all += in;
            const bool known = MultiByteToWide(cp, all, out);
            EXPECT_EQ(MultiByteToWide(cp, all, again), known);
            EXPECT_EQ(out, again) << cp;
            continue;
        }
        ASSERT_EQ(kind, "table") << cp;
        std::vector<std::u16string> expected;
        ASSERT_TRUE(cp_corpus::Decode(std::string(std::istreambuf_iterator<char>(file), {}), expected)) << cp;
        ASSERT_EQ(expected.size(), count) << cp;
        ASSERT_EQ(expected.size(), inputs.size()) << cp << ": the table was recorded for other inputs";
        size_t wrong = 0;
        for (size_t i = 0; i < inputs.size(); ++i) {
            ASSERT_TRUE(MultiByteToWide(cp, inputs[i], out)) << cp;
            if (out != expected[i] && ++wrong <= 4)
                ADD_FAILURE() << "code page " << cp << ", bytes " << cp_corpus::Hex({inputs[i].begin(), inputs[i].end()})
                              << ": expected " << cp_corpus::Hex(expected[i]) << ", got " << cp_corpus::Hex(out);
        }
        EXPECT_EQ(wrong, 0u) << "code page " << cp;
        compared += inputs.size();
    }
    EXPECT_GT(compared, 200000u);
}

TEST(CodePage, WideToMultiByteMarksWhatTheCodePageLacks) {
    std::string out;
    EXPECT_TRUE(WideToMultiByte(1252, u"\u20ac\u00e9", out));
    EXPECT_EQ(out, "\x80\xE9");
    EXPECT_FALSE(WideToMultiByte(1252, u"\u30d5x\u4e00", out));
    EXPECT_EQ(out, "?x?");
    EXPECT_FALSE(WideToMultiByte(4711, u"x", out));
    // UTF-8: a surrogate pair is one character, a lone surrogate U+FFFD.
    const std::u16string utf16 = std::u16string(u"\u00e9\U0001F600\uD7FF") + char16_t(0xDC00) + char16_t(0xD800) + u"x";
    EXPECT_TRUE(WideToMultiByte(em::platform::kCodePageUtf8, utf16, out));
    EXPECT_EQ(out, "\xC3\xA9\xF0\x9F\x98\x80\xED\x9F\xBF\xEF\xBF\xBD\xEF\xBF\xBDx");
}

}  // namespace
