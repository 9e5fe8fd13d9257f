#include "run_order.h"

#include "log_text.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace {

// A line's step within its item. Steps only move forward; a repeatable one may come again, a
// neutral line may come anywhere within its item.
struct Step {
    const char* start;
    int rank;
};
const int Neutral = -1;
const int Repeatable = 1000; // added to a rank that may repeat

const Step PathSteps[] = {
    {"LogPath=[", 1}, {"ExeDirPath=[", 2}, {"ExeFileName=[", 3}, {"ExeVersion=[", 4}};

const int LinkSpeedWalk = 28; // the step after which device IDs and descriptions follow, untagged
const int RaidQuery = 29;     // the step after which the RAID query's "[Disk p-b-t-l]" lines follow
const int LayoutGaveUp = 18;
const int FirstStepOfADisk = 1;

// A disk's probe lines, in the order the probe writes them.
const Step ProbeSteps[] = {
    {"Interface detail reports no size", 0},
    {"Cannot allocate ", 0},
    {"DevicePath=", 1},
    {"DevicePath is longer than", 2},
    {"Check TG/Optane", 3},
    {"Get disk info by DeviceIoControl", 4},
    {"Get order", 5},
    {"PartitionNumber=", 6},
    {"Get BusType, removable, device type.", 7},
    {"BusType=", 8},
    {"DeviceType=", 9},
    {"Get SeekPenalty.", 10},
    {"Failed to get seek penalty", 11},
    {"Get disk size in GB.", 12},
    {"Failed to get size", 13},
    {"Geometry gives no valid size", 14},
    {"Get port number, bus number and target ID.", 15},
    {"Get partitions.", 16},
    {"Get partition amount.", 17},
    {"Failed to get paritions by IOCTL_DISK_GET_DRIVE_LAYOUT_EX", LayoutGaveUp},
    {"IOCTL_DISK_GET_DRIVE_LAYOUT_EX done", 19},
    {"Byte returned:", 20},
    {"PartitionCount=", 21},
    {"Go through each partition.", 22},
    {"Disk is GPT.", 23},
    {"Disk is MBR.", 23},
    {"Partition", Repeatable + 24},
    {"partition", Repeatable + 24},
    {"This is a OS disk", 25},
    {"Convert device path to device id. SRC:", 26},
    {"Convert device path to device id. DST:", LinkSpeedWalk - 1},
    {"Try to get NVMe generation.", LinkSpeedWalk},
    {"Try to get information under Intel RST/VMD.", RaidQuery},
    {"Success getting information under Intel RST/VMD.", 30},
    {"Update DeviceType.", 31},
    {"Update NVMe generation.", 32},
};

// A candidate's lines after its banner (step 0), in the order the weighting writes them.
const int Excluded = 1;
const Step CandidateSteps[] = {
    {"Too small to be OS disk.", 2},
    {"It's one of TG disks, bigger get weight.", 3},
    {"It's not TG disks, smaller get weight.", 3},
};
const char* const CandidateFields[] = {
    "Path",
    "DeviceID",
    "Index",
    "Port",
    "Bus",
    "TargetId",
    "Lun",
    "Removable",
    "isIntelOptaneCache",
    "isIntelTGDisks",
    "DeviceType",
    "BusType",
    "NVMeGen",
    "SeekPenalty",
    "weight_speed",
    "Size",
    "weight_size",
    "PartitionCount",
    "IsSysDisk",
    "weight_SysDisk",
    "Order",
    "weight_order",
    "Weight",
};
const int FirstFieldStep = 10;

template <size_t N> int RankOf(const Step (&steps)[N], const std::string& text) {
    for (const Step& step : steps) {
        if (StartsWith(text, step.start)) {
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

bool IsShortReply(const std::string& rest) {
    return rest.find(" answered ") != std::string::npos && EndsWith(rest, "it needs; ignored.");
}

bool FollowsDiskLine(RunOrder* order, int position, const std::string& rest) {
    const int rank = IsShortReply(rest) ? Neutral : RankOf(ProbeSteps, rest);
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
    if (StartsWith(message, "Cannot allocate ") &&
        EndsWith(message, " drive records, no destination chosen.")) {
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

int FieldStep(const std::string& field) {
    int step = FirstFieldStep;
    for (const char* known : CandidateFields) {
        if (field == known) {
            return step;
        }
        ++step;
    }
    return Neutral;
}

bool FollowsCandidate(RunOrder* order, const std::string& message) {
    std::string rest;
    if (const std::optional<int> position = BracketedPosition(message, "Drive[", &rest)) {
        const size_t equals = rest.find('=');
        return *position == order->item && StartsWith(rest, ".") && equals != std::string::npos &&
               order->step != Excluded && Advance(order, FieldStep(rest.substr(1, equals - 1)));
    }
    if (EndsWith(message, ", never be a main storage condidate.")) {
        return order->step == 0 && Advance(order, Excluded);
    }
    const int rank = RankOf(CandidateSteps, message);
    return rank != Neutral && order->step != Excluded && Advance(order, rank);
}

// The number in "<prefix><number>[", where the pick's lines name the compared drive.
std::optional<std::uint64_t> ComparedDrive(const std::string& message) {
    const std::string prefix = "Compare Drive";
    const size_t open = message.find('[', prefix.size());
    if (!StartsWith(message, prefix) || open == std::string::npos) {
        return std::nullopt;
    }
    return ParseUnsigned(message.substr(prefix.size(), open - prefix.size()));
}

bool FollowsPick(RunOrder* order, const std::string& message) {
    std::string rest;
    if (const std::optional<std::uint64_t> compared = ComparedDrive(message)) {
        if (*compared != static_cast<std::uint64_t>(order->item + 1)) {
            return false;
        }
        ++order->item;
        order->step = 0;
        return true;
    }
    const std::optional<int> chosen = BracketedPosition(message, "New default index [", &rest);
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
        if (StartsWith(message, "Destination=")) {
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

bool FollowsInOrder(RunOrder* order, const std::string& message, const BannerText& banner) {
    if (order->broken) {
        return false;
    }
    const bool follows =
        banner.kind != Banner::None ? FollowsBanner(order, banner) : FollowsLine(order, message);
    order->broken = !follows;
    return follows;
}
