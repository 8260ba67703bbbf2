// The event log switch: registration of the module as an event log source, and the agent's
// installation paths read from the registry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/eventlog.h"
#include "platform/sync.h"
#include "platform/thread_annotations.h"

namespace em::diag {

class CEventLogSwitch {
public:
    CEventLogSwitch() = default;
    ~CEventLogSwitch();  // deregisters the source
    CEventLogSwitch(const CEventLogSwitch&) = delete;
    CEventLogSwitch& operator=(const CEventLogSwitch&) = delete;

    // Registers the source once; a second registration is refused with a warning. Returns
    // whether a source handle is held afterwards.
    bool RegisterSource(const char16_t* source, const char16_t* module, uint32_t msg_id_plain_text);
    // Releases the handle; always true.
    bool DeregisterSource();

    bool IsRegistered() const;
    std::u16string ModuleName() const;
    uint32_t MsgIdPlainText() const;

private:
    mutable platform::CriticalSection m_cs;
    std::u16string m_strModule EM_GUARDED_BY(m_cs);
    platform::EventSourceHandle m_hEventSource EM_GUARDED_BY(m_cs) = nullptr;
    uint32_t m_dwMsgIdPlainText EM_GUARDED_BY(m_cs) = 0;
};

// The library's switch, constructed right after the trace facility.
extern CEventLogSwitch g_EventLogSwitch;

// Source names by host type: 5 is the agentless service.
const char16_t* EventSourceNameForHostType(uint32_t host_type);
// The start-time registration: RegisterSource(source of the host type, module name, 0x40000000).
bool RegisterModuleEventSource(uint32_t host_type, const char16_t* module_name);

// One string value under HKEY_LOCAL_MACHINE (default view, then the 32-bit view);
// REG_EXPAND_SZ values are expanded. False (value unchanged) when missing or empty.
bool ReadRegistryString(std::u16string_view key_path, std::u16string_view value_name, std::u16string& value);

// The agent's setup key, file root and program directory; each fills path and returns it.
const std::u16string& GetSetupKeyPath(std::u16string& path);
const std::u16string& GetFileRoot(std::u16string& path);
const std::u16string& GetBinRoot(std::u16string& path);

}  // namespace em::diag
