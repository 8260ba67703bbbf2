// The version resource (VS_VERSIONINFO block) of a module file.
//
// Windows: the resource compiled into the file, read through the system's version API.
// POSIX: the build places the block in the ELF section named below; it is read back from the
// file, not from memory, so any library file can be inspected.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace em::platform {

constexpr const char* kVersionSection = ".em_version";
constexpr uint32_t kErrorResourceTypeNotFound = 1813;

// Size of the file's version resource; 0 with the last error set (2: no such file, 1813: no
// version resource) when there is none.
uint32_t GetFileVersionInfoSize(std::u16string_view path);
// Reads the resource into data (at most size bytes). False with the last error set on failure.
bool GetFileVersionInfo(std::u16string_view path, uint32_t size, void* data);
// The value of a block ("\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904E4\\Name") of a
// resource read by GetFileVersionInfo, through the system's own query. False when not found, and
// always on POSIX, where the caller walks the blocks itself.
bool QueryVersionValue(const void* block, std::u16string_view sub_block, const uint8_t** value, uint32_t* bytes);

}  // namespace em::platform
