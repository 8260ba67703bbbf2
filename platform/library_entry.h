// The library's load and unload hooks, called by the operating system's entry point of the
// shared library (platform/<os>/library_entry_<os>.cpp) and implemented by the module.
#pragma once

namespace em::platform {

// The library has been loaded into the process; the address lies inside the library.
void OnLibraryAttach(const void* address_in_library);

// The library is being unloaded. process_ending: the whole process ends, every other thread of
// it has already been ended by the system and nothing may be waited for.
void OnLibraryDetach(bool process_ending);

}  // namespace em::platform
