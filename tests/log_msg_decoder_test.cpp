// The log message decoder: the placeholder scanner, entries to lines, and the two text
// operations on message texts from lower modules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "msglog/log_msg_decoder.h"
#include "msglog/log_msg_file.h"
#include "platform/codepage.h"
#include "tests/support/trace_capture.h"

using namespace em;

namespace {

std::string U8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }
std::u16string W(const std::string& s) { return platform::Utf8ToUtf16(s); }

std::string Fmt(const std::string& format, const std::vector<uint32_t>& args, const std::u16string* designation = nullptr,
                uint32_t unified = 0, bool packed = false) {
    return U8(CLogMsgDecoder::FormatSelMessage(W(format), args, designation, packed, unified));
}

// An old-style entry: code (group << 8 | low byte), n, cabinet, OID, further words.
std::vector<uint8_t> Entry(uint32_t code, uint8_t n, uint16_t cabinet, uint16_t oid, const std::vector<uint32_t>& words = {}) {
    std::vector<uint8_t> e = {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>((code >> 8) & 0x3F), 0, n,
                              0x10, 0x20, 0x30, 0x40,
                              static_cast<uint8_t>(cabinet), static_cast<uint8_t>(cabinet >> 8),
                              static_cast<uint8_t>(oid), static_cast<uint8_t>(oid >> 8)};
    for (uint32_t w : words)
        for (int k = 0; k < 4; ++k) e.push_back(static_cast<uint8_t>(w >> (8 * k)));
    return e;
}

// Words holding bytes back to back, little-endian (packed texts).
std::vector<uint32_t> Pack(const std::string& bytes) {
    std::vector<uint32_t> words((bytes.size() + 3) / 4, 0);
    for (size_t i = 0; i < bytes.size(); ++i) words[i / 4] |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << (8 * (i % 4));
    return words;
}

const char16_t* kMessages = uR"(<EventMsg>
  <LanguageTable><Language locale="0x407" lang="de"/></LanguageTable>
  <Events>
    <Event ErrorCode="0x0400"><Messages lang="en"><LongMsg>Fan %2 (0x%1) failed</LongMsg></Messages>
      <Messages lang="de"><LongMsg>Lüfter %2 (0x%1) ausgefallen</LongMsg></Messages></Event>
    <Event ErrorCode="0x0401"><Messages lang="en"><LongMsg>%1/%2 words %3 0x%4 %5</LongMsg></Messages></Event>
    <Event ErrorCode="0x3601"><Messages lang="en"><LongMsg>[%1][%2][$%3]</LongMsg></Messages></Event>
    <Event ErrorCode="0x040001"><Messages lang="en"><LongMsg>Fan %1: %2 RPM</LongMsg></Messages></Event>
    <Event ErrorCode="0x360001"><Messages lang="en"><LongMsg>Firmware %1 reports: %2</LongMsg></Messages></Event>
  </Events>
</EventMsg>)";

// A decoder whose document holds the test messages (whatever file the search found is replaced).
struct TestDecoder {
    explicit TestDecoder(uint32_t unified) : decoder(unified) {
        EXPECT_TRUE(decoder.MessageFile().Document().SetDocument(kMessages));
    }
    std::string Decode(const std::vector<uint8_t>& entry, const std::u16string* designation = nullptr,
                       const std::u16string* language = nullptr, bool* appended = nullptr) {
        std::u16string out;
        const bool ok = decoder.DecodeEntry(out, entry, designation, language);
        if (appended) *appended = ok;
        return U8(out);
    }
    CLogMsgDecoder decoder;
};

}  // namespace

TEST(FormatSelMessage, NumberStyleAndPlaceholders) {
    const std::u16string fan1 = u"FAN1";
    EXPECT_EQ(Fmt("Fan %2 (0x%1) failed", {1, 3}, &fan1), "Fan \"FAN1\" (0x1) failed");
    EXPECT_EQ(Fmt("Fan %2 (0x%1) failed", {1, 3}), "Fan 3 (0x1) failed");
    EXPECT_EQ(Fmt("10%1", {7}), "10%1");                     // '%' right after '0' is copied
    EXPECT_EQ(Fmt("0x%1", {255}), "0xFF");
    EXPECT_EQ(Fmt("0X%1", {255}), "0XFF");
    EXPECT_EQ(Fmt("%1 0x%2 %1", {255, 255}), "255 0xFF 255");  // the style lasts one placeholder
    EXPECT_EQ(Fmt("0x12 %1", {255}), "0x12 FF");              // ... and waits for it
    EXPECT_EQ(Fmt("00x%1", {255}), "00x255");                 // second '0' leaves the after-zero state
    EXPECT_EQ(Fmt("%1%2", {4, 5}), "45");
    EXPECT_EQ(Fmt("%10|%01|%0x", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), "10|1|%x");
    EXPECT_EQ(Fmt("%1", {4294967295u}), "4294967295");
    EXPECT_EQ(Fmt("%3|%99999999999|%", {1, 2}), "||%");      // no such argument: nothing
}

