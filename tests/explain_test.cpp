// destpick-explain on the pinned example logs, on logs of several runs, cut short or ending in a
// layout the probe gave up on, and on weighings built to reach every verdict.
#include "explain.h"
#include "log_entries.h"
#include "log_lines.h"
#include "log_text.h"
#include "verdicts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>

namespace {

std::string ExampleLog(const std::string& name) {
    std::ifstream file(std::string(DESTPICK_SOURCE_DIR) + "/tests/example_logs/" + name + ".log",
                       std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    EXPECT_FALSE(text.str().empty()) << name;
    return text.str();
}

// The log up to the first line that holds marker; with that line when inclusive.
std::string CutAt(const std::string& log, const std::string& marker, bool inclusive) {
    const size_t found = log.find(marker);
    EXPECT_NE(found, std::string::npos) << marker;
    const size_t lineStart = log.rfind('\n', found) + 1;
    return inclusive ? log.substr(0, log.find('\n', found) + 1) : log.substr(0, lineStart);
}

// The log with text put in after the first line that holds marker.
std::string InsertAfter(const std::string& log, const std::string& marker,
                        const std::string& text) {
    const std::string head = CutAt(log, marker, true);
    return head + text + log.substr(head.size());
}

LastCompleteRun Find(const std::string& log) {
    std::istringstream stream(log);
    return FindLastCompleteRun(stream);
}

std::vector<std::string> Verdicts(const RunExplanation& explanation) {
    std::vector<std::string> verdicts;
    for (const CandidateRow& row : explanation.rows) {
        verdicts.push_back(row.verdict);
    }
    return verdicts;
}

// Each expected oddity is its position and the start of its text; the list must match in full.
typedef std::vector<std::pair<int, std::string>> Oddities;

void ExpectOddities(const RunExplanation& explanation, const Oddities& expected) {
    ASSERT_EQ(explanation.oddities.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(explanation.oddities[i].position, expected[i].first);
        EXPECT_EQ(explanation.oddities[i].text.rfind(expected[i].second, 0), 0u)
            << explanation.oddities[i].text;
    }
}

const char Removable[] = "Removable disk, never be a main storage condidate.";
const char SeekPenaltyFailed[] =
    "Failed to get seek penalty, an USB external storage, maybe card reader or USB disk.";

struct ExampleCase {
    const char* machine;
    const char* answer;
    std::vector<std::string> verdicts;
    Oddities oddities;
};

// Every example machine, with the destination README.md gives it.
const ExampleCase ExampleCases[] = {
    {"default",
     "Destination=\\\\.\\PHYSICALDRIVE0",
     {"chosen", "lost on speed class (1 < 6)", Removable},
     {{2, SeekPenaltyFailed}}},
    {"nvme-sata-ssd-hdd",
     "Destination=\\\\.\\PHYSICALDRIVE2",
     {"lost on speed class (3 < 8)", "lost on speed class (1 < 8)", "chosen"},
     {}},
    {"nvme-gen4-beside-gen3",
     "Destination=\\\\.\\PHYSICALDRIVE1",
     {"lost on speed class (6 < 8)", "chosen"},
     {}},
    {"vmd-raid",
     "Destination=\\\\.\\PHYSICALDRIVE0",
     {"chosen", "lost on speed class (6 < 8)"},
     {}},
    {"vmd-refused",
     "Destination=\\\\.\\PHYSICALDRIVE1",
     {"lost on speed class (5 < 6)", "chosen"},
     {{0, "the RST/VMD driver refused the query (GetLastError=0x00000001)"}}},
    {"no-device-property-function",
     "Destination=\\\\.\\PHYSICALDRIVE0",
     {"chosen", "lost on capacity (weight_size 8137000 < 9047000)"},
     {{0, "the PCIe link speed lookup failed (NVMeGen=-2: no parent device found)"},
      {1, "the PCIe link speed lookup failed (NVMeGen=-2"}}},
    {"card-reader-and-removable",
     "Destination=\\\\.\\PHYSICALDRIVE0",
     {"chosen", Removable},
     {{0, SeekPenaltyFailed}}},
    {"unopenable-disk",
     "Destination=\\\\.\\PHYSICALDRIVE1",
     {"Unknown device number, never be a main storage condidate.", "chosen"},
     {{0, "the disk could not be opened"}}},
    {"raw-and-mbr",
     "Destination=\\\\.\\PHYSICALDRIVE1",
     {"lost on speed class (1 < 3)", "chosen"},
     {}},
    {"optane-and-tg",
     "Destination=\\\\.\\PHYSICALDRIVE2",
     {"Optane cache disk, never be a main storage condidate.",
      "lost on capacity (weight_size 5476000 < 9740000)", "chosen"},
     {}},
    {"layout-retry",
     "Destination=\\\\.\\PHYSICALDRIVE0",
     {"chosen", "lost on speed class (1 < 6)"},
     {{0, "the PCIe link speed lookup failed (NVMeGen=-2"},
      {1, "layout read only at i=[2] though its 1 entries fit at i=[0]: 2 requests failed"}}},
    {"empty", "Destination=UNKNOWN", {}, {}},
};

class ExampleLogs : public testing::TestWithParam<ExampleCase> {};

TEST_P(ExampleLogs, VerdictsAndOdditiesOfTheExampleMachine) {
    const ExampleCase& example = GetParam();
    const LastCompleteRun found = Find(ExampleLog(example.machine));
    ASSERT_EQ(found.status, Explained) << found.error;
    EXPECT_EQ(found.place.number, 1);
    EXPECT_EQ(found.place.count, 1);
    const RunExplanation explanation = ExplainRun(*found.run);
    EXPECT_EQ(explanation.answer, example.answer);
    EXPECT_EQ(Verdicts(explanation), example.verdicts);
    ExpectOddities(explanation, example.oddities);
}

INSTANTIATE_TEST_SUITE_P(Explain, ExampleLogs, testing::ValuesIn(ExampleCases),
                         [](const testing::TestParamInfo<ExampleCase>& param) {
                             std::string name = param.param.machine;
                             for (char& c : name) {
                                 c = c == '-' ? '_' : c;
                             }
                             return name;
                         });

// --- Weighings built to reach each verdict -----------------------------------------------------

struct Block {
    std::string exclusion; // or the four terms below
    std::int64_t speed;
    std::int64_t size;
    std::int64_t sysDisk;
    std::int64_t order;
};

std::string Entry(const std::string& message) {
    return "[2031.02.03-04:05:06] " + message + "\r\n";
}

std::string Printed(std::int64_t value) {
    return std::to_string(static_cast<std::uint64_t>(value)); // as "%I64u" prints it
}

std::string CandidateLines(int k, const Block& block, std::int64_t weight) {
    const std::string drive = "Drive[" + std::to_string(k) + "].";
    std::string text =
        Entry("") + Entry(" --- Candidate Drive [" + std::to_string(k) + "] ---------------- ");
    if (!block.exclusion.empty()) {
        return text + Entry(block.exclusion);
    }
    return text + Entry(drive + "BusType=17") +
           Entry(drive + "weight_speed=" + Printed(block.speed)) + Entry(drive + "Size=100GB") +
           Entry(drive + "weight_size=" + Printed(block.size)) +
           Entry(drive + "IsSysDisk=" + std::string(block.sysDisk != 0 ? "1" : "0")) +
           Entry(drive + "weight_SysDisk=" + Printed(block.sysDisk)) +
           Entry(drive + "Order=" + std::to_string(50 - block.order)) +
           Entry(drive + "weight_order=" + Printed(block.order)) +
           Entry(drive + "Weight=" + Printed(weight));
}

std::int64_t Sum(const Block& block) {
    return block.exclusion.empty() ? block.speed + block.size + block.sysDisk + block.order : 0;
}

// A run with the given candidates; the pick names picked (or none when negative) and the report
// says report. weightOffset is added to the first candidate's logged Weight.
std::string WeighedRun(const std::vector<Block>& blocks, int picked, const std::string& report,
                       std::int64_t weightOffset) {
    std::string log =
        Entry("") + Entry("") + Entry(" --- Collecting Information ----------------- ");
    for (size_t k = 0; k < blocks.size(); ++k) {
        log += Entry("[Disk" + std::to_string(k) + "] DevicePath=\\\\?\\test#disk");
    }
    for (size_t k = 0; k < blocks.size(); ++k) {
        log += CandidateLines(static_cast<int>(k), blocks[k],
                              Sum(blocks[k]) + (k == 0 ? weightOffset : 0));
    }
    log += Entry("") + Entry("") + Entry(" --- Pick Drive By Weight ----------------- ");
    for (size_t k = 0; k < blocks.size(); ++k) {
        log += Entry("Compare Drive" + std::to_string(k) + "[Index:" + std::to_string(k) +
                     "][Weight:" + Printed(Sum(blocks[k])) + "] to Current[Index:999][Weight:1]");
        if (static_cast<int>(k) == picked) {
            log += Entry("New default index [" + std::to_string(picked) + "] with weight [" +
                         Printed(Sum(blocks[k])) + "]");
        }
    }
    return log + Entry("") + Entry("") + Entry(" --- Report ----------------- ") + Entry(report);
}

const Block Nvme = {"", 6000000000, 9047000, 100, 50};

Block With(Block block, std::int64_t Block::*term, std::int64_t value) {
    block.*term = value;
    return block;
}

struct WeighingCase {
    const char* name;
    std::vector<Block> blocks;
    int picked;
    const char* report;
    std::int64_t weightOffset;
    std::vector<std::string> verdicts;
    Oddities oddities;
};

const char Drive1[] = "Destination=\\\\.\\PHYSICALDRIVE1"; // Order is 50 - weight_order

const WeighingCase WeighingCases[] = {
    {"SystemPartition",
     {With(Nvme, &Block::sysDisk, 0), With(Nvme, &Block::order, 49)},
     1,
     Drive1,
     0,
     {"lost on system partition (weight_SysDisk 0 < 100)", "chosen"},
     {}},
    {"DeviceNumber",
     {With(Nvme, &Block::order, 47), With(Nvme, &Block::order, 49)},
     1,
     Drive1,
     0,
     {"lost on device number (weight_order 47 < 49)", "chosen"},
     {}},
    {"TieGoesToTheLaterPosition",
     {With(Nvme, &Block::order, 49), With(Nvme, &Block::order, 49)},
     1,
     Drive1,
     0,
     {"lost on position (tie at weight 6009047149; the later position 1 wins)", "chosen"},
     {}},
    // More than a million GiB outweighs a speed class: the disk loses on its total.
    {"HigherSpeedClassOutweighedByCapacity",
     {With(Nvme, &Block::size, -1990000000),
      With(With(Nvme, &Block::speed, 5000000000), &Block::order, 49)},
     1,
     Drive1,
     0,
     {"lost on weight (4010000150 < 5009047149) despite a higher speed class", "chosen"},
     {}},
    {"NothingReachesOne",
     {{"", 0, -1176000, 0, 48}, {Removable, 0, 0, 0, 0}},
     -1,
     "Destination=UNKNOWN",
     0,
     {"weight below 1, never chosen", Removable},
     {}},
    {"ReportNamesAnotherDisk",
     {With(Nvme, &Block::sysDisk, 0), With(Nvme, &Block::order, 49)},
     1,
     "Destination=\\\\.\\PHYSICALDRIVE0",
     0,
     {"lost on system partition (weight_SysDisk 0 < 100)", "chosen"},
     {{-1, "the log does not add up: the pick leads to \"Destination=\\\\.\\PHYSICALDRIVE1\""}}},
    {"WeightIsNotTheSumOfItsTerms",
     {With(Nvme, &Block::sysDisk, 0), With(Nvme, &Block::order, 49)},
     1,
     Drive1,
     7,
     {"lost on system partition (weight_SysDisk 0 < 100)", "chosen"},
     {{0, "the log does not add up: Weight 6009047057 is not the sum of its terms"}}},
    {"PickOfTheLighterDisk",
     {Nvme, With(Nvme, &Block::order, 49)},
     1,
     Drive1,
     0,
     {"not explained: its weight beats the chosen disk's", "chosen"},
     {{0, "the log does not add up: its Weight 6009047150 should have beaten"}}},
};

class Weighings : public testing::TestWithParam<WeighingCase> {};

TEST_P(Weighings, VerdictOfEachCandidate) {
    const WeighingCase& weighing = GetParam();
    const LastCompleteRun found =
        Find(WeighedRun(weighing.blocks, weighing.picked, weighing.report, weighing.weightOffset));
    ASSERT_EQ(found.status, Explained) << found.error;
    const RunExplanation explanation = ExplainRun(*found.run);
    EXPECT_EQ(explanation.answer, weighing.report);
    EXPECT_EQ(Verdicts(explanation), weighing.verdicts);
    ExpectOddities(explanation, weighing.oddities);
}

INSTANTIATE_TEST_SUITE_P(Explain, Weighings, testing::ValuesIn(WeighingCases),
                         [](const testing::TestParamInfo<WeighingCase>& param) {
                             return std::string(param.param.name);
                         });

// --- Logs of several runs, cut short, or ending in a layout the probe gave up on ---------------

const char LayoutGaveUp[] = "[stamp] [Disk1] Failed to get paritions by "
                            "IOCTL_DISK_GET_DRIVE_LAYOUT_EX, error code = [0x00000015].\r\n";

// layout-retry's run as it goes when its second disk's layout never answers.
std::string GaveUpLog() {
    return CutAt(ExampleLog("layout-retry"), "[Disk1] Get partition amount.", true) + LayoutGaveUp;
}

struct RunsCase {
    const char* name;
    std::string log;
    ExplainExitCode status;
    int number;
    int count;
    int unfinishedAfter;
    RunPhase unfinishedPhase;
    std::string answer;
    std::string overlap; // the stamps of the last runs that overlap, one blank between
};

const char Stamp1[] = "2031.02.03-04:05:06";
const char Stamp2[] = "2031.02.03-04:05:07";
const char Both[] = "2031.02.03-04:05:06 2031.02.03-04:05:07";

std::vector<std::string> LogLines(const std::string& log) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < log.size();) {
        const size_t end = std::min(log.find('\n', start), log.size() - 1) + 1;
        lines.push_back(log.substr(start, end - start));
        start = end;
    }
    return lines;
}

