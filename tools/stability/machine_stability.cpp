#include "machine_stability.h"

#include "inventory/device_services.h"
#include "inventory/disk_probe.h"
#include "selection/weighting.h"

#include <sim/standin.h>
#include <sim/text.h>

namespace stability {

namespace {

// A run's steps are logged into nothing: the entries are formatted and dropped.
const WCHAR kNoLog[] = L"";

std::vector<LONG> CandidatesOf(const std::vector<DriveRecord>& records) {
    std::vector<LONG> candidates;
    for (size_t k = 0; k < records.size(); ++k) {
        if (ExclusionReason(records[k]) == NULL) {
            candidates.push_back(static_cast<LONG>(k));
        }
    }
    return candidates;
}

LONG CountOf(const std::vector<DriveRecord>& records) {
    return static_cast<LONG>(records.size());
}

} // namespace

ProbedRecords ProbeInstalledMachine() {
    ProbedRecords probed;
    probed.records.resize(static_cast<size_t>(CountDiskInterfaces()));
    for (DriveRecord& record : probed.records) {
        InitializeDriveRecord(&record);
    }
    ProbeDrives(probed.records.data(), static_cast<DWORD>(probed.records.size()), kNoLog,
                &probed.outcome);
    return probed;
}

ArrivalWeigher::ArrivalWeigher(const std::vector<DriveRecord>& records)
    : records_(records), candidates_(CandidatesOf(records)) {
    WeighDrives(records_.data(), CountOf(records_), kNoLog);
    const size_t count = candidates_.size();
    weights_.resize(count * count);
    std::vector<DriveRecord> renumbered(count);
    for (size_t s = 0; s < count; ++s) {
        for (size_t j = 0; j < count; ++j) {
            renumbered[j] = records_[static_cast<size_t>(candidates_[j])];
            renumbered[j].Order = records_[static_cast<size_t>(candidates_[s])].Order;
        }
        WeighDrives(renumbered.data(), static_cast<LONG>(count), kNoLog);
        for (size_t j = 0; j < count; ++j) {
            weights_[j * count + s] = renumbered[j].Weight;
        }
    }
    arrangement_ = records_;
    for (size_t k = 0; k < records_.size(); ++k) {
        occupant_.push_back(static_cast<LONG>(k));
    }
}

ArrivalChoice ArrivalWeigher::Pick(const Arrival& arrival) {
    const size_t count = candidates_.size();
    for (size_t j = 0; j < count; ++j) {
        const size_t s = arrival[j];
        const size_t position = static_cast<size_t>(candidates_[s]);
        // A position keeps its number, so a record already there is already weighed for it.
        if (occupant_[position] == candidates_[j]) {
            continue;
        }
        DriveRecord& placed = arrangement_[position];
        placed = records_[static_cast<size_t>(candidates_[j])];
        placed.Order = records_[position].Order;
        placed.Index = static_cast<DWORD>(position);
        placed.Weight = weights_[j * count + s];
        occupant_[position] = candidates_[j];
    }
    const LONG chosen = PickDrive(arrangement_.data(), CountOf(arrangement_), kNoLog);
    if (chosen == NoDriveChosen) {
        return {NoDriveChosen, 0};
    }
    return {occupant_[static_cast<size_t>(chosen)],
            arrangement_[static_cast<size_t>(chosen)].Order};
}

NumberingVerdict JudgeRecords(const ProbedRecords& probed) {
    if (FAILED(probed.outcome)) {
        return NoAnswerVerdict();
    }
    ArrivalWeigher weigher(probed.records);
    std::vector<std::string> paths;
    for (const DriveRecord& record : probed.records) {
        paths.push_back(sim::ToUtf8(record.Path));
    }
    ArrivalTally tally;
    const bool sampled = ForEachArrival(weigher.Candidates().size(), [&](const Arrival& arrival) {
        const ArrivalChoice choice = weigher.Pick(arrival);
        if (choice.record == NoDriveChosen) {
            tally.ChoseNone();
        } else {
            tally.Chose(static_cast<size_t>(choice.record),
                        paths[static_cast<size_t>(choice.record)], choice.number);
        }
    });
    return tally.Result(weigher.Candidates().size(), sampled);
}

NumberingVerdict JudgeMachine(const sim::Machine& machine) {
    sim::Install(machine);
    return JudgeRecords(ProbeInstalledMachine());
}

} // namespace stability
