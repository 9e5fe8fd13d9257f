// The PCI Express link speed of an NVMe disk, read from its parent's device properties.
#pragma once

#include <windows.h>
#include <setupapi.h>

// What the lookup asks of SetupAPI and the configuration manager, shared with the capture so that
// it reads the nodes exactly as the lookup does: the node sets' flags, and the buffers by their
// characters (SetupAPI takes their sizes in bytes: 2048 and 8192 on Windows). Each buffer has one
// character more than is offered, always zero, so that an unterminated text still ends inside it.
const DWORD LinkSpeedNodeSetFlags = DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE;
const ULONG LinkSpeedInstanceIdChars = 200;
const DWORD LinkSpeedRegistryChars = 1024;
const DWORD LinkSpeedPropertyChars = 4096;

// The parent's maximum link speed (0 or more), or where the search stopped
// (inventory/link_speed_failures.h).
LONG GetPciMaxLinkSpeed(LPCWSTR deviceInstanceId, LPCWSTR logPath);
