// The stand-in's disks and controllers against the Windows behaviour the probe depends on: size
// checks, truncated property replies, short replies from odd drivers, the layout retry, refused
// write and unknown requests, hostile controller counts.
#include "test_support.h"

#include <gtest/gtest.h>

#include <sim/replies.h>
#include <ntddscsi.h>

#include <cstring>

namespace {

constexpr BYTE kFill = 0xCC;
// The last error Send sets before a request; a successful request must leave it.
constexpr DWORD kPending = 0xDEAD;
constexpr DWORD kNotReady = ERROR_NOT_READY;
constexpr DWORD kIoDevice = ERROR_IO_DEVICE;
// Short names keep the tables at one row per case.
constexpr DWORD kNumber = IOCTL_STORAGE_GET_DEVICE_NUMBER;
constexpr DWORD kQuery = IOCTL_STORAGE_QUERY_PROPERTY;
constexpr DWORD kGeometry = IOCTL_DISK_GET_DRIVE_GEOMETRY;
constexpr DWORD kAddress = IOCTL_SCSI_GET_ADDRESS;
constexpr DWORD kLayout = IOCTL_DISK_GET_DRIVE_LAYOUT_EX;
constexpr DWORD kDescriptor = StorageDeviceProperty;
constexpr DWORD kPenalty = StorageDeviceSeekPenaltyProperty;
constexpr DWORD kAdapter = StorageAdapterProperty;
constexpr DWORD kRoom = ERROR_INSUFFICIENT_BUFFER;
constexpr DWORD kParameter = ERROR_INVALID_PARAMETER;
constexpr DWORD kFunction = ERROR_INVALID_FUNCTION;
constexpr DWORD kNotSupported = ERROR_NOT_SUPPORTED;

// Every test leaves the handle table as it found it.
class StandInDevices : public testing::Test {
  protected:
    void SetUp() override {
        handlesAtStart_ = sim::CurrentCounters().openHandles;
    }
    void TearDown() override {
        EXPECT_EQ(sim::CurrentCounters().openHandles, handlesAtStart_);
        // These tests send the refused writes and codes on purpose; a fresh machine clears their
        // count for the check every test ends with.
        sim::Install(sim::Machine{});
    }
    int handlesAtStart_ = 0;
};

HANDLE Open(const std::wstring& name, DWORD disposition = OPEN_EXISTING) {
    return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::vector<BYTE> PropertyQuery(DWORD propertyId, DWORD queryType = PropertyStandardQuery) {
    std::vector<BYTE> query(sizeof(STORAGE_PROPERTY_QUERY), 0);
    std::memcpy(query.data(), &propertyId, 4);
    std::memcpy(query.data() + 4, &queryType, 4);
    return query;
}

std::vector<BYTE> Prefix(const std::vector<BYTE>& bytes, size_t count) {
    return std::vector<BYTE>(bytes.begin(), bytes.begin() + static_cast<long>(count));
}

std::vector<BYTE> Bytes(size_t count, BYTE value) {
    return std::vector<BYTE>(count, value);
}

struct Outcome {
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD returned = 0;
    std::vector<BYTE> delivered; // the output up to `returned`
    bool restUntouched = true;   // every byte after them still holds the fill
};

Outcome Send(HANDLE device, DWORD code, std::vector<BYTE> input, DWORD outputSize) {
    std::vector<BYTE> output(outputSize + 64, kFill);
    Outcome outcome;
    outcome.returned = 77;
    SetLastError(kPending);
    outcome.ok = DeviceIoControl(device, code, input.empty() ? nullptr : input.data(),
                                 static_cast<DWORD>(input.size()), output.data(), outputSize,
                                 &outcome.returned, nullptr);
    outcome.error = GetLastError();
    const size_t filled = std::min<size_t>(outcome.returned, outputSize);
    outcome.delivered.assign(output.begin(), output.begin() + static_cast<long>(filled));
    for (size_t i = filled; i < output.size(); ++i) {
        outcome.restUntouched = outcome.restUntouched && output[i] == kFill;
    }
    return outcome;
}

// A disk that opens and answers nothing until replies are given.
sim::Disk OpeningDisk(const std::wstring& path) {
    sim::Disk disk;
    disk.path = path;
    return disk;
}

// Disk 0 answers everything, disk 1 answers oddly or fails, disk 2 answers nothing.
sim::Machine ThreeDisks() {
    sim::Machine machine;
    sim::Disk good = OpeningDisk(L"\\\\?\\good");
    good.replies[{kNumber}] = sim::DeviceNumberReply(3, 1);
    good.replies[{kQuery, kDescriptor}] = sim::DeviceDescriptorReply(BusTypeNvme, false);
    good.replies[{kQuery, kPenalty}] = sim::SeekPenaltyReply(true);
    good.replies[{kGeometry}] = sim::GeometryReply(121601, 255, 63, 512);
    good.replies[{kAddress}] = sim::ScsiAddressReply(1, 0, 2, 0);
    sim::Disk odd = OpeningDisk(L"\\\\?\\odd");
    odd.replies[{kNumber}] = sim::FailingReply(ERROR_GEN_FAILURE);
    odd.replies[{kQuery, kDescriptor}] = sim::Reply{std::vector<BYTE>(12, 0x28), std::nullopt};
    odd.replies[{kQuery, kPenalty}] = sim::FailingReply(ERROR_NOT_SUPPORTED);
    odd.replies[{kGeometry}] = sim::Reply{std::vector<BYTE>(30, 0x11), std::nullopt};
    odd.replies[{kAddress}] = sim::Reply{std::vector<BYTE>(5, 0x22), std::nullopt};
    machine.disks = {good, odd, OpeningDisk(L"\\\\?\\silent")};
    return machine;
}

struct DiskCase {
    const char* name;
    size_t disk;
    DWORD code;
    std::vector<BYTE> input;
    DWORD outputSize;
    DWORD error;                 // 0: the call succeeds
    std::vector<BYTE> delivered; // on success
};

const sim::Machine kThree = ThreeDisks();

const std::vector<BYTE>& kGood(size_t which) {
    static const sim::RequestKey requests[] = {
        {kNumber}, {kQuery, kDescriptor}, {kQuery, kPenalty}, {kGeometry}, {kAddress}};
    return kThree.disks[0].replies.at(requests[which]).bytes;
}

// clang-format off
const DiskCase kDiskCases[] = {
    {"NumberFits",                0, kNumber,   {},                                              12,   0,                 kGood(0)},
    {"NumberInLargerRoom",        0, kNumber,   {},                                              100,  0,                 kGood(0)},
    {"NumberRoomShort",           0, kNumber,   {},                                              11,   kRoom,             {}},
    {"DescriptorHead",            0, kQuery,    PropertyQuery(kDescriptor),                      40,   0,                 kGood(1)},
    {"DescriptorTruncated",       0, kQuery,    PropertyQuery(kDescriptor),                      8,    0,                 Prefix(kGood(1), 8)},
    {"DescriptorRoomBelowEight",  0, kQuery,    PropertyQuery(kDescriptor),                      7,    kRoom,             {}},
    {"QueryInputShort",           0, kQuery,    Bytes(7, 0),                                     40,   kParameter,        {}},
    {"QueryInputMissing",         0, kQuery,    {},                                              40,   kParameter,        {}},
    {"ExistsQueryRefused",        0, kQuery,    PropertyQuery(kDescriptor, PropertyExistsQuery), 40,   kFunction,         {}},
    {"OtherPropertyNotSupported", 0, kQuery,    PropertyQuery(kAdapter),                         40,   kNotSupported,     {}},
    {"SeekPenalty",               0, kQuery,    PropertyQuery(kPenalty),                         12,   0,                 kGood(2)},
    {"GeometryFits",              0, kGeometry, {},                                              24,   0,                 kGood(3)},
    {"GeometryRoomShort",         0, kGeometry, {},                                              23,   kRoom,             {}},
    {"AddressFits",               0, kAddress,  {},                                              8,    0,                 kGood(4)},
    {"AddressRoomShort",          0, kAddress,  {},                                              7,    kRoom,             {}},
    {"RoomCheckedBeforeError",    1, kNumber,   {},                                              4,    kRoom,             {}},
    {"ScriptedError",             1, kNumber,   {},                                              12,   ERROR_GEN_FAILURE, {}},
    {"PropertyScriptedError",     1, kQuery,    PropertyQuery(kPenalty),                         12,   kNotSupported,     {}},
    {"ShortDescriptorDelivered",  1, kQuery,    PropertyQuery(kDescriptor),                      40,   0,                 Bytes(12, 0x28)},
    {"LongGeometryRefused",       1, kGeometry, {},                                              24,   kRoom,             {}},
    {"LongGeometryInRoom",        1, kGeometry, {},                                              30,   0,                 Bytes(30, 0x11)},
    {"ShortAddressDelivered",     1, kAddress,  {},                                              8,    0,                 Bytes(5, 0x22)},
    {"UnsetNumber",               2, kNumber,   {},                                              12,   kFunction,         {}},
    {"UnsetDescriptor",           2, kQuery,    PropertyQuery(kDescriptor),                      40,   kFunction,         {}},
    {"UnsetLayout",               2, kLayout,   {},                                              4096, kFunction,         {}},
};
// clang-format on

class DiskRequest : public StandInDevices, public testing::WithParamInterface<DiskCase> {};

TEST_P(DiskRequest, AnswersAsWindowsDoes) {
    const DiskCase& c = GetParam();
    sim::Install(kThree);
    HANDLE disk = Open(kThree.disks[c.disk].path);
    ASSERT_NE(disk, INVALID_HANDLE_VALUE);
    Outcome outcome = Send(disk, c.code, c.input, c.outputSize);
    EXPECT_EQ(outcome.ok, c.error == 0 ? TRUE : FALSE);
    if (c.error != 0) {
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(outcome.returned, 0u);
    } else {
        EXPECT_EQ(outcome.error, kPending) << "success leaves the last error alone";
        EXPECT_EQ(outcome.delivered, c.delivered);
    }
    EXPECT_TRUE(outcome.restUntouched);
    EXPECT_EQ(sim::CurrentCounters().unknownRequests, 0);
    CloseHandle(disk);
}

INSTANTIATE_TEST_SUITE_P(Codes, DiskRequest, testing::ValuesIn(kDiskCases),
                         [](const testing::TestParamInfo<DiskCase>& param) {
                             return param.param.name;
                         });

TEST_F(StandInDevices, WriteAndUnknownCodesAreRefusedAndCounted) {
    sim::Install(kThree);
    HANDLE disk = Open(kThree.disks[0].path);
    const DWORD codes[] = {IOCTL_DISK_SET_DRIVE_LAYOUT_EX,
                           IOCTL_DISK_DELETE_DRIVE_LAYOUT,
                           IOCTL_DISK_UPDATE_PROPERTIES,
                           IOCTL_SCSI_PASS_THROUGH,
                           IOCTL_SCSI_MINIPORT,
                           0x12345};
    int counted = 0;
    for (DWORD code : codes) {
        Outcome outcome = Send(disk, code, std::vector<BYTE>(64, 0), 4096);
        EXPECT_FALSE(outcome.ok) << code;
        EXPECT_EQ(outcome.error, static_cast<DWORD>(ERROR_INVALID_FUNCTION)) << code;
        EXPECT_TRUE(outcome.restUntouched) << code;
        EXPECT_EQ(sim::CurrentCounters().unknownRequests, ++counted) << code;
    }
    CloseHandle(disk);
}

TEST_F(StandInDevices, LayoutFailsAsScriptedThenNeedsRoomForTheWhole) {
    sim::Machine machine;
    sim::Disk retried = OpeningDisk(L"\\\\?\\retried");
    sim::Partition partition;
    partition.gptType = L"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
    const sim::Reply layout =
        sim::LayoutReply(PARTITION_STYLE_GPT, {partition, partition}); // 336 bytes
    retried.replies[{kLayout}] = layout;
    retried.replies[{kLayout}].failures = 2;
    retried.replies[{kLayout}].failureError = kNotReady;
    sim::Disk refusing = OpeningDisk(L"\\\\?\\refusing");
    refusing.replies[{kLayout}] = layout;
    refusing.replies[{kLayout}].failures = -1;
    machine.disks = {retried, refusing};
    struct Step {
        size_t disk;
        DWORD room;
        DWORD error;
    };
    // clang-format off
    const Step steps[] = {{0, 4096, kNotReady}, {1, 4096, kRoom}, {0, 4096, kNotReady}, {0, 192, kRoom},
                          {0, 335, kRoom}, {0, 336, 0}, {0, 4096, 0}, {1, 4096, kRoom}};
    // clang-format on
    for (int run = 0; run < 2; ++run) { // Install starts the count afresh
        sim::Install(machine);
        HANDLE handles[] = {Open(machine.disks[0].path), Open(machine.disks[1].path)};
        for (const Step& step : steps) {
            Outcome outcome = Send(handles[step.disk], kLayout, {}, step.room);
            EXPECT_EQ(outcome.ok, step.error == 0 ? TRUE : FALSE) << step.room;
            if (step.error != 0) {
                EXPECT_EQ(outcome.error, step.error) << step.room;
            } else {
                EXPECT_EQ(outcome.delivered, layout.bytes);
            }
            EXPECT_TRUE(outcome.restUntouched);
        }
        CloseHandle(handles[0]);
        CloseHandle(handles[1]);
    }
}

sim::Controller Controller(BOOL result, DWORD lastError, DWORD count, std::vector<BYTE> reply) {
    sim::Controller controller;
    controller.open = sim::Controller::Open::Opens;
    controller.answer = {result, lastError, count, std::move(reply)};
    return controller;
}

struct ControllerCase {
    const char* name;
    size_t controller;
    DWORD code;
    DWORD inputSize;
    DWORD outputSize;
    BOOL ok;
    DWORD error;
    DWORD returned;
    size_t copied;
};

// clang-format off
const ControllerCase kControllerCases[] = {
    {"Answers",                0, IOCTL_SCSI_MINIPORT, 44, 44, TRUE,  kPending,   44,   44},
    {"CopiesOnlyTheRoom",      0, IOCTL_SCSI_MINIPORT, 44, 20, TRUE,  kPending,   44,   20},
    {"InputBelowHeader",       0, IOCTL_SCSI_MINIPORT, 27, 44, FALSE, kParameter, 0,    0},
    {"HostileCountAndFailure", 1, IOCTL_SCSI_MINIPORT, 44, 44, FALSE, kIoDevice,  4096, 44},
    {"DiskCodeIsUnknown",      0, kNumber,             0,  44, FALSE, kFunction,  0,    0},
};
// clang-format on

class ControllerRequest : public StandInDevices,
                          public testing::WithParamInterface<ControllerCase> {};

TEST_P(ControllerRequest, AnswersAsScripted) {
    const ControllerCase& c = GetParam();
    sim::Machine machine;
    const std::vector<BYTE> raid = sim::RaidReply(7, 3, 1, 4, 4);
    std::vector<BYTE> longer = raid;
    longer.resize(60, 0x5A);
    // The scripted last error of a successful answer must not reach the caller.
    machine.controllers = {Controller(TRUE, ERROR_NOT_READY, 44, raid),
                           Controller(FALSE, kIoDevice, 4096, longer)};
    sim::Install(machine);
    HANDLE controller = CreateFileW(c.controller == 0 ? L"\\\\.\\scsi0:" : L"\\\\.\\SCSI1:",
                                    FILE_ALL_ACCESS, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(controller, INVALID_HANDLE_VALUE);
    Outcome outcome = Send(controller, c.code, std::vector<BYTE>(c.inputSize, 0), c.outputSize);
    EXPECT_EQ(outcome.ok, c.ok);
    EXPECT_EQ(outcome.returned, c.returned);
    if (c.error != 0 || c.code == IOCTL_SCSI_MINIPORT) {
        EXPECT_EQ(outcome.error, c.error);
    }
    const std::vector<BYTE>& script = c.controller == 0 ? raid : longer;
    EXPECT_TRUE(std::equal(script.begin(), script.begin() + static_cast<long>(c.copied),
                           outcome.delivered.begin()));
    EXPECT_EQ(sim::CurrentCounters().unknownRequests, c.code == IOCTL_SCSI_MINIPORT ? 0 : 1);
    CloseHandle(controller);
}

INSTANTIATE_TEST_SUITE_P(Miniport, ControllerRequest, testing::ValuesIn(kControllerCases),
                         [](const testing::TestParamInfo<ControllerCase>& param) {
                             return param.param.name;
                         });

TEST_F(StandInDevices, RefusesHandlesAndParametersItCannotServe) {
    testing_support::ScratchFolder folder;
    sim::Install(kThree);
    HANDLE file = CreateFileW((folder.Windows() + L"\\f").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(folder.Windows().c_str(), &found);
    HANDLE closed = Open(kThree.disks[0].path);
    CloseHandle(closed);
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, closed}) {
        EXPECT_EQ(Send(bad, IOCTL_STORAGE_GET_DEVICE_NUMBER, {}, 12).error,
                  static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    for (HANDLE notDevice : {file, find}) {
        Outcome outcome = Send(notDevice, IOCTL_STORAGE_GET_DEVICE_NUMBER, {}, 12);
        EXPECT_EQ(outcome.error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));
        EXPECT_EQ(outcome.returned, 0u) << "the count is cleared before anything else";
    }
    HANDLE disk = Open(kThree.disks[0].path);
    BYTE output[12];
    DWORD returned = 5;
    char overlapped[32] = {};
    EXPECT_FALSE(DeviceIoControl(disk, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, output, 12,
                                 &returned, reinterpret_cast<LPOVERLAPPED>(overlapped)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(DeviceIoControl(disk, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, output, 12,
                                 nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(disk);
    CloseHandle(file);
    FindClose(find);
}

TEST_F(StandInDevices, RecordsEveryOpenAndRequest) {
    sim::Machine machine = kThree;
    machine.disks[2].openError = ERROR_ACCESS_DENIED;
    machine.controllers.resize(1);
    machine.controllers[0].open = sim::Controller::Open::NullHandle;
    sim::Install(machine);
    HANDLE disk = Open(machine.disks[0].path);
    EXPECT_EQ(Open(machine.disks[2].path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Open(machine.disks[0].path, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileW(L"\\\\.\\scsi0:", FILE_ALL_ACCESS, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              nullptr);
    EXPECT_EQ(CreateFileW(L"\\\\.\\scsi1:", FILE_ALL_ACCESS, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Send(disk, IOCTL_STORAGE_QUERY_PROPERTY, PropertyQuery(kPenalty), 12);
    Send(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY, {}, 24);
    CloseHandle(disk);

    const std::vector<sim::OpenRequest>& opens = sim::OpenRequests();
    ASSERT_EQ(opens.size(), 5u);
    EXPECT_EQ(opens[0].name, machine.disks[0].path);
    EXPECT_EQ(opens[0].shareMode, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(opens[0].flagsAndAttributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(opens[1].name, machine.disks[2].path) << "failed opens are recorded too";
    EXPECT_EQ(opens[2].disposition, static_cast<DWORD>(OPEN_ALWAYS));
    EXPECT_EQ(opens[4].access, FILE_ALL_ACCESS);
    const std::vector<sim::IoRequest>& requests = sim::IoRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].device, machine.disks[0].path);
    EXPECT_EQ(requests[0].input, PropertyQuery(kPenalty));
    EXPECT_EQ(requests[0].outputSize, 12u);
    EXPECT_EQ(requests[1].code, kGeometry);
    sim::Install(machine);
    EXPECT_TRUE(sim::OpenRequests().empty());
    EXPECT_TRUE(sim::IoRequests().empty());
}

// The shipped retry example does what its description says for the probe's growing buffers.
TEST_F(StandInDevices, ShippedRetryExampleFitsTheFifthBuffer) {
    sim::Install(sim::LoadMachineFile(DESTPICK_SOURCE_DIR "/examples/machines/layout-retry.json"));
    for (size_t d = 0; d < 2; ++d) {
        HANDLE disk = Open(sim::CurrentMachine().disks[d].path);
        DWORD attempt = 0;
        while (attempt < 10 &&
               !Send(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, {}, 192 + 144 * attempt).ok) {
            ++attempt;
        }
        EXPECT_EQ(attempt, d == 0 ? 4u : 2u);
        CloseHandle(disk);
    }
}

} // namespace
