#include "disk_capture.h"

#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <vector>

namespace {

// The probe opens every disk for reading and writing (a disk can answer a read-only open
// differently) and shares it both ways; nothing is ever written through the handle.
const DWORD DiskOpenAccess = GENERIC_READ | GENERIC_WRITE | FILE_READ_DATA | FILE_WRITE_DATA;
const DWORD DiskShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The probe fetches the descriptor's fixed head alone, not its vendor and product texts.
const DWORD DescriptorHeadBytes = 40;
const DWORD LayoutAttempts = 1000;

sim::Reply Failure(DWORD error) {
    sim::Reply reply;
    reply.error = error;
    return reply;
}

// One request with the probe's input and output room, into a zero-filled buffer as the probe's
// are. The reply is what the buffer holds afterwards, as far as the driver reported filling it:
// replayed into the same room, the same bytes arrive with the same count.
sim::Reply Ask(HANDLE disk, DWORD code, LPVOID input, DWORD inputSize, DWORD outputSize) {
    std::vector<BYTE> output(outputSize, 0);
    DWORD bytesReturned = 0;
    if (!DeviceIoControl(disk, code, input, inputSize, output.data(), outputSize, &bytesReturned,
                         NULL)) {
        return Failure(GetLastError());
    }
    output.resize(std::min(bytesReturned, outputSize));
    sim::Reply reply;
    reply.bytes = output;
    return reply;
}

sim::Reply AskProperty(HANDLE disk, STORAGE_PROPERTY_ID property, DWORD outputSize) {
    STORAGE_PROPERTY_QUERY query;
    ZeroMemory(&query, sizeof(query));
    query.PropertyId = property;
    query.QueryType = PropertyStandardQuery;
    return Ask(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), outputSize);
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
        const DWORD size = static_cast<DWORD>(sizeof(DRIVE_LAYOUT_INFORMATION_EX) +
                                              sizeof(PARTITION_INFORMATION_EX) * i);
        sim::Reply answer = Ask(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, NULL, 0, size);
        if (!answer.error) {
            if (i > 0 && !(onlyRoomWanted && lastFailedSize < answer.bytes.size())) {
                record.layoutFailures = static_cast<int>(i);
                record.layoutFailureError = lastError;
            }
            record.layout = answer;
            return;
        }
        lastError = *answer.error;
        lastFailedSize = size;
        onlyRoomWanted = onlyRoomWanted && lastError == ERROR_INSUFFICIENT_BUFFER;
    }
    record.layout = Failure(lastError);
}

void CaptureScsiAddress(HANDLE disk, DiskCapture& capture) {
    capture.disk.scsiAddress = Ask(disk, IOCTL_SCSI_GET_ADDRESS, NULL, 0, sizeof(SCSI_ADDRESS));
    const std::vector<BYTE>& bytes = capture.disk.scsiAddress->bytes;
    if (!capture.disk.scsiAddress->error && bytes.size() >= sizeof(SCSI_ADDRESS)) {
        capture.port = bytes[offsetof(SCSI_ADDRESS, PortNumber)];
        capture.bus = bytes[offsetof(SCSI_ADDRESS, PathId)];
        capture.targetId = bytes[offsetof(SCSI_ADDRESS, TargetId)];
        capture.lun = bytes[offsetof(SCSI_ADDRESS, Lun)];
    }
}

// Every storage request the probe sends, in its order. The layout is asked of removable disks too,
// which the probe skips: it is read-only, and a replay that turns the disk fixed needs it.
void CaptureStorage(HANDLE disk, DiskCapture& capture) {
    sim::Disk& record = capture.disk;
    record.deviceNumber =
        Ask(disk, IOCTL_STORAGE_GET_DEVICE_NUMBER, NULL, 0, sizeof(STORAGE_DEVICE_NUMBER));
    record.deviceDescriptor = AskProperty(disk, StorageDeviceProperty, DescriptorHeadBytes);
    record.seekPenalty =
        AskProperty(disk, StorageDeviceSeekPenaltyProperty, sizeof(DEVICE_SEEK_PENALTY_DESCRIPTOR));
    record.geometry = Ask(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY, NULL, 0, sizeof(DISK_GEOMETRY));
    CaptureScsiAddress(disk, capture);
    CaptureLayout(disk, record);
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
