// XML reader: reading files and bytes, encodings, the file reading log; and the ways of reading that
// must agree (indexed while read, plainest, from memory, UTF-8 kept as read against UTF-16).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "xml/xml_document.h"
#include "xml/xml_tables.h"

namespace {

using em::xml::CXmlDocument;
namespace fs = std::filesystem;

std::string U8(std::u16string_view s) { return em::platform::Utf16ToUtf8(s); }
std::u16string W(const std::string& s) { return em::platform::Utf8ToUtf16(s); }

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every node at every level in document order: kind, name, attributes, content.
std::u16string Walk(CXmlDocument& doc, bool top = true) {
    if (top) doc.ResetPosition();
    std::u16string out;
    while (const uint32_t kind = doc.FindNode(0xFF)) {
        out += u"[" + std::u16string(1, static_cast<char16_t>(u'@' + kind % 64)) + doc.GetTagName();
        for (size_t i = 0; !doc.GetAttributeName(i).empty(); ++i)
            out += u" " + doc.GetAttributeName(i) + u"=" + doc.GetAttribute(doc.GetAttributeName(i));
        out += u">" + doc.GetData();
        if (doc.IntoElement()) {
            out += Walk(doc, false);
            doc.OutOfElement();
        }
        out += u"]";
    }
    return out;
}

TEST(XmlLoadFile, AMissingFileLeavesAnEmptyDocument) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocument(u"<old/>"));
    EXPECT_FALSE(doc.LoadFile(W(testing::TempDir() + "no-such-file.xml")));
    const std::u16string log = doc.GetResult();  // the system's text of the error, and its number
    EXPECT_TRUE(log.starts_with(u"<file_error msg=\"") && log.ends_with(u"\" n=\"2\"/>")) << U8(log);
    EXPECT_TRUE(doc.GetDoc().empty() && doc.GetIndex().size() == 1 && !doc.FindElement(nullptr));
}

TEST(XmlLoadBytes, MarksDeclarationsAndTheUtf8Test) {
    struct {
        std::string bytes;
        const char16_t *tail, *log;  // tail: the end of the converted text
    } const cases[] = {
        // FF FE: units taken as they are; FE FF: swapped; 0 units removed.
        {std::string("\xFF\xFE<\0r\0>\0\xE9\0\x3D\xD8\x00\xDE<\0/\0r\0>\0", 22), u"<r>\u00e9\U0001F600</r>",
         u"<bom/><read encoding=\"UTF-16LE\" length=\"10\"/>"},
        {std::string("\xFE\xFF\0<\0r\0>\0\0\0\xE9\0<\0/\0r\0>", 20), u"\u00e9</r>",
         u"<bom/><nulls_removed count=\"1\"/><endian_swap/><read encoding=\"UTF-16BE\" length=\"8\"/>"},
        // A mark alone is an empty document; a UTF-8 mark wins over a declaration.
        {"\xFE\xFF", u"", u"<bom/><endian_swap/><read encoding=\"UTF-16BE\" length=\"0\"/>"},
        {"\xEF\xBB\xBF<?xml encoding=\"windows-1252\"?><r>\xC3\xA9</r>", u"<r>\u00e9</r>",
         u"<bom/><read encoding=\"UTF-8\" length=\"40\"/><converted_to encoding=\"UTF-16\" length=\"39\"/>"},
        // Declared names in any letter case (0x80 is U+0080 in ISO-8859-1); unknown ones: the ANSI code page.
        {"<?xml version=\"1.0\" encoding=\"Iso-8859-1\"?>\n<r>\x80\xE9</r>", u"<r>\u0080\u00e9</r>",
         u"<read encoding=\"Iso-8859-1\" length=\"53\"/><converted_to encoding=\"UTF-16\" length=\"53\"/>"},
        // A declaration counts when it ends within the first 1024 bytes.
        {std::string(1001, ' ') + "<?xml encoding=latin1?><r>\x80</r>", u"<r>\u0080</r>"},
        {std::string(1002, ' ') + "<?xml encoding=latin1?><r>\x80</r>", u"<r>\u20ac</r>"},
        {"<?xml encoding='\"<&>'?><r>\x80</r>", u"<r>\u20ac</r>",
         u"<read encoding=\"&quot;&lt;&amp;&gt;\" length=\"31\"/><converted_to encoding=\"UTF-16\" length=\"31\"/>"},
        {std::string("<?xml encoding='latin1'?><r>\xE9\0</r>", 34), u"<r>\u00e9</r>",
         u"<nulls_removed count=\"1\"/><read encoding=\"latin1\" length=\"33\"/><converted_to encoding=\"UTF-16\" "
         u"length=\"33\"/>"},
        // Without a declaration the UTF-8 test decides, whatever the first byte.
        {" <r>\xC3\xA9\xF0\x9F\x98\x80</r>", u"<r>\u00e9\U0001F600</r>",
         u"<read encoding=\"UTF-8\" length=\"14\"/><utf8_detection/><converted_to encoding=\"UTF-16\" length=\"11\"/>"},
        {"<r>\xE9t\x80</r>", u"<r>\u00e9t\u20ac</r>",
         u"<read encoding=\"\" length=\"10\"/><utf8_detection/><converted_to encoding=\"UTF-16\" length=\"10\"/>"},
        {std::string("<r>a\0b\0</r>", 11), u"<r>ab</r>",
         u"<nulls_removed count=\"2\"/><read encoding=\"UTF-8\" length=\"9\"/><utf8_detection/>"
         u"<converted_to encoding=\"UTF-16\" length=\"9\"/>"},
        // A meta charset counts only inside <html>, and only before </head>.
        {"<r><meta http-equiv='Content-Type' content='text/html; charset=windows-1251'/>\xC0</r>", u"/>\u00c0</r>"},
        {"<html><head></head><meta http-equiv='Content-Type' content='charset=koi8-r'/>\xC1</html>", u"/>\u00c1</html>"},
        {"<HTML><Meta HTTP-EQUIV=\"content-type\" CONTENT=\"charsets text/html;charset = 'koi8-r'\"/>\xC1</HTML>", u"/>\u0430</HTML>"},
        {"<html><meta http-equiv=Content-Type content=charset=koi8-r/>\xC1</html>", u"/>\u0430</html>"},
    };
    CXmlDocument doc;
    for (const auto& c : cases) {
        EXPECT_EQ(doc.LoadBytes(c.bytes), *c.tail != 0) << c.bytes << U8(doc.GetResult());
        if (c.log) {
            EXPECT_EQ(doc.GetResult(), c.log) << c.bytes;
        }
        const std::u16string text = doc.GetDoc(), tail = c.tail;
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), tail.size())), tail) << c.bytes;
    }
}

