// The probe on simulated disks: what each storage reply or failure leaves in the record and the
// log, the partition walk, the layout retry, and odd answers from drivers.
#include "inventory/disk_probe.h"
#include "inventory/disk_request_plan.h"
#include "selection/run_driver.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sim/disk_requests.h>
#include <sim/replies.h>
#include <sim/text.h>
#include <setupapi.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace {

using testing_support::LinesWithoutStamps;
using testing_support::ModuleIn;
using testing_support::RunSystem;
using testing_support::ScratchFolder;

using testing_support::FixedDisk;
using testing_support::kPath;

const std::string kPathText = "\\\\?\\scsi#disk&ven_nvme&prod_model_x100#4&2c41e0aa&0&020000#{"
                              "53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kIdText = "scsi\\disk&ven_nvme&prod_model_x100\\4&2c41e0aa&0&020000";
const std::wstring kEfi = L"C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
const std::wstring kBasicData = L"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

class DiskProbe : public testing::Test {
  protected:
    // Runs the probe alone on the machine, into freshly initialised records.
    std::vector<DriveRecord> Probe(const sim::Machine& machine, size_t recordCount = 0) {
        sim::Install(machine);
        std::vector<DriveRecord> records(recordCount ? recordCount : machine.disks.size());
        for (DriveRecord& record : records) {
            InitializeDriveRecord(&record);
        }
        logPath_ = folder_.Windows() + L"\\probe.log";
        filled_ = ProbeDrives(records.data(), static_cast<DWORD>(records.size()), logPath_.c_str(),
                              &outcome_);
        return records;
    }
    std::vector<std::string> Lines() const {
        return LinesWithoutStamps(folder_.ReadFile("probe.log"));
    }
    bool Logged(const std::string& line) const {
        std::vector<std::string> lines = Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    ScratchFolder folder_;
    std::wstring logPath_;
    DWORD filled_ = 0;
    HRESULT outcome_ = S_OK;
};

TEST_F(DiskProbe, FullyAnsweringDiskLeavesItsWholeAccount) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    std::vector<DriveRecord> records = Probe(machine);
    EXPECT_EQ(filled_, 1u);
    EXPECT_EQ(outcome_, S_OK);
    const DriveRecord& r = records[0];
    EXPECT_EQ(r.Index, 0u);
    EXPECT_EQ(r.Order, 0u);
    EXPECT_EQ(r.BusType, 17u);
    EXPECT_EQ(r.Removable, 0u);
    EXPECT_EQ(r.SeekPenalty, 0);
    EXPECT_EQ(r.Size, 931u);
    EXPECT_EQ(r.Port, 1u);
    EXPECT_EQ(r.Bus, 0u);
    EXPECT_EQ(r.TargetId, 2u);
    EXPECT_EQ(r.Lun, 0u);
    EXPECT_EQ(r.PartitionCount, 2);
    EXPECT_EQ(r.IsSysDisk, 1u);
    EXPECT_EQ(std::wstring(r.Path), kPath);
    EXPECT_EQ(sim::ToUtf8(r.DeviceID), kIdText);
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{
                  "[Disk0] DevicePath=" + kPathText,
                  "[Disk0] Check TG/Optane",
                  "[Disk0] Get disk info by DeviceIoControl",
                  "[Disk0] Get order ",
                  "[Disk0] PartitionNumber=0",
                  "[Disk0] Get BusType, removable, device type. ",
                  "[Disk0] BusType=17. ",
                  "[Disk0] DeviceType=0. ",
                  "[Disk0] Get SeekPenalty. ",
                  "[Disk0] Get disk size in GB. ",
                  "[Disk0] Get port number, bus number and target ID. ",
                  "[Disk0] Get partitions. ",
                  "[Disk0] Get partition amount. ",
                  "[Disk0] IOCTL_DISK_GET_DRIVE_LAYOUT_EX done, i=[1].",
                  "[Disk0] Byte returned: 336, bytes of structure DRIVE_LAYOUT_INFORMATION: 40.",
                  "[Disk0] PartitionCount=2.",
                  "[Disk0] Go through each partition. ",
                  "[Disk0] Disk is GPT.",
                  "[Disk0] partition0 {C12A7328-F81F-11D2-BA4B-00A0C93EC93B}: [EFI system "
                  "partition] size=104857600Bytes.",
                  "[Disk0] Partition0 is EFI partition.",
                  "[Disk0] partition1 {EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}: [Basic data "
                  "partition] size=5368709120Bytes.",
                  "[Disk0] This is a OS disk",
                  "[Disk0] Convert device path to device id. SRC: " + kPathText + " ",
                  "[Disk0] Convert device path to device id. DST:     " + kIdText + " ",
                  "[Disk0] Try to get NVMe generation.",
                  // The disk's own node, which the machine does not describe: its ID alone.
                  "SCSI\\DISK&VEN_NVME&PROD_MODEL_X100\\4&2C41E0AA&0&020000",
                  "[Disk0] Try to get information under Intel RST/VMD.",
                  "[Disk 1-0-2-0] Checking \\\\.\\scsi0:.",
                  "[Disk 1-0-2-0] Checking \\\\.\\scsi1:.",
                  "[Disk 1-0-2-0] Checking \\\\.\\scsi2:.",
                  "[Disk 1-0-2-0] Checking \\\\.\\scsi3:.",
                  "[Disk 1-0-2-0] Checking \\\\.\\scsi4:.",
                  "[Disk 1-0-2-0] Cannot find SCSI controller",
              }));
}

