// The SetupAPI side of the inventory: the disk interface class and its enumeration, shared by the
// run driver's counting pass and the probe so that both walk the same interfaces in one order.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <devpropdef.h>

// GUID_DEVINTERFACE_DISK, held here because the SDK headers' own definition depends on the
// order in which they are included.
extern const GUID DiskInterfaceClass;

const DWORD DiskInterfaceQueryFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

// The present disk interfaces, or INVALID_HANDLE_VALUE.
HDEVINFO OpenDiskInterfaceSet();

// Non-zero while the set has a member with that index, whose data then fills interfaceData.
BOOL EnumDiskInterface(HDEVINFO set, DWORD index, SP_DEVICE_INTERFACE_DATA* interfaceData);

// Non-zero while the set of device nodes has a member with that index, whose data then fills node.
BOOL EnumDeviceNode(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* node);

// The number of present disk interfaces; 0 when the class cannot be queried.
LONG CountDiskInterfaces();

typedef BOOL(WINAPI* DevicePropertyFunction)(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*,
                                             DEVPROPTYPE*, PBYTE, DWORD, PDWORD, DWORD);

// SetupDiGetDevicePropertyW of the SetupAPI already in the process, or null where the system has
// none. Looked up at run time rather than imported: systems without it (before Windows Vista, and
// some reduced images) would refuse to start the program over one missing import, when only the
// link speed needs it. The executable delay-loads SetupAPI, so ask after a SetupAPI call.
DevicePropertyFunction LookUpDevicePropertyFunction();
