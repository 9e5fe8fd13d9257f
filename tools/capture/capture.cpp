#include "capture.h"

#include "controller_capture.h"
#include "disk_capture.h"
#include "node_capture.h"

#include "inventory/device_id.h"
#include "inventory/device_services.h"
#include "inventory/drive_record.h"

#include <string>

namespace {

std::wstring ComputerName() {
    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1] = {0};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) {
        return std::wstring();
    }
    return std::wstring(name, size);
}

// Windows tells its true version to a program whose manifest declares Windows 10 and 11.
std::wstring WindowsVersion() {
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(&version)) {
        return std::wstring();
    }
    std::wstring text = std::to_wstring(version.dwMajorVersion) + L"." +
                        std::to_wstring(version.dwMinorVersion) + L"." +
                        std::to_wstring(version.dwBuildNumber);
    if (version.szCSDVersion[0] != L'\0') {
        text += L" " + std::wstring(version.szCSDVersion);
    }
    return text;
}

// The ID the probe derives from a disk's path, which the link speed lookup starts from.
std::wstring DeviceInstanceId(const std::wstring& devicePath) {
    WCHAR deviceId[DriveTextChars] = {0};
    DevicePathToDeviceId(devicePath.c_str(), deviceId);
    return deviceId;
}

// Each interface in the probe's order, asked what the probe asks it, then its device nodes and its
// RAID answer.
void CaptureDisks(HDEVINFO set, NodeCapture& nodes, ControllerCapture& controllers,
                  sim::Machine& machine) {
    SP_DEVICE_INTERFACE_DATA interfaceData;
    for (DWORD n = 0; EnumDiskInterface(set, n, &interfaceData); ++n) {
        const DiskCapture disk = CaptureDisk(set, &interfaceData);
        // A disk whose path SetupAPI never gave has no ID the probe could look up.
        if (!disk.devicePath.empty()) {
            CaptureDiskNodes(nodes, DeviceInstanceId(disk.devicePath));
        }
        CaptureRaidAnswer(controllers, disk.port, disk.bus, disk.targetId, disk.lun);
        machine.disks.push_back(disk.disk);
    }
}

} // namespace

std::wstring Digits(unsigned value, size_t width) {
    std::wstring text = std::to_wstring(value);
    return std::wstring(width > text.size() ? width - text.size() : 0, L'0') + text;
}

CapturedMachine CaptureMachine() {
    CapturedMachine capture;
    GetSystemTime(&capture.origin.capturedAt);
    capture.origin.computerName = ComputerName();
    capture.origin.windowsVersion = WindowsVersion();

    sim::Machine& machine = capture.machine;
    HDEVINFO set = OpenDiskInterfaceSet();
    NodeCapture nodes;
    // Looked up after the first SetupAPI call, which loads the library, as the lookup finds it.
    nodes.getProperty = LookUpDevicePropertyFunction();
    machine.devicePropertyFunctionMissing = nodes.getProperty == NULL;
    ControllerCapture controllers = StartControllerCapture();
    if (set == INVALID_HANDLE_VALUE) {
        machine.classQueryFails = true;
    } else {
        CaptureDisks(set, nodes, controllers, machine);
        SetupDiDestroyDeviceInfoList(set);
    }
    RecordNodes(nodes, machine);
    RecordControllers(controllers, machine);
    return capture;
}

std::wstring DescribeCapture(const CaptureOrigin& origin, const std::wstring& toolVersion) {
    const SYSTEMTIME& at = origin.capturedAt;
    const std::wstring computer =
        origin.computerName.empty() ? L"a computer that gave no name" : origin.computerName;
    const std::wstring windows = origin.windowsVersion.empty()
                                     ? L"Windows of unknown version"
                                     : L"Windows " + origin.windowsVersion;
    return L"Captured by destpick-capture " + toolVersion + L" on " + computer + L" (" + windows +
           L") at " + std::to_wstring(at.wYear) + L"-" + Digits(at.wMonth, 2) + L"-" +
           Digits(at.wDay, 2) + L" " + Digits(at.wHour, 2) + L":" + Digits(at.wMinute, 2) + L":" +
           Digits(at.wSecond, 2) + L" UTC.";
}