TEST_F(DiskProbe, RequestsGoOutExactlyAsWindowsExpectsThem) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    Probe(machine);
    // The disk, then the five controllers the RAID query tries.
    ASSERT_EQ(sim::OpenRequests().size(), 6u);
    for (size_t i = 1; i < 6; ++i) {
        const sim::OpenRequest& controller = sim::OpenRequests()[i];
        EXPECT_EQ(controller.name, L"\\\\.\\scsi" + std::to_wstring(i - 1) + L":");
        EXPECT_EQ(controller.access, FILE_ALL_ACCESS);
        EXPECT_EQ(controller.shareMode, 0u);
    }
    const sim::OpenRequest& open = sim::OpenRequests()[0];
    EXPECT_EQ(open.name, kPath);
    EXPECT_EQ(open.access, GENERIC_READ | GENERIC_WRITE | FILE_READ_DATA | FILE_WRITE_DATA);
    EXPECT_EQ(open.shareMode, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(open.disposition, static_cast<DWORD>(OPEN_EXISTING));
    EXPECT_EQ(open.flagsAndAttributes, FILE_ATTRIBUTE_NORMAL);
    struct Expected {
        DWORD code;
        std::vector<BYTE> input;
        DWORD outputSize;
    };
    const std::vector<BYTE> descriptorQuery = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<BYTE> seekQuery = {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const Expected expected[] = {{0x2D1080, {}, 12},        {0x2D1400, descriptorQuery, 40},
                                 {0x2D1400, seekQuery, 12}, {0x70000, {}, 24},
                                 {0x41018, {}, 8},          {0x70050, {}, 192},
                                 {0x70050, {}, 336}};
    const std::vector<sim::IoRequest>& requests = sim::IoRequests();
    ASSERT_EQ(requests.size(), std::size(expected));
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].device, kPath) << i;
        EXPECT_EQ(requests[i].code, expected[i].code) << i;
        EXPECT_EQ(requests[i].input, expected[i].input) << i;
        EXPECT_EQ(requests[i].outputSize, expected[i].outputSize) << i;
    }
}

TEST_F(DiskProbe, DiskThatCannotBeOpenedSkipsEveryRequest) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    machine.disks[0].openError = ERROR_ACCESS_DENIED;
    std::vector<DriveRecord> records = Probe(machine);
    EXPECT_EQ(
        Lines(),
        (std::vector<std::string>{
            "[Disk0] DevicePath=" + kPathText, "[Disk0] Check TG/Optane",
            "[Disk0] Get disk info by DeviceIoControl",
            "[Disk0] Convert device path to device id. SRC: " + kPathText + " ",
            "[Disk0] Convert device path to device id. DST:     " + kIdText + " ",
            "[Disk0] Try to get information under Intel RST/VMD.",
            "[Disk 0-0-0-0] Checking \\\\.\\scsi0:.", "[Disk 0-0-0-0] Checking \\\\.\\scsi1:.",
            "[Disk 0-0-0-0] Checking \\\\.\\scsi2:.", "[Disk 0-0-0-0] Checking \\\\.\\scsi3:.",
            "[Disk 0-0-0-0] Checking \\\\.\\scsi4:.",
            "[Disk 0-0-0-0] Cannot find SCSI controller"}));
    EXPECT_EQ(records[0].Order, UnknownDeviceNumber);
    EXPECT_EQ(records[0].BusType, 0u);
    EXPECT_EQ(records[0].SeekPenalty, -1);
    EXPECT_EQ(records[0].Removable, 0u);
    EXPECT_EQ(records[0].NVMeGen, 0);
    EXPECT_EQ(sim::ToUtf8(records[0].DeviceID), kIdText);
    EXPECT_TRUE(sim::IoRequests().empty());
}

