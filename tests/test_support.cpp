#include "test_support.h"

#include "inventory/disk_probe.h"
#include "selection/run_driver.h"

#include <gtest/gtest.h>

#include <ntddscsi.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <csignal>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

const char kStamp[] = "[2021.09.07-05:44:07] ";

ScratchFolder::ScratchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "destpick-test-XXXXXX").string();
    char* made = mkdtemp(&pattern[0]);
    if (made == nullptr) {
        throw std::runtime_error("cannot create a scratch folder");
    }
    posix_ = made;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(posix_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(posix_, ignored);
}

std::wstring ScratchFolder::Windows() const {
    std::wstring path = L"Z:";
    for (char c : posix_) {
        path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return path;
}

std::string ScratchFolder::ReadFile(const std::string& name) const {
    std::ifstream file(posix_ + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool ScratchFolder::Exists(const std::string& name) const {
    return std::filesystem::exists(posix_ + "/" + name);
}

sim::Module ModuleIn(const ScratchFolder& folder, const std::wstring& fileName, WORD major,
                     WORD minor, WORD patch, WORD tweak) {
    sim::Module module;
    module.path = folder.Windows() + L"\\" + fileName;
    module.fileVersion[0] = major;
    module.fileVersion[1] = minor;
    module.fileVersion[2] = patch;
    module.fileVersion[3] = tweak;
    return module;
}

void FixClock() {
    SYSTEMTIME fixed{};
    fixed.wYear = 2021;
    fixed.wMonth = 9;
    fixed.wDay = 7;
    fixed.wHour = 5;
    fixed.wMinute = 44;
    fixed.wSecond = 7;
    sim::SetClock(fixed);
}

void ReleaseClock() {
    sim::SetClock(std::nullopt);
}

RunResult RunSystem(const sim::Machine& machine, const sim::Module& module) {
    sim::Install(machine, module);
    FixClock();
    sim::CaptureConsole(true);
    RunResult result;
    result.exitCode = RunDestinationPick();
    result.output = sim::ConsoleText();
    sim::CaptureConsole(false);
    ReleaseClock();
    return result;
}

RunWithLog RunSystemLoggingInMemory(const sim::Machine& machine, const std::wstring& folder) {
    sim::KeepFilesInMemory(folder);
    sim::Module module = sim::DefaultModule();
    module.path = folder + L"\\destpick.exe";
    RunWithLog result;
    result.run = RunSystem(machine, module);
    result.log = sim::MemoryFileBytes(folder + L"\\destpick.log");
    sim::KeepFilesInMemory(L"");
    return result;
}

std::string Entries(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += kStamp + line + "\r\n";
    }
    return text;
}

std::vector<std::string> LinesWithoutStamps(const std::string& log) {
    std::vector<std::string> lines;
    std::istringstream stream(log);
    std::string line;
    const size_t stampLength = sizeof(kStamp) - 1;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line.size() >= stampLength && line[0] == '[' ? line.substr(stampLength)
                                                                     : line);
    }
    return lines;
}

sim::Disk DiskWithPath(const std::wstring& path) {
    sim::Disk disk;
    disk.path = path;
    disk.openError = ERROR_FILE_NOT_FOUND;
    return disk;
}

ProbeResult ProbeFirstDisk(const sim::Machine& machine) {
    ScratchFolder folder;
    sim::Install(machine);
    ProbeResult result;
    InitializeDriveRecord(&result.record);
    const std::wstring logPath = folder.Windows() + L"\\probe.log";
    ProbeDrives(&result.record, 1, logPath.c_str(), &result.outcome);
    if (folder.Exists("probe.log")) {
        result.lines = LinesWithoutStamps(folder.ReadFile("probe.log"));
    }
    return result;
}

const std::wstring kPath = L"\\\\?\\scsi#disk&ven_nvme&prod_model_x100#4&2c41e0aa&0&020000#{"
                           L"53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

sim::Disk FixedDisk(const std::wstring& path, DWORD number) {
    sim::Disk disk;
    disk.path = path;
    disk.replies[{IOCTL_STORAGE_GET_DEVICE_NUMBER}] = sim::DeviceNumberReply(number, 0);
    disk.replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty}] =
        sim::DeviceDescriptorReply(BusTypeNvme, false, 0);
    disk.replies[{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceSeekPenaltyProperty}] =
        sim::SeekPenaltyReply(false);
    disk.replies[{IOCTL_DISK_GET_DRIVE_GEOMETRY}] = sim::GeometryReply(121601, 255, 63, 512);
    disk.replies[{IOCTL_SCSI_GET_ADDRESS}] = sim::ScsiAddressReply(1, 0, 2, 0);
    disk.replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] =
        sim::LayoutReply(PARTITION_STYLE_GPT,
                         {sim::GptPartition(104857600, L"C12A7328-F81F-11D2-BA4B-00A0C93EC93B",
                                            L"EFI system partition"),
                          sim::GptPartition(5368709120LL, L"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7",
                                            L"Basic data partition")});
    return disk;
}

FileHeldElsewhere::FileHeldElsewhere(const std::wstring& path, int releaseAfterMs) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(release_) != 0) {
        return;
    }
    holder_ = fork();
    if (holder_ == 0) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        const char signal = file != INVALID_HANDLE_VALUE ? 'y' : 'n';
        pollfd released = {release_[0], POLLIN, 0};
        const bool told = write(ready[1], &signal, 1) == 1;
        _exit(told && poll(&released, 1, releaseAfterMs) >= 0 ? 0 : 2);
    }
    char signal = 0;
    held_ = holder_ > 0 && read(ready[0], &signal, 1) == 1 && signal == 'y';
    close(ready[0]);
    close(ready[1]);
}

FileHeldElsewhere::~FileHeldElsewhere() {
    Release();
    for (int fd : release_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void FileHeldElsewhere::Release() {
    if (holder_ <= 0) {
        return;
    }
    if (write(release_[1], "x", 1) != 1) {
        kill(holder_, SIGKILL);
    }
    int status = 0;
    waitpid(holder_, &status, 0);
    holder_ = -1;
}

DiskRoom::DiskRoom(unsigned long long bytes) {
    savedHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    savedLimit_ = limit.rlim_cur;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
}

DiskRoom::~DiskRoom() {
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(savedLimit_);
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, savedHandler_);
}

} // namespace testing_support
