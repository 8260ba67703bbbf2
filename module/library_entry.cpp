// Load and unload hooks of the shared library (the library's entry point).
#include "module/exports.h"

namespace {

__attribute__((constructor)) void OnLibraryLoad() {
    em::SetModuleNameForTrace(u"EM_TARNEL");
}

__attribute__((destructor)) void OnLibraryUnload() {
    em::DestroyLeftBehindModule();
}

}  // namespace
