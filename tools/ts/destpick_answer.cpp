#include "destpick_answer.h"

#include "log/log_texts.h"
#include "selection/exit_codes.h"
#include "sim/text.h"

namespace {

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
    const std::string answer = sim::ToUtf8(ReportedDriveAnswer);
    const std::string prefix = answer.substr(0, answer.find('%'));
    const std::string none = sim::ToUtf8(NoDestinationAnswer);
    // "Destination=", which only destpick's answers begin with.
    const std::string opening = none.substr(0, none.find('=') + 1);
    if (StartsWith(text, prefix)) {
        const std::string digits = text.substr(prefix.size());
        if (IsDiskNumber(digits) && std::stoull(digits) == exitCode) {
            // The device path is what follows the answer's "=".
            return {TsVariableSet, digits, text.substr(text.find('=') + 1)};
        }
        return {TsAnswerUnclear, "", ""};
    }
    if (text == none && exitCode == static_cast<std::uint32_t>(NoDestinationExitCode)) {
        return {TsNoDiskQualifies, "", ""};
    }
    if (text.empty() && exitCode == static_cast<std::uint32_t>(GaveUpExitCode)) {
        return {TsLayoutGaveUp, "", ""};
    }
    if (!text.empty() && !StartsWith(text, opening) &&
        exitCode == static_cast<std::uint32_t>(StartupFailureExitCode)) {
        return {TsDestpickStartupFailed, "", ""};
    }
    return {TsAnswerUnclear, "", ""};
}