TEST_F(DiskProbe, RemovableDiskIsNotWalked) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    machine.disks[0].replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty}] =
        sim::DeviceDescriptorReply(BusTypeUsb, true);
    std::vector<DriveRecord> records = Probe(machine);
    EXPECT_TRUE(Logged("[Disk0] Get partitions. "));
    EXPECT_FALSE(Logged("[Disk0] Get partition amount. "));
    EXPECT_EQ(records[0].IsSysDisk, 0u);
    EXPECT_EQ(records[0].PartitionCount, 0);
    EXPECT_EQ(records[0].Removable, 1u);
}

struct FailureCase {
    const char* name;
    sim::RequestKey request;
    const char* line; // logged for the failure, or empty
    void (*check)(const DriveRecord&);
};

class OneRequestFails : public testing::TestWithParam<FailureCase> {};

// clang-format off
const FailureCase kFailures[] = {
    {"DeviceNumber", {IOCTL_STORAGE_GET_DEVICE_NUMBER}, "",
     [](const DriveRecord& r) { EXPECT_EQ(r.Order, UnknownDeviceNumber); }},
    {"Descriptor", {IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty}, "",
     [](const DriveRecord& r) {
         EXPECT_EQ(r.BusType, 0u);
         EXPECT_EQ(r.IsSysDisk, 1u); // the walk still runs: Removable stays 0
     }},
    {"SeekPenalty", {IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceSeekPenaltyProperty},
     "[Disk0] Failed to get seek penalty, an USB external storage, maybe card reader or USB disk.",
     [](const DriveRecord& r) { EXPECT_EQ(r.SeekPenalty, -1); }},
    {"Geometry", {IOCTL_DISK_GET_DRIVE_GEOMETRY}, "[Disk0] Failed to get size",
     [](const DriveRecord& r) { EXPECT_EQ(r.Size, 0u); }},
    {"ScsiAddress", {IOCTL_SCSI_GET_ADDRESS}, "",
     [](const DriveRecord& r) {
         EXPECT_EQ(r.Port, 0u);
         EXPECT_EQ(r.TargetId, 0u);
     }},
};
// clang-format on

TEST_P(OneRequestFails, LeavesOnlyItsFieldsUnwritten) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    machine.disks[0].replies[GetParam().request] = sim::FailingReply(ERROR_NOT_SUPPORTED);
    testing_support::ProbeResult probed = testing_support::ProbeFirstDisk(machine);
    const DriveRecord& record = probed.record;
    GetParam().check(record);
    const std::vector<std::string>& lines = probed.lines;
    if (*GetParam().line != '\0') {
        EXPECT_NE(std::find(lines.begin(), lines.end(), GetParam().line), lines.end());
    }
    // Every other request still ran and the rest of the record is filled.
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "[Disk0] Convert device path to device id. DST:     " + kIdText + " "),
              lines.end());
    EXPECT_EQ(record.PartitionCount, 2);
    EXPECT_EQ(sim::CurrentCounters().openHandles, 0);
}

INSTANTIATE_TEST_SUITE_P(Requests, OneRequestFails, testing::ValuesIn(kFailures),
                         [](const testing::TestParamInfo<FailureCase>& param) {
                             return param.param.name;
                         });

