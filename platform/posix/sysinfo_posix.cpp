// POSIX backend of platform/sysinfo.h.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <sched.h>
#include <stdio.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/sync.h"
#include "platform/sysinfo.h"

namespace em::platform {

LocalTime GetLocalTime() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    time_t secs = ts.tv_sec;
    localtime_r(&secs, &tm);
    LocalTime t;
    t.year = static_cast<uint16_t>(tm.tm_year + 1900);
    t.month = static_cast<uint16_t>(tm.tm_mon + 1);
    t.day = static_cast<uint16_t>(tm.tm_mday);
    t.hour = static_cast<uint16_t>(tm.tm_hour);
    t.minute = static_cast<uint16_t>(tm.tm_min);
    t.second = static_cast<uint16_t>(tm.tm_sec);
    t.milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
    return t;
}

bool GetComputerName(std::u16string& name) {
    char buf[HOST_NAME_MAX + 1] = {};
    if (gethostname(buf, sizeof(buf) - 1) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    std::u16string wide = Utf8ToUtf16(buf);
    if (wide.size() > 15) wide.resize(15);
    name = std::move(wide);
    return true;
}

bool GetOsProductName(std::u16string& name) {
    std::string bytes;
    if (!ReadFileBytes(u"/etc/os-release", bytes, 64 * 1024) &&
        !ReadFileBytes(u"/usr/lib/os-release", bytes, 64 * 1024))
        return false;
    name = PrettyNameFromOsRelease(bytes);
    return !name.empty();
}

uint16_t GetNativeArchitecture() {
    struct utsname u;
    if (uname(&u) != 0) return kArchUnknown;
    if (std::strcmp(u.machine, "x86_64") == 0) return kArchX64;
    if (std::strcmp(u.machine, "aarch64") == 0) return kArchArm64;
    return kArchUnknown;
}

bool GetCurrentProcessorNumber(uint32_t* number) {
    int cpu = sched_getcpu();
    if (cpu < 0) return false;
    *number = static_cast<uint32_t>(cpu);
    return true;
}

bool GetProcessMemoryCounters(MemoryCounters* counters) {
    std::string status;
    if (!ReadFileBytes(u"/proc/self/status", status, 64 * 1024)) return false;
    auto field_kb = [&](std::string_view key, uint64_t* kb) {
        size_t at = status.find(key);
        if (at == std::string::npos || (at != 0 && status[at - 1] != '\n')) return false;
        const char* p = status.c_str() + at + key.size();
        while (*p == ' ' || *p == '\t') ++p;
        if (*p < '0' || *p > '9') return false;
        *kb = std::strtoull(p, nullptr, 10);
        return true;
    };
    uint64_t data_kb = 0, rss_kb = 0;
    if (!field_kb("VmData:", &data_kb)) return false;
    MemoryCounters c;
    c.pagefile_usage = data_kb * 1024;
    c.private_usage = data_kb * 1024;
    if (field_kb("VmRSS:", &rss_kb)) {
        c.extended = true;
        c.working_set = rss_kb * 1024;
    }
    *counters = c;
    return true;
}

bool GetProcessHandleCount(uint32_t* count) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return false;
    uint32_t n = 0;
    while (struct dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.') ++n;
    }
    closedir(dir);
    *count = n > 0 ? n - 1 : 0;  // the directory stream's own descriptor
    return true;
}

bool GetModulePath(const void* address_in_module, std::u16string& path) {
    Dl_info info;
    if (dladdr(address_in_module, &info) == 0 || !info.dli_fname || !*info.dli_fname) return false;
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) path = Utf8ToUtf16(resolved);
    else path = Utf8ToUtf16(info.dli_fname);
    return true;
}

bool GetExecutablePath(std::u16string& path) {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    path = Utf8ToUtf16(std::string_view(buf, static_cast<size_t>(n)));
    return true;
}

bool GetCurrentDirectory(std::u16string& path) {
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof(buf))) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    path = Utf8ToUtf16(buf);
    return true;
}

bool GetSystemDirectory(std::u16string& path) {
    path = u"/usr/lib";
    return true;
}

bool GetSystemWow64Directory(std::u16string& path) {
    SetLastError(120);  // ERROR_CALL_NOT_IMPLEMENTED: no redirected 32-bit system directory
    return false;
}

}  // namespace em::platform
