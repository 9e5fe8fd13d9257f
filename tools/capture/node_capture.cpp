#include "node_capture.h"

#include "inventory/pci_link_speed.h"

#include <sim/text.h>

#include <cfgmgr32.h>
#include <initguid.h>
#include <devpkey.h>
#include <pciprop.h>

#include <algorithm>
#include <optional>

namespace {

// Texts are read as the lookup reads them: into a zero-filled buffer one character longer than the
// room offered, up to the first terminator.
std::optional<std::wstring> RegistryDescription(HDEVINFO set, SP_DEVINFO_DATA* node) {
    std::vector<WCHAR> buffer(LinkSpeedRegistryChars + 1, L'\0');
    DWORD dataType = 0;
    DWORD required = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, node, SPDRP_DEVICEDESC, &dataType,
                                           reinterpret_cast<PBYTE>(buffer.data()),
                                           LinkSpeedRegistryChars * sizeof(WCHAR), &required)) {
        return std::nullopt;
    }
    return std::wstring(buffer.data());
}

// The property's data in the lookup's buffer, and the size Windows reported for it.
bool ReadProperty(const NodeCapture& capture, HDEVINFO set, SP_DEVINFO_DATA* node,
                  const DEVPROPKEY& key, std::vector<WCHAR>& buffer, DWORD& required) {
    buffer.assign(LinkSpeedPropertyChars + 1, L'\0');
    DEVPROPTYPE type = 0;
    required = 0;
    return capture.getProperty(set, node, &key, &type, reinterpret_cast<PBYTE>(buffer.data()),
                               LinkSpeedPropertyChars * sizeof(WCHAR), &required, 0) != FALSE;
}

std::optional<std::wstring> PropertyText(const NodeCapture& capture, HDEVINFO set,
                                         SP_DEVINFO_DATA* node, const DEVPROPKEY& key) {
    std::vector<WCHAR> buffer;
    DWORD required = 0;
    if (!ReadProperty(capture, set, node, key, buffer, required)) {
        return std::nullopt;
    }
    return std::wstring(buffer.data());
}

// The link speed as raw bytes, as many as Windows reported: the lookup takes its first two bytes
// only when there are two.
std::optional<std::vector<BYTE>> PropertyData(const NodeCapture& capture, HDEVINFO set,
                                              SP_DEVINFO_DATA* node, const DEVPROPKEY& key) {
    std::vector<WCHAR> buffer;
    DWORD required = 0;
    if (!ReadProperty(capture, set, node, key, buffer, required)) {
        return std::nullopt;
    }
    const BYTE* data = reinterpret_cast<const BYTE*>(buffer.data());
    return std::vector<BYTE>(
        data, data + std::min<DWORD>(required, LinkSpeedPropertyChars * sizeof(WCHAR)));
}

