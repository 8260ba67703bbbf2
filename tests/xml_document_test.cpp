// XML reader: element index, navigation, reading, the problems a parse logs, the lookup tables.
#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <span>
#include <string>

#include "platform/codepage.h"
#include "xml/xml_document.h"
#include "xml/xml_tables.h"

namespace {

using em::xml::CXmlDocument;

std::string U8(std::u16string_view s) { return em::platform::Utf16ToUtf8(s); }

constexpr char16_t kMessages[] =
    u"<?xml version=\"1.0\"?>\n"
    u"<EventMsg>\n"
    u" <Events>\n"
    u"  <Event ErrorCode=\"0x0001\"><Messages lang=\"en\"><LongMsg>one</LongMsg></Messages></Event>\n"
    u"  <Other/>\n"
    u"  <Event ErrorCode=\"0x0002\">\n"
    u"   <Messages lang=\"de\"><LongMsg>zwei</LongMsg></Messages>\n"
    u"   <Messages lang=\"en\"><ShortMsg>s</ShortMsg><LongMsg>two</LongMsg><LongMsg>two b</LongMsg></Messages>\n"
    u"  </Event>\n"
    u"  <Event ErrorCode=\"0x0003\"/>\n"
    u" </Events>\n"
    u"</EventMsg>\n";

TEST(XmlNavigation, MessageFileLookupVisitsSiblingsInOrder) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.IntoElement() || doc.OutOfElement()) << "no current element";
    ASSERT_TRUE(doc.SetDocument(kMessages)) << U8(doc.GetResult());
    auto into_events = [&] {
        doc.ResetPosition();
        ASSERT_TRUE(doc.FindElement(u"EventMsg") && doc.IntoElement());
        ASSERT_TRUE(doc.FindElement(u"Events") && doc.IntoElement());
    };
    into_events();
    std::u16string codes;
    while (doc.FindElement(u"Event")) codes += doc.GetAttribute(u"ErrorCode") + u",";
    EXPECT_EQ(codes, u"0x0001,0x0002,0x0003,");
    EXPECT_EQ(doc.GetAttribute(u"ErrorCode"), u"0x0003") << "a failed search leaves the position";
    EXPECT_FALSE(doc.OutOfElement() && doc.IntoElement() && doc.FindElement(nullptr)) << "goes on after the last";
    into_events();  // null, empty and "*" match any element
    EXPECT_TRUE(doc.FindElement(nullptr) && doc.FindElement(u"*") && doc.FindElement(u"") && doc.FindElement(u"*"));
    EXPECT_EQ(doc.GetAttribute(u"ErrorCode") + doc.GetTagName(), u"0x0003Event");
    // The lookup of the message files: filter on an attribute at each level, the n-th key element.
    into_events();
    while (doc.FindElement(u"Event") && doc.GetAttribute(u"ErrorCode") != u"0x0002") {
    }
    ASSERT_TRUE(doc.IntoElement());
    while (doc.FindElement(u"Messages") && doc.GetAttribute(u"lang") != u"en") {
    }
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(u"LongMsg") && doc.FindElement(u"LongMsg"));
    EXPECT_EQ(doc.GetData(), u"two b");
    ASSERT_TRUE(doc.OutOfElement() && doc.IntoElement());
    EXPECT_EQ(doc.GetData(), u"two b") << "out and in again: the remembered child is current";
    EXPECT_FALSE(doc.FindElement(nullptr));
    EXPECT_TRUE(doc.IntoElement() && doc.GetTagName().empty() && !doc.FindElement(nullptr)) << "LongMsg holds none";
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(doc.OutOfElement());
    EXPECT_EQ(doc.GetTagName(), u"EventMsg");
    EXPECT_FALSE(doc.OutOfElement()) << "document level";
    EXPECT_FALSE(doc.FindElement(u"EventMsg")) << "the root has no sibling";
    doc.ResetPosition();
    EXPECT_FALSE(doc.FindElement(u"eventmsg")) << "names compare exactly";

    CXmlDocument folded(em::xml::kFlagIgnoreCase);
    ASSERT_TRUE(folded.SetDocument(u"<Root><Item Key=\"v\"/></ROOT>")) << U8(folded.GetResult());
    ASSERT_TRUE(folded.FindElement(u"ROOT") && folded.IntoElement() && folded.FindElement(u"item"));
    EXPECT_EQ(folded.GetAttribute(u"KEY"), u"v");
}

