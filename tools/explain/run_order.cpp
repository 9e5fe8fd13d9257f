#include "run_order.h"

#include "log/log_texts.h"
#include "log_text.h"
#include "run_account.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace {

// How a step's line is told: by its opening, or by its words before a comma or parenthesis; odd
// lines are told by those words too, and are written only when a step fails or meets a reply it
// cannot use.
enum Told { ByOpening, LeadingWords, OddWords };

// A line's step within its item. Steps only move forward; a repeatable one may come again, a
// neutral line may come anywhere within its item.
struct Step {
    const wchar_t* format;
    int rank;
    Told told = ByOpening;
    bool ProbedDisk::*reached = nullptr; // set in the disk's account when the line shows the step
    std::optional<std::int64_t> ProbedDisk::*number = nullptr; // the number the line gives
};
const int Neutral = -1;
const int Repeatable = 1000; // added to a rank that may repeat

const Step PathSteps[] = {
    {LogPathLine, 1}, {ExeDirPathLine, 2}, {ExeFileNameLine, 3}, {ExeVersionLine, 4}};

const int LinkSpeedWalk = 28; // the step after which device IDs and descriptions follow, untagged
const int RaidQuery = 29;     // the step after which the RAID query's "[Disk p-b-t-l]" lines follow
const int LayoutGaveUp = 18;
const int FirstStepOfADisk = 1;

// A disk's probe lines, in the order the probe writes them.
const Step ProbeSteps[] = {
    {NoInterfaceDetailLine, 0, OddWords},
    {NoDetailBufferLine, 0, OddWords},
    {DevicePathLine, 1, ByOpening, &ProbedDisk::pathLogged},
    {LongDevicePathLine, 2, OddWords},
    {PathMarkersLine, 3},
    {OpenDiskLine, 4, ByOpening, &ProbedDisk::openAttempted},
    {DeviceNumberLine, 5, ByOpening, &ProbedDisk::opened},
    {PartitionNumberLine, 6, ByOpening, &ProbedDisk::deviceNumberRead},
    {DescriptorLine, 7, ByOpening, &ProbedDisk::descriptorAsked},
    {BusTypeLine, 8, ByOpening, &ProbedDisk::descriptorRead, &ProbedDisk::busType},
    {DeviceTypeLine, 9},
    {SeekPenaltyLine, 10},
    {NoSeekPenaltyLine, 11, OddWords},
    {SizeLine, 12},
    {NoSizeLine, 13, OddWords},
    {InvalidGeometryLine, 14, OddWords},
    {ScsiAddressLine, 15},
    {PartitionsLine, 16, ByOpening, &ProbedDisk::partitionsChecked},
    {LayoutLine, 17, ByOpening, &ProbedDisk::layoutAsked},
    {LayoutGaveUpLine, LayoutGaveUp, OddWords},
    {LayoutDoneLine, 19, LeadingWords, nullptr, &ProbedDisk::layoutFailures},
    {LayoutBytesLine, 20},
    {PartitionCountLine, 21, ByOpening, nullptr, &ProbedDisk::partitionCount},
    {PartitionWalkLine, 22},
    {GptDiskLine, 23},
    {MbrDiskLine, 23},
    {MbrPartitionLine, Repeatable + 24},
    {GptPartitionLine, Repeatable + 24},
    {EfiPartitionLine, Repeatable + 24},
    {SystemDiskLine, 25, ByOpening, &ProbedDisk::systemPartition},
    {DeviceIdSourceLine, 26},
    {DeviceIdLine, LinkSpeedWalk - 1},
    {LinkSpeedLine, LinkSpeedWalk},
    {RaidQueryLine, RaidQuery},
    {RaidAnsweredLine, 30},
    {RaidDeviceTypeLine, 31},
    {RaidGenerationLine, 32},
};

// A candidate's lines after its banner (step 0), in the order the weighting writes them.
const int Excluded = 1;
const Step CandidateSteps[] = {
    {TooSmallLine, 2},
    {TgSizeLine, 3},
    {SizeWeightLine, 3},
};
const int FirstFieldStep = 10;

template <size_t N> int RankOf(const Step (&steps)[N], const std::string& text) {
    for (const Step& step : steps) {
        if (step.told != ByOpening ? OpensBeforeDetail(text, step.format)
                                   : OpensWith(text, step.format)) {
            return step.rank;
        }
    }
    return Neutral;
}

// Moves the item's step to rank; false when the line would go back.
bool Advance(RunOrder* order, int rank) {
    if (rank == Neutral) {
        return true;
    }
    const bool repeatable = rank >= Repeatable;
    const int step = repeatable ? rank - Repeatable : rank;
    if (step < order->step || (step == order->step && !repeatable)) {
        return false;
    }
    order->step = step;
    return true;
}

bool FollowsDiskLine(RunOrder* order, int position, const std::string& rest) {
    const int rank = FitsFormat(rest, ShortReplyLine) ? Neutral : RankOf(ProbeSteps, rest);
    if (position == order->item + 1 && rank != Neutral && rank <= FirstStepOfADisk) {
        order->item = position;
        order->step = rank;
        return true;
    }
    if (position != order->item || !Advance(order, rank)) {
        return false;
    }
    if (rank == LayoutGaveUp) {
        order->section = RunSection::Ended;
    }
    return true;
}

