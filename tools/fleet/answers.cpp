#include "answers.h"

#include "log/log_texts.h"
#include "log_text.h"
#include "sim/text.h"

#include <cstdint>
#include <filesystem>
#include <fstream>

namespace {

// The answer's pieces as the system prints them: "Destination=", then the drive's path and
// number or the word for no disk.
struct AnswerTexts {
    std::string opening;
    std::string drive;
    std::string none;
};

const AnswerTexts& Answer() {
    static const AnswerTexts texts = [] {
        const std::string none = sim::ToUtf8(NoDestinationAnswer);
        const size_t opening = none.find('=') + 1;
        return AnswerTexts{none.substr(0, opening),
                           FormatPieces(ReportedDriveAnswer)[0].substr(opening),
                           none.substr(opening)};
    }();
    return texts;
}

// "%d" of a device number: an optional minus and up to ten digits within 32 bits.
std::optional<std::string> DiskNumber(const std::string& text) {
    const size_t digits = text.size() - (StartsWith(text, "-") ? 1 : 0);
    if (digits == 0 || digits > 10 ||
        text.find_first_not_of("0123456789", text.size() - digits) != std::string::npos) {
        return std::nullopt;
    }
    const std::int64_t value = std::stoll(text);
    if (value < INT32_MIN || value > INT32_MAX) {
        return std::nullopt;
    }
    return std::to_string(value);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Folder(const std::string& fileName) {
    const std::filesystem::path parent = std::filesystem::path(fileName).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// The line without its line end; its file and answer split at the last blanks, so that a path
// may hold blanks of its own.
bool SplitLine(const std::string& line, std::string* file, std::string* answer) {
    size_t end = line.size();
    while (end > 0 && IsBlank(line[end - 1])) {
        --end;
    }
    size_t answerStart = end;
    while (answerStart > 0 && !IsBlank(line[answerStart - 1])) {
        --answerStart;
    }
    size_t fileEnd = answerStart;
    while (fileEnd > 0 && IsBlank(line[fileEnd - 1])) {
        --fileEnd;
    }
    if (fileEnd == 0 || fileEnd == answerStart) {
        return false;
    }
    *file = line.substr(0, fileEnd);
    *answer = line.substr(answerStart, end - answerStart);
    return true;
}

bool IsSkipped(const std::string& line) {
    const size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos || line[first] == '#';
}

std::string LineError(const std::string& fileName, int number, const std::string& what) {
    return fileName + ":" + std::to_string(number) + ": " + what;
}

} // namespace

std::string AnswerOf(const std::string& standardOutput) {
    if (!StartsWith(standardOutput, Answer().opening)) {
        return "none";
    }
    return CanonicalAnswer(standardOutput).value_or("none");
}

std::optional<std::string> CanonicalAnswer(const std::string& text) {
    const std::string& opening = Answer().opening;
    std::string rest = StartsWith(text, opening) ? text.substr(opening.size()) : text;
    if (rest == Answer().none || (rest == "none" && rest.size() == text.size())) {
        return rest;
    }
    if (StartsWith(rest, Answer().drive)) {
        return DiskNumber(rest.substr(Answer().drive.size()));
    }
    return rest.size() == text.size() ? DiskNumber(rest) : std::nullopt;
}

std::string ComparablePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    return (error ? absolute.lexically_normal() : resolved).string();
}

Baseline ReadBaseline(const std::string& fileName) {
    Baseline baseline;
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        baseline.error = fileName + ": cannot be read";
        return baseline;
    }
    const std::filesystem::path folder = Folder(fileName);
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (IsSkipped(line)) {
            continue;
        }
        std::string machine;
        std::string answerText;
        std::optional<std::string> answer;
        if (!SplitLine(line, &machine, &answerText) || !(answer = CanonicalAnswer(answerText))) {
            baseline.error = LineError(fileName, number,
                                       "not \"description answer\" with an answer of a disk "
                                       "number, \\\\.\\PHYSICALDRIVE<n>, UNKNOWN or none: " +
                                           line);
            return baseline;
        }
        const std::filesystem::path path = machine;
        const std::string key =
            ComparablePath((path.is_absolute() ? path : folder / path).string());
        const auto [listed, added] =
            baseline.answers.emplace(key, ExpectedAnswer{*answer, machine, number});
        if (!added) {
            baseline.error = LineError(fileName, number,
                                       machine + " is listed already, on line " +
                                           std::to_string(listed->second.line));
            return baseline;
        }
    }
    if (file.bad()) {
        baseline.error = fileName + ": cannot be read to its end";
    }
    return baseline;
}

std::optional<std::string> BaselineLine(const std::string& baselineFolder,
                                        const std::string& machineFile, const std::string& answer) {
    std::string path = std::filesystem::path(ComparablePath(machineFile))
                           .lexically_relative(ComparablePath(baselineFolder))
                           .string();
    if (path.empty() || path.find_first_of("\r\n") != std::string::npos) {
        return std::nullopt;
    }
    // A name that starts with a blank or # would read back as something else.
    if (IsBlank(path[0]) || path[0] == '#') {
        path = "./" + path;
    }
    return path + "\t" + answer + "\n";
}
