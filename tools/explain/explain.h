// The whole explanation of a destpick log: the last complete run in it, as text for a console.
#pragma once

#include "explanation_text.h"
#include "run_account.h"

#include <istream>
#include <optional>
#include <string>
#include <vector>

enum ExplainExitCode {
    Explained = 0,
    WrongArguments = 1,
    LogUnreadable = 2,
    NotDestpickLog = 3,
    NoCompleteRun = 4,
};

struct ExplainResult {
    ExplainExitCode exitCode;
    std::string output; // the explanation, for standard output
    std::string error;  // one line for standard error when there is no explanation
};

// The run to explain: the last one in the log that came to an end with all its lines in their
// order (RunOrder), and its place among the log's runs. Without one, the exit code that says why
// and the line that tells it.
struct LastCompleteRun {
    ExplainExitCode status;
    std::string error;
    std::optional<RunAccount> run;
    RunPlace place;
};

LastCompleteRun FindLastCompleteRun(std::istream& log);
// The wanted-th complete run of the log, counted from 1 in the log's order; 0 for the last one.
// The note on later runs that did not finish belongs to the last complete run alone.
LastCompleteRun FindCompleteRun(std::istream& log, int wanted);

// One run of the log as a list of runs shows it.
struct RunSummary {
    std::string stamp;
    std::string version;
    int completeNumber = 0; // its number among the complete runs (the N of --run N); 0: unfinished
    std::string answer;     // the explanation's answer, or where an unfinished run's log ends
};

struct RunList {
    ExplainExitCode status;
    std::string error;
    std::vector<RunSummary> runs;
};

RunList ListRuns(std::istream& log);
