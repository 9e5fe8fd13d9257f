// One run of the tool, from the executable's own path to the exit code.
#pragma once

#include <windows.h>

// The report's exit code when no disk qualifies.
const int NoDestinationExitCode = 999;
// The exit code of a start-up failure (the tool cannot derive its path, name or version).
const int StartupFailureExitCode = 1;

// Logs the run beside the executable, prints the destination on standard output and answers the
// process exit code: the chosen device number, 999, 1, or E_FAIL when the probe gave up.
int RunDestinationPick();