// The node's instance ID as the lookup reads it; none when Windows does not tell it.
std::optional<std::wstring> InstanceId(DEVINST devInst) {
    std::vector<WCHAR> id(LinkSpeedInstanceIdChars + 1, L'\0');
    if (CM_Get_Device_IDW(devInst, id.data(), LinkSpeedInstanceIdChars, 0) != CR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(id.data());
}

// Everything the lookup may read of a node, whichever role it plays: a disk's node reads its
// descriptions and parent, a parent its link speed. A node whose ID cannot be read is passed over
// by the lookup, so nothing more is asked of it.
sim::DeviceNode ReadNode(const NodeCapture& capture, HDEVINFO set, SP_DEVINFO_DATA* data,
                         const std::optional<std::wstring>& id, const std::wstring& enumerator) {
    sim::DeviceNode node;
    if (!id) {
        node.idFails = true;
        // Its own ID is never told: the ID that found it stands in for it.
        node.instanceId = enumerator;
        return node;
    }
    node.instanceId = *id;
    node.registryDescription = RegistryDescription(set, data);
    if (capture.getProperty != NULL) {
        node.busReportedDescription =
            PropertyText(capture, set, data, DEVPKEY_Device_BusReportedDeviceDesc);
        node.deviceDescription = PropertyText(capture, set, data, DEVPKEY_Device_DeviceDesc);
        node.parent = PropertyText(capture, set, data, DEVPKEY_Device_Parent);
        node.maxLinkSpeed = PropertyData(capture, set, data, DEVPKEY_PciDevice_MaxLinkSpeed);
    }
    return node;
}

// A node found again, by another query or twice in one set, is the same node: the same handle
// with the same ID. Windows keeps a node's handle for the life of the process; Wine hands the
// handles of a destroyed set out again, to other nodes, so the handle alone does not tell.
size_t NodeIndex(NodeCapture& capture, HDEVINFO set, SP_DEVINFO_DATA* data,
                 const std::wstring& enumerator) {
    const std::optional<std::wstring> id = InstanceId(data->DevInst);
    for (size_t i = 0; i < capture.nodes.size(); ++i) {
        const sim::DeviceNode& known = capture.nodes[i];
        if (capture.devInsts[i] == data->DevInst && known.idFails == !id &&
            (!id || known.instanceId == *id)) {
            return i;
        }
    }
    capture.nodes.push_back(ReadNode(capture, set, data, id, enumerator));
    capture.devInsts.push_back(data->DevInst);
    return capture.nodes.size() - 1;
}

// The lookup's node query for an ID; an ID asked before (as the lookup would for two disks of one
// parent) is answered from the first time. IDs compare as the replaying stand-in compares them,
// so that a replay finds by ID exactly the nodes found here.
NodeQuery Query(NodeCapture& capture, const std::wstring& enumerator) {
    for (const NodeQuery& asked : capture.queries) {
        if (sim::EqualsIgnoringCase(asked.enumerator, enumerator)) {
            return asked;
        }
    }
    NodeQuery query;
    query.enumerator = enumerator;
    HDEVINFO set = SetupDiGetClassDevsW(NULL, enumerator.c_str(), NULL, LinkSpeedNodeSetFlags);
    if (set == INVALID_HANDLE_VALUE) {
        query.refused = true;
    } else {
        SP_DEVINFO_DATA node;
        for (DWORD index = 0; EnumDeviceNode(set, index, &node); ++index) {
            query.members.push_back(NodeIndex(capture, set, &node, enumerator));
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    capture.queries.push_back(query);
    return query;
}

// The parent the lookup goes on with: that of the last node that passes its gate (a bus-reported
// description) and has one.
std::optional<std::wstring> ParentFollowed(const NodeCapture& capture, const NodeQuery& query) {
    std::optional<std::wstring> parent;
    for (size_t member : query.members) {
        const sim::DeviceNode& node = capture.nodes[member];
        if (!node.idFails && node.busReportedDescription && node.parent) {
            parent = node.parent;
        }
    }
    return parent;
}

// What a replay's query for the ID holds without a script: every node of that ID, in order. Every
// node recorded here was listed by a query for present interfaces, so none is left out for want
// of one.
std::vector<size_t> NodesNamed(const std::vector<sim::DeviceNode>& nodes,
                               const std::wstring& enumerator) {
    std::vector<size_t> named;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (sim::EqualsIgnoringCase(nodes[i].instanceId, enumerator)) {
            named.push_back(i);
        }
    }
    return named;
}

} // namespace

void CaptureDiskNodes(NodeCapture& capture, const std::wstring& deviceInstanceId) {
    const std::optional<std::wstring> parent =
        ParentFollowed(capture, Query(capture, deviceInstanceId));
    if (parent) {
        Query(capture, *parent);
    }
}

void RecordNodes(const NodeCapture& capture, sim::Machine& machine) {
    machine.nodes = capture.nodes;
    // An empty answer is scripted too: whether the ID names no node at all or a node without a
    // present interface, the capture cannot tell.
    for (const NodeQuery& query : capture.queries) {
        if (query.refused || query.members.empty() ||
            query.members != NodesNamed(capture.nodes, query.enumerator)) {
            sim::EnumeratorSet set;
            set.enumerator = query.enumerator;
            set.refused = query.refused;
            set.members = query.members;
            machine.enumeratorSets.push_back(set);
        }
    }
}
