// Disks and SCSI controllers of the simulated machine, opened by their device names and asked
// through DeviceIoControl. The checks follow the Windows storage stack in its order: the handle,
// then the call's own parameters, then whether the driver knows the request, then the buffers,
// and only then what the device answers. A wrong answer here would let the tool pick a disk that
// Windows would never have offered, so anything the stand-in does not know is refused.
#include "kernel32/devices.h"

#include "kernel32/handles.h"
#include "standin/failure.h"
#include "standin/installed.h"

#include <sim/disk_requests.h>
#include <sim/text.h>

#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <map>

namespace {

// The handle of a device that opens; an open that succeeds clears the last error, as on Windows.
HANDLE OpenedDevice(sim::HandleKind kind, size_t deviceIndex, const std::wstring& name) {
    sim::HandleEntry entry;
    entry.kind = kind;
    entry.deviceIndex = deviceIndex;
    entry.name = name;
    SetLastError(ERROR_SUCCESS);
    return sim::AddHandle(entry);
}

HANDLE OpenController(size_t number, const std::wstring& name) {
    const std::vector<sim::Controller>& controllers = sim::CurrentMachine().controllers;
    if (number >= controllers.size() || controllers[number].open == sim::Controller::Open::Fails) {
        const DWORD error =
            number < controllers.size() ? controllers[number].openError : ERROR_FILE_NOT_FOUND;
        return sim::Fail(error, INVALID_HANDLE_VALUE);
    }
    if (controllers[number].open == sim::Controller::Open::NullHandle) {
        return nullptr;
    }
    return OpenedDevice(sim::HandleKind::Controller, number, name);
}

} // namespace

namespace sim {

HANDLE OpenDevice(const std::wstring& name, DWORD access, DWORD shareMode, DWORD disposition,
                  DWORD flagsAndAttributes) {
    OpenRequest request;
    request.name = name;
    request.access = access;
    request.shareMode = shareMode;
    request.disposition = disposition;
    request.flagsAndAttributes = flagsAndAttributes;
    RecordOpenRequest(request);
    ++sim::RunCounters().deviceOpens;
    if (disposition != OPEN_EXISTING) {
        return sim::Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    if (const std::optional<size_t> number = ControllerNumber(name)) {
        return OpenController(*number, name);
    }
    const std::vector<Disk>& disks = CurrentMachine().disks;
    for (size_t i = 0; i < disks.size(); ++i) {
        if (!disks[i].path.empty() && EqualsIgnoringCase(disks[i].path, name)) {
            if (disks[i].openError) {
                return sim::Fail(*disks[i].openError, INVALID_HANDLE_VALUE);
            }
            return OpenedDevice(HandleKind::Disk, i, name);
        }
    }
    return sim::Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
}

} // namespace sim

namespace {

// One DeviceIoControl as the driver sees it. A null buffer counts as no room at all: Windows
// faults on it while probing the buffer, and either way the call fails with nothing written.
struct Call {
    const BYTE* input;
    DWORD inputSize;
    BYTE* output;
    DWORD outputSize;
    DWORD* bytesReturned;
};

// Success leaves the thread's last error as it was, as on Windows.
BOOL Deliver(const Call& call, const std::vector<BYTE>& bytes, size_t count) {
    if (count != 0) {
        std::memcpy(call.output, bytes.data(), count);
    }
    *call.bytesReturned = static_cast<DWORD>(count);
    return TRUE;
}

BOOL Unknown() {
    ++sim::RunCounters().unknownRequests;
    return sim::Fail(ERROR_INVALID_FUNCTION);
}

// Attempts per disk and request since Install, for the requests whose replies script failures.
std::map<std::pair<size_t, const sim::DiskRequest*>, int>& Attempts() {
    static std::map<std::pair<size_t, const sim::DiskRequest*>, int> attempts;
    return attempts;
}

// The property a storage property query asks for, or the failure its input earns.
BOOL ReadPropertyQuery(const Call& call, std::optional<DWORD>& propertyId) {
    if (call.inputSize < offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters)) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    DWORD property = 0;
    DWORD queryType = 0;
    std::memcpy(&property, call.input + offsetof(STORAGE_PROPERTY_QUERY, PropertyId), 4);
    std::memcpy(&queryType, call.input + offsetof(STORAGE_PROPERTY_QUERY, QueryType), 4);
    // Windows answers an existence query with success and no data; the tool never asks one, so
    // the stand-in refuses it rather than pretend every property exists.
    if (queryType != PropertyStandardQuery) {
        return sim::Fail(ERROR_INVALID_FUNCTION);
    }
    propertyId = property;
    return TRUE;
}

BOOL DiskRequest(const Call& call, DWORD code, size_t diskIndex) {
    const std::vector<sim::Disk>& disks = sim::CurrentMachine().disks;
    if (diskIndex >= disks.size()) {
        // The handle outlived the machine it was opened on: the device is gone.
        return sim::Fail(ERROR_GEN_FAILURE);
    }
    std::optional<DWORD> propertyId;
    if (code == IOCTL_STORAGE_QUERY_PROPERTY && !ReadPropertyQuery(call, propertyId)) {
        return FALSE;
    }
    const sim::DiskRequest* request = sim::FindDiskRequest({code, propertyId});
    if (request == nullptr) {
        // A property the disk does not know is not supported; every other request, those that
        // would change the disk included, is unknown to it.
        return propertyId ? sim::Fail(ERROR_NOT_SUPPORTED) : Unknown();
    }
    // Every request counts as an attempt, one the disk has no reply to included.
    const int attempt = request->handOver.scriptedFailures ? Attempts()[{diskIndex, request}]++ : 0;
    const auto found = disks[diskIndex].replies.find(request->request);
    const sim::Reply* reply = found != disks[diskIndex].replies.end() ? &found->second : nullptr;
    const sim::HandOutcome outcome = sim::HandOverReply(*request, reply, call.outputSize, attempt);
    if (outcome.error) {
        return sim::Fail(*outcome.error);
    }
    return Deliver(call, reply->bytes, outcome.count);
}

// The controller answers as scripted, byte count included, even where no well-behaved driver
// would: the tool must survive a miniport that reports more than it wrote. The scripted last
// error belongs to a failing request; a successful one leaves the thread's last error alone, as
// on Windows.
BOOL ControllerRequest(const Call& call, DWORD code, size_t number) {
    if (code != IOCTL_SCSI_MINIPORT) {
        return Unknown();
    }
    const std::vector<sim::Controller>& controllers = sim::CurrentMachine().controllers;
    if (number >= controllers.size()) {
        return sim::Fail(ERROR_GEN_FAILURE);
    }
    if (call.inputSize < sizeof(SRB_IO_CONTROL)) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    const sim::Controller& controller = controllers[number];
    const sim::MiniportAnswer* answer = &controller.answer;
    SRB_IO_CONTROL header;
    std::memcpy(&header, call.input, sizeof(header));
    // A description names each disk once; a machine built in C++ with two answers for one disk
    // gets the first.
    for (const auto& diskAnswer : controller.diskAnswers) {
        if (diskAnswer.first == header.ReturnCode) {
            answer = &diskAnswer.second;
            break;
        }
    }
    const size_t count = std::min<size_t>(answer->reply.size(), call.outputSize);
    if (count != 0) {
        std::memcpy(call.output, answer->reply.data(), count);
    }
    *call.bytesReturned = answer->bytesReturned;
    return answer->result ? answer->result : sim::Fail(answer->lastError);
}

} // namespace

