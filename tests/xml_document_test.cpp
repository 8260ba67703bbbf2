// XML reader: text, attributes and nodes as read, the problems a parse logs, the lookup tables.
#include <gtest/gtest.h>

#include <set>
#include <span>
#include <string>

#include "platform/codepage.h"
#include "xml/xml_document.h"
#include "xml/xml_tables.h"

namespace {

using em::xml::CXmlDocument;

std::string U8(std::u16string_view s) { return em::platform::Utf16ToUtf8(s); }

TEST(XmlData, TextRunsCDataAndIllFormedContent) {
    CXmlDocument doc;  // the "<" that starts no tag makes it ill-formed, and stays in the text
    EXPECT_FALSE(doc.SetDocument(u"<r><t>a &lt;<!-- no -->b<?pi x?><![CDATA[ &amp;<x> ]]>&amp;c<![CDATA[]]></t>"
                                u"<p><q/>text</p><e/><f></f><g>1 < 2</g></r>"));
    ASSERT_TRUE(doc.FindElement(u"r") && doc.IntoElement());
    const std::pair<const char16_t*, const char16_t*> expected[] = {  // null, empty and "*" match any element
        {u"t", u"a <b &amp;<x> &c"}, {nullptr, u""}, {u"", u""}, {u"*", u""}, {u"g", u"1 < 2"}};
    for (const auto& [name, data] : expected) {
        ASSERT_TRUE(doc.FindElement(name));
        EXPECT_EQ(doc.GetData(), data) << U8(doc.GetTagName());
    }
    EXPECT_FALSE(doc.SetDocument(u"<a><b>text<c>more &amp; less</a><z/>"));
    ASSERT_TRUE(doc.FindElement(u"a") && doc.IntoElement() && doc.FindElement(u"b"));
    EXPECT_EQ(doc.GetData(), u"") << "b holds c";
    ASSERT_TRUE(doc.IntoElement() && doc.FindElement(u"c"));
    EXPECT_EQ(doc.GetData(), u"more & less");
    doc.ResetPosition();
    EXPECT_TRUE(doc.FindElement(u"z")) << "a root sibling is still indexed";
}

TEST(XmlData, References) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"&lt;&amp;&gt;&quot;&apos;", u"<&>\"'"},
        {u"&#65;&#x41;&#X41;&#0065;&#57;&#x7a;&#x6F;", u"AAAA9zo"},
        {u"&LT;&Amp;", u"<&"},                   // names are lowercased for matching
        {u"&agrave;&Agrave;", u"\u00C0\u00C0"},  // the capital form is stored first
        {u"&#x1F600;&#x10FFFF;", u"\U0001F600\U0010FFFF"},
        {u"&#x001F600;", u"\U0001F600"},     // nine characters between & and ;
        {u"&#x0001F600;", u"&#x0001F600;"},  // ten: not a reference
        {u"&nosuch; &#0; &#; &#x; &#12a; &#xg; &#:; & x &lt", u"&nosuch; &#0; &#; &#x; &#12a; &#xg; &#:; & x &lt"},
        {u"&#x110000;&;&&lt;", u"&#x110000;&;&<"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(CXmlDocument::DecodeText(in), out) << U8(in);
    EXPECT_EQ(CXmlDocument::DecodeText(std::u16string_view(u"&lt;", 3)), u"&lt") << "the \";\" lies outside";
}

TEST(XmlData, AttributeSyntaxAndWhiteSpaceFlags) {
    const char16_t* text = u"<r d=\"a>b\" s='it\"s' u=bare  n e = \"sp\" a=\"  x \t y &lt;&#x3e; \" b='&#32;' last='/>'>"
                           u" \r\n one \n\n two&#32; </r>";
    const std::pair<uint32_t, const char16_t*> cases[] = {  // the text, then the attributes in order
        {0, u" \r\n one \n\n two  |d=a>b|s=it\"s|u=bare|n=|e=sp|a=  x \t y <> |b= |last=/>|"},
        {em::xml::kFlagTrimWhiteSpace, u"one \n\n two|d=a>b|s=it\"s|u=bare|n=|e=sp|a=x \t y <>|b=|last=/>|"},
        {em::xml::kFlagCollapseWhiteSpace, u"one two|d=a>b|s=it\"s|u=bare|n=|e=sp|a=x y <>|b=|last=/>|"},
    };
    for (const auto& [flags, expected] : cases) {
        CXmlDocument doc(flags);
        ASSERT_TRUE(doc.SetDocument(text) && doc.FindElement(u"r"));
        std::u16string all = doc.GetData() + u"|";
        for (size_t i = 0; !doc.GetAttributeName(i).empty(); ++i)
            all += doc.GetAttributeName(i) + u"=" + doc.GetAttribute(doc.GetAttributeName(i)) + u"|";
        EXPECT_EQ(all, expected) << flags;
        EXPECT_EQ(doc.GetAttribute(u"D"), u"") << "attribute names are case-sensitive";
    }
}

