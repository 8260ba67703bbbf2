#include "diag/eventlog_switch.h"

#include <vector>

#include "diag/debug.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"

namespace em::diag {

__attribute__((init_priority(102))) CEventLogSwitch g_EventLogSwitch;

namespace {

constexpr std::u16string_view kInstallPointerKey =
    u"SYSTEM\\CurrentControlSet\\Control\\UUID\\7D24E0A1-5B3C-4F19-9A62-1E08C4D7B593";
constexpr std::u16string_view kDefaultAgentKey = u"SOFTWARE\\Osterbrink\\Management\\Kindrel";

uint32_t HandleBits(platform::EventSourceHandle h) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h));
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == platform::kPathSeparator; }

// Drops a trailing separator at position 3 or later, so that a root such as C:\ keeps its own.
void DropTrailingSeparator(std::u16string& path) {
    if (path.size() >= 4 && IsSeparator(path.back())) path.pop_back();
}

bool CurrentDirectory(std::u16string& path) {
    std::u16string cwd;
    if (!platform::GetCurrentDirectory(cwd)) return false;
    DropTrailingSeparator(cwd);
    path = std::move(cwd);
    return true;
}

}  // namespace

CEventLogSwitch::~CEventLogSwitch() { DeregisterSource(); }

bool CEventLogSwitch::RegisterSource(const char16_t* source, const char16_t* module, uint32_t msg_id_plain_text) {
    EM_TRACE(4, u"\nSWITCH (SysLog)     : RegisterSource(): source=%s, module=%s, MsgIdPlainText=0x%08X",
             source, module, msg_id_plain_text);
    platform::CsLock lock(m_cs);
    if (m_hEventSource) {
        EM_TRACE(1, u"\nSWITCH (SysLog)     : RegisterSource(): WARNING!! Eventlog source already registered - registration ignored!");
    } else {
        m_dwMsgIdPlainText = msg_id_plain_text | 0x40000000u;
        if (source) {
            if (module) m_strModule = module;
            EM_TRACE(4, u"\nSWITCH (SysLog)     : RegisterSource(): register source \"%s\"...", source);
            m_hEventSource = platform::RegisterEventSource(source);
            EM_TRACE(4, u"\nSWITCH (SysLog)     : ...source \"%s\" registered!", source);
        }
    }
    EM_TRACE(5, u"\nSWITCH (SysLog)     : RegisterSource(): m_hEventSource = 0x%08X...", HandleBits(m_hEventSource));
    return m_hEventSource != nullptr;
}

bool CEventLogSwitch::DeregisterSource() {
    platform::CsLock lock(m_cs);
    if (m_hEventSource) {
        EM_TRACE(4, u"\nSWITCH (SysLog)     : DeregisterSource(): Unregister event source...");
        EM_TRACE(5, u"\nSWITCH (SysLog)     :   m_hEventSource = 0x%08X...", HandleBits(m_hEventSource));
        if (platform::DeregisterEventSource(m_hEventSource)) {
            EM_TRACE(4, u"\nSWITCH (SysLog)     : DeregisterSource(): ...handle unregistered");
        } else {
            EM_TRACE(1, u"\nSWITCH (SysLog)     : ## ERROR! DeregisterSource() failed (0x%08X)", platform::GetLastError());
        }
        m_hEventSource = nullptr;
    }
    return true;
}

bool CEventLogSwitch::IsRegistered() const {
    platform::CsLock lock(m_cs);
    return m_hEventSource != nullptr;
}

std::u16string CEventLogSwitch::ModuleName() const {
    platform::CsLock lock(m_cs);
    return m_strModule;
}

uint32_t CEventLogSwitch::MsgIdPlainText() const {
    platform::CsLock lock(m_cs);
    return m_dwMsgIdPlainText;
}

const char16_t* EventSourceNameForHostType(uint32_t host_type) {
    return host_type == 5 ? u"Brakmoor Agentless Service" : u"Brakmoor Kindrel";
}

bool RegisterModuleEventSource(uint32_t host_type, const char16_t* module_name) {
    g_EventLogSwitch.RegisterSource(EventSourceNameForHostType(host_type), module_name, 0x40000000u);
    return true;
}

bool ReadRegistryString(std::u16string_view key_path, std::u16string_view value_name, std::u16string& value) {
    platform::RegKey key;
    if (key.Open(key_path, platform::RegView::Default) != platform::kErrorSuccess &&
        key.Open(key_path, platform::RegView::View32) != platform::kErrorSuccess)
        return false;
    uint32_t size = 0;
    uint32_t type = 0;
    if (key.QueryValue(value_name, &type, nullptr, &size) != platform::kErrorSuccess || size == 0) return false;
    std::vector<char16_t> buf(size / sizeof(char16_t) + 1, 0);
    const bool ok = key.QueryValue(value_name, &type, buf.data(), &size) == platform::kErrorSuccess;
    std::u16string text(buf.data());
    if (type == platform::kRegExpandSz) text = platform::ExpandEnvironmentStrings(text);
    value = std::move(text);
    return ok;
}

const std::u16string& GetSetupKeyPath(std::u16string& path) {
    std::u16string agent;
    if (!ReadRegistryString(kInstallPointerKey, u"Kindrel", agent)) agent = kDefaultAgentKey;
    path = agent + u"\\Setup";
    return path;
}

const std::u16string& GetFileRoot(std::u16string& path) {
    std::u16string setup, root;
    if (ReadRegistryString(GetSetupKeyPath(setup), u"FileRoot", root) && !root.empty()) {
        DropTrailingSeparator(root);
        path = std::move(root);
    } else {
        CurrentDirectory(path);
    }
    return path;
}

const std::u16string& GetBinRoot(std::u16string& path) {
    std::u16string setup, value;
    GetSetupKeyPath(setup);
    if (ReadRegistryString(setup, u"BinRoot", value) && !value.empty()) {
        DropTrailingSeparator(value);
        path = std::move(value);
    } else if (ReadRegistryString(setup, u"FileRoot", value) && !value.empty()) {
        DropTrailingSeparator(value);
        path = std::move(value);
    } else if (!CurrentDirectory(path)) {
        GetFileRoot(path);
        path.push_back(platform::kPathSeparator);
        path += u"Bin";
    }
    return path;
}

}  // namespace em::diag
