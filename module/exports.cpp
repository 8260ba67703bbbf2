#include "module/exports.h"

#include <atomic>
#include <new>

#include "diag/debug.h"
#include "module/host_boundary.h"
#include "module/tarnel_module.h"

namespace em {

namespace {
std::atomic<const char16_t*> g_pszModuleName{u"EM_?????"};
IExtensionModule* g_pModule = nullptr;

// The object handed to the host: the module behind the host boundary. A host may destroy it
// through slot 0 itself instead of calling EM_Delete; the library then forgets it, so that neither
// EM_Delete nor the unload hook destroys it a second time.
class CLibraryModule final : public CHostBoundary<CTarnelModule> {
public:
    void* DeletingDestructor(unsigned int flags) noexcept override {
        const IExtensionModule* self = this;
        void* result = CHostBoundary<CTarnelModule>::DeletingDestructor(flags);
        if (result && g_pModule == self) g_pModule = nullptr;
        return result;
    }
};

}  // namespace

const char16_t* ModuleNameForTrace() { return g_pszModuleName.load(); }
void SetModuleNameForTrace(const char16_t* name) { g_pszModuleName.store(name); }
IExtensionModule* CurrentModule() { return g_pModule; }

void DestroyLeftBehindModule() {
    if (g_pModule) EM_Delete();
}

}  // namespace em

using em::g_pModule;

EM_EXPORT uint32_t EM_Create(em::IExtensionModule** module, void* /*reserved*/) noexcept {
    if (!g_pModule) {
        EM_TRACE(2, u"\nEM DLL (%-10s) : Create module", em::ModuleNameForTrace());
        try {
            g_pModule = new (std::nothrow) em::CLibraryModule();
        } catch (...) {
            g_pModule = nullptr;  // a constructor that throws leaves no object
        }
        if (g_pModule) {
            if (module) *module = g_pModule;
            return 1;
        }
        EM_TRACE(1, u"\nEM DLL (%-10s) : ## ERROR: Module could not be created!\n", em::ModuleNameForTrace());
        if (module) *module = nullptr;
        return 0;
    }
    EM_TRACE(1, u"\nEM DLL (%-10s) : ## ERROR: Module already existing!\n", em::ModuleNameForTrace());
    if (module) *module = g_pModule;
    return 1;
}

EM_EXPORT uint32_t EM_Delete() noexcept {
    if (!g_pModule) {
        EM_TRACE(1, u"\nEM DLL (%-10s) : Module already destroyed!", em::ModuleNameForTrace());
        return 0;
    }
    bool destroyed = false;
    try {
        EM_TRACE(1, u"\nEM DLL (%-10s) : Destroy module...", em::ModuleNameForTrace());
        // Slot 0 with bit 0: destroy and free. Null when an exception left the destruction.
        destroyed = g_pModule->DeletingDestructor(1) != nullptr;
    } catch (...) {
    }
    if (!destroyed) {
        EM_TRACE(1, u"\nEM DLL (%-10s) : ## ERROR! Exception while destroying module!", em::ModuleNameForTrace());
        return 0;
    }
    g_pModule = nullptr;
    EM_TRACE(1, u"\nEM DLL (%-10s) : .. Module destroyed successfully!", em::ModuleNameForTrace());
    return 1;
}

EM_EXPORT const char16_t* EM_GetModuleName() noexcept { return em::CTarnelModule::kModuleName; }

EM_EXPORT uint32_t EM_SetupAction(uint32_t /*action*/, void* /*param*/) noexcept { return 1; }