// The log with each masked stamp replaced by stamp.
std::string Restamped(const std::string& log, const std::string& stamp) {
    std::string text;
    for (const std::string& line : LogLines(log)) {
        text += StartsWith(line, "[stamp]") ? "[" + stamp + "]" + line.substr(7) : line;
    }
    return text;
}

// first's first lines, then one line of each log in turn, then what is left of either.
std::string Alternating(const std::string& first, const std::string& second, size_t alone) {
    const std::vector<std::string> a = LogLines(first);
    const std::vector<std::string> b = LogLines(second);
    std::string text;
    for (size_t i = 0, j = 0; i < a.size() || j < b.size();) {
        if (i < a.size() && (i < alone || j >= b.size() || (i + j) % 2 == 0)) {
            text += a[i++];
        } else {
            text += b[j++];
        }
    }
    return text;
}

std::string EditorSaved(const std::string& log) {
    std::string text = "\xEF\xBB\xBF";
    for (std::string line : LogLines(log)) {
        line.erase(line.find_last_not_of(" \r\n") + 1);
        text += line + "\n";
    }
    return text;
}

std::string Joined(const std::vector<std::string>& stamps) {
    std::string text;
    for (const std::string& stamp : stamps) {
        text += (text.empty() ? "" : " ") + stamp;
    }
    return text;
}

