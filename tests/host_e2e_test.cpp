// The real shared library, loaded through the substitute host.
#include <gtest/gtest.h>

#include "host/lib/request_line.h"
#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"

namespace em::host {
namespace {

Scenario Default() {
    Scenario s;
    std::string error;
    EXPECT_TRUE(ParseScenario(DefaultScenarioJson(), s, error)) << error;
    return s;
}

TEST(HostE2E, LoadCreateDeclineDeleteUnload) {
    SubstituteHost host(Default());
    std::string error;
    ASSERT_TRUE(host.Load(EM_DEFAULT_LIBRARY, error)) << error;
    EXPECT_EQ(host.LibraryModuleName(), u"EM_TARNEL");
    EXPECT_EQ(host.SetupAction(), 1u);
    ASSERT_EQ(host.Create(), 1u);
    IExtensionModule* m = host.Module();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(std::u16string(m->GetModuleName()), u"EM_TARNEL");
    EXPECT_EQ(m->Start(&host, 0x00FE0001), 1u);

    CSipRecord req(0x0D00, 0, 0, 0, kNoStatus);
    EXPECT_EQ(m->OnRequest(&req), 0u);
    EXPECT_EQ(req.Value(key::ST), 1u);

    EXPECT_EQ(m->Stop(), 1u);
    EXPECT_EQ(host.Delete(), 1u);
    EXPECT_EQ(host.Delete(), 0u);
    host.Unload();
}

TEST(HostE2E, UnloadDestroysALeftBehindModule) {
    SubstituteHost host(Default());
    std::string error;
    ASSERT_TRUE(host.Load(EM_DEFAULT_LIBRARY, error)) << error;
    ASSERT_EQ(host.Create(), 1u);
    host.Unload();  // no EM_Delete: the unload hook must destroy it (ASan reports a leak otherwise)
    ASSERT_TRUE(host.Load(EM_DEFAULT_LIBRARY, error)) << error;
    ASSERT_EQ(host.Create(), 1u);
    EXPECT_EQ(host.Delete(), 1u);
}

// As in a host's chain: a translated request's answer comes back up through OnReply with the
// global index; the host's CI travels into broadcast copies and later deliveries; a lower module's
// event of any kind is translated and forwarded.
TEST(HostE2E, RepliesAndEventsTravelUpThroughTheModule) {
    SubstituteHost host(Default());
    std::string error;
    ASSERT_TRUE(host.Load(EM_DEFAULT_LIBRARY, error)) << error;
    ASSERT_EQ(host.Create(), 1u);
    IExtensionModule* m = host.Module();
    m->Start(&host, 0x00FE0001);
    m->DetectCabinets();
    auto send = [&](const std::string& line, CSipRecord& answer) {
        CSipRecord r;
        EXPECT_TRUE(ParseRequestLine(line, r, error)) << error;
        SubstituteHost::Outcome o = host.Submit(r, answer, 15000);
        if (!o.delivered) answer.CopyFrom(r);
        return o;
    };
    CSipRecord fan, config, text;
    send("0x0302 ca=0 oi=3", fan);
    EXPECT_EQ(fan.Value(key::OI), 3u);
    EXPECT_EQ(fan.Value(key::MI), 0x00020001u);
    std::u16string name;
    EXPECT_TRUE(fan.GetDataString(0, name, 0));
    EXPECT_EQ(name, u"BMC-B object 1");

    host.ClearEvents();
    send("ReadConfig ca=0 oe=0x31 ci=77", config);
    EXPECT_EQ(config.Value(key::CI), 77u);
    int copies = 0;
    for (const HostEvent& e : host.Events())
        if (e.kind == HostEvent::Kind::SendRequest) copies += std::string::npos != e.text.find("OC=0xE001 OE=0x0031 MI=0x00010001 CI=77");
    EXPECT_EQ(copies, 1);
    EXPECT_TRUE(send("Summary ca=0 oe=0x409 da=0x210105", text).delivered);
    EXPECT_NE(text.Value(key::CI), 0u);

    Scenario s = Default();
    ASSERT_EQ(s.events.back().kind, ScenarioEvent::Kind::Record);
    host.ClearEvents();
    host.RaiseEvent(s.events.back());
    auto events = host.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, HostEvent::Kind::ForwardEvent);
    EXPECT_NE(events[0].text.find("OC=0x0302 OI=3 MI=0x00020001 ST=255"), std::string::npos) << events[0].text;

    m->Stop();
    EXPECT_EQ(host.Delete(), 1u);
}

TEST(HostLowerModules, BroadcastAnswersOncePerModuleOfTheCabinet) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario(R"({"se_cabinets":[1],"modules":[
        {"id":"0x10001","answers":[{"oc":"0x0300","da":2}]},
        {"id":"0x20001","answers":[{"oc":"0x0300","st":12,"da":{"raw":[1,2]}}]},
        {"id":"0x30001","cabinet":1,"answers":[{"oc":"0x0300","da":9}]}]})",
                              s, error))
        << error;
    LowerModules lower(s);
    CSipRecord r(0x0300, 0, 0, 0, kNoStatus);
    r.SetModuleId(0xFFFF, 0xFFFF);
    r.SetCommandCI(77);
    lower.Respond(r, 10000);
    ASSERT_EQ(r.CommandCount(), 2u);
    EXPECT_EQ(r.GetCommandValue(0, key::MI, 0), 0x10001u);
    EXPECT_EQ(r.GetCommandValue(1, key::MI, 0), 0x20001u);
    EXPECT_EQ(r.GetCommandValue(1, key::ST, 22), 12u);
    EXPECT_EQ(r.GetCommandValue(1, key::CI, 0), 77u);
    EXPECT_EQ(r.GetCommandValue(0, key::OC, 0), 0x0300u);
    EXPECT_EQ(r.GetDataLength(1), 2u);

    CSipRecord direct(0x0300, 0, 0, 1, kNoStatus);
    lower.Respond(direct, 10000);
    uint32_t v = 0;
    EXPECT_TRUE(direct.GetDataUInt(0, v));
    EXPECT_EQ(v, 9u);
    CSipRecord unknown(0x0999, 0, 0, 0, kNoStatus);
    lower.Respond(unknown, 10000);
    EXPECT_EQ(unknown.Value(key::ST), 1u);
}

TEST(HostScenario, ErrorsNameTheKey) {
    Scenario s;
    std::string error;
    EXPECT_FALSE(ParseScenario("{", s, error));
    EXPECT_NE(error.find("JSON error"), std::string::npos);
    EXPECT_FALSE(ParseScenario(R"({"modules":[{"answers":[]}]})", s, error));
    EXPECT_NE(error.find("modules[0]: missing \"id\""), std::string::npos);
    EXPECT_FALSE(ParseScenario(R"({"modules":[{"id":1,"answers":[{"oc":"zz"}]}]})", s, error));
    EXPECT_NE(error.find("\"oc\""), std::string::npos);
    EXPECT_FALSE(ParseScenario(R"({"modules":[{"id":1,"answers":[{"oc":1,"da":{"raw":[300]}}]}]})", s, error));
    EXPECT_FALSE(ParseScenario(R"({"events":[{"kind":"record","module":1}]})", s, error));
    EXPECT_NE(error.find("events[0]: missing \"oc\""), std::string::npos) << error;
    // Deep nesting used to overflow the parser's stack.
    const size_t depth = 200000;
    EXPECT_FALSE(ParseScenario("{\"modules\":" + std::string(depth, '[') + std::string(depth, ']') + "}", s, error));
    EXPECT_NE(error.find("modules[0]"), std::string::npos) << error;
}

}  // namespace
}  // namespace em::host
