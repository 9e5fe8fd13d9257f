// The numbering verdict of a simulated machine: one probe, through the stand-in, then the system's
// own weighting and pick over the records with their device numbers and positions permuted. A
// disk's other answers (layout, link speed, RAID answer by SCSI address) come from the disk itself
// whatever its number, so they are the same records on every boot.
#pragma once

#include "arrivals.h"
#include "numbering_verdict.h"

#include "inventory/drive_record.h"

#include <sim/machine.h>

#include <string>
#include <vector>

namespace stability {

// What the probe left of the installed machine: one record per counted interface, as a run
// fills them, and the probe's outcome.
struct ProbedRecords {
    std::vector<DriveRecord> records;
    HRESULT outcome = S_OK;
};

// Probes the installed machine as a run does, writing no log.
ProbedRecords ProbeInstalledMachine();

// The pick under one arrival: the record (by its position in the probe) and the device number it
// carried then, or NoDriveChosen.
struct ArrivalChoice {
    LONG record;
    DWORD number;
};

// The candidates are the records the weighting does not exclude: an excluded record cannot win
// whatever its number and keeps its own. Each candidate is weighed once under each candidate's
// number, so that an arrival costs only its pick.
class ArrivalWeigher {
  public:
    explicit ArrivalWeigher(const std::vector<DriveRecord>& records);

    // The candidates' positions in the probe, ascending: candidate j of an arrival.
    const std::vector<LONG>& Candidates() const {
        return candidates_;
    }
    ArrivalChoice Pick(const Arrival& arrival);

  private:
    std::vector<DriveRecord> records_; // weighed as the run weighs them
    std::vector<LONG> candidates_;
    std::vector<LONGLONG> weights_; // candidate j under candidate s's number: [j * count + s]
    std::vector<DriveRecord> arrangement_;
    std::vector<LONG> occupant_; // the probe's record at each position of the arrangement
};

NumberingVerdict JudgeRecords(const ProbedRecords& probed);

// Installs the machine in the stand-in, probes it and judges it. What an earlier run left in the
// stand-in (console, request record, counters) is gone afterwards.
NumberingVerdict JudgeMachine(const sim::Machine& machine);

} // namespace stability
