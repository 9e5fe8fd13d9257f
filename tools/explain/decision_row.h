// One decision as one row of named fields, for spreadsheets and scripts: what destpick-explain
// prints with --format and what destpick-fleet prints for every machine. Both build it from a
// run's log, so the two agree on every machine; the fleet adds what only the description knows.
#pragma once

#include "numbering_verdict.h"
#include "run_account.h"
#include "verdicts.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

enum class RowField {
    File,
    Computer,
    Captured,
    Stdout,
    ExitCode,
    Position,
    Disk,
    Path,
    Bus,
    SpeedClass,
    SizeGiB,
    Weight,
    RunnerUp,
    LostOn,
    Oddities,
    Stability,
    Arrivals,
    Sampled,
    Refused,
};
constexpr size_t RowFieldCount = static_cast<size_t>(RowField::Refused) + 1;

// The field's name, in the CSV header and as the JSON key.
const char* RowFieldName(RowField field);
// A number in JSON when it has a value; text otherwise.
bool IsNumberField(RowField field);

// Every field as text; an empty one has no value. A number field holds a decimal integer or
// nothing.
struct DecisionRow {
    std::array<std::string, RowFieldCount> values;

    std::string& operator[](RowField field) {
        return values[static_cast<size_t>(field)];
    }
    const std::string& operator[](RowField field) const {
        return values[static_cast<size_t>(field)];
    }
};

// The exit code as a script on Windows sees it: the whole 32-bit value, unsigned.
std::string ExitCodeText(int exitCode);

// The decision of a run that ended (any RunEnd but Unfinished), from its account and explanation:
// what it printed and its exit code, the chosen disk, the runner-up and the term it lost on, and
// how many odd things it logged, and whether the pick rests on the disks' numbering, judged from
// the log alone. File, computer, capture time and refusal stay empty.
DecisionRow DecisionRowOfRun(const RunAccount& run, const RunExplanation& explanation);

// The numbering verdict's fields: its word, the arrivals tried and whether they were a sample.
void SetStability(const stability::NumberingVerdict& verdict, DecisionRow* row);