TEST(FormatSelMessage, LiteralsDollarsAndDesignation) {
    EXPECT_EQ(Fmt("10%% sure, a $ b $$c", {}), "10%% sure, a  b $c");  // "0%" keeps both signs
    EXPECT_EQ(Fmt("ratio %% $", {}), "ratio % ");
    EXPECT_EQ(Fmt("[$%1][$%2][$%3][$%%]", {0x00420041, 0x41, 0x00430000}), "[AB][A][][%]");
    EXPECT_EQ(Fmt("$%4", {1, 2}), "");

    // The designation replaces argument 2 (old style) or 1 (unified), quoted, in any number style.
    const std::u16string d = u"PSU 2";
    EXPECT_EQ(Fmt("%1 0x%2 %3", {1, 2, 3}, &d, 0), "1 0x\"PSU 2\" 3");
    EXPECT_EQ(Fmt("%1 %2 %3", {1, 2, 3}, &d, 1), "\"PSU 2\" 2 3");
    EXPECT_EQ(Fmt("%2", {}, &d, 0), "\"PSU 2\"");
    EXPECT_EQ(Fmt("$%2", {1, 0x00420041}, &d, 0), "AB");  // a dollar placeholder reads the word
}

TEST(FormatSelMessage, PackedTexts) {
    // Texts start in the second argument word; they end at the first empty text, and an
    // unterminated tail is dropped.
    std::vector<uint32_t> args = {0xCCCC};
    for (uint32_t w : Pack(std::string("BIOS\0Memory test passed\0", 25))) args.push_back(w);
    EXPECT_EQ(Fmt("%1: %2 [%3] $%1", args, nullptr, 1, true), "BIOS: Memory test passed [] BIOS");
    args = {0xCCCC};
    for (uint32_t w : Pack(std::string("A\0\0B\0", 5))) args.push_back(w);
    EXPECT_EQ(Fmt("%1|%2", args, nullptr, 1, true), "A|");
    args = {0xCCCC};
    for (uint32_t w : Pack(std::string("one\0tail", 8))) args.push_back(w);
    EXPECT_EQ(Fmt("%1|%2", args, nullptr, 1, true), "one|");
    // Two arguments or fewer: nothing is packed.
    EXPECT_EQ(Fmt("<%1>", {0xCCCC, 0x41}, nullptr, 1, true), "<>");
}

TEST(DecodeEntry, LinesFromTheMessageFile) {
    TestDecoder old(0);
    const std::u16string fan = u"FAN1", de = u"de", fr = u"fr";
    EXPECT_EQ(old.decoder.SetLanguage(0), u"en");
    EXPECT_EQ(old.decoder.SetLanguage(0x407), u"de");
    EXPECT_EQ(old.decoder.SetLanguage(0x411), u"");

    EXPECT_EQ(old.Decode(Entry(0x0400, 1, 1, 3), &fan, &de), "Lüfter \"FAN1\" (0x1) ausgefallen");
    EXPECT_EQ(old.Decode(Entry(0x0400, 1, 1, 3), &fan, &fr), "Fan \"FAN1\" (0x1) failed");
    EXPECT_EQ(old.Decode(Entry(0x0400, 1, 1, 3)), "Fan 3 (0x1) failed");
    // Further words: n - 1 of them; n = 0 and n > 16 give none.
    EXPECT_EQ(old.Decode(Entry(0x0401, 4, 1, 2, {10, 0xAB, 12})), "1/2 words 10 0xAB 12");
    EXPECT_EQ(old.Decode(Entry(0x0401, 3, 1, 2, {10, 0xAB, 12})), "1/2 words 10 0xAB ");
    EXPECT_EQ(old.Decode(Entry(0x0401, 0, 1, 2, {10})), "1/2 words  0x ");
    EXPECT_EQ(old.Decode(Entry(0x0401, 17, 1, 2, std::vector<uint32_t>(16, 9))), "1/2 words  0x ");
    // Words the bytes do not hold are not read.
    std::vector<uint8_t> cut = Entry(0x0401, 4, 1, 2, {10, 11, 12});
    cut.resize(cut.size() - 3);
    EXPECT_EQ(old.Decode(cut), "1/2 words 10 0xB ");

    // Packed texts under the old-style flag start with the OID word itself.
    std::vector<uint32_t> words = Pack(std::string("X\0", 2));
    EXPECT_EQ(old.Decode(Entry(0x3601, 3, 0xCCCC, 0xCCCC, {words[0], 0x41})), "[\xEF\xBF\xBD\xEF\xBF\xBD][][]");

    // The text is appended to what the caller already has.
    std::u16string out = u"> ";
    EXPECT_TRUE(old.decoder.DecodeEntry(out, Entry(0x0400, 1, 0, 1), nullptr, nullptr));
    EXPECT_EQ(out, u"> Fan 1 (0x0) failed");
}