TEST_F(DiskProbe, LayoutThatFitsOnTheFifthAttempt) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    std::vector<sim::Partition> five(5, sim::MbrPartition(524288000, false));
    machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] =
        sim::LayoutReply(PARTITION_STYLE_MBR, five);
    std::vector<DriveRecord> records = Probe(machine);
    std::vector<DWORD> sizes;
    for (const sim::IoRequest& request : sim::IoRequests()) {
        if (request.code == IOCTL_DISK_GET_DRIVE_LAYOUT_EX) {
            sizes.push_back(request.outputSize);
        }
    }
    EXPECT_EQ(sizes, (std::vector<DWORD>{192, 336, 480, 624, 768}));
    EXPECT_TRUE(Logged("[Disk0] IOCTL_DISK_GET_DRIVE_LAYOUT_EX done, i=[4]."));
    EXPECT_TRUE(
        Logged("[Disk0] Byte returned: 768, bytes of structure DRIVE_LAYOUT_INFORMATION: 40."));
    EXPECT_TRUE(Logged("[Disk0] Partition4: [] size=524288000Bytes."));
    EXPECT_EQ(records[0].PartitionCount, 5);
    EXPECT_EQ(records[0].IsSysDisk, 0u);
}

TEST_F(DiskProbe, LayoutRefusedForAnyReasonIsRetried) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}].failures = 7;
    machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}].failureError = ERROR_GEN_FAILURE;
    Probe(machine);
    EXPECT_TRUE(Logged("[Disk0] IOCTL_DISK_GET_DRIVE_LAYOUT_EX done, i=[7]."));
}

TEST(DiskProbeRun, LayoutThatNeverFitsEndsTheRunWithoutAnAnswer) {
    ScratchFolder folder;
    sim::Machine machine;
    machine.disks = {FixedDisk(), FixedDisk(L"\\\\?\\second#disk#{x}", 1)};
    machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}].failures = -1;
    machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}].failureError = ERROR_GEN_FAILURE;
    testing_support::RunResult result = RunSystem(machine, ModuleIn(folder));
    EXPECT_EQ(result.exitCode, E_FAIL);
    EXPECT_EQ(result.output, "");
    std::vector<std::string> lines = LinesWithoutStamps(folder.ReadFile("destpick.log"));
    EXPECT_EQ(lines.back(),
              "[Disk0] Failed to get paritions by IOCTL_DISK_GET_DRIVE_LAYOUT_EX, error code = "
              "[0x0000001F].");
    size_t attempts = std::count_if(
        sim::IoRequests().begin(), sim::IoRequests().end(),
        [](const sim::IoRequest& r) { return r.code == IOCTL_DISK_GET_DRIVE_LAYOUT_EX; });
    EXPECT_EQ(attempts, 1000u);
    EXPECT_EQ(sim::IoRequests().back().outputSize, 144048u);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[Disk1] Check TG/Optane"), 0);
    sim::Counters counters = sim::CurrentCounters();
    EXPECT_EQ(counters.openHandles, 0);
    EXPECT_EQ(counters.liveDeviceInfoSets, 0);
}

struct LayoutCase {
    const char* name;
    sim::Reply layout;
    DWORD isSysDisk;
    std::vector<std::string> walk; // the lines from "Disk is ..." on
};

class PartitionWalk : public testing::TestWithParam<LayoutCase> {};

TEST_P(PartitionWalk, LogsEachEntryAndFindsTheSystemPartition) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] = GetParam().layout;
    testing_support::ProbeResult probed = testing_support::ProbeFirstDisk(machine);
    const DriveRecord& record = probed.record;
    const std::vector<std::string>& lines = probed.lines;
    auto from = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("[Disk0] Disk is ", 0) == 0;
    });
    auto to = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("[Disk0] Convert", 0) == 0;
    });
    EXPECT_EQ(std::vector<std::string>(from, to), GetParam().walk);
    EXPECT_EQ(record.IsSysDisk, GetParam().isSysDisk);
    // The count the driver wrote, read as the signed number the record and the log show.
    LONG reported = 0;
    std::memcpy(&reported,
                GetParam().layout.bytes.data() +
                    offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount),
                sizeof(reported));
    EXPECT_EQ(record.PartitionCount, reported);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "[Disk0] PartitionCount=" + std::to_string(reported) + "."),
              lines.end());
}

