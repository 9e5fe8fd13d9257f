// Asking the RAID/VMD storage driver about one disk through a storage controller's miniport.
#pragma once

#include <windows.h>
#include <ntddscsi.h>

// The RAID/VMD driver sits behind one of the first SCSI port names, \\.\scsi0: to \\.\scsi4:;
// ports beyond them are not looked at. Each is opened exclusively, for all access.
const int RaidControllerCount = 5;
LPCWSTR const RaidControllerNameFormat = L"\\\\.\\scsi%d:";
const size_t RaidControllerNameChars = 260;
const DWORD RaidControllerAccess = FILE_ALL_ACCESS;

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

// The ID under which the driver knows the disk at that SCSI address.
DWORD RaidDiskId(DWORD port, DWORD bus, DWORD targetId, DWORD lun);

// 1 when a controller accepted the request; the reply then holds what the driver wrote back, in a
// zero-filled message. 0 otherwise, with the reply as the caller left it.
int QueryRaidDiskInfo(DWORD port, DWORD bus, DWORD targetId, DWORD lun, LPCWSTR logPath,
                      RaidMessage* reply);
