// Load and unload hooks of the shared library (called by the library's entry point).
#include "platform/library_entry.h"

#include "diag/banner.h"
#include "diag/debug.h"
#include "module/exports.h"

namespace em::platform {

void OnLibraryAttach(const void* address_in_library) {
    em::SetModuleNameForTrace(u"EM_TARNEL");
    em::diag::WriteLoadBanner(em::ModuleNameForTrace(), address_in_library);
}

void OnLibraryDetach(bool process_ending) {
    const char16_t* name = em::ModuleNameForTrace();
    EM_TRACE(2, u"\nEM DLL (%-10s) : DLL_PROCESS_DETACH", name);
    EM_TRACE(1, u"\n");
    if (em::CurrentModule()) {
        if (process_ending) {
            // The system has ended the worker thread wherever it was, possibly inside a lock;
            // the module's memory goes with the process.
            EM_TRACE(4, u"\nEM DLL (%-10s) : DLL_PROCESS_DETACH - process ends, module left to the system", name);
        } else {
            EM_TRACE(4, u"\nEM DLL (%-10s) : DLL_PROCESS_DETACH - deleting module...", name);
            em::DestroyLeftBehindModule();
            EM_TRACE(4, u"\nEM DLL (%-10s) : DLL_PROCESS_DETACH - module deleted", name);
        }
    }
    EM_TRACE(5, u"\nEM DLL (%-10s) : DLL_PROCESS_DETACH finished", name);
}

}  // namespace em::platform
