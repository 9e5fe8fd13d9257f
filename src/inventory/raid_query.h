// Asking the RAID/VMD storage driver about one disk through a storage controller's miniport.
#pragma once

#include <windows.h>
#include <ntddscsi.h>

// The RAID/VMD driver sits behind one of the first SCSI port names, \\.\scsi0: to \\.\scsi4:;
// ports beyond them are not looked at.
const int RaidControllerCount = 5;

// The request and the reply share this layout: the miniport header, then four values.
struct RaidMessage {
    SRB_IO_CONTROL header;
    LONG connectionType;
    LONG connectionInterface;
    LONG pciBusWidth;
    LONG pciBusSpeed;
};

static_assert(sizeof(RaidMessage) == 44, "the driver's message is 44 bytes");

// The disk-information request for the disk of that ID, its payload zero-filled.
void BuildRaidRequest(DWORD diskId, RaidMessage* request);

// 1 when a controller accepted the request; the four outputs then hold the driver's values.
// 0 otherwise, with the outputs as the caller left them.
int QueryRaidDiskInfo(DWORD port, DWORD bus, DWORD targetId, DWORD lun, LONG* connectionInterface,
                      LONG* connectionType, LONG* pciBusSpeed, LONG* pciBusWidth, LPCWSTR logPath);
