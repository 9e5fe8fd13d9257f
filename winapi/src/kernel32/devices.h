// Disks and SCSI controllers of the installed machine, as CreateFileW opens them.
#pragma once

#include <windows.h>

#include <string>

namespace sim {

// CreateFileW of a device name (\\.\ or \\?\ but not a drive path): disks and controllers.
HANDLE OpenDevice(const std::wstring& name, DWORD access, DWORD shareMode, DWORD disposition,
                  DWORD flagsAndAttributes);
// Forgets what the devices remember between requests (the layout attempts); run by Install.
void ResetDeviceAccounting();

} // namespace sim
