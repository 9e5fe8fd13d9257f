// SetupAPI over the simulated machine: disk interfaces for the disk class, device nodes for an
// instance ID as enumerator, and the nodes' properties.
#include "standin/failure.h"
#include "standin/installed.h"

#include <sim/text.h>

#include <setupapi.h>
#include <devpkey.h>
#include <pciprop.h>

#include <algorithm>
#include <memory>
#include <set>

namespace {

const GUID kDiskInterfaceClass = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

struct DeviceInfoSet {
    bool interfaces = false; // disk interfaces (indexes into disks), else device nodes
    std::vector<size_t> members;
};

std::set<DeviceInfoSet*>& LiveSets() {
    static std::set<DeviceInfoSet*> sets;
    return sets;
}

// The live set a SetupAPI call is made on, the call counted; null after setting the error.
DeviceInfoSet* CalledOn(HDEVINFO set) {
    ++sim::RunCounters().setupApiCalls;
    auto* candidate = static_cast<DeviceInfoSet*>(set);
    if (LiveSets().count(candidate) == 0) {
        return sim::Fail(ERROR_INVALID_HANDLE, nullptr);
    }
    return candidate;
}

void TellSize(PDWORD requiredSize, DWORD size) {
    if (requiredSize != nullptr) {
        *requiredSize = size;
    }
}

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

HDEVINFO Publish(std::unique_ptr<DeviceInfoSet> set) {
    DeviceInfoSet* raw = set.release();
    LiveSets().insert(raw);
    ++sim::RunCounters().liveDeviceInfoSets;
    return raw;
}

std::vector<size_t> PresentInterfaces(int query) {
    const sim::Machine& machine = sim::CurrentMachine();
    std::vector<size_t> members;
    if (machine.interfaceLists.empty()) {
        for (size_t i = 0; i < machine.disks.size(); ++i) {
            members.push_back(i);
        }
        return members;
    }
    size_t list = std::min(static_cast<size_t>(query), machine.interfaceLists.size() - 1);
    for (size_t disk : machine.interfaceLists[list]) {
        if (disk < machine.disks.size()) {
            members.push_back(disk);
        }
    }
    return members;
}

HDEVINFO BuildInterfaceSet() {
    const int query = sim::RunCounters().classQueries++;
    if (sim::CurrentMachine().classQueryFails) {
        return sim::Fail(ERROR_GEN_FAILURE, INVALID_HANDLE_VALUE);
    }
    auto set = std::make_unique<DeviceInfoSet>();
    set->interfaces = true;
    set->members = PresentInterfaces(query);
    return Publish(std::move(set));
}

// A query for device interfaces lists a node only while it has a present interface; a node
// that matches the ID but has none leaves the set empty, which is no error.
bool Listed(const sim::DeviceNode& node, DWORD flags) {
    const DWORD presentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
    return (flags & presentInterfaces) != presentInterfaces || node.hasPresentInterface;
}

HDEVINFO BuildNodeSet(const std::wstring& enumerator, DWORD flags) {
    const sim::Machine& machine = sim::CurrentMachine();
    auto set = std::make_unique<DeviceInfoSet>();
    for (const sim::EnumeratorSet& scripted : machine.enumeratorSets) {
        if (sim::EqualsIgnoringCase(scripted.enumerator, enumerator)) {
            if (scripted.refused) {
                return sim::Fail(ERROR_INVALID_DATA, INVALID_HANDLE_VALUE);
            }
            for (size_t node : scripted.members) {
                if (node < machine.nodes.size()) {
                    set->members.push_back(node);
                }
            }
            return Publish(std::move(set));
        }
    }
    bool known = false;
    for (size_t i = 0; i < machine.nodes.size(); ++i) {
        if (sim::EqualsIgnoringCase(machine.nodes[i].instanceId, enumerator)) {
            known = true;
            if (Listed(machine.nodes[i], flags)) {
                set->members.push_back(i);
            }
        }
    }
    if (!known) {
        return sim::Fail(ERROR_INVALID_DATA, INVALID_HANDLE_VALUE);
    }
    return Publish(std::move(set));
}

// The node an SP_DEVINFO_DATA names, the call counted; null after setting the error.
const sim::DeviceNode* NodeOf(HDEVINFO set, PSP_DEVINFO_DATA device) {
    if (CalledOn(set) == nullptr) {
        return nullptr;
    }
    const std::vector<sim::DeviceNode>& nodes = sim::CurrentMachine().nodes;
    if (device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA) || device->DevInst == 0 ||
        device->DevInst > nodes.size()) {
        return sim::Fail(ERROR_INVALID_PARAMETER, nullptr);
    }
    return &nodes[device->DevInst - 1];
}

BOOL CopyOut(const void* data, DWORD size, PBYTE buffer, DWORD bufferSize, PDWORD requiredSize) {
    TellSize(requiredSize, size);
    if (buffer == nullptr || bufferSize < size) {
        return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // An empty property has no data to point at: nothing is copied, and the call succeeds.
    if (size != 0) {
        std::memcpy(buffer, data, size);
    }
    return TRUE;
}

BOOL CopyText(const std::wstring& text, PBYTE buffer, DWORD bufferSize, PDWORD requiredSize) {
    return CopyOut(text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)), buffer,
                   bufferSize, requiredSize);
}

