// The real shared library loaded through the substitute host, and the host's scenario parser.
#include <gtest/gtest.h>

#include "host/lib/substitute_host.h"
#include "tests/support/scenario_util.h"

namespace em::host {
namespace {

// Loading, slots and deleting are the C host's test; here the unload hook destroys a module that
// was never deleted (ASan reports a leak otherwise), and the library loads again afterwards.
TEST(HostE2E, UnloadDestroysALeftBehindModule) {
    SubstituteHost host(test::ParseScenarioOrFail(DefaultScenarioJson()));
    std::string error;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(host.Load(EM_DEFAULT_LIBRARY, error)) << error;
        EXPECT_EQ(host.LibraryModuleName(), u"EM_TARNEL");
        ASSERT_EQ(host.Create(), 1u);
        host.Unload();
    }
}

TEST(HostScenario, ErrorsNameTheKey) {
    const size_t depth = 200000;  // deep nesting once overflowed the parser's stack
    for (auto [json, fragment] : {std::pair<std::string, std::string>{"{", "JSON error"},
                                  {R"({"modules":[{"answers":[]}]})", "modules[0]: missing \"id\""},
                                  {R"({"modules":[{"id":1,"answers":[{"oc":"zz"}]}]})", "\"oc\""},
                                  {R"({"modules":[{"id":1,"answers":[{"oc":1,"da":{"raw":[300]}}]}]})", "raw"},
                                  {R"({"events":[{"kind":"record","module":1}]})", "events[0]: missing \"oc\""},
                                  {"{\"modules\":" + std::string(depth, '[') + std::string(depth, ']') + "}", "modules[0]"}}) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(ParseScenario(json, s, error));
        EXPECT_NE(error.find(fragment), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace em::host
