// Platform services the trace file and the message files rely on: files and their reading.
#include <gtest/gtest.h>

#include "platform/files.h"
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
}
