// A captured machine replays as the machine itself. For every example machine and for a few
// hundred generated ones, the system run on the capture prints, exits and logs exactly as it does
// on the machine; the capture asked every request the system asked, with the same input, room and
// open modes, wrote nothing and sent nothing the devices do not know.
#include "capture.h"

#include "inventory/device_id.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ntddscsi.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <tuple>

namespace {

const std::wstring kFolder = L"Z:\\destpick-capture-test";

typedef std::tuple<std::wstring, DWORD, std::vector<BYTE>, DWORD> Request;
typedef std::tuple<std::wstring, DWORD, DWORD, DWORD, DWORD> Open;

std::set<Request> RequestsSent() {
    std::set<Request> sent;
    for (const sim::IoRequest& r : sim::IoRequests()) {
        sent.insert(Request(r.device, r.code, r.input, r.outputSize));
    }
    return sent;
}

std::set<Open> OpensMade() {
    std::set<Open> made;
    for (const sim::OpenRequest& o : sim::OpenRequests()) {
        made.insert(Open(o.name, o.access, o.shareMode, o.disposition, o.flagsAndAttributes));
    }
    return made;
}

struct Observed {
    int exitCode = 0;
    std::string output;
    std::string log;
    std::set<Request> requests;
    std::set<Open> opens;
};

// The whole system once, its log kept in memory under a fixed clock.
Observed RunOn(const sim::Machine& machine) {
    sim::KeepFilesInMemory(kFolder);
    sim::Module module = sim::DefaultModule();
    module.path = kFolder + L"\\destpick.exe";
    const testing_support::RunResult run = testing_support::RunSystem(machine, module);
    Observed observed;
    observed.exitCode = run.exitCode;
    observed.output = run.output;
    observed.log = sim::MemoryFileBytes(kFolder + L"\\destpick.log");
    observed.requests = RequestsSent();
    observed.opens = OpensMade();
    return observed;
}

std::set<Request> WithoutLayouts(const std::set<Request>& requests) {
    std::set<Request> others;
    for (const Request& request : requests) {
        if (std::get<1>(request) != IOCTL_DISK_GET_DRIVE_LAYOUT_EX) {
            others.insert(request);
        }
    }
    return others;
}

template <typename T> bool Includes(const std::set<T>& all, const std::set<T>& part) {
    return std::includes(all.begin(), all.end(), part.begin(), part.end());
}

// The machine as if every disk whose descriptor answers were a fixed NVMe disk: the probe then asks
// every such disk for its layout and the lookup for its link speed.
sim::Machine AsFixedNvme(sim::Machine machine) {
    for (sim::Disk& disk : machine.disks) {
        if (disk.deviceDescriptor && disk.deviceDescriptor->bytes.size() >= 32) {
            disk.deviceDescriptor->bytes[offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia)] = 0;
            disk.deviceDescriptor->bytes[offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType)] =
                BusTypeNvme;
        }
    }
    return machine;
}

void ExpectSameRun(const Observed& replayed, const Observed& original) {
    EXPECT_EQ(replayed.exitCode, original.exitCode);
    EXPECT_EQ(replayed.output, original.output);
    EXPECT_EQ(replayed.log, original.log);
}

// The capture as the tool writes it to its file and a replay reads it back.
sim::Machine WrittenAndRead(const sim::Machine& captured) {
    return sim::ParseMachine(sim::WriteMachine(captured), "the capture");
}

void ExpectFaithful(const sim::Machine& machine) {
    sim::Install(machine);
    const sim::Machine captured = WrittenAndRead(CaptureMachine().machine);
    const sim::Counters counters = sim::CurrentCounters();
    EXPECT_EQ(counters.deviceWrites, 0);
    EXPECT_EQ(counters.unknownRequests, 0);
    EXPECT_EQ(counters.openHandles, 0);
    EXPECT_EQ(counters.liveDeviceInfoSets, 0);
    const std::set<Request> captureRequests = RequestsSent();
    const std::set<Open> captureOpens = OpensMade();

    const Observed original = RunOn(machine);
    ExpectSameRun(RunOn(captured), original);
    EXPECT_TRUE(Includes(captureRequests, original.requests));
    EXPECT_TRUE(Includes(captureOpens, original.opens));
    // Beyond them the capture asks only for the layouts of removable disks, which the probe
    // skips; a run that gave up on a layout asked nothing of the disks after it.
    if (original.exitCode != E_FAIL) {
        EXPECT_EQ(WithoutLayouts(captureRequests), WithoutLayouts(original.requests));
    }
    // The capture holds what a changed bus or removability would have the system ask too.
    SCOPED_TRACE("every disk a fixed NVMe disk");
    ExpectSameRun(RunOn(AsFixedNvme(captured)), RunOn(AsFixedNvme(machine)));
}

