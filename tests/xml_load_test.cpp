// XML reader: reading files, encoding detection and conversion, the file reading log.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "platform/error_text.h"
#include "xml/xml_document.h"
#include "tests/support/platform_util.h"

namespace {

using em::xml::CXmlDocument;

std::string U8(std::u16string_view s) { return em::platform::Utf16ToUtf8(s); }

std::u16string DataPath(const char* name) {
    return em::platform::Utf8ToUtf16(std::string(EM_TEST_DATA) + "/xml/" + name);
}

// The LongMsg text of event 0x0101 in a language, found the way the message files look it up.
std::u16string LongMsg(CXmlDocument& doc, std::u16string_view lang) {
    std::u16string text;
    doc.ResetPosition();
    if (doc.FindElement(u"EventMsg") && doc.IntoElement() && doc.FindElement(u"Events") && doc.IntoElement()) {
        while (doc.FindElement(u"Event") && doc.GetAttribute(u"ErrorCode") != u"0x0101") {
        }
        if (doc.IntoElement()) {
            while (doc.FindElement(u"Messages") && doc.GetAttribute(u"lang") != lang) {
            }
            if (doc.GetAttribute(u"lang") == lang && doc.IntoElement() && doc.FindElement(u"LongMsg"))
                text = doc.GetData();
        }
    }
    while (doc.OutOfElement()) {
    }
    return text;
}

TEST(XmlLoadFile, EncodedSampleFiles) {
    struct Case {
        const char* file;
        uint32_t flags;
        const char16_t* lang;
        const char16_t* text;
        const char16_t* log_part;
    } cases[] = {
        {"utf16le.xml", em::xml::kFlagUtf16LeFile, u"de", u"L\u00fcfter %1 ausgefallen \U0001F525",
         u"<bom/><read encoding=\"UTF-16LE\" length=\"290\"/>"},
        {"utf16be.xml", em::xml::kFlagUtf16BeFile, u"ru", u"\u0412\u0435\u043d\u0442\u0438\u043b\u044f\u0442\u043e\u0440 %1",
         u"<bom/><endian_swap/><read encoding=\"UTF-16BE\" length=\"279\"/>"},
        {"shift_jis.xml", 0, u"ja", u"\u30d5\u30a1\u30f3 %1 \u304c\u6545\u969c\u3057\u307e\u3057\u305f",
         u"<read encoding=\"Shift_JIS\" length=\"293\"/><converted_to encoding=\"UTF-16\" length=\"283\"/>"},
        {"windows1252.xml", 0, u"fr", u"\u20ac \u00e9chec du ventilateur \u201c%1\u201d",
         u"<read encoding=\"windows-1252\""},
        {"utf8_bom.xml", em::xml::kFlagUtf8Bom, u"es", u"Ventilador %1 fall\u00f3 \u2013 \u00a1error!",
         u"<bom/><read encoding=\"UTF-8\""},
        // 0x80 is U+0080 in ISO-8859-1 (and the euro sign in windows-1252).
        {"latin1_upper.xml", 0, u"fr", u"\u0080 \u00e9t\u00e9", u"<read encoding=\"ISO-8859-1\""},
    };
    for (const auto& c : cases) {
        CXmlDocument doc;
        EXPECT_TRUE(doc.LoadFile(DataPath(c.file))) << c.file << " " << U8(doc.GetResult());
        EXPECT_EQ(doc.GetDocFlags(), c.flags) << c.file;
        EXPECT_EQ(LongMsg(doc, u"en"), u"Fan %1 failed") << c.file;
        EXPECT_EQ(LongMsg(doc, c.lang), c.text) << c.file;
        EXPECT_NE(doc.GetResult().find(c.log_part), std::u16string::npos) << c.file << " " << U8(doc.GetResult());
    }
}

TEST(XmlLoadFile, HtmlMetaCharset) {
    CXmlDocument doc;
    // A meta tag is not closed in HTML, so the document is not well-formed; it is still read.
    EXPECT_FALSE(doc.LoadFile(DataPath("html_meta.html")));
    EXPECT_NE(doc.GetResult().find(u"<read encoding=\"Windows-1251\""), std::u16string::npos) << U8(doc.GetResult());
    ASSERT_TRUE(doc.FindElement(u"html"));
    doc.IntoElement();
    ASSERT_TRUE(doc.FindElement(u"body"));
    doc.IntoElement();
    ASSERT_TRUE(doc.FindElement(u"p"));
    EXPECT_EQ(doc.GetData(), u"\u041f\u0440\u0438\u0432\u0435\u0442");
}

TEST(XmlLoadFile, MissingAndEmptyFiles) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocument(u"<old/>"));
    EXPECT_FALSE(doc.LoadFile(DataPath("no-such-file.xml")));
    const std::u16string not_found =
        em::test::kPosixPlatform ? u"No such file or directory" : em::platform::SystemMessageText(2);
    EXPECT_EQ(doc.GetResult(), u"<file_error msg=\"" + not_found + u"\" n=\"2\"/>");
    EXPECT_EQ(doc.GetDoc(), u"");
    EXPECT_FALSE(doc.FindElement(nullptr)) << "the old document is gone";
    EXPECT_FALSE(doc.LoadFile(nullptr));

    const std::string path = testing::TempDir() + "xml_load_empty.xml";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_FALSE(doc.LoadFile(em::platform::Utf8ToUtf16(path)));
    EXPECT_EQ(doc.GetResult(),
              u"<read encoding=\"UTF-8\" length=\"0\"/><utf8_detection/><converted_to encoding=\"UTF-16\" length=\"0\"/>");
    EXPECT_FALSE(doc.IsWellFormed());
    std::remove(path.c_str());
}

