// Win32 backend of platform/files.h.

#include <algorithm>

#include "platform/files.h"
#include "platform/win32/win32_util.h"

namespace em::platform {

namespace {

HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

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
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    const std::wstring native = win32::Wide(path);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE h = mode == Mode::Read
                   ? CreateFileW(native.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                   // Append access only: every write goes to the end, also with other writers.
                   : CreateFileW(native.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, share, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;  // last error set by the system
    m_handle = reinterpret_cast<intptr_t>(h);
    return true;
}

void File::Close() {
    if (m_handle >= 0) CloseHandle(H(m_handle));
    m_handle = -1;
}

bool File::Size(uint64_t* size) const {
    LARGE_INTEGER li;
    if (m_handle < 0 || !GetFileSizeEx(H(m_handle), &li)) return false;
    *size = static_cast<uint64_t>(li.QuadPart);
    return true;
}

size_t File::Read(void* buffer, size_t n) {
    if (m_handle < 0) return 0;
    size_t got = 0;
    while (got < n) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(n - got, 1u << 30));
        DWORD r = 0;
        if (!ReadFile(H(m_handle), static_cast<char*>(buffer) + got, want, &r, nullptr) || r == 0) break;
        got += r;
    }
    return got;
}

bool File::ReadAt(uint64_t offset, void* buffer, size_t n) {
    if (m_handle < 0) return false;
    size_t got = 0;
    while (got < n) {
        OVERLAPPED at{};
        const uint64_t pos = offset + got;
        at.Offset = static_cast<DWORD>(pos);
        at.OffsetHigh = static_cast<DWORD>(pos >> 32);
        const DWORD want = static_cast<DWORD>(std::min<size_t>(n - got, 1u << 30));
        DWORD r = 0;
        if (!ReadFile(H(m_handle), static_cast<char*>(buffer) + got, want, &r, &at) || r == 0) return false;
        got += r;
    }
    return true;
}

bool File::Write(const void* data, size_t n) {
    if (m_handle < 0) return false;
    // Writers in several processes append to one file. Not every file system (nor every emulation
    // of this one) keeps concurrent appends whole; a lock on one byte far beyond any content,
    // held for this write only, does.
    OVERLAPPED region{};
    region.OffsetHigh = 0x40000000;
    const bool locked = LockFileEx(H(m_handle), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region) != FALSE;
    size_t done = 0;
    bool ok = true;
    while (done < n) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
        DWORD w = 0;
        if (!WriteFile(H(m_handle), static_cast<const char*>(data) + done, want, &w, nullptr) || w == 0) {
            ok = false;
            break;
        }
        done += w;
    }
    if (locked) {
        const DWORD err = ::GetLastError();
        UnlockFileEx(H(m_handle), 0, 1, 0, &region);
        ::SetLastError(err);
    }
    return ok;
}

bool DeleteFile(std::u16string_view path) { return ::DeleteFileW(win32::Wide(path).c_str()) != FALSE; }

bool MoveFile(std::u16string_view from, std::u16string_view to) {
    return ::MoveFileExW(win32::Wide(from).c_str(), win32::Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool ReadFileBytes(std::u16string_view path, std::string& bytes, size_t max_bytes) {
    File f;
    if (!f.Open(path, File::Mode::Read)) return false;
    bytes.clear();
    char buf[16384];
    while (bytes.size() < max_bytes) {
        const size_t want = std::min(sizeof(buf), max_bytes - bytes.size());
        const size_t n = f.Read(buf, want);
        if (n == 0) break;
        bytes.append(buf, n);
    }
    return true;
}

}  // namespace em::platform
