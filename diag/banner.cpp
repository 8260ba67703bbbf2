#include "diag/banner.h"

#include "diag/debug.h"
#include "diag/version_info.h"
#include "platform/codepage.h"
#include "platform/sysinfo.h"

namespace em::diag {

namespace {

// __DATE__ and __TIME__ of this file, widened once.
template <size_t N>
struct Widened {
    char16_t text[N] = {};
    constexpr explicit Widened(const char (&s)[N]) {
        for (size_t i = 0; i < N; ++i) text[i] = static_cast<unsigned char>(s[i]);
    }
};

constexpr Widened kDate(__DATE__);
constexpr Widened kTime(__TIME__);

}  // namespace

const char16_t* BuildDate() { return kDate.text; }
const char16_t* BuildTime() { return kTime.text; }

const char16_t* PlatformLine(uint16_t architecture) {
    switch (architecture) {
        case platform::kArchX86: return u"\n        OS platform : x86";
        case platform::kArchIa64: return u"\n        OS platform : iA64";
        case platform::kArchX64: return u"\n        OS platform : x64";
        default: return u"\n        OS platform : << Unknown!! >>";
    }
}

void WriteLoadBanner(const char16_t* module_name, const void* address_in_module) {
    EM_TRACE(1, u"\n\n *** Kindrel module %s loaded ***\n", module_name);
    if (g_Debug.IsActive()) {
        std::u16string computer;
        platform::GetComputerName(computer);
        Trace(g_Debug, 1, u"\n      Computer name : %s", computer);
    }
    if (g_Debug.IsActive()) {
        std::u16string os;
        platform::GetOsProductName(os);
        Trace(g_Debug, 1, u"\n   Operating system : %s", os);
    }
    EM_TRACE(1, PlatformLine(platform::GetNativeArchitecture()));

    CFileVersionInfo info;
    if (g_Debug.IsActive()) info.LoadFromModule(address_in_module);
    EM_TRACE(1, u"\n Module description : %s", info.GetFileDescription(0));
    EM_TRACE(2, u"\n       Company name : %s", info.GetCompanyName(0));
    EM_TRACE(1, u"\n     Module version : %s", info.GetProductVersion(0));
    if (g_Debug.IsActive()) {
        std::u16string version;
        info.GetFileVersion(version);
        Trace(g_Debug, 1, u"\n       File version : %s", version);
    }
    EM_TRACE(1, u"\n    Build date/time : %s %s", BuildDate(), BuildTime());
    if (g_Debug.IsActive()) {
        std::u16string path;
        platform::GetModulePath(address_in_module, path);
        Trace(g_Debug, 2, u"\n        Module path : %s", path);
    }
    EM_TRACE(2, u"\n");
    EM_TRACE(4, u"\nEM DLL (%-10s) : DLL_PROCESS_ATTACH", module_name);
}

}  // namespace em::diag