TEST(XmlConvert, Utf32AndUnnamedEncodings) {
    // "UTF-32" in exactly this case is handled before the table; little-endian unless "UTF-32BE".
    const std::pair<const char16_t*, std::string> cases[] = {
        {u"UTF-32", std::string("\x01\xF6\x01\x00" "A\0\0\0\x00\xD8\0\0\xFF\xDF\0\0\x00\xE0\0\0\xFF\xD7\0\0"
                                "\xFF\xFF\x10\0\x00\x00\x01\x00\xFF\xFF\0\0", 36)},
        {u"UTF-32BE", std::string("\0\x01\xF6\x00\0\0\0A\0\x11\0\0\0\0", 14)}, {u"", "\x80"}, {u"UTF-8", "\xFF"}};
    std::u16string out, all;  // each conversion replaces what it is given
    for (const auto& [name, bytes] : cases) em::xml::ConvertToUtf16(name, bytes, out), all += out + u"|";
    EXPECT_EQ(all, u"\U0001F601A\uFFFD\uFFFD\uE000\uD7FF\U0010FFFF\U00010000\uFFFF|"
                                                                       u"\U0001F600A\uFFFD\uFFFD|\u20ac|\uFFFD|");
}

TEST(XmlUtf8Test, DetectionMatchesTheRules) {
    // Pieces near the edges of every rule, at all offsets of the 16-byte blocks the check works in.
    const char* pieces[] = {"\xC2\x80", "\xC1\xBF", "\xDF\xBF", "\xE0\xA0\x80", "\xE0\x9F\xBF", "\xED\x9F\xBF",
                            "\xED\xA0\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF0\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF",
                            "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80", "\x80\x80", "\xBF", "\xC3", "\xE2\x82", "\xF0\x9F\x98",
                            "\xFE", "\xFF", "\x7F", "abcdefgh", "\xC3\xA9"};
    std::mt19937 rng(11);
    const bool plain = em::xml::detail::UsePlainReading(false);
    for (int round = 0; round < 6000; ++round) {
        if (round == 3000) em::xml::detail::UsePlainReading(true);  // the byte loop too
        std::string body(rng() % 100, 'x');
        for (int i = 0, n = 1 + static_cast<int>(rng() % 4); i < n; ++i)
            body += pieces[rng() % std::size(pieces)] + std::string(rng() % 20, 'y');
        CXmlDocument doc;
        doc.LoadBytes(body);
        const bool utf8 = doc.GetResult().find(u"<read encoding=\"UTF-8\"") != std::u16string::npos;
        // The platform's conversion as the reference: valid UTF-8 comes back unchanged.
        ASSERT_EQ(utf8, U8(W(body)) == body) << "round " << round;
        if (utf8) {
            EXPECT_TRUE(doc.GetDoc() == W(body) && doc.GetResult().find(u"UTF-16\" length=\"" +
                        W(std::to_string(doc.GetDoc().size()))) != std::u16string::npos);
        }
    }
    em::xml::detail::UsePlainReading(plain);
}

