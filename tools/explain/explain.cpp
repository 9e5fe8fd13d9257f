#include "explain.h"

#include "log_entries.h"
#include "verdicts.h"

namespace {

// The log's runs as they go by; only the wanted complete one (the last for 0) and what came
// after it are kept, and each run's summary when a list is asked for.
struct LogRuns {
    int wanted = 0;
    std::vector<RunSummary>* summaries = nullptr;
    bool anyEntry = false;
    int blanks = 0; // blank entries since the last line with text
    int completeCount = 0;
    std::optional<RunAccount> current;
    std::optional<RunAccount> lastComplete;
    RunPlace place;
};

void Summarize(const RunAccount& run, int completeNumber, std::vector<RunSummary>* summaries) {
    const std::string answer = completeNumber > 0
                                   ? ExplainRun(run).answer
                                   : "did not finish: its log ends in " + PhaseName(run.phase);
    summaries->push_back({run.stamp, run.version, completeNumber, answer});
}

void CloseRun(LogRuns* runs) {
    if (!runs->current) {
        return;
    }
    const bool complete = runs->current->end != RunEnd::Unfinished;
    runs->completeCount += complete ? 1 : 0;
    if (runs->summaries != nullptr) {
        Summarize(*runs->current, complete ? runs->completeCount : 0, runs->summaries);
    }
    if (complete && (runs->wanted == 0 || runs->wanted == runs->completeCount)) {
        runs->lastComplete = std::move(runs->current);
        runs->place.number = runs->place.count;
        runs->place.unfinishedAfter = 0;
    } else if (!complete) {
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

// Reads the whole log into runs; a failure's exit code and line when it holds no run to explain.
std::optional<LastCompleteRun> ReadRuns(std::istream& log, LogRuns& runs) {
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
    return std::nullopt;
}

} // namespace

LastCompleteRun FindCompleteRun(std::istream& log, int wanted) {
    LogRuns runs;
    runs.wanted = wanted;
    if (std::optional<LastCompleteRun> failure = ReadRuns(log, runs)) {
        return std::move(*failure);
    }
    if (wanted > 0 && !runs.lastComplete) {
        return Failure(NoCompleteRun,
                       "no complete run " + std::to_string(wanted) + ": the log holds " +
                           std::to_string(runs.completeCount) + " complete run" +
                           (runs.completeCount == 1 ? "" : "s"),
                       runs);
    }
    if (wanted > 0) {
        runs.place.unfinishedAfter = 0;
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

LastCompleteRun FindLastCompleteRun(std::istream& log) {
    return FindCompleteRun(log, 0);
}

RunList ListRuns(std::istream& log) {
    RunList list{Explained, "", {}};
    LogRuns runs;
    runs.summaries = &list.runs;
    if (std::optional<LastCompleteRun> failure = ReadRuns(log, runs)) {
        return {failure->status, failure->error, {}};
    }
    return list;
}

ExplainResult ExplainLog(std::istream& log) {
    const LastCompleteRun found = FindLastCompleteRun(log);
    if (found.status != Explained) {
        return {found.status, "", found.error};
    }
    return {Explained, RenderExplanation(*found.run, found.place, ExplainRun(*found.run)), ""};
}
