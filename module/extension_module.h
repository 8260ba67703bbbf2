// The host-facing interface of an extension module and its default implementation.
#pragma once

#include <atomic>
#include <cstdint>

#include "module/host_interface.h"

namespace em {

class CSipRecord;

// The host's view of an extension module: 18 operations, one slot each, slot k at byte offset 8*k
// of the table. The host is built with another compiler, whose destructor takes a single slot: a
// deleting destructor with a flags argument (bit 0: free the object as well). A C++ virtual
// destructor would take two slots here and shift every later operation, so the interface has none;
// slot 0 is that deleting destructor, spelled out.
class IExtensionModule {
public:
    // Destroys the object; with bit 0 of flags set it also frees it. Returns the object's address,
    // null when the destruction failed.
    virtual void* DeletingDestructor(unsigned int flags) = 0;                     // 0
    virtual uint32_t GetModuleInfo(void* info) = 0;                               // 1
    virtual uint32_t OnHardwareDetected(uint32_t arg1, void* arg2) = 0;           // 2
    virtual uint32_t Start(IExtensionHost* host, uint32_t module_id) = 0;         // 3
    virtual uint32_t Stop() = 0;                                                  // 4
    virtual void DetectCabinets() = 0;                                            // 5
    virtual void OnReply(CSipRecord* record) = 0;                                 // 6
    virtual uint32_t OnRequest(CSipRecord* record) = 0;                           // 7
    virtual uint32_t Reserved8() = 0;                                             // 8
    virtual uint32_t SetCabinetNumber(uint32_t cabinet) = 0;                      // 9
    virtual uint32_t Reserved10() = 0;                                            // 10
    virtual uint32_t Reserved11() = 0;                                            // 11
    virtual uint32_t Notify(uint32_t code, uintptr_t param1, uintptr_t param2) = 0;  // 12
    virtual const char16_t* GetModuleName() = 0;                                  // 13
    virtual void Reserved14() = 0;                                                // 14
    virtual void Reserved15() = 0;                                                // 15
    virtual void Reserved16() = 0;                                                // 16
    virtual void Reserved17() = 0;                                                // 17

protected:
    // Not virtual and not public: the object is destroyed through slot 0 only.
    ~IExtensionModule() = default;
};

// Process-wide: the server's own cabinet number, handed down by the host.
uint32_t ServerCabinetNumber();

class CExtensionModule : public IExtensionModule {
public:
    CExtensionModule() = default;

    // Slot 0: runs the destructor below (the most derived one); bit 0 of flags frees the object.
    void* DeletingDestructor(unsigned int flags) override;
    uint32_t GetModuleInfo(void* info) override { return 0; }
    uint32_t OnHardwareDetected(uint32_t, void*) override { return 1; }
    uint32_t Start(IExtensionHost* host, uint32_t module_id) override { return Attach(host, module_id); }
    uint32_t Stop() override { return 1; }
    void DetectCabinets() override {}
    void OnReply(CSipRecord*) override {}
    uint32_t OnRequest(CSipRecord* record) override;
    uint32_t Reserved8() override { return 0; }
    uint32_t SetCabinetNumber(uint32_t cabinet) override;
    uint32_t Reserved10() override { return 0; }
    uint32_t Reserved11() override { return 0; }
    uint32_t Notify(uint32_t code, uintptr_t param1, uintptr_t param2) override;
    const char16_t* GetModuleName() override { return u"EM_XXX"; }
    void Reserved14() override {}
    void Reserved15() override {}
    void Reserved16() override {}
    void Reserved17() override {}
    virtual uint32_t Reserved18() { return 0; }                                   // 18
    virtual uint32_t Reserved19() { return 0; }                                   // 19
    virtual uint32_t Reserved20() { return 0; }                                   // 20
    virtual uint32_t Reserved21() { return 0; }                                   // 21
    virtual uint32_t OnNotify(uint32_t code, uintptr_t param1, uintptr_t param2) { return 0; }  // 22
    // Declared after slot 22 on purpose: the two slots this compiler gives a virtual destructor
    // then follow the host's table instead of shifting it. An exception leaving the destruction is
    // contained by the caller of slot 0.
    virtual ~CExtensionModule() noexcept(false) {}

    // Keeps the host and the module id and registers the event log source.
    uint32_t Attach(IExtensionHost* host, uint32_t module_id);

    // Sends a record to the lower modules; without a host the current command gets ST 6.
    void PassDown(CSipRecord& record, uint32_t timeout_ms);
    // The same, addressed to every lower module.
    void Broadcast(CSipRecord& record, uint32_t timeout_ms);

    IExtensionHost* Host() const { return m_pHost; }
    uint32_t ModuleId() const { return (static_cast<uint32_t>(m_wModuleIdHigh) << 16) | m_wModuleIdLow; }
    bool StopRequested() const { return m_dwStopFlag.load(std::memory_order_relaxed) != 0; }

protected:
    IExtensionHost* m_pHost = nullptr;
    uint16_t m_wModuleIdLow = 0;
    uint16_t m_wModuleIdHigh = 0;
    // Written by Notify on a host thread, read by the long loops of Start without a lock.
    std::atomic<uint32_t> m_dwStopFlag{0};
};

}  // namespace em