namespace sim {

void ResetDeviceAccounting() {
    Attempts().clear();
}

} // namespace sim

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                            LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                            LPOVERLAPPED overlapped) {
    if (bytesReturned != nullptr) {
        *bytesReturned = 0;
    }
    ++sim::RunCounters().deviceIoControls;
    const sim::HandleEntry* entry = sim::FindHandle(device);
    sim::IoRequest request;
    request.device = entry != nullptr ? entry->name : std::wstring();
    request.code = ioControlCode;
    if (inBuffer != nullptr) {
        const BYTE* input = static_cast<const BYTE*>(inBuffer);
        request.input.assign(input, input + inBufferSize);
    }
    request.outputSize = outBufferSize;
    sim::RecordIoRequest(request);

    if (entry == nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if (entry->kind != sim::HandleKind::Disk && entry->kind != sim::HandleKind::Controller) {
        return sim::Fail(ERROR_INVALID_FUNCTION);
    }
    // Only synchronous calls are simulated. Windows would fault on a missing count; the stand-in
    // refuses the call instead, so that a test sees the mistake rather than a crash.
    if (overlapped != nullptr || bytesReturned == nullptr) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    Call call;
    call.input = static_cast<const BYTE*>(inBuffer);
    call.inputSize = inBuffer != nullptr ? inBufferSize : 0;
    call.output = static_cast<BYTE*>(outBuffer);
    call.outputSize = outBuffer != nullptr ? outBufferSize : 0;
    call.bytesReturned = bytesReturned;
    if (entry->kind == sim::HandleKind::Disk) {
        return DiskRequest(call, ioControlCode, entry->deviceIndex);
    }
    return ControllerRequest(call, ioControlCode, entry->deviceIndex);
}
