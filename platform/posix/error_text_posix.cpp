// POSIX backend of platform/error_text.h: the C library's text.
#include <cerrno>
#include <cstring>

#include "platform/codepage.h"
#include "platform/error_text.h"

namespace em::platform {

// The platform reports errno values as Windows codes; this maps them back for the C library text.
std::u16string SystemMessageText(uint32_t code) {
    int err = 0;
    switch (code) {
        case 2: err = ENOENT; break;
        case 3: err = ENOTDIR; break;
        case 4: err = EMFILE; break;
        case 5: err = EACCES; break;
        case 6: err = EBADF; break;
        case 8: err = ENOMEM; break;
        case 87: err = EINVAL; break;
        case 112: err = ENOSPC; break;
        case 183: err = EEXIST; break;
        case 1460: err = ETIMEDOUT; break;
        default:
            if (code & 0x20000000u) err = static_cast<int>(code & 0xFFFFu);
    }
    std::string text = err ? std::strerror(err) : "Unknown error";
    size_t cut = text.find_first_of("\r\n");
    if (cut != std::string::npos) text.resize(cut);
    return Utf8ToUtf16(text);
}

}  // namespace em::platform
