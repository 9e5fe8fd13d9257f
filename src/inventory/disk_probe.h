// The inventory of the run: one drive record filled per disk interface, in enumeration order.
#pragma once

#include "inventory/drive_record.h"

// Fills records[0..] from the disk interfaces, never more than recordCount, and answers how many
// it filled. outcome receives S_OK, or E_FAIL when a disk's partition layout could not be read
// and the run has to end without an answer.
DWORD ProbeDrives(DriveRecord* records, DWORD recordCount, LPCWSTR logPath, HRESULT* outcome);
