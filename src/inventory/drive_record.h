// What the run learns about one disk interface, filled by the probe and scored by the weighting.
#pragma once

#include <windows.h>

const size_t DriveTextChars = 260;

// Order of a record whose device number was never read. No disk answers with it, and the
// weighting refuses such a record: its number would name a disk the run knows nothing about.
const DWORD UnknownDeviceNumber = 0xFFFFFFFFu;

// The highest device number the report can carry: it is printed as a signed decimal and becomes
// the exit code. A driver answering more has given no usable number.
const DWORD HighestReportableDeviceNumber = 0x7FFFFFFFu;

struct DriveRecord {
    DWORD Order;
    DWORD Index;
    DWORD Port;
    DWORD Bus;
    DWORD TargetId;
    DWORD Lun;
    DWORD BusType;
    LONG SeekPenalty;
    DWORD Removable;
    DWORD isIntelOptaneCache;
    DWORD isIntelTGDisks;
    DWORD isOptane;
    BYTE DeviceType;
    DWORD IsSysDisk;
    LONG PartitionCount;
    ULONGLONG Size;
    LONGLONG Weight;
    WCHAR Path[DriveTextChars];
    WCHAR DeviceID[DriveTextChars];
    LONG NVMeGen;
};

// Gives every field its value before the probe: zero and empty text, a seek penalty of -1
// (no answer yet) and no device number.
void InitializeDriveRecord(DriveRecord* record);
