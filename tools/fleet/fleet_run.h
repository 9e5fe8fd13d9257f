// A whole fleet run: the descriptions found and sharded, replayed in workers, each row printed,
// its log written and its answer recorded or compared, and what a fleet check found, on standard
// error.
#pragma once

#include "fleet_options.h"

enum FleetExitCode {
    FleetAsExpected = 0,
    FleetChanged = 1,
    FleetWrongInput = 2,
    FleetWriteFailed = 3,
};

FleetExitCode RunFleet(const FleetOptions& options);
