// The trace facility: configuration from the registry, line composition, the sinks and the trace
// file with its encoding and rotation.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <stdexcept>
#include <vector>

#include "diag/debug.h"
#include "platform/sync.h"
#include "platform/sysinfo.h"
#include "tests/diag_test_util.h"
#include "tests/support/platform_util.h"

using namespace em;
using diag::CDebug;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n";

const std::string kDynamic = kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Debug]\n\"DynamicUpdate\"=dword:5\n";

std::string AppKey(const std::string& values) {
    return kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\\EM_TARNEL]\r\n" + values;
}

std::string U8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

std::atomic<uint32_t> g_tick{0};

// What the body writes to standard error, the debugger output on POSIX.
template <class Body>
std::string Stderr(Body body) {
    testing::internal::CaptureStderr();
    body();
    return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(TraceConfig, SettingsReadAndActiveOnlyWhenSomethingIsSwitchedOn) {
    struct Case {
        std::string registry;
        bool active;
        uint32_t dynamic, file_level, limit_mb, console, debugger;
        std::string path;
    };
    const std::string home = std::getenv("HOME");
    const Case cases[] = {
        {kHeader, false, 0, 0, 0, 0, 0, ""},  // no application key: no file set
        // A REG_SZ TraceFile is ignored: no file sink, nothing active.
        {AppKey("\"FileDebugLevel\"=dword:3\n\"TraceFile\"=\"/tmp/t.log\"\n"), false, 0, 3, 10, 0, 0, ""},
        // REG_EXPAND_SZ (also written str(2)) is expanded.
        {AppKey("\"FileDebugLevel\"=dword:3\n\"TraceFile\"=str(2):\"%HOME%/x.log\"\n\"TraceFileLimit\"=dword:2\n"), true, 0, 3,
         2, 0, 0, home + "/x.log"},
        // A value longer than 4 bytes leaves the default; a shorter one is read into a zero.
        {AppKey("\"ConDebugLevel\"=hex:01,02,03,04,05\n\"WinDebugLevel\"=hex:02\n\"FileDebugLevel\"=hex:00\n"), true, 0, 0, 10,
         0, 2, ""},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        test::ScopedRegistry reg(dir, c.registry);
        CDebug d;
        EXPECT_EQ(d.IsActive(), c.active) << c.registry;
        EXPECT_EQ(d.DynamicUpdate(), c.dynamic) << c.registry;
        EXPECT_EQ(d.FileLevel(), c.file_level) << c.registry;
        EXPECT_EQ(d.FileSink().LimitBytes(), c.limit_mb << 20) << c.registry;
        EXPECT_EQ(d.ConsoleLevel(), c.console) << c.registry;
        EXPECT_EQ(d.DebuggerLevel(), c.debugger) << c.registry;
        EXPECT_EQ(U8(d.FileSink().Path()), c.path) << c.registry;
        EXPECT_EQ(U8(d.AppName()), "EM_TARNEL");
    }
}

// The lines a facility configured by the registry text composes for the traces body runs.
template <class Body>
std::vector<std::u16string> Composed(const std::string& registry, uint32_t level, Body body) {
    test::TempDir dir;
    test::ScopedRegistry reg(dir, registry);
    std::vector<std::u16string> lines;
    CDebug d;
    d.SetCapture([](void* ctx, uint32_t, std::u16string_view line) {
        static_cast<std::vector<std::u16string>*>(ctx)->emplace_back(line);
    }, &lines, level);
    body(d);
    d.SetCapture(nullptr, nullptr, 0);
    return lines;
}

TEST(TraceCompose, PrefixFieldsAfterTheLeadingLineBreaks) {
    auto lines = Composed(kHeader, 2, [](CDebug& d) {
        diag::Trace(d, 0, u"\nCTaskSerializer     : level %d", 0);  // level 0 counts as 1
        diag::Trace(d, 2, u"\n\nEM_TARNEL           : %s=%04X", u"v", 0xBEEFu);
        diag::Trace(d, 3, u"\nnot written");
    });
    EXPECT_EQ(lines, (std::vector<std::u16string>{u"\nCTaskSerializer     : level 0", u"\n\nEM_TARNEL           : v=BEEF"}));
    // All fields in their order; the application name is followed by a colon and five blanks.
    lines = Composed(AppKey("\"TimeStampOn\"=dword:1\n\"DateStampOn\"=dword:1\n\"ThreadIdOn\"=dword:1\n\"CpuIdOn\"=dword:1\n"
                            "\"AppNameOn\"=dword:1\n\"MemUsageOn\"=dword:1\n\"HandleCountOn\"=dword:1\n"),
                     5, [](CDebug& d) { diag::Trace(d, 1, u"\n\nx"); });
    ASSERT_EQ(lines.size(), 1u);
    const std::regex all_fields("\n\n\\[\\d{4}-\\d{2}-\\d{2}\\] \\[\\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\] \\(\\d{6,}\\) #\\d{2,} "
                                "\\{PB \\d{5,}kB, MU \\d{5,}kB\\} \\{\\d{3,} H\\} EM_TARNEL:     x");
    EXPECT_TRUE(std::regex_match(U8(lines[0]), all_fields)) << U8(lines[0]);
#ifndef _WIN32
    // The private usage in kB, between its values before and after (tried again should it move
    // back and forth in between).
    bool within = false;
    for (int attempt = 0; attempt < 5 && !within; ++attempt) {
        platform::MemoryCounters before, after;
        lines = Composed(AppKey("\"MemUsageOn\"=dword:1\n"), 5, [&](CDebug& d) {
            platform::GetProcessMemoryCounters(&before);
            diag::Trace(d, 1, u"x");
            platform::GetProcessMemoryCounters(&after);
        });
        EXPECT_EQ(before.private_usage % 1024 + before.working_set % 1024, 0u);  // whole kB, as the kernel counts
        std::smatch m;
        const std::string line = U8(lines.at(0));
        ASSERT_TRUE(std::regex_match(line, m, std::regex("\\{PB (\\d+)kB, MU \\d+kB\\} x"))) << line;
        const uint64_t pb = std::stoull(m[1]);
        // Shown as a signed 32-bit number: the sanitizers' shadow memory goes past it.
        const auto kb = [](uint64_t bytes) { return std::min<uint64_t>(bytes / 1024, 0x7FFFFFFF); };
        within = kb(std::min(before.private_usage, after.private_usage)) <= pb &&
                 pb <= kb(std::max(before.private_usage, after.private_usage));
    }
    EXPECT_TRUE(within);
#endif
}

TEST(TraceCompose, OverlongPrefixAndMessage) {
    // 3172 leading line breaks make the text before the message too long; the whole line holds at
    // most 4195 characters.
    const std::u16string almost(3171, u'\n');
    const auto lines = Composed(kHeader, 5, [&](CDebug& d) {
        diag::Trace(d, 1, almost + u"\nmsg");
        diag::Trace(d, 1, almost + u"msg");
        diag::Trace(d, 1, u"\n%s", std::u16string(5000, u'a'));
    });
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], u"################# CDebug::Trace() - BUFFER TOO SMALL - FIXME! #################msg");
    EXPECT_EQ(lines[1], almost + u"msg");
    EXPECT_EQ(lines[2].size(), 4195u);
}

