// XML reader: a text kept as the UTF-8 it was read as must behave exactly like its UTF-16
// conversion, and a file indexed while it is read exactly like the same bytes indexed at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/codepage.h"
#include "xml/xml_document.h"
#include "xml/xml_tables.h"

namespace {

using em::xml::CXmlDocument;

std::string U8(std::u16string_view s) { return em::platform::Utf16ToUtf8(s); }

// Every element in document order: name, attributes, data; every element walked with the
// position calls.
std::u16string Walk(CXmlDocument& doc) {
    std::u16string out;
    doc.ResetPosition();
    int depth = 0;
    while (true) {
        if (doc.FindElement(nullptr)) {
            out += u"<" + doc.GetTagName();
            for (size_t i = 0;; ++i) {
                std::u16string name = doc.GetAttributeName(i);
                if (name.empty()) break;
                out += u" " + name + u"=" + doc.GetAttribute(name);
            }
            out += u">" + doc.GetData();
            if (doc.IntoElement()) ++depth;
            continue;
        }
        if (depth == 0 || !doc.OutOfElement()) break;
        --depth;
        out += u"/";
    }
    return out;
}

// The log less the file reading entries (which only the byte path writes).
std::u16string ParseLog(const std::u16string& log) {
    size_t p = log.find(u"<converted_to ");
    if (p != std::u16string::npos) return log.substr(log.find(u"/>", p) + 2);
    p = log.find(u"<read ");
    return p == std::u16string::npos ? log : log.substr(log.find(u"/>", p) + 2);
}

TEST(XmlUtf8Text, SameAsItsUtf16Conversion) {
    const char* docs[] = {
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><r a=\"\xC3\xA9&amp;\xF0\x9F\x98\x80\" \xC3\xA9=\"x\">"
        "<\xE3\x82\xAD k='\xE2\x82\xAC'>\xE3\x83\xA3 &lt;<![CDATA[\xC3\xBC]]><!--\xC3\xA4--></\xE3\x82\xAD><e/></r>",
        // problems after characters of every length: the log offsets count UTF-16 units
        "<r>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80<a><b>\xF0\x9F\x98\x80</a></c>< x<!y><\xC3\xA9/><q></r><z/>",
        "<!DOCTYPE \xC3\xA9 [<!BAD>]><\xF0\x9F\x98\x80>\xC3\xA9",
    };
    for (const char* bytes : docs) {
        CXmlDocument wide, narrow, folded(em::xml::kFlagIgnoreCase | em::xml::kFlagCollapseWhiteSpace),
            folded_wide(em::xml::kFlagIgnoreCase | em::xml::kFlagCollapseWhiteSpace);
        const bool ok = wide.SetDocument(em::platform::Utf8ToUtf16(bytes));
        EXPECT_EQ(narrow.LoadBytes(bytes), ok) << bytes;
        folded.LoadBytes(bytes);
        folded_wide.SetDocument(em::platform::Utf8ToUtf16(bytes));
        ASSERT_TRUE(narrow.IsStoredAsUtf8()) << bytes;
        EXPECT_EQ(ParseLog(narrow.GetResult()), wide.GetResult()) << bytes;
        EXPECT_EQ(Walk(narrow), Walk(wide)) << bytes;
        EXPECT_EQ(Walk(folded), Walk(folded_wide)) << bytes;
        EXPECT_EQ(narrow.GetDoc(), wide.GetDoc());
        narrow.ResetPosition();
        wide.ResetPosition();
        EXPECT_EQ(narrow.FindNode(0xFF), wide.FindNode(0xFF));
        EXPECT_EQ(narrow.GetData(), wide.GetData());
    }
    // Names given by the caller outside ASCII are found in UTF-8 text.
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadBytes("<r><\xE3\x82\xAD \xC3\xA9='\xE2\x82\xAC'/></r>"));
    doc.FindElement(u"r");
    doc.IntoElement();
    ASSERT_TRUE(doc.FindElement(u"\u30AD"));
    EXPECT_EQ(doc.GetAttribute(u"\u00e9"), u"\u20ac");
}