class CaptureReplay : public testing::Test {
  protected:
    void TearDown() override {
        sim::KeepFilesInMemory(L"");
    }
};

TEST_F(CaptureReplay, EveryExampleMachine) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(DESTPICK_SOURCE_DIR "/examples/machines")) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    for (const std::filesystem::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        ExpectFaithful(sim::LoadMachineFile(file.string()));
    }
}

// Machines as one capture can see them: a single interface list. The rest varies as the fuzzer
// varies it, on a smaller scale: any reply failing, missing, cut short or typed; layouts that
// fail first, up to the last attempt, or never come (left out, failing, failing every attempt);
// removable disks that fail every request, as an empty card-reader slot does; nodes found,
// refused, scripted, without ID or without interface; controllers that fail, hand out a null
// handle or answer disk by disk.
class MachineGenerator {
  public:
    explicit MachineGenerator(unsigned seed) : random_(seed) {}

    sim::Machine Machine() {
        sim::Machine machine;
        const int disks = Roll(0, 5);
        for (int k = 0; k < disks; ++k) {
            machine.disks.push_back(Disk(k));
        }
        if (disks > 0 && OneIn(8)) {
            std::vector<size_t> list(static_cast<size_t>(Roll(0, disks + 1)));
            for (size_t& member : list) {
                member = static_cast<size_t>(Roll(0, disks - 1));
            }
            machine.interfaceLists.push_back(list);
        }
        machine.classQueryFails = OneIn(40);
        AddNodes(machine);
        machine.controllers.resize(static_cast<size_t>(Roll(0, 5)));
        for (sim::Controller& controller : machine.controllers) {
            controller = Controller(machine);
        }
        machine.devicePropertyFunctionMissing = OneIn(8);
        return machine;
    }

