#include "controller_capture.h"

#include "inventory/raid_query.h"

#include <strsafe.h>

#include <string>

namespace {

const DWORD RaidMessageBytes = sizeof(RaidMessage);
const size_t ControllerCount = RaidControllerCount;

std::wstring ControllerName(size_t number) {
    WCHAR name[RaidControllerNameChars] = {0};
    StringCchPrintfW(name, RaidControllerNameChars, RaidControllerNameFormat,
                     static_cast<int>(number));
    return name;
}

// Opens a controller as the RAID query does, exclusively and for all access; its first result is
// the one recorded.
HANDLE OpenController(ControllerCapture& capture, size_t number) {
    HANDLE controller = CreateFileW(ControllerName(number).c_str(), RaidControllerAccess, 0, NULL,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    const DWORD openError = GetLastError();
    if (!capture.openSeen[number]) {
        capture.openSeen[number] = true;
        sim::Controller& record = capture.controllers[number];
        if (controller == INVALID_HANDLE_VALUE) {
            record.open = sim::Controller::Open::Fails;
            record.openError = openError;
        } else {
            record.open = controller == NULL ? sim::Controller::Open::NullHandle
                                             : sim::Controller::Open::Opens;
        }
    }
    return controller;
}

// The reply buffer starts zero-filled, as the query's does, and only the bytes the driver wrote
// differ from it: trailing zeros are left out, the replay's buffer holding them already.
std::vector<BYTE> WrittenBytes(const BYTE* reply) {
    size_t length = RaidMessageBytes;
    while (length > 0 && reply[length - 1] == 0) {
        --length;
    }
    return std::vector<BYTE>(reply, reply + length);
}

sim::MiniportAnswer Ask(HANDLE controller, DWORD diskId) {
    RaidMessage request;
    BuildRaidRequest(diskId, &request);
    BYTE reply[RaidMessageBytes] = {0};
    DWORD bytesReturned = 0;
    SetLastError(ERROR_SUCCESS);
    const BOOL result = DeviceIoControl(controller, IOCTL_SCSI_MINIPORT, &request, sizeof(request),
                                        reply, sizeof(reply), &bytesReturned, NULL);
    const DWORD lastError = GetLastError();
    sim::MiniportAnswer answer;
    answer.result = result;
    // A request that succeeds leaves the last error alone, and a replay reads none from it.
    answer.lastError = result ? ERROR_SUCCESS : lastError;
    answer.bytesReturned = bytesReturned;
    answer.reply = WrittenBytes(reply);
    return answer;
}

// Each disk's answer is kept under its ID; the first answer is also the controller's own, the one
// thing known of how it answers a disk no query asked about.
void RecordAnswer(ControllerCapture& capture, size_t number, DWORD diskId,
                  const sim::MiniportAnswer& answer) {
    sim::Controller& record = capture.controllers[number];
    if (!capture.answerSeen[number]) {
        capture.answerSeen[number] = true;
        record.answer = answer;
    }
    for (const auto& known : record.diskAnswers) {
        if (known.first == diskId) {
            return;
        }
    }
    record.diskAnswers.push_back(std::make_pair(diskId, answer));
}

} // namespace

ControllerCapture StartControllerCapture() {
    ControllerCapture capture;
    capture.controllers.resize(ControllerCount);
    capture.openSeen.assign(ControllerCount, false);
    capture.answerSeen.assign(ControllerCount, false);
    return capture;
}

void CaptureRaidAnswer(ControllerCapture& capture, BYTE port, BYTE bus, BYTE targetId, BYTE lun) {
    const DWORD diskId = RaidDiskId(port, bus, targetId, lun);
    for (size_t number = 0; number < ControllerCount; ++number) {
        HANDLE controller = OpenController(capture, number);
        if (controller == INVALID_HANDLE_VALUE) {
            continue;
        }
        // A null handle ends the query's search; there is nothing to close.
        if (controller == NULL) {
            return;
        }
        const sim::MiniportAnswer answer = Ask(controller, diskId);
        CloseHandle(controller);
        RecordAnswer(capture, number, diskId, answer);
        return;
    }
}

void RecordControllers(ControllerCapture& capture, sim::Machine& machine) {
    for (size_t number = 0; number < ControllerCount; ++number) {
        if (!capture.openSeen[number]) {
            HANDLE controller = OpenController(capture, number);
            if (controller != INVALID_HANDLE_VALUE && controller != NULL) {
                CloseHandle(controller);
            }
        }
    }
    machine.controllers = capture.controllers;
}
