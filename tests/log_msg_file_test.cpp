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
#include "tests/support/trace_capture.h"
#include "tests/support/platform_util.h"

using namespace em;

namespace {

std::string U8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

// The current directory changed for the lifetime of the object.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::filesystem::path& dir) : m_old(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedCwd() {
        std::error_code ec;
        std::filesystem::current_path(m_old, ec);
    }

private:
    std::filesystem::path m_old;
};

// A file written for the lifetime of the object (the test binary's own directory included).
class ScopedFile {
public:
    ScopedFile(std::filesystem::path path, const std::string& bytes) : m_path(std::move(path)) {
        test::WriteBytes(m_path.string(), bytes);
    }
    ~ScopedFile() {
        std::error_code ec;
        std::filesystem::remove(m_path, ec);
    }

private:
    std::filesystem::path m_path;
};

std::filesystem::path ExecutableDir() {
    std::u16string exe;
    EXPECT_TRUE(platform::GetExecutablePath(exe));
    return std::filesystem::path(U8(exe)).parent_path();
}

std::string Ev(const std::string& code, const std::string& text) {
    return "<Event ErrorCode=\"" + code + "\"><Messages lang=\"en\"><LongMsg>" + text + "</LongMsg></Messages></Event>";
}

std::string OneEventFile(const std::string& code, const std::string& text) {
    return "<EventMsg><Events>" + Ev(code, text) + "</Events></EventMsg>";
}

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
    EXPECT_EQ(doc.FindLanguageName(0x407), u"de");
    EXPECT_EQ(doc.FindLanguageName(0x409), u"en-first");  // "0X409" matches, and only the first counts
    EXPECT_EQ(doc.FindLanguageName(0x411), u"");          // listed without a lang attribute
    EXPECT_EQ(doc.FindLanguageName(0x40C), u"");
    EXPECT_EQ(doc.FindLanguageName(0x0007), u"");         // "0x7" is not "0x407"

    ASSERT_TRUE(doc.SetDocument(u"<EventMsg><Events/></EventMsg>"));
    EXPECT_EQ(doc.FindLanguageName(0x407), u"");
    ASSERT_FALSE(doc.SetDocument(u""));
    EXPECT_EQ(doc.FindLanguageName(0x407), u"");
}

TEST(LogMsgFile, FirstMatchAtEveryLevel) {
    CLogMsgFile file;
    CLogMsgXmlFileImpl& doc = file.Document();
    ASSERT_TRUE(doc.SetDocument(kRulesFile));
    const std::u16string de = u"de", en = u"en", empty, fr = u"fr";

    // The first Event with the code is the only one searched, also for the language that only
    // the second one has; the first Messages of a language ("EN" matches "en") and the index-th
    // key element of it.
    EXPECT_EQ(file.FindMessage(u"0x0101", u"LongMsg", nullptr, 0), u"first en");
    EXPECT_EQ(file.FindMessage(u"0x0101", u"LongMsg", &en, 1), u"first en, second text");
    EXPECT_EQ(file.FindMessage(u"0x0101", u"LongMsg", &en, 2), u"");
    EXPECT_EQ(file.FindMessage(u"0x0101", u"ShortMsg", &en, 0), u"s0");
    EXPECT_EQ(file.FindMessage(u"0x0101", u"LongMsg", &de, 0), u"");
    EXPECT_EQ(file.GetMessageText(0x0101, u"LongMsg", &de, 0), u"first en");

    // Codes: letter case does not matter, digit count does.
    EXPECT_EQ(file.GetMessageText(0x0ABC, u"LongMsg", &de, 0), u"Kleinbuchstaben");
    EXPECT_EQ(file.FindMessage(u"0X0ABC", u"LongMsg", nullptr, 0), u"lower-case code");
    EXPECT_EQ(file.GetMessageText(0x0102, u"LongMsg", nullptr, 0), u"");
    EXPECT_EQ(file.FindMessage(u"0x102", u"LongMsg", nullptr, 0), u"three digits");
    EXPECT_EQ(file.GetMessageText(0x0999, u"LongMsg", nullptr, 0), u"");

    // A language without Messages gets English; an empty language matches lang="" only and
    // does not fall back.
    EXPECT_EQ(file.GetMessageText(0x0ABC, u"LongMsg", &fr, 0), u"lower-case code");
    EXPECT_EQ(file.GetMessageText(0x0ABC, u"LongMsg", &empty, 0), u"no language");
    EXPECT_EQ(file.GetMessageText(0x0101, u"LongMsg", &empty, 0), u"");

    // The code's width follows the flag given when opening.
    EXPECT_EQ(CLogMsgFile::CodeText(0x40001, 1), u"0x040001");
    EXPECT_EQ(CLogMsgFile::CodeText(0x40001, 0), u"0x40001");
    EXPECT_EQ(file.FindMessage(u"0x040001", u"LongMsg", nullptr, 0), u"unified fan");
}

