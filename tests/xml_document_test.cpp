// XML reader: index, navigation, reading, syntax errors.
#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "xml/xml_document.h"

namespace {

using em::xml::CXmlDocument;

std::string U8(std::u16string_view s) { return em::platform::Utf16ToUtf8(s); }

constexpr char16_t kMessages[] =
    u"<?xml version=\"1.0\"?>\n"
    u"<EventMsg>\n"
    u" <LanguageTable><Language locale=\"0x409\" lang=\"en\"/><Language locale=\"0x407\" lang=\"de\"/></LanguageTable>\n"
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

TEST(XmlNavigation, MessageFileWalk) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocument(kMessages)) << U8(doc.GetResult());
    EXPECT_EQ(doc.GetResult(), u"");

    // The lookup pattern of the message files: down by name, filter on an attribute, read data.
    doc.ResetPosition();
    ASSERT_TRUE(doc.FindElement(u"EventMsg"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(u"Events"));
    ASSERT_TRUE(doc.IntoElement());
    while (doc.FindElement(u"Event") && doc.GetAttribute(u"ErrorCode") != u"0x0002") {
    }
    ASSERT_EQ(doc.GetAttribute(u"ErrorCode"), u"0x0002");
    ASSERT_TRUE(doc.IntoElement());
    while (doc.FindElement(u"Messages") && doc.GetAttribute(u"lang") != u"en") {
    }
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(u"LongMsg"));
    ASSERT_TRUE(doc.FindElement(u"LongMsg"));  // index 1
    EXPECT_EQ(doc.GetData(), u"two b");
    EXPECT_FALSE(doc.FindElement(u"LongMsg"));
    EXPECT_EQ(doc.GetData(), u"two b") << "a failed search leaves the position";
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(doc.OutOfElement());
    EXPECT_EQ(doc.GetTagName(), u"EventMsg");
    EXPECT_FALSE(doc.OutOfElement()) << "document level";
    EXPECT_FALSE(doc.FindElement(u"EventMsg")) << "the root has no sibling";
}

TEST(XmlNavigation, RepeatedFindVisitsSiblingsInOrder) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocument(kMessages));
    auto into_events = [&] {
        doc.ResetPosition();
        doc.FindElement(u"EventMsg");
        doc.IntoElement();
        doc.FindElement(u"Events");
        doc.IntoElement();
    };
    into_events();
    std::u16string codes;
    while (doc.FindElement(u"Event")) codes += doc.GetAttribute(u"ErrorCode") + u",";
    EXPECT_EQ(codes, u"0x0001,0x0002,0x0003,");
    EXPECT_EQ(doc.GetAttribute(u"ErrorCode"), u"0x0003");

    // Out and back in: the search goes on after the last element found.
    doc.OutOfElement();
    doc.IntoElement();
    EXPECT_FALSE(doc.FindElement(nullptr));

    // Any element: null, empty and "*".
    into_events();
    int any = 0;
    while (doc.FindElement(nullptr)) ++any;
    EXPECT_EQ(any, 4);
    into_events();
    EXPECT_TRUE(doc.FindElement(u"*"));
    EXPECT_TRUE(doc.FindElement(u""));
    EXPECT_EQ(doc.GetTagName(), u"Other");
}

