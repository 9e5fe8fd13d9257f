#include "verdicts.h"

#include "inventory/bus_type_names.h"
#include "log/log_texts.h"
#include "log_text.h"
#include "selection/weight_scale.h"
#include "oddities.h"

namespace {

struct TermRule {
    const char* name;
    std::int64_t Terms::*value;
    DriveField logged; // the speed class is shown as the class, the others by their field
};

// In the weighting's order of significance.
const TermRule TermRules[] = {
    {"speed class", &Terms::speed, DriveSpeedWeight},
    {"capacity", &Terms::size, DriveSizeWeight},
    {"system partition", &Terms::sysDisk, DriveSysDiskWeight},
    {"device number", &Terms::order, DriveOrderWeight},
};

// The name of a STORAGE_BUS_TYPE value after its number, or the number alone.
std::string BusLabel(std::int64_t busType) {
    const auto known = static_cast<std::int64_t>(sizeof(BusTypeNames) / sizeof(BusTypeNames[0]));
    if (busType < 0 || busType >= known) {
        return std::to_string(busType);
    }
    return std::to_string(busType) + " " + BusTypeNames[busType].label;
}

// A field of the block as a cell of its row: "-" where the block has none.
std::string Cell(const CandidateBlock& block, DriveField field) {
    return block.Field(field).value_or("-");
}

bool IsSpeedClass(std::int64_t weightSpeed) {
    return weightSpeed >= 0 && weightSpeed % SpeedClassStep == 0 &&
           weightSpeed / SpeedClassStep <= HighestSpeedClass;
}

std::string SpeedClassText(std::int64_t weightSpeed) {
    return IsSpeedClass(weightSpeed) ? std::to_string(weightSpeed / SpeedClassStep) : "?";
}

std::string ShownTerm(const TermRule& rule, std::int64_t value) {
    if (rule.logged == DriveSpeedWeight) {
        return SpeedClassText(value);
    }
    return DriveFieldName(rule.logged) + " " + std::to_string(value);
}

struct Loss {
    std::string term;
    std::string verdict;
};

Loss LossVerdict(int position, const Terms& own, int chosenPosition, const Terms& chosen,
                 std::vector<Oddity>* oddities) {
    const std::string weights = std::to_string(own.weight) + " < " + std::to_string(chosen.weight);
    // The pick went through both: whichever came later had to reach the other's weight.
    const bool lost = position < chosenPosition ? TakesThePick(chosen.weight, own.weight)
                                                : !TakesThePick(own.weight, chosen.weight);
    if (!lost) {
        oddities->push_back({position, "the log does not add up: its Weight " +
                                           std::to_string(own.weight) +
                                           " should have beaten the chosen disk's " +
                                           std::to_string(chosen.weight)});
        return {"", "not explained: its weight beats the chosen disk's"};
    }
    for (const TermRule& rule : TermRules) {
        const std::int64_t mine = own.*rule.value;
        const std::int64_t theirs = chosen.*rule.value;
        if (mine < theirs) {
            return {rule.name, std::string("lost on ") + rule.name + " (" + ShownTerm(rule, mine) +
                                   " < " +
                                   (rule.logged == DriveSpeedWeight ? SpeedClassText(theirs)
                                                                    : std::to_string(theirs)) +
                                   ")"};
        }
        if (mine > theirs) {
            return {"weight", "lost on weight (" + weights + ") despite a higher " + rule.name};
        }
    }
    if (own.weight == chosen.weight) {
        return {"position", "lost on position (tie at weight " + std::to_string(own.weight) +
                                "; the later position " + std::to_string(chosenPosition) +
                                " wins)"};
    }
    return {"weight", "lost on weight (" + weights + ")"};
}

struct Pick {
    int position;
    std::optional<Terms> terms; // of the chosen disk; nothing when no disk was chosen
};

Loss WeighedVerdict(int position, const Terms& own, const std::optional<Pick>& pick,
                    std::vector<Oddity>* oddities) {
    if (!pick) {
        if (!TakesThePick(own.weight, LightestPick)) {
            return {"", "weight below 1, never chosen"};
        }
        oddities->push_back({position, "the log does not add up: its Weight " +
                                           std::to_string(own.weight) +
                                           " reaches 1, yet no disk "
                                           "was chosen"});
        return {"", "not explained: weight of 1 or more, yet nothing chosen"};
    }
    if (pick->position == position) {
        return {"", "chosen"};
    }
    if (!pick->terms) {
        return {"", "not explained: the chosen disk's weighting block is incomplete"};
    }
    return LossVerdict(position, own, pick->position, *pick->terms, oddities);
}

void CheckTerms(int position, const Terms& terms, std::vector<Oddity>* oddities) {
    const std::uint64_t sum =
        static_cast<std::uint64_t>(terms.speed) + static_cast<std::uint64_t>(terms.size) +
        static_cast<std::uint64_t>(terms.sysDisk) + static_cast<std::uint64_t>(terms.order);
    if (static_cast<std::int64_t>(sum) != terms.weight) {
        oddities->push_back({position, "the log does not add up: Weight " +
                                           std::to_string(terms.weight) +
                                           " is not the sum of its terms"});
    }
    if (!IsSpeedClass(terms.speed)) {
        oddities->push_back({position, DriveFieldName(DriveSpeedWeight) + " " +
                                           std::to_string(terms.speed) + " is no speed class"});
    }
}

std::string ProbedBus(const ProbedDisk* disk) {
    return disk != nullptr && disk->busType ? BusLabel(*disk->busType) : "-";
}

// Unknown unless the partition step ran to its end: a removable disk skips the walk and has none,
// but a layout that was never read says nothing.
std::string ProbedSystemPartition(const ProbedDisk* disk) {
    if (disk == nullptr || !disk->partitionsChecked ||
        (disk->layoutAsked && !disk->layoutFailures)) {
        return "-";
    }
    return disk->systemPartition ? "yes" : "no";
}

// A row from the probe's lines alone: for a disk excluded before its terms were logged, or one
// the run never weighed.
CandidateRow ProbedRow(int position, const ProbedDisk* disk, const std::string& weight,
                       const std::string& verdict) {
    return {position, "-", ProbedBus(disk), "-", "-", ProbedSystemPartition(disk), weight,
            verdict,  ""};
}

std::string YesNo(const std::string& flag) {
    if (flag == "-") {
        return flag;
    }
    return flag == "0" ? "no" : "yes";
}

CandidateRow WeighedRow(int position, const CandidateBlock& block, const std::optional<Pick>& pick,
                        std::vector<Oddity>* oddities) {
    const std::optional<std::int64_t> busType = ParseSigned(Cell(block, DriveBusType));
    std::string size = Cell(block, DriveSize);
    const std::string& unit = FormatPieces(DriveFieldLines[DriveSize]).back();
    if (EndsWith(size, unit)) {
        size.resize(size.size() - unit.size());
    }
    CandidateRow row = {position,
                        Cell(block, DriveOrder),
                        busType ? BusLabel(*busType) : "-",
                        "-",
                        size,
                        YesNo(Cell(block, DriveSysDisk)),
                        "-",
                        "",
                        ""};
    const std::optional<Terms> terms = LoggedTerms(block);
    if (!terms) {
        row.verdict = "not explained: its weighting block is incomplete";
        oddities->push_back({position, "its weighting block lacks a term or its Weight"});
        return row;
    }
    CheckTerms(position, *terms, oddities);
    row.speedClass = SpeedClassText(terms->speed);
    row.weight = std::to_string(terms->weight);
    const Loss loss = WeighedVerdict(position, *terms, pick, oddities);
    row.verdict = loss.verdict;
    row.lostOn = loss.term;
    return row;
}

const ProbedDisk* FindDisk(const RunAccount& run, int position) {
    const auto found = run.disks.find(position);
    return found != run.disks.end() ? &found->second : nullptr;
}

std::optional<Pick> FindPick(const RunAccount& run) {
    if (!run.picked) {
        return std::nullopt;
    }
    const auto chosen = run.candidates.find(*run.picked);
    if (chosen == run.candidates.end() || !chosen->second.exclusion.empty()) {
        return Pick{*run.picked, std::nullopt};
    }
    return Pick{*run.picked, LoggedTerms(chosen->second)};
}

// The report names the chosen record's device number, or UNKNOWN when the pick chose none.
void CheckReport(const RunAccount& run, std::vector<Oddity>* oddities) {
    std::string expected = FormatPieces(NoDestinationAnswer)[0];
    if (run.picked) {
        const auto chosen = run.candidates.find(*run.picked);
        const std::string order =
            chosen != run.candidates.end() ? Cell(chosen->second, DriveOrder) : "-";
        expected = FormatPieces(ReportedDriveAnswer)[0] + order;
    }
    if (run.report != expected) {
        oddities->push_back({-1, "the log does not add up: the pick leads to \"" + expected +
                                     "\", the report says \"" + run.report + "\""});
    }
}

void ExplainReportedRun(const RunAccount& run, RunExplanation* explanation) {
    const std::optional<Pick> pick = FindPick(run);
    if (pick && !pick->terms) {
        explanation->oddities.push_back({-1, "the log does not add up: the pick chose position " +
                                                 std::to_string(pick->position) +
                                                 ", which has no weighed block"});
    }
    for (const auto& [position, block] : run.candidates) {
        const ProbedDisk* disk = FindDisk(run, position);
        if (disk != nullptr) {
            AddProbeOddities(position, *disk, &explanation->oddities);
        }
        AddCandidateOddities(position, block, disk != nullptr && disk->pathLogged,
                             &explanation->oddities);
        if (!block.exclusion.empty()) {
            explanation->rows.push_back(ProbedRow(position, disk, "0", block.exclusion));
            continue;
        }
        explanation->rows.push_back(WeighedRow(position, block, pick, &explanation->oddities));
    }
    CheckReport(run, &explanation->oddities);
}

// The run ended in the probe: only the disks it reached are known, and none was weighed.
void ExplainUnweighedRun(const RunAccount& run, RunExplanation* explanation) {
    for (const auto& [position, disk] : run.disks) {
        AddProbeOddities(position, disk, &explanation->oddities);
        const bool gaveUpHere = run.end == RunEnd::LayoutGaveUp && position == run.endPosition;
        explanation->rows.push_back(ProbedRow(position, &disk, "-",
                                              gaveUpHere ? "the probe gave up on its layout"
                                                         : "not weighed: the run ended early"));
    }
    if (run.end == RunEnd::RecordsNotAllocated) {
        explanation->oddities.push_back({-1, run.endLine});
    }
}

} // namespace

RunExplanation ExplainRun(const RunAccount& run) {
    RunExplanation explanation;
    switch (run.end) {
    case RunEnd::Reported:
        explanation.answer = run.report;
        ExplainReportedRun(run, &explanation);
        break;
    case RunEnd::LayoutGaveUp:
        explanation.answer =
            "no answer: the probe gave up on disk " + std::to_string(run.endPosition) + "'s layout";
        ExplainUnweighedRun(run, &explanation);
        break;
    case RunEnd::RecordsNotAllocated:
        explanation.answer = "no answer: the run could not allocate its drive records";
        ExplainUnweighedRun(run, &explanation);
        break;
    case RunEnd::Unfinished:
        explanation.answer = "no answer: the log ends before the run did";
        ExplainUnweighedRun(run, &explanation);
        break;
    }
    return explanation;
}
