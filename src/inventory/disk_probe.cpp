#include "inventory/disk_probe.h"

#include "inventory/device_id.h"
#include "inventory/device_services.h"
#include "inventory/disk_request_plan.h"
#include "inventory/pci_link_speed.h"
#include "inventory/raid_query.h"
#include "log/log_texts.h"
#include "log/log_writer.h"

#include <strsafe.h>
#include <winioctl.h>
#include <ntddscsi.h>

namespace {

const DWORD PartitionEntryBytes = sizeof(PARTITION_INFORMATION_EX);
// The size the layout's done line names: the structure of the old, MBR-only layout request.
const DWORD LegacyLayoutBytes = 40;
const size_t GptNameChars = 36;
const size_t TypeTextChars = 260;
const LONGLONG BytesPerGiB = 1073741824LL;
LPCWSTR const EfiSystemPartitionType = L"C12A7328-F81F-11D2-BA4B-00A0C93EC93B";

struct Probe {
    DWORD n;
    DriveRecord* record;
    LPCWSTR logPath;
};

// The interface's detail in SetupAPI's two calls: the size first, then the path. Null when no
// size is reported or the buffer cannot be had; the caller releases it with HeapFree.
SP_DEVICE_INTERFACE_DETAIL_DATA_W* GetInterfaceDetail(const Probe& probe, HDEVINFO set,
                                                      SP_DEVICE_INTERFACE_DATA* interfaceData) {
    DWORD requiredSize = 0;
    SetupDiGetDeviceInterfaceDetailW(set, interfaceData, NULL, 0, &requiredSize, NULL);
    if (requiredSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        LogMessage(probe.logPath, NoInterfaceDetailLine, probe.n, requiredSize);
        return NULL;
    }
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, requiredSize));
    if (detail == NULL) {
        LogMessage(probe.logPath, NoDetailBufferLine, probe.n, requiredSize);
        return NULL;
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SetupDiGetDeviceInterfaceDetailW(set, interfaceData, detail, requiredSize, NULL, NULL);
    // A driver that reports more than it fills still leaves a terminated path.
    detail->DevicePath[(requiredSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) /
                           sizeof(WCHAR) -
                       1] = L'\0';
    return detail;
}

void CheckPathMarkers(const Probe& probe, LPCWSTR devicePath) {
    LogMessage(probe.logPath, PathMarkersLine, probe.n);
    if (wcsstr(devicePath, L"intel_mem") != NULL) {
        probe.record->isIntelOptaneCache = 1;
    }
    if (wcsstr(devicePath, L"intel_hbr") != NULL) {
        probe.record->isIntelTGDisks = 1;
    }
    if (wcsstr(devicePath, L"optane") != NULL) {
        probe.record->isOptane = 1;
    }
}

// Sends one request of the plan after its step's line, into a zero-filled answer; true only when
// it succeeds with at least the bytes the probe reads. A shorter answer is logged and treated as
// no answer.
template <DiskRequestRow row, typename Answer>
bool Query(const Probe& probe, HANDLE disk, LPCWSTR stepLine, Answer* answer) {
    const DiskRequest& request = DiskRequestPlan[row];
    // The answer lands in its structure: the plan may offer no more room than that has.
    static_assert(DiskRequestPlan[row].outputBytes <= sizeof(Answer));
    LogMessage(probe.logPath, stepLine, probe.n);
    ZeroMemory(answer, sizeof(*answer));
    DWORD bytesReturned = 0;
    if (!SendPlannedRequest(disk, request, answer, &bytesReturned)) {
        return false;
    }
    if (bytesReturned < request.neededBytes) {
        LogMessage(probe.logPath, ShortReplyLine, probe.n, request.name, bytesReturned,
                   request.neededBytes);
        return false;
    }
    return true;
}

void GetDeviceNumber(const Probe& probe, HANDLE disk) {
    STORAGE_DEVICE_NUMBER number;
    if (Query<DeviceNumberRequest>(probe, disk, DeviceNumberLine, &number)) {
        probe.record->Order = number.DeviceNumber;
        LogMessage(probe.logPath, PartitionNumberLine, probe.n, number.PartitionNumber);
    }
}