TEST(DecodeEntry, UnifiedCodesAndPackedTexts) {
    TestDecoder uni(1);
    const std::u16string fan = u"FAN1";
    EXPECT_EQ(uni.Decode(Entry(0x0401, 2, 7, 3, {1800}), &fan), "Fan \"FAN1\": 1800 RPM");
    EXPECT_EQ(uni.Decode(Entry(0x0401, 2, 7, 3, {1800})), "Fan 3: 1800 RPM");
    std::vector<uint32_t> words = Pack(std::string("BMC\0Update done\0", 16));
    EXPECT_EQ(uni.Decode(Entry(0x3601, static_cast<uint8_t>(words.size() + 1), 0xCCCC, 0xCCCC, words)),
              "Firmware BMC reports: Update done");
    // Only both words at 0xCCCC make a packed entry.
    EXPECT_EQ(uni.Decode(Entry(0x3601, 2, 0xCCCC, 5, {0x41})), "Firmware 5 reports: 65");
}

TEST(DecodeEntry, ErrorLineTextEntriesAndBadInput) {
    TestDecoder old(0), uni(1);
    EXPECT_EQ(old.Decode(Entry(0x0105, 2, 0, 3, {7})), "ERROR 0x0105 (0x0, 0x3, 0x7)");
    EXPECT_EQ(old.Decode(Entry(0x0105, 0, 0xCCCC, 0xFFFF)), "ERROR 0x0105 (0xCCCC, 0xFFFF)");
    EXPECT_EQ(uni.Decode(Entry(0x0105, 3, 0, 3, {7, 0xABCDEF01})), "ERROR 0x010005 (0x3, 0x7, 0xABCDEF01)");
    EXPECT_EQ(uni.Decode(Entry(0x0105, 0, 0, 3)), "ERROR 0x010005 (0x3)");

    // Text entries: UTF-8 up to the first zero byte within 4 * n bytes from offset 8.
    auto text_entry = [](const std::string& text, uint8_t n) {
        std::vector<uint8_t> e = Entry(0x3F00, n, 0, 0);
        e.resize(8);
        e.insert(e.end(), text.begin(), text.end());
        return e;
    };
    bool appended = false;
    EXPECT_EQ(old.Decode(text_entry(std::string("Boot ok \xE2\x9C\x93\0junk", 16), 4), nullptr, nullptr, &appended),
              "Boot ok \xE2\x9C\x93");
    EXPECT_TRUE(appended);
    EXPECT_EQ(uni.Decode(text_entry("no terminator", 2)), "no termi");
    EXPECT_EQ(old.Decode(text_entry(std::string("\0abc", 4), 1), nullptr, nullptr, &appended), "");
    EXPECT_FALSE(appended);
    EXPECT_EQ(old.Decode(text_entry("abcd", 0), nullptr, nullptr, &appended), "");
    EXPECT_FALSE(appended);
    EXPECT_EQ(old.Decode(text_entry("abcdef", 200)), "abcdef");  // the area ends with the bytes

    // Entries too short for their head append nothing.
    EXPECT_EQ(old.Decode({}, nullptr, nullptr, &appended), "");
    EXPECT_FALSE(appended);
    EXPECT_EQ(old.Decode({0x00, 0x04, 0, 1, 0, 0, 0, 0, 1, 0, 3}, nullptr, nullptr, &appended), "");
    EXPECT_FALSE(appended);
}

