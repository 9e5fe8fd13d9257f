// Runs the whole system on machines made from the fuzzer's bytes: any number of disks and
// interfaces, odd paths, storage replies of any length and content, layouts that fail, device
// nodes and controllers answering anything. Whatever the machine says, a run must not crash and
// must keep the rules in run_checks.cpp: above all, a reported disk is one the run probed and
// kept, and its number is the one that disk answered. A machine one capture sees whole must also
// replay from its capture as itself.
//
// An input that starts with '{' is read as a machine description, so the shipped examples seed
// the corpus and their mutations stay close to real machines.
#include "capture_replay.h"
#include "run_checks.h"

#include "inventory/device_id.h"
#include "inventory/drive_record.h"
#include "selection/run_driver.h"

#include <sim/disk_requests.h>
#include <sim/replies.h>
#include <sim/standin.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::wstring Text(FuzzedDataProvider& data, size_t maximum) {
    std::wstring text;
    size_t length = data.ConsumeIntegralInRange<size_t>(0, maximum);
    for (size_t i = 0; i < length && data.remaining_bytes() > 0; ++i) {
        // Mostly printable, sometimes anything a 16-bit unit can hold but the terminator.
        text += data.ConsumeBool()
                    ? static_cast<wchar_t>(data.ConsumeIntegralInRange<int>(0x20, 0x7E))
                    : static_cast<wchar_t>(data.ConsumeIntegralInRange<int>(1, 0xFFFF));
    }
    return text;
}

std::vector<BYTE> Bytes(FuzzedDataProvider& data, size_t maximum) {
    return data.ConsumeBytes<BYTE>(data.ConsumeIntegralInRange<size_t>(0, maximum));
}

std::wstring DevicePath(FuzzedDataProvider& data, int k) {
    static const wchar_t* const markers[] = {L"", L"intel_mem", L"intel_hbr", L"optane", L"Optane"};
    switch (data.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
        return L"\\\\?\\scsi#disk&ven_" +
               std::wstring(markers[data.ConsumeIntegralInRange<int>(0, 4)]) + L"&prod_" +
               std::to_wstring(k) + L"#4&2c41e0aa&0&0" + std::to_wstring(k) +
               L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    case 1:
        return L"\\\\?\\" + std::wstring(data.ConsumeIntegralInRange<size_t>(200, 600), L'p') +
               L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    case 2:
        return L"";
    default:
        return Text(data, 300);
    }
}

sim::Reply TypedLayout(FuzzedDataProvider& data) {
    std::vector<sim::Partition> partitions(data.ConsumeIntegralInRange<size_t>(0, 8));
    static const wchar_t* const types[] = {L"C12A7328-F81F-11D2-BA4B-00A0C93EC93B",
                                           L"c12a7328-f81f-11d2-ba4b-00a0c93ec93b",
                                           L"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", L""};
    for (sim::Partition& partition : partitions) {
        partition.length = data.ConsumeIntegral<LONGLONG>();
        partition.gptType = types[data.ConsumeIntegralInRange<int>(0, 3)];
        std::wstring name = Text(data, 40);
        for (size_t i = 0; i < name.size() && i < 36; ++i) {
            partition.nameUnits.push_back(static_cast<WORD>(name[i]));
        }
        partition.bootIndicator = data.ConsumeBool();
    }
    const PARTITION_STYLE styles[] = {PARTITION_STYLE_MBR, PARTITION_STYLE_GPT,
                                      PARTITION_STYLE_RAW};
    LONG reported = data.ConsumeBool() ? -1 : data.ConsumeIntegral<LONG>();
    return sim::LayoutReply(styles[data.ConsumeIntegralInRange<int>(0, 2)], partitions, reported);
}

using TypedReply = sim::Reply (*)(FuzzedDataProvider&);

// Well-formed replies of each kind with values from the fuzzer, by the request's description key.
// A request without one here gets bytes of its structure's size in their place.
const struct {
    const char* key;
    TypedReply make;
} kTypedReplies[] = {
    {"deviceNumber",
     [](FuzzedDataProvider& d) {
         return sim::DeviceNumberReply(d.ConsumeIntegral<DWORD>(), d.ConsumeIntegral<DWORD>());
     }},
    {"deviceDescriptor",
     [](FuzzedDataProvider& d) {
         return sim::DeviceDescriptorReply(
             static_cast<STORAGE_BUS_TYPE>(d.ConsumeIntegralInRange<int>(0, 20)), d.ConsumeBool(),
             d.ConsumeIntegral<BYTE>());
     }},
    {"seekPenalty", [](FuzzedDataProvider& d) { return sim::SeekPenaltyReply(d.ConsumeBool()); }},
    {"geometry",
     [](FuzzedDataProvider& d) {
         return sim::GeometryReply(d.ConsumeIntegral<LONGLONG>(), d.ConsumeIntegral<DWORD>(),
                                   d.ConsumeIntegral<DWORD>(), d.ConsumeIntegral<DWORD>());
     }},
    {"scsiAddress",
     [](FuzzedDataProvider& d) {
         return sim::ScsiAddressReply(d.ConsumeIntegral<BYTE>(), d.ConsumeIntegral<BYTE>(),
                                      d.ConsumeIntegral<BYTE>(), d.ConsumeIntegral<BYTE>());
     }},
    {"layout", TypedLayout},
};

