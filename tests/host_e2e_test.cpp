// The substitute host's scenario parser: errors name the key.
#include <gtest/gtest.h>

#include "host/lib/substitute_host.h"
#include "tests/support/scenario_util.h"

namespace em::host {
namespace {

TEST(HostScenario, ErrorsNameTheKey) {
    const size_t depth = 200000;  // deep nesting once overflowed the parser's stack
    for (auto [json, fragment] : {std::pair<std::string, std::string>{R"({"modules":[{"answers":[]}]})", "modules[0]: missing \"id\""},
                                  {"{\"modules\":" + std::string(depth, '[') + std::string(depth, ']') + "}", "modules[0]"}}) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(ParseScenario(json, s, error));
        EXPECT_NE(error.find(fragment), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace em::host
