// Entry point of the shared object: constructor and destructor functions.
#include "platform/library_entry.h"

namespace {

__attribute__((constructor)) void OnLoad() {
    em::platform::OnLibraryAttach(reinterpret_cast<const void*>(&OnLoad));
}

// Runs from dlclose and from the process's exit alike; both may still wait for threads.
__attribute__((destructor)) void OnUnload() { em::platform::OnLibraryDetach(false); }

}  // namespace