const std::wstring kName36 = L"abcdefghijklmnopqrstuvwxyz0123456789";
sim::Partition LowerCaseEfi() {
    return sim::GptPartition(1024, L"c12a7328-f81f-11d2-ba4b-00a0c93ec93b", L"lower");
}
// A layout whose head carries the given count, whatever entries follow it.
sim::Reply WithCount(sim::Reply layout, LONG count) {
    std::memcpy(layout.bytes.data() + offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount), &count,
                sizeof(count));
    return layout;
}

const LayoutCase kLayouts[] = {
    {"TwoEfiPartitions",
     sim::LayoutReply(PARTITION_STYLE_GPT,
                      {sim::GptPartition(1, kEfi, L"A"), sim::GptPartition(2, kEfi, L"B")}),
     1,
     {"[Disk0] Disk is GPT.",
      "[Disk0] partition0 {C12A7328-F81F-11D2-BA4B-00A0C93EC93B}: [A] size=1Bytes.",
      "[Disk0] Partition0 is EFI partition.",
      "[Disk0] partition1 {C12A7328-F81F-11D2-BA4B-00A0C93EC93B}: [B] size=2Bytes.",
      "[Disk0] Partition1 is EFI partition.", "[Disk0] This is a OS disk"}},
    {"GptWithoutEfi",
     sim::LayoutReply(PARTITION_STYLE_GPT, {sim::GptPartition(500, kBasicData, kName36)}),
     0,
     {"[Disk0] Disk is GPT.", "[Disk0] partition0 {EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}: "
                              "[abcdefghijklmnopqrstuvwxyz0123456789] "
                              "size=500Bytes."}},
    {"TypeIsUpperCasedBeforeTheCompare",
     sim::LayoutReply(PARTITION_STYLE_GPT, {LowerCaseEfi()}),
     1,
     {"[Disk0] Disk is GPT.",
      "[Disk0] partition0 {C12A7328-F81F-11D2-BA4B-00A0C93EC93B}: [lower] size=1024Bytes.",
      "[Disk0] Partition0 is EFI partition.", "[Disk0] This is a OS disk"}},
    {"MbrActive",
     sim::LayoutReply(PARTITION_STYLE_MBR,
                      {sim::MbrPartition(524288000, false), sim::MbrPartition(5368709120LL, true)}),
     1,
     {"[Disk0] Disk is MBR.", "[Disk0] Partition0: [] size=524288000Bytes.",
      "[Disk0] Partition1: [] size=5368709120Bytes.", "[Disk0] This is a OS disk"}},
    {"RawIsLoggedAsMbr", sim::LayoutReply(PARTITION_STYLE_RAW, {}), 0, {"[Disk0] Disk is MBR."}},
    {"CountBeyondTheEntriesIsBounded",
     sim::LayoutReply(PARTITION_STYLE_MBR, {sim::MbrPartition(1, false)}, 100000),
     0,
     {"[Disk0] Disk is MBR.", "[Disk0] Partition0: [] size=1Bytes."}},
    {"LargestCountIsBounded",
     WithCount(sim::LayoutReply(PARTITION_STYLE_MBR, {sim::MbrPartition(1, false)}), 0x7FFFFFFF),
     0,
     {"[Disk0] Disk is MBR.", "[Disk0] Partition0: [] size=1Bytes."}},
    {"NegativeCountWalksNoEntry",
     WithCount(sim::LayoutReply(PARTITION_STYLE_GPT, {sim::GptPartition(1, kEfi, L"A")}), -1),
     0,
     {"[Disk0] Disk is GPT."}},
    {"MostNegativeCountWalksNoEntry",
     WithCount(sim::LayoutReply(PARTITION_STYLE_MBR, {sim::MbrPartition(1, true)}), INT32_MIN),
     0,
     {"[Disk0] Disk is MBR."}},
};

INSTANTIATE_TEST_SUITE_P(Layouts, PartitionWalk, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<LayoutCase>& param) {
                             return param.param.name;
                         });

struct MarkerCase {
    const char* name;
    std::wstring path;
    DWORD optaneCache;
    DWORD tg;
    DWORD optane;
};

class PathMarkers : public testing::TestWithParam<MarkerCase> {};

