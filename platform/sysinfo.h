// Facts about the machine, the process and the module file, for trace prefixes and the load
// banner. Each call reports failure rather than inventing a value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace em::platform {

struct LocalTime {
    uint16_t year = 0, month = 0, day = 0;
    uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};
LocalTime GetLocalTime();

// The computer name, at most 15 characters.
bool GetComputerName(std::u16string& name);

// The operating system's product name (Windows: ProductName of the CurrentVersion key; POSIX:
// PRETTY_NAME of /etc/os-release).
bool GetOsProductName(std::u16string& name);
// PRETTY_NAME from the text of an os-release file, quotes and escapes removed; empty if absent.
std::u16string PrettyNameFromOsRelease(std::string_view text);

// Processor architecture codes of the native system information.
constexpr uint16_t kArchX86 = 0;
constexpr uint16_t kArchIa64 = 6;
constexpr uint16_t kArchX64 = 9;
constexpr uint16_t kArchArm64 = 12;
constexpr uint16_t kArchUnknown = 0xFFFF;
uint16_t GetNativeArchitecture();

// The absolute number of the processor the calling thread runs on.
bool GetCurrentProcessorNumber(uint32_t* number);

// Process memory counters in bytes. extended is false when only the page-file usage is known.
struct MemoryCounters {
    bool extended = false;
    uint64_t private_usage = 0;
    uint64_t working_set = 0;
    uint64_t pagefile_usage = 0;
};
bool GetProcessMemoryCounters(MemoryCounters* counters);
bool GetProcessHandleCount(uint32_t* count);

// Full path of the module file that contains the given address (a function or object of it).
bool GetModulePath(const void* address_in_module, std::u16string& path);
bool GetExecutablePath(std::u16string& path);
bool GetCurrentDirectory(std::u16string& path);

// The system directory, and the directory of 32-bit system files when the system redirects
// them (POSIX: none).
bool GetSystemDirectory(std::u16string& path);
bool GetSystemWow64Directory(std::u16string& path);

// The separator of path components in file names.
#if defined(_WIN32)
constexpr char16_t kPathSeparator = u'\\';
#else
constexpr char16_t kPathSeparator = u'/';
#endif

}  // namespace em::platform
