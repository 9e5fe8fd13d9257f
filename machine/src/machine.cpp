// What the model knows of names (which name is a SCSI controller's, which device node a disk
// interface belongs to), and when two machines are the same.
#include <sim/machine.h>
#include <sim/text.h>

#include <tuple>

namespace sim {

std::optional<size_t> ControllerNumber(const std::wstring& name) {
    const std::wstring prefix = L"\\\\.\\scsi";
    if (name.size() < prefix.size() + 2 ||
        !EqualsIgnoringCase(name.substr(0, prefix.size()), prefix) || name.back() != L':') {
        return std::nullopt;
    }
    const std::wstring digits = name.substr(prefix.size(), name.size() - prefix.size() - 1);
    if (digits.empty() || digits.size() > 4) {
        return std::nullopt;
    }
    size_t number = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<size_t>(c - L'0');
    }
    return number;
}

bool NamesController(const std::wstring& name) {
    return ControllerNumber(name).has_value();
}

std::optional<std::wstring> InterfaceInstanceId(const std::wstring& path) {
    const std::wstring prefix = L"\\\\?\\";
    const size_t classStart = path.rfind(L"#{");
    if (path.compare(0, prefix.size(), prefix) != 0 || classStart == std::wstring::npos ||
        classStart <= prefix.size() || path.back() != L'}') {
        return std::nullopt;
    }
    std::wstring id = path.substr(prefix.size(), classStart - prefix.size());
    for (wchar_t& c : id) {
        c = c == L'#' ? L'\\' : (c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c);
    }
    return id;
}

bool operator==(const RequestKey& a, const RequestKey& b) {
    return a.controlCode == b.controlCode && a.propertyId == b.propertyId;
}

bool operator<(const RequestKey& a, const RequestKey& b) {
    return std::tie(a.controlCode, a.propertyId) < std::tie(b.controlCode, b.propertyId);
}

bool operator==(const Reply& a, const Reply& b) {
    return a.bytes == b.bytes && a.error == b.error && a.failures == b.failures &&
           a.failureError == b.failureError;
}

bool operator==(const Disk& a, const Disk& b) {
    return a.description == b.description && a.path == b.path &&
           a.detailReportsNoSize == b.detailReportsNoSize && a.detailError == b.detailError &&
           a.openError == b.openError && a.replies == b.replies;
}

bool operator==(const DeviceNode& a, const DeviceNode& b) {
    return a.description == b.description && a.instanceId == b.instanceId &&
           a.idFails == b.idFails && a.registryDescription == b.registryDescription &&
           a.deviceDescription == b.deviceDescription &&
           a.busReportedDescription == b.busReportedDescription && a.parent == b.parent &&
           a.maxLinkSpeed == b.maxLinkSpeed && a.hasPresentInterface == b.hasPresentInterface;
}

bool operator==(const EnumeratorSet& a, const EnumeratorSet& b) {
    return a.enumerator == b.enumerator && a.refused == b.refused && a.members == b.members;
}

bool operator==(const MiniportAnswer& a, const MiniportAnswer& b) {
    return a.result == b.result && a.lastError == b.lastError &&
           a.bytesReturned == b.bytesReturned && a.reply == b.reply;
}

bool operator==(const Controller& a, const Controller& b) {
    return a.description == b.description && a.open == b.open && a.openError == b.openError &&
           a.answer == b.answer && a.diskAnswers == b.diskAnswers;
}

bool operator==(const Machine& a, const Machine& b) {
    return a.description == b.description && a.disks == b.disks &&
           a.interfaceLists == b.interfaceLists && a.classQueryFails == b.classQueryFails &&
           a.nodes == b.nodes && a.enumeratorSets == b.enumeratorSets &&
           a.controllers == b.controllers &&
           a.devicePropertyFunctionMissing == b.devicePropertyFunctionMissing;
}

} // namespace sim
