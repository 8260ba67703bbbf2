// Entry point of the DLL.
//
// The detach step runs under the system's loader lock: nothing in it may wait for another thread,
// which could itself be waiting for the lock to end. A worker thread of the module holds a
// reference to the DLL until its last instruction (see sync_win32.cpp), so a detach caused by
// FreeLibrary never finds one of the module's threads still running; at the process's end
// (reserved not null) the system has ended every other thread already, and the left-behind module
// is not destroyed at all.
#include "platform/win32/win32_util.h"

#include "platform/library_entry.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            DisableThreadLibraryCalls(instance);
            em::platform::OnLibraryAttach(reinterpret_cast<const void*>(&DllMain));
            return TRUE;
        case DLL_PROCESS_DETACH:
            em::platform::OnLibraryDetach(reserved != nullptr);
            return TRUE;
        case DLL_THREAD_ATTACH:
        case DLL_THREAD_DETACH:
            return TRUE;
        default:
            return FALSE;
    }
}