TEST(XmlNodes, EveryKindAtItsLevel) {
    using namespace em::xml;
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocument(u"<?xml version=\"1.0\" encoding='ISO-8859-1'?><!DOCTYPE r><!-- c1 --><r>x"
                                u"<?style href=a.css?><k/> <![CDATA[<c>]]></r>"));
    auto next = [&](uint32_t kinds) {
        const std::string kind = std::to_string(doc.FindNode(kinds));
        return kind + U8(doc.GetTagName() + doc.GetData());
    };
    EXPECT_EQ(next(kNodeProcessingInstruction), "16xmlxml version=\"1.0\" encoding='ISO-8859-1'");
    EXPECT_EQ(doc.GetAttribute(u"encoding") + doc.GetAttribute(u"version"), u"ISO-8859-11.0");
    EXPECT_EQ(next(kNodeDocType | kNodeComment), "64DOCTYPE r");
    EXPECT_EQ(next(kNodeComment), "32 c1 ");
    EXPECT_EQ(next(kNodeText), "0 c1 ") << "the text inside r is not at this level";
    ASSERT_TRUE(doc.FindElement(u"r") && doc.IntoElement()) << "goes on after a node that is not an element";
    EXPECT_EQ(next(kNodeText), "2x");
    EXPECT_EQ(next(kNodeProcessingInstruction | kNodeCData), "16stylestyle href=a.css");
    EXPECT_EQ(doc.GetAttribute(u"href"), u"a.css");
    EXPECT_EQ(next(kNodeWhiteSpace), "4 ") << "past the element k";
    EXPECT_FALSE(doc.FindElement(nullptr));
    EXPECT_EQ(next(0xFF), "8<c>");
    EXPECT_EQ(next(0xFF), "0<c>") << "the position stays";
    EXPECT_TRUE(doc.OutOfElement() && doc.GetTagName() == u"r" && doc.IntoElement() && doc.GetTagName().empty());
    EXPECT_TRUE(doc.OutOfElement() && doc.FindNode(kNodeElement) == 0 && !doc.OutOfElement()) << "document level";
}

TEST(XmlSyntax, ProblemsAreLoggedAndOdditiesAccepted) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {  // text, log (empty: well-formed)
        {u"<r><!x></r>", u"<exclamation_tag_syntax offset=\"3\"/>"},
        {u"<r><!-x--></r>", u"<comment_tag_syntax offset=\"3\"/>"},
        {u"<r><![X[y]]></r>", u"<cdata_section_syntax offset=\"3\"/>"},
        {u"<r>< r></r>", u"<first_tag_syntax offset=\"3\"/>"},
        {u"<!DOCTYPE r [<!BAD x><!ENTITY e \"v\">]><r/>", u"<doctype_tag_syntax offset=\"13\"/>"},
        {u"<r><!-- open", u"<unterminated_tag_syntax type=\"comment\" offset=\"3\"/>"
                          u"<unended_start_tag tagname=\"r\" offset=\"0\" offset2=\"12\"/>"},
        {u"<r/><", u"<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
        {u"<r/><q/>", u"<root_has_sibling offset=\"4\"/>"},
        {u"just text", u"<no_root_element/>"},
        {u"<a><b></a>", u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"6\"/>"},
        {u"<ab></abc></ab>", u"<lone_end_tag tagname=\"abc\" offset=\"4\"/>"},
        {u"<a></A>", u"<lone_end_tag tagname=\"A\" offset=\"3\"/><unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"7\"/>"},
        {u"</b><a/>", u"<lone_end_tag tagname=\"b\" offset=\"0\"/>"},
        {u"<a><b><a><c></a></x></B></b></a>",
         u"<unended_start_tag tagname=\"c\" offset=\"9\" offset2=\"12\"/><lone_end_tag tagname=\"x\" offset=\"16\"/>"
         u"<lone_end_tag tagname=\"B\" offset=\"20\"/>"},
        {u"<!DOCTYPE r [<!ELEMENT r (#PCDATA)><!ATTLIST r a CDATA \"x>y\"><!-- ]> --><?p ]>?><!NOTATION n>]><r/>",
         u""},
        {u"<!DOCTYPE html PUBLIC \"-//x//y>\" 'z'><r/>", u""},
        {u"\n<r>\n</r >\n<!-- after -->\n", u""},
    };
    for (const auto& [text, log] : cases) {
        CXmlDocument doc;
        EXPECT_EQ(doc.SetDocument(text), *log == 0) << U8(text);
        EXPECT_EQ(doc.GetResult(), log) << U8(text);
    }
    CXmlDocument doc;  // an empty text gets no entries; the log stops growing at its limit
    EXPECT_TRUE(!doc.FindElement(nullptr) && !doc.SetDocument(nullptr) && doc.GetResult().empty() && !doc.FindElement(nullptr));
    std::u16string text = u"<r>";
    for (int i = 0; i < 200; ++i) text += u"</x>";
    EXPECT_FALSE(doc.SetDocument(text));
    EXPECT_TRUE(doc.GetResult().size() >= 1000 && doc.GetResult().size() < 1050);
}