void GetDeviceDescriptor(const Probe& probe, HANDLE disk) {
    STORAGE_DEVICE_DESCRIPTOR descriptor;
    if (Query<DeviceDescriptorRequest>(probe, disk, DescriptorLine, &descriptor)) {
        probe.record->Removable = descriptor.RemovableMedia;
        probe.record->DeviceType = descriptor.DeviceType;
        // Taken as the 32 bits the driver wrote: a code outside the enumeration is still a code.
        CopyMemory(&probe.record->BusType, &descriptor.BusType, sizeof(probe.record->BusType));
        LogMessage(probe.logPath, BusTypeLine, probe.n, probe.record->BusType);
        LogMessage(probe.logPath, DeviceTypeLine, probe.n,
                   static_cast<int>(probe.record->DeviceType));
    }
}

void GetSeekPenalty(const Probe& probe, HANDLE disk) {
    DEVICE_SEEK_PENALTY_DESCRIPTOR penalty;
    if (Query<SeekPenaltyRequest>(probe, disk, SeekPenaltyLine, &penalty)) {
        probe.record->SeekPenalty = penalty.IncursSeekPenalty;
    } else {
        LogMessage(probe.logPath, NoSeekPenaltyLine, probe.n);
    }
}

// Capacity in bytes from the geometry, or -1 when the product is negative or does not fit a
// signed 64-bit number: no disk has such a size.
LONGLONG GeometryBytes(const DISK_GEOMETRY& geometry) {
    LONGLONG bytes = 0;
    if (__builtin_mul_overflow(static_cast<LONGLONG>(geometry.BytesPerSector),
                               static_cast<LONGLONG>(geometry.SectorsPerTrack), &bytes) ||
        __builtin_mul_overflow(bytes, static_cast<LONGLONG>(geometry.TracksPerCylinder), &bytes) ||
        __builtin_mul_overflow(bytes, geometry.Cylinders.QuadPart, &bytes) || bytes < 0) {
        return -1;
    }
    return bytes;
}

void GetSize(const Probe& probe, HANDLE disk) {
    DISK_GEOMETRY geometry;
    if (!Query<GeometryRequest>(probe, disk, SizeLine, &geometry)) {
        LogMessage(probe.logPath, NoSizeLine, probe.n);
        return;
    }
    const LONGLONG capacity = GeometryBytes(geometry);
    if (capacity < 0) {
        LogMessage(probe.logPath, InvalidGeometryLine, probe.n);
        return;
    }
    probe.record->Size = static_cast<ULONGLONG>(capacity / BytesPerGiB);
}

void GetScsiAddress(const Probe& probe, HANDLE disk) {
    SCSI_ADDRESS address;
    if (Query<ScsiAddressRequest>(probe, disk, ScsiAddressLine, &address)) {
        probe.record->Port = address.PortNumber;
        probe.record->Bus = address.PathId;
        probe.record->TargetId = address.TargetId;
        probe.record->Lun = address.Lun;
    }
}

// The layout in growing buffers, room for one more entry each attempt; null after the last
// attempt failed. request receives the attempt's request, bytesReturned how much of its buffer the
// driver filled.
DRIVE_LAYOUT_INFORMATION_EX* GetLayout(const Probe& probe, HANDLE disk, DiskRequest* request,
                                       DWORD* bytesReturned) {
    for (DWORD i = 0; i < LayoutAttempts; ++i) {
        *request = LayoutRequest(i);
        DRIVE_LAYOUT_INFORMATION_EX* layout = static_cast<DRIVE_LAYOUT_INFORMATION_EX*>(
            HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, request->outputBytes));
        *bytesReturned = 0;
        if (layout != NULL && SendPlannedRequest(disk, *request, layout, bytesReturned)) {
            LogMessage(probe.logPath, LayoutDoneLine, probe.n, i);
            return layout;
        }
        if (layout != NULL) {
            HeapFree(GetProcessHeap(), 0, layout);
        }
    }
    return NULL;
}

void LogGptPartition(const Probe& probe, DWORD k, const PARTITION_INFORMATION_EX& entry,
                     LPCWSTR name) {
    const GUID& type = entry.Gpt.PartitionType;
    WCHAR typeText[TypeTextChars] = {0};
    StringCchPrintfW(typeText, TypeTextChars,
                     L"%08lX-%04lX-%04lX-%02lX%02lX-%02lX%02lX%02lX%02lX%02lX%02lX", type.Data1,
                     type.Data2, type.Data3, type.Data4[0], type.Data4[1], type.Data4[2],
                     type.Data4[3], type.Data4[4], type.Data4[5], type.Data4[6], type.Data4[7]);
    LogMessage(probe.logPath, GptPartitionLine, probe.n, k, typeText, name,
               entry.PartitionLength.QuadPart);
    CharUpperW(typeText);
    if (wcscmp(typeText, EfiSystemPartitionType) == 0) {
        LogMessage(probe.logPath, EfiPartitionLine, probe.n, k);
        probe.record->IsSysDisk = 1;
    }
}

