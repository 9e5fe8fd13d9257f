// The stand-in's disks and controllers against the Windows behaviour the probe depends on: size
// checks, truncated property replies, short replies from odd drivers, the layout retry, refused
// write and unknown requests, hostile controller counts; the reply layouts; the JSON replies.
#include "state.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sim/replies.h>
#include <ntddscsi.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr BYTE kFill = 0xCC;
// The last error Send sets before a request; a successful request must leave it.
constexpr DWORD kPending = 0xDEAD;
constexpr DWORD kNotReady = 21;
constexpr DWORD kIoDevice = ERROR_IO_DEVICE;
// Short names keep the tables at one row per case.
constexpr DWORD kNumber = IOCTL_STORAGE_GET_DEVICE_NUMBER;
constexpr DWORD kQuery = IOCTL_STORAGE_QUERY_PROPERTY;
constexpr DWORD kGeometry = IOCTL_DISK_GET_DRIVE_GEOMETRY;
constexpr DWORD kAddress = IOCTL_SCSI_GET_ADDRESS;
constexpr DWORD kLayout = IOCTL_DISK_GET_DRIVE_LAYOUT_EX;
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
    good.deviceNumber = sim::DeviceNumberReply(3, 1);
    good.deviceDescriptor = sim::DeviceDescriptorReply(BusTypeNvme, false);
    good.seekPenalty = sim::SeekPenaltyReply(true);
    good.geometry = sim::GeometryReply(121601, 255, 63, 512);
    good.scsiAddress = sim::ScsiAddressReply(1, 0, 2, 0);
    sim::Disk odd = OpeningDisk(L"\\\\?\\odd");
    odd.deviceNumber = sim::FailingReply(ERROR_GEN_FAILURE);
    odd.deviceDescriptor = sim::Reply{std::vector<BYTE>(12, 0x28), std::nullopt};
    odd.seekPenalty = sim::FailingReply(ERROR_NOT_SUPPORTED);
    odd.geometry = sim::Reply{std::vector<BYTE>(30, 0x11), std::nullopt};
    odd.scsiAddress = sim::Reply{std::vector<BYTE>(5, 0x22), std::nullopt};
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
    static const std::vector<BYTE>* replies[] = {
        &kThree.disks[0].deviceNumber->bytes, &kThree.disks[0].deviceDescriptor->bytes,
        &kThree.disks[0].seekPenalty->bytes, &kThree.disks[0].geometry->bytes,
        &kThree.disks[0].scsiAddress->bytes};
    return *replies[which];
}