bool FollowsProbe(RunOrder* order, const std::string& message) {
    std::string rest;
    if (const std::optional<int> position = BracketedPosition(message, "[Disk", &rest)) {
        return StartsWith(rest, " ") && FollowsDiskLine(order, *position, rest.substr(1));
    }
    // Only a run that has probed no disk can end for want of records; after a disk the line is
    // another run's, even where a device's text could stand.
    if (FitsFormat(message, RecordsNotAllocatedLine)) {
        order->section = RunSection::Ended;
        return order->item < 0;
    }
    if (order->item < 0) {
        return false;
    }
    if (StartsWith(message, "[Disk ")) {
        return order->step == RaidQuery;
    }
    return order->step == LinkSpeedWalk;
}

// The fields come in the order the weighting logs them.
int FieldStep(const std::string& field) {
    for (int k = 0; k < DriveFieldCount; ++k) {
        if (field == DriveFieldName(static_cast<DriveField>(k))) {
            return FirstFieldStep + k;
        }
    }
    return Neutral;
}

bool FollowsCandidate(RunOrder* order, const std::string& message) {
    std::string rest;
    if (const std::optional<int> position =
            BracketedPosition(message, DriveFieldOpening(), &rest)) {
        const size_t equals = rest.find('=');
        return *position == order->item && StartsWith(rest, ".") && equals != std::string::npos &&
               order->step != Excluded && Advance(order, FieldStep(rest.substr(1, equals - 1)));
    }
    if (EndsLikeAll(message, {RemovableExclusion, UsbExclusion, OptaneCacheExclusion,
                              UnknownNumberExclusion})) {
        return order->step == 0 && Advance(order, Excluded);
    }
    const int rank = RankOf(CandidateSteps, message);
    return rank != Neutral && order->step != Excluded && Advance(order, rank);
}

bool FollowsPick(RunOrder* order, const std::string& message) {
    if (const std::optional<int> compared = LeadingPosition(message, CompareLine)) {
        if (*compared != order->item + 1) {
            return false;
        }
        ++order->item;
        order->step = 0;
        return true;
    }
    const std::optional<int> chosen = LeadingPosition(message, NewDefaultLine);
    return chosen && *chosen == order->item && Advance(order, 1);
}

bool FollowsBanner(RunOrder* order, const BannerText& banner) {
    const RunSection from = order->section;
    const bool probed = from == RunSection::Paths || from == RunSection::Probe;
    switch (banner.kind) {
    case Banner::Candidate:
        if (!(probed && banner.candidate == 0) &&
            !(from == RunSection::Weighting && banner.candidate == order->item + 1)) {
            return false;
        }
        order->section = RunSection::Weighting;
        order->item = banner.candidate;
        break;
    case Banner::Pick:
        if (!probed && from != RunSection::Weighting) {
            return false;
        }
        order->section = RunSection::Pick;
        order->item = -1;
        break;
    case Banner::Report:
        if (from != RunSection::Pick) {
            return false;
        }
        order->section = RunSection::Report;
        break;
    case Banner::None:
    case Banner::Run:
        return false;
    }
    order->step = 0;
    return true;
}

bool FollowsLine(RunOrder* order, const std::string& message) {
    switch (order->section) {
    case RunSection::Paths:
        // The paths come first, in their order; the first other line begins the probe.
        if (RankOf(PathSteps, message) != Neutral) {
            return Advance(order, RankOf(PathSteps, message));
        }
        order->section = RunSection::Probe;
        order->step = 0;
        return FollowsProbe(order, message);
    case RunSection::Probe:
        return RankOf(PathSteps, message) == Neutral && FollowsProbe(order, message);
    case RunSection::Weighting:
        return FollowsCandidate(order, message);
    case RunSection::Pick:
        return FollowsPick(order, message);
    case RunSection::Report:
        if (OpensLikeAll(message, {ReportedDriveAnswer, NoDestinationAnswer})) {
            order->section = RunSection::Ended;
            return true;
        }
        return false;
    case RunSection::Ended:
        return false;
    }
    return false;
}

} // namespace

bool IsOddProbeLine(const std::string& rest) {
    return FitsFormat(rest, ShortReplyLine) ||
           std::any_of(std::begin(ProbeSteps), std::end(ProbeSteps), [&rest](const Step& step) {
               return step.told == OddWords && OpensBeforeDetail(rest, step.format);
           });
}

void MarkReachedSteps(ProbedDisk* disk, const std::string& rest) {
    for (const Step& step : ProbeSteps) {
        // By the whole text for a line without numbers, as these lines were always read.
        if ((step.reached || step.number) &&
            (FormatPieces(step.format).size() == 1 ? FitsFormat(rest, step.format)
                                                   : OpensWith(rest, step.format))) {
            if (step.reached) {
                disk->*step.reached = true;
            }
            if (step.number) {
                disk->*step.number = NumberIn(rest, step.format);
            }
        }
    }
}

bool FollowsInOrder(RunOrder* order, const std::string& message, const BannerText& banner) {
    if (order->broken) {
        return false;
    }
    const bool follows =
        banner.kind != Banner::None ? FollowsBanner(order, banner) : FollowsLine(order, message);
    order->broken = !follows;
    return follows;
}
