// The registry stand-in: the .reg file parser and the key/value API over it.
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <tuple>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry.h"
#include "tests/diag_test_util.h"

using namespace em;
using platform::RegFile;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\n";

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
                        "\"Expand\"=hex(2):25,54,4d,50,25,00\r\n"
                        "\"Wine\"=str(2):\"%HOME%\\\\x\"\r\n"
                        "\"Multi\"=str(7):\"a\\0b\"\r\n"
                        "\"Nine\"=str(000000007):\"x\"\r\n"
                        "\"Cut\"=str(7x:\"y\"\r\n"
                        "\"Zero\"=str():\"z\"\r\n"
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
    EXPECT_EQ(f.FindValue(key, u"Multi")->data, (std::vector<uint8_t>{'a', 0, 0, 0, 'b', 0, 0, 0}));
    // One to eight type digits, then "):".
    EXPECT_TRUE(!f.FindValue(key, u"Nine") && !f.FindValue(key, u"Cut") && !f.FindValue(key, u"Zero"));
    EXPECT_EQ(f.SkippedLines(), 3u);
    EXPECT_TRUE(f.HasKey(u"SOFTWARE"));  // parents of a listed key exist
    EXPECT_TRUE(f.HasKey(u"\\SOFTWARE\\Debug\\"));
    EXPECT_FALSE(f.HasKey(u"SOFTWARE\\Deb"));
}

TEST(RegFile, Regedit4Utf16OtherRootsAndDeletions) {
    RegFile f;
    // REGEDIT4 lists expandable texts as ANSI bytes: 0xE9 is e-acute in code page 1252.
    ASSERT_TRUE(f.Parse("REGEDIT4\n[HKLM\\A]\n\"E\"=hex(2):25,e9,25,00\n"));
    EXPECT_EQ(Text(f.FindValue(u"A", u"E")), u"%\u00e9%");

    // The text by its byte order mark, else UTF-8 where the bytes are valid UTF-8, else the ANSI page,
    // as the import reads them, also with a sequence cut off at the end of the file. A big-endian
    // UTF-16 file and a UTF-8 one with a byte order mark are read too, though the import refuses them.
    const std::string v = kHeader + "[HKEY_LOCAL_MACHINE\\B]\r\n\"V\"=\"";
    auto utf16 = [&](std::u16string_view text, bool big) {
        std::string out = big ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t c : platform::Utf8ToUtf16(v) + std::u16string(text) + u"\"\r\n")
            out += big ? std::string{char(c >> 8), char(c)} : std::string{char(c), char(c >> 8)};
        return out;
    };
    const std::pair<std::string, std::u16string> files[] = {
        {utf16(u"x\u20ac", false), u"x\u20ac"}, {utf16(u"y\u20ac", true), u"y\u20ac"}, {v + "\xC1\xBF\"\n", u"\u00c1\u00bf"},
        {"\xEF\xBB\xBF" + v + "caf\xC3\xA9\"\n", u"caf\u00e9"}, {v + "caf\xC3\xA9\"\n; cut \xC3", u"caf\u00c3\u00a9"},
        {v + "\x80\x80\x80\"\n", u"\u20ac\u20ac\u20ac"}};
    for (const auto& [bytes, text] : files) {
        ASSERT_TRUE(f.Parse(bytes));
        EXPECT_EQ(Text(f.FindValue(u"B", u"V")), text);
    }

    ASSERT_TRUE(f.Parse(kHeader + "[HKEY_CURRENT_USER\\X]\n\"V\"=dword:1\n"
                        "[HKEY_LOCAL_MACHINE\\X\\Y]\n\"V\"=dword:2\n\"W\"=dword:3\n\"W\"=-\n"
                        "[HKEY_LOCAL_MACHINE\\Z]\n\"V\"=dword:4\n"
                        "[-HKEY_LOCAL_MACHINE\\Z]\n"
                        "[HKEY_LOCAL_MACHINE\\X\\Y]\n\"V\"=dword:5\n"));
    EXPECT_EQ(f.FindValue(u"X", u"V"), nullptr);
    EXPECT_EQ(Dword(f.FindValue(u"X\\Y", u"V")), 5u);  // the later line wins
    EXPECT_EQ(f.FindValue(u"X\\Y", u"W"), nullptr);
    EXPECT_FALSE(f.HasKey(u"Z"));
}

