// The module object: one per loaded library, made by EM_Create.
#pragma once

#include <cstdint>
#include <string>

#include "module/extension_module.h"

namespace em {

inline constexpr uint32_t kModuleInfoSize = 452;

class CTarnelModule : public CExtensionModule {
public:
    CTarnelModule();
    ~CTarnelModule() noexcept(false) override;

    uint32_t GetModuleInfo(void* info) override;
    uint32_t OnHardwareDetected(uint32_t arg1, void* arg2) override;
    uint32_t Stop() override;
    const char16_t* GetModuleName() override { return kModuleName; }

    static constexpr const char16_t* kModuleName = u"EM_TARNEL";
    static constexpr const char16_t* kDescription = u"OID mapper extension module";

private:
    uint32_t m_dwEntriesPerPage = 2000;
    uint32_t m_bOidMappingNeeded = 0;
    uint32_t m_bUnifiedSel = 0;
    uint32_t m_bMsgLogAvailable = 0;
};

}  // namespace em