TEST_P(PathMarkers, SetTheFlagsByExactCase) {
    sim::Machine machine;
    machine.disks = {sim::Disk{}};
    machine.disks[0].path = GetParam().path;
    machine.disks[0].openError = ERROR_FILE_NOT_FOUND;
    sim::Install(machine);
    DriveRecord record;
    InitializeDriveRecord(&record);
    HRESULT outcome = S_OK;
    ProbeDrives(&record, 1, L"", &outcome);
    EXPECT_EQ(record.isIntelOptaneCache, GetParam().optaneCache);
    EXPECT_EQ(record.isIntelTGDisks, GetParam().tg);
    EXPECT_EQ(record.isOptane, GetParam().optane);
}

const MarkerCase kMarkers[] = {
    {"None", L"\\\\?\\scsi#disk&ven_nvme#1#{x}", 0, 0, 0},
    {"OptaneCache", L"\\\\?\\scsi#disk&ven_intel_mem#1#{x}", 1, 0, 0},
    {"Tg", L"\\\\?\\scsi#disk&ven_intel_hbr#1#{x}", 0, 1, 0},
    {"Optane", L"\\\\?\\scsi#disk&prod_optane_ssd#1#{x}", 0, 0, 1},
    {"CapitalOptaneIsNoMarker", L"\\\\?\\scsi#disk&prod_Optane#1#{x}", 0, 0, 0},
    {"AllThree", L"intel_mem intel_hbr optane", 1, 1, 1},
};

INSTANTIATE_TEST_SUITE_P(Paths, PathMarkers, testing::ValuesIn(kMarkers),
                         [](const testing::TestParamInfo<MarkerCase>& param) {
                             return param.param.name;
                         });

struct GeometryCase {
    const char* name;
    LONGLONG cylinders;
    DWORD tracks;
    DWORD sectors;
    DWORD bytes;
    ULONGLONG size;
    const char* line;
};

class DiskSize : public testing::TestWithParam<GeometryCase> {};

TEST_P(DiskSize, FollowsTheSizeRule) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    const GeometryCase& c = GetParam();
    machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_GEOMETRY}] =
        sim::GeometryReply(c.cylinders, c.tracks, c.sectors, c.bytes);
    testing_support::ProbeResult probed = testing_support::ProbeFirstDisk(machine);
    const DriveRecord& record = probed.record;
    EXPECT_EQ(record.Size, c.size);
    if (*c.line != '\0') {
        const std::vector<std::string>& lines = probed.lines;
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end());
    }
}

const GeometryCase kGeometries[] = {
    {"Example931", 121601, 255, 63, 512, 931, ""},
    {"BelowOneGiB", 100, 255, 63, 512, 0, ""},
    {"FourKiBSectors", 121601, 255, 63, 4096, 7452, ""},
    {"NegativeCylinders", -5, 255, 63, 512, 0,
     "[Disk0] Geometry gives no valid size, size unknown."},
    {"ProductOverflows", 0x7FFFFFFFFFFFLL, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0,
     "[Disk0] Geometry gives no valid size, size unknown."},
};

INSTANTIATE_TEST_SUITE_P(Geometries, DiskSize, testing::ValuesIn(kGeometries),
                         [](const testing::TestParamInfo<GeometryCase>& param) {
                             return param.param.name;
                         });

TEST_F(DiskProbe, ShortRepliesAreNotReadAsZeros) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    machine.disks[0].replies[{IOCTL_STORAGE_GET_DEVICE_NUMBER}] =
        sim::Reply{{0, 0, 0, 0}, std::nullopt};
    machine.disks[0].replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty}] =
        sim::Reply{std::vector<BYTE>(20, 0), std::nullopt};
    machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] =
        sim::Reply{std::vector<BYTE>(30, 0), std::nullopt};
    std::vector<DriveRecord> records = Probe(machine);
    EXPECT_EQ(records[0].Order, UnknownDeviceNumber);
    EXPECT_EQ(records[0].BusType, 0u);
    EXPECT_TRUE(
        Logged("[Disk0] IOCTL_STORAGE_GET_DEVICE_NUMBER answered 4 bytes, fewer than the 12 it "
               "needs; ignored."));
    EXPECT_TRUE(
        Logged("[Disk0] StorageDeviceProperty answered 20 bytes, fewer than the 32 it needs; "
               "ignored."));
    EXPECT_TRUE(
        Logged("[Disk0] IOCTL_DISK_GET_DRIVE_LAYOUT_EX answered 30 bytes, fewer than the 48 it "
               "needs; ignored."));
    EXPECT_EQ(records[0].PartitionCount, 0);
}

