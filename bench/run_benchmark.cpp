// The benchmark: whole runs of the system in process on simulated machines of 1 to 256 disks,
// with the log on a memory file system, on the disk, and with no log at all. Each configuration
// is measured in a process of its own, so that the peak resident size it reports is its own and
// no configuration runs in memory another one has grown.
#include "fleet_machine.h"
#include "stability_benchmark.h"

#include "inventory/device_services.h"
#include "inventory/disk_probe.h"
#include "selection/run_driver.h"
#include "selection/weighting.h"

#include <sim/standin.h>

#include <winioctl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int kDiskCounts[] = {1, 4, 16, 64, 256};
const int kSampleLimit = 20000;

// The log on tmpfs, the log on the disk's file system, and the system's steps with an empty log
// path, which writes nothing; each with the name the options and the rows give it.
enum class Mode { LogOnTmpfs, LogOnDisk, NoLog };
struct ModeName {
    Mode mode;
    const char* name;
};
const ModeName kModes[] = {
    {Mode::LogOnTmpfs, "tmpfs"}, {Mode::LogOnDisk, "disk"}, {Mode::NoLog, "none"}};

const char* NameOf(Mode mode) {
    for (const ModeName& named : kModes) {
        if (named.mode == mode) {
            return named.name;
        }
    }
    return "";
}

struct Options {
    int repetitions = 9;         // timed runs per configuration, at least
    double minimumSeconds = 0.5; // and at least this long in timed runs
    bool checkOnly = false;      // one checked run per configuration, no figures
    int profileDisks = 0;        // set: one configuration in this process, for a profiler
    int stabilityMachines = 0;   // set: the numbering verdict's figures instead
    Mode profileMode = Mode::NoLog;
};

// One configuration's figures: the median wall time of its timed runs, the kernel's share of
// their CPU time, the calls of one run and the process's peak resident size.
struct Figure {
    int disks;
    Mode mode;
    int runs;
    double medianMicroseconds;
    double kernelShare;
    long logLines;
    sim::Counters calls;
    long maxResidentKiB;
};
static_assert(std::is_trivially_copyable<Figure>::value, "figures cross a pipe as bytes");

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "destpick benchmark: %s\n", message.c_str());
    std::exit(1);
}

std::string Describe(int disks, Mode mode) {
    return std::to_string(disks) + " disks, log " + NameOf(mode);
}

bool IsDirectory(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

// Where the log folder is made: tmpfs when the machine has /dev/shm, so that the figures show
// the cost of the calls rather than of a disk; /tmp for the comparison with a disk.
std::string FolderParent(Mode mode) {
    if (mode != Mode::LogOnDisk && IsDirectory("/dev/shm")) {
        return "/dev/shm";
    }
    return IsDirectory("/tmp") ? "/tmp" : std::filesystem::temp_directory_path().string();
}

std::string FileSystemOf(const std::string& path) {
    struct statfs info {};
    if (statfs(path.c_str(), &info) != 0) {
        return "unknown";
    }
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x01021994UL:
        return "tmpfs";
    case 0xEF53UL:
        return "ext4";
    case 0x58465342UL:
        return "xfs";
    case 0x9123683EUL:
        return "btrfs";
    case 0x794C7630UL:
        return "overlay";
    default:
        return "other";
    }
}

// The executable's folder for the runs of one configuration, removed with its log.
class RunFolder {
  public:
    explicit RunFolder(const std::string& parent) {
        std::string pattern = parent + "/destpick-bench-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) {
            Fail("cannot create a folder under " + parent);
        }
        posix_ = pattern;
    }
    ~RunFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(posix_, ignored);
    }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    std::string LogFile() const {
        return posix_ + "/destpick.log";
    }
    sim::Module Module() const {
        sim::Module module;
        module.path = L"Z:";
        for (char c : posix_) {
            module.path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
        }
        module.path += L"\\destpick.exe";
        module.fileVersion[0] = 1;
        return module;
    }

  private:
    std::string posix_;
};

