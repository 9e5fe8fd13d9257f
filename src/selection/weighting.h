// Scoring every drive record and choosing the destination: speed class first, then capacity,
// then the system partition, then the device number.
#pragma once

#include "inventory/drive_record.h"

// PickDrive's answer when no record qualifies.
const LONG NoDriveChosen = -1;

// The line that explains why a record can never be the destination, whatever its position and
// the other records hold, or NULL when it can be.
LPCWSTR ExclusionReason(const DriveRecord& record);

// Sets Weight in records[0..count-1] and logs each record's terms and fields.
void WeighDrives(DriveRecord* records, LONG count, LPCWSTR logPath);

// The position of the heaviest record (the later one on a tie) whose Weight is at least 1, or
// NoDriveChosen.
LONG PickDrive(const DriveRecord* records, LONG count, LPCWSTR logPath);
