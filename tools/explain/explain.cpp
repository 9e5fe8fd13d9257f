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

// The log's runs as they go by; only the last complete one and what came after it are kept.
struct LogRuns {
    bool anyEntry = false;
    int blanks = 0; // blank entries no banner has claimed yet
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

void CloseRun(LogRuns* runs) {
    if (!runs->current) {
        return;
    }
    const RunAccount& run = *runs->current;
    if (runs->order.broken) {
        JoinOverlap(runs, run.stamp);
        runs->before = Before::Mixed;
    } else {
        if (runs->before == Before::Unfinished) {
            CountUnfinished(runs, runs->beforeStamp, runs->beforePhase);
        }
        runs->before = Before::Settled;
        if (run.end != RunEnd::Unfinished) {
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

} // namespace

LastCompleteRun FindLastCompleteRun(std::istream& log) {
    LogRuns runs;
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

ExplainResult ExplainLog(std::istream& log) {
    const LastCompleteRun found = FindLastCompleteRun(log);
    if (found.status != Explained) {
        return {found.status, "", found.error};
    }
    return {Explained, RenderExplanation(*found.run, found.place, ExplainRun(*found.run)), ""};
}
