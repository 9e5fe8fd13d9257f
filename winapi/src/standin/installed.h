// What the stand-in's functions note in the installed run's record as they are called: the
// counters and the requests, and the clock the run was given.
#pragma once

#include <sim/standin.h>

namespace sim {

const std::optional<SYSTEMTIME>& FixedClock();

// The run's counters, which the stand-in's functions count their calls into; CurrentCounters adds
// the handles and the heap, which are counted where they live.
Counters& RunCounters();
void RecordIoRequest(const IoRequest& request);
void RecordOpenRequest(const OpenRequest& request);

} // namespace sim
