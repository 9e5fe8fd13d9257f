// destpick-ts takes a disk only when destpick's output and exit code name the same one; every
// other run has an outcome, and an exit code, of its own.
#include "destpick_answer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct AnswerCase {
    std::string output;
    std::uint32_t exitCode;
    TsExitCode outcome;
    const char* disk;
};

const std::string Drive = "Destination=\\\\.\\PHYSICALDRIVE";

const AnswerCase Cases[] = {
    {Drive + "0", 0, TsVariableSet, "0"},
    {Drive + "1", 1, TsVariableSet, "1"}, // not a start-up failure
    {Drive + "2147483647", 2147483647u, TsVariableSet, "2147483647"},
    {"Destination=UNKNOWN", 999, TsNoDiskQualifies, ""},
    {"", 0x80004005u, TsLayoutGaveUp, ""},
    {"Cannot get VerInfo. \r\r\n", 1, TsDestpickStartupFailed, ""},
    // Every other pairing, and every answer that is not one destpick prints.
    {Drive + "2", 3, TsAnswerUnclear, ""},
    {Drive + "1", 0, TsAnswerUnclear, ""},
    {Drive + "4294967296", 0, TsAnswerUnclear, ""}, // wraps to the exit code
    {Drive + "0\r\n", 0, TsAnswerUnclear, ""},
    {Drive + "01", 1, TsAnswerUnclear, ""},
    {Drive + "-1", 0xFFFFFFFFu, TsAnswerUnclear, ""},
    {Drive, 0, TsAnswerUnclear, ""},
    {Drive + std::string("0\0", 2), 0, TsAnswerUnclear, ""}, // a NUL ends nothing
    {"Destination=UNKNOWN", 0, TsAnswerUnclear, ""},
    {"", 0, TsAnswerUnclear, ""},
    {"", 1, TsAnswerUnclear, ""},
    {"", 0xC0000005u, TsAnswerUnclear, ""},
    {"Cannot query version. \r\n", 0, TsAnswerUnclear, ""},
    {"Destination=\\\\.\\CDROM0", 1, TsAnswerUnclear, ""},
};

TEST(DestpickAnswer, OutputAndExitCodeMustAgree) {
    for (const AnswerCase& c : Cases) {
        const DestpickAnswer answer =
            ReadDestpickAnswer(c.output.data(), c.output.size(), c.exitCode);
        EXPECT_EQ(answer.outcome, c.outcome) << c.output << " with " << c.exitCode;
        EXPECT_EQ(answer.disk, c.disk) << c.output << " with " << c.exitCode;
    }
}

} // namespace
