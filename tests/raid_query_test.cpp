// The RAID driver query over simulated controllers, and the rules the probe applies to its answer.
#include "inventory/disk_probe.h"
#include "inventory/raid_query.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sim/replies.h>

#include <ntddscsi.h>

#include <algorithm>

namespace {

using testing_support::LinesWithoutStamps;
using testing_support::ScratchFolder;

sim::Controller Answering(std::vector<BYTE> reply, BOOL result = TRUE, DWORD bytes = 44) {
    sim::Controller controller;
    controller.open = sim::Controller::Open::Opens;
    const DWORD lastError = result ? 0u : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
    controller.answer = {result, lastError, bytes, reply};
    return controller;
}

sim::Controller Absent() {
    return sim::Controller{};
}

class RaidQuery : public testing::Test {
  protected:
    int Query(const sim::Machine& machine, DWORD port = 1, DWORD bus = 0, DWORD target = 2,
              DWORD lun = 0) {
        sim::Install(machine);
        std::wstring logPath = folder_.Windows() + L"\\r.log";
        int result = QueryRaidDiskInfo(port, bus, target, lun, logPath.c_str(), &reply_);
        EXPECT_EQ(sim::CurrentCounters().openHandles, 0);
        EXPECT_EQ(sim::CurrentCounters().unknownRequests, 0);
        return result;
    }
    std::vector<std::string> Lines() const {
        return LinesWithoutStamps(folder_.ReadFile("r.log"));
    }
    ScratchFolder folder_;
    // Marked, so that a reply left as the caller gave it shows.
    RaidMessage reply_ = {{}, -7, -7, -7, -7};
};

TEST_F(RaidQuery, NoControllerTriesAllFive) {
    EXPECT_EQ(Query(sim::Machine{}), 0);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"[Disk 1-0-2-0] Checking \\\\.\\scsi0:.",
                                                 "[Disk 1-0-2-0] Checking \\\\.\\scsi1:.",
                                                 "[Disk 1-0-2-0] Checking \\\\.\\scsi2:.",
                                                 "[Disk 1-0-2-0] Checking \\\\.\\scsi3:.",
                                                 "[Disk 1-0-2-0] Checking \\\\.\\scsi4:.",
                                                 "[Disk 1-0-2-0] Cannot find SCSI controller"}));
    EXPECT_EQ(reply_.connectionInterface, -7);
}

// The log writer's open of the existing log leaves ERROR_ALREADY_EXISTS pending just before the
// request; the logged last error must be the successful request's own.
TEST_F(RaidQuery, AnsweringControllerFillsTheOutputs) {
    sim::Machine machine;
    machine.controllers = {Absent(), Answering(sim::RaidReply(0x12, 10, 3, 4, 5))};
    EXPECT_EQ(Query(machine), 1);
    EXPECT_EQ(
        Lines(),
        (std::vector<std::string>{
            "[Disk 1-0-2-0] Checking \\\\.\\scsi0:.", "[Disk 1-0-2-0] Checking \\\\.\\scsi1:.",
            "[Disk 1-0-2-0] Disk ID=0x01000200", "[Disk 1-0-2-0] ReturnCode=1",
            "[Disk 1-0-2-0] GetLastError=0x00000000", "[Disk 1-0-2-0] Bytes return=44",
            "[Disk 1-0-2-0] SRB_IO_CONTROL.Return=0x00000012",
            "[Disk 1-0-2-0] connectionInterface=0x3", "[Disk 1-0-2-0] connectionType=0x10",
            "[Disk 1-0-2-0] pciBusSpeed=0x5", "[Disk 1-0-2-0] pciBusWidth=0x4"}));
    EXPECT_EQ(reply_.connectionInterface, 3);
    EXPECT_EQ(reply_.connectionType, 10);
    EXPECT_EQ(reply_.pciBusSpeed, 5);
    EXPECT_EQ(reply_.pciBusWidth, 4);
}