std::vector<RunsCase> RunsCases() {
    const std::string first = ExampleLog("default");
    const std::string second = ExampleLog("vmd-refused");
    const std::string third = ExampleLog("nvme-gen4-beside-gen3");
    const std::string drive0 = "Destination=\\\\.\\PHYSICALDRIVE0";
    const std::string drive1 = "Destination=\\\\.\\PHYSICALDRIVE1";
    return {
        {"ThreeRuns", first + second + ExampleLog("nvme-gen4-beside-gen3"), Explained, 3, 3, 0,
         RunPhase::Probe, "Destination=\\\\.\\PHYSICALDRIVE1", ""},
        {"CutInTheProbe", first + CutAt(second, "[Disk1] Get order", false), Explained, 1, 2, 1,
         RunPhase::Probe, drive0, ""},
        {"CutInTheWeighting", first + CutAt(second, "Drive[1].Size", true), Explained, 1, 2, 1,
         RunPhase::Weighting, drive0, ""},
        {"CutInThePick", first + CutAt(second, "Compare Drive1", true), Explained, 1, 2, 1,
         RunPhase::Pick, drive0, ""},
        {"CutAfterTheReportBanner", first + CutAt(second, " --- Report", true), Explained, 1, 2, 1,
         RunPhase::Report, drive0, ""},
        // The report line without its line ending may have lost digits: the run is not done.
        {"CutInTheReportLine", first + second.substr(0, second.size() - 2), Explained, 1, 2, 1,
         RunPhase::Report, drive0, ""},
        {"TwoUnfinishedRuns",
         second + CutAt(first, "Candidate Drive [1]", false) + CutAt(first, "[Disk2]", false),
         Explained, 1, 3, 2, RunPhase::Probe, drive1, ""},
        {"GaveUpOnALayout", first + GaveUpLog(), Explained, 2, 2, 0, RunPhase::Probe,
         "no answer: the probe gave up on disk 1's layout", ""},
        {"GaveUpThenCut", GaveUpLog() + CutAt(first, "Drive[0].Weight", true), Explained, 1, 2, 1,
         RunPhase::Weighting, "no answer: the probe gave up on disk 1's layout", ""},
        // A device whose instance ID spells banners: without the blank entries before them they
        // are the probe's text, neither a new run nor the report.
        {"BannerTextsFromADevice",
         InsertAfter(first, "[Disk0] Try to get NVMe generation.",
                     "[stamp]  --- Collecting Information ----------------- \r\n"
                     "[stamp]  --- Report ----------------- \r\n"
                     "[stamp] Destination=\\\\.\\PHYSICALDRIVE9\r\n"),
         Explained, 1, 1, 0, RunPhase::Probe, drive0, ""},
        {"OnlyACutRun", CutAt(first, " --- Pick Drive", true), NoCompleteRun, 0, 1, 1,
         RunPhase::Pick, "", ""},
        {"EmptyFile", "", NotDestpickLog, 0, 0, 0, RunPhase::Probe, "", ""},
        {"MachineDescription", "{\n  \"disks\": []\n}\n", NotDestpickLog, 0, 0, 0, RunPhase::Probe,
         "", ""},
        {"StampedLinesButNoRun", "[2031.02.03-04:05:06] something else\r\n", NotDestpickLog, 0, 0,
         0, RunPhase::Probe, "", ""},
        // Two machines running destpick from one share at once: the second run began before the
        // first reported, and their lines alternate.
        {"RunsThatWroteAtOnce",
         Alternating(Restamped(first, Stamp1), Restamped(second, Stamp2), 40), NoCompleteRun, 0, 2,
         0, RunPhase::Probe, "", Both},
        {"OverlapAfterACompleteRun",
         third + Alternating(Restamped(first, Stamp1), Restamped(second, Stamp2), 100), Explained,
         1, 3, 0, RunPhase::Probe, drive1, Both},
        {"CompleteRunAfterAnOverlap",
         Alternating(Restamped(first, Stamp1), Restamped(second, Stamp2), 120) + third, Explained,
         3, 3, 0, RunPhase::Probe, drive1, ""},
        // Only the runs' own blank entries come between, but the first run's report comes after
        // the second one's header.
        {"ReportAfterTheNextRunsHeader",
         CutAt(first, "Destination=", false) + CutAt(second, "ExeVersion=", true) +
             first.substr(CutAt(first, "Destination=", false).size()) +
             second.substr(CutAt(second, "ExeVersion=", true).size()),
         NoCompleteRun, 0, 2, 0, RunPhase::Probe, "", "stamp stamp"},
        // A line after the report that no run of this log can have written.
        {"StrayLineAfterTheReport", first + "[stamp] [Disk0] Get order \r\n", NoCompleteRun, 0, 1,
         0, RunPhase::Probe, "", "stamp"},
        // Another run's last line, where this run's device texts may stand: that run ended for
        // want of records, this one did not.
        {"AnotherRunsEndInADeviceText",
         InsertAfter(first, "[Disk0] Try to get NVMe generation.",
                     "[stamp] Cannot allocate 3 drive records, no destination chosen.\r\n"),
         NoCompleteRun, 0, 1, 0, RunPhase::Probe, "", "stamp"},
        // The first run cut mid-entry; its text runs into the next run's first, blank, entry.
        {"CutRunGluedToTheNextRunsBlank",
         CutAt(first, "[Disk1] Get order", false) + "[stamp] [Disk1] Get or" + second, Explained, 2,
         2, 0, RunPhase::Probe, drive1, ""},
        {"CutInsideAStampGluedToTheNextRun",
         CutAt(first, "[Disk1] Get order", false) + "[sta" + second, Explained, 2, 2, 0,
         RunPhase::Probe, drive1, ""},
        // Saved by an editor: a byte order mark, trailing blanks trimmed, line feeds alone.
        {"SavedByAnEditor", EditorSaved(first + second), Explained, 2, 2, 0, RunPhase::Probe,
         drive1, ""},
    };
}

