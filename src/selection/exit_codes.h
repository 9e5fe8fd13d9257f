// destpick's exit codes besides a chosen device number, shared with the programs that run it.
#pragma once

// The report's exit code when no disk qualifies.
const int NoDestinationExitCode = 999;
// The exit code of a start-up failure (the tool cannot derive its path, name or version).
const int StartupFailureExitCode = 1;
// E_FAIL: the run could not allocate its drive records, or the probe gave up on a disk's layout;
// nothing is printed.
const int GaveUpExitCode = static_cast<int>(0x80004005u);
