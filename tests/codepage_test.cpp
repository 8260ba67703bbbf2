// Code-page conversion and the reader's character-set and entity tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <random>
#include <set>
#include <string>

#include "platform/codepage.h"
#include "tests/tools/cp_corpus.h"
#include "xml/xml_document.h"
#include "xml/xml_tables.h"

namespace {

namespace xd = em::xml::detail;
using em::platform::MultiByteToWide;

// Every entry of a bucket table: name -> value; checks the entry layout and the bucket of each name.
std::map<std::u16string, uint32_t> Entries(std::span<const char16_t* const> table, int len_digits, int value_digits) {
    std::map<std::u16string, uint32_t> out;
    for (size_t b = 0; b < table.size(); ++b) {
        std::u16string_view rest(table[b]);
        while (!rest.empty()) {
            EXPECT_GE(rest.size(), static_cast<size_t>(len_digits + value_digits));
            uint32_t len = 0, value = 0;
            for (int i = 0; i < len_digits; ++i) len = len * 10 + (rest[i] - u'0');
            for (int i = 0; i < value_digits; ++i) value = value * 10 + (rest[len_digits + i] - u'0');
            std::u16string name(rest.substr(len_digits + value_digits, len));
            EXPECT_EQ(name.size(), len);
            uint32_t sum = 0;
            for (char16_t c : name) sum += c;
            EXPECT_EQ(sum % table.size(), b) << "entry in the wrong bucket";
            out.emplace(name, value);  // the first of two equal names is the one found
            rest.remove_prefix(std::min(rest.size(), len_digits + value_digits + static_cast<size_t>(len)));
        }
    }
    return out;
}

TEST(CharsetTable, LayoutSizeAndTellingRows) {
    ASSERT_EQ(xd::CharsetTable().size(), 155u);
    auto names = Entries(xd::CharsetTable(), 2, 5);
    std::set<uint32_t> pages;
    for (const auto& [name, cp] : names) {
        pages.insert(cp);
        EXPECT_EQ(xd::LookupCharset(name), cp);
        for (char16_t c : name) EXPECT_FALSE(c >= u'A' && c <= u'Z');
    }
    EXPECT_EQ(names.size(), 365u);
    EXPECT_EQ(pages.size(), 110u);

    const std::pair<const char16_t*, uint32_t> telling[] = {
        {u"utf-8", 65001}, {u"UTF8", 65001}, {u"utf-16", 1200}, {u"Unicode", 1200}, {u"ucs-2", 1200},
        {u"utf-16be", 1201}, {u"unicodeFFFE", 1201}, {u"utf-32", 12000}, {u"utf-32be", 12001},
        {u"utf-7", 65000}, {u"US-ASCII", 20127}, {u"ascii", 20127}, {u"ANSI_X3.4-1968", 20127},
        {u"iso-8859-1", 28591}, {u"Latin1", 28591}, {u"windows-1252", 1252}, {u"Shift_JIS", 932},
        {u"euc-jp", 51932}, {u"gb2312", 936}, {u"big5", 950}, {u"koi8-r", 20866}, {u"iso-8859-15", 28605},
    };
    for (const auto& [name, cp] : telling) EXPECT_EQ(em::xml::CharsetToCodePage(name), cp) << cp;
    EXPECT_EQ(em::xml::CharsetToCodePage(u""), 0u);
    EXPECT_EQ(em::xml::CharsetToCodePage(u"utf-8 "), 0u);
    EXPECT_EQ(em::xml::CharsetToCodePage(std::u16string(100, u'a')), 0u);
}

TEST(EntityTable, LayoutAndCapitalFormFirst) {
    ASSERT_EQ(xd::EntityTable().size(), 130u);
    size_t count = 0;
    for (const char16_t* bucket : xd::EntityTable())
        for (std::u16string_view rest(bucket); !rest.empty(); ++count)
            rest.remove_prefix(5 + (rest[0] - u'0'));
    EXPECT_EQ(count, 253u);
    auto names = Entries(xd::EntityTable(), 1, 4);
    EXPECT_EQ(names.at(u"apos"), 39u);
    EXPECT_EQ(names.at(u"nbsp"), 160u);
    EXPECT_EQ(names.at(u"diams"), 9830u);
    EXPECT_EQ(xd::LookupEntity(u"oelig"), 0x152u) << "capital OElig first";
    EXPECT_EQ(xd::LookupEntity(u"dagger"), 0x2021u) << "capital Dagger first";
    EXPECT_EQ(xd::LookupEntity(u"Amp"), 0u) << "the table is lowercase";
    EXPECT_EQ(xd::LookupEntity(u"nosuch"), 0u);
}

TEST(CodePage, Utf8AsciiBlocksAroundSequences) {
    // The UTF-8 code page widens ASCII runs in blocks; around them, whole sequences and bytes that
    // start none must come out as the shared decoder gives them.
    const char* const pieces[] = {"a", "<", " ", "" /* a 0 byte */, "\x7F", "\x80", "\xBF", "\xFF",
                                  "\xF8", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xE2\x82x"};
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        for (size_t i = rng() % 40; i > 0; --i) {
            if (rng() % 3 == 0)
                bytes.append(rng() % 40, 'x');
            else if (const char* piece = pieces[rng() % std::size(pieces)]; *piece)
                bytes += piece;
            else
                bytes.push_back('\0');
        }
        std::u16string fast;
        ASSERT_TRUE(MultiByteToWide(em::platform::kCodePageUtf8, bytes, fast));
        ASSERT_EQ(fast, em::platform::Utf8ToUtf16(bytes)) << "round " << round;
    }
}

TEST(CodePage, ConversionsAtAGlance) {
    std::u16string out;
    EXPECT_TRUE(MultiByteToWide(1252, "\x80\xE9\x9F\x81", out));
    EXPECT_EQ(out, u"\u20ac\u00e9\u0178\u0081");
    EXPECT_TRUE(MultiByteToWide(932, "\x83\x74\x83\x40\x83\x93" "A\x83", out));
    EXPECT_EQ(out, u"\u30d5\u30a1\u30f3A\u30fb") << "a lead byte at the end gives the default character";
    EXPECT_TRUE(MultiByteToWide(20127, "a\xC0z", out));
    EXPECT_EQ(out, u"a@z") << "US-ASCII drops the high bit";
    EXPECT_TRUE(MultiByteToWide(864, "%1", out));
    EXPECT_EQ(out, u"%1");
#ifndef _WIN32  // the Windows test bed (Wine) has no converter for the ISO-2022 pages
    // A stateful encoding: ISO-2022-JP with its escape sequences.
    EXPECT_TRUE(MultiByteToWide(50220, "\x1B$B%U%!%s\x1B(BA", out));
    EXPECT_EQ(out, u"\u30d5\u30a1\u30f3A");
#endif
    EXPECT_FALSE(MultiByteToWide(4711, "abc", out));
    EXPECT_TRUE(out.empty());
}

TEST(CodePage, SequenceFailingAfterItsBytesWereTakenEndsOrGoesOnCleanly) {
#ifdef _WIN32
    GTEST_SKIP() << "the recovery after a converter that took a bad sequence's bytes is the POSIX backend's";
#endif
    // iconv may take a bad sequence's bytes before it reports it (a shift-out without designation
    // here): at the end of the input the conversion stops there, inside it the next byte is kept.
    // Each input sits in a buffer of its exact size, so that reading past it is caught.
    std::u16string out;
    const std::pair<std::string, std::u16string> cases[] = {
        {"\x0E", u"\uFFFD"}, {"A\x0E", u"A\uFFFD"}, {"\x0E" "AB", u"\uFFFDAB"}};
    for (const auto& [bytes, expected] : cases) {
        auto exact = std::make_unique<char[]>(bytes.size());
        memcpy(exact.get(), bytes.data(), bytes.size());
        EXPECT_TRUE(MultiByteToWide(50229, std::string_view(exact.get(), bytes.size()), out));
        EXPECT_EQ(out, expected);
    }
    // The same through a message file that declares these encodings.
    for (std::string_view name : {"iso-2022-cn-ext", "ks_c_5601-1987"}) {
        const std::string text = "<?xml version=\"1.0\" encoding=\"" + std::string(name) + "\"?><a>\x0E\xA2\xE8</a>";
        em::xml::CXmlDocument doc;
        EXPECT_TRUE(doc.LoadBytes(text)) << name;
        doc.ResetPosition();
        EXPECT_TRUE(doc.FindElement(u"a")) << name;
    }
}

std::set<uint32_t> TableCodePages() {
    std::set<uint32_t> pages;
    for (const auto& [name, cp] : Entries(xd::CharsetTable(), 2, 5)) pages.insert(cp);
    return pages;
}

TEST(CodePage, EveryTableCodePageIsKnownOrReported) {
    // Code pages of the character-set table that the platform cannot convert fall back to the
    // ANSI code page in the reader; both calls must agree on which those are. Under Windows that
    // depends on the tables installed.
    std::set<uint32_t> missing;
    for (uint32_t cp : TableCodePages()) {
        std::u16string out;
        const bool converts = MultiByteToWide(cp, "A", out);
        EXPECT_EQ(em::platform::IsCodePageSupported(cp), converts) << cp;
        if (!converts) missing.insert(cp);
    }
#ifndef _WIN32
    EXPECT_EQ(missing, (std::set<uint32_t>{20838, 20924, 52936}));
#endif
}

std::string Printable(const std::string& bytes) {
    std::string s;
    char hex[4];
    for (unsigned char c : bytes) {
        std::snprintf(hex, sizeof hex, "%02X ", c);
        s += hex;
    }
    return s;
}

TEST(CodePage, EveryTableCodePageConvertsAsTheWindowsConversion) {
    // Each code page's inputs against the results recorded from the Windows conversion. Code pages
    // it has no table for are only converted (nothing may crash, the same input gives the same text).
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
            for (const auto& in : inputs) {
                MultiByteToWide(cp, in, out);
                all += in;
            }
            bool known = MultiByteToWide(cp, all, out);
            EXPECT_EQ(MultiByteToWide(cp, all, again), known);
            EXPECT_EQ(out, again) << cp;
            continue;
        }
        ASSERT_EQ(kind, "table") << cp;
        ASSERT_TRUE(em::platform::IsCodePageSupported(cp)) << cp;
        std::vector<std::u16string> expected;
        ASSERT_TRUE(cp_corpus::Decode(std::string(std::istreambuf_iterator<char>(file), {}), expected)) << cp;
        ASSERT_EQ(expected.size(), count) << cp;
        ASSERT_EQ(expected.size(), inputs.size()) << cp << ": the table was recorded for other inputs";
        size_t wrong = 0;
        for (size_t i = 0; i < inputs.size(); ++i) {
            ASSERT_TRUE(MultiByteToWide(cp, inputs[i], out)) << cp;
            if (out == expected[i]) continue;
            if (++wrong <= 4)
                ADD_FAILURE() << "code page " << cp << ", bytes " << Printable(inputs[i]) << ": expected "
                              << cp_corpus::Hex(expected[i]) << ", got " << cp_corpus::Hex(out);
        }
        EXPECT_EQ(wrong, 0u) << "code page " << cp;
        compared += inputs.size();
    }
    EXPECT_GT(compared, 200000u);
}

TEST(CodePage, WideToMultiByte) {
    std::string out;
    EXPECT_TRUE(em::platform::WideToMultiByte(1252, u"\u20ac\u00e9", out));
    EXPECT_EQ(out, "\x80\xE9");
    EXPECT_FALSE(em::platform::WideToMultiByte(1252, u"\u30d5x", out));
    EXPECT_EQ(out, "?x");
#ifndef _WIN32
    EXPECT_TRUE(em::platform::WideToMultiByte(50220, u"\u30d5A", out));
    EXPECT_EQ(out, "\x1B$B%U\x1B(BA");
#endif
}

}  // namespace
