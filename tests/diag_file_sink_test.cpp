// The trace file: encoding by the existing file, rotation at the size limit, lost lines.
#include <gtest/gtest.h>

#include "diag/file_debug.h"
#include "tests/diag_test_util.h"

using namespace em;
using diag::CFileDebug;

TEST(TraceFile, NewFileIsUtf16WithOneByteOrderMark) {
    test::TempDir dir;
    CFileDebug f;
    ASSERT_TRUE(f.SetFile(1, dir.WFile("t.log"), 10));
    f.WriteLine(u"\n\nA\u00e9\u4e00");
    f.WriteLine(u"\nB");
    EXPECT_EQ(test::ReadBytes(dir.File("t.log")), std::string("\xFF\xFE\r\0\n\0\r\0\n\0A\0\xE9\0\x00\x4E\r\0\n\0B\0", 22));

    // An existing empty file also gets the mark.
    test::WriteBytes(dir.File("e.log"), "");
    ASSERT_TRUE(f.SetFile(1, dir.WFile("e.log"), 10));
    f.WriteLine(u"x");
    EXPECT_EQ(test::ReadBytes(dir.File("e.log")), std::string("\xFF\xFEx\0", 4));
}

TEST(TraceFile, FileWithoutMarkContinuesInAnsi) {
    test::TempDir dir;
    test::WriteBytes(dir.File("a.log"), "old\r\n");
    test::WriteBytes(dir.File("one.log"), "Z");  // a single byte cannot hold the mark
    CFileDebug f;
    ASSERT_TRUE(f.SetFile(1, dir.WFile("a.log"), 10));
    f.WriteLine(u"\ncaf\u00e9 \u4e00\n");  // no 1252 form for U+4E00: one '?' in its place
    EXPECT_EQ(test::ReadBytes(dir.File("a.log")), "old\r\n\r\ncaf\xE9 ?\r\n");
    ASSERT_TRUE(f.SetFile(1, dir.WFile("one.log"), 10));
    f.WriteLine(u"y");
    EXPECT_EQ(test::ReadBytes(dir.File("one.log")), "Zy");
}

TEST(TraceFile, RotationAtTheLimit) {
    test::TempDir dir;
    const std::string path = dir.File("r.log");
    CFileDebug f;
    ASSERT_TRUE(f.SetFile(1, dir.WFile("r.log"), 1));
    const std::string full = "\xFF\xFE" + std::string((1u << 20) - 2, 'a');
    test::WriteBytes(path, full.substr(0, full.size() - 1));  // one byte below the limit
    test::WriteBytes(path + ".txt", "older");
    f.WriteLine(u"b");
    EXPECT_EQ(test::ReadBytes(path).size(), (1u << 20) + 1);  // appended, not rotated
    EXPECT_EQ(test::ReadBytes(path + ".txt"), "older");

    f.WriteLine(u"c");  // now at or above the limit: moved aside, a new file begins
    EXPECT_EQ(test::ReadBytes(path + ".txt").size(), (1u << 20) + 1);
    EXPECT_EQ(test::ReadBytes(path), std::string("\xFF\xFE" "c\0", 4));

    // An ANSI file stays ANSI after the rotation; limit 0 never rotates.
    test::WriteBytes(path, std::string(1u << 20, 'x'));
    f.WriteLine(u"d");
    EXPECT_EQ(test::ReadBytes(path), "d");
    ASSERT_TRUE(f.SetFile(1, dir.WFile("r.log"), 0));
    test::WriteBytes(path, std::string(1u << 20, 'x'));
    f.WriteLine(u"e");
    EXPECT_EQ(test::ReadBytes(path).size(), (1u << 20) + 1);
}

TEST(TraceFile, SetFileRulesAndLostLines) {
    test::TempDir dir;
    CFileDebug f;
    EXPECT_FALSE(f.SetFile(0, dir.WFile("x.log"), 10));  // level 0 keeps the old path
    EXPECT_TRUE(f.Path().empty());
    EXPECT_FALSE(f.SetFile(2, u"", 10));
    EXPECT_EQ(f.Level(), 2u);
    f.WriteLine(u"nowhere");  // no path: nothing happens

    // A file in a missing directory loses the line silently.
    ASSERT_TRUE(f.SetFile(2, dir.WFile("no/such/dir.log"), 10));
    f.WriteLine(u"lost");
    // The limit in MB is kept in 32 bits.
    f.SetFile(2, dir.WFile("x.log"), 4096);
    EXPECT_EQ(f.LimitBytes(), 0u);

    EXPECT_EQ(CFileDebug::LockName(u"C:\\Trace\\t.log"), u"CFileDebug_C__Trace_t.log");
    EXPECT_EQ(CFileDebug::LockName(std::u16string(400, u'p')).size(), 259u);
}
