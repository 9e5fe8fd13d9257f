// The SCSI controllers \\.\scsi0: to \\.\scsi4: as the RAID query meets them: whether each opens,
// and how the first that opens answers the RAID driver's request for each disk.
#pragma once

#include <sim/machine.h>

#include <vector>

struct ControllerCapture {
    std::vector<sim::Controller> controllers; // \\.\scsi0: to \\.\scsi4:
    std::vector<bool> openSeen;               // whether each has been opened yet
    std::vector<bool> answerSeen;             // whether each has answered a request yet
};

ControllerCapture StartControllerCapture();

// The RAID query for a disk at this address, as the query walks the controllers: each in turn
// until one opens, which alone is asked.
void CaptureRaidAnswer(ControllerCapture& capture, BYTE port, BYTE bus, BYTE targetId, BYTE lun);

// The controllers into the machine; one that no disk's query reached is opened (and closed again)
// to learn whether it opens.
void RecordControllers(ControllerCapture& capture, sim::Machine& machine);
