#include "fleet_machine.h"

#include <sim/replies.h>

#include <ntddscsi.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

enum class Kind { NvmeSystem, NvmeData, SataSsd, SataHdd, SataHddMbr, UsbStick, UsbHdd };

const Kind kCycle[8] = {Kind::NvmeData, Kind::SataSsd, Kind::SataHdd,    Kind::UsbStick,
                        Kind::NvmeData, Kind::SataHdd, Kind::SataHddMbr, Kind::UsbHdd};

const wchar_t kInterfaceClass[] = L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kEfiSystem[] = L"C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
const wchar_t kReserved[] = L"E3C9E316-0B5C-4DB8-817D-F92DF00215AE";
const wchar_t kBasicData[] = L"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
const wchar_t kRecovery[] = L"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC";
const LONGLONG kMiB = 1024 * 1024;
// Windows reports 255 tracks per cylinder and 63 sectors of 512 bytes per track for most disks.
const LONGLONG kCylinderBytes = 255LL * 63 * 512;

// What sets one kind of disk apart from the others.
struct Model {
    const wchar_t* bus;    // the path's first part: scsi or usbstor
    const wchar_t* device; // its second part, naming the product
    STORAGE_BUS_TYPE busType;
    bool removable;
    bool rotating;
    bool answersSeekPenalty;
    LONGLONG cylinders;
    BYTE port; // the SCSI port, and the top byte of the RAID driver's disk ID
};

// Each kind's model, in the order of the kinds.
const Model kModels[] = {
    {L"scsi", L"disk&ven_nvme&prod_model_x100", BusTypeNvme, false, false, true, 124519, 0},
    {L"scsi", L"disk&ven_nvme&prod_model_x200", BusTypeNvme, false, false, true, 249038, 0},
    {L"scsi", L"disk&ven_ata&prod_ssd_512", BusTypeSata, false, false, true, 62260, 1},
    {L"scsi", L"disk&ven_ata&prod_hdd_4000", BusTypeSata, false, true, true, 486401, 1},
    {L"scsi", L"disk&ven_ata&prod_hdd_2000", BusTypeSata, false, true, true, 243201, 1},
    {L"usbstor", L"disk&ven_usb&prod_flash_drive&rev_1.00", BusTypeUsb, true, false, false, 3824,
     2},
    {L"usbstor", L"disk&ven_ext&prod_portable_hdd&rev_0001", BusTypeUsb, false, true, true, 121601,
     2},
};

static_assert(sizeof(kModels) / sizeof(kModels[0]) == static_cast<size_t>(Kind::UsbHdd) + 1);

const Model& ModelOf(Kind kind) {
    return kModels[static_cast<int>(kind)];
}

Kind KindOf(int index) {
    return index == 0 ? Kind::NvmeSystem : kCycle[index % 8];
}

// The layouts Windows leaves: EFI, reserved, Windows and recovery on the system disk; reserved
// and one data partition on a GPT data disk; one or two data partitions on an MBR disk.
sim::Reply Layout(Kind kind, LONGLONG capacity) {
    const LONGLONG rest = capacity - 2 * kMiB;
    switch (kind) {
    case Kind::NvmeSystem:
        return sim::LayoutReply(
            PARTITION_STYLE_GPT,
            {sim::GptPartition(100 * kMiB, kEfiSystem, L"EFI system partition"),
             sim::GptPartition(16 * kMiB, kReserved, L"Microsoft reserved partition"),
             sim::GptPartition(rest - 766 * kMiB, kBasicData, L"Basic data partition"),
             sim::GptPartition(650 * kMiB, kRecovery, L"")});
    case Kind::NvmeData:
    case Kind::SataSsd:
    case Kind::SataHdd:
        return sim::LayoutReply(
            PARTITION_STYLE_GPT,
            {sim::GptPartition(16 * kMiB, kReserved, L"Microsoft reserved partition"),
             sim::GptPartition(rest - 16 * kMiB, kBasicData, L"Basic data partition")});
    case Kind::SataHddMbr:
        return sim::LayoutReply(PARTITION_STYLE_MBR, {sim::MbrPartition(rest / 2, false, 0x07),
                                                      sim::MbrPartition(rest / 2, false, 0x07)});
    case Kind::UsbStick:
        return sim::LayoutReply(PARTITION_STYLE_MBR, {sim::MbrPartition(rest, false, 0x0C)});
    case Kind::UsbHdd:
        return sim::LayoutReply(PARTITION_STYLE_MBR, {sim::MbrPartition(rest, false, 0x07)});
    }
    return sim::FailingReply(ERROR_INVALID_FUNCTION);
}

