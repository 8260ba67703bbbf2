// Platform-independent parts of platform/sysinfo.h.
#include <string>

#include "platform/codepage.h"
#include "platform/sysinfo.h"

namespace em::platform {

std::u16string PrettyNameFromOsRelease(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view line = text.substr(pos, nl - pos);
        pos = nl + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.substr(0, 12) != "PRETTY_NAME=") continue;
        line.remove_prefix(12);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        std::string value;
        if (!line.empty() && (line.front() == '"' || line.front() == '\'')) {
            const char quote = line.front();
            for (size_t i = 1; i < line.size() && line[i] != quote; ++i) {
                if (quote == '"' && line[i] == '\\' && i + 1 < line.size()) ++i;
                value.push_back(line[i]);
            }
        } else {
            value.assign(line);
        }
        return Utf8ToUtf16(value);
    }
    return {};
}

}  // namespace em::platform
