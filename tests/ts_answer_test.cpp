// destpick-ts takes a disk only when destpick's output and exit code name the same one; every
// other run has an outcome, and an exit code, of its own.
#include "destpick_answer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct AnswerCase {
    const char* what;
    std::string output;
    std::uint32_t exitCode;
    TsExitCode outcome;
    const char* disk;
};

const AnswerCase Cases[] = {
    {"disk 0", "Destination=\\\\.\\PHYSICALDRIVE0", 0, TsVariableSet, "0"},
    {"disk 1, not a start-up failure", "Destination=\\\\.\\PHYSICALDRIVE1", 1, TsVariableSet, "1"},
    {"the highest device number", "Destination=\\\\.\\PHYSICALDRIVE2147483647", 2147483647u,
     TsVariableSet, "2147483647"},
    {"no disk qualifies", "Destination=UNKNOWN", 999, TsNoDiskQualifies, ""},
    {"the layout given up", "", 0x80004005u, TsLayoutGaveUp, ""},
    {"a start-up message", "Cannot get VerInfo. \r\r\n", 1, TsDestpickStartupFailed, ""},
    {"disk 2 with exit code 3", "Destination=\\\\.\\PHYSICALDRIVE2", 3, TsAnswerUnclear, ""},
    {"disk 1 printed, exit code 0", "Destination=\\\\.\\PHYSICALDRIVE1", 0, TsAnswerUnclear, ""},
    {"a number beyond 32 bits that wraps to the exit code",
     "Destination=\\\\.\\PHYSICALDRIVE4294967296", 0, TsAnswerUnclear, ""},
    {"a line end after the answer", "Destination=\\\\.\\PHYSICALDRIVE0\r\n", 0, TsAnswerUnclear,
     ""},
    {"a leading zero", "Destination=\\\\.\\PHYSICALDRIVE01", 1, TsAnswerUnclear, ""},
    {"a sign", "Destination=\\\\.\\PHYSICALDRIVE-1", 0xFFFFFFFFu, TsAnswerUnclear, ""},
    {"no number", "Destination=\\\\.\\PHYSICALDRIVE", 0, TsAnswerUnclear, ""},
    {"UNKNOWN with exit code 0", "Destination=UNKNOWN", 0, TsAnswerUnclear, ""},
    {"nothing, exit code 0", "", 0, TsAnswerUnclear, ""},
    {"nothing, exit code 1", "", 1, TsAnswerUnclear, ""},
    {"a crash", "", 0xC0000005u, TsAnswerUnclear, ""},
    {"a start-up message with another exit code", "Cannot query version. \r\n", 0, TsAnswerUnclear,
     ""},
    {"another destination with exit code 1", "Destination=\\\\.\\CDROM0", 1, TsAnswerUnclear, ""},
};

TEST(DestpickAnswer, OutputAndExitCodeMustAgree) {
    for (const AnswerCase& c : Cases) {
        const DestpickAnswer answer =
            ReadDestpickAnswer(c.output.data(), c.output.size(), c.exitCode);
        EXPECT_EQ(answer.outcome, c.outcome) << c.what;
        EXPECT_EQ(answer.disk, c.disk) << c.what;
    }
}

TEST(DestpickAnswer, AnEmbeddedNulEndsNoAnswer) {
    const std::string output("Destination=\\\\.\\PHYSICALDRIVE0\0", 32);
    EXPECT_EQ(ReadDestpickAnswer(output.data(), output.size(), 0).outcome, TsAnswerUnclear);
}

} // namespace
