#include "destpick_answer.h"

namespace {

const char DiskPrefix[] = "Destination=\\\\.\\PHYSICALDRIVE";
const char NoDisk[] = "Destination=UNKNOWN";
const std::uint32_t NoDiskExitCode = 999;
const std::uint32_t StartupFailureExitCode = 1;
// E_FAIL: the probe gave up on a disk's partition layout and printed nothing.
const std::uint32_t LayoutGaveUpExitCode = 0x80004005u;
// destpick prints a device number of at most 2147483647; more digits cannot be one.
const std::size_t LongestDiskNumber = 10;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The decimal number as destpick's %d prints it: digits, no sign, no leading zero.
bool IsDiskNumber(const std::string& digits) {
    if (digits.empty() || digits.size() > LongestDiskNumber ||
        (digits.size() > 1 && digits[0] == '0')) {
        return false;
    }
    return digits.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

DestpickAnswer ReadDestpickAnswer(const char* output, std::size_t length, std::uint32_t exitCode) {
    const std::string text(output, length);
    const std::string prefix(DiskPrefix);
    if (StartsWith(text, prefix)) {
        const std::string digits = text.substr(prefix.size());
        if (IsDiskNumber(digits) && std::stoull(digits) == exitCode) {
            return {TsVariableSet, digits};
        }
        return {TsAnswerUnclear, std::string()};
    }
    if (text == NoDisk && exitCode == NoDiskExitCode) {
        return {TsNoDiskQualifies, std::string()};
    }
    if (text.empty() && exitCode == LayoutGaveUpExitCode) {
        return {TsLayoutGaveUp, std::string()};
    }
    if (!text.empty() && !StartsWith(text, "Destination=") && exitCode == StartupFailureExitCode) {
        return {TsDestpickStartupFailed, std::string()};
    }
    return {TsAnswerUnclear, std::string()};
}
