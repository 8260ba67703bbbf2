// End to end through the real shared library: a clean stop with tasks still queued.
#include <gtest/gtest.h>

#include "host/lib/request_line.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"
#include "tests/support/scenario_util.h"

namespace em::host {
namespace {

TEST(EndToEnd, StopDeleteAndUnloadWithTasksStillQueued) {
    Scenario s = test::ParseScenarioOrFail(DefaultScenarioJson());
    for (LowerModule& m : s.modules)  // a slow lower module keeps the worker busy while requests pile up
        if (m.name == "PSU-CTL") m.answers.push_back(Answer{0x0B23, {}, {}, 0, {}, 50, false});
    SubstituteHost host(s);
    std::string error;
    ASSERT_TRUE(host.Load(EM_DEFAULT_LIBRARY, error)) << error;
    ASSERT_EQ(host.Create(), 1u);
    IExtensionModule* m = host.Module();
    m->SetCabinetNumber(0);
    m->Start(&host, 0x00FE0001);
    m->DetectCabinets();
    int queued = 0;
    for (uint32_t code = 0x210200; code < 0x210200 + 25; ++code) {
        CSipRecord r, none;
        ASSERT_TRUE(ParseRequestLine("Summary ca=0 oe=0x409 da=" + std::to_string(code), r, error));
        queued += host.Submit(r, none, 0).pending;  // not waiting for the answer
    }
    EXPECT_GT(queued, 0);
    EXPECT_EQ(m->Stop(), 1u);  // queued tasks are dropped, the running one finishes
    EXPECT_EQ(host.Delete(), 1u);
    host.Unload();
    int delivered = 0;
    for (const HostEvent& e : host.Events())
        delivered += e.kind == HostEvent::Kind::DeliverRecord && e.text.find("OC=0x0B23") != std::string::npos;
    EXPECT_LT(delivered, queued);
}

}  // namespace
}  // namespace em::host