std::vector<std::array<uint32_t, 11>> Index(const CXmlDocument& d) {
    std::vector<std::array<uint32_t, 11>> out;
    for (const auto& r : d.GetIndex())
        out.push_back({r.nStart, r.nLength, r.nStartTagLen, r.nEndTagLen, r.nNameLen, r.nLevel, r.iParent,
                       r.iFirstChild, r.iNext, r.iPrev, r.nFlags});
    return out;
}

// Reads the bytes from a file the usual way and the plainest way, and from memory: the same
// document, index, log and texts each time. Text kept as UTF-8 reads as its UTF-16 conversion.
void SameEveryWay(const std::string& bytes, const std::string& what) {
    SCOPED_TRACE(what);
    // A name of its own: test programs of other builds may run this test at the same time.
    const std::string path = testing::TempDir() + "xml_reading_ways_" + std::to_string(std::random_device{}()) + ".xml";
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    for (uint32_t flags : {0u, em::xml::kFlagIgnoreCase | em::xml::kFlagCollapseWhiteSpace}) {
        CXmlDocument usual(flags), plain(flags), memory(flags), wide(flags);
        const bool ok = usual.LoadFile(W(path));
        EXPECT_EQ(memory.LoadBytes(bytes), ok);
        const bool was = em::xml::detail::UsePlainReading(true);
        EXPECT_EQ(plain.LoadFile(W(path)), ok);
        const std::u16string walk = Walk(plain);
        em::xml::detail::UsePlainReading(was);
        if (what.find("UTF-8") != std::string::npos) {
            EXPECT_TRUE(usual.IsStoredAsUtf8());
        }
        for (CXmlDocument* d : {&plain, &memory}) {
            EXPECT_EQ(d->GetResult(), usual.GetResult());
            EXPECT_EQ(d->IsStoredAsUtf8(), usual.IsStoredAsUtf8());
            EXPECT_TRUE(d->GetDoc() == usual.GetDoc() && Index(*d) == Index(usual));
        }
        EXPECT_TRUE(Walk(usual) == walk && Walk(memory) == walk);
        if (!usual.IsStoredAsUtf8()) continue;
        // The log less the file reading entries, which only bytes get.
        const std::u16string log = usual.GetResult();
        EXPECT_EQ(wide.SetDocument(usual.GetDoc()), ok);
        EXPECT_EQ(log.substr(log.find(u"/>", log.find(u"<converted_to ")) + 2), wide.GetResult());
        EXPECT_TRUE(Walk(wide) == walk);
    }
    std::remove(path.c_str());
}

// A large message-file-like text; `at` bytes in, `insert` is placed.
std::string Large(size_t at = std::string::npos, const std::string& insert = {}, size_t size = 300 * 1024) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><EventMsg><Events>";
    for (int e = 0; s.size() < size; ++e) {
        s += "<Event ErrorCode=\"0x" + std::to_string(e) + "\"><Messages lang=\"ja\"><LongMsg>\xE3\x83\x95\xE3\x82\xA1"
             "\xE3\x83\xB3 \xF0\x9F\x98\x80 " + std::string(e % 37, 'z') + "</LongMsg><!-- " +
             std::string(e % 53, '-') + " --><LongMsg><![CDATA[<" + std::string(e % 29, 'c') +
             ">]]></LongMsg></Messages></Event>\r\n";
        if (s.size() > at) s += insert, at = std::string::npos;
    }
    return s + "</Events></EventMsg>";
}

