// Files as the trace sink uses them: opened per line, shared with other writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace em::platform {

class File {
public:
    enum class Mode {
        Read,    // existing file, others may read and write
        Append,  // created when missing, every write goes to the end
    };

    File() = default;
    ~File() { Close(); }
    File(File&& other) noexcept : m_handle(other.m_handle) { other.m_handle = -1; }
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Sets the last error on failure.
    bool Open(std::u16string_view path, Mode mode);
    bool IsOpen() const { return m_handle >= 0; }
    void Close();

    bool Size(uint64_t* size) const;
    // Reads up to n bytes at the current position; the number read (0 at the end or on error).
    size_t Read(void* buffer, size_t n);
    // Reads exactly n bytes at an offset.
    bool ReadAt(uint64_t offset, void* buffer, size_t n);
    // Writes all bytes in one call (at the end for Append).
    bool Write(const void* data, size_t n);

private:
    intptr_t m_handle = -1;
};

bool DeleteFile(std::u16string_view path);
// Renames a file, replacing a file of the new name.
bool MoveFile(std::u16string_view from, std::u16string_view to);
// The file's bytes, at most max_bytes of them; false when it cannot be read.
bool ReadFileBytes(std::u16string_view path, std::string& bytes, size_t max_bytes);

}  // namespace em::platform