TEST_F(DiskProbe, LongPathIsProbedWholeAndHeldCut) {
    const std::wstring longPath = L"\\\\?\\scsi#disk&ven_x#" + std::wstring(240, L'p') +
                                  L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    sim::Machine machine;
    machine.disks = {FixedDisk(longPath, 3)};
    std::vector<DriveRecord> records = Probe(machine);
    EXPECT_EQ(std::wstring(records[0].Path), longPath.substr(0, 259));
    EXPECT_EQ(records[0].Order, 3u);
    EXPECT_EQ(std::wstring(records[0].DeviceID), L"scsi\\disk&ven_x\\" + std::wstring(240, L'p'));
    EXPECT_TRUE(Logged("[Disk0] DevicePath is longer than 259 characters, Path holds its start."));
}

TEST_F(DiskProbe, PathOf259CharactersFitsWhole) {
    const std::wstring path = L"\\\\?\\" + std::wstring(255, L'q');
    sim::Machine machine;
    machine.disks = {FixedDisk(path)};
    std::vector<DriveRecord> records = Probe(machine);
    EXPECT_EQ(std::wstring(records[0].Path), path);
    EXPECT_FALSE(Logged("[Disk0] DevicePath is longer than 259 characters, Path holds its start."));
}

// A character beyond the Basic Multilingual Plane is two units, as Windows hands it out: a path
// of 258 characters that ends in one needs 260 units, and the cut falls between its halves.
TEST_F(DiskProbe, PathCountsUtf16Units) {
    const std::string path = R"(\\\\?\\)" + std::string(254, 'q') + "\xF0\x9F\x98\x80";
    sim::Machine machine =
        sim::ParseMachine("{\"disks\": [{\"path\": \"" + path + "\"}]}", "m.json");
    std::vector<DriveRecord> records = Probe(machine);
    const std::wstring held(records[0].Path);
    ASSERT_EQ(held.size(), 259u);
    EXPECT_EQ(held.back(), static_cast<wchar_t>(0xD83D));
    EXPECT_TRUE(Logged("[Disk0] DevicePath is longer than 259 characters, Path holds its start."));
}

TEST_F(DiskProbe, DetailWithoutSizeOrPathLeavesAnEmptyPath) {
    sim::Machine machine;
    machine.disks = {FixedDisk(L"\\\\?\\a#{x}"), FixedDisk(L"\\\\?\\b#{x}", 1)};
    machine.disks[0].detailReportsNoSize = true;
    machine.disks[1].detailError = ERROR_GEN_FAILURE;
    std::vector<DriveRecord> records = Probe(machine);
    EXPECT_EQ(filled_, 2u);
    for (const DriveRecord& record : records) {
        EXPECT_STREQ(record.Path, L"");
        EXPECT_EQ(record.Order, UnknownDeviceNumber);
    }
    EXPECT_TRUE(Logged("[Disk0] Interface detail reports no size (0 bytes)."));
    EXPECT_TRUE(Logged("[Disk0] DevicePath="));
    EXPECT_TRUE(Logged("[Disk1] DevicePath="));
    EXPECT_EQ(sim::CurrentCounters().liveHeapBlocks, 0);
}

TEST_F(DiskProbe, DetailThatCannotBeAllocatedIsLogged) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    sim::Install(machine);
    sim::FailHeapAllocation(0, 100);
    DriveRecord record;
    InitializeDriveRecord(&record);
    logPath_ = folder_.Windows() + L"\\probe.log";
    // The detail buffer is the first allocation of that size; log entries are smaller.
    ProbeDrives(&record, 1, logPath_.c_str(), &outcome_);
    const size_t detailBytes = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                               (kPath.size() + 1) * sizeof(WCHAR);
    EXPECT_TRUE(Logged("[Disk0] Cannot allocate " + std::to_string(detailBytes) +
                       " bytes for the interface detail."));
    EXPECT_STREQ(record.Path, L"");
}

