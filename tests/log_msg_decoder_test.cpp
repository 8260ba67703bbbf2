// The log message decoder: the placeholder scanner, entries to lines, and the two text
// operations on message texts from lower modules.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "msglog/log_msg_decoder.h"
#include "msglog/log_msg_file.h"
#include "platform/codepage.h"
#include "tests/support/trace_capture.h"

using namespace em;

namespace {

std::string U8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

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

// Words holding bytes back to back, little-endian (packed texts), after a first word.
std::vector<uint32_t> Pack(uint32_t first, const std::string& bytes) {
    std::vector<uint32_t> words((bytes.size() + 3) / 4, 0);
    for (size_t i = 0; i < bytes.size(); ++i) words[i / 4] |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << (8 * (i % 4));
    words.insert(words.begin(), first);
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

const std::u16string kFan = u"FAN1";

}  // namespace

TEST(FormatSelMessage, PlaceholdersNumberStylesLiteralsAndDesignation) {
    const struct {
        const char* format;
        std::vector<uint32_t> args;
        const std::u16string* designation;
        uint32_t unified;
        const char* want;
        bool packed = false;
    } cases[] = {
        {"Fan %2 (0x%1) failed", {1, 3}, &kFan, 0, "Fan \"FAN1\" (0x1) failed"},
        {"Fan %2 (0x%1) failed", {1, 3}, nullptr, 0, "Fan 3 (0x1) failed"},
        {"10%1", {7}, nullptr, 0, "10%1"},  // '%' right after '0' is copied
        {"0x%1|0X%1", {255}, nullptr, 0, "0xFF|0XFF"},
        {"%1 0x%2 %1", {255, 255}, nullptr, 0, "255 0xFF 255"},  // the style lasts one placeholder
        {"0x12 %1", {255}, nullptr, 0, "0x12 FF"},                // ... and waits for it
        {"00x%1", {255}, nullptr, 0, "00x255"},                   // second '0' leaves the after-zero state
        {"%1%2", {4, 5}, nullptr, 0, "45"},
        {"%10|%01|%0x", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, nullptr, 0, "10|1|%x"},
        {"%1", {4294967295u}, nullptr, 0, "4294967295"},
        {"%3|%99999999999|%", {1, 2}, nullptr, 0, "||%"},  // no such argument: nothing
        {"10%% sure, a $ b $$c", {}, nullptr, 0, "10%% sure, a  b $c"},  // "0%" keeps both signs
        {"ratio %% $", {}, nullptr, 0, "ratio % "},
        {"[$%1][$%2][$%3][$%%]", {0x00420041, 0x41, 0x00430000}, nullptr, 0, "[AB][A][][%]"},
        {"$%4", {1, 2}, nullptr, 0, ""},
        // The designation replaces argument 2 (old style) or 1 (unified), quoted, in any style.
        {"%1 0x%2 %3", {1, 2, 3}, &kFan, 0, "1 0x\"FAN1\" 3"},
        {"%1 %2 %3", {1, 2, 3}, &kFan, 1, "\"FAN1\" 2 3"},
        {"%2", {}, &kFan, 0, "\"FAN1\""},
        {"$%2", {1, 0x00420041}, &kFan, 0, "AB"},  // a dollar placeholder reads the word
        // Packed texts start in the second word and end at the first empty text; an unterminated
        // tail is dropped; with two arguments or fewer nothing is packed.
        {"%1: %2 [%3] $%1", Pack(0xCCCC, std::string("BIOS\0Memory test passed\0", 25)), &kFan, 1,
         "BIOS: Memory test passed [] BIOS", true},
        {"%1|%2", Pack(0xCCCC, std::string("A\0\0B\0", 5)), &kFan, 1, "A|", true},
        {"%1|%2", Pack(0xCCCC, std::string("one\0tail", 8)), &kFan, 1, "one|", true},
        {"<%1>", {0xCCCC, 0x41}, &kFan, 1, "<>", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(U8(CLogMsgDecoder::FormatSelMessage(platform::Utf8ToUtf16(c.format), c.args, c.designation, c.packed,
                                                      c.unified)),
                  c.want)
            << c.format;
}

TEST(DecodeEntry, LinesFromTheMessageFile) {
    TestDecoder old(0), uni(1);
    const std::u16string de = u"de", fr = u"fr";
    EXPECT_EQ(old.decoder.SetLanguage(0), u"en");
    EXPECT_EQ(old.decoder.SetLanguage(0x407), u"de");
    EXPECT_EQ(old.decoder.SetLanguage(0x411), u"");

    EXPECT_EQ(old.Decode(Entry(0x0400, 1, 1, 3), &kFan, &de), "Lüfter \"FAN1\" (0x1) ausgefallen");
    EXPECT_EQ(old.Decode(Entry(0x0400, 1, 1, 3), &kFan, &fr), "Fan \"FAN1\" (0x1) failed");
    EXPECT_EQ(old.Decode(Entry(0x0400, 1, 1, 3)), "Fan 3 (0x1) failed");
    // Further words: n - 1 of them; n = 0 and n > 16 give none; words the bytes lack are not read.
    EXPECT_EQ(old.Decode(Entry(0x0401, 4, 1, 2, {10, 0xAB, 12})), "1/2 words 10 0xAB 12");
    EXPECT_EQ(old.Decode(Entry(0x0401, 3, 1, 2, {10, 0xAB, 12})), "1/2 words 10 0xAB ");
    EXPECT_EQ(old.Decode(Entry(0x0401, 0, 1, 2, {10})), "1/2 words  0x ");
    EXPECT_EQ(old.Decode(Entry(0x0401, 17, 1, 2, std::vector<uint32_t>(16, 9))), "1/2 words  0x ");
    std::vector<uint8_t> cut = Entry(0x0401, 4, 1, 2, {10, 11, 12});
    cut.resize(cut.size() - 3);
    EXPECT_EQ(old.Decode(cut), "1/2 words 10 0xB ");
    // Packed texts under the old-style flag start with the OID word itself.
    EXPECT_EQ(old.Decode(Entry(0x3601, 3, 0xCCCC, 0xCCCC, {0x0058, 0x41})), "[\xEF\xBF\xBD\xEF\xBF\xBD][][]");
    // The line is appended to what the caller already has.
    std::u16string out = u"> ";
    EXPECT_TRUE(old.decoder.DecodeEntry(out, Entry(0x0400, 1, 0, 1), nullptr, nullptr));
    EXPECT_EQ(out, u"> Fan 1 (0x0) failed");

    // Unified codes: group * 0x10000 + low byte, the OID word first; packed only when both words
    // are 0xCCCC.
    EXPECT_EQ(uni.Decode(Entry(0x0401, 2, 7, 3, {1800}), &kFan), "Fan \"FAN1\": 1800 RPM");
    EXPECT_EQ(uni.Decode(Entry(0x0401, 2, 7, 3, {1800})), "Fan 3: 1800 RPM");
    const std::vector<uint32_t> words = Pack(0x0, std::string("BMC\0Update done\0", 16));
    EXPECT_EQ(uni.Decode(Entry(0x3601, 5, 0xCCCC, 0xCCCC, {words.begin() + 1, words.end()})),
              "Firmware BMC reports: Update done");
    EXPECT_EQ(uni.Decode(Entry(0x3601, 2, 0xCCCC, 5, {0x41})), "Firmware 5 reports: 65");
    EXPECT_EQ(uni.Decode(Entry(0x3601, 2, 5, 0xCCCC, {0x41})), "Firmware 52428 reports: 65");
}

TEST(DecodeEntry, ErrorLineTextEntriesAndBadInput) {
    // Text entries: UTF-8 up to the first zero byte within 4 * n bytes from offset 8; an empty
    // text, like an entry too short for its head, appends nothing.
    auto text_entry = [](const std::string& text, uint8_t n) {
        std::vector<uint8_t> e = Entry(0x3F00, n, 0, 0);
        e.resize(8);
        e.insert(e.end(), text.begin(), text.end());
        return e;
    };
    const struct {
        uint32_t unified;
        std::vector<uint8_t> entry;
        const char* want;
    } cases[] = {
        {0, Entry(0x0105, 2, 0, 3, {7}), "ERROR 0x0105 (0x0, 0x3, 0x7)"},
        {0, Entry(0x0105, 0, 0xCCCC, 0xFFFF), "ERROR 0x0105 (0xCCCC, 0xFFFF)"},
        {1, Entry(0x0105, 3, 0, 3, {7, 0xABCDEF01}), "ERROR 0x010005 (0x3, 0x7, 0xABCDEF01)"},
        {1, Entry(0x0105, 0, 0, 3), "ERROR 0x010005 (0x3)"},
        {0, text_entry(std::string("Boot ok \xE2\x9C\x93\0junk", 16), 4), "Boot ok \xE2\x9C\x93"},
        {1, text_entry("no terminator", 2), "no termi"},
        {0, text_entry("abcdef", 200), "abcdef"},  // the area ends with the bytes
        {0, text_entry(std::string("\0abc", 4), 1), ""},
        {0, text_entry("abcd", 0), ""},
        {0, {}, ""},
        {0, {0x00, 0x04, 0, 1, 0, 0, 0, 0, 1, 0, 3}, ""},
    };
    TestDecoder decoders[] = {TestDecoder(0), TestDecoder(1)};
    for (const auto& c : cases) {
        bool appended = false;
        EXPECT_EQ(decoders[c.unified].Decode(c.entry, nullptr, nullptr, &appended), c.want);
        EXPECT_EQ(appended, *c.want != 0) << c.want;
    }
}

TEST(DecodeEntry, ArgumentsInTheTrace) {
    TestDecoder old(0), uni(1);
    const std::u16string de = u"de";
    test::TraceCapture cap(5);
    old.Decode(Entry(0x0400, 3, 1, 3, {0xABCDEF, 9}), &kFan, &de);
    uni.Decode(Entry(0x0401, 2, 1, 3, {5}));
    for (const char* line : {"Number Args (pLogEntry): 3", "Old SEL error code: 0x400 (Lang: \"de\")",
                             ":     Arg[0]: 0x00000001 (1)", ":     Arg[1]: 0x00000003 (3)", ":     Arg[2]: 0x00ABCDEF (11259375)",
                             ":     Arg[3]: 0x00000009 (9)", "Message arguments (4):", ":     Arg[1]: 3 (\"FAN1\")",
                             ":     Arg[3]: 0x9 (9)", "Unified SEL error code: 0x40001 (Lang: \"\")",
                             ":     Arg[0]: 0x00000003 (3)", ":     Arg[1]: 0x00000005 (5)"})
        EXPECT_EQ(cap.Count(line), 1u) << line;
}

TEST(SubstituteStringArgs, Placeholders) {
    const std::map<uint32_t, std::u16string> args = {{1, u"a"}, {2, u"b"}, {12, u"twelve"}};
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"Slot %3 of %1", u"Slot %3 of a"},          // no such argument: written back
        {u"%1%2|%%|%x|%0|100%", u"ab|%|%x|%|100%"},
        {u"%12 %012 end %1", u"twelve twelve end a"},
        {u"0x%1", u"0xa"},  // no number styles here
        {u"", u""},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(CLogMsgDecoder::SubstituteStringArgs(text, args), want);
}

TEST(ReplaceMultiStringParam, ReplacesTheFirstOccurrenceOrEmpties) {
    const std::u16string hd = u"%HD%", desk = u"555-0100", empty;
    std::vector<std::u16string> texts = {u"Call %HD%.", u"Check the fan.", u"%HD% or %HD%"};
    EXPECT_TRUE(CLogMsgDecoder::ReplaceMultiStringParam(texts, &hd, &desk, 0));
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"Call 555-0100.", u"Check the fan.", u"555-0100 or %HD%"}));

    texts = {u"Call %HD%.", u"Check the fan.", u"%HD%"};
    EXPECT_TRUE(CLogMsgDecoder::ReplaceMultiStringParam(texts, &hd, &empty, 1));
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"Call %HD%.", u"Check the fan.", u""}));
    for (const auto& [param, replacement, first] : {std::tuple{&hd, &desk, 1}, {&hd, &desk, 3}, {&empty, &desk, 0},
                                                     {nullptr, &desk, 0}, {&hd, nullptr, 0}})
        EXPECT_FALSE(CLogMsgDecoder::ReplaceMultiStringParam(texts, param, replacement, first));
    EXPECT_EQ(texts[0], u"Call %HD%.");
}
