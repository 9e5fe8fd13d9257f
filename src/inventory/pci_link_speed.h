// The PCI Express link speed of an NVMe disk, read from its parent's device properties.
#pragma once

#include <windows.h>

// The parent's maximum link speed (0 or more), or where the search stopped: -1 no set for the
// disk's instance ID, -2 no node of it gave a parent, -3 no set for the parent, -4 no node of the
// parent gave the speed.
LONG GetPciMaxLinkSpeed(LPCWSTR deviceInstanceId, LPCWSTR logPath);
