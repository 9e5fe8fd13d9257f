#include "machine_generator.h"

#include "inventory/device_id.h"
#include "inventory/drive_record.h"

#include <sim/replies.h>

#include <ntddscsi.h>

#include <random>
#include <set>

namespace {

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

    static void Put(sim::Disk& disk, const sim::RequestKey& request,
                    const std::optional<sim::Reply>& reply) {
        if (reply) {
            disk.replies[request] = *reply;
        }
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
        Put(disk, {IOCTL_STORAGE_GET_DEVICE_NUMBER},
            Reply(sim::DeviceNumberReply(static_cast<DWORD>(Roll(0, 6)))));
        Put(disk, {IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty},
            Reply(sim::DeviceDescriptorReply(buses[Roll(0, 7)], OneIn(4),
                                             static_cast<BYTE>(Roll(0, 255)))));
        Put(disk, {IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceSeekPenaltyProperty},
            Reply(sim::SeekPenaltyReply(OneIn(2))));
        Put(disk, {IOCTL_DISK_GET_DRIVE_GEOMETRY},
            Reply(sim::GeometryReply(Roll(1, 200000), 255, 63, 512)));
        Put(disk, {IOCTL_SCSI_GET_ADDRESS},
            Reply(sim::ScsiAddressReply(static_cast<BYTE>(Roll(0, 3)), 0,
                                        static_cast<BYTE>(Roll(0, 3)), 0)));
        AddLayout(disk);
        if (OneIn(12)) {
            EmptySlot(disk);
        }
        return disk;
    }

    // A layout that never comes ends the run at a fixed disk and costs a thousand requests: rarer
    // than one that comes, at once or after failures.
    void AddLayout(sim::Disk& disk) {
        const DWORD failureError = Error();
        const int kind = Roll(0, 39);
        if (kind == 0) {
            return;
        }
        sim::Reply& layout = disk.replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}];
        switch (kind) {
        case 1:
            layout = sim::FailingReply(Error());
            break;
        case 2:
            layout = Layout();
            layout.failures = -1;
            break;
        case 3:
            // About the last attempt, which answers at 999 failures and not at 1000.
            layout = Layout();
            layout.failures = Roll(997, 1000);
            break;
        default:
            layout = OneIn(8) ? sim::Reply{Bytes(48), std::nullopt} : Layout();
            layout.failures = Roll(0, 3);
        }
        layout.failureError = failureError;
    }

    // A removable disk without its medium: it tells its number and that it is removable, and fails
    // every other request with one error, the layout's every attempt included.
    void EmptySlot(sim::Disk& disk) {
        const DWORD error = OneIn(2) ? static_cast<DWORD>(ERROR_NOT_READY) : Error();
        disk.replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty}] =
            sim::DeviceDescriptorReply(OneIn(2) ? BusTypeUsb : BusTypeSd, true);
        disk.replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceSeekPenaltyProperty}] =
            sim::FailingReply(error);
        disk.replies[{IOCTL_DISK_GET_DRIVE_GEOMETRY}] = sim::FailingReply(error);
        disk.replies[{IOCTL_SCSI_GET_ADDRESS}] = sim::FailingReply(error);
        // Failing every attempt, it needs no bytes of its own.
        sim::Reply& layout = disk.replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}];
        if (OneIn(2)) {
            layout = sim::FailingReply(error);
        } else {
            layout.failures = -1;
        }
        layout.failureError = error;
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
            const auto address = disk.replies.find({IOCTL_SCSI_GET_ADDRESS});
            if (address != disk.replies.end() &&
                address->second.bytes.size() == sizeof(SCSI_ADDRESS) && OneIn(2)) {
                const std::vector<BYTE>& a = address->second.bytes;
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

} // namespace

namespace testing_support {

sim::Machine GeneratedMachine(unsigned seed) {
    return MachineGenerator(seed).Machine();
}

} // namespace testing_support