TEST(XmlReadingWays, SameDocumentEveryWay) {
    const std::pair<const char*, const char*> texts[] = {
        {"<r>\xC3\xA9</r>", "UTF-8"},
        {"x", "one byte, UTF-8"},
        {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><r>e</r>", "windows-1252, ASCII only"},
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?><r a=\"\xC3\xA9&amp;\xF0\x9F\x98\x80\" \xC3\xA9=\"x\">"
         "<\xE3\x82\xAD k='\xE2\x82\xAC'>\xE3\x83\xA3 &lt;<![CDATA[\xC3\xBC]]><!--\xC3\xA4--></\xE3\x82\xAD><E/></r>",
         "UTF-8, characters of every length"},
        {"<r>\xC3\xA9\xE2\x82\xAC\xEF\xBC\xA1\xF0\x9F\x98\x80<a><b>\xF0\x9F\x98\x80</a></c>< x<!y><\xC3\xA9/><q></R><z/>",
         "UTF-8, problems after characters of every length (offsets count UTF-16 units)"},
        {"<r/><!-- open", "UTF-8, open at the end after the root"},
        {"<!DOCTYPE \xC3\xA9 [<!BAD>]><\xF0\x9F\x98\x80>\xC3\xA9", "UTF-8, unended"},
    };
    for (const auto& [bytes, what] : texts) SameEveryWay(bytes, what);
    SameEveryWay(std::string(5000, ' ') + "<r/>", "UTF-8, blanks before the root");
    SameEveryWay("<r/>\xC3(", "invalid after the root");
    // Sample files in every encoding; the fuzzer's seeds (their first byte chooses its mode).
    for (const auto& e : fs::directory_iterator(fs::path(EM_TEST_DATA) / "xml"))
        if (e.path().extension() != ".py") SameEveryWay(ReadAll(e.path()), e.path().filename().string());
    for (const auto& e : fs::directory_iterator(fs::path(EM_TEST_DATA) / ".." / ".." / "fuzz" / "corpus" / "xml_document_fuzz")) {
        SameEveryWay(ReadAll(e.path()), e.path().filename().string());
        SameEveryWay(ReadAll(e.path()).substr(1), e.path().filename().string() + " without its first byte");
    }
    // Problems and odd constructs on the way, some at the edges of the steps the usual way reads
    // in; all but one (invalid UTF-8, converted as a whole) stay UTF-8.
    const std::pair<size_t, std::string> inserts[] = {
        {0, ""}, {16 * 1024 - 3, "<open>"}, {256 * 1024 - 1, "</lone>"}, {280 * 1024, "\xC3("},
        {20 * 1024, std::string("a\0b", 3)}, {100 * 1024, "< x><!y><![X[<!-q>"}, {64 * 1024, "<a b='>' c=\"/>\"/>"},
        {32 * 1024 - 1, "</Messages></Events>"}, {200 * 1024, "<!DOCTYPE r [<!BAD>]><?pi x?>"},
    };
    for (const auto& [at, insert] : inserts)
        SameEveryWay(Large(at, insert), "insert at " + std::to_string(at) + (at == 280 * 1024 ? "" : ", UTF-8"));
    SameEveryWay(Large() + "<second/>", "root with a sibling, UTF-8");
    SameEveryWay(Large().substr(0, 260 * 1024), "cut in the middle, UTF-8");
    SameEveryWay(Large().substr(0, 200 * 1024) + "<![CDATA[ open", "open at the end, UTF-8");

    // Names given outside ASCII, and ASCII names in another case, are found in UTF-8 text.
    CXmlDocument doc(em::xml::kFlagIgnoreCase);
    ASSERT_TRUE(doc.LoadBytes("<r><\xE3\x82\xAD \xC3\xA9='\xE2\x82\xAC' \xC2\x80='x' K='y'/></r>") && doc.IsStoredAsUtf8());
    ASSERT_TRUE(doc.FindElement(u"R") && doc.IntoElement() && doc.FindElement(u"\u30AD"));
    EXPECT_EQ(doc.GetAttribute(u"\u00e9") + doc.GetAttribute(u"\u0080") + doc.GetAttribute(u"k"), u"\u20acxy");
}

}  // namespace
