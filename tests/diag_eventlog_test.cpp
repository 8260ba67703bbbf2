// The event log switch and the installation paths.
#include <gtest/gtest.h>

#include "diag/eventlog_switch.h"
#include "platform/sysinfo.h"
#include "tests/diag_test_util.h"
#include "tests/support/trace_capture.h"
#include "tests/support/platform_util.h"

using namespace em;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\n";

}  // namespace

TEST(EventLogSwitch, RegistersOnceAndDeregisters) {
    // The agentless service (host type 5) has a source of its own; every other host the agent's.
    test::TraceCapture cap(5);
    for (auto [type, source] : {std::pair{5u, "Agentless Service"}, {1u, "Kindrel"}}) {
        diag::g_EventLogSwitch.DeregisterSource();
        EXPECT_TRUE(diag::RegisterModuleEventSource(type, u"EM_TARNEL"));
        EXPECT_TRUE(cap.Contains(std::string("source=Brakmoor ") + source + ", module=EM_TARNEL, MsgIdPlainText=0x40000000"));
    }
    diag::g_EventLogSwitch.DeregisterSource();
    cap.Clear();
    diag::CEventLogSwitch sw;
    EXPECT_TRUE(sw.RegisterSource(u"Brakmoor Kindrel", u"EM_TARNEL", 0x12));
    EXPECT_TRUE(sw.RegisterSource(u"Other", u"OTHER", 0));  // refused, the first stays
    EXPECT_EQ(sw.ModuleName(), u"EM_TARNEL");
    EXPECT_EQ(sw.MsgIdPlainText(), 0x40000012u);
    const auto lines = cap.Utf8Lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "\nSWITCH (SysLog)     : RegisterSource(): source=Brakmoor Kindrel, module=EM_TARNEL, MsgIdPlainText=0x00000012");
    EXPECT_EQ(lines[5], "\nSWITCH (SysLog)     : RegisterSource(): WARNING!! Eventlog source already registered - registration ignored!");

    cap.Clear();
    EXPECT_TRUE(sw.DeregisterSource());
    EXPECT_FALSE(sw.IsRegistered());
    EXPECT_TRUE(sw.DeregisterSource());  // nothing left: no lines
    const auto off = cap.Utf8Lines();
    ASSERT_EQ(off.size(), 3u);
    EXPECT_EQ(off[0], "\nSWITCH (SysLog)     : DeregisterSource(): Unregister event source...");

    // Without a source name only the message id is kept.
    EXPECT_FALSE(sw.RegisterSource(nullptr, u"M", 1));
    EXPECT_EQ(sw.ModuleName(), u"EM_TARNEL");
}

TEST(InstallPaths, SetupKeyAndRootsWithTheirFallbacks) {
    const std::string setup = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Osterbrink\\Management\\Kindrel\\Setup]\n";
    const std::u16string agent = u"SOFTWARE\\Osterbrink\\Management\\Kindrel\\Setup", home = platform::Utf8ToUtf16(std::getenv("HOME"));
    std::u16string cwd;
    platform::GetCurrentDirectory(cwd);
    struct Case {
        std::string registry;
        std::u16string setup_key, bin, file;
    };
    const Case cases[] = {
        {kHeader, agent, cwd, cwd},
        {kHeader + setup + "\"BinRoot\"=\"D:\\\\Agent\\\\Bin\\\\\"\n\"FileRoot\"=\"D:\\\\Agent\"\n", agent, u"D:\\Agent\\Bin", u"D:\\Agent"},
        {kHeader + setup + "\"FileRoot\"=\"D:\\\\Agent\\\\\"\n\"BinRoot\"=\"\"\n", agent, u"D:\\Agent", u"D:\\Agent"},
        {kHeader + setup + "\"FileRoot\"=\"\"\n", agent, cwd, cwd},  // an empty root counts as none
        {kHeader + setup + "\"FileRoot\"=hex(2):25,48,4f,4d,45,25,00\n", agent, home, home},
        // The shortest path that loses its trailing separator; '/' separates on POSIX only.
        {kHeader + setup + "\"FileRoot\"=\"/ab/\"\n", agent, test::kPosixPlatform ? u"/ab" : u"/ab/", test::kPosixPlatform ? u"/ab" : u"/ab/"},
        // A drive root keeps its separator; the installation pointer key redirects the setup key.
        {kHeader + "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\UUID\\7D24E0A1-5B3C-4F19-9A62-1E08C4D7B593]\n"
                   "\"Kindrel\"=\"SOFTWARE\\\\Elsewhere\"\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Elsewhere\\Setup]\n\"FileRoot\"=\"C:\\\\\"\n",
         u"SOFTWARE\\Elsewhere\\Setup", u"C:\\", u"C:\\"},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        test::ScopedRegistry reg(dir, c.registry);
        std::u16string path = u"unchanged";
        EXPECT_EQ(diag::GetSetupKeyPath(path), c.setup_key) << c.registry;
        EXPECT_EQ(diag::GetFileRoot(path), c.file) << c.registry;
        EXPECT_EQ(diag::GetBinRoot(path), c.bin) << c.registry;
    }
    std::u16string value = u"kept";
    EXPECT_FALSE(diag::ReadRegistryString(u"SOFTWARE\\Nope", u"X", value));
    EXPECT_EQ(value, u"kept");
}
