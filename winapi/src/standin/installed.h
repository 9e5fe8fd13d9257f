// What the stand-in's functions note in the installed run's record as they are called: the
// counters and the requests, and the clock the run was given.
#pragma once

#include <sim/standin.h>

namespace sim {

const std::optional<SYSTEMTIME>& FixedClock();

// Device-information sets, counted while they live.
void CountSetBuilt();
void CountSetDestroyed();
void CountClassQuery();
void CountDeviceWrite();
void CountUnknownRequest();
void CountFileOpen();
void CountFileFind();
void CountFileWrite();
void CountDeviceOpen();
void CountDeviceIoControl();
void CountSetupApiCall();
void RecordIoRequest(const IoRequest& request);
void RecordOpenRequest(const OpenRequest& request);

} // namespace sim
