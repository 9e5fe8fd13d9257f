// Odd and hostile answers from the machine that no other suite meets: each has one defined,
// logged outcome, and none leads to a pick the run cannot justify.
#include "inventory/disk_probe.h"
#include "inventory/pci_link_speed.h"
#include "inventory/raid_query.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using testing_support::FixedDisk;
using testing_support::LinesWithoutStamps;
using testing_support::ModuleIn;
using testing_support::RunSystem;
using testing_support::ScratchFolder;

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Sixteen fixed disks, numbered 0 to 15: a run of some 700 entries.
sim::Machine SixteenDisks() {
    sim::Machine machine;
    for (DWORD k = 0; k < 16; ++k) {
        machine.disks.push_back(FixedDisk(testing_support::kPath + std::to_wstring(k), k));
    }
    return machine;
}

// The log's lines, and how many of them do not start with the stamp of the tests' fixed clock.
struct LogLines {
    size_t count = 0;
    size_t unstamped = 0;
};
LogLines CountLines(const std::string& log) {
    const size_t stampLength = std::strlen(testing_support::kStamp);
    LogLines lines;
    size_t start = 0;
    while (start < log.size()) {
        ++lines.count;
        if (log.compare(start, stampLength, testing_support::kStamp) != 0) {
            ++lines.unstamped;
        }
        const size_t end = log.find('\n', start);
        start = end == std::string::npos ? log.size() : end + 1;
    }
    return lines;
}

TEST(BadInput, LogFileLockedByAnotherProcessLosesTheRunsEntriesButNotItsAnswer) {
    ScratchFolder folder;
    const std::wstring logPath = folder.Windows() + L"\\destpick.log";
    testing_support::FileHeldElsewhere held(logPath);
    ASSERT_TRUE(held.Held());
    const sim::Machine machine = SixteenDisks();
    // Every entry of the run meets the held log: the waits it loses are bounded for the run as a
    // whole, not per entry.
    const auto start = std::chrono::steady_clock::now();
    testing_support::RunResult locked = RunSystem(machine, ModuleIn(folder));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(locked.output, "Destination=\\\\.\\PHYSICALDRIVE0");
    EXPECT_EQ(folder.ReadFile("destpick.log"), "");
    held.Release();
    RunSystem(machine, ModuleIn(folder));
    EXPECT_NE(folder.ReadFile("destpick.log").find("Destination=\\\\.\\PHYSICALDRIVE0"),
              std::string::npos);
}

