// Load and faults together: host threads send requests of every family through the real module
// while lower modules raise events, logs are cleared, scans run and the module is stopped and
// started again. Invariants are checked as it runs; the figures are printed at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "host/lib/scenario.h"

namespace em::host {

struct StressOptions {
    std::string library;            // the module library to load
    uint32_t threads = 8;           // host threads sending requests
    uint64_t requests = 100000;     // stop after this many requests ...
    uint32_t duration_s = 120;      // ... or after this long, whichever comes first
    uint32_t checkpoint_ms = 100;   // how often requests are held back for a scan check
    uint32_t delivery_wait_ms = 20000;  // how long a request accepted for later may take
    // How the module is stopped and started again: true stops and destroys it and makes a new
    // one (a worker that was terminated accepts no task again); false calls Stop and Start on
    // the same object.
    bool reload = true;
};

// Runs the load on the scenario and prints what it saw to out. Result: 0 when every invariant
// held, 1 when one broke, 2 when the module could not be loaded.
int RunStress(const Scenario& scenario, const StressOptions& options, std::FILE* out);

}  // namespace em::host
