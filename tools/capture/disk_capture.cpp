#include "disk_capture.h"

#include "inventory/disk_request_plan.h"

#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <vector>

namespace {

sim::Reply Failure(DWORD error) {
    sim::Reply reply;
    reply.error = error;
    return reply;
}

// A request of the probe's plan, with its input and the room it offers, into a zero-filled buffer
// as the probe's are. The reply is what the buffer holds afterwards, as far as the driver reported
// filling it: replayed into the same room, the same bytes arrive with the same count.
sim::Reply Ask(HANDLE disk, const DiskRequest& request) {
    std::vector<BYTE> output(request.outputBytes, 0);
    DWORD bytesReturned = 0;
    if (!SendPlannedRequest(disk, request, output.data(), &bytesReturned)) {
        return Failure(GetLastError());
    }
    output.resize(std::min(bytesReturned, request.outputBytes));
    sim::Reply reply;
    reply.bytes = output;
    return reply;
}

std::optional<DWORD> PropertyOf(const DiskRequest& request) {
    if (!IsPropertyQuery(request)) {
        return std::nullopt;
    }
    return static_cast<DWORD>(request.property);
}

// The path in SetupAPI's two calls, the probe's way: the size first, then the path, cut where the
// reported size ends.
void CaptureDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData, DiskCapture& capture) {
    DWORD requiredSize = 0;
    SetupDiGetDeviceInterfaceDetailW(set, interfaceData, NULL, 0, &requiredSize, NULL);
    if (requiredSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        capture.disk.detailReportsNoSize = true;
        return;
    }
    std::vector<BYTE> buffer(requiredSize, 0);
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail =
        reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    const size_t pathChars =
        (requiredSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR) -
        1;
    if (!SetupDiGetDeviceInterfaceDetailW(set, interfaceData, detail, requiredSize, NULL, NULL)) {
        capture.disk.detailError = GetLastError();
        // The path was never handed out. One of the length the reported size names stands in
        // for it, so that the probe asks for the same size again.
        capture.disk.path.assign(pathChars, L'?');
        return;
    }
    const WCHAR* path = detail->DevicePath;
    capture.devicePath.assign(path, std::find(path, path + pathChars, L'\0'));
    capture.disk.path = capture.devicePath;
}

// The layout in the probe's growing buffers. Failures before the answer are recorded as scripted
// failures, unless each was the driver asking for more room than the buffer had: then the answer's
// own size refuses those buffers on replay, as it did here. A layout that never comes is a request
// that fails with the last attempt's error, the one the probe's give-up line shows: it fails every
// buffer on replay, as it did here, and a description can say so.
void CaptureLayout(HANDLE disk, sim::Disk& record) {
    DWORD lastError = ERROR_SUCCESS;
    DWORD lastFailedSize = 0;
    bool onlyRoomWanted = true;
    for (DWORD i = 0; i < LayoutAttempts; ++i) {
        const DiskRequest request = LayoutRequest(i);
        sim::Reply answer = Ask(disk, request);
        if (!answer.error) {
            if (i > 0 && !(onlyRoomWanted && lastFailedSize < answer.bytes.size())) {
                answer.failures = static_cast<int>(i);
                answer.failureError = lastError;
            }
            record.replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] = answer;
            return;
        }
        lastError = *answer.error;
        lastFailedSize = request.outputBytes;
        onlyRoomWanted = onlyRoomWanted && lastError == ERROR_INSUFFICIENT_BUFFER;
    }
    record.replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] = Failure(lastError);
}

// The address the RAID query will ask about, as the probe reads it from the reply.
void ReadScsiAddress(DiskCapture& capture) {
    const sim::Reply& address = capture.disk.replies[{IOCTL_SCSI_GET_ADDRESS}];
    const std::vector<BYTE>& bytes = address.bytes;
    if (!address.error && bytes.size() >= sizeof(SCSI_ADDRESS)) {
        capture.port = bytes[offsetof(SCSI_ADDRESS, PortNumber)];
        capture.bus = bytes[offsetof(SCSI_ADDRESS, PathId)];
        capture.targetId = bytes[offsetof(SCSI_ADDRESS, TargetId)];
        capture.lun = bytes[offsetof(SCSI_ADDRESS, Lun)];
    }
}

// Every storage request the probe sends, in its order. The layout is asked of removable disks too,
// which the probe skips: it is read-only, and a replay that turns the disk fixed needs it.
void CaptureStorage(HANDLE disk, DiskCapture& capture) {
    for (const DiskRequest& request : DiskRequestPlan) {
        capture.disk.replies[{request.controlCode, PropertyOf(request)}] = Ask(disk, request);
    }
    ReadScsiAddress(capture);
    CaptureLayout(disk, capture.disk);
}

} // namespace

DiskCapture CaptureDisk(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData) {
    DiskCapture capture;
    CaptureDetail(set, interfaceData, capture);
    // Without a path the probe opens the empty name, which is no device: nothing to ask.
    if (capture.devicePath.empty()) {
        return capture;
    }
    HANDLE disk = CreateFileW(capture.devicePath.c_str(), DiskOpenAccess, DiskShareMode, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (disk == INVALID_HANDLE_VALUE) {
        capture.disk.openError = GetLastError();
        return capture;
    }
    CaptureStorage(disk, capture);
    CloseHandle(disk);
    return capture;
}