// The run driver's steps without the run driver: the same calls with an empty log path, so
// that every entry is formatted and none is written. The records stay for the checks.
int RunWithoutLog(const DriveRecord** records, LONG* count) {
    *count = CountDiskInterfaces();
    DriveRecord* filled = static_cast<DriveRecord*>(HeapAlloc(
        GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<SIZE_T>(*count) * sizeof(DriveRecord)));
    for (LONG k = 0; k < *count; ++k) {
        InitializeDriveRecord(&filled[k]);
    }
    *records = filled;
    HRESULT outcome = S_OK;
    ProbeDrives(filled, static_cast<DWORD>(*count), L"", &outcome);
    if (FAILED(outcome)) {
        return outcome;
    }
    WeighDrives(filled, *count, L"");
    const LONG chosen = PickDrive(filled, *count, L"");
    return chosen == NoDriveChosen ? NoDestinationExitCode : static_cast<int>(filled[chosen].Order);
}

struct Sample {
    double microseconds;
    double userMicroseconds;
    double kernelMicroseconds;
    int exitCode;
    std::string output;
    const DriveRecord* records; // NoLog only
    LONG recordCount;
};

double Microseconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) * 1e6 + static_cast<double>(time.tv_usec);
}

// One run on a freshly installed machine, with no log from an earlier run: a machine about to be
// imaged has none.
Sample RunOnce(const sim::Machine& machine, const RunFolder& folder, Mode mode) {
    std::remove(folder.LogFile().c_str());
    sim::Install(machine, folder.Module());
    sim::CaptureConsole(true);
    Sample sample{};
    rusage before{};
    rusage after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    sample.exitCode = mode == Mode::NoLog ? RunWithoutLog(&sample.records, &sample.recordCount)
                                          : RunDestinationPick();
    const auto end = std::chrono::steady_clock::now();
    getrusage(RUSAGE_SELF, &after);
    sample.output = sim::ConsoleText();
    sim::CaptureConsole(false);
    sample.microseconds = std::chrono::duration<double, std::micro>(end - start).count();
    sample.userMicroseconds = Microseconds(after.ru_utime) - Microseconds(before.ru_utime);
    sample.kernelMicroseconds = Microseconds(after.ru_stime) - Microseconds(before.ru_stime);
    return sample;
}

long CountLines(const std::string& file) {
    std::ifstream stream(file, std::ios::binary);
    return static_cast<long>(
        std::count(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>(), '\n'));
}