// Reference check of the UTF-8 rules: complete sequences of at most four bytes, no overlong
// forms, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        uint32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) {
            const unsigned b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = cp << 6 | (b & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

TEST(XmlUtf8Text, DetectionMatchesTheRules) {
    // Pieces near the edges of every rule, placed at all offsets of the 16-byte blocks the check
    // works in.
    const char* pieces[] = {"\xC2\x80", "\xC1\xBF", "\xDF\xBF", "\xE0\xA0\x80", "\xE0\x9F\xBF", "\xED\x9F\xBF",
                            "\xED\xA0\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF0\x8F\xBF\xBF",
                            "\xF4\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80", "\xBF", "\xC3",
                            "\xE2\x82", "\xF0\x9F\x98", "\xFE", "\xFF", "a", "abcdefgh", "\xC3\xA9"};
    std::mt19937 rng(11);
    const bool plain = em::xml::detail::UsePlainReading(false);
    for (int round = 0; round < 6000; ++round) {
        if (round == 3000) em::xml::detail::UsePlainReading(true);  // the byte loop too
        std::string body(rng() % 40, 'x');
        const int n = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < n; ++i) {
            body += pieces[rng() % std::size(pieces)];
            body.append(rng() % 20, 'y');
        }
        CXmlDocument doc;
        doc.LoadBytes(" " + body);
        const bool utf8 = doc.GetResult().find(u"<read encoding=\"UTF-8\"") != std::u16string::npos;
        ASSERT_EQ(utf8, ValidUtf8(body)) << "round " << round;
        if (utf8) {
            EXPECT_EQ(doc.GetDoc(), em::platform::Utf8ToUtf16(" " + body));
            const std::u16string length = u"<converted_to encoding=\"UTF-16\" length=\"" +
                                          em::platform::Utf8ToUtf16(std::to_string(doc.GetDoc().size())) + u"\"/>";
            EXPECT_NE(doc.GetResult().find(length), std::u16string::npos) << U8(doc.GetResult());
        }
    }
    em::xml::detail::UsePlainReading(plain);
}

class XmlLoadWhileReading : public testing::Test {
protected:
    void TearDown() override { std::remove(m_path.c_str()); }