sim::Reply Typed(FuzzedDataProvider& data, const sim::DiskRequest& request) {
    for (const auto& typed : kTypedReplies) {
        if (std::strcmp(typed.key, request.key) == 0) {
            return typed.make(data);
        }
    }
    return sim::Reply{data.ConsumeBytes<BYTE>(request.structureSize), std::nullopt};
}

std::optional<sim::Reply> AnyReply(FuzzedDataProvider& data, const sim::DiskRequest& request) {
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return std::nullopt;
    case 1:
        return sim::FailingReply(data.ConsumeIntegral<DWORD>());
    case 2:
        return sim::Reply{Bytes(data, 400), std::nullopt};
    default:
        return Typed(data, request);
    }
}

sim::Disk AnyDisk(FuzzedDataProvider& data, int k) {
    sim::Disk disk;
    disk.path = DevicePath(data, k);
    disk.detailReportsNoSize = data.ConsumeIntegralInRange<int>(0, 15) == 0;
    if (data.ConsumeIntegralInRange<int>(0, 15) == 0) {
        disk.detailError = data.ConsumeIntegral<DWORD>();
    }
    if (data.ConsumeIntegralInRange<int>(0, 7) == 0) {
        disk.openError = data.ConsumeIntegral<DWORD>();
    }
    for (const sim::DiskRequest& request : sim::DiskRequests()) {
        if (std::optional<sim::Reply> reply = AnyReply(data, request)) {
            disk.replies[request.request] = *reply;
        }
    }
    // A layout that never fits costs a thousand attempts: rare, but it must be reached.
    const int failures = data.ConsumeIntegralInRange<int>(0, 63);
    const DWORD failureError = data.ConsumeIntegral<DWORD>();
    for (auto& [request, reply] : disk.replies) {
        if (sim::FindDiskRequest(request)->handOver.scriptedFailures) {
            reply.failures = failures == 63 ? -1 : failures % 8;
            reply.failureError = failureError;
        }
    }
    return disk;
}

sim::DeviceNode AnyNode(FuzzedDataProvider& data, const sim::Machine& machine) {
    sim::DeviceNode node;
    // Often the ID the probe derives for one of the disks, so that the lookup finds it.
    if (!machine.disks.empty() && data.ConsumeBool()) {
        const sim::Disk& disk =
            machine.disks[data.ConsumeIntegralInRange<size_t>(0, machine.disks.size() - 1)];
        WCHAR id[DriveTextChars];
        DevicePathToDeviceId(disk.path.c_str(), id);
        node.instanceId = id;
    } else {
        node.instanceId =
            data.ConsumeBool()
                ? L"PCI\\PARENT" + std::to_wstring(data.ConsumeIntegralInRange<int>(0, 3))
                : Text(data, 300);
    }
    node.idFails = data.ConsumeIntegralInRange<int>(0, 7) == 0;
    auto maybeText = [&data]() -> std::optional<std::wstring> {
        if (data.ConsumeBool()) {
            return std::nullopt;
        }
        return data.ConsumeIntegralInRange<int>(0, 7) == 0 ? Text(data, 3000) : Text(data, 60);
    };
    node.registryDescription = maybeText();
    node.deviceDescription = maybeText();
    node.busReportedDescription = maybeText();
    if (data.ConsumeBool()) {
        node.parent = L"PCI\\PARENT" + std::to_wstring(data.ConsumeIntegralInRange<int>(0, 3));
    } else {
        node.parent = maybeText();
    }
    if (data.ConsumeBool()) {
        node.maxLinkSpeed = Bytes(data, 12);
    }
    return node;
}

