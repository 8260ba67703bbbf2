// The host's interface, as the module sees it. Slot positions are part of the contract with the
// host: reserved slots keep their places and are never called by the module.
#pragma once

#include <cstdint>

namespace em {

class CSipRecord;
class IExtensionModule;

class IExtensionHost {
public:
    virtual uint32_t HostReserved0() { return 0; }
    virtual uint32_t HostReserved1() { return 0; }
    virtual uint32_t HostReserved2() { return 0; }
    virtual uint32_t HostReserved3() { return 0; }
    virtual uint32_t HostReserved4() { return 0; }
    virtual uint32_t HostReserved5() { return 0; }
    virtual uint32_t HostReserved6() { return 0; }
    virtual uint32_t HostReserved7() { return 0; }
    // 8: synchronous; when it returns, the lower modules have answered in place.
    virtual uint32_t SendRequest(IExtensionModule* module, CSipRecord* record, uint32_t timeout_ms) = 0;
    // 9: hands up a request answered later, or an event record.
    virtual uint32_t DeliverRecord(IExtensionModule* module, CSipRecord* record) = 0;
    // 10: called once, at the end of Start.
    virtual uint32_t StartCompleted(IExtensionModule* module, uint32_t reserved) = 0;
    virtual uint32_t HostReserved11() { return 0; }
    virtual uint32_t HostReserved12() { return 0; }
    virtual uint32_t HostReserved13() { return 0; }
    // 14: the SE cabinets; the array stays readable while the caller copies it. 0: none.
    virtual uint32_t GetSECabinets(uint32_t** cabinets, uint8_t* count) = 0;
    virtual uint32_t HostReserved15() { return 0; }
    virtual uint32_t HostReserved16() { return 0; }
    virtual uint32_t HostReserved17() { return 0; }
    virtual uint32_t HostReserved18() { return 0; }
    virtual uint32_t HostReserved19() { return 0; }
    virtual uint32_t HostReserved20() { return 0; }
    virtual uint32_t HostReserved21() { return 0; }
    virtual uint32_t HostReserved22() { return 0; }
    virtual uint32_t HostReserved23() { return 0; }
    virtual uint32_t HostReserved24() { return 0; }
    // 25: passes an event from the lower module so identified on.
    virtual uint32_t ForwardEvent(IExtensionModule* module, CSipRecord* record, uint16_t mi_high, uint16_t mi_low) = 0;
    // 26: 5 identifies the agentless service.
    virtual uint32_t GetHostType() = 0;

protected:
    ~IExtensionHost() = default;  // the host owns its interface; the module never deletes it
};

inline constexpr uint32_t kHostTypeAgentless = 5;

}  // namespace em
