#include "numbering_verdict.h"

#include <algorithm>

namespace stability {

namespace {

// Every verdict and the word for it, in the order of their declaration.
struct VerdictName {
    Verdict verdict;
    const char* word;
};
const VerdictName kVerdicts[] = {{Verdict::Stable, "stable"},
                                 {Verdict::DependsOnNumbering, "depends-on-numbering"},
                                 {Verdict::UnknownUnderSome, "unknown-under-some"}};

std::string NumbersText(const std::vector<std::uint32_t>& numbers) {
    std::string text;
    for (std::size_t k = 0; k < numbers.size(); ++k) {
        if (k > 0) {
            text += k + 1 == numbers.size() ? " or " : ", ";
        }
        text += std::to_string(numbers[k]);
    }
    return text;
}

// The interface path; a disk whose path could not be read still has a name.
std::string DiskName(const PossibleDisk& disk) {
    return disk.path.empty() ? "(no interface path)" : disk.path;
}

} // namespace

const char* VerdictWord(Verdict verdict) {
    for (const VerdictName& named : kVerdicts) {
        if (named.verdict == verdict) {
            return named.word;
        }
    }
    return "";
}

std::string DescribeArrivals(const NumberingVerdict& verdict) {
    return "(candidates: " + std::to_string(verdict.candidates) +
           ", arrivals tried: " + std::to_string(verdict.arrivals) +
           (verdict.sampled ? ", sampled)" : ")");
}

void ArrivalTally::Chose(std::size_t position, const std::string& path, std::uint32_t number) {
    ++arrivals_;
    auto disk = std::find_if(disks_.begin(), disks_.end(),
                             [position](const PossibleDisk& d) { return d.position == position; });
    if (disk == disks_.end()) {
        disk = disks_.insert(disks_.end(), PossibleDisk{position, path, {}, 0});
    }
    ++disk->arrivals;
    const auto place = std::lower_bound(disk->numbers.begin(), disk->numbers.end(), number);
    if (place == disk->numbers.end() || *place != number) {
        disk->numbers.insert(place, number);
    }
}

void ArrivalTally::ChoseNone() {
    ++arrivals_;
    ++noDiskArrivals_;
}

NumberingVerdict ArrivalTally::Result(std::size_t candidates, bool sampled) const {
    NumberingVerdict result;
    result.sampled = sampled;
    result.candidates = candidates;
    result.arrivals = arrivals_;
    result.noDiskArrivals = noDiskArrivals_;
    result.disks = disks_;
    if (disks_.size() > 1) {
        result.verdict = Verdict::DependsOnNumbering;
    } else if (disks_.size() == 1 && noDiskArrivals_ > 0) {
        result.verdict = Verdict::UnknownUnderSome;
    }
    return result;
}

NumberingVerdict NoAnswerVerdict() {
    NumberingVerdict result;
    result.noAnswer = true;
    return result;
}

std::string DescribeAnswers(const NumberingVerdict& verdict) {
    if (verdict.noAnswer) {
        return "no answer under any numbering (the run ends before the weighting)";
    }
    std::string parts;
    for (const PossibleDisk& disk : verdict.disks) {
        parts +=
            (parts.empty() ? "" : ", ") + DiskName(disk) + " as disk " + NumbersText(disk.numbers);
    }
    if (verdict.noDiskArrivals > 0) {
        const std::string unknown = verdict.noDiskArrivals == verdict.arrivals
                                        ? "UNKNOWN"
                                        : "UNKNOWN under " + std::to_string(verdict.noDiskArrivals);
        parts += (parts.empty() ? "" : ", ") + unknown;
    }
    return parts + " " + DescribeArrivals(verdict);
}

std::string DescribeVerdict(const NumberingVerdict& verdict) {
    return std::string(VerdictWord(verdict.verdict)) + ": " + DescribeAnswers(verdict);
}

void VerdictCounts::Add(Verdict verdict) {
    ++counts_[static_cast<std::size_t>(verdict)];
}

bool VerdictCounts::AddWord(const std::string& word) {
    for (const VerdictName& named : kVerdicts) {
        if (word == named.word) {
            Add(named.verdict);
            return true;
        }
    }
    return false;
}

std::string VerdictCounts::Text() const {
    std::string text;
    for (const VerdictName& named : kVerdicts) {
        text += (text.empty() ? "" : ", ") +
                std::to_string(counts_[static_cast<std::size_t>(named.verdict)]) + " " + named.word;
    }
    return text;
}

} // namespace stability
