#include "module/extension_module.h"

#include <atomic>

#include "diag/debug.h"
#include "module/sip_record.h"

namespace em {

namespace {
std::atomic<uint32_t> g_dwServerCabinet{0};
}  // namespace

uint32_t ServerCabinetNumber() { return g_dwServerCabinet.load(std::memory_order_relaxed); }

uint32_t CExtensionModule::Attach(IExtensionHost* host, uint32_t module_id) {
    m_pHost = host;
    m_wModuleIdLow = static_cast<uint16_t>(module_id & 0xFFFF);
    m_wModuleIdHigh = static_cast<uint16_t>(module_id >> 16);
    // Event log source: the agentless service's name for host type 5, the agent's otherwise.
    // The host's type is asked anew for each use.
    EM_TRACE(4, u"\n%-20s: Register event log source \"%s\" ...",
             diag::EventSourceNameForHostType(m_pHost ? m_pHost->GetHostType() : 0), GetModuleName());
    diag::RegisterModuleEventSource(m_pHost ? m_pHost->GetHostType() : 0, GetModuleName());
    EM_TRACE(4, u"\n%-20s: ... event log source \"%s\" registered",
             diag::EventSourceNameForHostType(m_pHost ? m_pHost->GetHostType() : 0), GetModuleName());
    return 1;
}

void* CExtensionModule::DeletingDestructor(unsigned int flags) {
    void* self = this;
    if (flags & 1u) delete this;
    else this->~CExtensionModule();  // virtual: the most derived destructor
    return self;
}

uint32_t CExtensionModule::OnRequest(CSipRecord* record) {
    if (record) record->SetStatus(status::kNotHandled);
    return 0;
}

uint32_t CExtensionModule::SetCabinetNumber(uint32_t cabinet) {
    g_dwServerCabinet.store(cabinet, std::memory_order_relaxed);
    EM_TRACE(3, u"\nCExtensionModule    : ## Server cabinet number = %d ##", cabinet);
    return 1;
}

uint32_t CExtensionModule::Notify(uint32_t code, uintptr_t param1, uintptr_t param2) {
    if (code == 2) m_dwStopFlag.store(1, std::memory_order_relaxed);
    return OnNotify(code, param1, param2);
}

void CExtensionModule::PassDown(CSipRecord& record, uint32_t timeout_ms) {
    if (m_pHost) m_pHost->SendRequest(this, &record, timeout_ms);
    else record.SetStatus(status::kNoHost);
}

void CExtensionModule::Broadcast(CSipRecord& record, uint32_t timeout_ms) {
    record.SetModuleId(0xFFFF, 0xFFFF);
    PassDown(record, timeout_ms);
}

}  // namespace em
