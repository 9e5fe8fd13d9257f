// destpick-fleet: every machine description of a fleet replayed by destpick's own code, as rows
// for a spreadsheet or a script, and a fleet check against the answers of an earlier run.
#include "fleet_options.h"
#include "fleet_run.h"

#include <cstdio>

int main(int argc, char** argv) {
    const ParsedOptions parsed = ParseFleetOptions(argc, argv);
    if (!parsed.options) {
        std::fprintf(stderr, "destpick-fleet: %s\n\n%s", parsed.error.c_str(), FleetUsage);
        return FleetWrongInput;
    }
    if (parsed.options->help) {
        std::printf("%s\ndestpick-fleet %s\n", FleetUsage, DESTPICK_FLEET_VERSION);
        return FleetAsExpected;
    }
    if (parsed.options->version) {
        std::printf("destpick-fleet %s\n", DESTPICK_FLEET_VERSION);
        return FleetAsExpected;
    }
    return RunFleet(*parsed.options);
}
