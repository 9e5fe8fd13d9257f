#include "run_account.h"

#include "log/log_texts.h"
#include "log_text.h"
#include "run_order.h"

namespace {

void AddStepLine(ProbedDisk* disk, const std::string& rest) {
    MarkReachedSteps(disk, rest);
    if (FitsFormat(rest, RaidAnsweredLine)) {
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
    if (OpensBeforeDetail(rest, LayoutGaveUpLine)) {
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
    if (FitsFormat(rest, RaidRefusedLine)) {
        disk.raid = RaidOutcome::Refused;
    } else if (FitsFormat(rest, NoRaidControllerLine)) {
        disk.raid = RaidOutcome::NoController;
    } else if (OpensWith(rest, RaidLastErrorLine)) {
        disk.raidErrorLine = rest;
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
    } else if (FitsFormat(message, ExeVersionLine)) {
        run->version = *ConvertedText(message, ExeVersionLine);
    } else if (FitsFormat(message, RecordsNotAllocatedLine)) {
        run->end = RunEnd::RecordsNotAllocated;
        run->endLine = message;
    }
}

void AddCandidateEntry(RunAccount* run, const std::string& message) {
    std::string rest;
    if (const std::optional<int> position =
            BracketedPosition(message, DriveFieldOpening(), &rest)) {
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
    if (EndsLikeAll(message, {RemovableExclusion, UsbExclusion, OptaneCacheExclusion,
                              UnknownNumberExclusion})) {
        block.exclusion = message;
    } else if (FitsFormat(message, TooSmallLine)) {
        block.tooSmall = true;
    }
}

void AddPickEntry(RunAccount* run, const std::string& message) {
    if (const std::optional<int> position = LeadingPosition(message, NewDefaultLine)) {
        run->picked = *position;
    }
}

bool IsReport(const std::string& message) {
    return FitsFormat(message, NoDestinationAnswer) ||
           ParseUnsigned(ConvertedText(message, ReportedDriveAnswer).value_or("")).has_value();
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

std::optional<std::int64_t> LoggedTerm(const CandidateBlock& block, DriveField field) {
    const std::optional<std::uint64_t> value = ParseUnsigned(block.Field(field).value_or(""));
    return value ? std::optional<std::int64_t>(static_cast<std::int64_t>(*value)) : std::nullopt;
}

} // namespace

std::optional<std::string> CandidateBlock::Field(DriveField field) const {
    const auto found = fields.find(DriveFieldName(field));
    return found != fields.end() ? std::optional<std::string>(found->second) : std::nullopt;
}

std::optional<Terms> LoggedTerms(const CandidateBlock& block) {
    const auto speed = LoggedTerm(block, DriveSpeedWeight);
    const auto size = LoggedTerm(block, DriveSizeWeight);
    const auto sysDisk = LoggedTerm(block, DriveSysDiskWeight);
    const auto order = LoggedTerm(block, DriveOrderWeight);
    const auto weight = LoggedTerm(block, DriveWeight);
    if (!speed || !size || !sysDisk || !order || !weight) {
        return std::nullopt;
    }
    return Terms{*speed, *size, *sysDisk, *order, *weight};
}

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