sim::Controller AnyController(FuzzedDataProvider& data) {
    sim::Controller controller;
    controller.open = static_cast<sim::Controller::Open>(data.ConsumeIntegralInRange<int>(0, 2));
    controller.openError = data.ConsumeIntegral<DWORD>();
    controller.answer.result = data.ConsumeBool();
    controller.answer.lastError = data.ConsumeIntegral<DWORD>();
    controller.answer.bytesReturned = data.ConsumeIntegral<DWORD>();
    controller.answer.reply =
        data.ConsumeBool()
            ? sim::RaidReply(data.ConsumeIntegral<DWORD>(), data.ConsumeIntegral<LONG>(),
                             data.ConsumeIntegral<LONG>(), data.ConsumeIntegral<LONG>(),
                             data.ConsumeIntegral<LONG>())
            : Bytes(data, 80);
    return controller;
}

sim::Machine MachineFromBytes(FuzzedDataProvider& data) {
    sim::Machine machine;
    const int disks = data.ConsumeIntegralInRange<int>(0, 12);
    for (int k = 0; k < disks; ++k) {
        machine.disks.push_back(AnyDisk(data, k));
    }
    // The counting pass and the probe may see different interfaces, in any number.
    if (!machine.disks.empty() && data.ConsumeBool()) {
        for (int list = 0; list < 2; ++list) {
            std::vector<size_t> members(data.ConsumeIntegralInRange<size_t>(0, 16));
            for (size_t& member : members) {
                member = data.ConsumeIntegralInRange<size_t>(0, machine.disks.size() - 1);
            }
            machine.interfaceLists.push_back(members);
        }
    }
    machine.classQueryFails = data.ConsumeIntegralInRange<int>(0, 31) == 0;
    const int nodes = data.ConsumeIntegralInRange<int>(0, 8);
    for (int i = 0; i < nodes; ++i) {
        machine.nodes.push_back(AnyNode(data, machine));
    }
    if (!machine.nodes.empty() && data.ConsumeBool()) {
        sim::EnumeratorSet set;
        set.enumerator = machine.nodes[0].instanceId;
        set.refused = data.ConsumeBool();
        set.members.resize(data.ConsumeIntegralInRange<size_t>(0, 4));
        for (size_t& member : set.members) {
            member = data.ConsumeIntegralInRange<size_t>(0, machine.nodes.size() - 1);
        }
        machine.enumeratorSets.push_back(set);
    }
    machine.controllers.resize(data.ConsumeIntegralInRange<size_t>(0, 5));
    for (sim::Controller& controller : machine.controllers) {
        controller = AnyController(data);
    }
    machine.devicePropertyFunctionMissing = data.ConsumeIntegralInRange<int>(0, 7) == 0;
    return machine;
}

// How the run starts: the module's path and version resource, and at most one heap allocation
// that fails. Bytes left after a machine made of bytes choose it; without them, and for a machine
// description, the run starts as usual.
struct Start {
    enum class Path { Usual, NoExtension, NoFolder, NearTheLimit };
    sim::Module::Version version = sim::Module::Version::Present;
    Path path = Path::Usual;
    size_t pathLength = 0;       // near the limit: the module path's length
    bool shortExtension = false; // near the limit: ".x", two characters less than ".log"
    int failingAllocation = -1;
    SIZE_T failingMinimum = 0;
};

Start StartFromBytes(FuzzedDataProvider& data) {
    Start start;
    const int version = data.ConsumeIntegralInRange<int>(0, 7);
    if (version > 4) {
        start.version = static_cast<sim::Module::Version>(version - 4);
    }
    switch (data.ConsumeIntegralInRange<int>(0, 7)) {
    case 5:
        start.path = Start::Path::NoExtension;
        break;
    case 6:
        start.path = Start::Path::NoFolder;
        break;
    case 7:
        // Around the limit of 255 characters, where the module path or the log path no longer
        // fits.
        start.path = Start::Path::NearTheLimit;
        start.pathLength = data.ConsumeIntegralInRange<size_t>(250, 258);
        start.shortExtension = data.ConsumeBool();
        break;
    default:
        break;
    }
    switch (data.ConsumeIntegralInRange<int>(0, 7)) {
    case 6:
        // The version text or block, before the first log entry.
        start.failingAllocation = data.ConsumeIntegralInRange<int>(0, 1);
        break;
    case 7:
        // Records, long interface details, later layout buffers: blocks of 1024 bytes or more,
        // which a log entry (at most 1023 characters) never needs.
        start.failingAllocation = data.ConsumeIntegralInRange<int>(0, 15);
        start.failingMinimum = 1024;
        break;
    default:
        break;
    }
    return start;
}

