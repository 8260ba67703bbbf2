// Win32 backend of platform/registry.h: HKEY_LOCAL_MACHINE of the system registry.
//
// A registry file named explicitly (SetRegistryFile, or the environment variable) takes the place
// of the system registry, as on POSIX: the substitute host's scenarios and the tests bring their
// settings that way without touching the machine's registry.

#include <map>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/win32/win32_util.h"

namespace em::platform {

namespace {

constexpr size_t kMaxRegistryFile = 16u << 20;

}  // namespace

struct RegKey::Impl {
    HKEY key = nullptr;                          // system registry
    std::map<std::u16string, RegValue> values;  // registry file snapshot
    ~Impl() {
        if (key) RegCloseKey(key);
    }
};

RegKey::RegKey() = default;
RegKey::~RegKey() = default;

void RegKey::Close() { m_impl.reset(); }

uint32_t RegKey::Open(std::u16string_view path, RegView view) {
    m_impl.reset();
    const std::string file = RegistryFilePath();
    if (!file.empty()) {
        std::string bytes;
        ReadFileBytes(Utf8ToUtf16(file), bytes, kMaxRegistryFile);  // a missing file reads as empty
        RegFile reg;
        reg.Parse(bytes);
        if (!reg.HasKey(path)) return kErrorFileNotFound;
        auto impl = std::make_unique<Impl>();
        if (const auto* values = reg.Values(path)) impl->values = *values;
        m_impl = std::move(impl);
        return kErrorSuccess;
    }
    REGSAM access = KEY_READ;
    if (view == RegView::View64) access |= KEY_WOW64_64KEY;
    if (view == RegView::View32) access |= KEY_WOW64_32KEY;
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, win32::Wide(path).c_str(), 0, access, &key);
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
    auto impl = std::make_unique<Impl>();
    impl->key = key;
    m_impl = std::move(impl);
    return kErrorSuccess;
}

uint32_t RegKey::QueryValue(std::u16string_view name, uint32_t* type, void* data, uint32_t* size) const {
    if (!m_impl) return kErrorInvalidHandle;
    if (m_impl->key) {
        DWORD t = 0;
        DWORD n = size ? *size : 0;
        const LONG rc = RegQueryValueExW(m_impl->key, win32::Wide(name).c_str(), nullptr, &t, static_cast<BYTE*>(data),
                                         size || data ? &n : nullptr);
        if (type && (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)) *type = t;
        if (size && (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)) *size = n;
        return static_cast<uint32_t>(rc);
    }
    return QueryFileValue(m_impl->values, name, type, data, size);
}

std::u16string ExpandEnvironmentStrings(std::u16string_view text) {
    const std::wstring in = win32::Wide(text);
    std::wstring out(in.size() + 64, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD n = ExpandEnvironmentStringsW(in.c_str(), out.data(), static_cast<DWORD>(out.size()));
        if (n == 0) return std::u16string(text);
        if (n <= out.size()) return win32::FromWide(out.data(), n - 1);  // n counts the terminator
        out.resize(n);
    }
    return std::u16string(text);
}

std::string RegistryFilePath() {
    if (std::string path = RegistryFileOverride(); !path.empty()) return path;
    wchar_t buf[MAX_PATH * 2];
    const std::wstring name = win32::WideFromUtf8(kRegistryFileVariable);
    const DWORD n = GetEnvironmentVariableW(name.c_str(), buf, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return {};  // the system registry
    return win32::Utf8FromWide(std::wstring_view(buf, n));
}

}  // namespace em::platform
