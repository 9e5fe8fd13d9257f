// A captured machine replays as the machine itself. For every example machine and for a few
// hundred generated ones, the system run on the capture prints, exits and logs exactly as it does
// on the machine; the capture asked every request the system asked, with the same input, room and
// open modes, wrote nothing and sent nothing the devices do not know.
#include "capture.h"

#include "machine_generator.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ntddscsi.h>

#include <algorithm>
#include <filesystem>
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
        const auto descriptor =
            disk.replies.find({IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty});
        if (descriptor != disk.replies.end() && descriptor->second.bytes.size() >= 32) {
            descriptor->second.bytes[offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia)] = 0;
            descriptor->second.bytes[offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType)] = BusTypeNvme;
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

TEST_F(CaptureReplay, GeneratedMachines) {
    for (unsigned seed = 1; seed <= 1000; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        ExpectFaithful(testing_support::GeneratedMachine(seed));
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
        {"not ready twice, then not known", sim::FailingReply(ERROR_INVALID_FUNCTION), 2,
         ERROR_NOT_READY, 0, ERROR_INSUFFICIENT_BUFFER, sim::FailingReply(ERROR_INVALID_FUNCTION)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine;
        machine.disks = {testing_support::FixedDisk()};
        machine.disks[0].replies.erase({IOCTL_DISK_GET_DRIVE_LAYOUT_EX});
        if (c.layout) {
            sim::Reply& layout = machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}];
            layout = *c.layout;
            layout.failures = c.failures;
            layout.failureError = c.failureError;
        }
        sim::Install(machine);
        const sim::Disk captured = WrittenAndRead(CaptureMachine().machine).disks.at(0);
        sim::Reply expected = c.capturedLayout;
        expected.failures = c.capturedFailures;
        expected.failureError = c.capturedError;
        EXPECT_EQ(captured.replies.at({IOCTL_DISK_GET_DRIVE_LAYOUT_EX}), expected);
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
