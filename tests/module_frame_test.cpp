// Module frame: exports, information block, base-class defaults, destruction through slot 0, and no
// exception leaving a host-facing operation.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "module/exports.h"
#include "module/host_boundary.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

TEST(Exports, OneModuleAtATimeCreatedAndDeleted) {
    IExtensionModule *a = nullptr, *b = nullptr;
    EXPECT_EQ(EM_Create(&a, nullptr), 1u);
    EXPECT_EQ(EM_Create(&b, nullptr), 1u);
    EXPECT_TRUE(a && a == b && CurrentModule() == a);
    EXPECT_EQ(EM_Delete(), 1u);
    EXPECT_EQ(EM_Delete(), 0u);
    EXPECT_EQ(EM_Create(&a, nullptr), 1u);
    EXPECT_EQ(a->DeletingDestructor(1), static_cast<void*>(a));  // the host frees it itself: forgotten
    EXPECT_EQ(EM_Delete(), 0u);
}

TEST(ModuleInfo, SmallBlockRefusedFullBlockFilledExactly) {
    CTarnelModule m;
    EXPECT_EQ(m.GetModuleInfo(nullptr), 0u);
    for (uint8_t step : {37, 0}) {  // every byte different, then all clear, before the call
        std::vector<uint8_t> block(600), expect;
        for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(step * i + (step ? 11 : 0));
        for (uint32_t size : {451u, 452u}) {
            std::memcpy(block.data(), &size, 4);
            expect = block;
            EXPECT_EQ(m.GetModuleInfo(block.data()), size == 452 ? 1u : 0u);
        }
        // Flags, a count, a zero word and two 100-character fields, zero-padded; nothing else written.
        uint32_t flags8, flags24;
        std::memcpy(&flags8, &expect[8], 4);
        std::memcpy(&flags24, &expect[24], 4);
        for (auto [off, v] : {std::pair{8u, flags8 | 3u}, {24u, (flags24 & ~2u) | 5u}, {32u, 100u}, {48u, 0u}})
            std::memcpy(&expect[off], &v, 4);
        for (auto [off, text] : {std::pair{52u, std::u16string(u"EM_TARNEL")}, {252u, u"OID mapper extension module"}}) {
            text.resize(100);
            std::memcpy(&expect[off], text.data(), 200);
        }
        EXPECT_EQ(block, expect) << int{step};
    }
}

// Notify hands its exact arguments to slot 22.
struct NotifySpy : CExtensionModule {
    uint32_t code = 0;
    uintptr_t p1 = 0, p2 = 0;
    uint32_t OnNotify(uint32_t c, uintptr_t a, uintptr_t b) override {
        code = c, p1 = a, p2 = b;
        return 42;
    }
};

TEST(ModuleDefaults, DeclineNotifyCabinetNumberAndModuleId) {
    CExtensionModule base;
    CSipRecord r(0x0D00, 0, 0, 0, kNoStatus);
    EXPECT_EQ(base.OnRequest(&r), 0u);
    EXPECT_EQ(r.Value(key::ST), 1u);
    EXPECT_EQ(base.OnRequest(nullptr), 0u);
    EXPECT_EQ(base.Notify(1, 0, 0), 0u);
    EXPECT_FALSE(base.StopRequested());
    NotifySpy spy;
    EXPECT_EQ(spy.Notify(2, 11, 13), 42u);
    EXPECT_TRUE(spy.StopRequested());
    EXPECT_EQ(std::tuple(spy.code, spy.p1, spy.p2), std::tuple(2u, uintptr_t{11}, uintptr_t{13}));
    EXPECT_EQ(base.SetCabinetNumber(12), 1u);
    EXPECT_EQ(ServerCabinetNumber(), 12u);
    base.SetCabinetNumber(0);
    EXPECT_EQ(base.Attach(nullptr, 0x00038001), 1u);  // the id is kept in two halves
    EXPECT_EQ(base.ModuleId(), 0x00038001u);
}

// Counts the frees of the objects destroyed through slot 0.
struct Counted : CTarnelModule {
    static inline int frees = 0;
    static void operator delete(void* p) {
        ++frees;
        ::operator delete(p);
    }
};

TEST(ModuleDestruction, SlotZeroFreesOnlyWithBitZero) {
    test::TraceCapture trace;
    Counted::frees = 0;
    IExtensionModule* freed = new Counted();
    EXPECT_EQ(freed->DeletingDestructor(1), static_cast<void*>(freed));
    EXPECT_EQ(Counted::frees, 1);
    alignas(Counted) unsigned char storage[sizeof(Counted)];
    IExtensionModule* in_place = new (storage) Counted();
    EXPECT_EQ(in_place->DeletingDestructor(2), static_cast<void*>(storage));
    EXPECT_EQ(Counted::frees, 1);  // destroyed where it lies, its storage stays the caller's
    EXPECT_EQ(trace.Count("EM_TARNEL           : <- Destructor"), 2u);
}

// The operations that answer a value, answer nothing, decline a request or are reached through
// Notify fail with an exception; the other slots are wrapped the same way.
struct Failing : CExtensionModule {
    bool fail_destruction = false;
    ~Failing() noexcept(false) override {
        if (fail_destruction) throw std::runtime_error("destruction failed");
    }
    [[noreturn]] static void Fail() { throw std::runtime_error("operation failed"); }
    uint32_t GetModuleInfo(void*) override { Fail(); }
    void DetectCabinets() override { Fail(); }
    uint32_t OnRequest(CSipRecord*) override { Fail(); }
    const char16_t* GetModuleName() override { Fail(); }
    uint32_t OnNotify(uint32_t, uintptr_t, uintptr_t) override { Fail(); }
};

TEST(HostBoundary, EveryFailingOperationAnswersItsFailureValueAndTraces) {
    test::TraceCapture trace(1);
    CHostBoundary<Failing> boundary;
    IExtensionModule& m = boundary;
    CSipRecord request(0x0D00, 0, 0, 0, kNoStatus);
    EXPECT_EQ(m.GetModuleInfo(nullptr) + m.OnRequest(&request) + m.Notify(2, 0, 0) + m.GetModuleName()[0], 0u);
    m.DetectCabinets();
    for (const char* name : {"GetModuleInfo", "DetectCabinets", "OnRequest", "OnNotify", "GetModuleName"})
        EXPECT_EQ(trace.Count(std::string("## ERROR! EXCEPTION in ") + name + " - not passed on to the host!"), 1u) << name;
    EXPECT_EQ(request.Value(key::ST), status::kNotHandled);  // the failed request is declined
    EXPECT_EQ(m.OnRequest(nullptr), 0u);

    auto* doomed = new CHostBoundary<Failing>();
    doomed->fail_destruction = true;
    EXPECT_EQ(doomed->DeletingDestructor(1), nullptr);
    EXPECT_EQ(trace.Count("EXCEPTION in the destructor"), 1u);
}

}  // namespace
}  // namespace em
