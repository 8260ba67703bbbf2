// What the tests see differently on the two platforms.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/sysinfo.h"

namespace em::test {

#if defined(_WIN32)
constexpr bool kPosixPlatform = false;
#else
constexpr bool kPosixPlatform = true;
#endif

// The separator of the paths the module composes, as narrow text.
inline std::string Sep() { return std::string(1, static_cast<char>(platform::kPathSeparator)); }

// Text as a quoted string of a registry file: backslashes (Windows paths) escaped.
inline std::string RegString(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// A command for std::system that runs one (disabled) test of the program exe in a child process
// with the environment variables given, its output discarded. The child is never sharded.
inline std::string ChildTestCommand(const std::string& exe, const std::string& filter,
                                    const std::vector<std::pair<std::string, std::string>>& env) {
    const std::string args = " --gtest_also_run_disabled_tests --gtest_filter=" + filter;
    std::string cmd;
#if defined(_WIN32)
    for (const auto& [name, value] : env) cmd += "set " + name + "=" + value + "&& ";
    return cmd + "set GTEST_TOTAL_SHARDS=&& set GTEST_SHARD_INDEX=&& \"" + exe + "\"" + args + " >NUL 2>&1";
#else
    for (const auto& [name, value] : env) cmd += name + "='" + value + "' ";
    return cmd + "'" + exe + "'" + args + " >/dev/null 2>&1";
#endif
}

}  // namespace em::test

// Leaves a test out where the behaviour it checks exists only on POSIX.
#define EM_SKIP_UNLESS_POSIX(reason)                               \
    do {                                                            \
        if (!::em::test::kPosixPlatform) GTEST_SKIP() << reason;    \
    } while (false)
