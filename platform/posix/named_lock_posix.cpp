// POSIX backend of platform/named_lock.h: flock on a lock file, polled.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/codepage.h"
#include "platform/named_lock.h"

namespace em::platform {

namespace {

uint64_t NowUs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

int OpenLockFile(const std::string& file) {
    int fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);  // another user's lock file
    return fd;
}

}  // namespace

NamedLock::NamedLock(std::u16string_view name) {
    const char* dir = std::getenv(kLockDirVariable);
    m_file = dir && *dir ? dir : kLockDirDefault;
    if (m_file.back() != '/') m_file.push_back('/');
    std::string leaf = Utf16ToUtf8(name);
    for (char& c : leaf)
        if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20) c = '_';
    if (leaf.size() > 200) {
        // Too long for a file name: keep the start and add a hash of the whole name.
        uint64_t h = 14695981039346656037ull;
        for (unsigned char c : leaf) h = (h ^ c) * 1099511628211ull;
        static const char hex[] = "0123456789abcdef";
        leaf.resize(180);
        leaf.push_back('-');
        for (int i = 15; i >= 0; --i) leaf.push_back(hex[(h >> (4 * i)) & 0xF]);
    }
    m_file += leaf;
    m_file += ".lock";
}

NamedLockHold NamedLock::Acquire(uint32_t timeout_ms) const {
    int fd = OpenLockFile(m_file);
    if (fd < 0) return NamedLockHold();
    const uint64_t deadline = NowUs() + static_cast<uint64_t>(timeout_ms) * 1000u;
    while (true) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return NamedLockHold(fd);
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        if (NowUs() >= deadline) break;
        struct timespec pause{0, 100000};  // 0.1 ms
        nanosleep(&pause, nullptr);
    }
    close(fd);
    return NamedLockHold();
}

NamedLockHold& NamedLockHold::operator=(NamedLockHold&& other) noexcept {
    if (this != &other) {
        Release();
        m_handle = other.m_handle;
        other.m_handle = -1;
    }
    return *this;
}

void NamedLockHold::Release() {
    if (m_handle >= 0) {
        flock(static_cast<int>(m_handle), LOCK_UN);
        close(static_cast<int>(m_handle));
    }
    m_handle = -1;
}

}  // namespace em::platform
