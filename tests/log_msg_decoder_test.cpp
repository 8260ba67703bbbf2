// The log message decoder (the placeholder scanner, entries to lines, the text operations on
// message texts from lower modules) and the message files it reads: where they are searched, the
// language table, the message search with its first-match rules and the English fallback.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "msglog/log_msg_decoder.h"
#include "msglog/log_msg_file.h"
#include "platform/codepage.h"
#include "platform/library.h"
#include "platform/sysinfo.h"
#include "tests/diag_test_util.h"
#include "tests/support/platform_util.h"
#include "tests/support/trace_capture.h"

using namespace em;
namespace fs = std::filesystem;

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

// The current directory changed for the lifetime of the object.
struct ScopedCwd {
    explicit ScopedCwd(const fs::path& dir) : old(fs::current_path()) { fs::current_path(dir); }
    ~ScopedCwd() {
        std::error_code ec;
        fs::current_path(old, ec);
    }
    fs::path old;
};

std::string Ev(const std::string& code, const std::string& text) {
    return "<Event ErrorCode=\"" + code + "\"><Messages lang=\"en\"><LongMsg>" + text + "</LongMsg></Messages></Event>";
}
std::string File(const std::string& events) { return "<EventMsg><Events>" + events + "</Events></EventMsg>"; }

// A file exercising the lookup rules: duplicates, letter case, digit counts, foreign elements.
const char16_t* kRulesFile = uR"(<?xml version="1.0"?>
<EventMsg>
  <Other/>
  <LanguageTable>
    <Language locale="0x407" lang="de"/><Language locale="0X409" lang="en-first"/>
    <Language locale="0x409" lang="en-second"/><Language locale="0x411"/>
  </LanguageTable>
  <Events>
    <Event ErrorCode="0x0101">
      <Messages lang="EN"><ShortMsg>s0</ShortMsg><LongMsg>first en</LongMsg><Note/><LongMsg>first en, second text</LongMsg></Messages>
      <Messages lang="en"><LongMsg>never reached</LongMsg></Messages></Event>
    <Event ErrorCode="0x0101"><Messages lang="de"><LongMsg>second event de</LongMsg></Messages></Event>
    <Event ErrorCode="0x0abc">
      <Messages lang="en"><LongMsg>lower-case code</LongMsg></Messages><Messages lang="de"><LongMsg>Kleinbuchstaben</LongMsg></Messages>
      <Messages lang="zh"><LongMsg>zh text</LongMsg></Messages><Messages lang=""><LongMsg>no language</LongMsg></Messages></Event>
    <Event ErrorCode="0x102"><Messages lang="en"><LongMsg>three digits</LongMsg></Messages></Event>
    <Event ErrorCode="0x040001"><Messages lang="en"><LongMsg>unified fan</LongMsg></Messages></Event>
  </Events>
</EventMsg>)";

}  // namespace