TEST(XmlLoadBytes, ByteOrderMarks) {
    CXmlDocument doc;
    // FF FE: units taken as they are; FE FF: swapped. A 0 unit is removed.
    ASSERT_TRUE(doc.LoadBytes(std::string("\xFF\xFE<\0r\0>\0\xE9\0\x3D\xD8\x00\xDE<\0/\0r\0>\0", 22)));
    EXPECT_EQ(doc.GetResult(), u"<bom/><read encoding=\"UTF-16LE\" length=\"10\"/>");
    doc.FindElement(u"r");
    EXPECT_EQ(doc.GetData(), u"\u00e9\U0001F600");

    ASSERT_TRUE(doc.LoadBytes(std::string("\xFE\xFF\0<\0r\0>\0\0\0\xE9\0<\0/\0r\0>", 20)));
    EXPECT_EQ(doc.GetResult(),
              u"<bom/><nulls_removed count=\"1\"/><endian_swap/><read encoding=\"UTF-16BE\" length=\"8\"/>");
    EXPECT_EQ(doc.GetDocFlags(), em::xml::kFlagUtf16BeFile);
    doc.FindElement(u"r");
    EXPECT_EQ(doc.GetData(), u"\u00e9");

    // A UTF-8 mark wins over a declaration.
    ASSERT_TRUE(doc.LoadBytes("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"windows-1252\"?><r>\xC3\xA9</r>"));
    doc.FindElement(u"r");
    EXPECT_EQ(doc.GetData(), u"\u00e9");
    EXPECT_EQ(doc.GetDocFlags(), em::xml::kFlagUtf8Bom);
}

TEST(XmlLoadBytes, DeclaredEncodingInAnyCase) {
    for (const char* name : {"iso-8859-1", "ISO-8859-1", "Iso-8859-1", "LATIN1"}) {
        CXmlDocument doc;
        std::string bytes = std::string("<?xml version=\"1.0\" encoding=\"") + name + "\"?>\n<r>\x80\xE9</r>";
        ASSERT_TRUE(doc.LoadBytes(bytes)) << name;
        doc.FindElement(u"r");
        EXPECT_EQ(doc.GetData(), u"\u0080\u00e9") << name;
    }
    // Unknown and over-long names convert as the ANSI code page.
    for (std::string name : {std::string("x-no-such-set"), std::string(120, 'a')}) {
        CXmlDocument doc;
        ASSERT_TRUE(doc.LoadBytes("<?xml version=\"1.0\" encoding=\"" + name + "\"?><r>\x80</r>"));
        doc.FindElement(u"r");
        EXPECT_EQ(doc.GetData(), u"\u20ac");
    }
}