TEST(LogMsgFile, IndexedSearchMatchesAWalk) {
    // Lookups in any order, after reloads, give what a plain walk over the document gives.
    CLogMsgXmlFileImpl doc;
    ASSERT_TRUE(doc.SetDocument(kRulesFile));
    const std::u16string de = u"de";
    EXPECT_EQ(doc.FindMessage(u"0x040001", u"LongMsg", nullptr, 0), u"unified fan");
    EXPECT_EQ(doc.FindMessage(u"0x0101", u"LongMsg", &de, 0), u"");
    EXPECT_EQ(doc.FindMessage(u"0x0abc", u"LongMsg", &de, 0), u"Kleinbuchstaben");
    // The position is where the walk leaves it: back at the document level.
    EXPECT_FALSE(doc.OutOfElement());

    ASSERT_TRUE(doc.SetDocument(platform::Utf8ToUtf16(OneEventFile("0x0101", "replaced"))));
    EXPECT_EQ(doc.FindMessage(u"0x0101", u"LongMsg", nullptr, 0), u"replaced");
    EXPECT_EQ(doc.FindMessage(u"0x0abc", u"LongMsg", nullptr, 0), u"");

    // Events without ErrorCode and elements of other names in the Events list.
    ASSERT_TRUE(doc.SetDocument(
        u"<EventMsg><Events><X ErrorCode=\"0x0001\"/><Event><Messages lang=\"en\"><LongMsg>no code</LongMsg>"
        u"</Messages></Event><Event ErrorCode=\"0x0001\"><Messages lang=\"en\"><LongMsg>one</LongMsg></Messages>"
        u"</Event></Events></EventMsg>"));
    EXPECT_EQ(doc.FindMessage(u"0x0001", u"LongMsg", nullptr, 0), u"one");
    EXPECT_EQ(doc.FindMessage(u"", u"LongMsg", nullptr, 0), u"no code");
}

TEST(LogMsgFile, EveryWayOfReloadingDropsTheIndex) {
    // A lookup builds the error-code index; the next text, however it is loaded, is searched
    // afresh. Both files hold the same elements with the two codes swapped.
    const std::string before =
        "<EventMsg><Events>" + Ev("0x0001", "old one") + Ev("0x0002", "old two") + "</Events></EventMsg>";
    const std::string after =
        "<EventMsg><Events>" + Ev("0x0002", "new two") + Ev("0x0001", "new one") + "</Events></EventMsg>";
    test::TempDir dir;
    const std::string path = dir.File("EVENTMSG.XML");
    test::WriteBytes(path, after);
    CLogMsgXmlFileImpl other;
    ASSERT_TRUE(other.SetDocument(platform::Utf8ToUtf16(after)));

    struct Way {
        const char* what;
        std::function<bool(CLogMsgXmlFileImpl&)> load;
    } ways[] = {
        {"SetDocument", [&](CLogMsgXmlFileImpl& d) { return d.SetDocument(platform::Utf8ToUtf16(after)); }},
        {"LoadFile", [&](CLogMsgXmlFileImpl& d) { return d.LoadFile(platform::Utf8ToUtf16(path)); }},
        {"LoadBytes", [&](CLogMsgXmlFileImpl& d) { return d.LoadBytes(after); }},
        {"base SetDocument",
         [&](xml::CXmlDocument& d) { return d.SetDocument(std::u16string_view(platform::Utf8ToUtf16(after))); }},
        {"base LoadFile", [&](xml::CXmlDocument& d) { return d.LoadFile(platform::Utf8ToUtf16(path).c_str()); }},
        {"base assigned",
         [&](xml::CXmlDocument& d) {
             d = static_cast<const xml::CXmlDocument&>(other);
             return true;
         }},
    };
    for (const Way& w : ways) {
        SCOPED_TRACE(w.what);
        CLogMsgXmlFileImpl doc;
        ASSERT_TRUE(doc.SetDocument(platform::Utf8ToUtf16(before)));
        EXPECT_EQ(doc.FindMessage(u"0x0002", u"LongMsg", nullptr, 0), u"old two");
        ASSERT_TRUE(w.load(doc));
        EXPECT_EQ(doc.FindMessage(u"0x0002", u"LongMsg", nullptr, 0), u"new two");
        EXPECT_EQ(doc.FindMessage(u"0x0001", u"LongMsg", nullptr, 0), u"new one");
    }
}

