// The simulated machine behind the Windows-API stand-in: the disks that the disk interface class
// presents, the device nodes that SetupAPI and the configuration manager answer for, the SCSI
// controllers, and the running module. A test builds one in C++ and installs it; a native run
// loads one from the JSON file named by DESTPICK_SIM_MACHINE, or uses the embedded default.
#pragma once

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// One scripted answer to a control request: the bytes the driver writes back, or a failure.
// A reply longer than the caller's buffer fails with ERROR_INSUFFICIENT_BUFFER, as a driver of
// fixed-size structures does.
struct Reply {
    std::vector<BYTE> bytes;
    std::optional<DWORD> error; // set: the request fails with this error
};

struct Disk {
    std::wstring path;
    // SetupDiGetDeviceInterfaceDetailW for this interface.
    bool detailReportsNoSize = false; // the sizing call reports 0 bytes
    std::optional<DWORD> detailError; // the second (filling) call fails with this error
    std::optional<DWORD> openError;   // CreateFileW fails with this error
    // Replies to the storage requests; an unset reply fails with ERROR_INVALID_FUNCTION.
    std::optional<Reply> deviceNumber;
    std::optional<Reply> deviceDescriptor;
    std::optional<Reply> seekPenalty;
    std::optional<Reply> geometry;
    std::optional<Reply> scsiAddress;
    // The drive layout as a whole (head and entries, as many as the disk holds); the request
    // fails with ERROR_INSUFFICIENT_BUFFER while the buffer is smaller than this.
    std::optional<Reply> layout;
    // The layout request fails with this error on the first `layoutFailures` attempts
    // (every attempt when `layoutFailures` is negative).
    int layoutFailures = 0;
    DWORD layoutFailureError = ERROR_INSUFFICIENT_BUFFER;
};

struct DeviceNode {
    std::wstring instanceId;
    bool idFails = false; // CM_Get_Device_IDW fails for this node
    std::optional<std::wstring> registryDescription;
    std::optional<std::wstring> deviceDescription;
    std::optional<std::wstring> busReportedDescription;
    std::optional<std::wstring> parent;
    std::optional<std::vector<BYTE>> maxLinkSpeed; // raw property bytes
};

// What SetupDiGetClassDevsW answers for one instance ID as enumerator. Without an entry the set
// holds the nodes whose instance ID equals the enumerator (case-insensitively), or is refused
// when there is none.
struct EnumeratorSet {
    std::wstring enumerator;
    bool refused = false;
    std::vector<size_t> members; // indexes into Machine::nodes
};

// How a controller answers the miniport request: DeviceIoControl's result, the thread's last
// error after it, the byte count reported back and the bytes written into the reply buffer (at
// most its size).
struct MiniportAnswer {
    BOOL result = TRUE;
    DWORD lastError = 0;
    DWORD bytesReturned = 44;
    std::vector<BYTE> reply;
};

struct Controller {
    enum class Open { Fails, NullHandle, Opens };
    Open open = Open::Fails;
    DWORD openError = ERROR_FILE_NOT_FOUND;
    BOOL result = TRUE; // the answer for a disk without one of its own
    DWORD lastError = 0;
    DWORD bytesReturned = 44;
    std::vector<BYTE> reply;
    // Answers for particular disks, by the Disk ID the request carries in its ReturnCode field.
    std::vector<std::pair<DWORD, MiniportAnswer>> diskAnswers;
};

struct Machine {
    std::vector<Disk> disks;
    // The interfaces (indexes into disks) that the n-th disk class query presents; the last list
    // serves every later query. Empty: every query presents every disk in order.
    std::vector<std::vector<size_t>> interfaceLists;
    bool classQueryFails = false;
    std::vector<DeviceNode> nodes;
    std::vector<EnumeratorSet> enumeratorSets;
    std::vector<Controller> controllers; // \\.\scsi0: to \\.\scsiN:
    bool devicePropertyFunctionMissing = false;
};

// The running module: its path as GetModuleFileNameW reports it and its version resource.
struct Module {
    enum class Version { Present, Absent, InfoFails, QueryFails };
    std::wstring path;
    Version version = Version::Present;
    WORD fileVersion[4] = {0, 0, 0, 0};
};

// A description that cannot be read or is invalid; `what()` names the file and the field.
class MachineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Exit code of a native run whose machine description is refused.
constexpr int kMachineRefusedExitCode = 78;

// True when the name opens a SCSI controller (\\.\scsiN:, N of one to four digits, any case):
// the stand-in routes it to the controllers, so it can never be a disk's interface path.
bool NamesController(const std::wstring& name);

Machine ParseMachine(const std::string& jsonText, const std::string& sourceName);
Machine LoadMachineFile(const std::string& fileName);
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