TEST(XmlLoadBytes, Utf8DetectionWithoutDeclaration) {
    CXmlDocument doc;
    // Valid UTF-8 that does not start with "<": the test runs and passes.
    ASSERT_TRUE(doc.LoadBytes(" <r>\xC3\xA9\xF0\x9F\x98\x80</r>"));
    EXPECT_EQ(doc.GetResult(), u"<read encoding=\"UTF-8\" length=\"14\"/><utf8_detection/>"
                               u"<converted_to encoding=\"UTF-16\" length=\"11\"/>");
    doc.FindElement(u"r");
    EXPECT_EQ(doc.GetData(), u"\u00e9\U0001F600");

    // A lone 0xE9 followed by ASCII fails the test: the ANSI code page.
    ASSERT_TRUE(doc.LoadBytes(" <r>\xE9t\x80</r>"));
    EXPECT_EQ(doc.GetResult(), u"<read encoding=\"\" length=\"11\"/><utf8_detection/>"
                               u"<converted_to encoding=\"UTF-16\" length=\"11\"/>");
    doc.FindElement(u"r");
    EXPECT_EQ(doc.GetData(), u"\u00e9t\u20ac");

    // Sequences the test must refuse: overlong, surrogate, beyond U+10FFFF, truncated at the end.
    for (const char* bad : {" \xC0\xAF<r/>", " \xED\xA0\x80<r/>", " \xF4\x90\x80\x80<r/>", " <r/>\xE2\x82"}) {
        ASSERT_TRUE(doc.LoadBytes(bad));
        EXPECT_NE(doc.GetResult().find(u"<read encoding=\"\""), std::u16string::npos) << U8(doc.GetResult());
    }

    // Starting with "<" and no declaration, UTF-8 is only assumed: the test decides as well.
    // Only a declared UTF-8 is read as UTF-8 whatever the bytes, bad ones becoming U+FFFD.
    struct Case {
        const char* bytes;
        const char16_t* data;
        const char16_t* log;
    } cases[] = {
        {"<a>\xE9Z</a>", u"\u00e9Z",
         u"<read encoding=\"\" length=\"9\"/><utf8_detection/><converted_to encoding=\"UTF-16\" length=\"9\"/>"},
        {"<a>\xC3\xA9Z</a>", u"\u00e9Z",
         u"<read encoding=\"UTF-8\" length=\"10\"/><utf8_detection/><converted_to encoding=\"UTF-16\" length=\"9\"/>"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xE9Z</a>", u"\uFFFDZ",
         u"<read encoding=\"UTF-8\" length=\"47\"/><converted_to encoding=\"UTF-16\" length=\"47\"/>"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(doc.LoadBytes(c.bytes)) << c.bytes;
        EXPECT_EQ(doc.GetResult(), c.log) << c.bytes;
        doc.FindElement(u"a");
        EXPECT_EQ(doc.GetData(), c.data) << c.bytes;
    }
}

TEST(XmlLoadBytes, NullBytesAndHtmlSniffing) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadBytes(std::string("<r>a\0b\0</r>", 11)));
    EXPECT_NE(doc.GetResult().find(u"<nulls_removed count=\"2\"/><read encoding=\"UTF-8\" length=\"9\"/>"),
              std::u16string::npos)
        << U8(doc.GetResult());
    doc.FindElement(u"r");
    EXPECT_EQ(doc.GetData(), u"ab");

    // A meta charset counts only inside <html>, and only before </head>.
    const char* not_html = "<r><meta http-equiv='Content-Type' content='text/html; charset=windows-1251'/>\xC0</r>";
    ASSERT_TRUE(doc.LoadBytes(not_html));
    EXPECT_NE(doc.GetResult().find(u"<read encoding=\"\""), std::u16string::npos) << "not UTF-8, not windows-1251";
    const char* after_head = "<html><head></head><meta http-equiv='Content-Type' content='charset=koi8-r'/></html>";
    ASSERT_TRUE(doc.LoadBytes(after_head));
    EXPECT_NE(doc.GetResult().find(u"encoding=\"UTF-8\""), std::u16string::npos);
    const char* html = "<HTML><Meta HTTP-EQUIV=\"content-type\" CONTENT=\"text/html;charset = koi8-r\"/>\xC1</HTML>";
    ASSERT_TRUE(doc.LoadBytes(html));
    EXPECT_NE(doc.GetResult().find(u"encoding=\"koi8-r\""), std::u16string::npos) << U8(doc.GetResult());
    doc.FindElement(nullptr);
    doc.IntoElement();
    ASSERT_EQ(doc.FindNode(em::xml::kNodeText), em::xml::kNodeText);
    EXPECT_EQ(doc.GetData(), u"\u0430");
}

TEST(XmlConvert, SpecialNames) {
    std::u16string out;
    // "UTF-32" in exactly this case is handled before the table; little-endian unless "UTF-32BE".
    em::xml::ConvertToUtf16(u"UTF-32", std::string("\x00\xF6\x01\x00" "A\0\0\0", 8), out);
    EXPECT_EQ(out, u"\U0001F600A");
    em::xml::ConvertToUtf16(u"UTF-32BE", std::string("\0\x01\xF6\x00\0\0\0A\0\0", 10), out);
    EXPECT_EQ(out, u"\U0001F600A\uFFFD");
    em::xml::ConvertToUtf16(u"utf-32", std::string("B\0\0\0", 4), out);
    EXPECT_EQ(out, u"B");
    em::xml::ConvertToUtf16(u"", "\x80", out);
    EXPECT_EQ(out, u"\u20ac");
    em::xml::ConvertToUtf16(u"UTF-8", "\xE2\x82\xAC\xFF", out);
    EXPECT_EQ(out, u"\u20ac\uFFFD");
}

}  // namespace
