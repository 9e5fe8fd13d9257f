#include "run_account.h"

#include "log_text.h"

namespace {

const char ExclusionEnding[] = ", never be a main storage condidate.";
const char LayoutGaveUpLine[] = "Failed to get paritions by IOCTL_DISK_GET_DRIVE_LAYOUT_EX";
const char ReportedDrive[] = "Destination=\\\\.\\PHYSICALDRIVE";
const char NoDestination[] = "Destination=UNKNOWN";

// The probe's lines that are written only when a step fails or meets a reply it cannot use.
bool IsOddProbeLine(const std::string& rest) {
    static const char* const oddStarts[] = {
        "Failed to get seek penalty",
        "Failed to get size",
        "Geometry gives no valid size",
        "Interface detail reports no size",
        "Cannot allocate ",
        "DevicePath is longer than",
        LayoutGaveUpLine,
    };
    for (const char* start : oddStarts) {
        if (StartsWith(rest, start)) {
            return true;
        }
    }
    // "%s answered %u bytes, fewer than the %u it needs; ignored."
    return rest.find(" answered ") != std::string::npos && EndsWith(rest, "it needs; ignored.");
}

// The number in "<start><number><end>", the whole of rest.
std::optional<std::int64_t> NumberBetween(const std::string& rest, const std::string& start,
                                          const std::string& end) {
    if (!StartsWith(rest, start) || !EndsWith(rest, end) ||
        rest.size() < start.size() + end.size()) {
        return std::nullopt;
    }
    return ParseSigned(rest.substr(start.size(), rest.size() - start.size() - end.size()));
}

void AddStepLine(ProbedDisk* disk, const std::string& rest) {
    if (StartsWith(rest, "DevicePath=")) {
        disk->pathLogged = true;
    } else if (rest == "Get disk info by DeviceIoControl") {
        disk->openAttempted = true;
    } else if (rest == "Get order") {
        disk->opened = true;
    } else if (StartsWith(rest, "PartitionNumber=")) {
        disk->deviceNumberRead = true;
    } else if (rest == "Get BusType, removable, device type.") {
        disk->descriptorAsked = true;
    } else if (StartsWith(rest, "BusType=")) {
        disk->descriptorRead = true;
        disk->busType = NumberBetween(rest, "BusType=", ".");
    } else if (rest == "Get partitions.") {
        disk->partitionsChecked = true;
    } else if (rest == "Get partition amount.") {
        disk->layoutAsked = true;
    } else if (rest == "This is a OS disk") {
        disk->systemPartition = true;
    } else if (StartsWith(rest, "IOCTL_DISK_GET_DRIVE_LAYOUT_EX done, i=[")) {
        disk->layoutFailures =
            NumberBetween(rest, "IOCTL_DISK_GET_DRIVE_LAYOUT_EX done, i=[", "].");
    } else if (StartsWith(rest, "PartitionCount=")) {
        disk->partitionCount = NumberBetween(rest, "PartitionCount=", ".");
    } else if (rest == "Success getting information under Intel RST/VMD.") {
        disk->raid = RaidOutcome::Answered;
    }
}

void AddDiskLine(RunAccount* run, int position, const std::string& rest) {
    run->currentDisk = position;
    ProbedDisk& disk = run->disks[position];
    if (IsOddProbeLine(rest)) {
        disk.oddLines.push_back(rest);
    } else {
        AddStepLine(&disk, rest);
    }
    if (StartsWith(rest, LayoutGaveUpLine)) {
        run->end = RunEnd::LayoutGaveUp;
        run->endPosition = position;
        run->endLine = rest;
    }
}

// The RAID query's lines carry the disk's SCSI address, not its position: they belong to the
// disk whose probe asked.
void AddRaidLine(RunAccount* run, const std::string& rest) {
    if (run->currentDisk < 0) {
        return;
    }
    ProbedDisk& disk = run->disks[run->currentDisk];
    if (rest == "Function failed") {
        disk.raid = RaidOutcome::Refused;
    } else if (rest == "Cannot find SCSI controller") {
        disk.raid = RaidOutcome::NoController;
    } else if (StartsWith(rest, "GetLastError=")) {
        disk.raidLastError = rest.substr(sizeof("GetLastError=") - 1);
    }
}

void AddProbeEntry(RunAccount* run, const std::string& message) {
    std::string rest;
    if (const std::optional<int> position = BracketedPosition(message, "[Disk", &rest)) {
        if (StartsWith(rest, " ")) {
            AddDiskLine(run, *position, rest.substr(1));
        }
        return;
    }
    if (StartsWith(message, "[Disk ")) {
        const size_t close = message.find("] ");
        if (close != std::string::npos) {
            AddRaidLine(run, message.substr(close + 2));
        }
    } else if (StartsWith(message, "ExeVersion=[") && EndsWith(message, "]")) {
        run->version = message.substr(12, message.size() - 13);
    } else if (StartsWith(message, "Cannot allocate ") &&
               EndsWith(message, " drive records, no destination chosen.")) {
        run->end = RunEnd::RecordsNotAllocated;
        run->endLine = message;
    }
}

void AddCandidateEntry(RunAccount* run, const std::string& message) {
    std::string rest;
    if (const std::optional<int> position = BracketedPosition(message, "Drive[", &rest)) {
        const size_t equals = rest.find('=');
        if (StartsWith(rest, ".") && equals != std::string::npos) {
            run->candidates[*position].fields[rest.substr(1, equals - 1)] = rest.substr(equals + 1);
        }
        return;
    }
    if (run->currentCandidate < 0) {
        return;
    }
    CandidateBlock& block = run->candidates[run->currentCandidate];
    if (EndsWith(message, ExclusionEnding)) {
        block.exclusion = message;
    } else if (message == "Too small to be OS disk.") {
        block.tooSmall = true;
    }
}

void AddPickEntry(RunAccount* run, const std::string& message) {
    std::string rest;
    if (const std::optional<int> position =
            BracketedPosition(message, "New default index [", &rest)) {
        run->picked = *position;
    }
}

bool IsReport(const std::string& message) {
    return message == NoDestination ||
           (StartsWith(message, ReportedDrive) &&
            ParseUnsigned(message.substr(sizeof(ReportedDrive) - 1)).has_value());
}

// Banners move the run into its next phase; true when the message was one.
bool TakeBanner(RunAccount* run, const BannerText& banner) {
    switch (banner.kind) {
    case Banner::Candidate:
        run->phase = RunPhase::Weighting;
        run->currentCandidate = banner.candidate;
        run->candidates[banner.candidate];
        return true;
    case Banner::Pick:
        run->phase = RunPhase::Pick;
        return true;
    case Banner::Report:
        run->phase = RunPhase::Report;
        return true;
    case Banner::None:
    case Banner::Run:
        return false;
    }
    return false;
}

} // namespace

void AddRunEntry(RunAccount* run, const std::string& message, const BannerText& banner) {
    if (run->end != RunEnd::Unfinished || TakeBanner(run, banner)) {
        return;
    }
    switch (run->phase) {
    case RunPhase::Probe:
        AddProbeEntry(run, message);
        break;
    case RunPhase::Weighting:
        AddCandidateEntry(run, message);
        break;
    case RunPhase::Pick:
        AddPickEntry(run, message);
        break;
    case RunPhase::Report:
        if (IsReport(message)) {
            run->report = message;
            run->end = RunEnd::Reported;
        }
        break;
    }
}
