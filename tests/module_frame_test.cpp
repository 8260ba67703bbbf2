// Module frame: exports, information block, base-class defaults, host wrappers.
#include <gtest/gtest.h>

#include <cstring>

#include "module/exports.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

class ExportsTest : public ::testing::Test {
protected:
    void TearDown() override {
        while (CurrentModule()) EM_Delete();
    }
};

TEST_F(ExportsTest, CreateTwiceHandsBackTheSameObject) {
    test::TraceCapture trace;
    IExtensionModule* a = nullptr;
    IExtensionModule* b = nullptr;
    EXPECT_EQ(EM_Create(&a, nullptr), 1u);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(EM_Create(&b, nullptr), 1u);
    EXPECT_EQ(a, b);
    EXPECT_EQ(trace.Count("Module already existing!"), 1u);
    EXPECT_EQ(trace.Count("-> Constructor..."), 1u);
}

TEST_F(ExportsTest, DeleteTwiceThenCreateAgain) {
    test::TraceCapture trace;
    IExtensionModule* m = nullptr;
    ASSERT_EQ(EM_Create(&m, nullptr), 1u);
    EXPECT_EQ(EM_Delete(), 1u);
    EXPECT_EQ(EM_Delete(), 0u);
    EXPECT_EQ(trace.Count("Module already destroyed!"), 1u);
    EXPECT_TRUE(trace.Contains(".. Module destroyed successfully!"));
    EXPECT_TRUE(trace.Contains("<- Destructor"));
    EXPECT_EQ(EM_Create(&m, nullptr), 1u);
    EXPECT_NE(m, nullptr);
}

TEST_F(ExportsTest, NamesAndSetupAction) {
    CTarnelModule m;
    EXPECT_EQ(std::u16string(EM_GetModuleName()), std::u16string(m.GetModuleName()));
    EXPECT_EQ(std::u16string(EM_GetModuleName()), u"EM_TARNEL");
    EXPECT_EQ(EM_SetupAction(0, nullptr), 1u);
    EXPECT_EQ(EM_SetupAction(77, &m), 1u);
    CExtensionModule base;
    EXPECT_EQ(std::u16string(base.GetModuleName()), u"EM_XXX");
}

TEST(ModuleInfo, SmallBlockRefusedFullBlockFilledExactly) {
    CTarnelModule m;
    std::vector<uint8_t> block(600, 0xAB);
    uint32_t size = 451;
    std::memcpy(block.data(), &size, 4);
    std::vector<uint8_t> before = block;
    EXPECT_EQ(m.GetModuleInfo(block.data()), 0u);
    EXPECT_EQ(block, before);

    size = 452;
    std::memcpy(block.data(), &size, 4);
    before = block;
    EXPECT_EQ(m.GetModuleInfo(block.data()), 1u);
    auto u32 = [&](size_t off) {
        uint32_t v;
        std::memcpy(&v, &block[off], 4);
        return v;
    };
    EXPECT_EQ(u32(8), 0xABABABABu | 3u);
    EXPECT_EQ(u32(24), (0xABABABABu & ~2u) | 5u);
    EXPECT_EQ(u32(32), 100u);
    EXPECT_EQ(u32(48), 0u);
    auto text = [&](size_t off) {
        std::u16string s;
        for (size_t i = 0; i < 100; ++i) {
            char16_t c;
            std::memcpy(&c, &block[off + 2 * i], 2);
            if (!c) break;
            s.push_back(c);
        }
        return s;
    };
    EXPECT_EQ(text(52), u"EM_TARNEL");
    EXPECT_EQ(text(252), u"OID mapper extension module");
    // Every byte outside the written fields is untouched.
    auto written = [](size_t i) {
        return (i >= 8 && i < 12) || (i >= 24 && i < 28) || (i >= 32 && i < 36) || (i >= 48 && i < 452);
    };
    for (size_t i = 0; i < block.size(); ++i)
        if (!written(i)) {
            EXPECT_EQ(block[i], before[i]) << "byte " << i;
        }
}

TEST(ModuleDefaults, RequestDeclinedNotifyAndCabinetNumber) {
    test::TraceCapture trace;
    CExtensionModule base;
    CSipRecord r(0x0D00, 0, 0, 0, kNoStatus);
    EXPECT_EQ(base.OnRequest(&r), 0u);
    EXPECT_EQ(r.Value(key::ST), 1u);

    EXPECT_EQ(base.Notify(1, 0, 0), 0u);
    EXPECT_FALSE(base.StopRequested());
    EXPECT_EQ(base.Notify(2, 5, 6), 0u);
    EXPECT_TRUE(base.StopRequested());

    EXPECT_EQ(base.SetCabinetNumber(12), 1u);
    EXPECT_EQ(ServerCabinetNumber(), 12u);
    EXPECT_TRUE(trace.Contains("\nCExtensionModule    : ## Server cabinet number = 12 ##"));
    base.SetCabinetNumber(0);

    CTarnelModule m;
    EXPECT_EQ(m.OnHardwareDetected(0, nullptr), 1u);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Hardware detected"));
    EXPECT_EQ(m.Stop(), 1u);
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

TEST(ModuleDefaults, NotifyPassesArgumentsToOnNotify) {
    NotifySpy spy;
    EXPECT_EQ(spy.Notify(7, 11, 13), 42u);
    EXPECT_EQ(spy.code, 7u);
    EXPECT_EQ(spy.p1, 11u);
    EXPECT_EQ(spy.p2, 13u);
}

struct RecordingHost : IExtensionHost {
    int sends = 0;
    uint32_t last_timeout = 0;
    uint32_t last_mi = 0;
    uint32_t SendRequest(IExtensionModule*, CSipRecord* r, uint32_t t) override {
        ++sends;
        last_timeout = t;
        last_mi = r->Value(key::MI);
        r->SetReplyUInt(5, 0);
        return 1;
    }
    uint32_t DeliverRecord(IExtensionModule*, CSipRecord*) override { return 1; }
    uint32_t StartCompleted(IExtensionModule*, uint32_t) override { return 1; }
    uint32_t GetSECabinets(uint32_t**, uint8_t*) override { return 0; }
    uint32_t ForwardEvent(IExtensionModule*, CSipRecord*, uint16_t, uint16_t) override { return 1; }
    uint32_t GetHostType() override { return 1; }
};

TEST(HostServices, PassDownAndBroadcast) {
    CExtensionModule m;
    CSipRecord r(0x0300, 0, 0, 0, kNoStatus);
    m.PassDown(r, 10000);
    EXPECT_EQ(r.Value(key::ST), 6u);  // no host yet
    EXPECT_FALSE(r.HasAnswer(0, true));

    RecordingHost host;
    m.Start(&host, 0x00120034);
    EXPECT_EQ(m.ModuleId(), 0x00120034u);
    CSipRecord q(0x0300, 0, 0, 0, kNoStatus);
    m.PassDown(q, 10000);
    EXPECT_EQ(host.sends, 1);
    EXPECT_EQ(host.last_timeout, 10000u);
    EXPECT_EQ(host.last_mi, 0u);
    m.Broadcast(q, 150000);
    EXPECT_EQ(host.last_mi, 0xFFFFFFFFu);
    EXPECT_EQ(host.last_timeout, 150000u);
    EXPECT_TRUE(q.HasAnswer(1, false));
}

}  // namespace
}  // namespace em
