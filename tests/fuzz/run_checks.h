// What every fuzzed run must hold to, read from what it printed and logged and from what the
// stand-in recorded of it. A broken rule ends the process with the rule's text, so that libFuzzer
// keeps the input.
#pragma once

#include <windows.h>

#include <string>

// The clock every fuzzed run sees, so that each log line must begin with one known stamp.
SYSTEMTIME FuzzClock();

// exitCode and output are the run's; log is everything the run logged, and nothing else.
void CheckRun(int exitCode, const std::string& output, const std::string& log);
