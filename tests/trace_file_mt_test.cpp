// Several processes and threads writing one trace file, the configuration re-read under them, and
// the capture sink installed and removed while threads trace.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "diag/debug.h"
#include "platform/sysinfo.h"
#include "tests/diag_test_util.h"
#include "tests/support/platform_util.h"

using namespace em;

namespace {

constexpr int kLinesPerThread = 400;
constexpr int kThreads = 2;

// Lines of varying length, so that a split or merged line cannot go unnoticed.
void WriteLines(diag::CDebug& d, int writer) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&d, writer, t] {
            for (int i = 0; i < kLinesPerThread; ++i)
                diag::Trace(d, 1, u"\nW%dT%d %d %s", writer, t, i, std::u16string(static_cast<size_t>(i % 97), u'x'));
        });
    }
    for (auto& th : threads) th.join();
}

std::atomic<uint32_t> g_ticks{0};

struct Owner {
    std::atomic<bool> removed{false};
    std::atomic<unsigned> calls{0};
};

std::atomic<unsigned> g_faults{0};

}  // namespace

// Run by the test below in child processes.
TEST(TraceFileProcesses, DISABLED_Writer) {
    const char* reg = std::getenv("EM_MT_REGISTRY");
    const char* id = std::getenv("EM_MT_WRITER");
    ASSERT_TRUE(reg && id);
    platform::SetRegistryFile(reg);
    diag::CDebug d;
    ASSERT_TRUE(d.IsActive());
    WriteLines(d, std::atoi(id));
}

TEST(TraceFileProcesses, TwoProcessesAndTheirThreadsShareOneFile) {
    test::TempDir dir;
    const std::string file = dir.File("shared.log");
    test::ScopedRegistry reg(dir, "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\\EM_TARNEL]\n"
                                  "\"FileDebugLevel\"=dword:1\n\"TraceFileLimit\"=dword:0\n\"TraceFile\"=str(2):\"" +
                                      test::RegString(file) + "\"\n");
    std::u16string self;
    ASSERT_TRUE(platform::GetExecutablePath(self));
    auto writer = [&](int id) {
        return test::ChildTestCommand(platform::Utf16ToUtf8(self), "TraceFileProcesses.DISABLED_Writer",
                                      {{"EM_MT_REGISTRY", reg.Path()}, {"EM_MT_WRITER", std::to_string(id)}});
    };

    int status[2] = {-1, -1};
    std::thread children[2];
    for (int i = 0; i < 2; ++i) children[i] = std::thread([&, i] { status[i] = std::system(writer(i + 1).c_str()); });
    diag::CDebug d;  // this process writes too
    WriteLines(d, 0);
    for (auto& c : children) c.join();
    ASSERT_TRUE(status[0] == 0 && status[1] == 0) << status[0] << " " << status[1];

    const std::string all = test::ReadUtf16Text(file);
    ASSERT_EQ(all.find("\xEF\xBB\xBF"), std::string::npos) << "a second byte order mark";
    // Every line whole, once, in its writer's order.
    const std::regex line_re("\r\nW(\\d)T(\\d) (\\d+) (x*)");
    std::map<std::pair<int, int>, int> next;
    size_t lines = 0, end = 0;
    for (std::sregex_iterator it(all.begin(), all.end(), line_re), none; it != none; ++it, ++lines) {
        const std::smatch& m = *it;
        ASSERT_EQ(static_cast<size_t>(m.position()), end) << "garbage before " << m.str();
        end = m.position() + m.length();
        const int seq = std::stoi(m[3]);
        ASSERT_EQ(m[4].length(), seq % 97) << m.str();
        ASSERT_EQ(seq, next[std::pair(std::stoi(m[1]), std::stoi(m[2]))]++) << m.str();
    }
    EXPECT_EQ(end, all.size());
    EXPECT_EQ(lines, static_cast<size_t>(3 * kThreads * kLinesPerThread));
}

TEST(TraceFileThreads, ConfigurationRereadWhileThreadsTrace) {
    test::TempDir dir;
    const std::string a = dir.File("a.log"), b = dir.File("b.log");
    auto registry = [](const std::string& file) {
        return "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Debug]\n\"DynamicUpdate\"=dword:1\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\\EM_TARNEL]\n\"FileDebugLevel\"=dword:1\n\"TraceFile\"=str(2):\"" +
               test::RegString(file) + "\"\n";
    };
    test::ScopedRegistry reg(dir, registry(a));
    // Every call is a new interval: each trace call re-reads the configuration.
    platform::SetTickSource([] { return g_ticks.fetch_add(1024) + 1024; });
    diag::CDebug d;
    std::atomic<bool> stop{false};
    // The file changes under the writers; the registry file is replaced whole each time.
    std::thread switcher([&] {
        for (int i = 0; !stop; ++i) {
            test::WriteBytes(reg.Path() + ".new", registry(i % 2 ? a : b));
            // Windows refuses to replace the file while a reader has it open: tried again.
            std::error_code ec;
            for (int tries = 0; tries < 1000; ++tries) {
                std::filesystem::rename(reg.Path() + ".new", reg.Path(), ec);
                if (!ec) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    constexpr int kWriters = 4, kLines = 150;
    std::vector<std::thread> writers;
    for (int t = 0; t < kWriters; ++t)
        writers.emplace_back([&d, t] {
            // Called directly: the active flag may read clear while another thread re-reads.
            for (int i = 0; i < kLines; ++i) diag::Trace(d, 1, u"\nT%d %d", t, i);
        });
    for (auto& w : writers) w.join();
    stop = true;
    switcher.join();
    platform::SetTickSource(nullptr);

    const std::string text = test::ReadUtf16Text(a) + test::ReadUtf16Text(b);
    size_t lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(lines, static_cast<size_t>(kWriters * kLines));
}

TEST(TraceCaptureMt, RemovalWaitsForCallsInFlight) {
    test::TempDir dir;
    test::ScopedRegistry reg(dir, "Windows Registry Editor Version 5.00\r\n");
    diag::CDebug d;
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t)
        writers.emplace_back([&, t] {
            while (!stop.load()) diag::Trace(d, 1, u"\nline %d", t);
        });
    // Owners are kept to the end, so that a late call is counted rather than a crash.
    std::vector<std::unique_ptr<Owner>> owners;
    unsigned calls = 0;
    for (int i = 0; i < 1000; ++i) {
        owners.push_back(std::make_unique<Owner>());
        d.SetCapture(
            [](void* ctx, uint32_t, std::u16string_view) {  // a call without its context, or after its removal
                auto* owner = static_cast<Owner*>(ctx);
                if (!owner || owner->removed.load()) ++g_faults;
                else ++owner->calls;
            },
            owners.back().get(), 5);
        std::this_thread::yield();
        d.SetCapture(nullptr, nullptr, 0);
        owners.back()->removed = true;
        calls += owners.back()->calls.load();
    }
    stop = true;
    for (auto& w : writers) w.join();
    EXPECT_EQ(g_faults.load(), 0u);
    EXPECT_GT(calls, 0u);
}
