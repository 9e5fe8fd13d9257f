// What the model knows of names: which name is a SCSI controller's, and which device node a disk
// interface belongs to.
#include <sim/machine.h>
#include <sim/text.h>

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

} // namespace sim
