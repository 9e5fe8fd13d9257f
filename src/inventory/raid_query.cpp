#include "inventory/raid_query.h"

#include "log/log_texts.h"
#include "log/log_writer.h"

#include <strsafe.h>
#include <ntddscsi.h>

namespace {

// The driver's own miniport interface: requests carry its signature, and its disk-information
// function answers the four connection values for the disk whose ID the header carries. The
// timeout is in seconds, as SRB_IO_CONTROL defines it.
const DWORD RequestTimeoutSeconds = 500;
const DWORD DiskInfoControlCode = 0x80000D01u;
const BYTE RequestSignature[8] = {'I', 'n', 't', 'e', 'l', 'R', 'm', 'p'};

struct DiskAddress {
    DWORD port;
    DWORD bus;
    DWORD targetId;
    DWORD lun;
    LPCWSTR logPath;
};

// Every line of the query carries the disk's address.
void LogLine(const DiskAddress& a, LPCWSTR format, LPCWSTR text = L"") {
    LogMessage(a.logPath, format, a.port, a.bus, a.targetId, a.lun, text);
}

void LogValue(const DiskAddress& a, LPCWSTR format, DWORD value) {
    LogMessage(a.logPath, format, a.port, a.bus, a.targetId, a.lun, value);
}

// One request to an open controller; true when the platform reports success.
bool AskController(const DiskAddress& a, HANDLE controller, RaidMessage* reply) {
    const DWORD diskId = RaidDiskId(a.port, a.bus, a.targetId, a.lun);
    LogValue(a, L"[Disk %i-%i-%i-%i] Disk ID=0x%08X\r\n", diskId);
    // The reply starts zero-filled: a driver that writes back less than the whole reply leaves
    // zeros, never stale memory.
    RaidMessage request;
    BuildRaidRequest(diskId, &request);
    ZeroMemory(reply, sizeof(*reply));
    DWORD bytesReturned = 0;
    // A successful request leaves the thread's last error alone, so without this the log would
    // show whatever an earlier call (the log writer's own open) left there.
    SetLastError(ERROR_SUCCESS);
    const BOOL result = DeviceIoControl(controller, IOCTL_SCSI_MINIPORT, &request, sizeof(request),
                                        reply, sizeof(*reply), &bytesReturned, NULL);
    const DWORD lastError = GetLastError();
    LogValue(a, L"[Disk %i-%i-%i-%i] ReturnCode=%d\r\n", static_cast<DWORD>(result));
    LogValue(a, RaidLastErrorLine, lastError);
    LogValue(a, L"[Disk %i-%i-%i-%i] Bytes return=%d\r\n", bytesReturned);
    LogValue(a, L"[Disk %i-%i-%i-%i] SRB_IO_CONTROL.Return=0x%08X\r\n", reply->header.ReturnCode);
    return result != FALSE;
}

} // namespace

void BuildRaidRequest(DWORD diskId, RaidMessage* request) {
    ZeroMemory(request, sizeof(*request));
    request->header.HeaderLength = sizeof(SRB_IO_CONTROL);
    CopyMemory(request->header.Signature, RequestSignature, sizeof(RequestSignature));
    request->header.Timeout = RequestTimeoutSeconds;
    request->header.ControlCode = DiskInfoControlCode;
    request->header.ReturnCode = diskId;
    request->header.Length = sizeof(RaidMessage) - sizeof(SRB_IO_CONTROL);
}

DWORD RaidDiskId(DWORD port, DWORD bus, DWORD targetId, DWORD lun) {
    return (port << 24) + (bus << 16) + (targetId << 8) + lun;
}

int QueryRaidDiskInfo(DWORD port, DWORD bus, DWORD targetId, DWORD lun, LPCWSTR logPath,
                      RaidMessage* reply) {
    const DiskAddress a = {port, bus, targetId, lun, logPath};
    WCHAR controllerName[RaidControllerNameChars] = {0};
    for (int number = 0; number < RaidControllerCount; ++number) {
        StringCchPrintfW(controllerName, RaidControllerNameChars, RaidControllerNameFormat, number);
        LogLine(a, L"[Disk %i-%i-%i-%i] Checking %s.\r\n", controllerName);
        HANDLE controller = CreateFileW(controllerName, RaidControllerAccess, 0, NULL,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (controller == INVALID_HANDLE_VALUE) {
            continue;
        }
        // A null handle is no controller and no error either: nothing sensible can follow it,
        // so the search ends as if every port had been tried.
        if (controller == NULL) {
            break;
        }
        RaidMessage answer;
        const bool accepted = AskController(a, controller, &answer);
        CloseHandle(controller);
        if (!accepted) {
            LogLine(a, RaidRefusedLine);
            return 0;
        }
        LogValue(a, L"[Disk %i-%i-%i-%i] connectionInterface=0x%d\r\n",
                 static_cast<DWORD>(answer.connectionInterface));
        LogValue(a, L"[Disk %i-%i-%i-%i] connectionType=0x%d\r\n",
                 static_cast<DWORD>(answer.connectionType));
        LogValue(a, L"[Disk %i-%i-%i-%i] pciBusSpeed=0x%d\r\n",
                 static_cast<DWORD>(answer.pciBusSpeed));
        LogValue(a, L"[Disk %i-%i-%i-%i] pciBusWidth=0x%d\r\n",
                 static_cast<DWORD>(answer.pciBusWidth));
        *reply = answer;
        return 1;
    }
    LogLine(a, NoRaidControllerLine);
    return 0;
}
