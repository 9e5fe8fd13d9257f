// The whole explanation of a destpick log: the last complete run in it, as text for a console.
#pragma once

#include "explanation_text.h"
#include "run_account.h"

#include <istream>
#include <optional>
#include <string>

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

ExplainResult ExplainLog(std::istream& log);
