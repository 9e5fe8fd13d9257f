#include "explain.h"

#include "log_entries.h"
#include "run_order.h"
#include "verdicts.h"

#include <algorithm>

namespace {

// Runs that write at the same time leave the blank entries of several banners unclaimed for a
// while; more than this many is no log destpick wrote.
const int MaxUnclaimedBlanks = 16;

// The run before the current one, while its fate hangs on the current run: one that had not
// ended when the current one began was cut short if the current run's lines are all in order,
// and overlaps it if they are not.
enum class Before { Settled, Unfinished, Mixed };

// The log's runs as they go by; only the wanted complete one (the last for 0) and what came
// after it are kept, and each run's summary when a list is asked for.
struct LogRuns {
    int wanted = 0;
    std::vector<RunSummary>* summaries = nullptr;
    bool anyEntry = false;
    int blanks = 0; // blank entries no banner has claimed yet
    int completeCount = 0;
    std::optional<RunAccount> current;
    RunOrder order; // the current run's
    Before before = Before::Settled;
    std::string beforeStamp;
    RunPhase beforePhase = RunPhase::Probe;
    std::optional<RunAccount> lastComplete;
    RunPlace place;
};

void CountUnfinished(LogRuns* runs, const std::string& stamp, RunPhase phase) {
    ++runs->place.unfinishedAfter;
    runs->place.lastUnfinishedStamp = stamp;
    runs->place.lastUnfinishedPhase = phase;
}

// A run whose lines are mixed with another's joins the runs it overlaps: the one before it when
// that had not ended, or the group that one belongs to.
void JoinOverlap(LogRuns* runs, const std::string& stamp) {
    std::vector<std::vector<std::string>>& groups = runs->place.overlapsAfter;
    if (runs->before == Before::Mixed && !groups.empty()) {
        groups.back().push_back(stamp);
        return;
    }
    groups.emplace_back();
    if (runs->before == Before::Unfinished) {
        groups.back().push_back(runs->beforeStamp);
    }
    groups.back().push_back(stamp);
}

// A run's line in a list of runs: its answer when it is explained, else why it is not.
void Summarize(const LogRuns& runs, const RunAccount& run, int completeNumber) {
    if (runs.summaries == nullptr) {
        return;
    }
    std::string answer;
    if (runs.order.broken) {
        answer = "not explained: its lines are mixed with another run's";
    } else if (completeNumber > 0) {
        answer = ExplainRun(run).answer;
    } else {
        answer = "did not finish: its log ends in " + PhaseName(run.phase);
    }
    runs.summaries->push_back({run.stamp, run.version, completeNumber, answer});
}

void CloseRun(LogRuns* runs) {
    if (!runs->current) {
        return;
    }
    const RunAccount& run = *runs->current;
    const bool complete = !runs->order.broken && run.end != RunEnd::Unfinished;
    runs->completeCount += complete ? 1 : 0;
    Summarize(*runs, run, complete ? runs->completeCount : 0);
    if (runs->order.broken) {
        JoinOverlap(runs, run.stamp);
        runs->before = Before::Mixed;
    } else {
        if (runs->before == Before::Unfinished) {
            CountUnfinished(runs, runs->beforeStamp, runs->beforePhase);
        }
        runs->before = Before::Settled;
        if (complete) {
            if (runs->wanted != 0 && runs->wanted != runs->completeCount) {
                runs->current.reset();
                return;
            }
            runs->lastComplete = std::move(runs->current);
            runs->place.number = runs->place.count;
            runs->place.unfinishedAfter = 0;
            runs->place.overlapsAfter.clear();
        } else {
            runs->before = Before::Unfinished;
            runs->beforeStamp = run.stamp;
            runs->beforePhase = run.phase;
        }
    }
    runs->current.reset();
}

void CloseLog(LogRuns* runs) {
    CloseRun(runs);
    if (runs->before == Before::Unfinished) {
        CountUnfinished(runs, runs->beforeStamp, runs->beforePhase);
    }
}

// The banner the message stands for: a banner's text counts as one only when the blank entries
// written before it are there. Entries of runs that write at the same time may come between.
BannerText ClaimBanner(LogRuns* runs, const std::string& message) {
    const BannerText banner = BannerOf(message);
    const int blanks = BlanksBefore(banner.kind);
    if (banner.kind == Banner::None || runs->blanks < blanks) {
        return BannerText();
    }
    runs->blanks -= blanks;
    return banner;
}

void TakeEntry(LogRuns* runs, const LogEntry& entry) {
    runs->anyEntry = true;
    if (entry.message.empty()) {
        runs->blanks = std::min(runs->blanks + 1, MaxUnclaimedBlanks);
        return;
    }
    const BannerText banner = ClaimBanner(runs, entry.message);
    if (banner.kind == Banner::Run) {
        CloseRun(runs);
        ++runs->place.count;
        runs->current = RunAccount();
        runs->current->stamp = entry.stamp;
        runs->order = RunOrder();
    } else if (runs->current) {
        FollowsInOrder(&runs->order, entry.message, banner);
        AddRunEntry(&*runs->current, entry.message, banner);
    }
}

LastCompleteRun Failure(ExplainExitCode code, const std::string& error, const LogRuns& runs) {
    return {code, error, std::nullopt, runs.place};
}

// Reads the whole log into runs; a failure's exit code and line when it holds no run to explain.
std::optional<LastCompleteRun> ReadRuns(std::istream& log, LogRuns& runs) {
    const bool read =
        ReadLogEntries(log, [&runs](const LogEntry& entry) { TakeEntry(&runs, entry); });
    CloseLog(&runs);
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
        // The notes on later runs belong to the last complete run alone.
        runs.place.unfinishedAfter = 0;
        runs.place.overlapsAfter.clear();
    }
    if (!runs.lastComplete && !runs.place.overlapsAfter.empty()) {
        return Failure(NoCompleteRun,
                       "no complete run: " + OverlapText(runs.place.overlapsAfter.back()), runs);
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