TEST(TraceCompose, ExceptionTextAndLastError) {
    test::TempDir dir;
    test::ScopedRegistry reg(dir, kHeader);
    std::vector<std::u16string> lines;  // the first call throws
    CDebug d;
    d.SetCapture([](void* ctx, uint32_t, std::u16string_view line) {
        auto& lines = *static_cast<std::vector<std::u16string>*>(ctx);
        lines.emplace_back(line);
        platform::SetLastError(99);  // a sink that changes the last error: the caller's comes back
        if (lines.size() == 1) throw std::runtime_error("sink failed");
    }, &lines, 5);
    platform::SetLastError(1234);
    diag::Trace(d, 1, u"\nfirst");
    diag::Trace(d, 5, u"\nsecond");
    // Read at once: on Windows the checks below may themselves change the thread's last error.
    const uint32_t after_second = platform::GetLastError();
    d.SetCapture(nullptr, nullptr, 0);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], u"\n\n################# EXCEPTION in CDebug::Trace() #################\n");
    EXPECT_EQ(lines[2], u"\nsecond");
    EXPECT_EQ(after_second, 1234u);
}

TEST(TraceSinks, EachSinkHasItsOwnLevel) {
    EM_SKIP_UNLESS_POSIX("the debugger output and the console are the standard streams only on POSIX");
    test::TempDir dir;
    const std::string file = dir.File("trace.log");
    test::ScopedRegistry reg(dir, AppKey("\"FileDebugLevel\"=dword:3\n\"ConDebugLevel\"=dword:2\n"
                                         "\"WinDebugLevel\"=dword:1\n\"TraceFile\"=str(2):\"" + test::RegString(file) + "\"\n"));
    CDebug d;
    ASSERT_EQ(d.FileLevel(), 3u);
    testing::internal::CaptureStdout();
    const std::string err = Stderr([&] {
        for (uint32_t level = 1; level <= 4; ++level) diag::Trace(d, level, u"\n\nL%d\nnext", level);
    });
    // Console: the lines unchanged. Debugger: the first line break dropped, each piece ended by a line break.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\nL1\nnext\n\nL2\nnext");
    EXPECT_EQ(err, "\nL1\nnext\n");
    EXPECT_EQ(test::ReadUtf16Text(file), "\r\n\r\nL1\r\nnext\r\n\r\nL2\r\nnext\r\n\r\nL3\r\nnext");
}

