// The configuration manager over the simulated machine: a device node's instance ID. Device
// instance handles are the node's index plus one, as SetupDiEnumDeviceInfo hands them out.
#include "standin/installed.h"

#include <cfgmgr32.h>

CONFIGRET WINAPI CM_Get_Device_IDW(DEVINST devInst, PWSTR buffer, ULONG bufferLength, ULONG flags) {
    ++sim::RunCounters().setupApiCalls;
    const std::vector<sim::DeviceNode>& nodes = sim::CurrentMachine().nodes;
    if (devInst == 0 || devInst > nodes.size() || nodes[devInst - 1].idFails) {
        return CR_NO_SUCH_DEVNODE;
    }
    if (buffer == nullptr || flags != 0) {
        return CR_INVALID_DEVNODE;
    }
    const std::wstring& id = nodes[devInst - 1].instanceId;
    if (id.size() + 1 > bufferLength) {
        return CR_BUFFER_SMALL;
    }
    std::wmemcpy(buffer, id.c_str(), id.size() + 1);
    return CR_SUCCESS;
}
