// Version resources (crafted and the library's own), the ELF section reader and the banner.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "diag/banner.h"
#include "diag/debug.h"
#include "diag/version_info.h"
#include "module/extension_module.h"
#include "platform/library.h"
#include "platform/sysinfo.h"
#include "tests/diag_test_util.h"
#include "tests/support/trace_capture.h"
#include "tests/support/platform_util.h"

using namespace em;
using diag::CFileVersionInfo;
using diag::CVersionResource;

namespace {

// A version resource block and its children, laid out as the resource compiler does.
struct Node {
    std::u16string key;
    uint16_t type = 1;
    std::vector<uint8_t> value;
    uint16_t value_len = 0;
    std::vector<Node> children;
};

void Put(std::vector<uint8_t>& b, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(i < 8 ? static_cast<uint8_t>(v >> (8 * i)) : 0);
}
void Align(std::vector<uint8_t>& b) { b.resize((b.size() + 3) & ~size_t{3}); }

std::vector<uint8_t> Build(const Node& n) {
    std::vector<uint8_t> b;
    Put(b, 0, 2);
    Put(b, n.value_len, 2);
    Put(b, n.type, 2);
    for (char16_t c : n.key + u'\0') Put(b, c, 2);
    Align(b);
    b.insert(b.end(), n.value.begin(), n.value.end());
    for (const Node& c : n.children) {
        Align(b);
        const auto child = Build(c);
        b.insert(b.end(), child.begin(), child.end());
    }
    b[0] = static_cast<uint8_t>(b.size());
    b[1] = static_cast<uint8_t>(b.size() >> 8);
    return b;
}

Node Str(std::u16string key, std::u16string text) {
    Node n{std::move(key), 1, {}, static_cast<uint16_t>(text.size() + 1), {}};
    for (char16_t c : text + u'\0') Put(n.value, c, 2);
    return n;
}

std::vector<uint8_t> CraftedResource() {
    Node root{u"VS_VERSION_INFO", 0, {}, 52, {}};
    for (uint32_t v : {0xFEEF04BDu, 0x10000u, (6u << 16) | 1u, (2u << 16) | 3u, 0x10000u, 0u, 0x3Fu, 0u, 4u, 2u, 0u, 0u, 0u})
        Put(root.value, v, 4);
    Node us{u"040904E4", 1, {}, 0, {Str(u"CompanyName", u"Acme\tWorks\x01"), Str(u"ProductVersion", u"6.1"),
                                     Str(u"Quiz", u"\x1F \x7E\x7F\x9F\xA0\u00e9"), Str(std::u16string(234, u'K'), u"long")}};
    Node de{u"040704B0", 1, {}, 0, {Str(u"CompanyName", u"Acme DE")}};
    Node translation{u"Translation", 0, {}, 8, {}};
    Put(translation.value, 0x04B0040704E40409, 8);
    root.children = {Node{u"StringFileInfo", 1, {}, 0, {us, de}}, Node{u"VarFileInfo", 1, {}, 0, {translation}}};
    return Build(root);
}

// A minimal ELF file (64- or 32-bit, either byte order) holding the bytes in the version section;
// extended: the section count and the names section's index kept in section 0; names_last: the
// section names after the version section.
std::string CraftedElf(const std::vector<uint8_t>& resource, bool is64 = true, bool little = true, bool extended = false,
                       bool names_last = false) {
    const std::string names = std::string("\0.shstrtab\0.em_version\0", 23);
    const size_t sh = is64 ? 64 : 40, word = is64 ? 8 : 4;
    std::vector<uint8_t> f = {0x7F, 'E', 'L', 'F', static_cast<uint8_t>(is64 ? 2 : 1), static_cast<uint8_t>(little ? 1 : 2), 1};
    f.resize(is64 ? 64 : 52);
    auto put = [&](size_t at, uint64_t v, size_t n) {
        for (size_t i = 0; i < n; ++i) f[at + (little ? i : n - 1 - i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    const size_t names_off = f.size();
    f.insert(f.end(), names.begin(), names.end());
    Align(f);
    const size_t res_off = f.size();
    f.insert(f.end(), resource.begin(), resource.end());
    Align(f);
    const size_t shoff = f.size();
    f.resize(shoff + 3 * sh);
    auto section = [&](size_t i, uint32_t name, uint64_t off, uint64_t size, uint32_t link) {
        put(shoff + i * sh, name, 4);
        put(shoff + i * sh + 4, 1, 4);
        put(shoff + i * sh + 8 + 2 * word, off, word);
        put(shoff + i * sh + 8 + 3 * word, size, word);
        put(shoff + i * sh + 8 + 4 * word, link, 4);
    };
    const size_t names_index = names_last ? 2 : 1;
    if (extended) section(0, 0, 0, 3, static_cast<uint32_t>(names_index));
    section(names_index, 1, names_off, names.size(), 0);
    section(3 - names_index, 11, res_off, resource.size(), 0);
    const size_t at = is64 ? 40 : 32;
    put(at, shoff, word);
    put(at + word + 10, sh, 2);
    put(at + word + 12, extended ? 0 : 3, 2);
    put(at + word + 14, extended ? 0xFFFF : names_index, 2);
    return std::string(f.begin(), f.end());
}

std::string U8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

}  // namespace

TEST(VersionResource, LanguagesStringsAndFixedPart) {
    CVersionResource r;
    r.Assign(CraftedResource());
    uint16_t lang = 0, cp = 0;
    ASSERT_TRUE(r.ContainsLangId(lang, cp));  // language 0: the first entry
    EXPECT_EQ(lang, 0x0409);
    EXPECT_EQ(cp, 1252);
    lang = 0x0407;
    ASSERT_TRUE(r.ContainsLangId(lang, cp));
    EXPECT_EQ(cp, 1200);
    lang = 0x0411;
    EXPECT_FALSE(r.ContainsLangId(lang, cp));

    std::u16string text = u"old";
    ASSERT_TRUE(r.QueryString(text, u"companyname", 0, 0));
    EXPECT_EQ(text, u"Acme?Works?");  // control characters shown as '?'
    ASSERT_TRUE(r.QueryString(text, u"QUIZ", 0, 0));
    EXPECT_EQ(text, u"? ~??\u00a0\u00e9");
    // The block name "\\StringFileInfo\\<language><code page>\\<name>" is cut to 259 characters.
    ASSERT_TRUE(r.QueryString(text, std::u16string(235, u'K').c_str(), 0, 0));
    EXPECT_EQ(text, u"long");
    ASSERT_TRUE(r.QueryString(text, u"CompanyName", 0x0407, 0));
    EXPECT_EQ(text, u"Acme DE");
    EXPECT_FALSE(r.QueryString(text, u"ProductVersion", 0x0407, 0));  // not in that table
    EXPECT_FALSE(r.QueryString(text, u"XompanyName", 0x0407, 0));  // every character of the name counts
    EXPECT_FALSE(r.QueryString(text, nullptr, 0, 0));
    EXPECT_EQ(text, u"Acme DE");

    diag::VsFixedFileInfo fixed;
    ASSERT_TRUE(r.GetFixedInfo(fixed));
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileType, 2u);

    // The length of a text value counts characters: the children follow its bytes.
    r.Assign(Build(Node{u"VS_VERSION_INFO", 1, {'a', 0, 'b', 0}, 2, {Str(u"A", u"x")}}));
    std::span<const uint8_t> value;
    EXPECT_TRUE(r.QueryValue(u"\\A", value));
}

TEST(VersionResource, DamagedResourcesAreRejectedWithoutOverreads) {
    const auto good = CraftedResource();
    // Cut anywhere: the fixed part is there once its 52 bytes are, a string once the first
    // translation entry is (the last bytes of the resource).
    for (size_t cut = 0; cut < good.size(); ++cut) {
        CVersionResource r;
        r.Assign(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(cut)));
        std::u16string text;
        diag::VsFixedFileInfo fixed;
        EXPECT_EQ(r.QueryString(text, u"CompanyName", 0, 0), cut >= good.size() - 4) << cut;
        EXPECT_EQ(r.GetFixedInfo(fixed), cut >= 40 + 52) << cut;
    }
    // Lengths that claim more than there is, and keys without terminator.
    std::vector<uint8_t> bad = good;
    bad[0] = 0xFF;
    bad[1] = 0xFF;
    CVersionResource r;
    r.Assign(bad);
    std::u16string text;
    EXPECT_TRUE(r.QueryString(text, u"CompanyName", 0, 0));
    for (uint8_t length : {64, 63}) {  // the key fills the block to its last (whole or half) character
        std::vector<uint8_t> noterm(64, 'A');
        noterm[0] = length;
        noterm[1] = 0;
        r.Assign(noterm);
        std::span<const uint8_t> value;
        EXPECT_FALSE(r.QueryValue(u"\\", value)) << length;
    }
}

TEST(FileVersionInfo, ReadsTheSectionOfAnElfFile) {
    EM_SKIP_UNLESS_POSIX("an ELF section carries the version only in the Linux build");
    test::TempDir dir;
    const std::string elf = CraftedElf(CraftedResource());
    test::WriteBytes(dir.File("m.so"), elf);
    auto loads = [&](const std::string& bytes, CFileVersionInfo* into = nullptr) {
        test::WriteBytes(dir.File("f.so"), bytes);
        CFileVersionInfo fresh;
        return (into ? *into : fresh).LoadFromFile(dir.WFile("f.so").c_str());
    };
    CFileVersionInfo info;
    std::u16string version = u"unchanged";
    EXPECT_FALSE(info.GetFileVersion(version));  // nothing loaded, no file name
    EXPECT_EQ(info.GetCompanyName(), u"");
    ASSERT_TRUE(info.LoadFromFile(dir.WFile("m.so").c_str()));
    for (int form = 0; form < 16; ++form) {  // 32 or 64 bits, either byte order, extended numbering, order
        CFileVersionInfo other;
        EXPECT_TRUE(loads(CraftedElf(CraftedResource(), form & 1, form & 2, form & 4, form & 8), &other)) << form;
        EXPECT_EQ(other.GetProductVersion(0), u"6.1") << form;
    }
    EXPECT_EQ(info.GetCompanyName(0), u"Acme?Works?");
    EXPECT_EQ(info.GetProductVersion(0), u"6.1");
    EXPECT_EQ(info.GetFileDescription(0), u"6.1");  // a failed lookup leaves the last text

    // Damaged files: every truncation (the section table comes last) and corrupted header fields.
    for (size_t cut = 0; cut < elf.size(); cut += 3) EXPECT_FALSE(loads(elf.substr(0, cut))) << cut;
    for (size_t at : {4u, 5u, 40u, 58u, 60u, 62u}) {
        std::string broken = elf;
        broken[at] = '\xFF';
        EXPECT_FALSE(loads(broken)) << at;
    }
    std::vector<uint8_t> huge = CraftedResource();  // a version section above 1 MB is not taken
    huge.resize((1u << 20) + 4);
    EXPECT_FALSE(loads(CraftedElf(huge)));
    CFileVersionInfo none;
    EXPECT_FALSE(none.LoadFromFile(dir.WFile("missing.so").c_str()));
    EXPECT_FALSE(none.LoadFromFile(u""));
}

TEST(FileVersionInfo, SystemFileFoundInTheRedirectedDirectory) {
    EM_SKIP_UNLESS_POSIX("the crafted library is an ELF file");
    static test::TempDir dir;
    test::WriteBytes(dir.File("only32.so"), CraftedElf(CraftedResource()));
    CFileVersionInfo::SetSystemDirectories([](std::u16string& p) { return (p = u"/no/system64", true); },
                                           [](std::u16string& p) { return (p = dir.WFile(""), !p.empty()); });
    test::TraceCapture cap(3);
    CFileVersionInfo info;
    EXPECT_TRUE(info.LoadFromFile(u"/no/system64/only32.so"));
    std::u16string version;
    EXPECT_TRUE(info.GetFileVersion(version));
    EXPECT_EQ(version, u"6.1.2.3");
    EXPECT_TRUE(cap.Contains("\nCFileVersionInfo    : Module system location is: \"/only32.so\""));
    // The redirected name is cut to 259 characters.
    CFileVersionInfo::SetSystemDirectories([](std::u16string& p) { return (p = u"/no/system64", true); },
                                           [](std::u16string& p) { return (p = std::u16string(255, u'w'), true); });
    EXPECT_FALSE(info.LoadFromFile(u"/no/system64/x.so"));
    EXPECT_TRUE(cap.Contains("\nCFileVersionInfo    : Check WOW64 system path: \"" + std::string(255, 'w') + "/x.s\""));
    CFileVersionInfo::SetSystemDirectories(nullptr, nullptr);
}

TEST(Banner, LinesOfTheLoadHook) {
    test::TraceCapture cap(1);
    diag::WriteLoadBanner(u"EM_TARNEL", reinterpret_cast<const void*>(&diag::WriteLoadBanner));
    // The test program has no version resource: its size query fails, once for the strings
    // and once more for the file version.
    std::vector<std::string> lines;
    size_t errors = 0;
    for (const auto& l : cap.Utf8Lines()) {
        if (l.rfind("\nCFileVersionInfo    : ERROR 0x", 0) == 0) ++errors;
        else lines.push_back(l);
    }
    EXPECT_EQ(errors, 2u);
    ASSERT_EQ(lines.size(), 8u);  // company, module path and the empty line are level 2
    EXPECT_EQ(lines[0], "\n\n *** Kindrel module EM_TARNEL loaded ***\n");
    std::u16string computer;
    ASSERT_TRUE(platform::GetComputerName(computer));
    EXPECT_EQ(lines[1], "\n      Computer name : " + U8(computer));
    EXPECT_EQ(lines[2].rfind("\n   Operating system : ", 0), 0u);
    if (platform::GetNativeArchitecture() == platform::kArchX64) {
        EXPECT_EQ(lines[3], "\n        OS platform : x64");
    }
    EXPECT_EQ(lines[4], "\n Module description : ");
    EXPECT_EQ(lines[6], "\n       File version : ");
    EXPECT_TRUE(std::regex_match(lines[7], std::regex("\n    Build date/time : [A-Z][a-z]{2} [ 1-3]\\d \\d{4} \\d\\d:\\d\\d:\\d\\d")));
    EXPECT_EQ(U8(diag::PlatformLine(0)), "\n        OS platform : x86");
    EXPECT_EQ(U8(diag::PlatformLine(6)), "\n        OS platform : iA64");
    EXPECT_EQ(U8(diag::PlatformLine(12)), "\n        OS platform : << Unknown!! >>");
}

// Run in a child process by the test below: loads the library and leaves a module behind.
TEST(Banner, DISABLED_LoadLibraryAndLeaveModule) {
    platform::Library lib;
    ASSERT_TRUE(lib.Open(EM_DEFAULT_LIBRARY)) << lib.Error();
    using CreateFn = uint32_t (*)(IExtensionModule**, void*);
    auto create = reinterpret_cast<CreateFn>(lib.Symbol("EM_Create"));
    ASSERT_NE(create, nullptr);
    IExtensionModule* module = nullptr;
    ASSERT_EQ(create(&module, nullptr), 1u);
    lib.Close();
}

TEST(Banner, TheLibraryCarriesItsVersionAndTracesItsLoadAndUnload) {
    CFileVersionInfo info;
    ASSERT_TRUE(info.LoadFromFile(platform::Utf8ToUtf16(EM_DEFAULT_LIBRARY).c_str()));
    EXPECT_EQ(info.GetCompanyName(), u"Osterbrink");
    EXPECT_EQ(info.GetFileDescription(), u"OID mapper extension module");
    const std::string product = U8(info.GetProductVersion());
    EXPECT_TRUE(std::regex_match(product, std::regex("\\d+\\.\\d+(\\.\\d+)*"))) << product;
    std::u16string file_version;
    ASSERT_TRUE(info.GetFileVersion(file_version));
    EXPECT_EQ(U8(file_version).rfind(product, 0), 0u) << U8(file_version);

    test::TempDir dir;
    const std::string file = dir.File("module.log");
    test::ScopedRegistry reg(dir, "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\\EM_TARNEL]\n"
                                  "\"FileDebugLevel\"=dword:5\n\"TraceFile\"=str(2):\"" + test::RegString(file) + "\"\n");
    std::u16string self;
    ASSERT_TRUE(platform::GetExecutablePath(self));
    const std::string cmd = test::ChildTestCommand(U8(self), "Banner.DISABLED_LoadLibraryAndLeaveModule",
                                                   {{"EM_TARNEL_REGISTRY", reg.Path()}});
    ASSERT_EQ(std::system(cmd.c_str()), 0);

    const std::string log = test::ReadUtf16Text(file);
    const std::string dll = "\r\nEM DLL (EM_TARNEL ) : ";
    for (const std::string& expected :
         {std::string("\r\n\r\n *** Kindrel module EM_TARNEL loaded ***\r\n"), "\r\n     Module version : " + product,
          std::string("\r\n       Company name : Osterbrink"), dll + "DLL_PROCESS_ATTACH", dll + "Create module",
          dll + "DLL_PROCESS_DETACH\r\n", dll + "DLL_PROCESS_DETACH - deleting module...",
          dll + "DLL_PROCESS_DETACH - module deleted", dll + "DLL_PROCESS_DETACH finished"})
        EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n--- trace file:\n" << log;
}

TEST(Banner, OperatingSystemNameFromOsRelease) {
    const std::pair<const char*, const char16_t*> cases[] = {
        {"NAME=x\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n", u"Debian GNU/Linux 12 (bookworm)"},
        {"PRETTY_NAME='single quoted'\r\n", u"single quoted"}, {"PRETTY_NAME=\"a \\\"b\\\" c\"", u"a \"b\" c"},
        {"PRETTY_NAME=bare\nPRETTY_NAME=second", u"bare"}, {"#PRETTY_NAME=no\nNAME=x\nPRETTY_NAME=\"unterminated", u"unterminated"}, {"PRETTY_NAME=\"ends in \\", u"ends in \\"},
        {"", u""}};
    for (const auto& [text, name] : cases) EXPECT_EQ(platform::PrettyNameFromOsRelease(text), name) << text;
}