const std::optional<std::wstring>* TextProperty(const sim::DeviceNode& node,
                                                const DEVPROPKEY& key) {
    if (IsEqualDevPropKey(key, DEVPKEY_Device_BusReportedDeviceDesc)) {
        return &node.busReportedDescription;
    }
    if (IsEqualDevPropKey(key, DEVPKEY_Device_DeviceDesc)) {
        return &node.deviceDescription;
    }
    if (IsEqualDevPropKey(key, DEVPKEY_Device_Parent)) {
        return &node.parent;
    }
    return nullptr;
}

} // namespace

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags) {
    ++sim::RunCounters().setupApiCalls;
    if (classGuid != nullptr && SameGuid(*classGuid, kDiskInterfaceClass) &&
        enumerator == nullptr && (flags & DIGCF_DEVICEINTERFACE) != 0) {
        return BuildInterfaceSet();
    }
    if (classGuid == nullptr && enumerator != nullptr && (flags & DIGCF_ALLCLASSES) != 0) {
        return BuildNodeSet(enumerator, flags);
    }
    if (classGuid == nullptr && (flags & DIGCF_ALLCLASSES) == 0) {
        return sim::Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    return Publish(std::make_unique<DeviceInfoSet>());
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA,
                                        const GUID* interfaceClassGuid, DWORD memberIndex,
                                        PSP_DEVICE_INTERFACE_DATA interfaceData) {
    DeviceInfoSet* found = CalledOn(set);
    if (found == nullptr) {
        return FALSE;
    }
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (!found->interfaces || interfaceClassGuid == nullptr ||
        !SameGuid(*interfaceClassGuid, kDiskInterfaceClass) ||
        memberIndex >= found->members.size()) {
        return sim::Fail(ERROR_NO_MORE_ITEMS);
    }
    interfaceData->InterfaceClassGuid = kDiskInterfaceClass;
    interfaceData->Flags = SPINT_ACTIVE;
    interfaceData->Reserved = found->members[memberIndex] + 1;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                             DWORD detailSize, PDWORD requiredSize,
                                             PSP_DEVINFO_DATA) {
    if (CalledOn(set) == nullptr) {
        return FALSE;
    }
    const std::vector<sim::Disk>& disks = sim::CurrentMachine().disks;
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        interfaceData->Reserved == 0 || interfaceData->Reserved > disks.size()) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    if ((detail == nullptr && detailSize != 0) ||
        (detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    const sim::Disk& disk = disks[interfaceData->Reserved - 1];
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (disk.path.size() + 1) * sizeof(WCHAR));
    if (detail == nullptr && disk.detailReportsNoSize) {
        TellSize(requiredSize, 0);
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    if (detailSize < needed) {
        TellSize(requiredSize, needed);
        return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (disk.detailError) {
        return sim::Fail(*disk.detailError);
    }
    std::wmemcpy(detail->DevicePath, disk.path.c_str(), disk.path.size() + 1);
    TellSize(requiredSize, needed);
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, PSP_DEVINFO_DATA device) {
    DeviceInfoSet* found = CalledOn(set);
    if (found == nullptr) {
        return FALSE;
    }
    if (device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (found->interfaces || memberIndex >= found->members.size()) {
        return sim::Fail(ERROR_NO_MORE_ITEMS);
    }
    std::memset(&device->ClassGuid, 0, sizeof(GUID));
    device->DevInst = static_cast<DWORD>(found->members[memberIndex] + 1);
    device->Reserved = 0;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                              PDWORD regDataType, PBYTE buffer, DWORD bufferSize,
                                              PDWORD requiredSize) {
    const sim::DeviceNode* node = NodeOf(set, device);
    if (node == nullptr) {
        return FALSE;
    }
    if (property != SPDRP_DEVICEDESC || !node->registryDescription) {
        return sim::Fail(ERROR_INVALID_DATA);
    }
    if (regDataType != nullptr) {
        *regDataType = REG_SZ;
    }
    return CopyText(*node->registryDescription, buffer, bufferSize, requiredSize);
}

BOOL WINAPI SetupDiGetDevicePropertyW(HDEVINFO set, PSP_DEVINFO_DATA device, const DEVPROPKEY* key,
                                      DEVPROPTYPE* type, PBYTE buffer, DWORD bufferSize,
                                      PDWORD requiredSize, DWORD flags) {
    const sim::DeviceNode* node = NodeOf(set, device);
    if (node == nullptr) {
        return FALSE;
    }
    if (key == nullptr || type == nullptr) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (flags != 0) {
        return sim::Fail(ERROR_INVALID_FLAGS);
    }
    if (IsEqualDevPropKey(*key, DEVPKEY_PciDevice_MaxLinkSpeed) && node->maxLinkSpeed) {
        *type = DEVPROP_TYPE_UINT32;
        const std::vector<BYTE>& bytes = *node->maxLinkSpeed;
        return CopyOut(bytes.data(), static_cast<DWORD>(bytes.size()), buffer, bufferSize,
                       requiredSize);
    }
    const std::optional<std::wstring>* text = TextProperty(*node, *key);
    if (text == nullptr || !*text) {
        return sim::Fail(ERROR_NOT_FOUND);
    }
    *type = DEVPROP_TYPE_STRING;
    return CopyText(**text, buffer, bufferSize, requiredSize);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    DeviceInfoSet* found = CalledOn(set);
    if (found == nullptr) {
        return FALSE;
    }
    LiveSets().erase(found);
    delete found;
    --sim::RunCounters().liveDeviceInfoSets;
    return TRUE;
}
