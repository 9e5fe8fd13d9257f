// The fuzz target's capture property: a machine that one capture sees whole replays from its
// capture as itself, printing, exiting and logging byte for byte as the run on the machine did.
#pragma once

#include <sim/machine.h>

#include <functional>
#include <string>

struct RunOutcome {
    int exitCode = 0;
    std::string output;
    std::string log;
};

// The whole system once on a machine, started as the fuzz target starts it.
typedef std::function<RunOutcome(const sim::Machine&)> RunOn;

// When one capture sees the machine whole (one interface list for every query, a class query that
// answers): captures it as destpick-capture does, writes the capture and reads it back, runs the
// system on that, and ends the process with the difference when the run is not `original`, the run
// on the machine itself.
void CheckCaptureReplays(const sim::Machine& machine, const RunOutcome& original,
                         const RunOn& runOn);
