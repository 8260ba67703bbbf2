// More cabinets than the task queue holds: every scan runs, in order, and texts still find room.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "platform/sync.h"
#include "tests/support/down_host.h"
#include "tests/support/scenario_util.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

constexpr uint32_t kCabinets = 100;

// Holds the scans of two cabinets, each until the test opens its gate.
class GatedModule : public CTarnelModule {
public:
    ~GatedModule() override {
        for (platform::Event& g : gate) g.Set();  // a failed test must not leave a scan held
        EndSerialization();
    }
    void OnTaskExecution(CSipRecord& request, int level) override {
        for (int i = 0; i < 2; ++i) {
            if (request.Value(key::OC) == 0x0B16 && request.Value(key::CA) == held[i]) {
                entered[i].Set();
                gate[i].Wait(platform::kInfinite);
            }
        }
        CTarnelModule::OnTaskExecution(request, level);
    }
    uint32_t held[2] = {0, 50};
    platform::Event entered[2], gate[2];
};

bool Entered(platform::Event& e) { return e.Wait(20000) == platform::WaitResult::Signalled; }

TEST(ScanBacklog, EveryCabinetIsScannedInOrderAndTextsKeepTheirRoom) {
    // The main cabinet and 99 SE cabinets, one module each with one unified entry.
    std::string se, modules;
    for (uint32_t c = 0; c < kCabinets; ++c) {
        if (c) se += (c > 1 ? "," : "") + std::to_string(c);
        modules += (c ? "," : "") + std::string(R"({"id":)") + std::to_string(0x10000 + c) + R"(,"cabinet":)" +
                   std::to_string(c) + R"(,"unified":[{"code":"0x210105","time":)" + std::to_string(1000 + c) +
                   R"(,"record_id":1}]})";
    }
    test::TraceCapture trace(2);
    test::DownHost host(test::ParseScenarioOrFail(R"({"se_cabinets":[)" + se + R"(],"modules":[)" + modules + "]}"));
    GatedModule m;
    m.SetCacheWaitMs(60000);
    m.Start(&host, 0x00FE0001);
    m.DetectCabinets();
    ASSERT_TRUE(Entered(m.entered[0]));

    // The queue is full of scans: one refusal, the rest of the cabinets wait in order.
    EXPECT_EQ(trace.Count("\nCTaskSerializer     : ## ERROR! Task queue for priority 0 is full"), 1u);
    std::deque<uint32_t> backlog = m.ScanBacklog();
    ASSERT_GE(backlog.size(), kCabinets - 20);
    for (size_t i = 0; i < backlog.size(); ++i) EXPECT_EQ(backlog[i], kCabinets - backlog.size() + i);

    // While a scan from the backlog runs, no other scan holds a slot: a text request is queued.
    m.gate[0].Set();
    ASSERT_TRUE(Entered(m.entered[1]));
    EXPECT_EQ(m.ScanBacklog().front(), 51u);
    CSipRecord text(0x0B23, 0x409, 0, 0, kNoStatus);
    text.SetDataUInt(text.CurrentCommand(), 0x100);
    m.OnRequest(&text);
    EXPECT_EQ(text.Value(key::ST), 22u);
    m.gate[1].Set();

    CSipRecord count(0x0B13, 0x409, 0, kCabinets - 1, kNoStatus);  // waits for the last scan
    m.OnRequest(&count);
    EXPECT_EQ(count.Value(key::ST), 0u);
    EXPECT_EQ(count.Value(key::DA), 1u);
    EXPECT_TRUE(m.ScanBacklog().empty());

    // Down went one scan broadcast per cabinet, in cabinet order, and the queued text request.
    std::vector<std::string> expected;
    for (uint32_t c = 0; c < kCabinets; ++c) expected.push_back("CA=" + std::to_string(c) + " OC=0x0B16 MI=0xFFFFFFFF");
    EXPECT_EQ(host.Down({"OC=0x0B16"}), expected);
    m.Stop();
    EXPECT_EQ(host.Down({"OC=0x0B23"}), std::vector<std::string>{"CA=0 OC=0x0B23 OE=0x0409 ST=0 DA=256 (0x100)"});
    EXPECT_EQ(host.Delivered("OC=0x0B23").size(), 1u);
}

}  // namespace
}  // namespace em
