// The PCIe link speed lookup over simulated device nodes: each result and the log it leaves.
#include "inventory/pci_link_speed.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using testing_support::LinesWithoutStamps;
using testing_support::ScratchFolder;

const std::wstring kDiskId = L"SCSI\\DISK&VEN_NVME&PROD_X\\4&2C41E0AA&0&020000";
const std::wstring kParentId = L"PCI\\VEN_8086&DEV_A0BC&SUBSYS_00000000&REV_00\\3&11583659&0&E8";

sim::DeviceNode DiskNode() {
    sim::DeviceNode node;
    node.instanceId = kDiskId;
    node.registryDescription = L"Disk drive";
    node.deviceDescription = L"Disk drive";
    node.busReportedDescription = L"NVMe Model X";
    node.parent = kParentId;
    return node;
}

sim::DeviceNode ParentNode(std::vector<BYTE> speed = {4, 0, 0, 0}) {
    sim::DeviceNode node;
    node.instanceId = kParentId;
    node.registryDescription = L"Standard NVM Express Controller";
    node.busReportedDescription = L"PCI Express Root Port";
    node.maxLinkSpeed = speed;
    return node;
}

class LinkSpeed : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::FixClock();
    }
    void TearDown() override {
        testing_support::ReleaseClock();
    }
    LONG Lookup(const sim::Machine& machine, const std::wstring& id = kDiskId) {
        sim::Install(machine);
        std::wstring logPath = folder_.Windows() + L"\\l.log";
        LONG result = GetPciMaxLinkSpeed(id.c_str(), logPath.c_str());
        EXPECT_EQ(sim::CurrentCounters().liveDeviceInfoSets, 0);
        EXPECT_EQ(sim::CurrentCounters().openHandles, 0);
        return result;
    }
    std::vector<std::string> Lines() const {
        return folder_.Exists("l.log") ? LinesWithoutStamps(folder_.ReadFile("l.log"))
                                       : std::vector<std::string>{};
    }
    std::string Log() const {
        return folder_.ReadFile("l.log");
    }
    ScratchFolder folder_;
};

TEST_F(LinkSpeed, EveryReadAnsweredLeavesNineLines) {
    sim::Machine machine;
    machine.nodes = {DiskNode(), ParentNode()};
    EXPECT_EQ(Lookup(machine), 4);
    const std::string s = testing_support::kStamp;
    EXPECT_EQ(Log(), s + "SCSI\\DISK&VEN_NVME&PROD_X\\4&2C41E0AA&0&020000\r\n" + s +
                         "\tDevice Description: \"Disk drive\"\r\n" + s +
                         "\tDevice Description: \"Disk drive\"\r\n" + s +
                         "\tBus Reported Device Description: \"NVMe Model X\"\r\n" + s +
                         "\tDevice Parent: "
                         "\"PCI\\VEN_8086&DEV_A0BC&SUBSYS_00000000&REV_00\\3&11583659&0&E8\"\n" +
                         s + "PCI\\VEN_8086&DEV_A0BC&SUBSYS_00000000&REV_00\\3&11583659&0&E8\r\n" +
                         s + "\tDevice Description: \"Standard NVM Express Controller\"\r\n" + s +
                         "\tBus Reported Device Description: \"PCI Express Root Port\"\r\n" + s +
                         "\tDevice Pci max speed: \"4\"\n");
}

// Descriptions as long as Windows' buffers hold (1023 and 4095 characters) are read whole, and the
// lookup goes on to the parent's speed.
TEST_F(LinkSpeed, LongDescriptionsFitTheBuffers) {
    sim::Machine machine;
    machine.nodes = {DiskNode(), ParentNode()};
    machine.nodes[0].registryDescription = std::wstring(600, L'r');
    machine.nodes[0].busReportedDescription = std::wstring(2100, L'b');
    EXPECT_EQ(Lookup(machine), 4);
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(lines[1], "\tDevice Description: \"" + std::string(600, 'r') + "\"");
}

struct SpeedCase {
    const char* name;
    std::vector<BYTE> bytes;
    LONG result;
};

class LinkSpeedValue : public LinkSpeed, public testing::WithParamInterface<SpeedCase> {};

TEST_P(LinkSpeedValue, IsTheFirstTwoBytes) {
    sim::Machine machine;
    machine.nodes = {DiskNode(), ParentNode(GetParam().bytes)};
    EXPECT_EQ(Lookup(machine), GetParam().result);
}

const SpeedCase kSpeeds[] = {
    {"Zero", {0, 0, 0, 0}, 0},
    {"Gen3", {3, 0, 0, 0}, 3},
    {"HighBitStaysPositive", {0x00, 0x90, 0, 0}, 36864},
    {"OnlyTwoBytesRead", {5, 0, 1, 1}, 5},
    {"ExactlyTwoBytes", {2, 0}, 2},
    // One byte is not a speed: the node yields none.
    {"OneByteIsNoSpeed", {7}, -4},
    // An empty property is read successfully and holds no speed.
    {"EmptyPropertyIsNoSpeed", {}, -4},
};