TEST(RegFile, HostileInputIsSkippedLineByLine) {
    RegFile f;
    EXPECT_FALSE(f.Parse(""));
    EXPECT_FALSE(f.Parse("[HKEY_LOCAL_MACHINE\\A]\n\"V\"=dword:1\n"));  // no header: nothing
    EXPECT_EQ(f.KeyCount(), 0u);
    EXPECT_FALSE(f.Parse(std::string("\0\0\0\xff", 4)));

    ASSERT_TRUE(f.Parse(kHeader +
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

TEST(Registry, KeysAndValuesThroughTheFile) {
    test::TempDir dir;
    const std::string key_t = kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n";
    test::ScopedRegistry reg(dir, key_t + "\"S\"=\"abc\"\n\"D\"=dword:00000010\n");
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

    // The file is parsed once per change: quick same-size rewrites and a file put in its place are seen.
    for (uint32_t v = 1; v <= 3; ++v) {
        const std::string text = key_t + "\"D\"=dword:" + std::to_string(v) + "\n";
        if (v == 3) {
            test::WriteBytes(dir.File("new.reg"), text);
            std::filesystem::rename(dir.File("new.reg"), dir.File("registry.reg"));
        } else {
            reg.Write(text);
        }
        ASSERT_EQ(key.Open(u"SOFTWARE\\T"), platform::kErrorSuccess);
        size = 4;
        EXPECT_EQ(key.QueryValue(u"D", &type, &d, &size), platform::kErrorSuccess);
        EXPECT_EQ(d, v);
    }

#ifndef _WIN32
    // A file left alone for a while is not read again while its size and time stay: a rewrite that
    // keeps both goes unseen, a file put in its place does not. A recent file is compared byte by
    // byte. No descriptor stays open, whichever way the file was taken.
    const auto descriptors = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const auto open_before = descriptors();
    const auto hour_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    const auto recent = std::filesystem::file_time_type::clock::now();
    for (auto [v, replace, settled, seen] : {std::tuple{4u, false, true, 4u}, {5u, false, true, 4u}, {6u, true, true, 6u},
                                             {7u, false, false, 7u}, {8u, false, false, 8u}}) {
        const std::string file = dir.File(replace ? "new.reg" : "registry.reg");
        test::WriteBytes(file, key_t + "\"D\"=dword:" + std::to_string(v) + "\n");
        std::filesystem::last_write_time(file, settled ? hour_ago : recent);
        if (replace) std::filesystem::rename(file, dir.File("registry.reg"));
        ASSERT_EQ(key.Open(u"SOFTWARE\\T"), platform::kErrorSuccess);
        size = 4;
        EXPECT_EQ(key.QueryValue(u"D", &type, &d, &size), platform::kErrorSuccess);
        EXPECT_EQ(d, seen);
    }
    EXPECT_EQ(key.Open(u"SOFTWARE\\Missing"), platform::kErrorFileNotFound);  // the key open before is closed
    EXPECT_EQ(key.QueryValue(u"D", &type, &d, &size), platform::kErrorInvalidHandle);
    platform::SetRegistryFile(dir.File(""));  // a folder: an empty registry
    EXPECT_EQ(key.Open(u"SOFTWARE\\T"), platform::kErrorFileNotFound);
    EXPECT_EQ(descriptors(), open_before);
    platform::SetRegistryFile(reg.Path());
    // Files of 16 MB are read; a larger one is an empty registry, as is a missing one.
    reg.Write(key_t + ";" + std::string((16u << 20) - key_t.size() - 2, 'x') + "\n");
    EXPECT_EQ(key.Open(u"SOFTWARE\\T"), platform::kErrorSuccess);
    reg.Write(key_t + ";" + std::string((16u << 20) - key_t.size(), 'x') + "\n");
    EXPECT_EQ(key.Open(u"SOFTWARE\\T"), platform::kErrorFileNotFound);
#endif
    platform::SetRegistryFile(dir.File("nothing.reg"));
    EXPECT_EQ(key.Open(u"SOFTWARE\\T"), platform::kErrorFileNotFound);
}

TEST(Registry, EnvironmentExpansion) {
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    const std::u16string h = platform::Utf8ToUtf16(home);
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"%HOME%/x", h + u"/x"}, {u"%EM_NO_SUCH_VAR_1%%HOME%", u"%EM_NO_SUCH_VAR_1%" + h}, {u"100%", u"100%"}, {u"%%", u"%%"}};
    for (const auto& [in, out] : cases) EXPECT_EQ(platform::ExpandEnvironmentStrings(in), out);
}

// Files as an administrator writes them, with the values the registry's own import gives for
// them (learned by importing each file there and reading the key back).
TEST(RegFile, ReadsFilesAsTheRegistryImportDoes) {
    struct Case {
        std::string body;  // after the header line and the key [HKEY_LOCAL_MACHINE\T]
        std::u16string name;
        std::optional<std::vector<uint8_t>> data;  // nothing: the value is not there
    };
    auto dw = [](uint8_t v) { return std::vector<uint8_t>{v, 0, 0, 0}; };
    auto sz = [](std::u16string_view t) {
        std::vector<uint8_t> d;
        for (char16_t c : t) d.insert(d.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
        d.insert(d.end(), {0, 0});
        return d;
    };
    const std::vector<uint8_t> bin = {1, 2, 3, 4};
    const Case cases[] = {
        {"\"v\"=dword: 00000003\n", u"v", dw(3)},
        {"\"v\"=dword:\t4\n", u"v", dw(4)},
        {"\"v\" = dword:5\n", u"v", dw(5)},
        {"\"v\"=DWORD:7\n", u"v", std::nullopt},
        {"\"v\"=dword:0x8\n", u"v", std::nullopt},
        {"\"v\"=hex:01,02,\\\n\n  03,04\n", u"v", bin},
        {"\"v\"=hex:01,02,\\\n; note\n  03,04\n", u"v", bin},
        {"\"v\"=hex:01,02,\\ ; note\n  03,04\n", u"v", bin},
        {"\"v\"=hex:01,02\\\n03,04\n", u"v", std::nullopt},
        {"\"v\"=hex: 01 , 02\n", u"v", std::nullopt},
        {"\"v\"=hex:1,2,3,4 ; x\n", u"v", bin},
        {"\"v\"=hex(00000003):01\n\"w\"=hex(000000003):01\n", u"v", std::vector<uint8_t>{1}},  // eight type digits at most
        {"\"v\"=dword:1 ; ends in \\\n\"w\"=dword:2\n", u"w", dw(2)},
        {"\"a\"=dword:1\n\\\n\n\"v\"=dword:2\n", u"v", dw(2)},
        {"\"a\"=dword:1\r\"v\"=\"x\"\r", u"v", sz(u"x")},
        {"\"v\"=\"x\\ny\\rz\"\n", u"v", sz(u"x\ny\rz")},
        {"\"v\"=\"x\\ty\\q\\\\\\\"\"\n", u"v", sz(u"xtyq\\\"")},
        {"\"v\"=\"x\\0y\"\n", u"v", std::nullopt},
        {"\"v\"=\"x\\\"\n\"w\"=\"y\"\n", u"w", sz(u"y")},
        {"\"j\\n\"=\"1\"\n", u"j\n", sz(u"1")},
        {"\"v\"=hex(2):25,41,25,00\n", u"v", sz(u"%A%")},  // one byte a character outside UTF-16 files
        // A UTF-8 file: the first and last characters of each sequence length.
        {"\"\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\"=dword:1\n",
         u"\u0080\u07ff\u0800\uffff\U00010000\U0010FFFF", dw(1)},
        // Names differ only in case: one value, the later line wins.
        {"\"\xC4\x80\"=dword:1\n\"\xC4\x81\"=dword:2\n", u"\u0100", dw(2)},
        {"\"\xCF\x83\"=dword:1\n\"\xCF\x82\"=dword:2\n", u"\u03a3", dw(1)},  // final sigma is a letter of its own
    };
    for (const Case& c : cases) {
        RegFile f;
        ASSERT_TRUE(f.Parse(kHeader + "\n[HKEY_LOCAL_MACHINE\\T]\n" + c.body)) << c.body;
        const auto* v = f.FindValue(u"T", c.name);
        EXPECT_EQ(v ? std::optional(v->data) : std::nullopt, c.data) << c.body;
    }
}

#ifndef _WIN32
TEST(RegFile, NamesFoldToTheirCapitalThroughoutThePlane) {
    // A letter folds to its capital where the two are each other's case pair in the C library's UTF-8
    // locale, except the Greek letters with ypogegrammeni, which that pairs with title-case forms.
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (!utf8) GTEST_SKIP() << "no UTF-8 locale";
    size_t folded = 0, wrong = 0;
    for (wint_t c = 0; c < 0x10000; ++c) {
        const wint_t up = towupper_l(c, utf8);
        const bool titlecase_pair = (c >= 0x1F80 && c <= 0x1FAF && !(c & 8)) || c == 0x1FB3 || c == 0x1FC3 || c == 0x1FF3;
        const bool pair = up != c && towlower_l(up, utf8) == c && !titlecase_pair;
        const std::u16string expected(1, static_cast<char16_t>(pair ? up : c));
        folded += pair;
        if (RegFile::FoldName(std::u16string(1, static_cast<char16_t>(c))) != expected && ++wrong <= 5)
            ADD_FAILURE() << std::hex << "U+" << c << " should fold to U+" << static_cast<unsigned>(expected[0]);
    }
    freelocale(utf8);
    EXPECT_EQ(wrong, 0u);
    EXPECT_GT(folded, 1000u);
}
#endif

TEST(RegFile, ExampleFilesOfTheDocumentationAndTheInstallation) {
    // The installed example has every setting commented out; an operator takes the ';' away.
    for (const char* name : {"/../../docs/example-trace.reg", "/../../data/install/registry.reg"}) {
        std::ifstream in(std::string(EM_TEST_DATA) + name, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (size_t at = 0; (at = bytes.find("\n;\"", at)) != std::string::npos;) bytes.erase(at + 1, 1);
        RegFile f;
        ASSERT_TRUE(f.Parse(bytes)) << name;
        const auto* file = f.FindValue(u"SOFTWARE\\Debug\\EM_TARNEL", u"TraceFile");
        ASSERT_NE(file, nullptr) << name;
        EXPECT_EQ(file->type, platform::kRegExpandSz);
        EXPECT_EQ(Text(file), u"%HOME%/em_tarnel-trace.log") << name;
        for (const char16_t* setting : {u"FileDebugLevel", u"ConDebugLevel", u"WinDebugLevel", u"TraceFileLimit",
                                        u"DateStampOn", u"TimeStampOn", u"ThreadIdOn", u"CpuIdOn", u"AppNameOn",
                                        u"MemUsageOn", u"HandleCountOn"})
            EXPECT_NE(f.FindValue(u"SOFTWARE\\Debug\\EM_TARNEL", setting), nullptr) << name;
        EXPECT_NE(f.FindValue(u"SOFTWARE\\Debug", u"DynamicUpdate"), nullptr) << name;
        EXPECT_EQ(f.SkippedLines(), 0u) << name;
    }
}
