// POSIX backend of platform/debug_output.h: standard error and standard output.
#include <errno.h>
#include <unistd.h>

#include "platform/codepage.h"
#include "platform/debug_output.h"

namespace em::platform {

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t r = write(fd, bytes.data() + done, bytes.size() - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

}  // namespace

void OutputDebugString(std::u16string_view text) { WriteAll(STDERR_FILENO, Utf16ToUtf8(text)); }

ConsoleHandle AllocateConsoleOutput() { return STDOUT_FILENO; }

bool WriteConsole(ConsoleHandle console, std::u16string_view text) {
    if (console == kInvalidConsole) return false;
    return WriteAll(static_cast<int>(console), Utf16ToUtf8(text));
}

}  // namespace em::platform
