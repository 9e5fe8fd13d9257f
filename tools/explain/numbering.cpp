#include "numbering.h"

#include "arrivals.h"
#include "log_text.h"
#include "selection/weight_scale.h"

#include <optional>
#include <vector>

namespace {

// A weighed candidate as its block logged it. What it weighs under another disk's number is its
// own terms but the device-number term, plus that disk's device-number term.
struct LoggedCandidate {
    int position;
    std::string path;
    std::uint32_t number;
    Terms terms;
};

std::optional<LoggedCandidate> ReadCandidate(int position, const CandidateBlock& block) {
    const std::optional<std::string> path = block.Field(DrivePath);
    const std::optional<std::uint64_t> number = ParseUnsigned(block.Field(DriveOrder).value_or(""));
    const std::optional<Terms> terms = LoggedTerms(block);
    if (!block.exclusion.empty() || !path || !number || *number > 0x7FFFFFFF || !terms) {
        return std::nullopt;
    }
    return LoggedCandidate{position, *path, static_cast<std::uint32_t>(*number), *terms};
}

std::vector<LoggedCandidate> WeighedCandidates(const RunAccount& run) {
    std::vector<LoggedCandidate> candidates;
    for (const auto& [position, block] : run.candidates) {
        const std::optional<LoggedCandidate> candidate = ReadCandidate(position, block);
        if (candidate) {
            candidates.push_back(*candidate);
        }
    }
    return candidates;
}

std::int64_t WeightUnder(const LoggedCandidate& candidate, const LoggedCandidate& numberOf) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(candidate.terms.weight) -
                                     static_cast<std::uint64_t>(candidate.terms.order) +
                                     static_cast<std::uint64_t>(numberOf.terms.order));
}

// The pick as the log shows it made: the heaviest weight of at least 1, the later position on a
// tie. The index of the chosen candidate, or -1.
int PickUnder(const std::vector<LoggedCandidate>& candidates, const stability::Arrival& arrival) {
    int chosen = -1;
    std::int64_t chosenWeight = 0;
    int chosenPosition = -1;
    for (size_t j = 0; j < candidates.size(); ++j) {
        const LoggedCandidate& slot = candidates[arrival[j]];
        const std::int64_t weight = WeightUnder(candidates[j], slot);
        // The pick meets the slots in their order: the later one must reach the earlier's weight.
        const bool heavier = chosen < 0                       ? TakesThePick(weight, LightestPick)
                             : slot.position > chosenPosition ? TakesThePick(weight, chosenWeight)
                                                              : !TakesThePick(chosenWeight, weight);
        if (heavier) {
            chosen = static_cast<int>(j);
            chosenWeight = weight;
            chosenPosition = slot.position;
        }
    }
    return chosen;
}

stability::NumberingVerdict JudgeCandidates(const std::vector<LoggedCandidate>& candidates) {
    stability::ArrivalTally tally;
    const bool sampled =
        stability::ForEachArrival(candidates.size(), [&](const stability::Arrival& arrival) {
            const int chosen = PickUnder(candidates, arrival);
            if (chosen < 0) {
                tally.ChoseNone();
            } else {
                const LoggedCandidate& disk = candidates[static_cast<size_t>(chosen)];
                tally.Chose(static_cast<size_t>(disk.position), disk.path,
                            candidates[arrival[static_cast<size_t>(chosen)]].number);
            }
        });
    return tally.Result(candidates.size(), sampled);
}

// The candidate the pick would choose without the chosen one, whatever its weight; -1 for none.
int RunnerUp(const std::vector<LoggedCandidate>& candidates, int chosen) {
    int runnerUp = -1;
    for (size_t j = 0; j < candidates.size(); ++j) {
        const LoggedCandidate& c = candidates[j];
        const std::int64_t weight = WeightUnder(c, c);
        if (static_cast<int>(j) != chosen &&
            (runnerUp < 0 ||
             TakesThePick(weight, WeightUnder(candidates[static_cast<size_t>(runnerUp)],
                                              candidates[static_cast<size_t>(runnerUp)])))) {
            runnerUp = static_cast<int>(j);
        }
    }
    return runnerUp;
}

int IndexAt(const std::vector<LoggedCandidate>& candidates, int position) {
    for (size_t j = 0; j < candidates.size(); ++j) {
        if (candidates[j].position == position) {
            return static_cast<int>(j);
        }
    }
    return -1;
}

std::string DiskText(const LoggedCandidate& candidate) {
    return "disk " + std::to_string(candidate.number) + " (" + candidate.path + ")";
}

// Said when the chosen disk and the runner-up weigh the same but for the device-number term:
// swapping their numbers and positions swaps the answer.
std::string RestsOnNumbering(const LoggedCandidate& chosen, const LoggedCandidate& runnerUp) {
    const std::string differ = chosen.terms.order == runnerUp.terms.order
                                   ? "tie and differ only in their positions (the later wins)"
                                   : "differ only in their device numbers";
    return "The decision rests on the numbering: the chosen " + DiskText(chosen) +
           " and the runner-up " + DiskText(runnerUp) + " " + differ +
           "; another boot may number them the other way and choose " + runnerUp.path + ".";
}

std::string Sentence(const std::vector<LoggedCandidate>& candidates,
                     const stability::NumberingVerdict& verdict, const RunAccount& run) {
    if (verdict.noAnswer) {
        return "Nothing in the decision depends on the numbering: the run ends without an answer "
               "under any numbering.";
    }
    if (verdict.verdict == stability::Verdict::Stable) {
        return "Nothing in the decision depends on the numbering " +
               stability::DescribeArrivals(verdict) + ".";
    }
    const int chosen = run.picked ? IndexAt(candidates, *run.picked) : -1;
    const int runnerUp = chosen >= 0 ? RunnerUp(candidates, chosen) : -1;
    if (runnerUp >= 0) {
        const LoggedCandidate& a = candidates[static_cast<size_t>(chosen)];
        const LoggedCandidate& b = candidates[static_cast<size_t>(runnerUp)];
        if (a.terms.speed == b.terms.speed && a.terms.size == b.terms.size &&
            a.terms.sysDisk == b.terms.sysDisk) {
            return RestsOnNumbering(a, b);
        }
    }
    return "Under another numbering the pick may answer otherwise: " +
           stability::DescribeAnswers(verdict) + ".";
}

} // namespace

NumberingAccount JudgeNumbering(const RunAccount& run) {
    if (run.end != RunEnd::Reported) {
        const stability::NumberingVerdict verdict = stability::NoAnswerVerdict();
        return {verdict, Sentence({}, verdict, run)};
    }
    const std::vector<LoggedCandidate> candidates = WeighedCandidates(run);
    const stability::NumberingVerdict verdict = JudgeCandidates(candidates);
    return {verdict, Sentence(candidates, verdict, run)};
}

std::string NumberingLine(const RunAccount& run) {
    const NumberingAccount account = JudgeNumbering(run);
    return std::string("Numbering: ") + stability::VerdictWord(account.verdict.verdict) + ". " +
           account.sentence + "\n";
}