TEST(LogMsgFile, SearchTrace) {
    CLogMsgFile file;
    ASSERT_TRUE(file.Document().SetDocument(kRulesFile));
    test::TraceCapture cap(4);
    const std::u16string fr = u"fr";
    file.GetMessageText(0x0101, u"LongMsg", &fr, 0);
    const auto lines = cap.Utf8Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "\nCLogMsgXmlFileImpl  : Search message for error code 0x0101 (Key: \"LongMsg\" Lang: \"fr\" Index 0)");
    EXPECT_EQ(lines[1],
              "\nCLogMsgXmlFileImpl  : Search message for error code 0x0101 (Key: \"LongMsg\" Lang: \"en\" Index 0)");
}

TEST(LogMsgFileSearch, ModuleDirectoryWinsOverCurrentDirectory) {
    // A copy of the module library in a folder of its own, so that nothing is written beside
    // the test binary; an address inside it names the module.
    test::TempDir cwd, mod;
    const std::string lib_path = mod.File(std::filesystem::path(EM_DEFAULT_LIBRARY).filename().string());
    std::filesystem::copy_file(EM_DEFAULT_LIBRARY, lib_path);
    platform::Library lib;
    ASSERT_TRUE(lib.Open(lib_path)) << lib.Error();
    const void* in_module = lib.Symbol("EM_GetModuleName");
    ASSERT_NE(in_module, nullptr);
    const std::filesystem::path mod_dir = std::filesystem::canonical(mod.File(""));
    ScopedFile in_mod(mod_dir / "EVENTMSG.XML", OneEventFile("0x040000", "from the module directory"));
    ScopedFile in_cwd(cwd.File("EVENTMSG.XML"), OneEventFile("0x040000", "from the current directory"));
    ScopedCwd go(cwd.File(""));

    test::TraceCapture cap(4);
    CLogMsgFile file;
    EXPECT_TRUE(file.OpenMessageFile(1, in_module));
    EXPECT_EQ(file.GetMessageText(0x040000, u"LongMsg", nullptr, 0), u"from the module directory");
    const std::string path = (mod_dir / "EVENTMSG.XML").string();
    const auto lines = cap.Utf8Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "\nCLogMsgFile         : Use event messages file \"EVENTMSG.XML\" for decoding");
    EXPECT_EQ(lines[1], "\nCLogMsgFile         : Search for file in module directory ...");
    EXPECT_EQ(lines[2], "\nCLogMsgFile         : Try to open file \"" + path + "\"");
    EXPECT_EQ(lines[3], "\nCLogMsgFile         : Event messages successfully opened in \"" + path + "\"!");
}