TEST(XmlIndex, LinksAndMarks) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.SetDocument(u"<a><b><c></b><d/></a>"));
    const auto& ix = doc.GetIndex();
    ASSERT_EQ(ix.size(), 5u);  // the document, a, b, c, d
    EXPECT_EQ(ix[0].nLength, 21u);
    EXPECT_TRUE(ix[0].iFirstChild == 1 && ix[1].iFirstChild == 2 && ix[2].iFirstChild == 3);
    EXPECT_TRUE(ix[2].iNext == 4 && ix[4].iPrev == 2 && ix[4].iParent == 1 && ix[3].iParent == 2);
    EXPECT_TRUE(ix[3].nLevel == 3 && ix[3].nFlags == (CXmlDocument::kElemUnended | CXmlDocument::kElemIllFormed));
    EXPECT_TRUE(ix[3].nLength == 3 && ix[3].nEndTagLen == 0) << "c ends where </b> begins";
    EXPECT_TRUE(ix[2].nLength == 10 && ix[2].nEndTagLen == 4 && ix[2].nStartTagLen == 3 && ix[2].nNameLen == 1);
    EXPECT_TRUE(ix[4].nFlags == CXmlDocument::kElemEmptyTag && ix[4].nLength == 4 && ix[1].nFlags == 0);
    EXPECT_EQ(doc.GetResult(), u"<unended_start_tag tagname=\"c\" offset=\"6\" offset2=\"9\"/>");
    // Every parse gives the index a generation of its own, never one seen before. A problem
    // inside an element marks that element ill-formed.
    const uint64_t first = doc.LoadGeneration();
    CXmlDocument other;
    doc.SetDocument(u"<a><b></x></b><c><!x></c><e/></a>");
    EXPECT_TRUE(doc.LoadGeneration() != first && doc.LoadGeneration() != other.LoadGeneration());
    EXPECT_TRUE(ix[1].nFlags == 0 && ix[2].nFlags == CXmlDocument::kElemIllFormed &&
                ix[3].nFlags == CXmlDocument::kElemIllFormed && ix[4].nFlags == CXmlDocument::kElemEmptyTag);
}

TEST(XmlData, TextRunsCDataAndIllFormedContent) {
    CXmlDocument doc;  // the "<" that starts no tag makes it ill-formed, and stays in the text
    EXPECT_FALSE(doc.SetDocument(u"<r><t>a &lt;<!-- no -->b<?pi x?><![CDATA[ &amp;<x> ]]>&amp;c<![CDATA[]]></t>"
                                u"<p><q/>text</p><e/><f></f><g>1 < 2</g></r>"));
    ASSERT_TRUE(doc.FindElement(u"r") && doc.IntoElement());
    const char16_t* expected[] = {u"a <b &amp;<x> &c", u"", u"", u"", u"1 < 2"};
    for (const char16_t* data : expected) {
        ASSERT_TRUE(doc.FindElement(nullptr));
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
        {u"&euro;&thetasym;&hearts;&zwj;", u"\u20AC\u03D1\u2665\u200D"},
        {u"&#x1F600;&#x10FFFF;", u"\U0001F600\U0010FFFF"},
        {u"&#x001F600;", u"\U0001F600"},     // nine characters between & and ;
        {u"&#x0001F600;", u"&#x0001F600;"},  // ten: not a reference
        {u"&nosuch; &#0; &#; &#x; &#12a; &#xg; &#:; & x &lt", u"&nosuch; &#0; &#; &#x; &#12a; &#xg; &#:; & x &lt"},
        {u"&#x110000;&;&&lt;", u"&#x110000;&;&<"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(CXmlDocument::DecodeText(in), out) << U8(in);
    EXPECT_EQ(CXmlDocument::DecodeText(std::u16string_view(u"&lt;", 3)), u"&lt") << "the \";\" lies outside";
}

TEST(XmlData, WhiteSpaceFlags) {
    const char16_t* text = u"<r a=\"  x \t y  \" b='&#32;'> \r\n one \n\n two&#32; </r>";
    const std::pair<uint32_t, const char16_t*> cases[] = {
        {0, u" \r\n one \n\n two  |  x \t y  | "},
        {em::xml::kFlagTrimWhiteSpace, u"one \n\n two|x \t y|"},
        {em::xml::kFlagCollapseWhiteSpace, u"one two|x y|"},
    };
    for (const auto& [flags, expected] : cases) {
        CXmlDocument doc(flags);
        ASSERT_TRUE(doc.SetDocument(text) && doc.FindElement(u"r"));
        EXPECT_EQ(doc.GetData() + u"|" + doc.GetAttribute(u"a") + u"|" + doc.GetAttribute(u"b"), expected) << flags;
    }
}

TEST(XmlAttributes, SyntaxVariants) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocument(u"<r d=\"a>b\" s='it\"s' u=bare  n e = \"sp\" amp=\"&lt;&#x3e;\" last='/>'/>"));
    ASSERT_TRUE(doc.FindElement(u"r"));
    const char16_t* expected[][2] = {{u"d", u"a>b"}, {u"s", u"it\"s"}, {u"u", u"bare"}, {u"n", u""},
                                     {u"e", u"sp"},  {u"amp", u"<>"},  {u"last", u"/>"}};
    size_t i = 0;
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(doc.GetAttributeName(i++), name);
        EXPECT_EQ(doc.GetAttribute(name), value) << U8(name);
    }
    EXPECT_EQ(doc.GetAttributeName(i), u"");
    EXPECT_EQ(doc.GetAttribute(u"D"), u"") << "attribute names are case-sensitive";
    doc.ResetPosition();
    EXPECT_EQ(doc.GetAttribute(u"d"), u"") << "no current element";
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
    EXPECT_TRUE(doc.OutOfElement() && doc.FindNode(kNodeElement) == 0);
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
        {u"x", u"<no_root_element/>"},
        {u"<a><b></a>", u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"6\"/>"},
        {u"<a></b></a>", u"<lone_end_tag tagname=\"b\" offset=\"3\"/>"},
        {u"<ab></abc></ab>", u"<lone_end_tag tagname=\"abc\" offset=\"4\"/>"},
        {u"<a></A>", u"<lone_end_tag tagname=\"A\" offset=\"3\"/><unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"7\"/>"},
        {u"</b><a/>", u"<lone_end_tag tagname=\"b\" offset=\"0\"/>"},
        {u"<a><b><a><c></a></x></B></b></a>",
         u"<unended_start_tag tagname=\"c\" offset=\"9\" offset2=\"12\"/><lone_end_tag tagname=\"x\" offset=\"16\"/>"
         u"<lone_end_tag tagname=\"B\" offset=\"20\"/>"},
        {u"<a><b><c></d></c></c></b></a>",
         u"<lone_end_tag tagname=\"d\" offset=\"9\"/><lone_end_tag tagname=\"c\" offset=\"17\"/>"},
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
    CXmlDocument empty;  // an empty text gets no entries
    EXPECT_TRUE(!empty.SetDocument(nullptr) && empty.GetResult().empty() && !empty.FindElement(nullptr));
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

