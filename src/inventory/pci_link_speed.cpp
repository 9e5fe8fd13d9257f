#include "inventory/pci_link_speed.h"

#include "inventory/device_services.h"
#include "inventory/link_speed_failures.h"
#include "log/log_writer.h"

#include <setupapi.h>
#include <cfgmgr32.h>
// The property keys come from the SDK's own headers, defined (selectany) in each unit that reads
// them.
#include <initguid.h>
#include <devpkey.h>
#include <pciprop.h>

namespace {

struct NodeBuffers {
    WCHAR instanceId[LinkSpeedInstanceIdChars + 1];
    WCHAR registry[LinkSpeedRegistryChars + 1];
    WCHAR property[LinkSpeedPropertyChars + 1];
    WCHAR parent[LinkSpeedPropertyChars + 1];
};

struct Walk {
    DevicePropertyFunction getProperty;
    NodeBuffers* buffers;
    LPCWSTR logPath;
};

// Reads one property into the shared buffer, cleared first so that nothing of an earlier read
// shows through; minimumBytes guards the readers of fixed-size values.
bool ReadProperty(const Walk& walk, HDEVINFO set, SP_DEVINFO_DATA* node, const DEVPROPKEY& key,
                  DWORD minimumBytes) {
    ZeroMemory(walk.buffers->property, sizeof(walk.buffers->property));
    DEVPROPTYPE type = 0;
    DWORD required = 0;
    if (!walk.getProperty(set, node, &key, &type, reinterpret_cast<PBYTE>(walk.buffers->property),
                          LinkSpeedPropertyChars * sizeof(WCHAR), &required, 0)) {
        return false;
    }
    return required >= minimumBytes;
}

// The steps every visited node shares: its ID and registry description logged, then the gate on
// the bus-reported description. False when the node is to be passed over.
bool VisitNode(const Walk& walk, HDEVINFO set, SP_DEVINFO_DATA* node) {
    ZeroMemory(walk.buffers->instanceId, sizeof(walk.buffers->instanceId));
    if (CM_Get_Device_IDW(node->DevInst, walk.buffers->instanceId, LinkSpeedInstanceIdChars, 0) !=
        CR_SUCCESS) {
        return false;
    }
    LogMessage(walk.logPath, L"%s\r\n", walk.buffers->instanceId);
    ZeroMemory(walk.buffers->registry, sizeof(walk.buffers->registry));
    DWORD dataType = 0;
    DWORD required = 0;
    if (SetupDiGetDeviceRegistryPropertyW(set, node, SPDRP_DEVICEDESC, &dataType,
                                          reinterpret_cast<PBYTE>(walk.buffers->registry),
                                          LinkSpeedRegistryChars * sizeof(WCHAR), &required)) {
        LogMessage(walk.logPath, L"\tDevice Description: \"%s\"\r\n", walk.buffers->registry);
    }
    return walk.getProperty != NULL &&
           ReadProperty(walk, set, node, DEVPKEY_Device_BusReportedDeviceDesc, 0);
}

void LogBusReportedDescription(const Walk& walk, HDEVINFO set, SP_DEVINFO_DATA* node) {
    if (ReadProperty(walk, set, node, DEVPKEY_Device_BusReportedDeviceDesc, 0)) {
        LogMessage(walk.logPath, L"\tBus Reported Device Description: \"%s\"\r\n",
                   walk.buffers->property);
    }
}

// The disk's own nodes: each that passes the gate may give the parent; the last one wins.
LONG WalkDiskNodes(const Walk& walk, HDEVINFO set) {
    SP_DEVINFO_DATA node;
    bool haveParent = false;
    for (DWORD index = 0; EnumDeviceNode(set, index, &node); ++index) {
        if (!VisitNode(walk, set, &node)) {
            continue;
        }
        if (ReadProperty(walk, set, &node, DEVPKEY_Device_DeviceDesc, 0)) {
            LogMessage(walk.logPath, L"\tDevice Description: \"%s\"\r\n", walk.buffers->property);
        }
        LogBusReportedDescription(walk, set, &node);
        if (ReadProperty(walk, set, &node, DEVPKEY_Device_Parent, 0)) {
            LogMessage(walk.logPath, L"\tDevice Parent: \"%ls\"\n", walk.buffers->property);
            CopyMemory(walk.buffers->parent, walk.buffers->property, sizeof(walk.buffers->parent));
            haveParent = true;
        }
    }
    return haveParent ? 0 : NoParent;
}

// The parent's nodes: the first that passes the gate and has the speed gives the answer.
LONG WalkParentNodes(const Walk& walk, HDEVINFO set) {
    SP_DEVINFO_DATA node;
    for (DWORD index = 0; EnumDeviceNode(set, index, &node); ++index) {
        if (!VisitNode(walk, set, &node)) {
            continue;
        }
        LogBusReportedDescription(walk, set, &node);
        if (ReadProperty(walk, set, &node, DEVPKEY_PciDevice_MaxLinkSpeed, sizeof(WORD))) {
            const BYTE* data = reinterpret_cast<const BYTE*>(walk.buffers->property);
            const LONG speed = static_cast<LONG>(data[0] | (data[1] << 8));
            LogMessage(walk.logPath, L"\tDevice Pci max speed: \"%d\"\n", speed);
            return speed;
        }
    }
    return NoLinkSpeed;
}

} // namespace

LONG GetPciMaxLinkSpeed(LPCWSTR deviceInstanceId, LPCWSTR logPath) {
    NodeBuffers buffers;
    ZeroMemory(&buffers, sizeof(buffers));
    HDEVINFO diskSet = SetupDiGetClassDevsW(NULL, deviceInstanceId, NULL, LinkSpeedNodeSetFlags);
    if (diskSet == INVALID_HANDLE_VALUE) {
        return NoDiskSet;
    }
    // Looked up after a SetupAPI call: the executable delay-loads SetupAPI, so before its first
    // call the library is not in the process and the function would seem missing.
    Walk walk = {LookUpDevicePropertyFunction(), &buffers, logPath};
    const LONG parentFound = WalkDiskNodes(walk, diskSet);
    SetupDiDestroyDeviceInfoList(diskSet);
    if (parentFound != 0) {
        return parentFound;
    }
    HDEVINFO parentSet = SetupDiGetClassDevsW(NULL, buffers.parent, NULL, LinkSpeedNodeSetFlags);
    if (parentSet == INVALID_HANDLE_VALUE) {
        return NoParentSet;
    }
    const LONG speed = WalkParentNodes(walk, parentSet);
    SetupDiDestroyDeviceInfoList(parentSet);
    return speed;
}
