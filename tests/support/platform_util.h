// What the tests see differently on the two platforms.
#pragma once

#include <string>

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

}  // namespace em::test

// Leaves a test out where the behaviour it checks exists only on POSIX.
#define EM_SKIP_UNLESS_POSIX(reason)              \
    do {                                           \
        if (!::em::test::kPosixPlatform) {         \
            GTEST_SKIP() << reason;                \
        }                                          \
    } while (false)
