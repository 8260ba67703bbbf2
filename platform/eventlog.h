// Event log source registration. POSIX: the source name becomes the process's syslog identity;
// no events are written through it.
#pragma once

#include <string_view>

namespace em::platform {

using EventSourceHandle = void*;

// Null on failure (last error set).
EventSourceHandle RegisterEventSource(std::u16string_view source);
// False (last error set) when the handle is not a registered source.
bool DeregisterEventSource(EventSourceHandle handle);

}  // namespace em::platform