TEST(FormatSelMessage, PlaceholdersNumberStylesLiteralsAndDesignation) {
    const struct {
        const char* format;
        std::vector<uint32_t> args;
        const char* want;
        const std::u16string* designation = nullptr;
        uint32_t unified = 0;
        bool packed = false;
    } cases[] = {
        {"10%1", {7}, "10%1"},  // '%' right after '0' is copied
        {"0x%1|0X%1", {255}, "0xFF|0XFF"},
        {"%1 0x%2 %1", {255, 255}, "255 0xFF 255"},  // the style lasts one placeholder
        {"0x12 %1", {255}, "0x12 FF"},                // ... and waits for it
        {"%1%2", {4, 5}, "45"},
        {"%10|%01|%0x", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, "10|1|%x"},
        {"%1", {4294967295u}, "4294967295"},
        {"%3|%99999999999|%", {1, 2}, "||%"},  // no such argument: nothing
        {"10%% sure, a $ b $$c", {}, "10%% sure, a  b $c"},  // "0%" keeps both signs
        {"[$%1][$%2][$%3][$%%]", {0x0042FF21, 0x41, 0x00430000}, "[\xEF\xBC\xA1" "B][A][][%]"},
        // The designation replaces argument 2 (old style) or 1 (unified), quoted, in any style.
        {"%1 0x%2 %3", {1, 2, 3}, "1 0x\"FAN1\" 3", &kFan},
        {"%1 %2 %3", {1, 2, 3}, "\"FAN1\" 2 3", &kFan, 1},
        {"$%2", {1, 0x00420041}, "AB", &kFan},  // a dollar placeholder reads the word
        // Packed texts start in the second word and end at the first empty text; an unterminated
        // tail is dropped; with two arguments or fewer nothing is packed.
        {"%1: %2 [%3] $%1", Pack(0xCCCC, std::string("BIOS\0Memory test passed\0", 25)), "BIOS: Memory test passed [] BIOS",
         &kFan, 1, true},
        {"%1|%2", Pack(0xCCCC, std::string("one\0tail", 8)), "one|", &kFan, 1, true},
        {"<%1>", {0xCCCC, 0x41}, "<>", &kFan, 1, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(U8(CLogMsgDecoder::FormatSelMessage(platform::Utf8ToUtf16(c.format), c.args, c.designation, c.packed,
                                                      c.unified)),
                  c.want)
            << c.format;
    std::vector<uint32_t> words = {1, 0x41, 0x42};
    words.pop_back();  // a dollar placeholder one past the end reads nothing, not the 0x42 left there
    EXPECT_EQ(U8(CLogMsgDecoder::FormatSelMessage(u"$%3|$%4", words, nullptr, false, 0)), "|");
}

TEST(DecodeEntry, LinesFromTheMessageFileAndArgumentsInTheTrace) {
    TestDecoder old(0), uni(1);
    const std::u16string de = u"de";
    {
        // Each argument is listed when read and when formatted.
        test::TraceCapture cap(5);
        old.Decode(Entry(0x0400, 3, 1, 3, {0xABCDEF, 9}), &kFan, &de);
        uni.Decode(Entry(0x0401, 2, 1, 3, {5}));
        for (const char* line : {"Old SEL error code: 0x400 (Lang: \"de\")", ":     Arg[1]: 3 (\"FAN1\")"})
            EXPECT_EQ(cap.Count(line), 1u) << line;
        EXPECT_EQ(cap.Count(":     Arg["), 12u);  // four and two arguments, each listed when read and when formatted
    }
    EXPECT_EQ(old.decoder.SetLanguage(0), u"en");

    EXPECT_EQ(old.Decode(Entry(0x0400, 1, 1, 3), &kFan, &de), "Lüfter \"FAN1\" (0x1) ausgefallen");
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
    EXPECT_EQ(uni.Decode(Entry(0x0401, 2, 7, 3, {1800})), "Fan 3: 1800 RPM");
    const std::vector<uint32_t> words = Pack(0x0, std::string("BMC\0Update done\0", 16));
    EXPECT_EQ(uni.Decode(Entry(0x3601, 5, 0xCCCC, 0xCCCC, {words.begin() + 1, words.end()})),
              "Firmware BMC reports: Update done");
    EXPECT_EQ(uni.Decode(Entry(0x3601, 2, 0xCCCC, 5, {0x41})), "Firmware 5 reports: 65");
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
        {1, Entry(0x0105, 3, 0, 3, {7, 0xABCDEF01}), "ERROR 0x010005 (0x3, 0x7, 0xABCDEF01)"},
        {0, text_entry(std::string("Boot ok \xE2\x9C\x93\0junk", 16), 4), "Boot ok \xE2\x9C\x93"},
        {1, text_entry("no terminator", 2), "no termi"},
        {0, text_entry("abcdef", 200), "abcdef"},  // the area ends with the bytes
        {0, text_entry(std::string("\0abc", 4), 1), ""},
        {0, {0x00, 0x04, 0, 1, 0, 0, 0, 0, 1, 0, 3}, ""},
    };
    TestDecoder decoders[] = {TestDecoder(0), TestDecoder(1)};
    for (const auto& c : cases) {
        bool appended = false;
        EXPECT_EQ(decoders[c.unified].Decode(c.entry, nullptr, nullptr, &appended), c.want);
        EXPECT_EQ(appended, *c.want != 0) << c.want;
    }
}

TEST(SubstituteStringArgs, Placeholders) {
    const std::map<uint32_t, std::u16string> args = {{1, u"a"}, {2, u"b"}, {12, u"twelve"}};
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"%1%2|%%|%x|%0|100%", u"ab|%|%x|%|100%"},
        {u"%12 %012 end %1", u"twelve twelve end a"},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(CLogMsgDecoder::SubstituteStringArgs(text, args), want);
}

