#include "module/exports.h"

#include <atomic>
#include <new>

#include "diag/debug.h"
#include "module/tarnel_module.h"

namespace em {

namespace {
std::atomic<const char16_t*> g_pszModuleName{u"EM_?????"};
IExtensionModule* g_pModule = nullptr;
}  // namespace

const char16_t* ModuleNameForTrace() { return g_pszModuleName.load(); }
void SetModuleNameForTrace(const char16_t* name) { g_pszModuleName.store(name); }
IExtensionModule* CurrentModule() { return g_pModule; }

void DestroyLeftBehindModule() {
    if (g_pModule) EM_Delete();
}

}  // namespace em

using em::g_pModule;

EM_EXPORT uint32_t EM_Create(em::IExtensionModule** module, void* /*reserved*/) {
    if (!g_pModule) {
        EM_TRACE(2, u"\nEM DLL (%-10s) : Create module", em::ModuleNameForTrace());
        g_pModule = new (std::nothrow) em::CTarnelModule();
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

EM_EXPORT uint32_t EM_Delete() {
    if (!g_pModule) {
        EM_TRACE(1, u"\nEM DLL (%-10s) : Module already destroyed!", em::ModuleNameForTrace());
        return 0;
    }
    try {
        EM_TRACE(1, u"\nEM DLL (%-10s) : Destroy module...", em::ModuleNameForTrace());
        delete g_pModule;
        g_pModule = nullptr;
        EM_TRACE(1, u"\nEM DLL (%-10s) : .. Module destroyed successfully!", em::ModuleNameForTrace());
        return 1;
    } catch (...) {
        EM_TRACE(1, u"\nEM DLL (%-10s) : ## ERROR! Exception while destroying module!", em::ModuleNameForTrace());
        return 0;
    }
}

EM_EXPORT const char16_t* EM_GetModuleName() { return em::CTarnelModule::kModuleName; }

EM_EXPORT uint32_t EM_SetupAction(uint32_t /*action*/, void* /*param*/) { return 1; }
