#include "explain.h"

#include "log_entries.h"
#include "verdicts.h"

namespace {

// The log's runs as they go by; only the last complete one and what came after it are kept.
struct LogRuns {
    bool anyEntry = false;
    int blanks = 0; // blank entries since the last line with text
    std::optional<RunAccount> current;
    std::optional<RunAccount> lastComplete;
    RunPlace place;
};

void CloseRun(LogRuns* runs) {
    if (!runs->current) {
        return;
    }
    if (runs->current->end != RunEnd::Unfinished) {
        runs->lastComplete = std::move(runs->current);
        runs->place.number = runs->place.count;
        runs->place.unfinishedAfter = 0;
    } else {
        ++runs->place.unfinishedAfter;
        runs->place.lastUnfinishedStamp = runs->current->stamp;
        runs->place.lastUnfinishedPhase = runs->current->phase;
    }
    runs->current.reset();
}

void TakeEntry(LogRuns* runs, const LogEntry& entry) {
    runs->anyEntry = true;
    if (entry.message.empty()) {
        ++runs->blanks;
        return;
    }
    if (IsRunHeader(entry.message, runs->blanks)) {
        CloseRun(runs);
        ++runs->place.count;
        runs->current = RunAccount();
        runs->current->stamp = entry.stamp;
    } else if (runs->current) {
        AddRunEntry(&*runs->current, entry.message, runs->blanks);
    }
    runs->blanks = 0;
}

LastCompleteRun Failure(ExplainExitCode code, const std::string& error, const LogRuns& runs) {
    return {code, error, std::nullopt, runs.place};
}

} // namespace

LastCompleteRun FindLastCompleteRun(std::istream& log) {
    LogRuns runs;
    const bool read =
        ReadLogEntries(log, [&runs](const LogEntry& entry) { TakeEntry(&runs, entry); });
    CloseRun(&runs);
    if (!read) {
        return Failure(LogUnreadable, "the log cannot be read to its end", runs);
    }
    if (!runs.anyEntry) {
        return Failure(NotDestpickLog,
                       "not a destpick log: no line starts with a "
                       "[YYYY.MM.DD-hh:mm:ss] time stamp",
                       runs);
    }
    if (runs.place.count == 0) {
        return Failure(NotDestpickLog,
                       "not a destpick log: no run starts in it (no \" --- "
                       "Collecting Information\" line)",
                       runs);
    }
    if (!runs.lastComplete) {
        const std::string stop = "stops in " + PhaseName(runs.place.lastUnfinishedPhase);
        return Failure(NoCompleteRun,
                       runs.place.count == 1
                           ? "no complete run: its one run " + stop + ", before any answer"
                           : "no complete run: none of its " + std::to_string(runs.place.count) +
                                 " runs finished, the last " + stop,
                       runs);
    }
    return {Explained, "", std::move(runs.lastComplete), runs.place};
}

ExplainResult ExplainLog(std::istream& log) {
    const LastCompleteRun found = FindLastCompleteRun(log);
    if (found.status != Explained) {
        return {found.status, "", found.error};
    }
    return {Explained, RenderExplanation(*found.run, found.place, ExplainRun(*found.run)), ""};
}
