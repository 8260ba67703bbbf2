// Message files: where they are searched, the language table, the message search with its
// first-match rules and the English fallback, and the shipped files in three encodings.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

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
    <Language locale="0x407" lang="de"/>
    <Language locale="0X409" lang="en-first"/>
    <Language locale="0x409" lang="en-second"/>
    <Language locale="0x411"/>
  </LanguageTable>
  <Events>
    <Event ErrorCode="0x0101">
      <Messages lang="EN"><ShortMsg>s0</ShortMsg><LongMsg>first en</LongMsg><Note/><LongMsg>first en, second text</LongMsg></Messages>
      <Messages lang="en"><LongMsg>never reached</LongMsg></Messages>
    </Event>
    <Event ErrorCode="0x0101">
      <Messages lang="de"><LongMsg>second event de</LongMsg></Messages>
    </Event>
    <Event ErrorCode="0x0abc">
      <Messages lang="en"><LongMsg>lower-case code</LongMsg></Messages>
      <Messages lang="de"><LongMsg>Kleinbuchstaben</LongMsg></Messages>
      <Messages lang="zh"><LongMsg>zh text</LongMsg></Messages>
      <Messages lang=""><LongMsg>no language</LongMsg></Messages>
    </Event>
    <Event ErrorCode="0x102">
      <Messages lang="en"><LongMsg>three digits</LongMsg></Messages>
    </Event>
    <Event ErrorCode="0x040001">
      <Messages lang="en"><LongMsg>unified fan</LongMsg></Messages>
    </Event>
  </Events>
</EventMsg>)";

}  // namespace

TEST(LogMsgFile, LanguageTable) {
    CLogMsgXmlFileImpl doc;
    ASSERT_TRUE(doc.SetDocument(kRulesFile));
    // "0X409" matches and only the first counts; 0x411 has no lang; "0x7" is not "0x407".
    const std::pair<uint16_t, const char16_t*> cases[] = {
        {0x407, u"de"}, {0x409, u"en-first"}, {0x411, u""}, {0x40C, u""}, {0x0007, u""}, {0x407, u"de"}};
    for (const auto& [id, lang] : cases) EXPECT_EQ(doc.FindLanguageName(id), lang) << id;

    ASSERT_TRUE(doc.SetDocument(u"<EventMsg><Events/></EventMsg>"));
    EXPECT_EQ(doc.FindLanguageName(0x407), u"");
    ASSERT_FALSE(doc.SetDocument(u""));
    EXPECT_EQ(doc.FindLanguageName(0x407), u"");
}

