// One run of the tool, from the executable's own path to the exit code.
#pragma once

#include "selection/exit_codes.h"

#include <windows.h>

// Logs the run beside the executable, prints the destination on standard output and answers the
// process exit code: the chosen device number, 999, 1, or E_FAIL when the probe gave up.
int RunDestinationPick();
