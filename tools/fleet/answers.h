// A machine's answer as a fleet check compares it, and the baseline file that records the answers:
// a line per machine, its description's path (relative to the file's folder, or absolute), blanks
// (a tab or spaces), and its answer. Blank lines and lines starting with # are passed over.
#pragma once

#include <cstdio>
#include <map>
#include <optional>
#include <string>

// The answer of a run: its disk number as destpick printed it, UNKNOWN, or none for a run that
// printed no destination.
std::string AnswerOf(const std::string& standardOutput);
// An answer as a baseline may spell it: the disk number, \\.\PHYSICALDRIVE<n> or
// Destination=\\.\PHYSICALDRIVE<n>, UNKNOWN or Destination=UNKNOWN, or none; in the form AnswerOf
// gives. Nothing for any other text, a number beyond 32 bits among them.
std::optional<std::string> CanonicalAnswer(const std::string& text);

// A path as the baseline compares it: absolute, with symbolic links and dot folders resolved.
std::string ComparablePath(const std::string& path);

struct ExpectedAnswer {
    std::string answer;
    std::string file; // as the line names it
    int line = 0;
    bool seen = false;
};

// The expected answers by comparable path, or the error that names the line at fault.
struct Baseline {
    std::map<std::string, ExpectedAnswer> answers;
    std::string error;
};

Baseline ReadBaseline(const std::string& fileName);

// The line for one machine: its path relative to the baseline's folder, a tab and its answer.
// Nothing for a path that no line can carry (a line break in it).
std::optional<std::string> BaselineLine(const std::string& baselineFolder,
                                        const std::string& machineFile, const std::string& answer);