class Runs : public testing::TestWithParam<RunsCase> {};

TEST_P(Runs, TheLastCompleteRunIsExplained) {
    const RunsCase& runs = GetParam();
    const LastCompleteRun found = Find(runs.log);
    ASSERT_EQ(found.status, runs.status) << found.error;
    EXPECT_EQ(found.place.count, runs.count);
    EXPECT_EQ(found.place.overlapsAfter.empty() ? "" : Joined(found.place.overlapsAfter.back()),
              runs.overlap);
    if (found.status != Explained) {
        EXPECT_FALSE(found.error.empty());
        return;
    }
    EXPECT_EQ(found.place.number, runs.number);
    EXPECT_EQ(found.place.unfinishedAfter, runs.unfinishedAfter);
    if (runs.unfinishedAfter > 0) {
        EXPECT_EQ(found.place.lastUnfinishedPhase, runs.unfinishedPhase);
    }
    EXPECT_EQ(ExplainRun(*found.run).answer, runs.answer);
}

INSTANTIATE_TEST_SUITE_P(Explain, Runs, testing::ValuesIn(RunsCases()),
                         [](const testing::TestParamInfo<RunsCase>& param) {
                             return std::string(param.param.name);
                         });

// The explanation of the run found, without its place among the log's runs.
std::string RunText(const LastCompleteRun& found) {
    return found.run ? RenderExplanation(*found.run, RunPlace(), ExplainRun(*found.run)) : "";
}