TEST(LogMsgFile, FirstMatchAtEveryLevelAndEnglishFallback) {
    CLogMsgFile file;
    ASSERT_TRUE(file.Document().SetDocument(kRulesFile));
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
        {u"0x0101", 0, &en, 0, u"ShortMsg", u"s0"},
        {u"0x0101", 0, &de, 0, u"LongMsg", u""},
        {nullptr, 0x0101, &de, 0, u"LongMsg", u"first en"},
        // Codes: letter case does not matter, digit count does.
        {nullptr, 0x0ABC, &de, 0, u"LongMsg", u"Kleinbuchstaben"},
        {nullptr, 0x0ABC, &zh, 0, u"LongMsg", u"zh text"},
        {u"0X0ABC", 0, nullptr, 0, u"LongMsg", u"lower-case code"},
        {nullptr, 0x0102, nullptr, 0, u"LongMsg", u""},
        {u"0x102", 0, nullptr, 0, u"LongMsg", u"three digits"},
        {nullptr, 0x0999, nullptr, 0, u"LongMsg", u""},
        // A language without Messages gets English; an empty language matches lang="" only.
        {nullptr, 0x0ABC, &fr, 0, u"LongMsg", u"lower-case code"},
        {nullptr, 0x0ABC, &empty, 0, u"LongMsg", u"no language"},
        {nullptr, 0x0101, &empty, 0, u"LongMsg", u""},
    };
    for (const auto& c : cases) {
        const std::u16string got = c.code ? file.FindMessage(c.code, c.key, c.lang, c.index)
                                           : file.GetMessageText(c.number, c.key, c.lang, c.index);
        EXPECT_EQ(got, c.want) << U8(c.want);
        EXPECT_FALSE(file.Document().OutOfElement());  // the search leaves every level it entered
    }
    // The code's width follows the flag; English is searched again only for another language.
    EXPECT_EQ(CLogMsgFile::CodeText(0x40001, 1), u"0x040001");
    EXPECT_EQ(CLogMsgFile::CodeText(0x40001, 0), u"0x40001");
    test::TraceCapture cap(4);
    file.GetMessageText(0x0101, u"LongMsg", &fr, 3);
    file.GetMessageText(0x0999, u"LongMsg", &en, 0);
    EXPECT_EQ(cap.Utf8Lines(), (std::vector<std::string>{
        "\nCLogMsgXmlFileImpl  : Search message for error code 0x0101 (Key: \"LongMsg\" Lang: \"fr\" Index 3)",
        "\nCLogMsgXmlFileImpl  : Search message for error code 0x0101 (Key: \"LongMsg\" Lang: \"en\" Index 3)",
        "\nCLogMsgXmlFileImpl  : Search message for error code 0x0999 (Key: \"LongMsg\" Lang: \"en\" Index 0)"}));
}

TEST(LogMsgFile, EveryWayOfReloadingSearchesTheNewText) {
    // Both texts hold the same elements with the two codes swapped; between them a lookup of
    // the first text. Events without ErrorCode and elements of other names are passed over.
    const std::string before = File(Ev("0x0001", "old one") + Ev("0x0002", "old two"));
    const std::string after = File("<X ErrorCode=\"0x0002\"/><Event/>" + Ev("0x0002", "new two") + Ev("0x0001", "new one"));
    test::TempDir dir;
    const std::string path = dir.File("EVENTMSG.XML");
    test::WriteBytes(path, after);
    CLogMsgXmlFileImpl other;
    ASSERT_TRUE(other.SetDocument(platform::Utf8ToUtf16(after)));
    const std::u16string wafter = platform::Utf8ToUtf16(after), wpath = platform::Utf8ToUtf16(path);

    const std::function<bool(CLogMsgXmlFileImpl&)> ways[] = {
        [&](CLogMsgXmlFileImpl& d) { return d.SetDocument(wafter); },
        [&](CLogMsgXmlFileImpl& d) { return d.LoadFile(wpath); },
        [&](CLogMsgXmlFileImpl& d) { return d.LoadBytes(after); },
        [&](xml::CXmlDocument& d) { return d.SetDocument(std::u16string_view(wafter)); },
        [&](xml::CXmlDocument& d) { return d.LoadFile(wpath.c_str()); },
        [&](xml::CXmlDocument& d) { return (d = static_cast<const xml::CXmlDocument&>(other), true); },
    };
    for (size_t i = 0; i < std::size(ways); ++i) {
        CLogMsgXmlFileImpl doc;
        ASSERT_TRUE(doc.SetDocument(platform::Utf8ToUtf16(before)));
        EXPECT_EQ(doc.FindMessage(u"0x0002", u"LongMsg", nullptr, 0), u"old two");
        ASSERT_TRUE(ways[i](doc));
        EXPECT_EQ(doc.FindMessage(u"0x0002", u"LongMsg", nullptr, 0), u"new two") << i;
        EXPECT_EQ(doc.FindMessage(u"0x0001", u"LongMsg", nullptr, 0), u"new one") << i;
        EXPECT_EQ(doc.FindMessage(u"0x0003", u"LongMsg", nullptr, 0), u"") << i;
    }
}

