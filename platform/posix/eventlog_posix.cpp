// POSIX backend of platform/eventlog.h: the source name becomes the syslog identity.
#include <syslog.h>

#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/eventlog.h"
#include "platform/sync.h"

namespace em::platform {

namespace {

// openlog keeps the identity pointer: the string lives in the handle until it is deregistered.
struct Source {
    uint32_t magic = 0x45564C53;  // "EVLS"
    std::string ident;
};

std::mutex& SyslogMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

EventSourceHandle RegisterEventSource(std::u16string_view source) {
    if (source.empty()) {
        SetLastError(87);  // ERROR_INVALID_PARAMETER
        return nullptr;
    }
    auto* s = new Source;
    s->ident = Utf16ToUtf8(source);
    std::lock_guard<std::mutex> g(SyslogMutex());
    openlog(s->ident.c_str(), LOG_PID | LOG_ODELAY, LOG_USER);
    return s;
}

bool DeregisterEventSource(EventSourceHandle handle) {
    auto* s = static_cast<Source*>(handle);
    if (!s || s->magic != 0x45564C53) {
        SetLastError(6);  // ERROR_INVALID_HANDLE
        return false;
    }
    {
        std::lock_guard<std::mutex> g(SyslogMutex());
        closelog();  // drops the identity before its text is freed
    }
    s->magic = 0;
    delete s;
    return true;
}

}  // namespace em::platform
