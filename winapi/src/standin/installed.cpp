// The installed machine and module, the counters and the requests a run made.
#include "standin/installed.h"

#include "kernel32/devices.h"
#include "kernel32/handles.h"
#include "kernel32/heap.h"
#include "kernel32/loader.h"
#include "kernel32/paths.h"

#include <sim/text.h>

#include <unistd.h>

namespace {

struct Installed {
    sim::Machine machine;
    sim::Module module;
    std::optional<SYSTEMTIME> clock;
    sim::Counters counters;
    std::vector<sim::IoRequest> requests;
    std::vector<sim::OpenRequest> opens;
};

Installed& State() {
    static Installed state;
    return state;
}

std::string RunningBinaryPath() {
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) {
        return "/destpick.exe";
    }
    return std::string(buffer, static_cast<size_t>(length));
}

// On Windows every disk interface belongs to a device node. A description may leave a disk's
// node out; the node is there all the same, with its ID and nothing else to tell.
void AddUndescribedDiskNodes(sim::Machine& machine) {
    for (const sim::Disk& disk : machine.disks) {
        const std::optional<std::wstring> id = sim::InterfaceInstanceId(disk.path);
        if (!id) {
            continue;
        }
        bool described = false;
        for (const sim::DeviceNode& node : machine.nodes) {
            described = described || sim::EqualsIgnoringCase(node.instanceId, *id);
        }
        for (const sim::EnumeratorSet& set : machine.enumeratorSets) {
            described = described || sim::EqualsIgnoringCase(set.enumerator, *id);
        }
        if (!described) {
            sim::DeviceNode node;
            node.instanceId = *id;
            machine.nodes.push_back(node);
        }
    }
}

} // namespace

namespace sim {

extern const char kDefaultMachineJson[];

Machine DefaultMachine() {
    return ParseMachine(kDefaultMachineJson, "the embedded default machine");
}

Module DefaultModule() {
    Module module;
    module.path = PosixToWindowsPath(RunningBinaryPath());
    module.version = Module::Version::Present;
    module.fileVersion[0] = DESTPICK_VERSION_MAJOR;
    module.fileVersion[1] = DESTPICK_VERSION_MINOR;
    module.fileVersion[2] = DESTPICK_VERSION_PATCH;
    module.fileVersion[3] = DESTPICK_VERSION_TWEAK;
    return module;
}

void Install(const Machine& machine, const Module& module) {
    Installed& state = State();
    // A fresh copy rather than an assignment into the previous machine's buffers: a run sees the
    // same memory whatever ran before it (an empty reply has no bytes to point at, ever).
    state.machine = sim::Machine(machine);
    AddUndescribedDiskNodes(state.machine);
    state.module = module;
    state.requests.clear();
    state.opens.clear();
    ResetDeviceAccounting();
    ResetLoader();
    int openHandles = state.counters.openHandles;
    int liveSets = state.counters.liveDeviceInfoSets;
    state.counters = Counters{};
    // Handles and sets belong to the process, not to the machine: they stay counted.
    state.counters.openHandles = openHandles;
    state.counters.liveDeviceInfoSets = liveSets;
    ResetHeapAccounting();
    CaptureConsole(false);
}

const Machine& CurrentMachine() {
    return State().machine;
}

const Module& CurrentModule() {
    return State().module;
}

void SetClock(std::optional<SYSTEMTIME> fixed) {
    State().clock = fixed;
}

const std::optional<SYSTEMTIME>& FixedClock() {
    return State().clock;
}

Counters CurrentCounters() {
    Counters counters = State().counters;
    counters.openHandles = OpenHandleCount();
    counters.liveHeapBlocks = LiveHeapBlocks();
    counters.peakHeapBytes = PeakHeapBytes();
    return counters;
}

const std::vector<IoRequest>& IoRequests() {
    return State().requests;
}

const std::vector<OpenRequest>& OpenRequests() {
    return State().opens;
}

Counters& RunCounters() {
    return State().counters;
}

void RecordIoRequest(const IoRequest& request) {
    State().requests.push_back(request);
}

void RecordOpenRequest(const OpenRequest& request) {
    State().opens.push_back(request);
}

} // namespace sim