TEST(XmlNavigation, IntoAndOutOfElementKeepTheChildPosition) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocument(u"<r><a><x/><y/></a><b/></r>"));
    EXPECT_FALSE(doc.IntoElement()) << "no current element";
    EXPECT_FALSE(doc.OutOfElement());
    ASSERT_TRUE(doc.FindElement(u"r"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(u"a"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(u"x"));
    ASSERT_TRUE(doc.OutOfElement());
    EXPECT_EQ(doc.GetTagName(), u"a");
    // Back in: the remembered child becomes current, so the search goes on after x.
    ASSERT_TRUE(doc.IntoElement());
    EXPECT_EQ(doc.GetTagName(), u"x");
    ASSERT_TRUE(doc.FindElement(nullptr));
    EXPECT_EQ(doc.GetTagName(), u"y");
    ASSERT_TRUE(doc.OutOfElement());
    ASSERT_TRUE(doc.FindElement(nullptr));
    EXPECT_EQ(doc.GetTagName(), u"b");
    EXPECT_FALSE(doc.IntoElement() && doc.FindElement(nullptr)) << "b has no children";
}

TEST(XmlNavigation, NamesCompareExactlyUnlessIgnoreCase) {
    const char16_t* text = u"<Root><Item Key=\"v\"/></ROOT>";
    CXmlDocument exact;
    EXPECT_FALSE(exact.SetDocument(text)) << "</ROOT> does not close <Root>";
    EXPECT_NE(exact.GetResult().find(u"<lone_end_tag tagname=\"ROOT\" offset=\"21\"/>"), std::u16string::npos)
        << U8(exact.GetResult());
    exact.ResetPosition();
    EXPECT_FALSE(exact.FindElement(u"root"));

    CXmlDocument folded(em::xml::kFlagIgnoreCase);
    ASSERT_TRUE(folded.SetDocument(text)) << U8(folded.GetResult());
    ASSERT_TRUE(folded.FindElement(u"ROOT"));
    folded.IntoElement();
    ASSERT_TRUE(folded.FindElement(u"item"));
    EXPECT_EQ(folded.GetAttribute(u"KEY"), u"v");
}

TEST(XmlIndex, LinksAndMarks) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.SetDocument(u"<a><b><c></b><d/></a>"));
    const auto& ix = doc.GetIndex();
    ASSERT_EQ(ix.size(), 5u);
    // 1 a, 2 b, 3 c, 4 d
    EXPECT_EQ(ix[0].iFirstChild, 1u);
    EXPECT_EQ(ix[1].iFirstChild, 2u);
    EXPECT_EQ(ix[2].iFirstChild, 3u);
    EXPECT_EQ(ix[2].iNext, 4u);
    EXPECT_EQ(ix[4].iPrev, 2u);
    EXPECT_EQ(ix[4].iParent, 1u);
    EXPECT_EQ(ix[3].nLevel, 3u);
    EXPECT_TRUE(ix[3].nFlags & CXmlDocument::kElemUnended);
    EXPECT_EQ(ix[3].nLength, 3u) << "c ends where </b> begins";
    EXPECT_EQ(ix[2].nLength, 10u);
    EXPECT_EQ(ix[2].nEndTagLen, 4u);
    EXPECT_TRUE(ix[4].nFlags & CXmlDocument::kElemEmptyTag);
    EXPECT_EQ(doc.GetResult(), u"<unended_start_tag tagname=\"c\" offset=\"6\" offset2=\"9\"/>");
}

TEST(XmlData, TextCDataCommentsAndChildren) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocument(
        u"<r><t>a &lt;<!-- no -->b<?pi x?><![CDATA[ &amp;<x> ]]>&amp;c</t><p><q/>text</p><e/><f></f></r>"))
        << U8(doc.GetResult());
    doc.FindElement(u"r");
    doc.IntoElement();
    doc.FindElement(u"t");
    EXPECT_EQ(doc.GetData(), u"a <b &amp;<x> &c");
    doc.FindElement(u"p");
    EXPECT_EQ(doc.GetData(), u"") << "element with a child element";
    doc.FindElement(u"e");
    EXPECT_EQ(doc.GetData(), u"");
    doc.FindElement(u"f");
    EXPECT_EQ(doc.GetData(), u"");
}

TEST(XmlData, FirstTagSyntaxStaysText) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.SetDocument(u"<g>1 < 2 &amp; 3</g>"));
    EXPECT_EQ(doc.GetResult(), u"<first_tag_syntax offset=\"5\"/>");
    doc.FindElement(u"g");
    EXPECT_EQ(doc.GetData(), u"1 < 2 & 3");
}

TEST(XmlData, References) {
    struct Case {
        const char16_t* in;
        const char16_t* out;
    } cases[] = {
        {u"&lt;&amp;&gt;&quot;&apos;", u"<&>\"'"},
        {u"&#65;&#x41;&#X41;&#0065;", u"AAAA"},
        {u"&LT;&Amp;", u"<&"},                        // names are lowercased for matching
        {u"&agrave;&Agrave;", u"\u00C0\u00C0"},       // the capital form is stored first
        {u"&euro;&thetasym;&hearts;", u"\u20AC\u03D1\u2665"},
        {u"&#x1F600;", u"\U0001F600"},                // surrogate pair
        {u"&#x001F600;", u"\U0001F600"},              // nine characters between & and ;
        {u"&#x0001F600;", u"&#x0001F600;"},           // ten: not a reference
        {u"&nosuch; &#0; &#; &#x; &#12a; & x &lt", u"&nosuch; &#0; &#; &#x; &#12a; & x &lt"},
        {u"&#x110000;", u"&#x110000;"},
        {u"&&lt;", u"&<"},
    };
    for (const auto& c : cases) EXPECT_EQ(CXmlDocument::DecodeText(c.in), c.out) << U8(c.in);
}

TEST(XmlData, WhiteSpaceFlags) {
    const char16_t* text = u"<r a=\"  x \t y  \"> \r\n one \n\n two&#32; </r>";
    CXmlDocument plain, trim(em::xml::kFlagTrimWhiteSpace), collapse(em::xml::kFlagCollapseWhiteSpace);
    for (CXmlDocument* d : {&plain, &trim, &collapse}) {
        ASSERT_TRUE(d->SetDocument(text));
        d->FindElement(u"r");
    }
    EXPECT_EQ(plain.GetData(), u" \r\n one \n\n two  ");
    EXPECT_EQ(plain.GetAttribute(u"a"), u"  x \t y  ");
    EXPECT_EQ(trim.GetData(), u"one \n\n two");
    EXPECT_EQ(trim.GetAttribute(u"a"), u"x \t y");
    EXPECT_EQ(collapse.GetData(), u"one two");
    EXPECT_EQ(collapse.GetAttribute(u"a"), u"x y");
}