// clang-format off
const DiskCase kDiskCases[] = {
    {"NumberFits",                  0, kNumber,   {},                 12,   0,            kGood(0)},
    {"NumberInLargerRoom",          0, kNumber,   {},                 100,  0,            kGood(0)},
    {"NumberRoomShort",             0, kNumber,   {},                 11,   kRoom,        {}},
    {"DescriptorHead",              0, kQuery,    PropertyQuery(0),   40,   0,            kGood(1)},
    {"DescriptorTruncated",         0, kQuery,    PropertyQuery(0),   8,    0,            Prefix(kGood(1), 8)},
    {"DescriptorRoomBelowEight",    0, kQuery,    PropertyQuery(0),   7,    kRoom,        {}},
    {"QueryInputShort",             0, kQuery,    Bytes(7, 0),        40,   kParameter,   {}},
    {"QueryInputMissing",           0, kQuery,    {},                 40,   kParameter,   {}},
    {"ExistsQueryRefused",          0, kQuery,    PropertyQuery(0, 1), 40,  kFunction,    {}},
    {"OtherPropertyNotSupported",   0, kQuery,    PropertyQuery(1),   40,   kNotSupported, {}},
    {"SeekPenalty",                 0, kQuery,    PropertyQuery(7),   12,   0,            kGood(2)},
    {"GeometryFits",                0, kGeometry, {},                 24,   0,            kGood(3)},
    {"GeometryRoomShort",           0, kGeometry, {},                 23,   kRoom,        {}},
    {"AddressFits",                 0, kAddress,  {},                 8,    0,            kGood(4)},
    {"AddressRoomShort",            0, kAddress,  {},                 7,    kRoom,        {}},
    {"RoomCheckedBeforeError",      1, kNumber,   {},                 4,    kRoom,        {}},
    {"ScriptedError",               1, kNumber,   {},                 12,   ERROR_GEN_FAILURE, {}},
    {"PropertyScriptedError",       1, kQuery,    PropertyQuery(7),   12,   kNotSupported, {}},
    {"ShortDescriptorDelivered",    1, kQuery,    PropertyQuery(0),   40,   0,            Bytes(12, 0x28)},
    {"LongGeometryRefused",         1, kGeometry, {},                 24,   kRoom,        {}},
    {"LongGeometryInRoom",          1, kGeometry, {},                 30,   0,            Bytes(30, 0x11)},
    {"ShortAddressDelivered",       1, kAddress,  {},                 8,    0,            Bytes(5, 0x22)},
    {"UnsetNumber",                 2, kNumber,   {},                 12,   kFunction,    {}},
    {"UnsetDescriptor",             2, kQuery,    PropertyQuery(0),   40,   kFunction,    {}},
    {"UnsetLayout",                 2, kLayout,   {},                 4096, kFunction,    {}},
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
    const DWORD codes[] = {0x7C054 /* set layout */,
                           0x7C100 /* delete layout */,
                           0x70140 /* update properties */,
                           0x4D004 /* SCSI pass-through */,
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
    retried.layout = sim::LayoutReply(PARTITION_STYLE_GPT, {partition, partition}); // 336 bytes
    retried.layoutFailures = 2;
    retried.layoutFailureError = kNotReady;
    sim::Disk refusing = OpeningDisk(L"\\\\?\\refusing");
    refusing.layout = retried.layout;
    refusing.layoutFailures = -1;
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
                EXPECT_EQ(outcome.delivered, retried.layout->bytes);
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
    controller.result = result;
    controller.lastError = lastError;
    controller.bytesReturned = count;
    controller.reply = std::move(reply);
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
    Send(disk, IOCTL_STORAGE_QUERY_PROPERTY, PropertyQuery(7), 12);
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
    EXPECT_EQ(requests[0].input, PropertyQuery(7));
    EXPECT_EQ(requests[0].outputSize, 12u);
    EXPECT_EQ(requests[1].code, kGeometry);
    sim::Install(machine);
    EXPECT_TRUE(sim::OpenRequests().empty());
    EXPECT_TRUE(sim::IoRequests().empty());
}

// Little-endian field of a reply, as the tool's structures read it on Windows x64.
uint64_t At(const std::vector<BYTE>& bytes, size_t offset, size_t width) {
    uint64_t value = 0;
    std::memcpy(&value, bytes.data() + offset, width);
    return value;
}

sim::Partition Named(LONGLONG length, const wchar_t* type, const wchar_t* name, bool boot = false) {
    sim::Partition partition;
    partition.length = length;
    partition.gptType = type;
    partition.nameUnits = sim::NameUnits(name);
    partition.bootIndicator = boot;
    return partition;
}

struct LayoutCheck {
    const char* what;
    size_t offset;
    size_t width;
    uint64_t value;
};

TEST_F(StandInDevices, RepliesHaveTheWindowsLayout) {
    const std::vector<BYTE> gpt =
        sim::LayoutReply(PARTITION_STYLE_GPT,
                         {Named(100 << 20, L"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", L"EFI"),
                          Named(5LL << 30, L"{ebd0a0a2-b9e5-4433-87c0-68b6b72699c7}", L"")})
            .bytes;
    const std::vector<BYTE> mbr =
        sim::LayoutReply(PARTITION_STYLE_MBR, {Named(1 << 20, L"", L"Sys", true)}).bytes;
    const std::vector<BYTE> raid = sim::RaidReply(0x01000200, 3, -1, 4, 5);
    struct Source {
        const char* name;
        std::vector<BYTE> bytes;
        size_t size;
        std::vector<LayoutCheck> checks;
    };
    // clang-format off
    const Source sources[] = {
        {"number", sim::DeviceNumberReply(5, 2).bytes, 12, {{"type", 0, 4, 7}, {"number", 4, 4, 5}, {"partition", 8, 4, 2}}},
        {"descriptor", sim::DeviceDescriptorReply(BusTypeNvme, true, 5).bytes, 40,
         {{"version", 0, 4, 40}, {"size", 4, 4, 40}, {"type", 8, 1, 5}, {"removable", 10, 1, 1}, {"bus", 28, 4, 17}}},
        {"penalty", sim::SeekPenaltyReply(true).bytes, 12, {{"size", 4, 4, 12}, {"incurs", 8, 1, 1}}},
        {"geometry", sim::GeometryReply(-3, 255, 63, 4096).bytes, 24,
         {{"cylinders", 0, 8, static_cast<uint64_t>(-3)}, {"media", 8, 4, 12}, {"bytes", 20, 4, 4096}}},
        {"address", sim::ScsiAddressReply(1, 2, 3, 4).bytes, 8, {{"length", 0, 4, 8}, {"port", 4, 1, 1}, {"lun", 7, 1, 4}}},
        {"gpt", gpt, 48 + 2 * 144,
         {{"style", 0, 4, 1}, {"count", 4, 4, 2}, {"entry style", 48, 4, 1}, {"start", 56, 8, 1 << 20},
          {"length", 64, 8, 100 << 20}, {"number", 72, 4, 1}, {"type", 80, 4, 0xC12A7328}, {"name", 120, 6, 0x0049'0046'0045},
          {"second start", 192 + 8, 8, 101 << 20}, {"braced lower-case type", 192 + 32, 4, 0xEBD0A0A2},
          {"type tail", 192 + 40, 8, 0xC7'99'26'B7'B6'68'C0'87}}},
        {"mbr", mbr, 48 + 144,
         {{"style", 0, 4, 0}, {"entry style", 48, 4, 0}, {"type", 80, 1, 7}, {"boot", 81, 1, 1},
          {"hidden sectors", 84, 4, 2048}, {"name area", 120, 6, 0x0073'0079'0053}}},
        {"raw", sim::LayoutReply(PARTITION_STYLE_RAW, {}).bytes, 48, {{"style", 0, 4, 2}, {"count", 4, 4, 0}}},
        {"wrapping", sim::LayoutReply(PARTITION_STYLE_MBR, {Named(INT64_MAX, L"", L""), Named(1, L"", L"")}).bytes, 336,
         {{"second start", 192 + 8, 8, 0x8000'0000'000F'FFFF}}},
        {"reported", sim::LayoutReply(PARTITION_STYLE_MBR, {Named(1, L"", L"")}, 9).bytes, 192, {{"count", 4, 4, 9}}},
        {"raid", raid, 44,
         {{"header", 0, 4, 28}, {"signature", 4, 8, 0x706D'526C'6574'6E49}, {"control", 16, 4, 0x80000D01},
          {"return", 20, 4, 0x01000200}, {"length", 24, 4, 16}, {"type", 28, 4, 3}, {"interface", 32, 4, 0xFFFFFFFF},
          {"speed", 40, 4, 5}}},
    };
    // clang-format on
    for (const Source& source : sources) {
        ASSERT_EQ(source.bytes.size(), source.size) << source.name;
        for (const LayoutCheck& check : source.checks) {
            EXPECT_EQ(At(source.bytes, check.offset, check.width), check.value)
                << source.name << " " << check.what;
        }
    }
    EXPECT_THROW(sim::LayoutReply(PARTITION_STYLE_GPT, {Named(1, L"not-a-guid", L"")}),
                 std::invalid_argument);
    EXPECT_EQ(sim::NameUnits(L"a\U0001F600"), (std::vector<WORD>{0x61, 0xD83D, 0xDE00}));
}

// A description with one disk holding the given members.
std::string OneDisk(const std::string& members) {
    return R"({"disks": [{"path": "p", )" + members + "}]}";
}

TEST_F(StandInDevices, DescriptionRepliesAreTheBuildersReplies) {
    sim::Machine machine = sim::ParseMachine(R"({
        "disks": [{
            "path": "d",
            "deviceNumber": {"deviceNumber": 4, "partitionNumber": 1},
            "deviceDescriptor": {"busType": "sd", "removable": true, "deviceType": 5},
            "seekPenalty": {"incursSeekPenalty": true},
            "geometry": {"cylinders": -2, "tracksPerCylinder": 255, "sectorsPerTrack": 63,
                         "bytesPerSector": 512, "mediaType": "removable"},
            "scsiAddress": {"port": 1, "pathId": 2, "targetId": 3, "lun": 255},
            "layout": {"style": "gpt", "reportedCount": -1, "failures": "always", "failureError": 21,
                       "partitions": [{"length": 4096, "type": "C12A7328-F81F-11D2-BA4B-00A0C93EC93B",
                                       "name": "EFI system partition"}]}
        }, {
            "path": "e",
            "deviceNumber": {"error": 31},
            "deviceDescriptor": {"bytes": "28 00 00 00 2800"},
            "seekPenalty": {"error": 50},
            "geometry": {"bytes": ""},
            "layout": {"bytes": "02000000", "failures": 3},
            "scsiAddress": {"error": 1}
        }]
    })",
                                             "m.json");
    const sim::Disk& full = machine.disks[0];
    EXPECT_EQ(full.deviceNumber->bytes, sim::DeviceNumberReply(4, 1).bytes);
    EXPECT_EQ(full.deviceDescriptor->bytes, sim::DeviceDescriptorReply(BusTypeSd, true, 5).bytes);
    EXPECT_EQ(full.seekPenalty->bytes, sim::SeekPenaltyReply(true).bytes);
    EXPECT_EQ(full.geometry->bytes, sim::GeometryReply(-2, 255, 63, 512, RemovableMedia).bytes);
    EXPECT_EQ(full.scsiAddress->bytes, sim::ScsiAddressReply(1, 2, 3, 255).bytes);
    sim::Partition efi =
        Named(4096, L"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", L"EFI system partition");
    std::vector<BYTE> layout = sim::LayoutReply(PARTITION_STYLE_GPT, {efi}).bytes;
    std::memset(layout.data() + 4, 0xFF, 4);
    EXPECT_EQ(full.layout->bytes, layout);
    EXPECT_EQ(full.layoutFailures, -1);
    EXPECT_EQ(full.layoutFailureError, kNotReady);
    const sim::Disk& odd = machine.disks[1];
    EXPECT_EQ(odd.deviceNumber->error, std::optional<DWORD>(31));
    EXPECT_EQ(odd.deviceDescriptor->bytes, (std::vector<BYTE>{0x28, 0, 0, 0, 0x28, 0}));
    EXPECT_FALSE(odd.deviceDescriptor->error);
    EXPECT_TRUE(odd.geometry->bytes.empty());
    EXPECT_EQ(odd.layout->bytes, (std::vector<BYTE>{2, 0, 0, 0}));
    EXPECT_EQ(odd.layoutFailures, 3);
    EXPECT_EQ(odd.layoutFailureError, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(StandInDevices, DescriptionNodesSetsAndControllers) {
    sim::Machine machine = sim::ParseMachine(R"({
        "deviceNodes": [
            {"instanceId": "PCI\\X", "idFails": true, "parent": "P", "maxLinkSpeed": 65539},
            {"instanceId": "PCI\\Y", "maxLinkSpeed": {"bytes": "04"}}
        ],
        "enumeratorSets": [{"enumerator": "PCI\\X", "refused": true, "members": [1, 0]}],
        "controllers": [
            {"open": "null"},
            {"open": "opens", "result": false, "lastError": 1117, "bytesReturned": 4096,
             "reply": {"returnCode": 9, "connectionType": -1, "connectionInterface": 2,
                       "pciBusWidth": 4, "pciBusSpeed": 5}}
        ],
        "devicePropertyFunctionMissing": true
    })",
                                             "m.json");
    EXPECT_EQ(machine.nodes[0].parent, std::optional<std::wstring>(L"P"));
    EXPECT_EQ(machine.nodes[0].maxLinkSpeed, (std::vector<BYTE>{3, 0, 1, 0}));
    EXPECT_EQ(machine.nodes[1].maxLinkSpeed, (std::vector<BYTE>{4}));
    EXPECT_EQ(machine.enumeratorSets[0].members, (std::vector<size_t>{1, 0}));
    EXPECT_EQ(machine.controllers[0].open, sim::Controller::Open::NullHandle);
    EXPECT_EQ(machine.controllers[0].bytesReturned, 44u);
    EXPECT_EQ(machine.controllers[1].result, FALSE);
    EXPECT_EQ(machine.controllers[1].lastError, kIoDevice);
    EXPECT_EQ(machine.controllers[1].bytesReturned, 4096u);
    EXPECT_EQ(machine.controllers[1].reply, sim::RaidReply(9, -1, 2, 4, 5));
    EXPECT_TRUE(machine.devicePropertyFunctionMissing);
}

struct Refusal {
    const char* name;
    std::string json;
    const char* message; // what follows "m.json: "
};

const std::string kEfiType = R"("type": "C12A7328-F81F-11D2-BA4B-00A0C93EC93B")";

std::string Layout(const std::string& members) {
    return OneDisk(R"("layout": {)" + members + "}");
}

std::string Partition(const std::string& style, const std::string& members) {
    return Layout(R"("style": ")" + style + R"(", "partitions": [)" + members + "]");
}

// clang-format off
const Refusal kRefusals[] = {
    {"GptTypeMalformed", Partition("gpt", R"({"length": 1, )" + kEfiType + R"(}, {"length": 1, "type": "EFI"})"),
     "disks[0].layout.partitions[1].type: expected a GUID"},
    {"GptTypeUnbalancedBrace", Partition("gpt", R"({"length": 1, "type": "{C12A7328-F81F-11D2-BA4B-00A0C93EC93B"})"),
     "disks[0].layout.partitions[0].type: expected a GUID"},
    {"GptTypeMissing", Partition("gpt", R"({"length": 1})"), "disks[0].layout.partitions[0]: missing field \"type\""},
    {"TypeOnMbr", Partition("mbr", R"({"length": 1, "type": "x"})"), "disks[0].layout.partitions[0].type: only GPT partitions"},
    {"BootOnGpt", Partition("gpt", R"({"length": 1, "bootIndicator": true, )" + kEfiType + "}"),
     "disks[0].layout.partitions[0].bootIndicator: only MBR and raw"},
    {"NameTooLong", Partition("raw", R"({"length": 1, "name": "0123456789012345678901234567890123456"})"),
     "disks[0].layout.partitions[0].name: too long: 37"},
    {"LengthTooLarge", Partition("mbr", R"({"length": 9223372036854775808})"), "disks[0].layout.partitions[0].length: out of range"},
    {"StyleUnknown", Layout(R"("style": "apm")"), "disks[0].layout.style: expected \"mbr\""},
    {"FailuresWord", Layout(R"("style": "mbr", "failures": "often")"), "disks[0].layout.failures: expected a count"},
    {"CountTooLarge", Layout(R"("style": "mbr", "reportedCount": 2147483648)"), "disks[0].layout.reportedCount: out of range"},
    {"BusTypeName", OneDisk(R"("deviceDescriptor": {"busType": "NVMe"})"), "disks[0].deviceDescriptor.busType: unknown bus type \"NVMe\""},
    {"FieldBesideError", OneDisk(R"("seekPenalty": {"error": 50, "incursSeekPenalty": true})"),
     "disks[0].seekPenalty.incursSeekPenalty: not allowed beside \"error\""},
    {"ErrorBesideBytes", OneDisk(R"("geometry": {"bytes": "00", "error": 1})"), "disks[0].geometry.bytes: not allowed beside \"error\""},
    {"OddHexDigits", OneDisk(R"("geometry": {"bytes": "0 0"})"), "disks[0].geometry.bytes: expected hex digits"},
    {"NumberUnknownField", OneDisk(R"("deviceNumber": {"deviceNumber": 1, "partition": 2})"), "disks[0].deviceNumber.partition: unknown field"},
    {"LinkSpeedRange", R"({"deviceNodes": [{"instanceId": "x", "maxLinkSpeed": 4294967296}]})", "deviceNodes[0].maxLinkSpeed: out of range"},
    {"MemberBeyondNodes", R"({"deviceNodes": [{"instanceId": "x"}], "enumeratorSets": [{"enumerator": "x", "members": [0, 1]}]})",
     "enumeratorSets[0].members[1]: out of range"},
    {"OpenMissing", R"({"controllers": [{"result": true}]})", "controllers[0]: missing field \"open\""},
    {"RaidValueMissing", R"({"controllers": [{"open": "opens", "reply": {"connectionType": 1, "connectionInterface": 1, "pciBusWidth": 1}}]})",
     "controllers[0].reply: missing field \"pciBusSpeed\""},
    {"RaidValueRange", R"({"controllers": [{"open": "opens", "reply": {"connectionType": 2147483648}}]})",
     "controllers[0].reply.connectionType: out of range"},
};
// clang-format on

class RefusedReply : public StandInDevices, public testing::WithParamInterface<Refusal> {};

TEST_P(RefusedReply, NamesTheField) {
    try {
        sim::ParseMachine(GetParam().json, "m.json");
        FAIL() << "accepted";
    } catch (const sim::MachineError& error) {
        EXPECT_EQ(std::string(error.what()).rfind(std::string("m.json: ") + GetParam().message, 0),
                  0u)
            << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Descriptions, RefusedReply, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& param) {
                             return param.param.name;
                         });

std::string ReadSource(const std::string& name) {
    std::ifstream file(std::string(DESTPICK_SOURCE_DIR) + "/" + name);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST_F(StandInDevices, DocumentedExampleLoads) {
    const std::string doc = ReadSource("docs/machine-format.md");
    const size_t start = doc.find("```json\n");
    ASSERT_NE(start, std::string::npos);
    const size_t end = doc.find("```", start + 8);
    sim::Machine machine = sim::ParseMachine(doc.substr(start + 8, end - start - 8), "example");
    EXPECT_EQ(machine.disks.size(), 2u);
    EXPECT_EQ(machine.controllers.size(), 2u);
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
