// Whole runs in process: the report and exit code, the log a run leaves, the start-up failures,
// the paths derived from the executable's name, and what the machine may do between passes.
#include "selection/run_driver.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sim/text.h>

#include "inventory/drive_record.h"

#include <algorithm>
#include <filesystem>

namespace {

using testing_support::DiskWithPath;
using testing_support::Entries;
using testing_support::ModuleIn;
using testing_support::RunSystem;
using testing_support::ScratchFolder;

class RunDriver : public testing::Test {
  protected:
    std::string Log(const std::string& name = "destpick.log") const {
        return folder_.ReadFile(name);
    }
    std::string Header(const std::string& name = "destpick",
                       const std::string& version = "1.2.0.15") const {
        std::string folder = sim::ToUtf8(folder_.Windows());
        return Entries({"", "", " --- Collecting Information ----------------- ",
                        "LogPath=[" + folder + "\\" + name + ".log]", "ExeDirPath=[" + folder + "]",
                        "ExeFileName=[" + name + "]", "ExeVersion=[" + version + "]"});
    }
    ScratchFolder folder_;
};

TEST_F(RunDriver, MachineWithoutDisksReportsUnknown) {
    testing_support::RunResult result = RunSystem(sim::Machine{}, ModuleIn(folder_));
    EXPECT_EQ(result.exitCode, NoDestinationExitCode);
    EXPECT_EQ(result.output, "Destination=UNKNOWN");
    EXPECT_EQ(Log(),
              Header() + Entries({"", "", " --- Pick Drive By Weight ----------------- ", "", "",
                                  " --- Report ----------------- ", "Destination=UNKNOWN"}));
}

TEST_F(RunDriver, FailingClassQueryIsSilentAndReportsUnknown) {
    sim::Machine machine;
    machine.disks.push_back(DiskWithPath(L"\\\\?\\scsi#disk#1#{x}"));
    machine.classQueryFails = true;
    testing_support::RunResult result = RunSystem(machine, ModuleIn(folder_));
    EXPECT_EQ(result.exitCode, NoDestinationExitCode);
    EXPECT_EQ(Log().find("Disk0"), std::string::npos);
    EXPECT_EQ(Log().find("Candidate"), std::string::npos);
}

TEST_F(RunDriver, SecondRunAppendsBelowTheFirst) {
    RunSystem(sim::Machine{}, ModuleIn(folder_));
    const std::string first = Log();
    RunSystem(sim::Machine{}, ModuleIn(folder_));
    EXPECT_EQ(Log(), first + first);
}

struct StartupCase {
    const char* name;
    std::wstring fileName; // appended to the scratch folder, or a whole path when it has a colon
    sim::Module::Version version;
    std::string message;
};

class StartupFailure : public testing::TestWithParam<StartupCase> {};

TEST_P(StartupFailure, PrintsItsMessageAndWritesNoLog) {
    ScratchFolder folder;
    sim::Module module = ModuleIn(folder, GetParam().fileName);
    if (GetParam().fileName.find(L':') != std::wstring::npos) {
        module.path = GetParam().fileName;
    }
    module.version = GetParam().version;
    testing_support::RunResult result = RunSystem(sim::Machine{}, module);
    EXPECT_EQ(result.exitCode, StartupFailureExitCode);
    EXPECT_EQ(result.output, GetParam().message);
    EXPECT_TRUE(std::filesystem::is_empty(folder.Posix()));
}

// Standard output is in text mode: each line feed goes out after a carriage return.
const std::string kNoPath = "Could not found the exe path.\r\n";
const std::string kNoName = "Could not found the exe file name. \r\r\n";
const StartupCase kStartupCases[] = {
    {"NoBackslash", L"destpick.exe:", sim::Module::Version::Present,
     "Could not found the exe folder path. \r\r\n"},
    {"NoExtension", L"destpick", sim::Module::Version::Present, kNoName},
    {"DotOnlyInFolder", L"v1.2\\destpick", sim::Module::Version::Present, kNoName},
    {"NoVersionResource", L"destpick.exe", sim::Module::Version::Absent,
     "Cannot get VerInfo. \r\r\n"},
    {"VersionInfoFails", L"destpick.exe", sim::Module::Version::InfoFails,
     "Cannot get VerInfo. \r\r\n"},
    {"VersionQueryFails", L"destpick.exe", sim::Module::Version::QueryFails,
     "Cannot query version. \r\r\n"},
    // 255 characters do not fit the 254 the path buffers hold.
    {"ModulePathTooLong", std::wstring(245, L'a') + L".exe", sim::Module::Version::Present,
     kNoPath},
};

INSTANTIATE_TEST_SUITE_P(Runs, StartupFailure, testing::ValuesIn(kStartupCases),
                         [](const testing::TestParamInfo<StartupCase>& param) {
                             return param.param.name;
                         });

TEST(RunDriverPaths, EmptyModulePathIsRefused) {
    sim::Module module = sim::DefaultModule();
    module.path = L"";
    sim::Install(sim::Machine{}, module);
    sim::CaptureConsole(true);
    EXPECT_EQ(RunDestinationPick(), StartupFailureExitCode);
    EXPECT_EQ(sim::ConsoleText(), kNoPath);
    sim::CaptureConsole(false);
}

TEST(RunDriverPaths, LogPathThatWouldNotFitIsRefused) {
    // The module path fits its 254 characters, but the log name, longer than the extension it
    // replaces, would not: cut short it would name another file.
    ScratchFolder folder;
    const size_t room = 254 - folder.Windows().size() - 1;
    testing_support::RunResult result =
        RunSystem(sim::Machine{}, ModuleIn(folder, std::wstring(room - 2, L'a') + L".x"));
    EXPECT_EQ(result.exitCode, StartupFailureExitCode);
    EXPECT_EQ(result.output, kNoPath);
    EXPECT_TRUE(std::filesystem::is_empty(folder.Posix()));
}

TEST(RunDriverPaths, PathOfExactly254CharactersIsUsed) {
    ScratchFolder folder;
    const size_t room = 254 - folder.Windows().size() - 1;
    const std::wstring name(room - 4, L'b');
    testing_support::RunResult result = RunSystem(sim::Machine{}, ModuleIn(folder, name + L".exe"));
    EXPECT_EQ(result.exitCode, NoDestinationExitCode);
    EXPECT_TRUE(folder.Exists(sim::ToUtf8(name) + ".log"));
}

struct NameCase {
    const char* name;
    std::wstring fileName;
    std::string baseName;
};

class ExecutableName : public testing::TestWithParam<NameCase> {};

TEST_P(ExecutableName, NamesTheLog) {
    ScratchFolder folder;
    testing_support::RunResult result =
        RunSystem(sim::Machine{}, ModuleIn(folder, GetParam().fileName));
    EXPECT_EQ(result.exitCode, NoDestinationExitCode);
    const std::string log = folder.ReadFile(GetParam().baseName + ".log");
    EXPECT_NE(log.find("] ExeFileName=[" + GetParam().baseName + "]\r\n"), std::string::npos)
        << log;
}

const NameCase kNameCases[] = {
    {"TwoDots", L"pick.new.exe", "pick.new"},
    {"OtherExtension", L"pick.bin", "pick"},
    {"OnlyADot", L".exe", ""},
};

INSTANTIATE_TEST_SUITE_P(Runs, ExecutableName, testing::ValuesIn(kNameCases),
                         [](const testing::TestParamInfo<NameCase>& param) {
                             return param.param.name;
                         });

TEST_F(RunDriver, VersionPartsOfFiveDigitsFit) {
    RunSystem(sim::Machine{}, ModuleIn(folder_, L"destpick.exe", 65535, 65535, 65535, 65535));
    EXPECT_EQ(Log().substr(0, Header("destpick", "65535.65535.65535.65535").size()),
              Header("destpick", "65535.65535.65535.65535"));
    folder_.ReadFile("destpick.log");
}

TEST_F(RunDriver, VersionExample) {
    RunSystem(sim::Machine{}, ModuleIn(folder_, L"destpick.exe", 10, 0, 1234, 5));
    EXPECT_NE(Log().find("] ExeVersion=[10.0.1234.5]\r\n"), std::string::npos);
}

TEST_F(RunDriver, DiskThatLeavesBetweenThePassesKeepsItsInitialRecord) {
    sim::Machine machine;
    machine.disks = {DiskWithPath(L"\\\\?\\a#1#{x}"), DiskWithPath(L"\\\\?\\b#2#{x}")};
    machine.interfaceLists = {{0, 1}, {1}};
    testing_support::RunResult result = RunSystem(machine, ModuleIn(folder_));
    std::vector<std::string> lines = testing_support::LinesWithoutStamps(Log());
    auto has = [&lines](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("[Disk0] DevicePath=\\\\?\\b#2#{x}"));
    EXPECT_FALSE(has("[Disk1] DevicePath=\\\\?\\a#1#{x}"));
    EXPECT_TRUE(has(" --- Candidate Drive [1] ---------------- "));
    EXPECT_EQ(result.exitCode, NoDestinationExitCode);
}

TEST_F(RunDriver, DiskThatArrivesBetweenThePassesIsNotProbed) {
    sim::Machine machine;
    machine.disks = {DiskWithPath(L"\\\\?\\a#1#{x}"), DiskWithPath(L"\\\\?\\b#2#{x}")};
    machine.interfaceLists = {{0}, {0, 1}};
    RunSystem(machine, ModuleIn(folder_));
    EXPECT_NE(Log().find("[Disk0] DevicePath=\\\\?\\a#1#{x}"), std::string::npos);
    EXPECT_EQ(Log().find("Disk1"), std::string::npos);
    EXPECT_EQ(Log().find("Candidate Drive [1]"), std::string::npos);
}

TEST_F(RunDriver, RecordsThatCannotBeAllocatedEndTheRunWithoutAnAnswer) {
    sim::Machine machine;
    machine.disks = {DiskWithPath(L"\\\\?\\a#1#{x}")};
    sim::Module module = ModuleIn(folder_);
    sim::Install(machine, module);
    sim::FailHeapAllocation(0, sizeof(DriveRecord));
    sim::CaptureConsole(true);
    const int exitCode = RunDestinationPick();
    EXPECT_EQ(sim::ConsoleText(), "");
    sim::CaptureConsole(false);
    EXPECT_EQ(exitCode, E_FAIL);
    EXPECT_EQ(testing_support::LinesWithoutStamps(Log()).back(),
              "Cannot allocate 1 drive records, no destination chosen.");
}

TEST_F(RunDriver, VersionBlockThatCannotBeAllocatedIsAStartupFailure) {
    sim::Install(sim::Machine{}, ModuleIn(folder_));
    sim::FailHeapAllocation(1);
    sim::CaptureConsole(true);
    EXPECT_EQ(RunDestinationPick(), StartupFailureExitCode);
    EXPECT_EQ(sim::ConsoleText(), "Cannot get VerInfo. \r\r\n");
    sim::CaptureConsole(false);
    EXPECT_FALSE(folder_.Exists("destpick.log"));
}

TEST_F(RunDriver, ProbeNeverWritesPastTheRecords) {
    sim::Machine machine;
    for (int i = 0; i < 40; ++i) {
        machine.disks.push_back(DiskWithPath(L"\\\\?\\d#" + std::to_wstring(i) + L"#{x}"));
    }
    machine.interfaceLists = {{0}, {}};
    for (size_t i = 0; i < machine.disks.size(); ++i) {
        machine.interfaceLists[1].push_back(i);
    }
    RunSystem(machine, ModuleIn(folder_));
    EXPECT_EQ(Log().find("Disk1]"), std::string::npos);
}

} // namespace
