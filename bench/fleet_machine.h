// Simulated machines of any number of disks, for measuring how the system's cost grows with
// them: a desktop's disks first, then the mix of a storage server.
#pragma once

#include <sim/machine.h>

namespace bench {

// Disk 0 is the NVMe system disk (GPT with EFI, reserved, data and recovery partitions, PCIe 4.0
// link). Every further disk takes the next kind of a cycle of eight: NVMe data disk (PCIe 3.0),
// SATA SSD, SATA HDD, USB stick, NVMe data disk, SATA HDD, SATA HDD with an MBR layout, USB HDD.
// SCSI controller 0 does not open; controller 1 is a SATA RAID controller that answers the RAID
// driver's query for the SATA disks and refuses it for the others. Every disk answers every
// request as a healthy disk does, so the system walks its longest ordinary path.
sim::Machine FleetMachine(int diskCount);

// The device number the system must pick on every fleet machine: the system disk's.
const DWORD kFleetDestination = 0;

} // namespace bench