TEST(LogMsgFile, LanguageTableFirstMatchAtEveryLevelAndEnglishFallback) {
    CLogMsgFile file;
    CLogMsgXmlFileImpl& doc = file.Document();
    ASSERT_TRUE(doc.SetDocument(kRulesFile));
    // "0X409" matches and only the first counts; 0x411 has no lang; "0x7" is not "0x407".
    const std::pair<uint16_t, const char16_t*> languages[] = {
        {0x407, u"de"}, {0x409, u"en-first"}, {0x411, u""}, {0x40C, u""}, {0x0007, u""}, {0x407, u"de"}};
    for (const auto& [id, lang] : languages) EXPECT_EQ(doc.FindLanguageName(id), lang) << id;
    const std::u16string de = u"de", en = u"en", empty, fr = u"fr", zh = u"ZH";
    const struct {
        const char16_t* code;  // null: the code number formatted by the file
        uint32_t number;
        const std::u16string* lang;
        uint32_t index;
        const char16_t* key;
        const char16_t* want;
    } cases[] = {
        // The first Event with the code is the only one searched, also for the language that only
        // the second one has; the first Messages of a language ("EN" matches "en"), the index-th key.
        {u"0x0101", 0, nullptr, 0, u"LongMsg", u"first en"},
        {u"0x0101", 0, &en, 1, u"LongMsg", u"first en, second text"},
        {u"0x0101", 0, &en, 2, u"LongMsg", u""},
        {u"0x0101", 0, &de, 0, u"LongMsg", u""},
        {nullptr, 0x0101, &de, 0, u"LongMsg", u"first en"},
        // Codes: letter case does not matter, digit count does.
        {nullptr, 0x0ABC, &de, 0, u"LongMsg", u"Kleinbuchstaben"},
        {nullptr, 0x0ABC, &zh, 0, u"LongMsg", u"zh text"},
        {nullptr, 0x0102, nullptr, 0, u"LongMsg", u""},
        {u"0x102", 0, nullptr, 0, u"LongMsg", u"three digits"},
        // A language without Messages gets English; an empty language matches lang="" only.
        {nullptr, 0x0ABC, &fr, 0, u"LongMsg", u"lower-case code"},
        {nullptr, 0x0ABC, &empty, 0, u"LongMsg", u"no language"},
        {nullptr, 0x0101, &empty, 0, u"LongMsg", u""},
    };
    for (const auto& c : cases) {
        const std::u16string got = c.code ? file.FindMessage(c.code, c.key, c.lang, c.index)
                                           : file.GetMessageText(c.number, c.key, c.lang, c.index);
        EXPECT_EQ(got, c.want) << U8(c.want);
        EXPECT_FALSE(doc.OutOfElement());  // the search leaves every level it entered
    }
    // English is searched again only for another language.
    test::TraceCapture cap(4);
    file.GetMessageText(0x0101, u"LongMsg", &fr, 3);
    file.GetMessageText(0x0999, u"LongMsg", &en, 0);
    EXPECT_EQ(cap.Count("Search message for error code"), 3u);

    ASSERT_TRUE(doc.SetDocument(u"<EventMsg><Events/></EventMsg>"));
    EXPECT_EQ(doc.FindLanguageName(0x407), u"");
}