TEST_F(RaidQuery, RequestBytesAreTheDriversLayout) {
    sim::Machine machine;
    machine.controllers = {Answering(sim::RaidReply(0, 0, 0, 0, 0))};
    Query(machine, 0x1FF, 0x2, 0x3, 0x4);
    ASSERT_EQ(sim::IoRequests().size(), 1u);
    const sim::IoRequest& request = sim::IoRequests()[0];
    EXPECT_EQ(request.device, L"\\\\.\\scsi0:");
    EXPECT_EQ(request.code, IOCTL_SCSI_MINIPORT);
    EXPECT_EQ(request.outputSize, 44u);
    // The Disk ID wraps in 32 bits: a port above 255 spills into nothing but the top byte.
    const std::vector<BYTE> expected = {28,   0,    0,    0, 'I', 'n',  't',  'e', 'l',  'R',  'm',
                                        'p',  0xF4, 0x01, 0, 0,   0x01, 0x0D, 0,   0x80, 0x04, 0x03,
                                        0x02, 0xFF, 16,   0, 0,   0,    0,    0,   0,    0,    0,
                                        0,    0,    0,    0, 0,   0,    0,    0,   0,    0,    0};
    EXPECT_EQ(request.input, expected);
    ASSERT_EQ(sim::OpenRequests().size(), 1u);
    EXPECT_EQ(sim::OpenRequests()[0].access, FILE_ALL_ACCESS);
    EXPECT_EQ(sim::OpenRequests()[0].shareMode, 0u);
}

TEST_F(RaidQuery, FirstOpenControllerThatRefusesEndsTheSearch) {
    sim::Machine machine;
    machine.controllers = {Absent(), Answering({}, FALSE, 0),
                           Answering(sim::RaidReply(0, 3, 0, 0, 5))};
    EXPECT_EQ(Query(machine), 0);
    std::vector<std::string> lines = Lines();
    EXPECT_EQ(lines.back(), "[Disk 1-0-2-0] Function failed");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[Disk 1-0-2-0] GetLastError=0x00000001"),
              lines.end());
    EXPECT_EQ(sim::OpenRequests().size(), 2u);
    EXPECT_EQ(reply_.connectionType, -7);
}

TEST_F(RaidQuery, NullHandleEndsTheSearch) {
    sim::Machine machine;
    machine.controllers = {Absent(), Absent()};
    machine.controllers[1].open = sim::Controller::Open::NullHandle;
    EXPECT_EQ(Query(machine), 0);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"[Disk 1-0-2-0] Checking \\\\.\\scsi0:.",
                                                 "[Disk 1-0-2-0] Checking \\\\.\\scsi1:.",
                                                 "[Disk 1-0-2-0] Cannot find SCSI controller"}));
}

TEST_F(RaidQuery, ShortReplyLeavesZerosNotStaleMemory) {
    sim::Machine machine;
    std::vector<BYTE> reply = sim::RaidReply(9, 4, 4, 4, 4);
    reply.resize(30);
    machine.controllers = {Answering(reply, TRUE, 30)};
    EXPECT_EQ(Query(machine), 1);
    EXPECT_EQ(reply_.connectionType, 4); // connectionType: bytes 28 and 29 came back
    EXPECT_EQ(reply_.connectionInterface, 0);
    EXPECT_EQ(reply_.pciBusSpeed, 0);
    EXPECT_EQ(reply_.pciBusWidth, 0);
    machine.controllers = {Answering({}, TRUE, 0)};
    EXPECT_EQ(Query(machine), 1);
    EXPECT_EQ(reply_.connectionType, 0);
    EXPECT_NE(std::find(Lines().begin(), Lines().end(),
                        "[Disk 1-0-2-0] SRB_IO_CONTROL.Return=0x00000000"),
              Lines().end());
}

// The probe's rules on the driver's answer, on an NVMe disk whose own lookup found nothing.
struct RuleCase {
    const char* name;
    LONG connectionType;
    LONG pciBusSpeed;
    BYTE deviceType;
    LONG nvmeGen;
    bool typeLine;
    bool generationLine;
};

class RaidRules : public testing::TestWithParam<RuleCase> {};

