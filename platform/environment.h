// Process environment and scratch files (used by the substitute host).
#pragma once

#include <string>

namespace em::platform {

bool SetEnvironmentVariable(const std::string& name, const std::string& value);
// Creates a new empty file with a unique name from the prefix and suffix in the system's temporary
// directory; its path, or empty on failure.
std::string CreateTempFile(const std::string& prefix, const std::string& suffix);
bool RemoveFile(const std::string& path);
// True when standard input is a terminal.
bool StdinIsTerminal();

}  // namespace em::platform