  private:
    int Roll(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random_);
    }

    bool OneIn(int n) {
        return Roll(1, n) == 1;
    }

    DWORD Error() {
        const DWORD errors[] = {ERROR_INVALID_FUNCTION,    ERROR_ACCESS_DENIED, ERROR_NOT_READY,
                                ERROR_GEN_FAILURE,         ERROR_NOT_SUPPORTED, ERROR_IO_DEVICE,
                                ERROR_INSUFFICIENT_BUFFER, ERROR_FILE_NOT_FOUND};
        return errors[Roll(0, 7)];
    }

    // Mostly short; sometimes at or beyond what the lookup's buffers hold.
    std::wstring Text() {
        const int lengths[] = {0, 1023, 1024, 4095, 4096};
        const int length = OneIn(8) ? lengths[Roll(0, 4)] : Roll(0, 40);
        std::wstring text;
        for (int i = 0; i < length; ++i) {
            text += OneIn(20) ? (OneIn(2) ? L'\u00E9' : L'\u4E2D')
                              : static_cast<wchar_t>(Roll(0x20, 0x7E));
        }
        return text;
    }

    std::optional<std::wstring> MaybeText() {
        return OneIn(3) ? std::nullopt : std::optional<std::wstring>(Text());
    }

    std::vector<BYTE> Bytes(int maximum) {
        std::vector<BYTE> bytes(static_cast<size_t>(Roll(0, maximum)));
        for (BYTE& b : bytes) {
            b = static_cast<BYTE>(Roll(0, 255));
        }
        return bytes;
    }

    std::optional<sim::Reply> Reply(const sim::Reply& typed) {
        switch (Roll(0, 7)) {
        case 0:
            return std::nullopt;
        case 1:
            return sim::FailingReply(Error());
        case 2:
            return sim::Reply{Bytes(48), std::nullopt};
        default:
            return typed;
        }
    }

    std::wstring Path(int k) {
        const wchar_t* const markers[] = {L"", L"intel_mem", L"intel_hbr", L"optane", L"Optane"};
        const std::wstring classPart = L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
        switch (Roll(0, 5)) {
        case 0:
            // An ID too long for the record: the lookup asks for the empty ID.
            return L"\\\\?\\" + std::wstring(static_cast<size_t>(Roll(260, 400)), L'p') +
                   std::to_wstring(k) + classPart;
        case 1:
            return OneIn(2) ? L"" : L"\\\\?\\{odd" + std::to_wstring(k) + L"}";
        default:
            return L"\\\\?\\" + std::wstring(OneIn(2) ? L"scsi" : L"SCSI") + L"#disk&ven_" +
                   markers[Roll(0, 4)] + L"&prod_" + std::to_wstring(k) + L"#4&2c41e0aa&0&0" +
                   std::to_wstring(k) + classPart;
        }
    }

    sim::Reply Layout() {
        const wchar_t* const types[] = {L"C12A7328-F81F-11D2-BA4B-00A0C93EC93B",
                                        L"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"};
        std::vector<sim::Partition> partitions;
        const PARTITION_STYLE style = static_cast<PARTITION_STYLE>(Roll(0, 2));
        for (int i = Roll(0, 6); i > 0; --i) {
            const LONGLONG length = static_cast<LONGLONG>(Roll(1, 1 << 20)) << Roll(0, 20);
            const std::wstring name = Text().substr(0, 36);
            partitions.push_back(style == PARTITION_STYLE_GPT
                                     ? sim::GptPartition(length, types[Roll(0, 1)], name)
                                     : sim::MbrPartition(length, OneIn(3)));
        }
        return sim::LayoutReply(style, partitions, OneIn(8) ? Roll(-2, 9) : -1);
    }

    sim::Disk Disk(int k) {
        const STORAGE_BUS_TYPE buses[] = {BusTypeUnknown, BusTypeUsb,  BusTypeRAID, BusTypeSata,
                                          BusTypeSd,      BusTypeNvme, BusTypeNvme, BusTypeNvme};
        sim::Disk disk;
        disk.path = Path(k);
        disk.detailReportsNoSize = OneIn(16);
        if (OneIn(16)) {
            disk.detailError = Error();
        }
        if (OneIn(8)) {
            disk.openError = Error();
        }
        disk.deviceNumber = Reply(sim::DeviceNumberReply(static_cast<DWORD>(Roll(0, 6))));
        disk.deviceDescriptor = Reply(sim::DeviceDescriptorReply(buses[Roll(0, 7)], OneIn(4),
                                                                 static_cast<BYTE>(Roll(0, 255))));
        disk.seekPenalty = Reply(sim::SeekPenaltyReply(OneIn(2)));
        disk.geometry = Reply(sim::GeometryReply(Roll(1, 200000), 255, 63, 512));
        disk.scsiAddress = Reply(sim::ScsiAddressReply(static_cast<BYTE>(Roll(0, 3)), 0,
                                                       static_cast<BYTE>(Roll(0, 3)), 0));
        AddLayout(disk);
        if (OneIn(12)) {
            EmptySlot(disk);
        }
        return disk;
    }

    // A layout that never comes ends the run at a fixed disk and costs a thousand requests: rarer
    // than one that comes, at once or after failures.
    void AddLayout(sim::Disk& disk) {
        disk.layoutFailureError = Error();
        switch (Roll(0, 39)) {
        case 0:
            return;
        case 1:
            disk.layout = sim::FailingReply(Error());
            return;
        case 2:
            disk.layout = Layout();
            disk.layoutFailures = -1;
            return;
        case 3:
            // About the last attempt, which answers at 999 failures and not at 1000.
            disk.layout = Layout();
            disk.layoutFailures = Roll(997, 1000);
            return;
        default:
            disk.layout = OneIn(8) ? sim::Reply{Bytes(48), std::nullopt} : Layout();
            disk.layoutFailures = Roll(0, 3);
        }
    }

    // A removable disk without its medium: it tells its number and that it is removable, and fails
    // every other request with one error, the layout's every attempt included.
    void EmptySlot(sim::Disk& disk) {
        const DWORD error = OneIn(2) ? static_cast<DWORD>(ERROR_NOT_READY) : Error();
        disk.deviceDescriptor = sim::DeviceDescriptorReply(OneIn(2) ? BusTypeUsb : BusTypeSd, true);
        disk.seekPenalty = sim::FailingReply(error);
        disk.geometry = sim::FailingReply(error);
        disk.scsiAddress = sim::FailingReply(error);
        disk.layoutFailureError = error;
        if (OneIn(2)) {
            disk.layout = sim::FailingReply(error);
            disk.layoutFailures = 0;
        } else {
            disk.layoutFailures = -1;
        }
    }

    std::wstring ParentId() {
        return (OneIn(4) ? L"pci\\parent" : L"PCI\\PARENT") + std::to_wstring(Roll(0, 3));
    }

    sim::DeviceNode Node(const std::wstring& id) {
        sim::DeviceNode node;
        node.instanceId = id;
        node.idFails = OneIn(10);
        node.hasPresentInterface = !OneIn(10);
        node.registryDescription = MaybeText();
        node.deviceDescription = MaybeText();
        node.busReportedDescription = OneIn(6) ? std::nullopt : std::optional<std::wstring>(Text());
        node.parent = OneIn(4) ? MaybeText() : std::optional<std::wstring>(ParentId());
        if (!OneIn(4)) {
            node.maxLinkSpeed =
                OneIn(2) ? std::vector<BYTE>{static_cast<BYTE>(Roll(0, 6)), 0, 0, 0} : Bytes(6);
        }
        return node;
    }

    // Nodes for most disks (sometimes two of one ID), for the parents, and now and then a
    // scripted answer to one of their queries.
    void AddNodes(sim::Machine& machine) {
        for (const sim::Disk& disk : machine.disks) {
            WCHAR id[DriveTextChars] = {0};
            DevicePathToDeviceId(disk.path.c_str(), id);
            // Windows registers the ID in upper case; the path may spell it either way.
            if (OneIn(2)) {
                for (WCHAR* c = id; *c != L'\0'; ++c) {
                    *c = *c >= L'a' && *c <= L'z' ? static_cast<WCHAR>(*c - L'a' + L'A') : *c;
                }
            }
            for (int copies = OneIn(5) ? 0 : (OneIn(8) ? 2 : 1); copies > 0; --copies) {
                machine.nodes.push_back(Node(id));
            }
        }
        for (int parent = 0; parent < 4; ++parent) {
            if (!OneIn(4)) {
                machine.nodes.push_back(Node(L"PCI\\PARENT" + std::to_wstring(parent)));
            }
        }
        if (!machine.nodes.empty() && OneIn(3)) {
            // Often a node's own ID with that node listed twice, or beside another.
            const int last = static_cast<int>(machine.nodes.size()) - 1;
            const size_t node = static_cast<size_t>(Roll(0, last));
            sim::EnumeratorSet set;
            set.enumerator = OneIn(4) ? ParentId() : machine.nodes[node].instanceId;
            set.refused = OneIn(4);
            set.members.resize(static_cast<size_t>(Roll(0, 3)));
            for (size_t& member : set.members) {
                member = OneIn(2) ? node : static_cast<size_t>(Roll(0, last));
            }
            machine.enumeratorSets.push_back(set);
        }
    }

    sim::MiniportAnswer Answer() {
        sim::MiniportAnswer answer;
        answer.result = OneIn(2);
        answer.lastError = Error();
        const DWORD counts[] = {0, 20, 44, 100};
        answer.bytesReturned = counts[Roll(0, 3)];
        answer.reply = OneIn(2) ? sim::RaidReply(static_cast<DWORD>(Roll(0, 2)), Roll(0, 6),
                                                 Roll(0, 3), Roll(0, 8), Roll(0, 6))
                                : Bytes(60);
        return answer;
    }

    // Answers for the IDs the disks' typed addresses give, and for ID 0, that of a disk whose
    // address is unknown.
    sim::Controller Controller(const sim::Machine& machine) {
        sim::Controller controller;
        controller.open = static_cast<sim::Controller::Open>(Roll(0, 2));
        controller.openError = Error();
        controller.answer = Answer();
        std::set<DWORD> answered;
        for (const sim::Disk& disk : machine.disks) {
            if (disk.scsiAddress && disk.scsiAddress->bytes.size() == sizeof(SCSI_ADDRESS) &&
                OneIn(2)) {
                const std::vector<BYTE>& a = disk.scsiAddress->bytes;
                answered.insert((static_cast<DWORD>(a[4]) << 24) | (static_cast<DWORD>(a[6]) << 8));
            }
        }
        if (OneIn(3)) {
            answered.insert(0);
        }
        for (DWORD diskId : answered) {
            controller.diskAnswers.push_back(std::make_pair(diskId, Answer()));
        }
        return controller;
    }

    std::mt19937 random_;
};

