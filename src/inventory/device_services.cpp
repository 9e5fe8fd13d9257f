#include "inventory/device_services.h"

const GUID DiskInterfaceClass = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

HDEVINFO OpenDiskInterfaceSet() {
    return SetupDiGetClassDevsW(&DiskInterfaceClass, NULL, NULL, DiskInterfaceQueryFlags);
}

BOOL EnumDiskInterface(HDEVINFO set, DWORD index, SP_DEVICE_INTERFACE_DATA* interfaceData) {
    ZeroMemory(interfaceData, sizeof(*interfaceData));
    interfaceData->cbSize = sizeof(*interfaceData);
    return SetupDiEnumDeviceInterfaces(set, NULL, &DiskInterfaceClass, index, interfaceData);
}

BOOL EnumDeviceNode(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* node) {
    ZeroMemory(node, sizeof(*node));
    node->cbSize = sizeof(*node);
    return SetupDiEnumDeviceInfo(set, index, node);
}

LONG CountDiskInterfaces() {
    HDEVINFO set = OpenDiskInterfaceSet();
    if (set == INVALID_HANDLE_VALUE) {
        return 0;
    }
    SP_DEVICE_INTERFACE_DATA interfaceData;
    LONG count = 0;
    while (EnumDiskInterface(set, static_cast<DWORD>(count), &interfaceData)) {
        ++count;
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

DevicePropertyFunction LookUpDevicePropertyFunction() {
    HMODULE setupApi = GetModuleHandleW(L"Setupapi.dll");
    if (setupApi == NULL) {
        return NULL;
    }
    FARPROC found = GetProcAddress(setupApi, "SetupDiGetDevicePropertyW");
    return reinterpret_cast<DevicePropertyFunction>(reinterpret_cast<void (*)()>(found));
}
