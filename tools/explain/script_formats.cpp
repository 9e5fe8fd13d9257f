#include "script_formats.h"

#include "log_text.h"
#include "row_text.h"

namespace {

// A table cell as a JSON number: null for "-", "?" and anything else that is no plain integer.
std::string JsonNumberOrNull(const std::string& text) {
    const std::optional<std::int64_t> value = ParseSigned(text);
    return value ? std::to_string(*value) : "null";
}

std::string CandidateJson(const CandidateRow& row) {
    return "{\"position\":" + std::to_string(row.position) +
           ",\"disk\":" + JsonNumberOrNull(row.disk) +
           ",\"bus\":" + JsonString(row.bus == "-" ? "" : row.bus) +
           ",\"speedClass\":" + JsonNumberOrNull(row.speedClass) +
           ",\"sizeGiB\":" + JsonNumberOrNull(row.sizeGiB) + ",\"systemPartition\":" +
           JsonString(row.systemPartition == "-" ? "" : row.systemPartition) +
           ",\"weight\":" + JsonNumberOrNull(row.weight) +
           ",\"verdict\":" + JsonString(row.verdict) + ",\"lostOn\":" + JsonString(row.lostOn) +
           "}";
}

std::string OddityJson(const Oddity& oddity) {
    const std::string position = oddity.position < 0 ? "null" : std::to_string(oddity.position);
    return "{\"position\":" + position + ",\"text\":" + JsonString(oddity.text) + "}";
}

template <typename T, typename F> std::string JsonArray(const std::vector<T>& items, F render) {
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        text += (i > 0 ? "," : "") + render(items[i]);
    }
    return text + "]";
}

// The run's number for --run, or none for a run that is not complete.
std::string CompleteNumber(const RunSummary& run, const std::string& none) {
    return run.completeNumber > 0 ? std::to_string(run.completeNumber) : none;
}

} // namespace

DecisionRow LogDecisionRow(const std::string& logName, const LastCompleteRun& found,
                           const RunExplanation& explanation) {
    DecisionRow row = DecisionRowOfRun(*found.run, explanation);
    row[RowField::File] = logName;
    return row;
}

std::string RunCsv(const DecisionRow& row) {
    return CsvHeader() + CsvLine(row);
}

std::string RunJson(const DecisionRow& row, const LastCompleteRun& found,
                    const RunExplanation& explanation) {
    return "{" + JsonMembers(row) + ",\"stamp\":" + JsonString(found.run->stamp) +
           ",\"version\":" + JsonString(found.run->version) +
           ",\"run\":" + std::to_string(found.place.number) +
           ",\"runs\":" + std::to_string(found.place.count) +
           ",\"answer\":" + JsonString(explanation.answer) +
           ",\"candidates\":" + JsonArray(explanation.rows, CandidateJson) +
           ",\"odd\":" + JsonArray(explanation.oddities, OddityJson) + "}\n";
}

std::string RunListText(const RunList& list) {
    std::string text;
    for (const RunSummary& run : list.runs) {
        const std::string number = CompleteNumber(run, "-");
        text += number + std::string(number.size() < 4 ? 4 - number.size() : 1, ' ') + "[" +
                run.stamp + "] " + (run.version.empty() ? "" : "destpick " + run.version + " ") +
                run.answer + "\n";
    }
    return text;
}

std::string RunListCsv(const RunList& list) {
    std::string text = "run,stamp,version,answer\r\n";
    for (const RunSummary& run : list.runs) {
        text += CompleteNumber(run, "") + "," + CsvField(run.stamp) + "," + CsvField(run.version) +
                "," + CsvField(run.answer) + "\r\n";
    }
    return text;
}

std::string RunListJson(const RunList& list) {
    return "{\"runs\":" +
           JsonArray(list.runs,
                     [](const RunSummary& run) {
                         return "{\"run\":" + CompleteNumber(run, "null") +
                                ",\"stamp\":" + JsonString(run.stamp) +
                                ",\"version\":" + JsonString(run.version) +
                                ",\"answer\":" + JsonString(run.answer) + "}";
                     }) +
           "}\n";
}
