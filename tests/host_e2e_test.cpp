// The real shared library loaded through the substitute host, and the host's scenario parser.
#include <gtest/gtest.h>

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
