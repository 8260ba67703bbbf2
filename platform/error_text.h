// The system's message text for an error code of the platform layer.
#pragma once

#include <cstdint>
#include <string>

namespace em::platform {

// Cut at its first line break; "Unknown error" when the system has no text for the code.
std::u16string SystemMessageText(uint32_t code);

}  // namespace em::platform
