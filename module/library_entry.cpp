// Load and unload hooks of the shared library (the library's entry point).
#include "diag/banner.h"
#include "diag/debug.h"
#include "module/exports.h"

namespace {

__attribute__((constructor)) void OnLibraryLoad() {
    em::SetModuleNameForTrace(u"EM_TARNEL");
    em::diag::WriteLoadBanner(em::ModuleNameForTrace(), reinterpret_cast<const void*>(&OnLibraryLoad));
}

__attribute__((destructor)) void OnLibraryUnload() {
    const char16_t* name = em::ModuleNameForTrace();
    EM_TRACE(2, u"\nEM DLL (%-10s) : DLL_PROCESS_DETACH", name);
    EM_TRACE(1, u"\n");
    if (em::CurrentModule()) {
        EM_TRACE(4, u"\nEM DLL (%-10s) : DLL_PROCESS_DETACH - deleting module...", name);
        em::DestroyLeftBehindModule();
        EM_TRACE(4, u"\nEM DLL (%-10s) : DLL_PROCESS_DETACH - module deleted", name);
    }
    EM_TRACE(5, u"\nEM DLL (%-10s) : DLL_PROCESS_DETACH finished", name);
}

}  // namespace