TEST(XmlAttributes, SyntaxVariants) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocument(
        u"<r d=\"a>b\" s='it\"s' u=bare  n e = \"sp\" amp=\"&lt;&#x3e;\" last='/>'/>"))
        << U8(doc.GetResult());
    ASSERT_TRUE(doc.FindElement(u"r"));
    EXPECT_EQ(doc.GetIndex()[1].nFlags & CXmlDocument::kElemEmptyTag, CXmlDocument::kElemEmptyTag);
    EXPECT_EQ(doc.GetAttribute(u"d"), u"a>b");
    EXPECT_EQ(doc.GetAttribute(u"s"), u"it\"s");
    EXPECT_EQ(doc.GetAttribute(u"u"), u"bare");
    EXPECT_EQ(doc.GetAttribute(u"n"), u"");
    EXPECT_EQ(doc.GetAttribute(u"e"), u"sp");
    EXPECT_EQ(doc.GetAttribute(u"amp"), u"<>");
    EXPECT_EQ(doc.GetAttribute(u"last"), u"/>");
    EXPECT_EQ(doc.GetAttribute(u"missing"), u"");
    EXPECT_EQ(doc.GetAttribute(u"D"), u"") << "attribute names are case-sensitive";
    std::u16string names;
    for (size_t i = 0; !doc.GetAttributeName(i).empty(); ++i) names += std::u16string(doc.GetAttributeName(i)) + u" ";
    EXPECT_EQ(names, u"d s u n e amp last ");
    doc.ResetPosition();
    EXPECT_EQ(doc.GetAttribute(u"d"), u"") << "no current element";
}

TEST(XmlNodes, ProcessingInstructionAndOtherNodes) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocument(
        u"<?xml version=\"1.0\" encoding='ISO-8859-1'?><!-- c1 --><r>x<?style href=\"a.css\"?><![CDATA[<c>]]></r>"));
    ASSERT_EQ(doc.FindNode(em::xml::kNodeProcessingInstruction), em::xml::kNodeProcessingInstruction);
    EXPECT_EQ(doc.GetTagName(), u"xml");
    EXPECT_EQ(doc.GetAttribute(u"encoding"), u"ISO-8859-1");
    EXPECT_EQ(doc.GetAttribute(u"version"), u"1.0");
    ASSERT_EQ(doc.FindNode(em::xml::kNodeComment), em::xml::kNodeComment);
    EXPECT_EQ(doc.GetData(), u" c1 ");
    // FindElement goes on after a node that is not an element.
    ASSERT_TRUE(doc.FindElement(u"r"));
    ASSERT_TRUE(doc.IntoElement());
    EXPECT_EQ(doc.FindNode(em::xml::kNodeText), em::xml::kNodeText);
    EXPECT_EQ(doc.GetData(), u"x");
    EXPECT_EQ(doc.FindNode(em::xml::kNodeProcessingInstruction | em::xml::kNodeCData),
              em::xml::kNodeProcessingInstruction);
    EXPECT_EQ(doc.GetAttribute(u"href"), u"a.css");
    EXPECT_EQ(doc.FindNode(0xFF), em::xml::kNodeCData);
    EXPECT_EQ(doc.GetData(), u"<c>");
    EXPECT_EQ(doc.FindNode(0xFF), 0u);
    EXPECT_TRUE(doc.OutOfElement());
    EXPECT_EQ(doc.GetTagName(), u"r");
}