// A figure of a run that went wrong would measure something else: every configuration's first
// run is checked for the pick, the log it leaves and the NVMe link speeds it found.
void Check(const Figure& figure, const Sample& sample) {
    const std::string where = Describe(figure.disks, figure.mode) + ": ";
    if (sample.exitCode != static_cast<int>(bench::kFleetDestination)) {
        Fail(where + "the run answered " + std::to_string(sample.exitCode));
    }
    const sim::Counters& calls = figure.calls;
    if (figure.mode == Mode::NoLog) {
        if (calls.fileOpens != 0 || calls.fileFinds != 0 || calls.fileWrites != 0) {
            Fail(where + "a run without log path touched a file");
        }
        for (LONG k = 0; k < sample.recordCount; ++k) {
            if (sample.records[k].BusType == BusTypeNvme && sample.records[k].NVMeGen < 3) {
                Fail(where + "disk " + std::to_string(k) + " got no PCIe link speed");
            }
        }
        return;
    }
    if (sample.output != "Destination=\\\\.\\PHYSICALDRIVE0") {
        Fail(where + "the run printed " + sample.output);
    }
    if (figure.logLines != calls.fileWrites || calls.fileWrites != calls.fileOpens ||
        calls.fileFinds != 0) {
        Fail(where + "the log's lines, file opens and writes differ, or the log was searched");
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

Figure Measure(int disks, Mode mode, const Options& options) {
    const sim::Machine machine = bench::FleetMachine(disks);
    const RunFolder folder(FolderParent(mode));
    Figure figure{};
    figure.disks = disks;
    figure.mode = mode;
    // The first run is checked and counted; it also brings the code and the files into memory.
    const Sample first = RunOnce(machine, folder, mode);
    figure.calls = sim::CurrentCounters();
    figure.logLines = mode == Mode::NoLog ? 0 : CountLines(folder.LogFile());
    Check(figure, first);
    figure.medianMicroseconds = first.microseconds;
    if (!options.checkOnly) {
        std::vector<double> times;
        double total = 0;
        double user = 0;
        double kernel = 0;
        while ((static_cast<int>(times.size()) < options.repetitions ||
                total < options.minimumSeconds * 1e6) &&
               static_cast<int>(times.size()) < kSampleLimit) {
            const Sample sample = RunOnce(machine, folder, mode);
            times.push_back(sample.microseconds);
            total += sample.microseconds;
            user += sample.userMicroseconds;
            kernel += sample.kernelMicroseconds;
        }
        figure.runs = static_cast<int>(times.size());
        figure.medianMicroseconds = times.empty() ? first.microseconds : Median(times);
        figure.kernelShare = user + kernel > 0 ? kernel / (user + kernel) : 0;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    figure.maxResidentKiB = usage.ru_maxrss;
    return figure;
}

Figure MeasureInChild(int disks, Mode mode, const Options& options) {
    int channel[2];
    if (pipe(channel) != 0) {
        Fail("cannot create a pipe");
    }
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        Fail("cannot fork");
    }
    if (child == 0) {
        close(channel[0]);
        const Figure figure = Measure(disks, mode, options);
        const ssize_t written = write(channel[1], &figure, sizeof(figure));
        _exit(written == static_cast<ssize_t>(sizeof(figure)) ? 0 : 1);
    }
    close(channel[1]);
    Figure figure{};
    const ssize_t got = read(channel[0], &figure, sizeof(figure));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != static_cast<ssize_t>(sizeof(figure)) || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        Fail(Describe(disks, mode) + ": the measuring process failed");
    }
    return figure;
}

// The log changes nothing the system asks of the storage stack: a figure pair that differs there
// would compare two different runs.
void CheckSameDeviceCalls(const Figure& a, const Figure& b) {
    if (a.calls.deviceOpens != b.calls.deviceOpens ||
        a.calls.deviceIoControls != b.calls.deviceIoControls ||
        a.calls.setupApiCalls != b.calls.setupApiCalls) {
        Fail(Describe(a.disks, a.mode) + " and " + Describe(b.disks, b.mode) +
             " made different device calls");
    }
}

void PrintHeading(const Options& options) {
    const std::string tmpfs = FolderParent(Mode::LogOnTmpfs);
    const std::string disk = FolderParent(Mode::LogOnDisk);
    std::printf("destpick benchmark: whole runs in process on simulated machines\n");
    std::printf("log folder: %s (%s); disk comparison: %s (%s)\n", tmpfs.c_str(),
                FileSystemOf(tmpfs).c_str(), disk.c_str(), FileSystemOf(disk).c_str());
    std::printf("each row: median wall time of at least %d runs and %.1f s of runs, measured in "
                "a process of its own\n\n",
                options.repetitions, options.minimumSeconds);
}

void PrintCallTable(const std::vector<Figure>& figures) {
    std::printf("%5s %-5s %6s %10s %8s %8s %6s %8s %7s %7s %7s %7s %8s %8s %9s %9s\n", "disks",
                "log", "runs", "median ms", "us/disk", "us/added", "kern%", "entries", "opens",
                "finds", "writes", "devopen", "ioctl", "setupapi", "heap KiB", "RSS KiB");
    const Figure* previous[3] = {nullptr, nullptr, nullptr};
    for (const Figure& f : figures) {
        const Figure*& before = previous[static_cast<int>(f.mode)];
        std::printf("%5d %-5s %6d %10.3f %8.1f ", f.disks, NameOf(f.mode), f.runs,
                    f.medianMicroseconds / 1000, f.medianMicroseconds / f.disks);
        if (before != nullptr) {
            std::printf("%8.1f ", (f.medianMicroseconds - before->medianMicroseconds) /
                                      (f.disks - before->disks));
        } else {
            std::printf("%8s ", "-");
        }
        std::printf("%6.1f %8ld %7d %7d %7d %7d %8d %8d %9.1f %9ld\n", 100 * f.kernelShare,
                    f.logLines, f.calls.fileOpens, f.calls.fileFinds, f.calls.fileWrites,
                    f.calls.deviceOpens, f.calls.deviceIoControls, f.calls.setupApiCalls,
                    static_cast<double>(f.calls.peakHeapBytes) / 1024, f.maxResidentKiB);
        before = &f;
    }
}

void PrintRatioTable(const std::vector<Figure>& figures) {
    std::printf("\nthe log writer's share: full runs against runs without log\n");
    std::printf("%5s %10s %10s %10s %11s %10s %15s %15s\n", "disks", "tmpfs ms", "disk ms",
                "none ms", "tmpfs/none", "disk/none", "none us/disk", "log us/entry");
    for (size_t i = 0; i + 2 < figures.size(); i += 3) {
        const Figure& tmpfs = figures[i];
        const Figure& disk = figures[i + 1];
        const Figure& none = figures[i + 2];
        // What the writing adds to each entry, on tmpfs: the run without log formats them too.
        const double perEntry = (tmpfs.medianMicroseconds - none.medianMicroseconds) /
                                static_cast<double>(tmpfs.logLines);
        std::printf("%5d %10.3f %10.3f %10.3f %11.1f %10.1f %15.1f %15.2f\n", tmpfs.disks,
                    tmpfs.medianMicroseconds / 1000, disk.medianMicroseconds / 1000,
                    none.medianMicroseconds / 1000,
                    tmpfs.medianMicroseconds / none.medianMicroseconds,
                    disk.medianMicroseconds / none.medianMicroseconds,
                    none.medianMicroseconds / none.disks, perEntry);
    }
}

bool ParseMode(const std::string& name, Mode* mode) {
    for (const ModeName& named : kModes) {
        if (name == named.name) {
            *mode = named.mode;
            return true;
        }
    }
    return false;
}

[[noreturn]] void Usage() {
    std::fprintf(stderr, "usage: destpick_benchmark [--repetitions=N] [--min-time=SECONDS] "
                         "[--check] [--profile=DISKS:tmpfs|disk|none] [--stability=MACHINES]\n");
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::string value = argument.substr(argument.find('=') + 1);
        if (argument.rfind("--repetitions=", 0) == 0) {
            options.repetitions = std::atoi(value.c_str());
        } else if (argument.rfind("--min-time=", 0) == 0) {
            options.minimumSeconds = std::atof(value.c_str());
        } else if (argument.rfind("--stability=", 0) == 0) {
            options.stabilityMachines = std::atoi(value.c_str());
            if (options.stabilityMachines <= 0) {
                Usage();
            }
        } else if (argument == "--check") {
            options.checkOnly = true;
        } else if (argument.rfind("--profile=", 0) == 0) {
            const size_t colon = value.find(':');
            options.profileDisks = std::atoi(value.substr(0, colon).c_str());
            if (colon == std::string::npos || options.profileDisks <= 0 ||
                !ParseMode(value.substr(colon + 1), &options.profileMode)) {
                Usage();
            }
        } else {
            Usage();
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    if (options.stabilityMachines > 0) {
        return bench::RunStabilityBenchmark(options.stabilityMachines, options.checkOnly);
    }
    if (options.profileDisks > 0) {
        const Figure figure = Measure(options.profileDisks, options.profileMode, options);
        PrintCallTable({figure});
        return 0;
    }
    std::vector<Figure> figures;
    for (int disks : kDiskCounts) {
        const size_t first = figures.size();
        for (const ModeName& named : kModes) {
            figures.push_back(MeasureInChild(disks, named.mode, options));
        }
        for (size_t k = first + 1; k < figures.size(); ++k) {
            CheckSameDeviceCalls(figures[first], figures[k]);
        }
    }
    if (options.checkOnly) {
        std::printf("every configuration ran and checked\n");
        return 0;
    }
    PrintHeading(options);
    PrintCallTable(figures);
    PrintRatioTable(figures);
    return 0;
}