TEST(TraceConfig, RereadAfterTheIntervalAndByInit) {
    EM_SKIP_UNLESS_POSIX("the debugger output is standard error only on POSIX");
    test::TempDir dir;
    g_tick = 100 * 1024;
    platform::SetTickSource([] { return g_tick.load(); });
    test::ScopedRegistry reg(dir, kDynamic);
    CDebug d;
    EXPECT_TRUE(d.IsActive());  // DynamicUpdate alone keeps the facility active although every level is 0
    reg.Write(kDynamic + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\\EM_TARNEL]\n\"WinDebugLevel\"=dword:5\n");
    EXPECT_EQ(Stderr([&] {
                  g_tick = 104 * 1024 + 1023;  // 4.99 intervals: not yet
                  diag::Trace(d, 1, u"\nearly");
                  g_tick = 105 * 1024;  // five units of 1024 ms: the registry is read again
                  diag::Trace(d, 1, u"late");  // no leading line break to drop
              }),
              "late\n");
    EXPECT_EQ(d.DebuggerLevel(), 5u);

    // A tick count that went backwards (wrapped) also triggers the read.
    const std::string quiet = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\\EM_TARNEL]\n\"WinDebugLevel\"=dword:0\n";
    reg.Write(kDynamic + quiet);
    g_tick = 3;
    // Level 0 counts as 1, so a sink at level 0 takes nothing.
    EXPECT_EQ(Stderr([&] { diag::Trace(d, 0, u"\nafter wrap"); }), "");

    // Without DynamicUpdate the facility switches itself off and nothing is re-read afterwards.
    reg.Write(kHeader + quiet);
    g_tick = 2000 * 1024;
    diag::Trace(d, 1, u"\nx");
    EXPECT_FALSE(d.IsActive());
    g_tick = 3000 * 1024;
    reg.Write(kDynamic);
    diag::Trace(d, 1, u"\nx");
    EXPECT_FALSE(d.IsActive());
    platform::SetTickSource(nullptr);

    // Init: reads the key of the given name and writes a banner.
    reg.Write(AppKey("\"WinDebugLevel\"=dword:1\n"));
    d.ReadSettings();
    // The application key follows the (cut) name: no key, so the sink levels stay as they were.
    EXPECT_EQ(Stderr([&] { d.Init(u"EM_TARNEL_WITH_A_VERY_LONG_NAME_THAT_IS_CUT", true); }), "");
    EXPECT_EQ(U8(d.AppName()), "EM_TARNEL_WITH_A_VERY_LONG_NAME");
    EXPECT_FALSE(d.IsActive());
    EXPECT_TRUE(std::regex_match(Stderr([&] { d.Init(u"EM_TARNEL", true); }),
                                 std::regex("\n----- Application \\[EM_TARNEL\\] started at \\d\\d:\\d\\d:\\d\\d "
                                            "\\d\\d/\\d\\d/\\d{4} -----\n")));
    // Without a name everything is cleared and nothing is read: no banner.
    reg.Write(kDynamic);
    d.ReadSettings();
    ASSERT_EQ(d.DynamicUpdate(), 5u);
    EXPECT_EQ(Stderr([&] { d.Init(nullptr, true); }), "");
    EXPECT_FALSE(d.IsActive());
    EXPECT_EQ(d.DynamicUpdate(), 0u);
}

