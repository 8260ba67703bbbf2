#include "module/tarnel_module.h"

#include <cstring>

#include "diag/debug.h"
#include "module/byte_order.h"

namespace em {

namespace {

// A bounded copy into a 100-character field: zero-padded, the 100th character always 0.
void WriteName(uint8_t* p, const char16_t* text) {
    char16_t field[100] = {};
    for (size_t i = 0; i < 100 && text[i]; ++i) field[i] = text[i];
    field[99] = 0;
    std::memcpy(p, field, sizeof(field));
}

}  // namespace

CTarnelModule::CTarnelModule() {
    EM_TRACE(5, u"\nEM_TARNEL           : -> Constructor...");
    m_dwEntriesPerPage = 2000;
    m_bOidMappingNeeded = 0;
    m_bUnifiedSel = 0;
    m_bMsgLogAvailable = 0;
    EM_TRACE(5, u"\nEM_TARNEL           : <- Constructor");
}

CTarnelModule::~CTarnelModule() noexcept(false) {
    EM_TRACE(5, u"\nEM_TARNEL           : -> Destructor...");
    // No task may reach this object's members once they start going away.
    EndSerialization();
    EM_TRACE(5, u"\nEM_TARNEL           : <- Destructor");
}

uint32_t CTarnelModule::GetModuleInfo(void* info) {
    if (!info) return 0;
    auto* p = static_cast<uint8_t*>(info);
    if (LoadLe32(p) < kModuleInfoSize) return 0;
    StoreLe32(p + 8, LoadLe32(p + 8) | 3u);
    StoreLe32(p + 24, (LoadLe32(p + 24) & ~2u) | 5u);
    StoreLe32(p + 32, 100);
    StoreLe32(p + 48, 0);
    WriteName(p + 52, kModuleName);
    WriteName(p + 252, kDescription);
    return 1;
}

uint32_t CTarnelModule::OnHardwareDetected(uint32_t, void*) {
    EM_TRACE(1, u"\nEM_TARNEL           : Hardware detected");
    return 1;
}

uint32_t CTarnelModule::Stop() {
    TerminateSerialization();
    return 1;
}


}  // namespace em