std::wstring ModulePath(const Start& start, const std::wstring& folder) {
    switch (start.path) {
    case Start::Path::NoExtension:
        return folder + L"\\destpick";
    case Start::Path::NoFolder:
        return L"destpick.exe";
    case Start::Path::NearTheLimit: {
        const std::wstring extension = start.shortExtension ? L".x" : L".exe";
        std::wstring path = folder + L"\\destpick";
        path.append(start.pathLength - std::min(start.pathLength, path.size() + extension.size()),
                    L'x');
        return path + extension;
    }
    default:
        return folder + L"\\destpick.exe";
    }
}

// Where the run's log goes. The fast build keeps it in memory, where an entry costs no system
// call; the replay under AddressSanitizer writes it to a file, so that the stand-in's file
// functions meet every fuzzed entry too.
class LogPlace {
  public:
    LogPlace() : posixFolder_(kLogOnDisk ? ScratchFolder() : std::string("/destpick-fuzz")) {
        folder_ = L"Z:";
        for (char c : posixFolder_) {
            folder_ += c == '/' ? L'\\' : static_cast<wchar_t>(c);
        }
    }

    // The scratch folder goes when the process ends normally; after a finding it stays, with
    // the log of the run that broke a rule.
    ~LogPlace() {
        if (kLogOnDisk) {
            std::remove(lastLog_.c_str());
            rmdir(posixFolder_.c_str());
        }
    }
    LogPlace(const LogPlace&) = delete;
    LogPlace& operator=(const LogPlace&) = delete;

    const std::wstring& Folder() const {
        return folder_;
    }

    // Starts the next run with no log.
    void Clear() const {
        if (kLogOnDisk) {
            std::remove(lastLog_.c_str());
        } else {
            sim::KeepFilesInMemory(folder_);
        }
    }

    // The log beside the module, named after it: its name up to the last dot, then ".log".
    // Empty when the module has no folder or no extension (the run then writes none).
    std::string Take(const std::wstring& modulePath) const {
        const size_t slash = modulePath.rfind(L'\\');
        const size_t dot = modulePath.rfind(L'.');
        if (slash == std::wstring::npos || modulePath.compare(0, slash, folder_) != 0 ||
            dot == std::wstring::npos || dot < slash) {
            return std::string();
        }
        const std::wstring name = modulePath.substr(slash + 1, dot - slash - 1) + L".log";
        if (!kLogOnDisk) {
            return sim::MemoryFileBytes(folder_ + L"\\" + name);
        }
        lastLog_ = posixFolder_ + "/" + std::string(name.begin(), name.end());
        std::ifstream file(lastLog_, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

  private:
#ifdef DESTPICK_FUZZ_LOG_ON_DISK
    static constexpr bool kLogOnDisk = true;
#else
    static constexpr bool kLogOnDisk = false;
#endif

    static std::string ScratchFolder() {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                              std::string("/destpick-fuzz-XXXXXX");
        if (mkdtemp(&pattern[0]) == nullptr) {
            std::fprintf(stderr, "machine_fuzzer: cannot create a scratch folder\n");
            std::abort();
        }
        return pattern;
    }

    std::string posixFolder_;
    std::wstring folder_;
    mutable std::string lastLog_; // on disk: the log last taken, removed before the next run
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static const LogPlace log;
    static const sim::Module usualModule = sim::DefaultModule();
    sim::Machine machine;
    Start start;
    if (size > 0 && bytes[0] == '{') {
        try {
            machine =
                sim::ParseMachine(std::string(reinterpret_cast<const char*>(bytes), size), "input");
        } catch (const sim::MachineError&) {
            return -1;
        }
    } else {
        FuzzedDataProvider data(bytes, size);
        machine = MachineFromBytes(data);
        start = StartFromBytes(data);
        // What the loader refuses is no machine: a controller's name as a disk's path.
        for (const sim::Disk& disk : machine.disks) {
            if (sim::NamesController(disk.path)) {
                return -1;
            }
        }
    }
    sim::Module module = usualModule;
    module.path = ModulePath(start, log.Folder());
    module.version = start.version;
    const RunOn runOn = [&module, &start](const sim::Machine& target) {
        log.Clear();
        sim::Install(target, module);
        sim::SetClock(FuzzClock());
        sim::FailHeapAllocation(start.failingAllocation, start.failingMinimum);
        sim::CaptureConsole(true);
        RunOutcome outcome;
        outcome.exitCode = RunDestinationPick();
        outcome.output = sim::ConsoleText();
        sim::CaptureConsole(false);
        outcome.log = log.Take(module.path);
        return outcome;
    };
    const RunOutcome outcome = runOn(machine);
    CheckRun(outcome.exitCode, outcome.output, outcome.log);
    CheckCaptureReplays(machine, outcome, runOn);
    return 0;
}
