// The real shared library loaded through the substitute host, and the substitute host itself.
#include <gtest/gtest.h>

#include "host/lib/request_line.h"
#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"

namespace em::host {
namespace {

Scenario Parsed(const std::string& json, std::string* error = nullptr) {
    Scenario s;
    std::string e;
    const bool ok = ParseScenario(json, s, e);
    if (error) *error = ok ? "" : e;
    else EXPECT_TRUE(ok) << e;
    return s;
}

TEST(HostE2E, LoadCreateDeclineDeleteAndUnloadALeftBehindModule) {
    SubstituteHost host(Parsed(DefaultScenarioJson()));
    std::string error;
    ASSERT_TRUE(host.Load(EM_DEFAULT_LIBRARY, error)) << error;
    EXPECT_EQ(host.LibraryModuleName(), u"EM_TARNEL");
    EXPECT_EQ(host.SetupAction(), 1u);
    ASSERT_EQ(host.Create(), 1u);
    IExtensionModule* m = host.Module();
    EXPECT_EQ(m->Start(&host, 0x00FE0001), 1u);
    CSipRecord req(0x0D00, 0, 0, 0, kNoStatus);
    EXPECT_EQ(m->OnRequest(&req), 0u);
    EXPECT_EQ(req.Value(key::ST), 1u);
    EXPECT_EQ(m->Stop(), 1u);
    EXPECT_EQ(host.Delete(), 1u);
    EXPECT_EQ(host.Delete(), 0u);
    ASSERT_EQ(host.Create(), 1u);
    host.Unload();  // no EM_Delete: the unload hook destroys it (ASan reports a leak otherwise)
    ASSERT_TRUE(host.Load(EM_DEFAULT_LIBRARY, error)) << error;
    ASSERT_EQ(host.Create(), 1u);
    EXPECT_EQ(host.Delete(), 1u);
}

// As in a host's chain: answers come back up through OnReply with the global index, a text asked
// later is delivered with the host's CI, and a lower module's event is translated and forwarded.
TEST(HostE2E, RepliesAndEventsTravelUpThroughTheModule) {
    SubstituteHost host(Parsed(DefaultScenarioJson()));
    std::string error;
    ASSERT_TRUE(host.Load(EM_DEFAULT_LIBRARY, error)) << error;
    ASSERT_EQ(host.Create(), 1u);
    IExtensionModule* m = host.Module();
    m->Start(&host, 0x00FE0001);
    m->DetectCabinets();
    CSipRecord fan, text;
    for (auto [line, answer] : {std::pair{"0x0302 ca=0 oi=3", &fan}, {"Summary ca=0 oe=0x409 da=0x210105", &text}}) {
        CSipRecord r;
        ASSERT_TRUE(ParseRequestLine(line, r, error)) << error;
        if (!host.Submit(r, *answer, 15000).delivered) answer->CopyFrom(r);
    }
    EXPECT_EQ(fan.Value(key::OI), 3u);
    EXPECT_EQ(fan.Value(key::MI), 0x00020001u);
    std::u16string name;
    EXPECT_TRUE(fan.GetDataString(0, name, 0));
    EXPECT_EQ(name, u"BMC-B object 1");
    EXPECT_NE(text.Value(key::CI), 0u);
    EXPECT_EQ(text.Value(key::ST), 0u);

    Scenario s = Parsed(DefaultScenarioJson());
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
    LowerModules lower(Parsed(R"({"se_cabinets":[1],"modules":[
        {"id":"0x10001","answers":[{"oc":"0x0300","da":2}]},
        {"id":"0x20001","answers":[{"oc":"0x0300","st":12,"da":{"raw":[1,2]}}]},
        {"id":"0x30001","cabinet":1,"answers":[{"oc":"0x0300","da":9}]}]})"));
    CSipRecord r(0x0300, 0, 0, 0, kNoStatus), direct(0x0300, 0, 0, 1, kNoStatus), unknown(0x0999, 0, 0, 0, kNoStatus);
    r.SetModuleId(0xFFFF, 0xFFFF);
    r.SetCommandCI(77);
    lower.Respond(r, 10000);
    EXPECT_EQ(DescribeRecord(r), "CA=0 OC=0x0300 MI=0x00010001 CI=77 ST=0 DA=2 (0x2)\n"
                                 "CA=0 OC=0x0300 MI=0x00020001 CI=77 ST=12 DA=RAW[2] 01 02");
    lower.Respond(direct, 10000);
    uint32_t v = 0;
    EXPECT_TRUE(direct.GetDataUInt(0, v));
    EXPECT_EQ(v, 9u);
    lower.Respond(unknown, 10000);
    EXPECT_EQ(unknown.Value(key::ST), 1u);
}

TEST(HostScenario, ErrorsNameTheKey) {
    const size_t depth = 200000;  // deep nesting once overflowed the parser's stack
    for (auto [json, fragment] : {std::pair<std::string, std::string>{"{", "JSON error"},
                                  {R"({"modules":[{"answers":[]}]})", "modules[0]: missing \"id\""},
                                  {R"({"modules":[{"id":1,"answers":[{"oc":"zz"}]}]})", "\"oc\""},
                                  {R"({"modules":[{"id":1,"answers":[{"oc":1,"da":{"raw":[300]}}]}]})", "raw"},
                                  {R"({"events":[{"kind":"record","module":1}]})", "events[0]: missing \"oc\""},
                                  {"{\"modules\":" + std::string(depth, '[') + std::string(depth, ']') + "}", "modules[0]"}}) {
        std::string error;
        Parsed(json, &error);
        EXPECT_NE(error.find(fragment), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace em::host