TEST_F(CaptureReplay, GeneratedMachines) {
    for (unsigned seed = 1; seed <= 1000; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        ExpectFaithful(MachineGenerator(seed).Machine());
        if (HasFailure()) {
            return;
        }
    }
}

// How the layout's answers are written down: failures that only wanted room are left to the
// answer's own size, others are scripted with their error, and a layout that never comes is a
// request that fails with the error the last attempt gave, which a description can carry.
TEST(CaptureLayout, WritesWhatTheDriverDid) {
    const sim::Partition data =
        sim::GptPartition(1 << 30, L"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", L"Basic data");
    const sim::Reply fitsFirst = sim::LayoutReply(PARTITION_STYLE_GPT, {data});
    const sim::Reply fitsFifth =
        sim::LayoutReply(PARTITION_STYLE_GPT, {data, data, data, data, data});
    struct Case {
        const char* name;
        std::optional<sim::Reply> layout;
        int failures;
        DWORD failureError;
        int capturedFailures;
        DWORD capturedError;
        sim::Reply capturedLayout;
    };
    const Case cases[] = {
        {"fits the first buffer", fitsFirst, 0, ERROR_INSUFFICIENT_BUFFER, 0,
         ERROR_INSUFFICIENT_BUFFER, fitsFirst},
        {"wants room until the fifth", fitsFifth, 0, ERROR_INSUFFICIENT_BUFFER, 0,
         ERROR_INSUFFICIENT_BUFFER, fitsFifth},
        {"two scripted wants of room, then room", fitsFifth, 2, ERROR_INSUFFICIENT_BUFFER, 0,
         ERROR_INSUFFICIENT_BUFFER, fitsFifth},
        {"wants room where it fits", fitsFirst, 2, ERROR_INSUFFICIENT_BUFFER, 2,
         ERROR_INSUFFICIENT_BUFFER, fitsFirst},
        {"not ready twice", fitsFirst, 2, ERROR_NOT_READY, 2, ERROR_NOT_READY, fitsFirst},
        {"not ready, then room wanted", fitsFifth, 1, ERROR_NOT_READY, 4, ERROR_INSUFFICIENT_BUFFER,
         fitsFifth},
        {"answers at the last attempt", fitsFirst, 999, ERROR_NOT_READY, 999, ERROR_NOT_READY,
         fitsFirst},
        {"fails every one of the 1000 attempts", fitsFirst, 1000, ERROR_NOT_READY, 0,
         ERROR_INSUFFICIENT_BUFFER, sim::FailingReply(ERROR_NOT_READY)},
        {"never comes", fitsFirst, -1, ERROR_IO_DEVICE, 0, ERROR_INSUFFICIENT_BUFFER,
         sim::FailingReply(ERROR_IO_DEVICE)},
        {"fails with its own error", sim::FailingReply(ERROR_NOT_READY), 0,
         ERROR_INSUFFICIENT_BUFFER, 0, ERROR_INSUFFICIENT_BUFFER,
         sim::FailingReply(ERROR_NOT_READY)},
        {"not known to the driver", std::nullopt, 0, ERROR_INSUFFICIENT_BUFFER, 0,
         ERROR_INSUFFICIENT_BUFFER, sim::FailingReply(ERROR_INVALID_FUNCTION)},
        {"not ready twice, then not known", std::nullopt, 2, ERROR_NOT_READY, 0,
         ERROR_INSUFFICIENT_BUFFER, sim::FailingReply(ERROR_INVALID_FUNCTION)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine;
        machine.disks = {testing_support::FixedDisk()};
        machine.disks[0].layout = c.layout;
        machine.disks[0].layoutFailures = c.failures;
        machine.disks[0].layoutFailureError = c.failureError;
        sim::Install(machine);
        const sim::Disk captured = WrittenAndRead(CaptureMachine().machine).disks.at(0);
        EXPECT_EQ(captured.layoutFailures, c.capturedFailures);
        EXPECT_EQ(captured.layoutFailureError, c.capturedError);
        EXPECT_EQ(captured.layout, std::optional<sim::Reply>(c.capturedLayout));
    }
}

TEST(CaptureDescription, TellsWhenOnWhatAndByWhichVersion) {
    CaptureOrigin origin;
    origin.capturedAt = SYSTEMTIME{2024, 3, 0, 9, 7, 5, 2, 0};
    origin.computerName = L"IMAGING-07";
    origin.windowsVersion = L"10.0.22631";
    EXPECT_EQ(DescribeCapture(origin, L"1.0.0.0"),
              L"Captured by destpick-capture 1.0.0.0 on IMAGING-07 (Windows 10.0.22631) at "
              L"2024-03-09 07:05:02 UTC.");
    origin.computerName.clear();
    origin.windowsVersion.clear();
    EXPECT_EQ(DescribeCapture(origin, L"1.0.0.0"),
              L"Captured by destpick-capture 1.0.0.0 on a computer that gave no name (Windows of "
              L"unknown version) at 2024-03-09 07:05:02 UTC.");

    // What the stand-in tells: the clock, the host's name, and Windows 10 22H2.
    testing_support::FixClock();
    sim::Install(sim::Machine());
    const CaptureOrigin here = CaptureMachine().origin;
    testing_support::ReleaseClock();
    EXPECT_EQ(DescribeCapture(here, L"1.0.0.0"),
              L"Captured by destpick-capture 1.0.0.0 on " + here.computerName +
                  L" (Windows 10.0.19045) at 2021-09-07 05:44:07 UTC.");
    EXPECT_FALSE(here.computerName.empty());
}

} // namespace
