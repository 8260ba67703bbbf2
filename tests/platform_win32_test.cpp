// What only the Windows build has: the system registry, the version resource, forced thread ends.
#if defined(_WIN32)
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "diag/debug.h"
#include "diag/version_info.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "tasks/thread.h"

namespace em {
namespace {

// The script imports docs/example-trace.reg into the machine's registry, runs this test with
// EM_SYSTEM_REGISTRY=1 and removes the keys again before the rest of the suite runs.
TEST(SystemRegistry, ExampleTraceSettingsReadBack) {
    if (!std::getenv("EM_SYSTEM_REGISTRY")) GTEST_SKIP() << "needs the example settings imported";
    platform::SetRegistryFile("");
    platform::RegKey key;
    ASSERT_EQ(key.Open(u"SOFTWARE\\Debug\\EM_TARNEL", platform::RegView::View64), platform::kErrorSuccess);
    uint32_t type = 0, value = 0, size = sizeof(value);
    ASSERT_EQ(key.QueryValue(u"FileDebugLevel", &type, &value, &size), platform::kErrorSuccess);
    EXPECT_EQ(type, platform::kRegDword);
    EXPECT_EQ(value, 3u);
    size = 2;
    EXPECT_EQ(key.QueryValue(u"TraceFile", &type, nullptr, &size), platform::kErrorSuccess);
    EXPECT_EQ(type, platform::kRegExpandSz);
    EXPECT_GT(size, 4u);
    size = sizeof(value);
    EXPECT_EQ(key.QueryValue(u"TraceFile", &type, &value, &size), platform::kErrorMoreData);
    EXPECT_EQ(key.QueryValue(u"NoSuchValue", &type, &value, &size), platform::kErrorFileNotFound);
    platform::RegKey missing;
    EXPECT_EQ(missing.Open(u"SOFTWARE\\Debug\\NoSuchApplication"), platform::kErrorFileNotFound);

    // The trace facility configured from it, with the trace file expanded.
    diag::CDebug d;
    EXPECT_TRUE(d.IsActive());
    EXPECT_EQ(d.FileLevel(), 3u);
    EXPECT_EQ(d.DebuggerLevel(), 1u);
    EXPECT_EQ(d.DynamicUpdate(), 5u);
    const std::u16string path = d.FileSink().Path();
    EXPECT_EQ(path.find(u'%'), std::u16string::npos) << platform::Utf16ToUtf8(path);
    EXPECT_NE(path.find(u"em_tarnel-trace.log"), std::u16string::npos);
}

// The compiled version resource reads the same through the system's query and the block walk.
TEST(VersionResource, SystemQueryAndBlockWalkAgree) {
    diag::CFileVersionInfo info;
    ASSERT_TRUE(info.LoadFromFile(platform::Utf8ToUtf16(EM_DEFAULT_LIBRARY).c_str()));
    diag::CVersionResource walked;
    walked.Assign(info.Resource().Bytes());
    uint16_t lang = 0, cp = 0;
    ASSERT_TRUE(walked.ContainsLangId(lang, cp));
    EXPECT_EQ(lang, 0x0409);
    EXPECT_EQ(cp, 1252);
    for (const char16_t* name : {u"CompanyName", u"FileDescription", u"FileVersion", u"InternalName",
                                 u"OriginalFilename", u"ProductName", u"ProductVersion"}) {
        std::u16string by_system, by_walk;
        EXPECT_TRUE(info.Resource().QueryString(by_system, name, 0, 0)) << platform::Utf16ToUtf8(name);
        EXPECT_TRUE(walked.QueryString(by_walk, name, 0, 0)) << platform::Utf16ToUtf8(name);
        EXPECT_EQ(by_system, by_walk);
        EXPECT_FALSE(by_system.empty());
    }
    std::u16string original;
    info.Resource().QueryString(original, u"OriginalFilename", 0, 0);
    EXPECT_EQ(original, u"em_tarnel.dll");
    diag::VsFixedFileInfo a, b;
    ASSERT_TRUE(info.Resource().GetFixedInfo(a));
    ASSERT_TRUE(walked.GetFixedInfo(b));
    EXPECT_EQ(a.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(a.dwFileVersionMS, b.dwFileVersionMS);
    EXPECT_EQ(a.dwFileType, 2u);  // a DLL
}

std::atomic<uint32_t> g_spins{0};

unsigned Spin(void*) {
    for (;;) {
        g_spins.fetch_add(1);
        platform::Sleep(1);
    }
}

TEST(ForcedThreadEnd, TheThreadStopsAndItsHandleIsClosed) {
    CThread t;
    ASSERT_TRUE(t.Start(&Spin, nullptr, platform::kThreadPriorityNormal, false, 0));
    while (g_spins.load() < 3) platform::Sleep(1);
    EXPECT_TRUE(t.IsRunning());
    EXPECT_TRUE(t.Terminate(7));
    EXPECT_FALSE(t.HasThread());
    const uint32_t after = g_spins.load();
    platform::Sleep(50);
    EXPECT_EQ(g_spins.load(), after) << "the thread still runs";

    // The process goes on: a new thread runs and ends normally; an ended thread is no forced end.
    CThread next;
    ASSERT_TRUE(next.Start([](void*) -> unsigned { return 3; }, nullptr, platform::kThreadPriorityHighest, false, 64 * 1024));
    EXPECT_TRUE(next.WaitForExit(5000));
    EXPECT_TRUE(next.Terminate(0));
}

}  // namespace
}  // namespace em
#endif