void WalkPartitions(const Probe& probe, const DRIVE_LAYOUT_INFORMATION_EX* layout,
                    DWORD entryCount) {
    const bool gpt = layout->PartitionStyle == PARTITION_STYLE_GPT;
    LogMessage(probe.logPath, gpt ? GptDiskLine : MbrDiskLine, probe.n);
    for (DWORD k = 0; k < entryCount; ++k) {
        const PARTITION_INFORMATION_EX& entry = layout->PartitionEntry[k];
        // The name fills all 36 units when it is that long; it then has no terminator.
        WCHAR name[GptNameChars + 1] = {0};
        for (size_t c = 0; c < GptNameChars && entry.Gpt.Name[c] != 0; ++c) {
            name[c] = static_cast<WCHAR>(entry.Gpt.Name[c]);
        }
        if (gpt) {
            LogGptPartition(probe, k, entry, name);
        } else {
            LogMessage(probe.logPath, MbrPartitionLine, probe.n, k, name,
                       entry.PartitionLength.QuadPart);
            if (entry.Mbr.BootIndicator != 0) {
                probe.record->IsSysDisk = 1;
            }
        }
    }
    if (probe.record->IsSysDisk != 0) {
        LogMessage(probe.logPath, SystemDiskLine, probe.n);
    }
}

// The count is a signed number, as the record and its log line show it: a negative count names
// no entry, and a count beyond the entries the driver filled is bounded by those entries.
DWORD EntriesToWalk(LONG partitionCount, DWORD entriesFilled) {
    if (partitionCount < 0) {
        return 0;
    }
    const DWORD count = static_cast<DWORD>(partitionCount);
    return count < entriesFilled ? count : entriesFilled;
}

// False when the layout could not be read at all: the run cannot go on without it.
bool GetPartitions(const Probe& probe, HANDLE disk) {
    LogMessage(probe.logPath, LayoutLine, probe.n);
    DiskRequest request = LayoutRequest(0);
    DWORD bytesReturned = 0;
    DRIVE_LAYOUT_INFORMATION_EX* layout = GetLayout(probe, disk, &request, &bytesReturned);
    if (layout == NULL) {
        LogMessage(probe.logPath, LayoutGaveUpLine, probe.n, GetLastError());
        return false;
    }
    LogMessage(probe.logPath, LayoutBytesLine, probe.n, bytesReturned, LegacyLayoutBytes);
    const DWORD filled = bytesReturned < request.outputBytes ? bytesReturned : request.outputBytes;
    if (filled < request.neededBytes) {
        LogMessage(probe.logPath, ShortReplyLine, probe.n, request.name, filled,
                   request.neededBytes);
    } else {
        probe.record->PartitionCount = static_cast<LONG>(layout->PartitionCount);
        LogMessage(probe.logPath, PartitionCountLine, probe.n, probe.record->PartitionCount);
        LogMessage(probe.logPath, PartitionWalkLine, probe.n);
        WalkPartitions(probe, layout,
                       EntriesToWalk(probe.record->PartitionCount,
                                     (filled - request.neededBytes) / PartitionEntryBytes));
    }
    HeapFree(GetProcessHeap(), 0, layout);
    return true;
}

// The storage requests and the partition walk on an open disk; false when the run must end.
bool QueryDisk(const Probe& probe, HANDLE disk) {
    GetDeviceNumber(probe, disk);
    GetDeviceDescriptor(probe, disk);
    GetSeekPenalty(probe, disk);
    GetSize(probe, disk);
    GetScsiAddress(probe, disk);
    LogMessage(probe.logPath, PartitionsLine, probe.n);
    probe.record->IsSysDisk = 0;
    return probe.record->Removable != 0 || GetPartitions(probe, disk);
}

