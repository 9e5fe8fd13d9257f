// The process heap's accounting, which the installed run's counters report and Install resets.
#pragma once

#include <windows.h>

namespace sim {

int LiveHeapBlocks();
SIZE_T PeakHeapBytes();
// Frees every block still held: installing the next machine ends the process that held them.
void ResetHeapAccounting();

} // namespace sim