TEST(BadInput, FourRunsAtOnceLoseNoEntryOfTheirLog) {
    const sim::Machine machine = SixteenDisks();
    ScratchFolder alone;
    RunSystem(machine, ModuleIn(alone));
    const size_t linesOfOneRun = CountLines(alone.ReadFile("destpick.log")).count;
    ASSERT_GT(linesOfOneRun, 600u);

    ScratchFolder shared;
    std::vector<pid_t> runs;
    for (int k = 0; k < 4; ++k) {
        const pid_t run = fork();
        ASSERT_GE(run, 0);
        if (run == 0) {
            const testing_support::RunResult result = RunSystem(machine, ModuleIn(shared));
            _exit(result.output == "Destination=\\\\.\\PHYSICALDRIVE0" ? 0 : 1);
        }
        runs.push_back(run);
    }
    for (pid_t run : runs) {
        int status = 0;
        waitpid(run, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const LogLines lines = CountLines(shared.ReadFile("destpick.log"));
    EXPECT_EQ(lines.count, 4 * linesOfOneRun);
    EXPECT_EQ(lines.unstamped, 0u);
}

TEST(BadInput, LogThatIsAFifoIsRefusedWithoutBlockingTheRun) {
    ScratchFolder folder;
    const std::string fifo = folder.Posix() + "/destpick.log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    // A run that blocked on the FIFO would never end: the alarm ends the test instead.
    alarm(20);
    testing_support::RunResult result = RunSystem(machine, ModuleIn(folder));
    alarm(0);
    EXPECT_EQ(result.output, "Destination=\\\\.\\PHYSICALDRIVE0");
    struct stat info {};
    ASSERT_EQ(stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(BadInput, BusTypeOutsideTheEnumerationIsKeptAndRanksLowest) {
    ScratchFolder folder;
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    // The bus type sits at offset 28 of the descriptor, as four bytes.
    machine.disks[0].replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty}].bytes[28] = 200;
    testing_support::RunResult result = RunSystem(machine, ModuleIn(folder));
    std::vector<std::string> lines = LinesWithoutStamps(folder.ReadFile("destpick.log"));
    EXPECT_TRUE(Has(lines, "[Disk0] BusType=200. "));
    EXPECT_TRUE(Has(lines, "Drive[0].weight_speed=0"));
    EXPECT_EQ(result.output, "Destination=\\\\.\\PHYSICALDRIVE0");
}

TEST(BadInput, NegativePartitionLengthIsLoggedAsItsUnsignedReading) {
    ScratchFolder folder;
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] =
        sim::LayoutReply(PARTITION_STYLE_MBR, {sim::MbrPartition(-1, false)});
    RunSystem(machine, ModuleIn(folder));
    EXPECT_TRUE(Has(LinesWithoutStamps(folder.ReadFile("destpick.log")),
                    "[Disk0] Partition0: [] size=18446744073709551615Bytes."));
}

TEST(BadInput, ControllerReportingMoreBytesThanItsReplyIsLoggedAsItSays) {
    ScratchFolder folder;
    sim::Machine machine;
    sim::Controller controller;
    controller.open = sim::Controller::Open::Opens;
    controller.answer.bytesReturned = 100000;
    controller.answer.reply = sim::RaidReply(0, 3, 1, 4, 4);
    machine.controllers = {controller};
    sim::Install(machine);
    RaidMessage reply;
    const std::wstring logPath = folder.Windows() + L"\\r.log";
    EXPECT_EQ(QueryRaidDiskInfo(0, 0, 0, 0, logPath.c_str(), &reply), 1);
    EXPECT_EQ(reply.connectionType, 3);
    EXPECT_EQ(reply.pciBusSpeed, 4);
    EXPECT_TRUE(
        Has(LinesWithoutStamps(folder.ReadFile("r.log")), "[Disk 0-0-0-0] Bytes return=100000"));
}

TEST(BadInput, DescriptionTooLongForThePropertyBufferYieldsNoParent) {
    ScratchFolder folder;
    sim::Machine machine;
    sim::DeviceNode node;
    node.instanceId = L"SCSI\\DISK\\1";
    node.busReportedDescription = std::wstring(9000, L'd');
    node.parent = L"PCI\\PARENT";
    machine.nodes = {node};
    sim::Install(machine);
    const std::wstring logPath = folder.Windows() + L"\\l.log";
    EXPECT_EQ(GetPciMaxLinkSpeed(L"SCSI\\DISK\\1", logPath.c_str()), -2);
    EXPECT_EQ(LinesWithoutStamps(folder.ReadFile("l.log")),
              std::vector<std::string>{"SCSI\\DISK\\1"});
}

TEST(BadInput, DriverWritingABusTypeButNoNumberNeverBecomesTheDestination) {
    ScratchFolder folder;
    sim::Machine machine;
    machine.disks = {FixedDisk()};
    machine.disks[0].replies[{IOCTL_STORAGE_GET_DEVICE_NUMBER}] =
        sim::FailingReply(ERROR_INVALID_FUNCTION);
    testing_support::RunResult result = RunSystem(machine, ModuleIn(folder));
    EXPECT_EQ(result.output, "Destination=UNKNOWN");
    EXPECT_TRUE(Has(LinesWithoutStamps(folder.ReadFile("destpick.log")),
                    "Unknown device number, never be a main storage condidate."));
}

} // namespace