TEST(LogMsgFile, ReloadingSearchesTheNewText) {
    // Every load parses through one place, which drops the code index of the old text. The new
    // text has the codes swapped: an index left over would find the other message. Events
    // without ErrorCode and elements of other names are passed over.
    CLogMsgXmlFileImpl doc;
    ASSERT_TRUE(doc.LoadBytes(File(Ev("0x0001", "old one") + Ev("0x0002", "old two"))));
    EXPECT_EQ(doc.FindMessage(u"0x0002", u"LongMsg", nullptr, 0), u"old two");
    ASSERT_TRUE(doc.LoadBytes(File("<X ErrorCode=\"0x0002\"/><Event/>" + Ev("0x0002", "new two") + Ev("0x0001", "new one"))));
    EXPECT_EQ(doc.FindMessage(u"0x0002", u"LongMsg", nullptr, 0), u"new two");
    EXPECT_EQ(doc.FindMessage(u"0x0001", u"LongMsg", nullptr, 0), u"new one");
}

TEST(LogMsgFileSearch, ModuleThenCurrentThenRegisteredDirectory) {
    test::TempDir cwd, bin, mod;
    test::ScopedRegistry reg(bin, "Windows Registry Editor Version 5.00\n"
                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Osterbrink\\Management\\Kindrel\\Setup]\n"
                                  "\"BinRoot\"=\"" + test::RegString(bin.File("")) + "\"\n");
    ScopedCwd go(cwd.File(""));
    std::u16string exe;
    ASSERT_TRUE(platform::GetExecutablePath(exe));
    const std::string exe_path = (fs::path(U8(exe)).parent_path() / "ERRMSG.XML").string();
    const std::string cwd_path = fs::current_path().string() + test::Sep() + "ERRMSG.XML";
    const std::string bin_path = fs::path(bin.File("")).parent_path().string() + test::Sep() + "ERRMSG.XML";
    // A copy of the module library in a folder of its own, under a one-letter name so that the
    // directory is cut at the right separator; an address inside it names the module.
    const fs::path mod_dir = fs::canonical(mod.File(""));
#ifdef _WIN32
    const char* const name = "m.dll";  // the loader adds the suffix to a name without one
#else
    const char* const name = "m";
#endif
    fs::copy_file(EM_DEFAULT_LIBRARY, mod_dir / name);
    platform::Library lib;
    ASSERT_TRUE(lib.Open((mod_dir / name).string())) << lib.Error();
    test::WriteBytes((mod_dir / "EVENTMSG.XML").string(), File(Ev("0x040000", "from the module directory")));
    test::WriteBytes(cwd.File("EVENTMSG.XML"), File(Ev("0x040000", "from the current directory")));
    CLogMsgFile beside_module;
    EXPECT_TRUE(beside_module.OpenMessageFile(1, lib.Symbol("EM_GetModuleName")));
    EXPECT_EQ(beside_module.GetMessageText(0x040000, u"LongMsg", nullptr, 0), u"from the module directory");
    test::TraceCapture cap(4);
    CLogMsgFile file;
    EXPECT_FALSE(file.OpenMessageFile(0));  // nowhere: three tries, the last path reported
    EXPECT_EQ(file.Path(), platform::Utf8ToUtf16(bin_path));
    for (const std::string& path : {exe_path, cwd_path, bin_path}) EXPECT_EQ(cap.Count("Try to open file \"" + path + "\""), 1u);
    EXPECT_EQ(cap.Count("Event messages not opened in \"" + bin_path + "\"!"), 1u);
    // A file in the current directory comes first; one that is not well-formed does not count.
    const std::pair<const char*, const char*> steps[] = {
        {nullptr, "registered"}, {"<EventMsg><Events>", "registered"}, {"current", "current"}};
    test::WriteBytes(bin.File("ERRMSG.XML"), File(Ev("0x0400", "registered")));
    for (const auto& [in_cwd, want] : steps) {
        if (in_cwd) test::WriteBytes(cwd.File("ERRMSG.XML"), in_cwd[0] == '<' ? in_cwd : File(Ev("0x0400", in_cwd)));
        EXPECT_TRUE(file.OpenMessageFile(0));
        EXPECT_EQ(U8(file.GetMessageText(0x0400, u"LongMsg", nullptr, 0)), want);
    }
}
