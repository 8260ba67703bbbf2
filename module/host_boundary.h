// The edge between the host and a module: every operation the host reaches through the table.
//
// The host is built with another compiler and cannot take a C++ exception. CHostBoundary wraps a
// module class and keeps every exception of a host-facing operation inside: the operation traces
// it at level 1 and answers its failure value instead (0, nothing, an empty name; a destruction
// that failed answers null). A request whose handling failed is declined: ST 1 on its current
// command and result 0. The wrapped module's own handling (the reply handler's, the worker's)
// comes first; this is the last guard.
#pragma once

#include <cstdint>

#include "module/extension_module.h"

namespace em {

namespace boundary {

// The level-1 line for an exception caught at the edge; operation names the slot.
void TraceContained(const char16_t* operation) noexcept;
// ST 1 (not handled) on the record's current command, after its handling failed.
void DeclineRequest(CSipRecord* record) noexcept;

template <class R, class F>
R Call(const char16_t* operation, R failed, F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        TraceContained(operation);
        return failed;
    }
}

template <class F>
void Call(const char16_t* operation, F&& f) noexcept {
    try {
        f();
    } catch (...) {
        TraceContained(operation);
    }
}

}  // namespace boundary

template <class Module>
class CHostBoundary : public Module {
public:
    using Module::Module;

    void* DeletingDestructor(unsigned int flags) noexcept override {
        return boundary::Call(u"the destructor", static_cast<void*>(nullptr),
                              [&] { return Module::DeletingDestructor(flags); });
    }
    uint32_t GetModuleInfo(void* info) noexcept override {
        return boundary::Call(u"GetModuleInfo", 0u, [&] { return Module::GetModuleInfo(info); });
    }
    uint32_t OnHardwareDetected(uint32_t arg1, void* arg2) noexcept override {
        return boundary::Call(u"OnHardwareDetected", 0u, [&] { return Module::OnHardwareDetected(arg1, arg2); });
    }
    uint32_t Start(IExtensionHost* host, uint32_t module_id) noexcept override {
        return boundary::Call(u"Start", 0u, [&] { return Module::Start(host, module_id); });
    }
    uint32_t Stop() noexcept override {
        return boundary::Call(u"Stop", 0u, [&] { return Module::Stop(); });
    }
    void DetectCabinets() noexcept override {
        boundary::Call(u"DetectCabinets", [&] { Module::DetectCabinets(); });
    }
    void OnReply(CSipRecord* record) noexcept override {
        boundary::Call(u"OnReply", [&] { Module::OnReply(record); });
    }
    uint32_t OnRequest(CSipRecord* record) noexcept override {
        try {
            return Module::OnRequest(record);
        } catch (...) {
            boundary::TraceContained(u"OnRequest");
            boundary::DeclineRequest(record);
            return 0;
        }
    }
    uint32_t Reserved8() noexcept override {
        return boundary::Call(u"slot 8", 0u, [&] { return Module::Reserved8(); });
    }
    uint32_t SetCabinetNumber(uint32_t cabinet) noexcept override {
        return boundary::Call(u"SetCabinetNumber", 0u, [&] { return Module::SetCabinetNumber(cabinet); });
    }
    uint32_t Reserved10() noexcept override {
        return boundary::Call(u"slot 10", 0u, [&] { return Module::Reserved10(); });
    }
    uint32_t Reserved11() noexcept override {
        return boundary::Call(u"slot 11", 0u, [&] { return Module::Reserved11(); });
    }
    uint32_t Notify(uint32_t code, uintptr_t param1, uintptr_t param2) noexcept override {
        return boundary::Call(u"Notify", 0u, [&] { return Module::Notify(code, param1, param2); });
    }
    const char16_t* GetModuleName() noexcept override {
        return boundary::Call(u"GetModuleName", u"", [&]() -> const char16_t* { return Module::GetModuleName(); });
    }
    void Reserved14() noexcept override {
        boundary::Call(u"slot 14", [&] { Module::Reserved14(); });
    }
    void Reserved15() noexcept override {
        boundary::Call(u"slot 15", [&] { Module::Reserved15(); });
    }
    void Reserved16() noexcept override {
        boundary::Call(u"slot 16", [&] { Module::Reserved16(); });
    }
    void Reserved17() noexcept override {
        boundary::Call(u"slot 17", [&] { Module::Reserved17(); });
    }
    uint32_t Reserved18() noexcept override {
        return boundary::Call(u"slot 18", 0u, [&] { return Module::Reserved18(); });
    }
    uint32_t Reserved19() noexcept override {
        return boundary::Call(u"slot 19", 0u, [&] { return Module::Reserved19(); });
    }
    uint32_t Reserved20() noexcept override {
        return boundary::Call(u"slot 20", 0u, [&] { return Module::Reserved20(); });
    }
    uint32_t Reserved21() noexcept override {
        return boundary::Call(u"slot 21", 0u, [&] { return Module::Reserved21(); });
    }
    uint32_t OnNotify(uint32_t code, uintptr_t param1, uintptr_t param2) noexcept override {
        return boundary::Call(u"OnNotify", 0u, [&] { return Module::OnNotify(code, param1, param2); });
    }
};

}  // namespace em
