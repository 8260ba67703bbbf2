// The registry stand-in: the .reg file parser and the key/value API over it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/reg_file.h"
#include "platform/registry.h"
#include "tests/diag_test_util.h"

using namespace em;
using platform::RegFile;

namespace {

std::u16string Text(const platform::RegValue* v) {
    std::u16string s;
    if (!v) return s;
    for (size_t i = 0; i + 1 < v->data.size(); i += 2) s.push_back(static_cast<char16_t>(v->data[i] | (v->data[i + 1] << 8)));
    while (!s.empty() && s.back() == 0) s.pop_back();
    return s;
}

uint32_t Dword(const platform::RegValue* v) {
    if (!v || v->data.size() != 4) return 0xDEADBEEF;
    return v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) | (static_cast<uint32_t>(v->data[3]) << 24);
}

}  // namespace

TEST(RegFile, ReadsEveryValueForm) {
    RegFile f;
    ASSERT_TRUE(f.Parse("Windows Registry Editor Version 5.00\r\n"
                        "\r\n"
                        "; a comment \\\r\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\\EM_TARNEL]\r\n"
                        "\"Text\"=\"C:\\\\Trace\\\\a \\\"b\\\".log\"\r\n"
                        "\"Level\"=dword:0000000a\r\n"
                        "@=\"default\"\r\n"
                        "\"Expand\"=hex(2):25,00,54,00,4d,00,50,00,25,00,00,00\r\n"
                        "\"Wine\"=str(2):\"%HOME%\\\\x\"\r\n"
                        "\"Bin\"=hex:01,02,\\\r\n"
                        "  03,ff\r\n"
                        "\"Empty\"=hex:\r\n"));
    const std::u16string key = u"software\\debug\\em_tarnel";  // keys and names ignore case
    EXPECT_EQ(Text(f.FindValue(key, u"text")), u"C:\\Trace\\a \"b\".log");
    EXPECT_EQ(f.FindValue(key, u"Text")->type, platform::kRegSz);
    EXPECT_EQ(Dword(f.FindValue(key, u"LEVEL")), 10u);
    EXPECT_EQ(f.FindValue(key, u"Level")->type, platform::kRegDword);
    EXPECT_EQ(Text(f.FindValue(key, u"")), u"default");
    EXPECT_EQ(f.FindValue(key, u"Expand")->type, platform::kRegExpandSz);
    EXPECT_EQ(Text(f.FindValue(key, u"Expand")), u"%TMP%");
    EXPECT_EQ(f.FindValue(key, u"Wine")->type, platform::kRegExpandSz);
    EXPECT_EQ(Text(f.FindValue(key, u"Wine")), u"%HOME%\\x");
    EXPECT_EQ(f.FindValue(key, u"Bin")->type, platform::kRegBinary);
    EXPECT_EQ(f.FindValue(key, u"Bin")->data, (std::vector<uint8_t>{1, 2, 3, 0xFF}));
    EXPECT_TRUE(f.FindValue(key, u"Empty")->data.empty());
    EXPECT_EQ(f.SkippedLines(), 0u);
    EXPECT_TRUE(f.HasKey(u"SOFTWARE"));  // parents of a listed key exist
    EXPECT_TRUE(f.HasKey(u"\\SOFTWARE\\Debug\\"));
    EXPECT_FALSE(f.HasKey(u"SOFTWARE\\Deb"));
}

TEST(RegFile, Regedit4AndUtf16Files) {
    RegFile f;
    // REGEDIT4 lists expandable texts as ANSI bytes: 0xE9 is e-acute in code page 1252.
    ASSERT_TRUE(f.Parse("REGEDIT4\n[HKLM\\A]\n\"E\"=hex(2):25,e9,25,00\n"));
    EXPECT_EQ(Text(f.FindValue(u"A", u"E")), u"%\u00e9%");

    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\B]\r\n\"V\"=dword:00000007\r\n")) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    ASSERT_TRUE(f.Parse(utf16));
    EXPECT_EQ(Dword(f.FindValue(u"B", u"V")), 7u);
}

