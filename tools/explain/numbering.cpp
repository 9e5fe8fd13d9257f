#include "numbering.h"

#include "arrivals.h"
#include "log_text.h"

#include <optional>
#include <vector>

namespace {

// A weighed candidate as its block logged it. What it weighs under another disk's number is its
// own terms but the device-number term, plus that disk's device-number term.
struct LoggedCandidate {
    int position;
    std::string path;
    std::uint32_t number;
    std::int64_t orderTerm;
    std::int64_t otherTerms; // the weight without the device-number term
    std::int64_t speed;
    std::int64_t size;
    std::int64_t sysDisk;
};

std::optional<std::int64_t> Term(const CandidateBlock& block, const std::string& name) {
    const auto field = block.fields.find(name);
    if (field == block.fields.end()) {
        return std::nullopt;
    }
    // Logged as "%I64u": a negative term shows as its two's complement.
    const std::optional<std::uint64_t> value = ParseUnsigned(field->second);
    return value ? std::optional<std::int64_t>(static_cast<std::int64_t>(*value)) : std::nullopt;
}

std::optional<LoggedCandidate> ReadCandidate(int position, const CandidateBlock& block) {
    const auto path = block.fields.find("Path");
    const auto number = Term(block, "Order");
    const auto order = Term(block, "weight_order");
    const auto weight = Term(block, "Weight");
    const auto speed = Term(block, "weight_speed");
    const auto size = Term(block, "weight_size");
    const auto sysDisk = Term(block, "weight_SysDisk");
    if (!block.exclusion.empty() || path == block.fields.end() || !number || *number < 0 ||
        *number > 0x7FFFFFFF || !order || !weight || !speed || !size || !sysDisk) {
        return std::nullopt;
    }
    const std::int64_t others = static_cast<std::int64_t>(static_cast<std::uint64_t>(*weight) -
                                                          static_cast<std::uint64_t>(*order));
    return LoggedCandidate{position, path->second, static_cast<std::uint32_t>(*number),
                           *order,   others,       *speed,
                           *size,    *sysDisk};
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
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(candidate.otherTerms) +
                                     static_cast<std::uint64_t>(numberOf.orderTerm));
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
        const bool heavier = chosen < 0 ? weight >= 1
                                        : weight > chosenWeight || (weight == chosenWeight &&
                                                                    slot.position > chosenPosition);
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
            (runnerUp < 0 || weight >= WeightUnder(candidates[static_cast<size_t>(runnerUp)],
                                                   candidates[static_cast<size_t>(runnerUp)]))) {
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
    const std::string differ = chosen.orderTerm == runnerUp.orderTerm
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
        if (a.speed == b.speed && a.size == b.size && a.sysDisk == b.sysDisk) {
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
