// The edge to the host: destruction through slot 0 or the serializer's table, and no exception
// leaving a host-facing operation.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "host/lib/request_line.h"
#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/exports.h"
#include "module/host_boundary.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

TEST(ModuleDestruction, SlotZeroAndTheSerializerTableReachTheSameDestructor) {
    test::TraceCapture trace;
    IExtensionModule* freed = new CTarnelModule();
    EXPECT_EQ(freed->DeletingDestructor(1), static_cast<void*>(freed));
    EXPECT_EQ(trace.Count("EM_TARNEL           : <- Destructor"), 1u);

    CTaskSerializer* serializer = new CTarnelModule();
    delete serializer;
    EXPECT_EQ(trace.Count("EM_TARNEL           : <- Destructor"), 2u);

    // Without bit 0 the object is destroyed in place; its storage stays the caller's.
    alignas(CTarnelModule) unsigned char storage[sizeof(CTarnelModule)];
    IExtensionModule* in_place = new (storage) CTarnelModule();
    EXPECT_EQ(in_place->DeletingDestructor(0), static_cast<void*>(storage));
    EXPECT_EQ(trace.Count("EM_TARNEL           : <- Destructor"), 3u);
}

// Every operation fails with an exception.
struct Failing : CExtensionModule {
    bool fail_destruction = false;
    ~Failing() noexcept(false) override {
        if (fail_destruction) throw std::runtime_error("destruction failed");
    }
    [[noreturn]] static void Fail() { throw std::runtime_error("operation failed"); }
    uint32_t GetModuleInfo(void*) override { Fail(); }
    uint32_t OnHardwareDetected(uint32_t, void*) override { Fail(); }
    uint32_t Start(IExtensionHost*, uint32_t) override { Fail(); }
    uint32_t Stop() override { Fail(); }
    void DetectCabinets() override { Fail(); }
    void OnReply(CSipRecord*) override { Fail(); }
    uint32_t OnRequest(CSipRecord*) override { Fail(); }
    uint32_t SetCabinetNumber(uint32_t) override { Fail(); }
    const char16_t* GetModuleName() override { Fail(); }
    uint32_t OnNotify(uint32_t, uintptr_t, uintptr_t) override { Fail(); }
};

TEST(HostBoundary, EveryFailingOperationAnswersItsFailureValueAndTraces) {
    test::TraceCapture trace(1);
    CHostBoundary<Failing> boundary;
    IExtensionModule& m = boundary;
    CSipRecord request(0x0D00, 0, 0, 0, kNoStatus);
    const struct {
        const char* name;
        uint32_t result;
    } calls[] = {
        {"GetModuleInfo", m.GetModuleInfo(nullptr)},
        {"OnHardwareDetected", m.OnHardwareDetected(0, nullptr)},
        {"Start", m.Start(nullptr, 1)},
        {"Stop", m.Stop()},
        {"DetectCabinets", (m.DetectCabinets(), 0u)},
        {"OnReply", (m.OnReply(&request), 0u)},
        {"OnRequest", m.OnRequest(&request)},
        {"SetCabinetNumber", m.SetCabinetNumber(3)},
        {"OnNotify", m.Notify(2, 0, 0)},  // Notify reaches slot 22, which fails
        {"GetModuleName", m.GetModuleName()[0]},
    };
    for (const auto& c : calls) {
        EXPECT_EQ(c.result, 0u) << c.name;
        EXPECT_EQ(trace.Count(std::string("## ERROR! EXCEPTION in ") + c.name + " - not passed on to the host!"), 1u)
            << c.name;
    }
    EXPECT_EQ(request.Value(key::ST), status::kNotHandled);  // the failed request is declined
    EXPECT_TRUE(boundary.StopRequested());                   // Notify's own work was done

    auto* doomed = new CHostBoundary<Failing>();
    doomed->fail_destruction = true;
    EXPECT_EQ(doomed->DeletingDestructor(1), nullptr);
    EXPECT_EQ(trace.Count("EXCEPTION in the destructor"), 1u);
}

// The library's module object with a host whose SendRequest throws for 0x0302: the request is
// declined, the module keeps working.
TEST(HostBoundary, ThrowingHostDoesNotBreakTheModule) {
    test::TraceCapture trace(1);
    host::Scenario s;
    std::string error;
    ASSERT_TRUE(host::ParseScenario(R"({"modules":[
        {"id":"0x10001","objects":{"0x0300":2},"answers":[{"oc":"0x0302","throw":true}]},
        {"id":"0x20001","objects":{"0x0300":2},"answers":[{"oc":"0x0302","throw":true}]}]})",
                                    s, error))
        << error;
    host::SubstituteHost host(s);
    IExtensionModule* m = nullptr;
    ASSERT_EQ(EM_Create(&m, nullptr), 1u);
    ASSERT_EQ(m->Start(&host, 1), 1u);
    m->DetectCabinets();
    auto send = [&](const char* line, uint32_t result, uint32_t st) {
        CSipRecord r;
        ASSERT_TRUE(host::ParseRequestLine(line, r, error)) << error;
        uint32_t got = 7;
        EXPECT_NO_THROW(got = m->OnRequest(&r)) << line;
        EXPECT_EQ(got, result) << line;
        EXPECT_EQ(r.Value(key::ST), st) << line;
    };
    send("0x0302 ca=0 oi=1", 0, status::kNotHandled);
    send("0x0302 ca=0 oi=3", 0, status::kNotHandled);
    EXPECT_EQ(trace.Count("EXCEPTION in OnRequest - not passed on to the host!"), 2u);
    send("EntryCount ca=0", 1, status::kOk);
    EXPECT_EQ(m->Stop(), 1u);
    EXPECT_EQ(EM_Delete(), 1u);
}

}  // namespace
}  // namespace em