TEST_F(DiskProbe, MoreInterfacesThanRecordsWritesNoFurther) {
    sim::Machine machine;
    for (DWORD i = 0; i < 4; ++i) {
        machine.disks.push_back(FixedDisk(L"\\\\?\\d" + std::to_wstring(i) + L"#{x}", i));
    }
    std::vector<DriveRecord> records(3);
    DriveRecord guard;
    std::memset(&guard, 0xAB, sizeof(guard));
    records.push_back(guard);
    sim::Install(machine);
    for (size_t i = 0; i < 3; ++i) {
        InitializeDriveRecord(&records[i]);
    }
    HRESULT outcome = S_OK;
    EXPECT_EQ(ProbeDrives(records.data(), 2, L"", &outcome), 2u);
    EXPECT_EQ(records[2].Order, UnknownDeviceNumber);
    EXPECT_EQ(std::memcmp(&records[3], &guard, sizeof(guard)), 0);
}

TEST_F(DiskProbe, NoInterfacesLogsNothing) {
    Probe(sim::Machine{});
    EXPECT_EQ(filled_, 0u);
    EXPECT_FALSE(folder_.Exists("probe.log"));
}

} // namespace

namespace {

TEST(DiskProbeMemory, LayoutBufferThatCannotBeAllocatedCountsAsAFailedAttempt) {
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] =
        sim::LayoutReply(PARTITION_STYLE_MBR, {sim::MbrPartition(1, true)});
    sim::Install(machine);
    // Of the allocations of 190 bytes or more, the interface detail comes first, then the
    // first layout buffer (192 bytes); log entries are smaller.
    sim::FailHeapAllocation(1, 190);
    DriveRecord record;
    InitializeDriveRecord(&record);
    HRESULT outcome = S_OK;
    ScratchFolder folder;
    const std::wstring logPath = folder.Windows() + L"\\p.log";
    ProbeDrives(&record, 1, logPath.c_str(), &outcome);
    std::vector<std::string> lines = LinesWithoutStamps(folder.ReadFile("p.log"));
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "[Disk0] IOCTL_DISK_GET_DRIVE_LAYOUT_EX done, i=[1]."),
              lines.end());
    EXPECT_EQ(record.IsSysDisk, 1u);
    EXPECT_EQ(outcome, S_OK);
}

} // namespace

namespace {

bool Answers(const sim::Disk& disk, const DiskRequest& request) {
    const std::optional<DWORD> property =
        request.controlCode == IOCTL_STORAGE_QUERY_PROPERTY
            ? std::optional<DWORD>(static_cast<DWORD>(request.property))
            : std::nullopt;
    if (sim::FindDiskRequest({request.controlCode, property}) == nullptr) {
        return false;
    }
    const auto reply = disk.replies.find({request.controlCode, property});
    return !disk.openError && reply != disk.replies.end() && !reply->second.error &&
           reply->second.bytes.size() >= request.neededBytes;
}

} // namespace

// A request added to the probe's plan is a request the model answers, the tests' healthy disk
// answers it in full, and some example whose log is pinned meets it answered.
TEST(RequestPlan, EveryRowIsAnsweredByTheHealthyDiskAndAPinnedExample) {
    namespace fs = std::filesystem;
    std::vector<sim::Machine> pinned;
    for (const auto& entry :
         fs::directory_iterator(fs::path(DESTPICK_SOURCE_DIR) / "examples/machines")) {
        if (fs::exists(fs::path(DESTPICK_SOURCE_DIR) / "tests/example_logs" /
                       entry.path().filename().replace_extension(".log"))) {
            pinned.push_back(sim::LoadMachineFile(entry.path().string()));
        }
    }
    ASSERT_FALSE(pinned.empty());
    for (const DiskRequest& request : DiskRequestPlan) {
        SCOPED_TRACE(sim::ToUtf8(request.name));
        EXPECT_TRUE(Answers(FixedDisk(), request));
        const bool met = std::any_of(pinned.begin(), pinned.end(), [&](const sim::Machine& m) {
            return std::any_of(m.disks.begin(), m.disks.end(),
                               [&](const sim::Disk& disk) { return Answers(disk, request); });
        });
        EXPECT_TRUE(met);
    }
}