// Two runs on two machines that write into one log at once, their lines interleaved at random
// from a random point of the first run on: the explanation is that of one of the runs alone, or
// names both as overlapping. Never a table of lines of both.
TEST(ExplainInterleaved, NoExplanationMixesTwoRuns) {
    const char* const machines[] = {"default", "vmd-refused", "nvme-sata-ssd-hdd", "layout-retry",
                                    "card-reader-and-removable"};
    std::mt19937 random(16);
    int overlaps = 0;
    int explained = 0;
    for (int trial = 0; trial < 1000; ++trial) {
        const std::string first = Restamped(ExampleLog(machines[random() % 5]), Stamp1);
        const std::string second = Restamped(ExampleLog(machines[random() % 5]), Stamp2);
        const std::vector<std::string> a = LogLines(first);
        const std::vector<std::string> b = LogLines(second);
        std::string log;
        for (size_t i = 0, j = 0, alone = random() % (a.size() + 5);
             i < a.size() || j < b.size();) {
            const bool fromFirst = i < alone || random() % 2 == 0;
            log += (i < a.size() && (fromFirst || j == b.size())) ? a[i++] : b[j++];
        }
        const LastCompleteRun found = Find(log);
        if (found.status == Explained) {
            ++explained;
            EXPECT_EQ(RunText(found), RunText(Find(found.run->stamp == Stamp1 ? first : second)))
                << log;
        } else {
            ++overlaps;
            ASSERT_EQ(found.status, NoCompleteRun) << log;
            ASSERT_EQ(found.place.overlapsAfter.size(), 1u) << log;
            std::vector<std::string> named = found.place.overlapsAfter[0];
            std::sort(named.begin(), named.end()); // either run may have begun first
            EXPECT_EQ(Joined(named), Both) << log;
        }
    }
    EXPECT_GT(overlaps, 100);
    EXPECT_GT(explained, 30);
}

