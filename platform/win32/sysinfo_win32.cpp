// Win32 backend of platform/sysinfo.h.

#include "platform/sysinfo.h"
#include "platform/win32/win32_util.h"

namespace em::platform {

LocalTime GetLocalTime() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.milliseconds = st.wMilliseconds;
    return t;
}

bool GetComputerName(std::u16string& name) {
    wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(buf, &n)) return false;
    name = win32::FromWide(buf, n);
    return true;
}

bool GetOsProductName(std::u16string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    wchar_t buf[260] = {};  // 520 bytes
    DWORD size = sizeof(buf) - sizeof(wchar_t);
    DWORD type = 0;
    const LONG rc = RegQueryValueExW(key, L"ProductName", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    size_t chars = size / sizeof(wchar_t);
    while (chars > 0 && buf[chars - 1] == L'\0') --chars;
    name = win32::FromWide(buf, chars);
    return !name.empty();
}

uint16_t GetNativeArchitecture() {
    SYSTEM_INFO si{};
    GetNativeSystemInfo(&si);
    return si.wProcessorArchitecture;
}

bool GetCurrentProcessorNumber(uint32_t* number) {
    PROCESSOR_NUMBER pn{};
    GetCurrentProcessorNumberEx(&pn);
    const WORD groups = GetActiveProcessorGroupCount();
    if (groups == 0 || pn.Group >= groups) return false;
    uint32_t n = pn.Number;
    for (WORD g = 0; g < pn.Group; ++g) n += GetActiveProcessorCount(g);
    *number = n;
    return true;
}

bool GetProcessMemoryCounters(MemoryCounters* counters) {
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof(pmc);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc)))
        return false;
    MemoryCounters c;
    c.pagefile_usage = pmc.PagefileUsage;
    if (pmc.cb >= sizeof(PROCESS_MEMORY_COUNTERS_EX)) {
        c.extended = true;
        c.private_usage = pmc.PrivateUsage;
        c.working_set = pmc.WorkingSetSize;
    }
    *counters = c;
    return true;
}

bool GetProcessHandleCount(uint32_t* count) {
    DWORD n = 0;
    if (!::GetProcessHandleCount(GetCurrentProcess(), &n)) return false;
    *count = n;
    return true;
}

namespace {

// The module's file name; the buffer grows in steps of 260 characters until the name fits.
bool ModuleFileName(HMODULE module, std::u16string& path) {
    std::wstring buf;
    for (DWORD size = MAX_PATH; size <= 32768; size += MAX_PATH) {
        buf.resize(size);
        const DWORD n = GetModuleFileNameW(module, buf.data(), size);
        if (n == 0) return false;
        if (n < size) {
            path = win32::FromWide(buf.data(), n);
            return true;
        }
    }
    return false;
}

bool SystemDirectory(UINT (WINAPI *fn)(LPWSTR, UINT), std::u16string& path) {
    wchar_t buf[MAX_PATH + 1];
    const UINT n = fn(buf, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return false;
    path = win32::FromWide(buf, n);
    return true;
}

}  // namespace

bool GetModulePath(const void* address_in_module, std::u16string& path) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address_in_module), &module))
        return false;
    return ModuleFileName(module, path);
}

bool GetExecutablePath(std::u16string& path) { return ModuleFileName(nullptr, path); }

bool GetCurrentDirectory(std::u16string& path) {
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return false;
    std::wstring buf(n, L'\0');
    const DWORD got = GetCurrentDirectoryW(n, buf.data());
    if (got == 0 || got >= n) return false;
    path = win32::FromWide(buf.data(), got);
    return true;
}

bool GetSystemDirectory(std::u16string& path) { return SystemDirectory(&GetSystemDirectoryW, path); }

bool GetSystemWow64Directory(std::u16string& path) { return SystemDirectory(&GetSystemWow64DirectoryW, path); }

}  // namespace em::platform