TEST(LogMsgFileSearch, ModuleDirectoryWinsOverCurrentDirectory) {
    // A copy of the module library in a folder of its own (under a one-letter name, so that the
    // directory is cut at the right separator); an address inside it names the module.
    test::TempDir cwd, mod;
    const fs::path mod_dir = fs::canonical(mod.File(""));
    fs::copy_file(EM_DEFAULT_LIBRARY, mod_dir / "m");
    platform::Library lib;
    ASSERT_TRUE(lib.Open((mod_dir / "m").string())) << lib.Error();
    test::WriteBytes((mod_dir / "EVENTMSG.XML").string(), File(Ev("0x040000", "from the module directory")));
    test::WriteBytes(cwd.File("EVENTMSG.XML"), File(Ev("0x040000", "from the current directory")));
    ScopedCwd go(cwd.File(""));

    test::TraceCapture cap(4);
    CLogMsgFile file;
    EXPECT_TRUE(file.OpenMessageFile(1, lib.Symbol("EM_GetModuleName")));
    EXPECT_EQ(file.GetMessageText(0x040000, u"LongMsg", nullptr, 0), u"from the module directory");
    const std::string path = (mod_dir / "EVENTMSG.XML").string();
    EXPECT_EQ(cap.Utf8Lines().at(2), "\nCLogMsgFile         : Try to open file \"" + path + "\"");
    EXPECT_EQ(cap.Utf8Lines().at(3), "\nCLogMsgFile         : Event messages successfully opened in \"" + path + "\"!");
}

TEST(LogMsgFileSearch, CurrentThenRegisteredDirectory) {
    test::TempDir cwd, bin;
    test::ScopedRegistry reg(bin, "Windows Registry Editor Version 5.00\n"
                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Osterbrink\\Management\\Kindrel\\Setup]\n"
                                  "\"BinRoot\"=\"" + test::RegString(bin.File("")) + "\"\n");
    ScopedCwd go(cwd.File(""));
    std::u16string exe;
    ASSERT_TRUE(platform::GetExecutablePath(exe));
    const std::string exe_path = (fs::path(U8(exe)).parent_path() / "ERRMSG.XML").string();
    const std::string cwd_path = fs::current_path().string() + test::Sep() + "ERRMSG.XML";
    const std::string bin_path = fs::path(bin.File("")).parent_path().string() + test::Sep() + "ERRMSG.XML";

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

TEST(LogMsgFileSearch, ShippedFileInThreeEncodings) {
    // The same entry decodes alike from the shipped UTF-8 file and from its UTF-16LE and
    // Shift_JIS copies: fan 3 of cabinet 1 too slow, 1800 RPM, 45 % of nominal.
    const std::vector<uint8_t> fan = {0x01, 0x04, 0, 3, 0, 0, 0, 0, 1, 0, 3, 0, 0x08, 0x07, 0, 0, 45, 0, 0, 0};
    const std::u16string designation = u"FAN3";
    const fs::path data = fs::path(EM_TEST_DATA);
    for (const fs::path& dir : {data / ".." / ".." / "data" / "messages", data / "messages" / "utf16le",
                                data / "messages" / "sjis"}) {
        ScopedCwd go(dir);
        CLogMsgDecoder decoder(0);
        const std::u16string ja = decoder.SetLanguage(0x411), fr = decoder.SetLanguage(0x40C);
        std::u16string line;
        EXPECT_TRUE(decoder.DecodeEntry(line, fan, &designation, &ja) && decoder.DecodeEntry(line, fan, nullptr, nullptr) &&
                    decoder.DecodeEntry(line, fan, &designation, &fr));
        EXPECT_EQ(U8(line), "キャビネット 1 のファン \"FAN3\" の回転数が低下しています: 1800 RPM (定格の 45%)。"
                            "Fan 3 in cabinet 1 is running too slowly: 1800 RPM (45% of nominal speed)."
                            "Fan \"FAN3\" in cabinet 1 is running too slowly: 1800 RPM (45% of nominal speed).")
            << dir;
    }
}
