// Loading a shared library and finding its exports (used by the substitute host).
#pragma once

#include <string>

namespace em::platform {

class Library {
public:
    Library() = default;
    ~Library() { Close(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // False with Error() set when the library cannot be loaded.
    bool Open(const std::string& path);
    void* Symbol(const char* name) const;
    void Close();
    bool IsOpen() const { return m_handle != nullptr; }
    const std::string& Error() const { return m_error; }

private:
    void* m_handle = nullptr;
    std::string m_error;
};

}  // namespace em::platform