    void Write(const std::string& bytes) {
        std::FILE* f = std::fopen(m_path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }

    static void ExpectSameIndex(const CXmlDocument& x, const CXmlDocument& y) {
        ASSERT_EQ(x.GetIndex().size(), y.GetIndex().size());
        for (size_t i = 0; i < x.GetIndex().size(); ++i) {
            const auto& a = x.GetIndex()[i];
            const auto& b = y.GetIndex()[i];
            ASSERT_TRUE(a.nStart == b.nStart && a.nLength == b.nLength && a.nStartTagLen == b.nStartTagLen &&
                        a.nEndTagLen == b.nEndTagLen && a.nNameLen == b.nNameLen && a.iParent == b.iParent &&
                        a.iFirstChild == b.iFirstChild && a.iNext == b.iNext && a.iPrev == b.iPrev &&
                        a.nLevel == b.nLevel && a.nFlags == b.nFlags)
                << "record " << i;
        }
    }

    // Loads the bytes from a file and from memory; both must give the same document.
    void Same(const std::string& bytes, bool expect_utf8) {
        Write(bytes);
        CXmlDocument file, memory;
        const bool ok = file.LoadFile(em::platform::Utf8ToUtf16(m_path));
        EXPECT_EQ(memory.LoadBytes(bytes), ok);
        EXPECT_EQ(file.GetResult(), memory.GetResult());
        EXPECT_EQ(file.IsStoredAsUtf8(), expect_utf8) << U8(file.GetResult());
        ExpectSameIndex(file, memory);
        EXPECT_EQ(Walk(file), Walk(memory));
    }

    // Every node at every level, with its content: element names, attributes and data, text,
    // CDATA, comments, processing instructions.
    static std::u16string Nodes(CXmlDocument& doc) {
        std::u16string out;
        while (const uint32_t kind = doc.FindNode(0xFF)) {
            out += u"[" + std::u16string(1, static_cast<char16_t>(u'0' + kind % 64)) + doc.GetTagName() + u"|" +
                   doc.GetData() + doc.GetAttribute(u"encoding");
            if (doc.IntoElement()) {
                out += Nodes(doc);
                doc.OutOfElement();
            }
            out += u"]";
        }
        return out;
    }

    // Reads the bytes from a file the usual way and the plainest way; both must give the same
    // document, result log and texts. Valid UTF-8 must stay UTF-8.
    void SameAsPlain(const std::string& bytes, const std::string& what) {
        SCOPED_TRACE(what);
        const bool utf8 = what.find("UTF-8") != std::string::npos;
        Write(bytes);
        for (uint32_t flags : {0u, em::xml::kFlagIgnoreCase | em::xml::kFlagCollapseWhiteSpace}) {
            CXmlDocument usual(flags), plain(flags);
            const bool ok = usual.LoadFile(em::platform::Utf8ToUtf16(m_path));
            const bool was = em::xml::detail::UsePlainReading(true);
            const bool plain_ok = plain.LoadFile(em::platform::Utf8ToUtf16(m_path));
            const std::u16string plain_walk = Walk(plain);
            plain.ResetPosition();
            const std::u16string plain_nodes = Nodes(plain);
            em::xml::detail::UsePlainReading(was);
            EXPECT_EQ(ok, plain_ok);
            EXPECT_EQ(usual.GetResult(), plain.GetResult());
            EXPECT_EQ(usual.IsStoredAsUtf8(), plain.IsStoredAsUtf8());
            if (utf8) EXPECT_TRUE(usual.IsStoredAsUtf8());
            EXPECT_EQ(usual.GetDoc(), plain.GetDoc());
            ExpectSameIndex(usual, plain);
            EXPECT_EQ(Walk(usual), plain_walk);
            usual.ResetPosition();
            EXPECT_EQ(Nodes(usual), plain_nodes);
        }
    }

    // A large message-file-like text; `at` bytes in, `insert` is placed.
    static std::string Large(size_t at = std::string::npos, const std::string& insert = {}, size_t size = 700 * 1024) {
        std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><EventMsg><Events>";
        for (int e = 0; s.size() < size; ++e) {
            s += "<Event ErrorCode=\"0x" + std::to_string(e) + "\"><Messages lang=\"ja\"><LongMsg>\xE3\x83\x95\xE3\x82\xA1"
                 "\xE3\x83\xB3 \xF0\x9F\x98\x80 " + std::string(e % 37, 'z') + "</LongMsg><!-- " +
                 std::string(e % 53, '-') + " --><LongMsg><![CDATA[<" + std::string(e % 29, 'c') +
                 ">]]></LongMsg></Messages></Event>\r\n";
            if (at != std::string::npos && s.size() > at && !insert.empty()) {
                s += insert;
                at = std::string::npos;
            }
        }
        return s + "</Events></EventMsg>";
    }

    // One file per test: ctest runs the tests of this fixture in parallel processes.
    std::string m_path = testing::TempDir() + "xml_load_while_reading_" +
                         testing::UnitTest::GetInstance()->current_test_info()->name() + ".xml";
};

TEST_F(XmlLoadWhileReading, SmallAndOddFiles) {
    Same("<r>\xC3\xA9</r>", true);
    Same("<r>", true);
    Same("\xEF\xBB\xBF<r/>", true);  // byte order mark: read the general way
    Same("<?xml version=\"1.0\" encoding=\"windows-1252\"?><r>\xE9</r>", false);
    Same(" <r>\xE9</r>", false);
    Same("<r>\xE9</r>", false);  // UTF-8 only assumed: tested, and read in the ANSI code page
    Same(std::string(5000, ' ') + "<r/>", true);
}

TEST_F(XmlLoadWhileReading, SameAsThePlainestReading) {
    namespace fs = std::filesystem;
    auto bytes_of = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // Sample files in every encoding; the fuzzer's seeds (their first byte chooses its mode).
    for (const auto& e : fs::directory_iterator(fs::path(EM_TEST_DATA) / "xml"))
        if (e.path().extension() != ".py") SameAsPlain(bytes_of(e.path()), e.path().filename().string());
    for (const auto& e : fs::directory_iterator(fs::path(EM_TEST_DATA) / ".." / ".." / "fuzz" / "corpus" / "xml_document_fuzz")) {
        const std::string b = bytes_of(e.path());
        SameAsPlain(b, e.path().filename().string());
        SameAsPlain(b.substr(1), e.path().filename().string() + " without its first byte");
    }
    // Large files with a problem or an odd construct on the way, some at the edges of the steps
    // the usual way reads in; all but one (invalid UTF-8, converted as a whole) stay UTF-8.
    constexpr size_t kSize = 300 * 1024;
    const std::pair<size_t, std::string> inserts[] = {
        {0, ""}, {16 * 1024 - 3, "<open>"}, {256 * 1024 - 1, "</lone>"}, {280 * 1024, "\xC3("},
        {20 * 1024, std::string("a\0b", 3)}, {100 * 1024, "< x><!y><![X[<!-q>"}, {64 * 1024, "<a b='>' c=\"/>\"/>"},
        {32 * 1024 - 1, "</Messages></Events>"}, {200 * 1024, "<!DOCTYPE r [<!BAD>]><?pi x?>"},
    };
    for (const auto& [at, insert] : inserts)
        SameAsPlain(Large(at, insert, kSize), "insert at " + std::to_string(at) + (at == 280 * 1024 ? "" : ", UTF-8"));
    SameAsPlain(Large({}, {}, kSize) + "<second/>", "root with a sibling, UTF-8");
    SameAsPlain(Large({}, {}, kSize).substr(0, 260 * 1024), "cut in the middle, UTF-8");
    SameAsPlain(Large({}, {}, kSize).substr(0, 200 * 1024) + "<![CDATA[ open", "open at the end, UTF-8");
    SameAsPlain("<a>\xE9Z</a>", "Latin-1 without a declaration");
}

}  // namespace
