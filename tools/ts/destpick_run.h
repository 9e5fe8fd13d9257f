// One run of a program with its standard output captured, as a task sequence step runs it.
#pragma once

#include <windows.h>

#include <string>

struct CapturedRun {
    // The first bytes the program wrote to standard output; the rest is read and dropped.
    std::string output;
    DWORD exitCode;
};

// Runs the program in the folder and waits for it to end; FALSE, with the last error set, when it
// could not be started or its exit code not read.
BOOL RunCapturingOutput(const std::wstring& program, const std::wstring& folder, CapturedRun* run);
