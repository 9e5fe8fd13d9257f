// The storage requests the probe sends to every disk that opens, in its order, with the room it
// offers and the bytes it needs before it reads a field. The capture asks by the same rows, so
// that it records exactly what the probe is answered.
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

// Every disk is opened for reading and writing (a disk can answer a read-only open differently)
// and shared both ways; nothing is ever written through the handle.
const DWORD DiskOpenAccess = GENERIC_READ | GENERIC_WRITE | FILE_READ_DATA | FILE_WRITE_DATA;
const DWORD DiskShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;

struct DiskRequest {
    DWORD controlCode;
    // For IOCTL_STORAGE_QUERY_PROPERTY only: the property asked, in a standard query.
    STORAGE_PROPERTY_ID property;
    DWORD outputBytes;
    // A shorter answer is no answer: the fields it left out would read as zeros.
    DWORD neededBytes;
    // As the log names the request when its answer is too short.
    LPCWSTR name;
};

enum DiskRequestRow {
    DeviceNumberRequest,
    DeviceDescriptorRequest,
    SeekPenaltyRequest,
    GeometryRequest,
    ScsiAddressRequest,
    DiskRequestRows
};

inline constexpr DiskRequest DiskRequestPlan[DiskRequestRows] = {
    {IOCTL_STORAGE_GET_DEVICE_NUMBER, StorageDeviceProperty, sizeof(STORAGE_DEVICE_NUMBER),
     sizeof(STORAGE_DEVICE_NUMBER), L"IOCTL_STORAGE_GET_DEVICE_NUMBER"},
    // The descriptor's fixed head alone, not its vendor and product texts.
    {IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty, 40,
     offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(STORAGE_BUS_TYPE),
     L"StorageDeviceProperty"},
    {IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceSeekPenaltyProperty,
     sizeof(DEVICE_SEEK_PENALTY_DESCRIPTOR),
     offsetof(DEVICE_SEEK_PENALTY_DESCRIPTOR, IncursSeekPenalty) + 1,
     L"StorageDeviceSeekPenaltyProperty"},
    {IOCTL_DISK_GET_DRIVE_GEOMETRY, StorageDeviceProperty, sizeof(DISK_GEOMETRY),
     sizeof(DISK_GEOMETRY), L"IOCTL_DISK_GET_DRIVE_GEOMETRY"},
    {IOCTL_SCSI_GET_ADDRESS, StorageDeviceProperty, sizeof(SCSI_ADDRESS), sizeof(SCSI_ADDRESS),
     L"IOCTL_SCSI_GET_ADDRESS"},
};

// The partition layout comes last, in growing buffers: attempt i offers room for the layout's
// head and i entries more than the structure holds. After the last failed attempt the probe gives
// up on the run. The answer needs the layout's head; its entries follow.
const DWORD LayoutAttempts = 1000;

inline constexpr DiskRequest LayoutRequest(DWORD attempt) {
    return {IOCTL_DISK_GET_DRIVE_LAYOUT_EX, StorageDeviceProperty,
            static_cast<DWORD>(sizeof(DRIVE_LAYOUT_INFORMATION_EX) +
                               sizeof(PARTITION_INFORMATION_EX) * attempt),
            offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry),
            L"IOCTL_DISK_GET_DRIVE_LAYOUT_EX"};
}

// Whether the request carries a standard query for its property.
inline bool IsPropertyQuery(const DiskRequest& request) {
    return request.controlCode == IOCTL_STORAGE_QUERY_PROPERTY;
}

// Sends a request with the input it carries, a standard query for its property or none, and the
// room it offers.
inline BOOL SendPlannedRequest(HANDLE disk, const DiskRequest& request, LPVOID output,
                               DWORD* bytesReturned) {
    STORAGE_PROPERTY_QUERY query;
    ZeroMemory(&query, sizeof(query));
    query.PropertyId = request.property;
    query.QueryType = PropertyStandardQuery;
    const bool propertyQuery = IsPropertyQuery(request);
    return DeviceIoControl(disk, request.controlCode, propertyQuery ? &query : NULL,
                           propertyQuery ? sizeof(query) : 0, output, request.outputBytes,
                           bytesReturned, NULL);
}