TEST(XmlResult, LogStopsGrowingAtItsLimitAndStreamingModesRefuse) {
    std::u16string text = u"<r>";
    for (int i = 0; i < 200; ++i) text += u"</x&<\">";
    CXmlDocument doc;
    EXPECT_FALSE(doc.SetDocument(text + u"<y>"));
    const std::u16string& log = doc.GetResult();
    EXPECT_EQ(log.substr(0, 50), u"<lone_end_tag tagname=\"x&amp;&lt;&quot;\" offset=\"3");
    EXPECT_TRUE(log.size() >= 1000 && log.size() < 1050) << "no entry after the limit is reached";
    EXPECT_TRUE(log.find(u"unended") == std::u16string::npos && doc.GetIndex().back().nFlags & CXmlDocument::kElemUnended);
    for (uint32_t mode : {em::xml::kFlagReadFile, em::xml::kFlagWriteFile}) {
        CXmlDocument streaming(mode);
        EXPECT_FALSE(streaming.SetDocument(u"<r/>") || streaming.LoadBytes("<r/>") || streaming.LoadFile(u"x"));
        streaming.SetDocFlags(0);
        EXPECT_TRUE(streaming.SetDocument(u"<r/>"));
    }
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
    const std::pair<const char16_t*, uint32_t> charsets[] = {
        {u"utf-8", 65001}, {u"UTF8", 65001}, {u"utf-16", 1200}, {u"unicode", 1200}, {u"ucs-2", 1200},
        {u"utf-16be", 1201}, {u"unicodefffe", 1201}, {u"utf-32", 12000}, {u"utf-32be", 12001}, {u"utf-7", 65000},
        {u"us-ascii", 20127}, {u"ascii", 20127}, {u"ANSI_X3.4-1968", 20127}, {u"iso-8859-1", 28591},
        {u"Latin1", 28591}, {u"windows-1252", 1252}, {u"Shift_JIS", 932}, {u"euc-jp", 51932}, {u"gb2312", 936},
        {u"big5", 950}, {u"koi8-r", 20866}, {u"iso-8859-15", 28605}, {u"utf-9", 0}, {u"utf-8 ", 0}, {u"", 0}};
    for (const auto& [name, page] : charsets) EXPECT_EQ(em::xml::CharsetToCodePage(name), page) << U8(name);
    EXPECT_EQ(em::xml::CharsetToCodePage(std::u16string(120, u'a')), 0u);
    // Entity names are kept in small letters, the capital form's row first.
    EXPECT_EQ(std::tuple(em::xml::detail::LookupEntity(u"oelig"), em::xml::detail::LookupEntity(u"dagger"),
                         em::xml::detail::LookupEntity(u"apos"), em::xml::detail::LookupEntity(u"Amp")),
              std::tuple(0x152u, 0x2021u, 39u, 0u));
}

}  // namespace
