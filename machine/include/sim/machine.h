// The machine model: the disks that the disk interface class presents, the device nodes that
// SetupAPI and the configuration manager answer for, and the SCSI controllers, as a description
// (docs/machine-format.md) tells them. Plain C++ over the Windows types alone, so that it builds
// against the stand-in's headers and the SDK's: the stand-in answers from it, and tools read and
// write descriptions with it.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// Which request a reply answers: its control code and, for IOCTL_STORAGE_QUERY_PROPERTY, the
// property.
struct RequestKey {
    DWORD controlCode = 0;
    std::optional<DWORD> propertyId = std::nullopt;
};

// One scripted answer to a control request: the bytes the driver writes back, or a failure. How
// the stand-in hands it over is the request's row in sim::DiskRequests().
struct Reply {
    std::vector<BYTE> bytes;
    std::optional<DWORD> error; // set: the request fails with this error
    // Failures before the reply, for the requests whose rows allow them (the layout): the first
    // `failures` attempts (every attempt when negative) fail with failureError, as a driver that
    // is not ready yet does.
    int failures = 0;
    DWORD failureError = ERROR_INSUFFICIENT_BUFFER;
};

// Every part that a description describes carries its free text too: the stand-in ignores it, and
// a description written anew keeps it.

struct Disk {
    std::wstring description;
    std::wstring path;
    // SetupDiGetDeviceInterfaceDetailW for this interface.
    bool detailReportsNoSize = false; // the sizing call reports 0 bytes
    std::optional<DWORD> detailError; // the second (filling) call fails with this error
    std::optional<DWORD> openError;   // CreateFileW fails with this error
    // Replies to the storage requests of DiskRequests(), by the request they answer; a request
    // without one fails with ERROR_INVALID_FUNCTION.
    std::map<RequestKey, Reply> replies;
};

struct DeviceNode {
    std::wstring description;
    std::wstring instanceId;
    bool idFails = false; // CM_Get_Device_IDW fails for this node
    std::optional<std::wstring> registryDescription;
    std::optional<std::wstring> deviceDescription;
    std::optional<std::wstring> busReportedDescription;
    std::optional<std::wstring> parent;
    std::optional<std::vector<BYTE>> maxLinkSpeed; // raw property bytes
    // Whether the node has a present device interface (a disk has its disk interface, an NVMe
    // controller its storage-port interface); a query for present interfaces lists no other.
    bool hasPresentInterface = true;
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
    std::wstring description;
    Open open = Open::Fails;
    DWORD openError = ERROR_FILE_NOT_FOUND;
    MiniportAnswer answer; // for a disk without an answer of its own
    // Answers for particular disks, by the Disk ID the request carries in its ReturnCode field.
    std::vector<std::pair<DWORD, MiniportAnswer>> diskAnswers;
};

struct Machine {
    std::wstring description;
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

// Equal in every field, descriptions included.
bool operator==(const RequestKey& a, const RequestKey& b);
bool operator<(const RequestKey& a, const RequestKey& b); // so that it keys a std::map
bool operator==(const Reply& a, const Reply& b);
bool operator==(const Disk& a, const Disk& b);
bool operator==(const DeviceNode& a, const DeviceNode& b);
bool operator==(const EnumeratorSet& a, const EnumeratorSet& b);
bool operator==(const MiniportAnswer& a, const MiniportAnswer& b);
bool operator==(const Controller& a, const Controller& b);
bool operator==(const Machine& a, const Machine& b);

// A description that cannot be read or is invalid, or a machine that no description can tell;
// `what()` names the file (when read) and the field.
class MachineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The number N of a SCSI controller's name (\\.\scsiN:, N of one to four digits, any case);
// none for any other name. Such a name opens the controller, so it can never be a disk's
// interface path.
std::optional<size_t> ControllerNumber(const std::wstring& name);
bool NamesController(const std::wstring& name);

// The instance ID of the device node a disk interface belongs to, as Windows registers it:
// "\\?\scsi#disk&ven_x#4&2c&0#{class}" belongs to "SCSI\DISK&VEN_X\4&2C&0". None for a name
// that is no interface path. On Windows every disk interface has its node: the stand-in adds one
// with this ID, and nothing else, for every disk whose node the description leaves out.
std::optional<std::wstring> InterfaceInstanceId(const std::wstring& path);

// Reads a description; a mistake throws MachineError naming sourceName (or the file) and the
// field.
Machine ParseMachine(const std::string& jsonText, const std::string& sourceName);
Machine LoadMachineFile(const std::string& fileName);

// The description of a machine, which ParseMachine reads back to an equal machine: indented,
// fields in the format's order, defaults left out, each reply in its typed form when that form
// builds exactly its bytes and as its bytes otherwise. A machine that no description can tell
// (text that is no UTF-16, an index beyond its list, a reply to a request no disk answers, ...)
// throws MachineError naming the field.
std::string WriteMachine(const Machine& machine);

} // namespace sim
