// destpick-fleet's pieces: the answers a baseline may hold and the lines it refuses, the log names
// it derives, the capture's origin it reads, the rows of known machines and of a refused one, and
// on a thousand generated machines a row whose output and exit code are the ones its log tells.
// That a replay prints, exits and logs as destpick.exe does, fleet_cli_test.sh checks.
#include "answers.h"
#include "capture_origin.h"
#include "machine_generator.h"
#include "machine_list.h"
#include "machine_replay.h"
#include "test_support.h"

#include "explain.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

namespace {

TEST(FleetAnswers, EveryFormABaselineMayHold) {
    const struct {
        const char* text;
        const char* canonical; // null: refused
    } cases[] = {
        {"0", "0"},
        {"007", "7"},
        {"-5", "-5"},
        {"2147483647", "2147483647"},
        {"\\\\.\\PHYSICALDRIVE3", "3"},
        {"Destination=\\\\.\\PHYSICALDRIVE12", "12"},
        {"UNKNOWN", "UNKNOWN"},
        {"Destination=UNKNOWN", "UNKNOWN"},
        {"none", "none"},
        {"\\\\.\\PHYSICALDRIVE", nullptr},
        {"18446744073709551618", nullptr},
        {"2147483648", nullptr},
        {"+1", nullptr},
        {"1x", nullptr},
        {"", nullptr},
        {"Destination=none", nullptr},
        {"Destination=4", nullptr},
        {"unknown", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<std::string> canonical = CanonicalAnswer(c.text);
        EXPECT_EQ(canonical.has_value(), c.canonical != nullptr);
        if (canonical && c.canonical != nullptr) {
            EXPECT_EQ(*canonical, c.canonical);
        }
    }
    EXPECT_EQ(AnswerOf("Destination=\\\\.\\PHYSICALDRIVE2"), "2");
    EXPECT_EQ(AnswerOf(""), "none");
    EXPECT_EQ(AnswerOf("Cannot get VerInfo. "), "none");
}

TEST(FleetBaseline, RefusesAMalformedLineByItsNumber) {
    testing_support::ScratchFolder folder;
    const struct {
        const char* text;
        const char* error; // empty: read
    } cases[] = {
        {"# capture  answer\n\nm1.json 0\r\nwith space.json\tUNKNOWN\n", ""},
        {"m1.json 0\nm1.json \\\\.\\PHYSICALDRIVE\n", "expected.txt:2: not \"description answer\""},
        {"m1.json\n", "expected.txt:1: not"},
        {"m1.json 0\n./m1.json 1\n", "expected.txt:2: ./m1.json is listed already, on line 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string file = folder.Posix() + "/expected.txt";
        std::ofstream(file, std::ios::binary) << c.text;
        const Baseline baseline = ReadBaseline(file);
        if (*c.error == '\0') {
            EXPECT_EQ(baseline.error, "");
            EXPECT_EQ(baseline.answers.size(), 2u);
            EXPECT_EQ(
                baseline.answers.at(ComparablePath(folder.Posix() + "/with space.json")).answer,
                "UNKNOWN");
        } else {
            EXPECT_NE(baseline.error.find(c.error), std::string::npos) << baseline.error;
        }
    }
}

TEST(FleetBaseline, WritesLinesThatReadBack) {
    testing_support::ScratchFolder folder;
    const std::string names[] = {"a b.json", "#hash.json", " lead.json", "sub/x.json"};
    std::string text;
    for (const std::string& name : names) {
        text += *BaselineLine(folder.Posix(), folder.Posix() + "/" + name, "4");
    }
    EXPECT_FALSE(BaselineLine(folder.Posix(), folder.Posix() + "/line\nbreak.json", "4"));
    std::ofstream(folder.Posix() + "/baseline.txt", std::ios::binary) << text;
    const Baseline baseline = ReadBaseline(folder.Posix() + "/baseline.txt");
    EXPECT_EQ(baseline.error, "");
    for (const std::string& name : names) {
        EXPECT_EQ(baseline.answers.count(ComparablePath(folder.Posix() + "/" + name)), 1u) << name;
    }
}

TEST(FleetLogNames, StayInsideTheFolderAndNeverMeet) {
    std::set<std::string> taken;
    const struct {
        const char* relative;
        const char* logName;
    } cases[] = {
        {"a/m.json", "a/m.log"},       {"b/m.json", "b/m.log"},      {"m.json", "m.log"},
        {"m.json", "m-2.log"},         {"m-2.json", "m-2-2.log"},    {"...json", "...log"},
        {"../x.json", "x.log"},        {"/etc/y.JSON", "etc/y.log"}, {".json", ".log"},
        {"c/../../z.json", "c/z.log"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LogNameFor(c.relative, &taken), c.logName) << c.relative;
    }
}

TEST(FleetCaptureOrigin, ReadsTheCapturesOwnWords) {
    const struct {
        const char* description;
        const char* computer;
        const char* captured;
    } cases[] = {
        {"Captured by destpick-capture 1.0.0.0 on IMAGING-07 (Windows 10.0.19045) at 2024-03-09 "
         "07:05:02 UTC.",
         "IMAGING-07", "2024-03-09T07:05:02Z"},
        {"Captured by destpick-capture 1.0.0.0 on a computer that gave no name (Windows of unknown "
         "version) at 2024-03-09 07:05:02 UTC.",
         "", "2024-03-09T07:05:02Z"},
        {"Captured by destpick-capture 1.0.0.0 on LAB (1) (Windows 11) at 2025-01-02 03:04:05 UTC.",
         "LAB (1)", "2025-01-02T03:04:05Z"},
        {"A desktop with an NVMe system disk.", "", ""},
        {"Captured by destpick-capture 1.0.0.0 on X (Windows 11) at 2025-01-02 03:04 UTC.", "", ""},
    };
    for (const auto& c : cases) {
        const CaptureOrigin origin = CaptureOriginOf(c.description);
        EXPECT_EQ(origin.computer, c.computer) << c.description;
        EXPECT_EQ(origin.captured, c.captured) << c.description;
    }
}

std::string Example(const std::string& name) {
    return DESTPICK_SOURCE_DIR "/examples/machines/" + name;
}

TEST(FleetRows, TellTheChosenDiskAndTheRunnerUpOrWhyTheDescriptionIsRefused) {
    const struct {
        const char* machine;
        const char* exitCode;
        const char* disk;
        const char* bus;
        const char* runnerUp;
        const char* lostOn;
        bool refused;
    } cases[] = {
        {"default.json", "0", "0", "17 NVMe", "1", "speed class", false},
        {"nvme-gen4-beside-gen3.json", "1", "1", "17 NVMe", "0", "speed class", false},
        {"no-device-property-function.json", "0", "0", "17 NVMe", "1", "capacity", false},
        {"card-reader-and-removable.json", "0", "0", "12 SD", "", "", false},
        {"empty.json", "999", "", "", "", "", false},
        {"absent.json", "", "", "", "", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.machine);
        const DecisionRow row = ReplayDescription(Example(c.machine)).row;
        EXPECT_EQ(row[RowField::ExitCode], c.exitCode);
        EXPECT_EQ(row[RowField::Disk], c.disk);
        EXPECT_EQ(row[RowField::Bus], c.bus);
        EXPECT_EQ(row[RowField::RunnerUp], c.runnerUp);
        EXPECT_EQ(row[RowField::LostOn], c.lostOn);
        // A refusal names the description; any other row has none.
        EXPECT_EQ(row[RowField::Refused].find(c.machine) != std::string::npos, c.refused);
        EXPECT_EQ(row[RowField::Refused].empty(), !c.refused);
    }
}

TEST(FleetReplay, TheLogOfAGeneratedMachineTellsItsOutputAndExitCode) {
    testing_support::ScratchFolder folder;
    const std::string file = folder.Posix() + "/machine.json";
    for (unsigned seed = 1, replayed = 0; replayed < 1000; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::string description;
        try {
            description = sim::WriteMachine(testing_support::GeneratedMachine(seed));
        } catch (const sim::MachineError&) {
            continue; // no description can tell it
        }
        std::ofstream(file, std::ios::binary | std::ios::trunc) << description;
        const ReplayResult replay = ReplayDescription(file);
        std::istringstream log(replay.log);
        const LastCompleteRun found = FindLastCompleteRun(log);
        ASSERT_EQ(found.status, Explained);
        const DecisionRow fromLog = DecisionRowOfRun(*found.run, ExplainRun(*found.run));
        EXPECT_EQ(fromLog[RowField::Stdout], replay.row[RowField::Stdout]);
        EXPECT_EQ(fromLog[RowField::ExitCode], replay.row[RowField::ExitCode]);
        ++replayed;
    }
}

} // namespace
