// Disks and SCSI controllers of the simulated machine, opened by their device names.
#include "state.h"


namespace {

bool ControllerNumber(const std::wstring& name, size_t& number) {
    const std::wstring prefix = L"\\\\.\\scsi";
    if (name.size() < prefix.size() + 2 || !sim::EqualsIgnoringCase(name.substr(0, prefix.size()), prefix) ||
        name.back() != L':') {
        return false;
    }
    std::wstring digits = name.substr(prefix.size(), name.size() - prefix.size() - 1);
    if (digits.empty() || digits.size() > 4) {
        return false;
    }
    number = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        number = number * 10 + static_cast<size_t>(c - L'0');
    }
    return true;
}

HANDLE OpenController(size_t number, const std::wstring& name) {
    const std::vector<sim::Controller>& controllers = sim::CurrentMachine().controllers;
    if (number >= controllers.size() || controllers[number].open == sim::Controller::Open::Fails) {
        SetLastError(number < controllers.size() ? controllers[number].openError : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (controllers[number].open == sim::Controller::Open::NullHandle) {
        return nullptr;
    }
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::Controller;
    entry.deviceIndex = number;
    entry.name = name;
    SetLastError(ERROR_SUCCESS);
    return sim::AddHandle(entry);
}

} // namespace

namespace sim {

HANDLE OpenDevice(const std::wstring& name, DWORD, DWORD, DWORD disposition) {
    if (disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    size_t number = 0;
    if (ControllerNumber(name, number)) {
        return OpenController(number, name);
    }
    const std::vector<Disk>& disks = CurrentMachine().disks;
    for (size_t i = 0; i < disks.size(); ++i) {
        if (!disks[i].path.empty() && EqualsIgnoringCase(disks[i].path, name)) {
            if (disks[i].openError) {
                SetLastError(*disks[i].openError);
                return INVALID_HANDLE_VALUE;
            }
            HandleEntry entry;
            entry.kind = HandleKind::Disk;
            entry.deviceIndex = i;
            entry.name = name;
            SetLastError(ERROR_SUCCESS);
            return AddHandle(entry);
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

} // namespace sim