TEST(XmlSyntax, EveryErrorKindIsLogged) {
    struct Case {
        const char16_t* text;
        const char16_t* log;
    } cases[] = {
        {u"<r><!x></r>", u"<exclamation_tag_syntax offset=\"3\"/>"},
        {u"<r><!-x--></r>", u"<comment_tag_syntax offset=\"3\"/>"},
        {u"<r><![X[y]]></r>", u"<cdata_section_syntax offset=\"3\"/>"},
        {u"<r>< r></r>", u"<first_tag_syntax offset=\"3\"/>"},
        {u"<!DOCTYPE r [<!BAD x><!ENTITY e \"v\">]><r/>", u"<doctype_tag_syntax offset=\"13\"/>"},
        {u"<r><!-- open", u"<unterminated_tag_syntax type=\"comment\" offset=\"3\"/>"
                          u"<unended_start_tag tagname=\"r\" offset=\"0\" offset2=\"12\"/>"},
        {u"<r/><?pi", u"<unterminated_tag_syntax type=\"processing_instruction\" offset=\"4\"/>"},
        {u"<r/><![CDATA[x", u"<unterminated_tag_syntax type=\"cdata_section\" offset=\"4\"/>"},
        {u"<r/><!DOCTYPE [ ", u"<unterminated_tag_syntax type=\"document_type\" offset=\"4\"/>"},
        {u"<r/><!DOCTYPE [<!-", u"<unterminated_tag_syntax type=\"document_type\" offset=\"4\"/>"},
        {u"<r/><x a='>", u"<unterminated_tag_syntax type=\"start_tag\" offset=\"4\"/>"},
        {u"<r/></r", u"<unterminated_tag_syntax type=\"end_tag\" offset=\"4\"/>"},
        {u"<r/><", u"<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
        {u"<r/><q/>", u"<root_has_sibling offset=\"4\"/>"},
        {u"just text", u"<no_root_element/>"},
        {u"<a><b></a>", u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"6\"/>"},
        {u"<a></b></a>", u"<lone_end_tag tagname=\"b\" offset=\"3\"/>"},
        {u"<a><b><a><c></a></x></B></b></a>", u"<unended_start_tag tagname=\"c\" offset=\"9\" offset2=\"12\"/>"
                                             u"<lone_end_tag tagname=\"x\" offset=\"16\"/><lone_end_tag tagname=\"B\" offset=\"20\"/>"},
    };
    for (const auto& c : cases) {
        CXmlDocument doc;
        EXPECT_FALSE(doc.SetDocument(c.text)) << U8(c.text);
        EXPECT_EQ(doc.GetResult(), c.log) << U8(c.text);
    }
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

    // After an end tag that does not match the innermost element, names are still matched by
    // exact name, or ignoring case under the flag.
    CXmlDocument folded(em::xml::kFlagIgnoreCase);
    EXPECT_FALSE(folded.SetDocument(u"<a><b><c></B></x></A><a></a>"));
    EXPECT_EQ(folded.GetResult(), u"<unended_start_tag tagname=\"c\" offset=\"6\" offset2=\"9\"/>"
                                  u"<lone_end_tag tagname=\"x\" offset=\"13\"/><root_has_sibling offset=\"21\"/>");
}

TEST(XmlSyntax, WellFormedOddities) {
    const char16_t* ok[] = {
        u"<!DOCTYPE r [<!ELEMENT r (#PCDATA)><!ATTLIST r a CDATA \"x>y\"><!-- ]> --><?p ]>?>]><r/>",
        u"<!DOCTYPE html PUBLIC \"-//x//y>\" \"z\"><r/>",
        u"\n<r>\n</r>\n<!-- after -->\n",
        u"<_a:b-c.d/>",
        u"<\u00e9l\u00e9ment/>",
    };
    for (const char16_t* t : ok) {
        CXmlDocument doc;
        EXPECT_TRUE(doc.SetDocument(t)) << U8(t) << " " << U8(doc.GetResult());
    }
    CXmlDocument empty;
    EXPECT_FALSE(empty.SetDocument(nullptr));
    EXPECT_EQ(empty.GetResult(), u"") << "an empty text gets no entries";
    EXPECT_FALSE(empty.FindElement(nullptr));
}

TEST(XmlSyntax, IllFormedDocumentStillNavigates) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.SetDocument(u"<a><b>text<c>more</a><z/>"));
    ASSERT_TRUE(doc.FindElement(u"a"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(u"b"));
    EXPECT_EQ(doc.GetData(), u"") << "b holds c";
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(u"c"));
    EXPECT_EQ(doc.GetData(), u"more");
    doc.ResetPosition();
    ASSERT_TRUE(doc.FindElement(u"z")) << "a root sibling is still indexed";
}

TEST(XmlResult, LogStopsGrowingAtItsLimit) {
    std::u16string text = u"<r>";
    for (int i = 0; i < 200; ++i) text += u"</x>";
    text += u"</r>";
    CXmlDocument doc;
    EXPECT_FALSE(doc.SetDocument(text));
    const std::u16string& log = doc.GetResult();
    EXPECT_GE(log.size(), 1000u);
    EXPECT_LT(log.size(), 1000u + 50u) << "no entry after the limit is reached";
    EXPECT_EQ(log.substr(log.size() - 2), u"/>");
}

TEST(XmlResult, StreamingModesRefuse) {
    CXmlDocument doc(em::xml::kFlagReadFile);
    EXPECT_FALSE(doc.SetDocument(u"<r/>"));
    EXPECT_FALSE(doc.LoadBytes("<r/>"));
    doc.SetDocFlags(0);
    EXPECT_TRUE(doc.SetDocument(u"<r/>"));
}

}  // namespace
