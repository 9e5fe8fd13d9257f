// Asking the RAID/VMD storage driver about one disk through a storage controller's miniport.
#pragma once

#include <windows.h>

// 1 when a controller accepted the request; the four outputs then hold the driver's values.
// 0 otherwise, with the outputs as the caller left them.
int QueryRaidDiskInfo(DWORD port, DWORD bus, DWORD targetId, DWORD lun, LONG* connectionInterface,
                      LONG* connectionType, LONG* pciBusSpeed, LONG* pciBusWidth, LPCWSTR logPath);
