// What destpick.exe's run means for a task sequence: its standard output and exit code, read
// together, because exit code 1 is both disk 1 and a start-up failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// destpick-ts.exe's exit codes, one for each outcome; the readmes list them for the admin.
enum TsExitCode : int {
    TsVariableSet = 0,
    TsWrongCommandLine = 1,
    TsNoEnvironment = 2,
    TsDestpickMissing = 3,
    TsCopyFailed = 4,
    TsStartFailed = 5,
    TsNoDiskQualifies = 6,
    TsLayoutGaveUp = 7,
    TsDestpickStartupFailed = 8,
    TsAnswerUnclear = 9,
    TsVariableNotSet = 10,
};

struct DestpickAnswer {
    TsExitCode outcome;
    // The chosen disk's number as destpick printed it; empty unless outcome is TsVariableSet.
    std::string disk;
    std::string devicePath; // as destpick printed it, \\.\PHYSICALDRIVE<n>
};

// Only "Destination=\\.\PHYSICALDRIVE<n>" with exit code n names a disk.
DestpickAnswer ReadDestpickAnswer(const char* output, std::size_t length, std::uint32_t exitCode);
