// Win32 backend of platform/eventlog.h.

#include "platform/eventlog.h"
#include "platform/win32/win32_util.h"

namespace em::platform {

EventSourceHandle RegisterEventSource(std::u16string_view source) {
    if (source.empty()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return ::RegisterEventSourceW(nullptr, win32::Wide(source).c_str());
}

bool DeregisterEventSource(EventSourceHandle handle) {
    if (!handle) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return ::DeregisterEventSource(static_cast<HANDLE>(handle)) != FALSE;
}

}  // namespace em::platform