// A run cut at every fifth byte (power lost, the process killed), then the next run appended: the
// next run is explained as it is alone, and the cut one is not.
TEST(ExplainCut, TheRunAfterACutOneIsExplained) {
    const std::string cut = Restamped(ExampleLog("default"), Stamp1);
    const std::string next = Restamped(ExampleLog("vmd-refused"), Stamp2);
    const std::string alone = RunText(Find(next));
    for (size_t length = 0; length < cut.size(); length += 5) {
        const LastCompleteRun found = Find(cut.substr(0, length) + next);
        ASSERT_EQ(found.status, Explained) << length;
        EXPECT_EQ(RunText(found), alone) << length;
        EXPECT_TRUE(found.place.overlapsAfter.empty()) << length;
        EXPECT_EQ(found.place.number, found.place.count) << length;
    }
}

TEST(ExplainGaveUp, DisksUpToTheLayoutAreListedUnweighed) {
    const LastCompleteRun found = Find(GaveUpLog());
    ASSERT_EQ(found.status, Explained);
    const RunExplanation explanation = ExplainRun(*found.run);
    EXPECT_EQ(Verdicts(explanation), (std::vector<std::string>{"not weighed: the run ended early",
                                                               "the probe gave up on its layout"}));
    EXPECT_EQ(explanation.rows[0].systemPartition, "yes");
    EXPECT_EQ(explanation.rows[1].systemPartition, "-"); // its layout was never read
    EXPECT_EQ(explanation.rows[1].bus, "11 SATA");
    ExpectOddities(explanation, {{1, "Failed to get paritions by IOCTL_DISK_GET_DRIVE_LAYOUT_EX"}});
}