TEST(LogMsgFileSearch, CurrentThenRegisteredDirectory) {
    test::TempDir cwd, bin;
    test::ScopedRegistry reg(bin, "Windows Registry Editor Version 5.00\n"
                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Osterbrink\\Management\\Kindrel\\Setup]\n"
                                  "\"BinRoot\"=\"" + test::RegString(bin.File("")) + "\"\n");
    ScopedCwd go(cwd.File(""));
    const std::string exe_path = (ExecutableDir() / "ERRMSG.XML").string();
    const std::string cwd_path = std::filesystem::current_path().string() + test::Sep() + "ERRMSG.XML";
    const std::string bin_path = std::filesystem::path(bin.File("")).parent_path().string() + test::Sep() + "ERRMSG.XML";

    {
        // Nowhere: three tries, the last path reported.
        test::TraceCapture cap(4);
        CLogMsgFile file;
        EXPECT_FALSE(file.OpenMessageFile(0));
        EXPECT_EQ(file.Path(), platform::Utf8ToUtf16(bin_path));
        const std::vector<std::string> want = {
            "\nCLogMsgFile         : Use event messages file \"ERRMSG.XML\" for decoding",
            "\nCLogMsgFile         : Search for file in module directory ...",
            "\nCLogMsgFile         : Try to open file \"" + exe_path + "\"",
            "\nCLogMsgFile         : Search for file in current directory ...",
            "\nCLogMsgFile         : Try to open file \"" + cwd_path + "\"",
            "\nCLogMsgFile         : Search for file in registered directory ...",
            "\nCLogMsgFile         : Try to open file \"" + bin_path + "\"",
            "\nCLogMsgFile         : Event messages not opened in \"" + bin_path + "\"!",
        };
        EXPECT_EQ(cap.Utf8Lines(), want);
    }
    {
        ScopedFile in_bin(bin.File("ERRMSG.XML"), OneEventFile("0x0400", "registered"));
        CLogMsgFile file;
        EXPECT_TRUE(file.OpenMessageFile(0));
        EXPECT_EQ(file.GetMessageText(0x0400, u"LongMsg", nullptr, 0), u"registered");

        // A file in the current directory comes first; one that is not well-formed does not
        // count, and the search goes on.
        ScopedFile in_cwd(cwd.File("ERRMSG.XML"), OneEventFile("0x0400", "current"));
        EXPECT_TRUE(file.OpenMessageFile(0));
        EXPECT_EQ(file.GetMessageText(0x0400, u"LongMsg", nullptr, 0), u"current");
        ScopedFile broken(cwd.File("ERRMSG.XML"), "<EventMsg><Events>");
        EXPECT_TRUE(file.OpenMessageFile(0));
        EXPECT_EQ(file.GetMessageText(0x0400, u"LongMsg", nullptr, 0), u"registered");
    }
}

TEST(LogMsgFileSearch, ShippedFileInThreeEncodings) {
    // The same entries decode alike from the shipped UTF-8 file and from its UTF-16LE and
    // Shift_JIS copies (the Shift_JIS copy holds English and Japanese only).
    const std::filesystem::path data = std::filesystem::path(EM_TEST_DATA);
    const std::filesystem::path dirs[] = {data / ".." / ".." / "data" / "messages", data / "messages" / "utf16le",
                                          data / "messages" / "sjis"};
    // Fan 3 of cabinet 1 too slow: 1800 RPM, 45 % of nominal.
    const std::vector<uint8_t> fan = {0x01, 0x04, 0, 3, 0, 0, 0, 0, 1, 0, 3, 0, 0x08, 0x07, 0, 0, 45, 0, 0, 0};
    const std::u16string designation = u"FAN3";
    std::vector<std::u16string> first;
    for (const auto& dir : dirs) {
        SCOPED_TRACE(dir.string());
        ScopedCwd go(dir);
        CLogMsgDecoder decoder(0);
        const std::u16string ja = decoder.SetLanguage(0x411);
        EXPECT_EQ(ja, u"ja");
        std::vector<std::u16string> lines(3);
        EXPECT_TRUE(decoder.DecodeEntry(lines[0], fan, &designation, &ja));
        EXPECT_TRUE(decoder.DecodeEntry(lines[1], fan, nullptr, nullptr));
        const std::u16string fr = decoder.SetLanguage(0x40C);
        EXPECT_TRUE(decoder.DecodeEntry(lines[2], fan, &designation, &fr));
        if (first.empty()) first = lines;
        else EXPECT_EQ(lines, first);
    }
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(U8(first[0]), "キャビネット 1 のファン \"FAN3\" の回転数が低下しています: 1800 RPM (定格の 45%)。");
    EXPECT_EQ(U8(first[1]), "Fan 3 in cabinet 1 is running too slowly: 1800 RPM (45% of nominal speed).");
    EXPECT_EQ(U8(first[2]), "Fan \"FAN3\" in cabinet 1 is running too slowly: 1800 RPM (45% of nominal speed).");
}
