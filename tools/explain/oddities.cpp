#include "oddities.h"

#include "inventory/bus_type_names.h"
#include "inventory/link_speed_failures.h"
#include "log/log_texts.h"
#include "log_text.h"

#include <algorithm>

namespace {

// The failure codes of the PCIe link speed lookup, by where its search stopped.
std::string LinkSpeedFailure(std::int64_t code) {
    switch (code) {
    case NoDiskSet:
        return "no device set for the disk";
    case NoParent:
        return "no parent device found";
    case NoParentSet:
        return "no device set for the parent";
    case NoLinkSpeed:
        return "the parent reports no link speed";
    default:
        return "an unknown code";
    }
}

// Attempt i offers room for i + 1 entries, so a layout of n entries needs n - 1 failed attempts
// at most. More failures than that had another cause (a disk not ready, a request refused).
void AddLayoutOddity(int position, const ProbedDisk& disk, std::vector<Oddity>* oddities) {
    if (!disk.layoutFailures || !disk.partitionCount) {
        return;
    }
    const std::int64_t needed = std::max<std::int64_t>(*disk.partitionCount - 1, 0);
    const std::int64_t failures = *disk.layoutFailures;
    if (failures > needed) {
        oddities->push_back({position, "layout read only at i=[" + std::to_string(failures) +
                                           "] though its " + std::to_string(*disk.partitionCount) +
                                           " entries fit at i=[" + std::to_string(needed) +
                                           "]: " + std::to_string(failures - needed) +
                                           " requests failed for another reason than room"});
    }
}

// The disks behind the RST/VMD driver report their bus as RAID; only its answer gives their
// NVMe generation, so a missing answer can cost them their speed class.
void AddRaidOddity(int position, const ProbedDisk& disk, std::vector<Oddity>* oddities) {
    if (disk.busType != RaidBusType) {
        return;
    }
    if (disk.raid == RaidOutcome::Refused) {
        oddities->push_back(
            {position, "the RST/VMD driver refused the query (" + disk.raidErrorLine + ")"});
    } else if (disk.raid == RaidOutcome::NoController) {
        oddities->push_back(
            {position, "no SCSI controller could be opened to ask the RST/VMD driver"});
    }
}

} // namespace

void AddProbeOddities(int position, const ProbedDisk& disk, std::vector<Oddity>* oddities) {
    for (const std::string& line : disk.oddLines) {
        oddities->push_back({position, line});
    }
    if (disk.openAttempted && !disk.opened) {
        oddities->push_back(
            {position, "the disk could not be opened: no storage request reached it"});
    }
    if (disk.opened && !disk.deviceNumberRead) {
        oddities->push_back({position, "its device number was never read"});
    }
    if (disk.descriptorAsked && !disk.descriptorRead) {
        oddities->push_back({position, "its device descriptor was refused: bus type, removability "
                                       "and device type were never read"});
    }
    AddLayoutOddity(position, disk, oddities);
    AddRaidOddity(position, disk, oddities);
}

void AddCandidateOddities(int position, const CandidateBlock& block, bool probed,
                          std::vector<Oddity>* oddities) {
    if (!probed) {
        oddities->push_back({position, "no probe lines: the disk was gone when the probe went "
                                       "through the disks, so its record kept its first values"});
    }
    const std::optional<std::int64_t> generation =
        ParseSigned(block.Field(DriveNvmeGen).value_or(""));
    if (generation && *generation < 0) {
        oddities->push_back(
            {position, "the PCIe link speed lookup failed (NVMeGen=" + std::to_string(*generation) +
                           ": " + LinkSpeedFailure(*generation) + ")"});
    }
    if (block.tooSmall) {
        oddities->push_back({position, FormatPieces(TooSmallLine)[0] +
                                           " (Size=" + block.Field(DriveSize).value_or("?") +
                                           "): no capacity term"});
    }
}