TEST(RegFile, HostileInputIsSkippedLineByLine) {
    RegFile f;
    EXPECT_FALSE(f.Parse(""));
    EXPECT_FALSE(f.Parse("[HKEY_LOCAL_MACHINE\\A]\n\"V\"=dword:1\n"));  // no header: nothing
    EXPECT_EQ(f.KeyCount(), 0u);
    EXPECT_FALSE(f.Parse(std::string("\0\0\0\xff", 4)));

    ASSERT_TRUE(f.Parse("Windows Registry Editor Version 5.00\n"
                        "\"Orphan\"=dword:1\n"                 // before any key
                        "[HKEY_LOCAL_MACHINE\\K\n"             // no closing bracket
                        "\"InBroken\"=dword:1\n"
                        "[HKEY_LOCAL_MACHINE\\K]\n"
                        "\"Unterminated=\"x\n"
                        "\"TooLong\"=dword:123456789\n"
                        "\"BadHex\"=hex:1g,2\n"
                        "\"BadType\"=hex(zz):00\n"
                        "\"Junk\"=\"ok\" trailing\n"
                        "\"Quota\"=quota:1\n"
                        "garbage line\n"
                        "\"Good\"=dword:00000002 ; comment\n"
                        "\"Last\"=hex:01,\\\n"));              // continuation at end of file
    EXPECT_EQ(Dword(f.FindValue(u"K", u"Good")), 2u);
    EXPECT_EQ(f.FindValue(u"K", u"Last")->data, std::vector<uint8_t>{1});
    EXPECT_EQ(f.FindValue(u"K", u"InBroken"), nullptr);
    EXPECT_EQ(f.FindValue(u"K", u"TooLong"), nullptr);
    EXPECT_EQ(f.SkippedLines(), 9u);

    // Long runs of escapes, brackets and continuations stay within bounds.
    std::string nasty = "REGEDIT4\n[HKLM\\" + std::string(5000, '\\') + "]\n\"" + std::string(3000, '\\') + "\n";
    nasty += std::string(2000, '[') + "\n" + std::string(100, '\\') + "\n@=hex(2):" + std::string(999, ',') + "\n";
    EXPECT_TRUE(f.Parse(nasty));
}

TEST(RegFile, OtherRootsAndDeletions) {
    RegFile f;
    ASSERT_TRUE(f.Parse("Windows Registry Editor Version 5.00\n"
                        "[HKEY_CURRENT_USER\\X]\n\"V\"=dword:1\n"
                        "[HKEY_LOCAL_MACHINE\\X\\Y]\n\"V\"=dword:2\n\"W\"=dword:3\n\"W\"=-\n"
                        "[HKEY_LOCAL_MACHINE\\Z]\n\"V\"=dword:4\n"
                        "[-HKEY_LOCAL_MACHINE\\Z]\n"
                        "[HKEY_LOCAL_MACHINE\\X\\Y]\n\"V\"=dword:5\n"));
    EXPECT_EQ(f.FindValue(u"X", u"V"), nullptr);
    EXPECT_EQ(Dword(f.FindValue(u"X\\Y", u"V")), 5u);  // the later line wins
    EXPECT_EQ(f.FindValue(u"X\\Y", u"W"), nullptr);
    EXPECT_FALSE(f.HasKey(u"Z"));
}

TEST(Registry, KeysAndValuesThroughTheFile) {
    test::TempDir dir;
    test::ScopedRegistry reg(dir, "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n"
                                  "\"S\"=\"abc\"\n\"D\"=dword:00000010\n");
    platform::RegKey key;
    EXPECT_EQ(key.Open(u"SOFTWARE\\Missing"), platform::kErrorFileNotFound);
    ASSERT_EQ(key.Open(u"SOFTWARE\\T", platform::RegView::View32), platform::kErrorSuccess);
    uint32_t type = 0, size = 0;
    ASSERT_EQ(key.QueryValue(u"S", &type, nullptr, &size), platform::kErrorSuccess);
    EXPECT_EQ(type, platform::kRegSz);
    EXPECT_EQ(size, 8u);  // "abc" and the terminator
    char16_t small[2];
    size = sizeof(small);
    EXPECT_EQ(key.QueryValue(u"S", &type, small, &size), platform::kErrorMoreData);
    EXPECT_EQ(size, 8u);
    uint32_t d = 0;
    size = 4;
    EXPECT_EQ(key.QueryValue(u"D", &type, &d, &size), platform::kErrorSuccess);
    EXPECT_EQ(d, 16u);
    EXPECT_EQ(key.QueryValue(u"X", &type, &d, &size), platform::kErrorFileNotFound);

    // A missing file is an empty registry.
    platform::SetRegistryFile(dir.File("nothing.reg"));
    EXPECT_EQ(key.Open(u"SOFTWARE\\T"), platform::kErrorFileNotFound);
}

TEST(Registry, EnvironmentExpansion) {
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    const std::u16string h = platform::Utf8ToUtf16(home);
    EXPECT_EQ(platform::ExpandEnvironmentStrings(u"%HOME%/x"), h + u"/x");
    EXPECT_EQ(platform::ExpandEnvironmentStrings(u"%EM_NO_SUCH_VAR_1%%HOME%"), u"%EM_NO_SUCH_VAR_1%" + h);
    EXPECT_EQ(platform::ExpandEnvironmentStrings(u"100%"), u"100%");
    EXPECT_EQ(platform::ExpandEnvironmentStrings(u"%%"), u"%%");
}
