// A lock shared by every thread and process that uses the same name (the trace file's writers).
//
// POSIX: an advisory lock (flock) on a lock file in the directory named by EM_TARNEL_LOCK_DIR
// (default /tmp); the file name derives from the lock name. Each acquisition opens the lock file
// anew, so threads of one process exclude each other as processes do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace em::platform {

constexpr const char* kLockDirVariable = "EM_TARNEL_LOCK_DIR";
constexpr const char* kLockDirDefault = "/tmp";

class NamedLockHold;

class NamedLock {
public:
    explicit NamedLock(std::u16string_view name);
    const std::string& LockFile() const { return m_file; }
    // Waits at most timeout_ms for the lock; the result holds it or is empty.
    NamedLockHold Acquire(uint32_t timeout_ms) const;

private:
    std::string m_file;
};

class NamedLockHold {
public:
    NamedLockHold() = default;
    ~NamedLockHold() { Release(); }
    NamedLockHold(NamedLockHold&& other) noexcept : m_handle(other.m_handle) { other.m_handle = -1; }
    NamedLockHold& operator=(NamedLockHold&& other) noexcept;
    NamedLockHold(const NamedLockHold&) = delete;
    NamedLockHold& operator=(const NamedLockHold&) = delete;

    bool Held() const { return m_handle >= 0; }
    void Release();

private:
    friend class NamedLock;
    explicit NamedLockHold(intptr_t handle) : m_handle(handle) {}
    intptr_t m_handle = -1;
};

}  // namespace em::platform