INSTANTIATE_TEST_SUITE_P(Speeds, LinkSpeedValue, testing::ValuesIn(kSpeeds),
                         [](const testing::TestParamInfo<SpeedCase>& param) {
                             return param.param.name;
                         });

TEST_F(LinkSpeed, RefusedEnumeratorIsMinusOne) {
    sim::Machine machine;
    machine.nodes = {DiskNode(), ParentNode()};
    machine.enumeratorSets = {{kDiskId, true, {}}};
    EXPECT_EQ(Lookup(machine), -1);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(Lookup(machine, L"NO\\SUCH\\DEVICE"), -1);
}

TEST_F(LinkSpeed, EmptyDiskSetIsMinusTwo) {
    sim::Machine machine;
    machine.enumeratorSets = {{kDiskId, false, {}}};
    EXPECT_EQ(Lookup(machine), -2);
}

TEST_F(LinkSpeed, ParentWithoutBusReportedDescriptionIsMinusTwo) {
    sim::Machine machine;
    machine.nodes = {DiskNode(), ParentNode()};
    machine.nodes[0].busReportedDescription.reset();
    EXPECT_EQ(Lookup(machine), -2);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"SCSI\\DISK&VEN_NVME&PROD_X\\4&2C41E0AA&0&020000",
                                                 "\tDevice Description: \"Disk drive\""}));
}

TEST_F(LinkSpeed, WithoutThePropertyFunctionNoParentIsFound) {
    sim::Machine machine;
    machine.nodes = {DiskNode(), DiskNode(), ParentNode()};
    machine.nodes[1].registryDescription.reset();
    machine.enumeratorSets = {{kDiskId, false, {0, 1}}};
    machine.devicePropertyFunctionMissing = true;
    EXPECT_EQ(Lookup(machine), -2);
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"SCSI\\DISK&VEN_NVME&PROD_X\\4&2C41E0AA&0&020000",
                                        "\tDevice Description: \"Disk drive\"",
                                        "SCSI\\DISK&VEN_NVME&PROD_X\\4&2C41E0AA&0&020000"}));
}

TEST_F(LinkSpeed, UnknownParentIsMinusThree) {
    sim::Machine machine;
    machine.nodes = {DiskNode()};
    EXPECT_EQ(Lookup(machine), -3);
}

TEST_F(LinkSpeed, ParentWithoutGateOrSpeedIsMinusFour) {
    sim::Machine machine;
    machine.nodes = {DiskNode(), ParentNode()};
    machine.nodes[1].busReportedDescription.reset();
    EXPECT_EQ(Lookup(machine), -4);
    machine.nodes[1] = ParentNode();
    machine.nodes[1].maxLinkSpeed.reset();
    EXPECT_EQ(Lookup(machine), -4);
    machine.enumeratorSets = {{kParentId, false, {}}};
    EXPECT_EQ(Lookup(machine), -4);
    // The parent exists but has no present interface: the query lists nothing, and says so
    // without failing.
    machine.enumeratorSets.clear();
    machine.nodes[1].hasPresentInterface = false;
    EXPECT_EQ(Lookup(machine), -4);
}

TEST_F(LinkSpeed, LastParentOfTheDiskSetWins) {
    sim::Machine machine;
    sim::DeviceNode other = ParentNode({2, 0, 0, 0});
    other.instanceId = L"PCI\\OTHER";
    machine.nodes = {DiskNode(), DiskNode(), ParentNode({3, 0, 0, 0}), other};
    machine.nodes[1].parent = L"PCI\\OTHER";
    machine.enumeratorSets = {{kDiskId, false, {0, 1}}};
    EXPECT_EQ(Lookup(machine), 2);
}

TEST_F(LinkSpeed, FirstParentNodeWithTheSpeedWinsAndLaterOnesAreNotVisited) {
    sim::Machine machine;
    sim::DeviceNode withoutId = ParentNode({1, 0});
    withoutId.idFails = true;
    sim::DeviceNode later = ParentNode({5, 0});
    later.instanceId = L"PCI\\LATER";
    machine.nodes = {DiskNode(), withoutId, ParentNode({3, 0}), later};
    machine.enumeratorSets = {{kParentId, false, {1, 2, 3}}};
    EXPECT_EQ(Lookup(machine), 3);
    std::vector<std::string> lines = Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "PCI\\LATER"), 0);
    EXPECT_EQ(lines.back(), "\tDevice Pci max speed: \"3\"");
}

} // namespace