// The instance part of a path and of its instance ID, distinct for every disk.
std::wstring InstancePart(int index) {
    wchar_t text[32];
    std::swprintf(text, 32, L"4&2c41e0aa&0&%06x", static_cast<unsigned>(index));
    return text;
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) {
        c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
    }
    return text;
}

// The node the configuration manager holds for the disk: the path's parts in upper case,
// joined by backslashes.
std::wstring InstanceId(const Model& model, int index) {
    return Upper(std::wstring(model.bus) + L"\\" + model.device + L"\\" + InstancePart(index));
}

sim::Disk MakeDisk(Kind kind, int index) {
    const Model& model = ModelOf(kind);
    const DWORD number = static_cast<DWORD>(index);
    sim::Disk disk;
    disk.path = std::wstring(L"\\\\?\\") + model.bus + L"#" + model.device + L"#" +
                InstancePart(index) + L"#" + kInterfaceClass;
    disk.replies[{IOCTL_STORAGE_GET_DEVICE_NUMBER}] = sim::DeviceNumberReply(number);
    disk.replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty}] =
        sim::DeviceDescriptorReply(model.busType, model.removable);
    // USB bridges and card readers do not know the seek penalty query.
    disk.replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceSeekPenaltyProperty}] =
        model.answersSeekPenalty ? sim::SeekPenaltyReply(model.rotating)
                                 : sim::FailingReply(ERROR_NOT_SUPPORTED);
    disk.replies[{IOCTL_DISK_GET_DRIVE_GEOMETRY}] = sim::GeometryReply(
        model.cylinders, 255, 63, 512, model.removable ? RemovableMedia : FixedMedia);
    disk.replies[{IOCTL_SCSI_GET_ADDRESS}] = sim::ScsiAddressReply(
        model.port, static_cast<BYTE>(number >> 8), static_cast<BYTE>(number & 0xFF), 0);
    disk.replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] = Layout(kind, model.cylinders * kCylinderBytes);
    return disk;
}

// The disk's node and the NVMe controller it hangs under, whose link speed the system reads.
void AddNvmeNodes(sim::Machine& machine, Kind kind, int index) {
    wchar_t parent[96];
    std::swprintf(parent, 96, L"PCI\\VEN_5EED&DEV_0100&SUBSYS_01005EED&REV_01\\4&35A1C6D2&0&%04X",
                  static_cast<unsigned>(index));
    sim::DeviceNode disk;
    disk.instanceId = InstanceId(ModelOf(kind), index);
    disk.registryDescription = L"Disk drive";
    disk.deviceDescription = L"Disk drive";
    disk.busReportedDescription = L"NVMe MODEL X";
    disk.parent = parent;
    sim::DeviceNode controller;
    controller.instanceId = parent;
    controller.registryDescription = L"Standard NVM Express Controller";
    controller.deviceDescription = L"Standard NVM Express Controller";
    controller.busReportedDescription = L"NVMe controller";
    const BYTE generation = kind == Kind::NvmeSystem ? 4 : 3;
    controller.maxLinkSpeed = std::vector<BYTE>{generation, 0, 0, 0};
    machine.nodes.push_back(disk);
    machine.nodes.push_back(controller);
}

// The RAID driver's disk ID of a disk: port, bus, target and LUN, a byte each.
DWORD RaidDiskId(const Model& model, int index) {
    const DWORD number = static_cast<DWORD>(index);
    return (static_cast<DWORD>(model.port) << 24) + ((number >> 8) << 16) + ((number & 0xFF) << 8);
}

sim::MiniportAnswer SataAnswer() {
    sim::MiniportAnswer answer;
    answer.reply = sim::RaidReply(0, 2, 1, 0, 0); // connection type 2: SATA
    return answer;
}

} // namespace

namespace bench {

sim::Machine FleetMachine(int diskCount) {
    sim::Machine machine;
    sim::Controller absent;
    absent.open = sim::Controller::Open::Fails;
    sim::Controller raid;
    raid.open = sim::Controller::Open::Opens;
    raid.answer.result = FALSE;
    raid.answer.lastError = ERROR_INVALID_FUNCTION;
    raid.answer.bytesReturned = 0;
    for (int index = 0; index < diskCount; ++index) {
        const Kind kind = KindOf(index);
        const Model& model = ModelOf(kind);
        machine.disks.push_back(MakeDisk(kind, index));
        if (model.busType == BusTypeNvme) {
            AddNvmeNodes(machine, kind, index);
        }
        if (model.busType == BusTypeSata) {
            raid.diskAnswers.emplace_back(RaidDiskId(model, index), SataAnswer());
        }
    }
    machine.controllers = {absent, raid};
    return machine;
}

} // namespace bench
