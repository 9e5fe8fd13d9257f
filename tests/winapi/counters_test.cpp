// The stand-in's call counters, which the benchmark reports: pinned to what one run on a small
// known machine asks of the platform, so that they cannot drift from the calls they name.
#include "inventory/device_services.h"
#include "inventory/disk_probe.h"
#include "selection/run_driver.h"
#include "selection/weighting.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ntddscsi.h>
#include <winioctl.h>

#include <vector>

namespace {

using testing_support::FixedDisk;
using testing_support::ModuleIn;
using testing_support::RunSystem;
using testing_support::ScratchFolder;

const std::wstring kDiskId = L"SCSI\\DISK&VEN_NVME&PROD_MODEL_X100\\4&2C41E0AA&0&020000";
const std::wstring kParentId = L"PCI\\VEN_5EED&DEV_0100&SUBSYS_01005EED&REV_01\\4&35A1C6D2&0&0008";

sim::Disk UsbStick() {
    sim::Disk disk;
    disk.path = L"\\\\?\\usbstor#disk&ven_usb&prod_flash_drive&rev_1.00#0123456789abcdef&0#{"
                L"53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    disk.replies[{IOCTL_STORAGE_GET_DEVICE_NUMBER}] = sim::DeviceNumberReply(1);
    disk.replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty}] =
        sim::DeviceDescriptorReply(BusTypeUsb, true);
    disk.replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceSeekPenaltyProperty}] =
        sim::FailingReply(ERROR_NOT_SUPPORTED);
    disk.replies[{IOCTL_DISK_GET_DRIVE_GEOMETRY}] =
        sim::GeometryReply(3824, 255, 63, 512, RemovableMedia);
    disk.replies[{IOCTL_SCSI_GET_ADDRESS}] = sim::ScsiAddressReply(2, 0, 0, 0);
    disk.replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] =
        sim::LayoutReply(PARTITION_STYLE_MBR, {sim::MbrPartition(1 << 30, false)});
    return disk;
}

// An NVMe disk whose layout fits the second buffer, with its node and its controller's node; a
// USB stick, whose layout is never asked for because it is removable; SCSI controller 0 absent
// and controller 1 refusing the RAID query.
sim::Machine SmallMachine() {
    sim::Machine machine;
    machine.disks = {FixedDisk(), UsbStick()};
    sim::DeviceNode disk;
    disk.instanceId = kDiskId;
    disk.registryDescription = L"Disk drive";
    disk.deviceDescription = L"Disk drive";
    disk.busReportedDescription = L"NVMe MODEL X100";
    disk.parent = kParentId;
    sim::DeviceNode controller;
    controller.instanceId = kParentId;
    controller.registryDescription = L"Standard NVM Express Controller";
    controller.busReportedDescription = L"NVMe controller";
    controller.maxLinkSpeed = std::vector<BYTE>{3, 0, 0, 0};
    machine.nodes = {disk, controller};
    sim::Controller absent;
    sim::Controller refusing;
    refusing.open = sim::Controller::Open::Opens;
    refusing.answer.result = FALSE;
    refusing.answer.lastError = ERROR_INVALID_FUNCTION;
    machine.controllers = {absent, refusing};
    return machine;
}

int StampedLines(const std::string& log) {
    int count = 0;
    for (size_t at = log.find(testing_support::kStamp); at != std::string::npos;
         at = log.find(testing_support::kStamp, at + 1)) {
        ++count;
    }
    return count;
}

// The run driver's steps with an empty log path, as the benchmark's run without log makes them;
// the chosen position.
LONG RunWithoutLog() {
    const LONG count = CountDiskInterfaces();
    std::vector<DriveRecord> records(static_cast<size_t>(count));
    for (DriveRecord& record : records) {
        InitializeDriveRecord(&record);
    }
    HRESULT outcome = S_OK;
    ProbeDrives(records.data(), static_cast<DWORD>(count), L"", &outcome);
    WeighDrives(records.data(), count, L"");
    return PickDrive(records.data(), count, L"");
}

class CallCounters : public testing::Test {
  protected:
    sim::Counters CountedRun() {
        RunSystem(SmallMachine(), ModuleIn(folder_));
        return sim::CurrentCounters();
    }
    ScratchFolder folder_;
};

TEST_F(CallCounters, OneRunMakesTheCallsItsStepsNeed) {
    const sim::Counters calls = CountedRun();
    const int entries = StampedLines(folder_.ReadFile("destpick.log"));
    ASSERT_GT(entries, 0);
    // Every entry opens the log and writes once; none searches for it.
    EXPECT_EQ(calls.fileFinds, 0);
    EXPECT_EQ(calls.fileOpens, entries);
    EXPECT_EQ(calls.fileWrites, entries);
    // Per disk: the disk itself, then controller 0, which does not open, and controller 1.
    EXPECT_EQ(calls.deviceOpens, 6);
    // The NVMe disk: five storage requests, two layout attempts and the RAID query; the USB
    // stick: five requests and the RAID query.
    EXPECT_EQ(calls.deviceIoControls, 14);
    // Counting: the class query, three enumerations, the release (5). Probe: the class query, two
    // enumerations, two detail calls per disk, the release (8). Link speed of the NVMe disk: its
    // node set with one node of six reads and a closing enumeration (10), then the parent's set,
    // which answers at its first node (8).
    EXPECT_EQ(calls.setupApiCalls, 31);
}

TEST_F(CallCounters, WithoutLogPathTheDeviceCallsStayAndNoFileIsTouched) {
    const sim::Counters full = CountedRun();
    sim::Install(SmallMachine());
    EXPECT_EQ(RunWithoutLog(), 0);
    const sim::Counters silent = sim::CurrentCounters();
    EXPECT_EQ(silent.fileFinds, 0);
    EXPECT_EQ(silent.fileOpens, 0);
    EXPECT_EQ(silent.fileWrites, 0);
    EXPECT_EQ(silent.deviceOpens, full.deviceOpens);
    EXPECT_EQ(silent.deviceIoControls, full.deviceIoControls);
    EXPECT_EQ(silent.setupApiCalls, full.setupApiCalls);
}

TEST_F(CallCounters, InstallStartsEveryCountAndThePeakAgain) {
    const sim::Counters run = CountedRun();
    // The records and the layout buffer of the second attempt are held at the same time.
    EXPECT_GE(run.peakHeapBytes, 2 * sizeof(DriveRecord) + sizeof(DRIVE_LAYOUT_INFORMATION_EX) +
                                     sizeof(PARTITION_INFORMATION_EX));
    sim::Install(sim::Machine{});
    const sim::Counters fresh = sim::CurrentCounters();
    EXPECT_EQ(fresh.fileFinds, 0);
    EXPECT_EQ(fresh.fileOpens, 0);
    EXPECT_EQ(fresh.fileWrites, 0);
    EXPECT_EQ(fresh.deviceOpens, 0);
    EXPECT_EQ(fresh.deviceIoControls, 0);
    EXPECT_EQ(fresh.setupApiCalls, 0);
    EXPECT_EQ(fresh.peakHeapBytes, 0u);
}

} // namespace