TEST_P(RaidRules, UpdateTheRecord) {
    sim::Machine machine;
    sim::Disk disk;
    disk.path = L"\\\\?\\scsi#disk&ven_nvme#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    disk.replies[{IOCTL_STORAGE_GET_DEVICE_NUMBER}] = sim::DeviceNumberReply(0);
    disk.replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty}] =
        sim::DeviceDescriptorReply(BusTypeNvme, false, 99);
    disk.replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] = sim::LayoutReply(PARTITION_STYLE_RAW, {});
    machine.disks = {disk};
    machine.controllers = {
        Answering(sim::RaidReply(0, GetParam().connectionType, 0, 0, GetParam().pciBusSpeed))};
    testing_support::ProbeResult probed = testing_support::ProbeFirstDisk(machine);
    const DriveRecord& record = probed.record;
    EXPECT_EQ(record.DeviceType, GetParam().deviceType);
    EXPECT_EQ(record.NVMeGen, GetParam().nvmeGen);
    const std::vector<std::string>& lines = probed.lines;
    auto logged = [&lines](const char* line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(logged("[Disk0] Success getting information under Intel RST/VMD."));
    EXPECT_EQ(logged("[Disk0] Update DeviceType."), GetParam().typeLine);
    EXPECT_EQ(logged("[Disk0] Update NVMe generation."), GetParam().generationLine);
    EXPECT_EQ(sim::CurrentCounters().openHandles, 0);
    EXPECT_EQ(sim::CurrentCounters().liveDeviceInfoSets, 0);
}

// -2: the disk's node tells no parent, so the NVMe lookup found nothing and the RAID generation
// replaces it.
const RuleCase kRules[] = {
    {"NothingBelowTwo", 1, 1, 99, -2, false, false},
    {"NegativeValues", -5, -5, 99, -2, false, false},
    {"SataConnection", 2, 0, 11, -2, true, false},
    {"NvmeConnection3", 3, 0, 17, -2, true, false},
    {"NvmeConnection4", 4, 0, 17, -2, true, false},
    {"UnknownConnectionChangesNothing", 5, 0, 99, -2, true, false},
    {"Speed2IsGen1", 0, 2, 99, 1, false, true},
    {"Speed3IsGen2", 0, 3, 99, 2, false, true},
    {"Speed4IsGen3", 0, 4, 99, 3, false, true},
    {"Speed5IsGen4", 0, 5, 99, 4, false, true},
    {"Speed6ChangesNothing", 0, 6, 99, -2, false, true},
    {"Both", 3, 5, 17, 4, true, true},
};

INSTANTIATE_TEST_SUITE_P(Rules, RaidRules, testing::ValuesIn(kRules),
                         [](const testing::TestParamInfo<RuleCase>& param) {
                             return param.param.name;
                         });

} // namespace

namespace {

TEST(RaidEndToEnd, DriversAnswerLiftsTheDiskBehindItAndChangesThePick) {
    struct Case {
        const char* machine;
        std::string output;
        LONGLONG vmdWeight;
    };
    const Case cases[] = {{"vmd-raid.json", "Destination=\\\\.\\PHYSICALDRIVE0", 8009047150LL},
                          {"vmd-refused.json", "Destination=\\\\.\\PHYSICALDRIVE1", 5009047150LL}};
    for (const Case& c : cases) {
        ScratchFolder folder;
        sim::Machine machine = sim::LoadMachineFile(
            std::string(DESTPICK_SOURCE_DIR "/examples/machines/") + c.machine);
        testing_support::RunResult result =
            testing_support::RunSystem(machine, testing_support::ModuleIn(folder));
        EXPECT_EQ(result.output, c.output) << c.machine;
        std::vector<std::string> lines = LinesWithoutStamps(folder.ReadFile("destpick.log"));
        EXPECT_NE(
            std::find(lines.begin(), lines.end(), "Drive[0].Weight=" + std::to_string(c.vmdWeight)),
            lines.end())
            << c.machine;
    }
}

} // namespace
