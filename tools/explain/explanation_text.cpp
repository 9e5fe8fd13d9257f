#include "explanation_text.h"

#include "numbering.h"

#include <algorithm>
#include <array>

namespace {

const size_t ColumnCount = 8;
typedef std::array<std::string, ColumnCount> TableLine;

const TableLine Headings = {"position",         "disk",   "bus",    "speed class", "size GiB",
                            "system partition", "weight", "verdict"};

TableLine Cells(const CandidateRow& row) {
    return {std::to_string(row.position), row.disk,   row.bus,    row.speedClass, row.sizeGiB,
            row.systemPartition,          row.weight, row.verdict};
}

// Each cell padded to its column's width, so that the table reads as one in a console and as a
// Markdown table where it is pasted.
std::string TableText(const std::vector<CandidateRow>& rows) {
    std::vector<TableLine> lines = {Headings};
    for (const CandidateRow& row : rows) {
        lines.push_back(Cells(row));
    }
    std::array<size_t, ColumnCount> widths = {};
    for (const TableLine& line : lines) {
        for (size_t c = 0; c < ColumnCount; ++c) {
            widths[c] = std::max(widths[c], line[c].size());
        }
    }
    TableLine rule;
    for (size_t c = 0; c < ColumnCount; ++c) {
        rule[c] = std::string(widths[c], '-');
    }
    lines.insert(lines.begin() + 1, rule);
    std::string text;
    for (const TableLine& line : lines) {
        for (size_t c = 0; c < ColumnCount; ++c) {
            text += "| " + line[c] + std::string(widths[c] - line[c].size(), ' ') + " ";
        }
        text += "|\n";
    }
    return text;
}

std::string RunHeading(const RunAccount& run, const RunPlace& place) {
    std::string text = "Run of [" + run.stamp + "]";
    if (!run.version.empty()) {
        text += ", destpick " + run.version;
    }
    return text + ": run " + std::to_string(place.number) + " of " + std::to_string(place.count) +
           " in this log\n";
}

// Said whenever later runs did not finish: the answer shown is then not that of the last run.
std::string UnfinishedNote(const RunPlace& place) {
    if (place.unfinishedAfter == 0) {
        return "";
    }
    const std::string where = "its log ends in " + PhaseName(place.lastUnfinishedPhase);
    // Runs that overlap may have come after the one that did not finish.
    const std::string last = place.overlapsAfter.empty() ? "the last" : "a later";
    if (place.unfinishedAfter == 1) {
        return "Note: " + last + " run in this log, of [" + place.lastUnfinishedStamp +
               "], did not finish (" + where + "); explained here is the last complete run.\n";
    }
    return "Note: the last " + std::to_string(place.unfinishedAfter) +
           " runs in this log did not finish (the last, of [" + place.lastUnfinishedStamp +
           "]: " + where + "); explained here is the last complete run.\n";
}

std::string OverlapNotes(const RunPlace& place) {
    std::string text;
    for (const std::vector<std::string>& group : place.overlapsAfter) {
        text += "Note: " + OverlapText(group) + "; explained here is the last complete run.\n";
    }
    return text;
}

// "[a]", "[a] and [b]", "[a], [b] and [c]".
std::string StampList(const std::vector<std::string>& stamps) {
    std::string text;
    for (size_t i = 0; i < stamps.size(); ++i) {
        text += i == 0 ? "" : i + 1 == stamps.size() ? " and " : ", ";
        text += "[" + stamps[i] + "]";
    }
    return text;
}

std::string OddityLabel(const Oddity& oddity, const std::vector<CandidateRow>& rows) {
    if (oddity.position < 0) {
        return "the run";
    }
    std::string label = "position " + std::to_string(oddity.position);
    for (const CandidateRow& row : rows) {
        if (row.position == oddity.position && row.disk != "-") {
            label += " (disk " + row.disk + ")";
        }
    }
    return label;
}

std::string OdditiesText(const RunExplanation& explanation) {
    if (explanation.oddities.empty()) {
        return "Nothing odd in this run.\n";
    }
    std::string text = "Odd in this run:\n";
    for (const Oddity& oddity : explanation.oddities) {
        text += "- " + OddityLabel(oddity, explanation.rows) + ": " + oddity.text + "\n";
    }
    return text;
}

} // namespace

std::string PhaseName(RunPhase phase) {
    // In the order of RunPhase.
    const char* const names[] = {"the probe", "the weighting", "the pick", "the report"};
    return names[static_cast<size_t>(phase)];
}

std::string OverlapText(const std::vector<std::string>& stamps) {
    if (stamps.size() == 1) {
        return "the run of " + StampList(stamps) +
               " holds lines out of its order, another run's or none of destpick's, so it is "
               "not explained";
    }
    return "the runs of " + StampList(stamps) +
           " overlap: they wrote into this log at the same time and their lines are mixed, so " +
           (stamps.size() == 2 ? "neither" : "none") + " is explained";
}

std::string RenderExplanation(const RunAccount& run, const RunPlace& place,
                              const RunExplanation& explanation) {
    std::string text = RunHeading(run, place) + OverlapNotes(place) + UnfinishedNote(place);
    text += "Answer: " + explanation.answer + "\n" + NumberingLine(run) + "\n";
    if (explanation.rows.empty()) {
        text += run.end == RunEnd::Reported ? "No candidate: the run found no disk.\n"
                                            : "No disk was probed.\n";
    } else {
        text += TableText(explanation.rows);
    }
    return text + "\n" + OdditiesText(explanation);
}
