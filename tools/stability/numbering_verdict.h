// Whether a decision would hold on a boot that numbers the same disks another way: the disks the
// pick chose across the arrivals tried, and the verdict they add up to. Plain C++, shared by the
// tools that judge a decision from a description and from a log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stability {

enum class Verdict {
    Stable,             // the same disk, or no disk, under every arrival
    DependsOnNumbering, // different disks under different arrivals
    UnknownUnderSome,   // one disk under some arrivals, no disk under others
};

// "stable", "depends-on-numbering", "unknown-under-some": the words of the tools' columns.
const char* VerdictWord(Verdict verdict);

// A disk the pick may choose: the interface at that position on the boot judged, named by its
// path as the run read it. Disks are told apart by their interfaces, not by their paths, so that
// two whose paths read the same (cut to the record's length, or unreadable) are never one.
struct PossibleDisk {
    std::size_t position = 0;
    std::string path;
    std::vector<std::uint32_t> numbers; // the device numbers it is chosen under, ascending
    std::size_t arrivals = 0;           // the arrivals it is chosen under
};

struct NumberingVerdict {
    Verdict verdict = Verdict::Stable;
    bool noAnswer = false; // the run ends without an answer, whatever the numbering
    bool sampled = false;
    std::size_t candidates = 0;      // the disks whose numbers and positions were permuted
    std::size_t arrivals = 0;        // the arrivals tried
    std::size_t noDiskArrivals = 0;  // those under which no disk qualified
    std::vector<PossibleDisk> disks; // the original arrival's disk first
};

// The arrivals' picks, one at a time, the original arrival first.
class ArrivalTally {
  public:
    void Chose(std::size_t position, const std::string& path, std::uint32_t number);
    void ChoseNone();
    // Several disks make the verdict depends-on-numbering even where some arrivals choose none:
    // a wrong disk is the worse outcome for an imaging step.
    NumberingVerdict Result(std::size_t candidates, bool sampled) const;

  private:
    std::vector<PossibleDisk> disks_;
    std::size_t arrivals_ = 0;
    std::size_t noDiskArrivals_ = 0;
};

// The verdict of a run that ends before the weighting (a layout the probe gives up on, records
// that cannot be allocated): it ends so under every numbering, as the disk that stops it keeps its
// answers whatever its number.
NumberingVerdict NoAnswerVerdict();

// "(candidates: 8, arrivals tried: 2029, sampled)"; without "sampled" when every arrival was tried.
std::string DescribeArrivals(const NumberingVerdict& verdict);

// The disks with the device numbers under which each is chosen, and the arrivals tried, e.g.
// "\\?\a as disk 0 or 1, \\?\b as disk 0 or 1 (candidates: 2, arrivals tried: 2)".
std::string DescribeAnswers(const NumberingVerdict& verdict);

// One line: the word, then the answers, e.g. "depends-on-numbering: \\?\a as disk 0 or 1, ...".
std::string DescribeVerdict(const NumberingVerdict& verdict);

// How many machines got each verdict, for a fleet's summary.
class VerdictCounts {
  public:
    void Add(Verdict verdict);
    // A row's word; false, and nothing counted, for any other text (a refused description's none).
    bool AddWord(const std::string& word);
    // "1977 stable, 23 depends-on-numbering, 0 unknown-under-some"
    std::string Text() const;

  private:
    std::size_t counts_[3] = {0, 0, 0}; // by Verdict
};

} // namespace stability
