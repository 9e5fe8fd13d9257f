// Control of the Windows-API stand-in, for the native build's start-up, the tests, the benchmark
// and the fuzzer: which machine and module the next run meets, its clock, failing allocations,
// files kept in memory, the captured console, and what the run asked of the platform.
#pragma once

#include <sim/machine.h>

#include <optional>
#include <string>
#include <vector>

namespace sim {

// The running module: its path as GetModuleFileNameW reports it and its version resource.
struct Module {
    enum class Version { Present, Absent, InfoFails, QueryFails };
    std::wstring path;
    Version version = Version::Present;
    WORD fileVersion[4] = {0, 0, 0, 0};
};

// Exit code of a native run whose machine description is refused.
constexpr int kMachineRefusedExitCode = 78;
// Exit code of a native run that would load a version.dll from the executable's folder: the
// stand-in cannot run what such a DLL holds, so it ends the process there.
constexpr int kForeignLibraryExitCode = 77;

// The embedded default machine (examples/machines/default.json as the build was configured), and
// the module of the running binary with the project's version.
Machine DefaultMachine();
Module DefaultModule();

// Installs a machine and a module for the next run; clears the console, the request record and
// the counters.
void Install(const Machine& machine, const Module& module = DefaultModule());
const Machine& CurrentMachine();
const Module& CurrentModule();

// Fixes what GetSystemTime reports; std::nullopt returns to the host's clock.
void SetClock(std::optional<SYSTEMTIME> fixed);
// Makes the n-th HeapAlloc from now (counting from 0) of at least minimumBytes fail; -1 lets
// every allocation succeed.
void FailHeapAllocation(int nth, SIZE_T minimumBytes = 0);

// Keeps the files directly inside `folder` (a path as the tool sees it, such as Z:\logs) in memory
// rather than on the POSIX file system: they answer as files there do, and cost no system call.
// Each call starts with no file in memory; an empty folder returns every file to the file system.
void KeepFilesInMemory(const std::wstring& folder);
// The bytes of a file kept in memory; empty when there is no such file.
std::string MemoryFileBytes(const std::wstring& path);

// What the process printed through the CRT's wide print, as UTF-8. While capturing, nothing
// reaches the real standard output.
void CaptureConsole(bool capture);
std::string ConsoleText();

struct OpenRequest {
    std::wstring name;
    DWORD access = 0;
    DWORD shareMode = 0;
    DWORD disposition = 0;
    DWORD flagsAndAttributes = 0;
};

struct IoRequest {
    std::wstring device;
    DWORD code = 0;
    std::vector<BYTE> input;
    DWORD outputSize = 0;
};

struct Counters {
    int openHandles = 0; // files, find handles, disks and controllers still open
    int liveDeviceInfoSets = 0;
    int liveHeapBlocks = 0;
    int classQueries = 0;
    int deviceWrites = 0;    // WriteFile attempts on disks or controllers (always refused)
    int unknownRequests = 0; // control codes the stand-in does not know (always refused)
    // Calls into the platform since Install, to weigh what a run asks of it; failed calls count.
    int fileOpens = 0;        // CreateFileW of anything but a disk or controller
    int fileFinds = 0;        // FindFirstFileW
    int fileWrites = 0;       // WriteFile on files
    int deviceOpens = 0;      // CreateFileW of disks and controllers
    int deviceIoControls = 0; // DeviceIoControl, whatever the handle
    int setupApiCalls = 0;    // every SetupDi* and CM_* function
    SIZE_T peakHeapBytes = 0; // the most bytes the process heap held at once
};
Counters CurrentCounters();
const std::vector<IoRequest>& IoRequests();
// Every CreateFileW of a device name (disks and controllers), in order.
const std::vector<OpenRequest>& OpenRequests();

} // namespace sim
