// Win32 backend of platform/version_resource.h: the system's version API.

#include <cstring>

#include "platform/version_resource.h"
#include "platform/win32/win32_util.h"

namespace em::platform {

uint32_t GetFileVersionInfoSize(std::u16string_view path) {
    DWORD handle = 0;
    return GetFileVersionInfoSizeW(win32::Wide(path).c_str(), &handle);
}

bool GetFileVersionInfo(std::u16string_view path, uint32_t size, void* data) {
    if (!data) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return GetFileVersionInfoW(win32::Wide(path).c_str(), 0, size, data) != FALSE;
}

bool QueryVersionValue(const void* block, std::u16string_view sub_block, const uint8_t** value, uint32_t* bytes) {
    void* found = nullptr;
    UINT len = 0;
    if (!block || !VerQueryValueW(block, win32::Wide(sub_block).c_str(), &found, &len) || !found) return false;
    // Text values are counted in characters, binary values in bytes.
    const bool text = sub_block.size() > 15 && std::memcmp(sub_block.data(), u"\\StringFileInfo", 30) == 0;
    *value = static_cast<const uint8_t*>(found);
    *bytes = text ? len * 2 : len;
    return true;
}

}  // namespace em::platform
