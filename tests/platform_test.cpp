// Platform services the trace file relies on: files, console output, named locks.
#include <gtest/gtest.h>

#include "platform/debug_output.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/named_lock.h"
#include "platform/sync.h"
#include "tests/diag_test_util.h"

using namespace em;

TEST(PlatformFiles, ReadWholeOrCutAndRefuseDirectories) {
    test::TempDir dir;
    const std::string big = std::string(40000, 'x') + "end";  // more than one read
    test::WriteBytes(dir.File("a"), big);
    std::string bytes = "old";
    ASSERT_TRUE(platform::ReadFileBytes(dir.WFile("a"), bytes, 1 << 20));
    EXPECT_EQ(bytes, big);
    ASSERT_TRUE(platform::ReadFileBytes(dir.WFile("a"), bytes, 5));
    EXPECT_EQ(bytes, "xxxxx");
    EXPECT_FALSE(platform::ReadFileBytes(dir.WFile("missing"), bytes, 10));
    EXPECT_FALSE(platform::ReadFileBytes(dir.WFile(""), bytes, 10)) << "a directory";
    platform::File f;
    EXPECT_FALSE(f.Open(u"", platform::File::Mode::Read));
    EXPECT_FALSE(f.Open(dir.WFile(""), platform::File::Mode::Append));
    ASSERT_TRUE(f.Open(dir.WFile("a"), platform::File::Mode::Read));
    platform::File g;
    g = std::move(f);  // the handle moves; the old object holds none
    EXPECT_FALSE(f.IsOpen());
    EXPECT_TRUE(g.IsOpen());
}

#ifndef _WIN32
TEST(PlatformFiles, FailedWritesSetTheLastErrorAndEmptyWritesSucceed) {
    platform::File full;
    ASSERT_TRUE(full.Open(u"/dev/full", platform::File::Mode::Append));
    platform::SetLastError(0);
    EXPECT_FALSE(full.Write("x", 1));
    EXPECT_NE(platform::GetLastError(), 0u);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(platform::WriteConsole(platform::AllocateConsoleOutput(), u""));
    EXPECT_TRUE(platform::WriteConsole(platform::AllocateConsoleOutput(), u"x"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "x");
}
#endif

#ifndef _WIN32
TEST(ErrorText, WindowsCodesGetTheTextOfTheirMeaning) {
    const std::pair<uint32_t, const char*> codes[] = {
        {2, "No such file or directory"}, {3, "Not a directory"}, {4, "Too many open files"}, {5, "Permission denied"},
        {6, "Bad file descriptor"}, {8, "Cannot allocate memory"}, {87, "Invalid argument"}, {112, "No space left on device"},
        {183, "File exists"}, {1460, "Connection timed out"}, {0x20000000u | 13, "Permission denied"}, {7, "Unknown error"}};
    for (auto [code, text] : codes) EXPECT_EQ(platform::Utf16ToUtf8(platform::SystemMessageText(code)), text) << code;
}

TEST(NamedLock, LockFileNamesAndExclusiveHolders) {
    const auto leaf = [](std::u16string_view name) {
        const std::string file = platform::NamedLock(name).LockFile();
        return file.substr(file.rfind('/') + 1);
    };
    EXPECT_EQ(leaf(u"CFileDebug_a/b\\c:d\x01"), "CFileDebug_a_b_c_d_.lock");
    const std::u16string long_name(200, u'n');
    EXPECT_EQ(leaf(long_name), std::string(200, 'n') + ".lock");
    const std::string cut = leaf(long_name + u"a");  // too long: the start and a hash of the whole name
    EXPECT_EQ(cut.size(), 180 + 1 + 16 + 5u);
    EXPECT_NE(cut, leaf(long_name + u"b"));

    const test::TempDir dir;  // a name of this run only; its lock file goes with the folder
    const platform::NamedLock lock(dir.WFile("lock"));
    platform::NamedLockHold first = lock.Acquire(20);
    ASSERT_TRUE(first.Held());
    EXPECT_FALSE(lock.Acquire(20).Held());
    first.Release();
    EXPECT_TRUE(lock.Acquire(0).Held());
}
#endif
