// The device nodes the PCIe link speed lookup visits: the nodes a disk's instance ID names, and the
// nodes its parent's ID names, with the IDs, descriptions and properties the lookup reads.
#pragma once

#include <sim/machine.h>

#include "inventory/device_services.h"

#include <string>
#include <vector>

// What one node query answered. Kept until every node is known: only then can the answer be
// written in the form that replays it.
struct NodeQuery {
    std::wstring enumerator;
    bool refused = false;
    std::vector<size_t> members; // indexes into NodeCapture::nodes
};

struct NodeCapture {
    DevicePropertyFunction getProperty =
        NULL; // null when SetupAPI has no SetupDiGetDevicePropertyW
    std::vector<sim::DeviceNode> nodes;
    std::vector<DWORD> devInsts; // the handle each entry of nodes was first found by
    std::vector<NodeQuery> queries;
};

// The nodes the lookup would visit for a disk of this instance ID, whatever the disk's bus.
void CaptureDiskNodes(NodeCapture& capture, const std::wstring& deviceInstanceId);

// The nodes into the machine, each query's answer as the nodes' own IDs give it where they do, and
// as a scripted set where they do not.
void RecordNodes(const NodeCapture& capture, sim::Machine& machine);
