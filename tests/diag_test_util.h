// Helpers of the diagnostics tests: temporary directories and registry files.
#pragma once

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/codepage.h"
#include "platform/named_lock.h"
#include "platform/registry.h"

namespace em::test {

class TempDir {
public:
    TempDir() {
        static std::atomic<unsigned> counter{0};
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() /
                 ("em_diag_" + std::to_string(rd()) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
        // Lock files of trace files in this directory carry its name.
        const char* env = std::getenv(platform::kLockDirVariable);
        const std::filesystem::path locks = env && *env ? env : platform::kLockDirDefault;
        const std::string leaf = m_path.filename().string();
        for (const auto& e : std::filesystem::directory_iterator(locks, ec)) {
            const std::string name = e.path().filename().string();
            if (name.find(leaf) != std::string::npos && name.ends_with(".lock")) std::filesystem::remove(e.path(), ec);
        }
    }
    std::string File(const std::string& name) const { return (m_path / name).string(); }
    std::u16string WFile(const std::string& name) const { return platform::Utf8ToUtf16(File(name)); }

private:
    std::filesystem::path m_path;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// The text of a UTF-16LE file after its byte order mark, as UTF-8 ("" without the mark).
inline std::string ReadUtf16Text(const std::string& path) {
    const std::string bytes = ReadBytes(path);
    std::u16string text;
    for (size_t i = 2; bytes.starts_with("\xFF\xFE") && i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return platform::Utf16ToUtf8(text);
}

// A registry file made the process's registry for the lifetime of the object.
class ScopedRegistry {
public:
    ScopedRegistry(const TempDir& dir, const std::string& text, const std::string& name = "registry.reg")
        : m_path(dir.File(name)) {
        Write(text);
        platform::SetRegistryFile(m_path);
    }
    ~ScopedRegistry() { platform::SetRegistryFile(""); }
    void Write(const std::string& text) const { WriteBytes(m_path, text); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace em::test