// --- The log as lines: endings, stamps and entries cut short --------------------------------

std::vector<LogEntry> Entries(const std::string& log) {
    std::vector<LogEntry> entries;
    std::istringstream stream(log);
    EXPECT_TRUE(ReadLogEntries(stream, [&entries](const LogEntry& e) { entries.push_back(e); }));
    return entries;
}

struct LinesCase {
    const char* name;
    std::string log;
    std::vector<std::string> messages;
};

std::vector<LinesCase> LinesCases() {
    const std::string longText(1001, 'x');
    std::string doubleByte;
    for (int i = 0; i < 700; ++i) {
        doubleByte += "\x82\xA0";
    }
    const std::string hugeText(3 * MaxLineBytes, 'x');
    const std::string stamp = "[2031.02.03-04:05:06] ";
    return {
        {"CrLfAndLf", stamp + "one \r\n" + stamp + "two\n", {"one", "two"}},
        {"MaskedAndBlankYear", "[stamp] one\r\n[ 999.01.02-03:04:05] two\r\n", {"one", "two"}},
        {"UnstampedLinesPassedOver", "one\r\n\r\n" + stamp + "two\r\n", {"two"}},
        {"LastLineWithoutEnding", stamp + "one\r\n" + stamp + "Destination=UNKN", {"one"}},
        // A write the file system reserved but never filled, then the next run's entries.
        {"ZeroBytesBeforeAnEntry",
         stamp + "one\r\n" + stamp + "cut" + std::string(3, '\0') + stamp + "two\r\n",
         {"one", "two"}},
        // Every entry keeps its line ending, however long its text: a stamp in it is text.
        {"StampFarIntoALongEntryIsText",
         stamp + longText + stamp + "two\r\n",
         {longText + stamp + "two"}},
        {"StampInsideAShorterMessageIsText", stamp + "a " + stamp + "b\r\n", {"a " + stamp + "b"}},
        // In a double-byte code page 700 characters take 1400 bytes, within the writer's limit.
        {"DoubleByteTextWithAStampIsOneEntry",
         stamp + doubleByte + stamp + "b\r\n",
         {doubleByte + stamp + "b"}},
        {"ByteOrderMarkAndTrimmedBlanks",
         "\xEF\xBB\xBF" + stamp + "one\n[2031.02.03-04:05:06]\n[stamp]\r\n",
         {"one", "", ""}},
        // Cut mid-entry, and the next run's first entry, a blank one, on the same line.
        {"CutEntryGluedToABlankEntry",
         stamp + "cut" + stamp + "\r\n[2031.02.0" + stamp + "\r\n" + stamp + "two\r\n",
         {"", "", "two"}},
        // Longer than any entry: only a blank entry glued to its end is read.
        {"LineBeyondTheBound",
         stamp + hugeText + "\r\n" + stamp + hugeText + stamp + "\r\n" + stamp + "two\r\n",
         {"", "two"}},
    };
}

class Lines : public testing::TestWithParam<LinesCase> {};

TEST_P(Lines, EntriesAsTheToolWroteThem) {
    const LinesCase& lines = GetParam();
    std::vector<std::string> messages;
    for (const LogEntry& entry : Entries(lines.log)) {
        messages.push_back(entry.message);
    }
    EXPECT_EQ(messages, lines.messages);
}

INSTANTIATE_TEST_SUITE_P(Explain, Lines, testing::ValuesIn(LinesCases()),
                         [](const testing::TestParamInfo<LinesCase>& param) {
                             return std::string(param.param.name);
                         });

} // namespace