TEST(TraceFile, EncodingFollowsTheExistingFile) {
    // An empty file becomes UTF-16 with one byte order mark; a file without the mark (a single
    // byte cannot hold it) goes on in the ANSI code page, '?' where that has no character. Each
    // line is written twice.
    struct Case {
        std::string before;
        std::u16string line;
        std::string mark, once;
    };
    const Case cases[] = {
        {"", u"x\u4e00", "\xFF\xFE", std::string("x\0\x00\x4E", 4)},
        {"old\r\n", u"\ncaf\u00e9 \u4e00\n", "", "\r\ncaf\xE9 ?\r\n"},
        {"Z", u"y", "", "y"},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.File("t.log");
        test::WriteBytes(path, c.before);
        diag::CFileDebug f;
        ASSERT_TRUE(f.SetFile(1, dir.WFile("t.log"), 10));
        f.WriteLine(c.line);
        f.WriteLine(c.line);
        EXPECT_EQ(test::ReadBytes(path), c.before + c.mark + c.once + c.once);
    }
}

TEST(TraceFile, SetFileRulesRotationAndLostLines) {
    test::TempDir dir;
    diag::CFileDebug f;
    EXPECT_FALSE(f.SetFile(0, dir.WFile("x.log"), 10));  // level 0 keeps the old path
    EXPECT_TRUE(f.Path().empty());

    // A file in a missing directory loses the line silently.
    ASSERT_TRUE(f.SetFile(2, dir.WFile("no/such/dir.log"), 10));
    f.WriteLine(u"lost");
    // The limit in MB is kept in 32 bits.
    f.SetFile(2, dir.WFile("x.log"), 4096);
    EXPECT_EQ(f.LimitBytes(), 0u);
    // The path is cut to 259 characters.
    ASSERT_TRUE(f.SetFile(2, u"q" + std::u16string(259, u'p'), 10));
    EXPECT_EQ(f.Path(), u"q" + std::u16string(258, u'p'));
    EXPECT_FALSE(f.SetFile(2, u"", 10));  // an empty path clears the old one
    EXPECT_TRUE(f.Path().empty());
    f.WriteLine(u"nowhere");  // no path: nothing happens

    EXPECT_EQ(diag::CFileDebug::LockName(u"C:\\Trace\\t.log"), u"CFileDebug_C__Trace_t.log");
    EXPECT_EQ(diag::CFileDebug::LockName(std::u16string(400, u'p')).size(), 259u);

    // Rotation at the limit.
    const std::string path = dir.File("r.log");
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
