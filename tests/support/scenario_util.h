// Scenarios for tests: parsed from JSON text, failing the test on a parse error.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/lib/scenario.h"

namespace em::test {

inline host::Scenario ParseScenarioOrFail(const std::string& json) {
    host::Scenario s;
    std::string error;
    EXPECT_TRUE(host::ParseScenario(json, s, error)) << error;
    return s;
}

}  // namespace em::test
