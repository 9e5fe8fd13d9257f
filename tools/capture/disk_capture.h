// One disk interface, asked what the probe asks it: the interface detail, the open, the four
// storage queries, the SCSI address and the layout in the probe's growing buffers.
#pragma once

#include <sim/machine.h>

#include <setupapi.h>

#include <string>

struct DiskCapture {
    sim::Disk disk;
    // The path as the probe reads it; empty when SetupAPI gave none.
    std::wstring devicePath;
    // The address the RAID query is asked for: the SCSI address when the disk answered it whole,
    // otherwise the zeros the record starts with.
    BYTE port = 0;
    BYTE bus = 0;
    BYTE targetId = 0;
    BYTE lun = 0;
};

DiskCapture CaptureDisk(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData);
