#include "inventory/disk_probe.h"

#include "inventory/device_services.h"
#include "log/log_writer.h"

#include <strsafe.h>

namespace {

// The interface's detail in SetupAPI's two calls: the size first, then the path. Null when the
// size cannot be had or the buffer cannot be allocated; the caller releases it with HeapFree.
SP_DEVICE_INTERFACE_DETAIL_DATA_W* GetInterfaceDetail(HDEVINFO set,
                                                      SP_DEVICE_INTERFACE_DATA* interfaceData) {
    DWORD requiredSize = 0;
    SetupDiGetDeviceInterfaceDetailW(set, interfaceData, NULL, 0, &requiredSize, NULL);
    if (requiredSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return NULL;
    }
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, requiredSize));
    if (detail == NULL) {
        return NULL;
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SetupDiGetDeviceInterfaceDetailW(set, interfaceData, detail, requiredSize, NULL, NULL);
    return detail;
}

void ProbeInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData, DWORD n,
                    DriveRecord* record, LPCWSTR logPath) {
    record->Index = n;
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = GetInterfaceDetail(set, interfaceData);
    LPCWSTR devicePath = detail != NULL ? detail->DevicePath : L"";
    LogMessage(logPath, L"[Disk%i] DevicePath=%s\r\n", n, devicePath);
    StringCchCopyW(record->Path, DriveTextChars, devicePath);
    if (detail != NULL) {
        HeapFree(GetProcessHeap(), 0, detail);
    }
}

} // namespace

DWORD ProbeDrives(DriveRecord* records, DWORD recordCount, LPCWSTR logPath, HRESULT* outcome) {
    *outcome = S_OK;
    HDEVINFO set = OpenDiskInterfaceSet();
    if (set == INVALID_HANDLE_VALUE) {
        return 0;
    }
    SP_DEVICE_INTERFACE_DATA interfaceData;
    ZeroMemory(&interfaceData, sizeof(interfaceData));
    interfaceData.cbSize = sizeof(interfaceData);

    DWORD n = 0;
    // An interface that arrived after the counting pass has no record: it is left unprobed.
    while (n < recordCount && EnumDiskInterface(set, n, &interfaceData)) {
        ProbeInterface(set, &interfaceData, n, &records[n], logPath);
        ++n;
    }
    SetupDiDestroyDeviceInfoList(set);
    return n;
}