TEST(DecodeEntry, Traces) {
    TestDecoder old(0);
    const std::u16string fan = u"FAN1", de = u"de";
    test::TraceCapture cap(5);
    old.Decode(Entry(0x0400, 2, 1, 3, {0xFFFFFFFF}), &fan, &de);
    const std::vector<std::string> want = {
        "\nCLogMsgDecoder      :     Number Args (pLogEntry): 2",
        "\nCLogMsgDecoder      : Old SEL error code: 0x400 (Lang: \"de\")",
        "\nCLogMsgDecoder      : Old SEL args:",
        "\nCLogMsgDecoder      :     Arg[0]: 0x00000001 (1)",
        "\nCLogMsgDecoder      :     Arg[1]: 0x00000003 (3)",
        "\nCLogMsgDecoder      :     Arg[2]: 0xFFFFFFFF (-1)",
        "\nCLogMsgXmlFileImpl  : Search message for error code 0x0400 (Key: \"LongMsg\" Lang: \"de\" Index 0)",
        "\nCLogMsgDecoder      :  Long Message: \"Lüfter %2 (0x%1) ausgefallen\"",
        "\nCLogMsgDecoder      : Format old SEL message:",
        "\nCLogMsgDecoder      :   Message format string: \"Lüfter %2 (0x%1) ausgefallen\"",
        "\nCLogMsgDecoder      :   Message arguments (3):",
        "\nCLogMsgDecoder      :     Arg[0]: 0x1 (1)",
        "\nCLogMsgDecoder      :     Arg[1]: 3 (\"FAN1\")",
        "\nCLogMsgDecoder      :     Arg[2]: 0xFFFFFFFF (-1)",
    };
    EXPECT_EQ(cap.Utf8Lines(), want);

    TestDecoder uni(1);
    cap.Clear();
    uni.Decode(Entry(0x0401, 1, 1, 3));
    const auto lines = cap.Utf8Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], "\nCLogMsgDecoder      : Unified SEL error code: 0x40001 (Lang: \"\")");
    EXPECT_EQ(lines[2], "\nCLogMsgDecoder      : Unified SEL arg(s):");
    EXPECT_EQ(lines[3], "\nCLogMsgDecoder      :     Arg[0]: 0x00000003 (3)");
    EXPECT_EQ(lines[4], "\nCLogMsgXmlFileImpl  : Search message for error code 0x040001 (Key: \"LongMsg\" Lang: \"en\" Index 0)");
}

TEST(SubstituteStringArgs, Placeholders) {
    auto sub = [](const std::string& text, const std::map<uint32_t, std::u16string>& args) {
        return U8(CLogMsgDecoder::SubstituteStringArgs(W(text), args));
    };
    EXPECT_EQ(sub("Slot %2 of %1", {{1, u"A"}}), "Slot %2 of A");
    EXPECT_EQ(sub("%1%2|%%|%x|%0|100%", {{1, u"a"}, {2, u"b"}}), "ab|%|%x|%|100%");
    EXPECT_EQ(sub("%12 %012 end %1", {{12, u"twelve"}, {1, u"one"}}), "twelve twelve end one");
    EXPECT_EQ(sub("0x%1", {{1, u"ff"}}), "0xff");  // no number styles here
    EXPECT_EQ(sub("", {{1, u"a"}}), "");
}

TEST(ReplaceMultiStringParam, ReplacesOrEmpties) {
    const std::u16string hd = u"%HD%", desk = u"555-0100", empty;
    std::vector<std::u16string> texts = {u"Call %HD%.", u"Check the fan.", u"%HD% or %HD%"};
    EXPECT_TRUE(CLogMsgDecoder::ReplaceMultiStringParam(texts, &hd, &desk, 0));
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"Call 555-0100.", u"Check the fan.", u"555-0100 or %HD%"}));

    texts = {u"Call %HD%.", u"Check the fan.", u"%HD%"};
    test::TraceCapture cap(5);
    EXPECT_TRUE(CLogMsgDecoder::ReplaceMultiStringParam(texts, &hd, &empty, 1));
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"Call %HD%.", u"Check the fan.", u""}));
    const std::vector<std::string> want = {
        "\nEM_TARNEL           : search param \"%HD%\" in multi string message: [1]: Check the fan.",
        "\nEM_TARNEL           : search param \"%HD%\" in multi string message: [2]: %HD%",
        "\nEM_TARNEL           :   found message param \"%HD%\" in [2]: %HD%",
        "\nEM_TARNEL           :   -> param \"%HD%\" is empty - remove message from multi string",
    };
    EXPECT_EQ(cap.Utf8Lines(), want);

    EXPECT_FALSE(CLogMsgDecoder::ReplaceMultiStringParam(texts, &hd, &desk, 1));
    EXPECT_FALSE(CLogMsgDecoder::ReplaceMultiStringParam(texts, &hd, &desk, 3));
    EXPECT_FALSE(CLogMsgDecoder::ReplaceMultiStringParam(texts, &empty, &desk, 0));
    EXPECT_FALSE(CLogMsgDecoder::ReplaceMultiStringParam(texts, nullptr, &desk, 0));
    EXPECT_FALSE(CLogMsgDecoder::ReplaceMultiStringParam(texts, &hd, nullptr, 0));
    EXPECT_EQ(texts[0], u"Call %HD%.");
}
