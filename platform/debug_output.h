// The debugger output stream and the process console, the trace facility's two stream sinks.
// POSIX: the debugger output is standard error, the console standard output; text is written
// as UTF-8.
#pragma once

#include <cstdint>
#include <string_view>

namespace em::platform {

// One debugger output call (one write).
void OutputDebugString(std::u16string_view text);

using ConsoleHandle = intptr_t;
constexpr ConsoleHandle kInvalidConsole = -1;

// Allocates a console for the process when it has none and returns its output handle.
ConsoleHandle AllocateConsoleOutput();
// Writes the text unchanged (no line feed conversion) in one call.
bool WriteConsole(ConsoleHandle console, std::u16string_view text);

}  // namespace em::platform
