#include "decision_row.h"

#include "log/log_texts.h"
#include "log_text.h"
#include "numbering.h"
#include "selection/exit_codes.h"
#include "selection/weight_scale.h"

#include <optional>

namespace {

struct FieldKind {
    const char* name;
    bool isNumber; // a number in JSON
};

// In the order of RowField.
const FieldKind Fields[RowFieldCount] = {
    {"file", false},    {"computer", false},  {"captured", false}, {"stdout", false},
    {"exitCode", true}, {"position", true},   {"disk", true},      {"path", false},
    {"bus", false},     {"speedClass", true}, {"sizeGiB", true},   {"weight", true},
    {"runnerUp", true}, {"lostOn", false},    {"oddities", true},  {"stability", false},
    {"arrivals", true}, {"sampled", false},   {"refused", false},
};

// The number as a number field holds it, or nothing when the log's text is no plain integer.
std::string NumberOrEmpty(const std::string& text) {
    const std::optional<std::int64_t> value = ParseSigned(text);
    return value ? std::to_string(*value) : "";
}

// What the run printed, and its exit code, as the report line and the run's end give them.
void SetOutcome(const RunAccount& run, DecisionRow* row) {
    if (run.end != RunEnd::Reported) {
        (*row)[RowField::ExitCode] = ExitCodeText(GaveUpExitCode);
        return;
    }
    (*row)[RowField::Stdout] = run.report;
    // "%d" of the device number, whose 32 bits are the exit code.
    const std::optional<std::int64_t> disk = NumberIn(run.report, ReportedDriveAnswer);
    if (FitsFormat(run.report, NoDestinationAnswer)) {
        (*row)[RowField::ExitCode] = ExitCodeText(NoDestinationExitCode);
    } else if (disk && *disk >= INT32_MIN && *disk <= INT32_MAX) {
        (*row)[RowField::ExitCode] = ExitCodeText(static_cast<int>(*disk));
    }
}

const CandidateRow* RowAt(const RunExplanation& explanation, int position) {
    for (const CandidateRow& row : explanation.rows) {
        if (row.position == position) {
            return &row;
        }
    }
    return nullptr;
}

// Of the weighed disks that lost to the chosen one, the one the pick would have taken without
// it: the highest weight, the later position on a tie.
const CandidateRow* RunnerUp(const RunExplanation& explanation) {
    const CandidateRow* best = nullptr;
    std::int64_t bestWeight = 0;
    for (const CandidateRow& row : explanation.rows) {
        const std::optional<std::int64_t> weight = ParseSigned(row.weight);
        if (row.lostOn.empty() || !weight) {
            continue;
        }
        if (best == nullptr || TakesThePick(*weight, bestWeight)) {
            best = &row;
            bestWeight = *weight;
        }
    }
    return best;
}

void SetChosen(const RunAccount& run, const CandidateRow& chosen, DecisionRow* row) {
    (*row)[RowField::Position] = std::to_string(chosen.position);
    (*row)[RowField::Disk] = NumberOrEmpty(chosen.disk);
    const auto block = run.candidates.find(chosen.position);
    if (block != run.candidates.end()) {
        (*row)[RowField::Path] = block->second.Field(DrivePath).value_or("");
    }
    (*row)[RowField::Bus] = chosen.bus == "-" ? "" : chosen.bus;
    (*row)[RowField::SpeedClass] = NumberOrEmpty(chosen.speedClass);
    (*row)[RowField::SizeGiB] = NumberOrEmpty(chosen.sizeGiB);
    (*row)[RowField::Weight] = NumberOrEmpty(chosen.weight);
}

} // namespace

const char* RowFieldName(RowField field) {
    return Fields[static_cast<size_t>(field)].name;
}

bool IsNumberField(RowField field) {
    return Fields[static_cast<size_t>(field)].isNumber;
}

std::string ExitCodeText(int exitCode) {
    return std::to_string(static_cast<std::uint32_t>(exitCode));
}

DecisionRow DecisionRowOfRun(const RunAccount& run, const RunExplanation& explanation) {
    DecisionRow row;
    SetOutcome(run, &row);
    const CandidateRow* chosen = run.picked ? RowAt(explanation, *run.picked) : nullptr;
    if (chosen != nullptr) {
        SetChosen(run, *chosen, &row);
        if (const CandidateRow* runnerUp = RunnerUp(explanation)) {
            row[RowField::RunnerUp] = std::to_string(runnerUp->position);
            row[RowField::LostOn] = runnerUp->lostOn;
        }
    }
    row[RowField::Oddities] = std::to_string(explanation.oddities.size());
    SetStability(JudgeNumbering(run).verdict, &row);
    return row;
}

void SetStability(const stability::NumberingVerdict& verdict, DecisionRow* row) {
    (*row)[RowField::Stability] = stability::VerdictWord(verdict.verdict);
    (*row)[RowField::Arrivals] = std::to_string(verdict.arrivals);
    (*row)[RowField::Sampled] = verdict.sampled ? "yes" : "no";
}