void ConvertDeviceId(const Probe& probe, LPCWSTR devicePath) {
    // The full interface path is the conversion's input even when the record holds only its
    // first characters: the ID is shorter than the path and would otherwise be cut.
    LogMessage(probe.logPath, DeviceIdSourceLine, probe.n, devicePath);
    DevicePathToDeviceId(devicePath, probe.record->DeviceID);
    LogMessage(probe.logPath, DeviceIdLine, probe.n, probe.record->DeviceID);
}

void LookUpNvmeGeneration(const Probe& probe) {
    if (probe.record->BusType != BusTypeNvme) {
        return;
    }
    LogMessage(probe.logPath, LinkSpeedLine, probe.n);
    probe.record->NVMeGen = GetPciMaxLinkSpeed(probe.record->DeviceID, probe.logPath);
}

// The driver's connection type names the interface (3 and 4 NVMe, 2 SATA); its bus speed is the
// PCIe generation plus one. Values the table does not know change nothing. The interface goes
// into DeviceType, which only the log shows: the weighting goes by BusType and NVMeGen, so of the
// driver's answer only the generation can change a pick.
void ApplyRaidRules(const Probe& probe, LONG connectionType, LONG pciBusSpeed) {
    if (connectionType >= 2) {
        LogMessage(probe.logPath, RaidDeviceTypeLine, probe.n);
        if (connectionType == 3 || connectionType == 4) {
            probe.record->DeviceType = BusTypeNvme;
        } else if (connectionType == 2) {
            probe.record->DeviceType = BusTypeSata;
        }
    }
    if (pciBusSpeed >= 2) {
        LogMessage(probe.logPath, RaidGenerationLine, probe.n);
        if (pciBusSpeed <= 5) {
            probe.record->NVMeGen = pciBusSpeed - 1;
        }
    }
}

void QueryRaidDriver(const Probe& probe) {
    LogMessage(probe.logPath, RaidQueryLine, probe.n);
    const DriveRecord& r = *probe.record;
    RaidMessage reply;
    if (QueryRaidDiskInfo(r.Port, r.Bus, r.TargetId, r.Lun, probe.logPath, &reply)) {
        LogMessage(probe.logPath, RaidAnsweredLine, probe.n);
        ApplyRaidRules(probe, reply.connectionType, reply.pciBusSpeed);
    }
}

// One interface into its record; false when the run must end.
bool ProbeInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData, const Probe& probe) {
    probe.record->Index = probe.n;
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = GetInterfaceDetail(probe, set, interfaceData);
    LPCWSTR devicePath = detail != NULL ? detail->DevicePath : L"";
    LogMessage(probe.logPath, DevicePathLine, probe.n, devicePath);
    if (StringCchCopyW(probe.record->Path, DriveTextChars, devicePath) != S_OK) {
        LogMessage(probe.logPath, LongDevicePathLine, probe.n,
                   static_cast<DWORD>(DriveTextChars - 1));
    }
    CheckPathMarkers(probe, devicePath);

    LogMessage(probe.logPath, OpenDiskLine, probe.n);
    bool goOn = true;
    HANDLE disk = CreateFileW(devicePath, DiskOpenAccess, DiskShareMode, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (disk != INVALID_HANDLE_VALUE) {
        goOn = QueryDisk(probe, disk);
        CloseHandle(disk);
    }
    if (goOn) {
        ConvertDeviceId(probe, devicePath);
        LookUpNvmeGeneration(probe);
        QueryRaidDriver(probe);
    }
    if (detail != NULL) {
        HeapFree(GetProcessHeap(), 0, detail);
    }
    return goOn;
}

} // namespace

DWORD ProbeDrives(DriveRecord* records, DWORD recordCount, LPCWSTR logPath, HRESULT* outcome) {
    *outcome = S_OK;
    HDEVINFO set = OpenDiskInterfaceSet();
    if (set == INVALID_HANDLE_VALUE) {
        return 0;
    }
    SP_DEVICE_INTERFACE_DATA interfaceData;
    DWORD n = 0;
    // An interface that arrived after the counting pass has no record: it is left unprobed.
    while (n < recordCount && EnumDiskInterface(set, n, &interfaceData)) {
        Probe probe = {n, &records[n], logPath};
        if (!ProbeInterface(set, &interfaceData, probe)) {
            *outcome = E_FAIL;
            break;
        }
        ++n;
    }
    SetupDiDestroyDeviceInfoList(set);
    return n;
}
