// POSIX backend of platform/files.h.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/sync.h"

namespace em::platform {

namespace {

std::string Native(std::u16string_view path) { return Utf16ToUtf8(path); }

}  // namespace

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        other.m_handle = -1;
    }
    return *this;
}

bool File::Open(std::u16string_view path, Mode mode) {
    Close();
    if (path.empty()) {
        SetLastError(3);  // ERROR_PATH_NOT_FOUND
        return false;
    }
    const std::string native = Native(path);
    int fd;
    do {
        fd = mode == Mode::Read ? open(native.c_str(), O_RDONLY | O_CLOEXEC)
                                : open(native.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        SetLastError(5);
        return false;
    }
    m_handle = fd;
    return true;
}

void File::Close() {
    if (m_handle >= 0) close(static_cast<int>(m_handle));
    m_handle = -1;
}

bool File::Size(uint64_t* size) const {
    struct stat st;
    if (m_handle < 0 || fstat(static_cast<int>(m_handle), &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

size_t File::Read(void* buffer, size_t n) {
    if (m_handle < 0) return 0;
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(static_cast<int>(m_handle), static_cast<char*>(buffer) + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

bool File::ReadAt(uint64_t offset, void* buffer, size_t n) {
    if (m_handle < 0) return false;
    size_t got = 0;
    while (got < n) {
        ssize_t r = pread(static_cast<int>(m_handle), static_cast<char*>(buffer) + got, n - got,
                          static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

bool File::Write(const void* data, size_t n) {
    if (m_handle < 0) return false;
    size_t done = 0;
    while (done < n) {
        ssize_t r = write(static_cast<int>(m_handle), static_cast<const char*>(data) + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            SetLastError(ErrorFromErrno(errno));
            return false;
        }
        done += static_cast<size_t>(r);
    }
    return true;
}

bool DeleteFile(std::u16string_view path) {
    if (unlink(Native(path).c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    return true;
}

bool MoveFile(std::u16string_view from, std::u16string_view to) {
    if (rename(Native(from).c_str(), Native(to).c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    return true;
}

bool ReadFileBytes(std::u16string_view path, std::string& bytes, size_t max_bytes) {
    File f;
    if (!f.Open(path, File::Mode::Read)) return false;
    bytes.clear();
    char buf[16384];
    while (bytes.size() < max_bytes) {
        size_t want = std::min(sizeof(buf), max_bytes - bytes.size());
        size_t n = f.Read(buf, want);
        if (n == 0) break;
        bytes.append(buf, n);
    }
    return true;
}

}  // namespace em::platform
