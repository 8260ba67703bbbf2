#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/environment.h"

namespace em::platform {

bool SetEnvironmentVariable(const std::string& name, const std::string& value) {
    return setenv(name.c_str(), value.c_str(), 1) == 0;
}

std::string CreateTempFile(const std::string& prefix, const std::string& suffix) {
    const char* dir = getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/" + prefix + "XXXXXX" + suffix;
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = mkstemps(buf.data(), static_cast<int>(suffix.size()));
    if (fd < 0) return {};
    close(fd);
    return std::string(buf.data());
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool StdinIsTerminal() { return isatty(0) == 1; }

}  // namespace em::platform
