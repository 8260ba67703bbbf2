// Read-only access to HKEY_LOCAL_MACHINE with the Windows meaning of keys, value types and
// error codes. The POSIX backend reads one text file in the regedit export format (see
// reg_file.h); its path comes from the environment variable EM_TARNEL_REGISTRY and defaults
// to /etc/em_tarnel/registry.reg. Both registry views (64- and 32-bit) read the same file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace em::platform {

// Value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// Error codes returned by the registry calls (Windows values).
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorMoreData = 234;

enum class RegView { Default, View64, View32 };

constexpr const char* kRegistryFileVariable = "EM_TARNEL_REGISTRY";
constexpr const char* kRegistryFileDefault = "/etc/em_tarnel/registry.reg";

// One opened key of HKEY_LOCAL_MACHINE. The POSIX backend takes a snapshot of the key's values
// when it is opened; a later change of the file is seen by the next Open.
class RegKey {
public:
    RegKey();
    ~RegKey();
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Opens HKEY_LOCAL_MACHINE\<path> for reading. Returns kErrorSuccess or the error code.
    uint32_t Open(std::u16string_view path, RegView view = RegView::Default);
    bool IsOpen() const { return m_impl != nullptr; }
    void Close();

    // Value query: with data null only the size is reported. *size holds the buffer size in
    // bytes on entry and the value's size on return; a buffer that is too small gives
    // kErrorMoreData and receives nothing. The name "" is the key's default value.
    uint32_t QueryValue(std::u16string_view name, uint32_t* type, void* data, uint32_t* size) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Replaces every %NAME% whose NAME is set in the environment by its value; unknown names stay as
// written.
std::u16string ExpandEnvironmentStrings(std::u16string_view text);

// The registry file in use: the override when one is set, else the environment variable, else
// the default.
std::string RegistryFilePath();
// Override for tools and tests; an empty path returns to the environment variable.
void SetRegistryFile(std::string_view path);

}  // namespace em::platform
