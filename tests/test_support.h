// Running the system in process on a simulated machine, in a scratch folder of its own.
#pragma once

#include <sim/standin.h>
#include <sim/replies.h>

#include "inventory/drive_record.h"

#include <string>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Posix() const {
        return posix_;
    }
    // The folder as the stand-in reports it: Z: and backslashes.
    std::wstring Windows() const;
    std::string ReadFile(const std::string& name) const;
    bool Exists(const std::string& name) const;

  private:
    std::string posix_;
};

// Another process holding a file open alone (share mode 0), as another run or a scanner does:
// held from construction until Release, the end of the scope, or the given milliseconds.
class FileHeldElsewhere {
  public:
    explicit FileHeldElsewhere(const std::wstring& path, int releaseAfterMs = -1);
    ~FileHeldElsewhere();
    FileHeldElsewhere(const FileHeldElsewhere&) = delete;
    FileHeldElsewhere& operator=(const FileHeldElsewhere&) = delete;

    // Whether the other process got the file.
    bool Held() const {
        return held_;
    }
    // Closes the file in the other process and waits for it to end.
    void Release();

  private:
    int holder_ = -1;
    int release_[2] = {-1, -1};
    bool held_ = false;
};

// A disk that has room for files of this many bytes and no more, for the scope's length: a write
// that would make a file larger fails as it fails on a full disk (the process's file size limit,
// its signal ignored).
class DiskRoom {
  public:
    explicit DiskRoom(unsigned long long bytes);
    ~DiskRoom();
    DiskRoom(const DiskRoom&) = delete;
    DiskRoom& operator=(const DiskRoom&) = delete;

  private:
    unsigned long long savedLimit_ = 0;
    void (*savedHandler_)(int) = nullptr;
};

// The module destpick.exe (or another name) in the folder, with the version parts given.
sim::Module ModuleIn(const ScratchFolder& folder, const std::wstring& fileName = L"destpick.exe",
                     WORD major = 1, WORD minor = 2, WORD patch = 0, WORD tweak = 15);

struct RunResult {
    int exitCode = 0;
    std::string output;
};

// Installs the machine and module, fixes the clock at 2021-09-07 05:44:07 UTC and runs the
// whole system once.
RunResult RunSystem(const sim::Machine& machine, const sim::Module& module);

// The whole system once as RunSystem runs it, from the folder given, with its log kept in memory.
struct RunWithLog {
    RunResult run;
    std::string log;
};
RunWithLog RunSystemLoggingInMemory(const sim::Machine& machine, const std::wstring& folder);

// Fixes the clock at 2021-09-07 05:44:07 UTC, the time of kStamp; ReleaseClock returns to the
// host's clock.
void FixClock();
void ReleaseClock();

// The time stamp every entry carries under the fixed clock.
extern const char kStamp[];

// Each line prefixed with the fixed stamp and ended with CRLF: the log a run should leave.
std::string Entries(std::initializer_list<std::string> lines);

// The log's lines without their stamps, for comparing lines independently of the clock.
std::vector<std::string> LinesWithoutStamps(const std::string& log);

// A disk interface whose device does not open: only its path reaches the record.
sim::Disk DiskWithPath(const std::wstring& path);

struct ProbeResult {
    DriveRecord record;
    HRESULT outcome = S_OK;
    std::vector<std::string> lines; // the log's lines, without their stamps
};

// Installs the machine and probes its first interface alone into a fresh record, logging into a
// scratch folder of its own.
ProbeResult ProbeFirstDisk(const sim::Machine& machine);

// The interface path of FixedDisk.
extern const std::wstring kPath;

// A fixed NVMe disk of 931 GiB at SCSI address 1-0-2-0, with an EFI system partition and a
// 5 GiB data partition, answering every storage request.
sim::Disk FixedDisk(const std::wstring& path = kPath, DWORD number = 0);

} // namespace testing_support