// A corrupt file of many unclosed elements followed by as many stray end tags: every end tag is
// told from the open elements without a walk over all of them (this took 10 s of CPU before).
TEST(XmlSyntax, StrayEndTagsUnderManyOpenElements) {
    constexpr size_t kPairs = 100000;
    std::u16string text;
    for (size_t i = 0; i < kPairs; ++i) text += u"<a>";
    for (size_t i = 0; i < kPairs; ++i) text += u"</b>";
    text += u"</a>";
    CXmlDocument doc;
    EXPECT_FALSE(doc.SetDocument(text));
    ASSERT_EQ(doc.GetIndex().size(), kPairs + 1);
    EXPECT_EQ(doc.GetResult().rfind(u"<lone_end_tag tagname=\"b\" offset=\"300000\"/>", 0), 0u);
    // The last </a> closes the innermost element; the others are closed at the end.
    EXPECT_EQ(doc.GetIndex()[kPairs].nLevel, kPairs);
    EXPECT_EQ(doc.GetIndex()[kPairs].nFlags & CXmlDocument::kElemUnended, 0);
    EXPECT_EQ(doc.GetIndex()[kPairs - 1].nFlags & CXmlDocument::kElemUnended, CXmlDocument::kElemUnended);

    // After such an end tag, names are still matched exactly, or ignoring case under the flag.
    CXmlDocument folded(em::xml::kFlagIgnoreCase);
    EXPECT_FALSE(folded.SetDocument(u"<a><b><c></B></x></A><a></a>"));
    EXPECT_EQ(folded.GetResult(), u"<unended_start_tag tagname=\"c\" offset=\"6\" offset2=\"9\"/>"
                                  u"<lone_end_tag tagname=\"x\" offset=\"13\"/><root_has_sibling offset=\"21\"/>");
}

TEST(XmlTables, EveryRowIsFoundInItsBucket) {
    struct {  // the rows and their distinct values
        std::span<const char16_t* const> buckets;
        size_t len_digits, value_digits;
        uint32_t (*lookup)(std::u16string_view);
        size_t rows, values;
    } const tables[] = {
        {em::xml::detail::CharsetTable(), 2, 5, em::xml::detail::LookupCharset, 365, 110},
        {em::xml::detail::EntityTable(), 1, 4, em::xml::detail::LookupEntity, 253, 253},
    };
    for (const auto& t : tables) {
        size_t rows = 0;
        std::set<std::u16string> names;
        std::set<uint32_t> values;
        for (size_t b = 0; b < t.buckets.size(); ++b) {
            for (std::u16string_view p = t.buckets[b]; !p.empty(); ++rows) {
                const size_t len = std::stoul(U8(p.substr(0, t.len_digits)));
                const uint32_t value = std::stoul(U8(p.substr(t.len_digits, t.value_digits)));
                const std::u16string name(p.substr(t.len_digits + t.value_digits, len));
                p.remove_prefix(t.len_digits + t.value_digits + len);
                size_t sum = 0;
                for (char16_t c : name) sum += c;
                EXPECT_EQ(sum % t.buckets.size(), b) << U8(name);
                // A second row of a name (the small letter) is never reached.
                if (names.insert(name).second) {
                    EXPECT_EQ(t.lookup(name), value) << U8(name);
                }
                values.insert(value);
            }
        }
        EXPECT_EQ(rows, t.rows);
        EXPECT_EQ(values.size(), t.values);
    }
    // Every row is found above; here the names as given: any letter case, nothing close counts.
    const std::pair<const char16_t*, uint32_t> charsets[] = {
        {u"UTF8", 65001}, {u"ANSI_X3.4-1968", 20127}, {u"Shift_JIS", 932}, {u"utf-9", 0}, {u"utf-8 ", 0}, {u"", 0}};
    for (const auto& [name, page] : charsets) EXPECT_EQ(em::xml::CharsetToCodePage(name), page) << U8(name);
    EXPECT_EQ(em::xml::CharsetToCodePage(std::u16string(120, u'a')), 0u);
}

}  // namespace
