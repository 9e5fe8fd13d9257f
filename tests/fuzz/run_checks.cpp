// The rules a run keeps whatever the machine says. The one that matters most: a reported disk
// is the disk the run chose, the weighting kept it, and the machine's disk behind that record
// answered that very device number without being removable, on USB or an Optane cache.
#include "run_checks.h"

#include "selection/run_driver.h"

#include <sim/standin.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <cstdlib>
#include <map>
#include <string_view>
#include <vector>

namespace {

// The stamp of FuzzClock's time.
const std::string_view kStamp = "[2021.09.07-05:44:07] ";
const std::string_view kReportPrefix = "Destination=\\\\.\\PHYSICALDRIVE";

[[noreturn]] void Violation(const std::string& what) {
    std::fprintf(stderr, "machine_fuzzer: %s\n", what.c_str());
    std::abort();
}

// Takes `prefix` off the front of text when it is there.
bool Take(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) {
        return false;
    }
    text.remove_prefix(prefix.size());
    return true;
}

// Takes a decimal number, a minus sign allowed, off the front of text.
bool TakeNumber(std::string_view& text, long long& value) {
    const bool negative = Take(text, "-");
    size_t digits = 0;
    value = 0;
    while (digits < text.size() && digits < 12 && text[digits] >= '0' && text[digits] <= '9') {
        value = value * 10 + (text[digits] - '0');
        ++digits;
    }
    text.remove_prefix(digits);
    value = negative ? -value : value;
    return digits > 0;
}

// Each log line without its stamp; every line must begin with it.
std::vector<std::string_view> Entries(const std::string& log) {
    std::vector<std::string_view> entries;
    for (size_t start = 0; start < log.size();) {
        const size_t end = std::min(log.find('\n', start), log.size());
        std::string_view line(log.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!Take(line, kStamp)) {
            Violation("a log line without its time stamp: " + std::string(line.substr(0, 120)));
        }
        entries.push_back(line);
        start = end + 1;
    }
    return entries;
}

// What the log tells of the records: the number each kept record holds, which records were
// asked their device number (in order), and the record the pick chose last.
struct Account {
    std::map<long long, long long> keptOrders;
    std::vector<long long> asked;
    long long chosen = -1;
    bool recordsRefused = false; // the drive records could not be allocated
};

Account ReadAccount(const std::vector<std::string_view>& entries) {
    Account account;
    for (std::string_view entry : entries) {
        long long record = 0;
        long long value = 0;
        if (Take(entry, "Drive[") && TakeNumber(entry, record) && Take(entry, "].Order=") &&
            TakeNumber(entry, value)) {
            account.keptOrders[record] = value;
        } else if (Take(entry, "[Disk") && TakeNumber(entry, record) &&
                   Take(entry, "] Get order ")) {
            account.asked.push_back(record);
        } else if (Take(entry, "New default index [") && TakeNumber(entry, record)) {
            account.chosen = record;
        } else if (Take(entry, "Cannot allocate ") && TakeNumber(entry, record) &&
                   Take(entry, " drive records")) {
            account.recordsRefused = true;
        }
    }
    return account;
}

// The interfaces asked their device number, in order, by the name they were opened with.
std::vector<std::wstring> NumberRequests() {
    std::vector<std::wstring> names;
    for (const sim::IoRequest& request : sim::IoRequests()) {
        if (request.code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
            names.push_back(request.device);
        }
    }
    return names;
}

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? c - 32 : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&upper](wchar_t x, wchar_t y) { return upper(x) == upper(y); });
}

// The stand-in opens the first disk whose path matches the name.
const sim::Disk* DiskOpenedAs(const std::wstring& name) {
    for (const sim::Disk& disk : sim::CurrentMachine().disks) {
        if (!disk.path.empty() && SameIgnoringCase(disk.path, name)) {
            return &disk;
        }
    }
    return nullptr;
}

template <typename Value>
bool Field(const sim::Disk& disk, const sim::RequestKey& request, size_t offset, Value& value) {
    const auto reply = disk.replies.find(request);
    if (reply == disk.replies.end() || reply->second.error ||
        reply->second.bytes.size() < offset + sizeof(Value)) {
        return false;
    }
    std::memcpy(&value, reply->second.bytes.data() + offset, sizeof(Value));
    return true;
}

// What the machine itself says against choosing the disk: removable media or a USB bus in its
// descriptor, or the Optane cache marker in the path it was opened by.
bool MachineExcludes(const sim::Disk& disk, const std::wstring& openedAs) {
    const sim::RequestKey kDescriptor = {IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty};
    BYTE removable = 0;
    DWORD busType = 0;
    return openedAs.find(L"intel_mem") != std::wstring::npos ||
           (Field(disk, kDescriptor, offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia),
                  removable) &&
            removable == 1) ||
           (Field(disk, kDescriptor, offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType), busType) &&
            busType == BusTypeUsb);
}

void CheckReportedDisk(long long reported, const Account& account) {
    const std::string told = "reported disk " + std::to_string(reported) + ": ";
    auto kept = account.keptOrders.find(account.chosen);
    if (kept == account.keptOrders.end()) {
        Violation(told + "record " + std::to_string(account.chosen) + " was not kept");
    }
    if (kept->second != reported) {
        Violation(told + "the chosen record holds " + std::to_string(kept->second));
    }
    const std::vector<std::wstring> requests = NumberRequests();
    if (requests.size() != account.asked.size()) {
        Violation(told + "the log and the device-number requests differ in number");
    }
    auto asked = std::find(account.asked.begin(), account.asked.end(), account.chosen);
    if (asked == account.asked.end()) {
        Violation(told + "its record was never asked its device number");
    }
    const std::wstring& openedAs = requests[static_cast<size_t>(asked - account.asked.begin())];
    const sim::Disk* disk = DiskOpenedAs(openedAs);
    DWORD answered = 0;
    if (disk == nullptr ||
        !Field(*disk, {IOCTL_STORAGE_GET_DEVICE_NUMBER},
               offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber), answered) ||
        answered != reported) {
        Violation(told + "not the number the disk behind its record answered");
    }
    if (MachineExcludes(*disk, openedAs)) {
        Violation(told + "a removable, USB or Optane cache disk");
    }
}

void CheckHandlesAndDevices() {
    const sim::Counters counters = sim::CurrentCounters();
    if (counters.openHandles != 0 || counters.liveDeviceInfoSets != 0) {
        Violation("handles or sets left open: " + std::to_string(counters.openHandles) + " " +
                  std::to_string(counters.liveDeviceInfoSets));
    }
    if (counters.deviceWrites != 0 || counters.unknownRequests != 0) {
        Violation("a write or an unknown request reached a device");
    }
}

bool IsStartupFailure(const std::string& output) {
    // As the console shows them: standard output is in text mode, so "\n" goes out as "\r\n".
    static const char* const messages[] = {
        "Could not found the exe path.\r\n", "Could not found the exe folder path. \r\r\n",
        "Could not found the exe file name. \r\r\n", "Cannot get VerInfo. \r\r\n",
        "Cannot query version. \r\r\n"};
    return std::find(std::begin(messages), std::end(messages), output) != std::end(messages);
}

void CheckStartupFailure(int exitCode, const std::vector<std::string_view>& entries) {
    if (exitCode != StartupFailureExitCode || !entries.empty()) {
        Violation("a start-up failure with exit code " + std::to_string(exitCode) + " and " +
                  std::to_string(entries.size()) + " log lines");
    }
    // At most the version text and block, which live until the process ends.
    if (sim::CurrentCounters().liveHeapBlocks > 2) {
        Violation("heap blocks left after a start-up failure: " +
                  std::to_string(sim::CurrentCounters().liveHeapBlocks));
    }
}

} // namespace

SYSTEMTIME FuzzClock() {
    SYSTEMTIME clock{};
    clock.wYear = 2021;
    clock.wMonth = 9;
    clock.wDay = 7;
    clock.wHour = 5;
    clock.wMinute = 44;
    clock.wSecond = 7;
    return clock;
}

void CheckRun(int exitCode, const std::string& output, const std::string& log) {
    CheckHandlesAndDevices();
    const std::vector<std::string_view> entries = Entries(log);
    if (IsStartupFailure(output)) {
        CheckStartupFailure(exitCode, entries);
        return;
    }
    const Account account = ReadAccount(entries);
    // The version text and block live until the process ends, and so do the records.
    const int liveBlocks = sim::CurrentCounters().liveHeapBlocks;
    if (liveBlocks != (account.recordsRefused ? 2 : 3)) {
        Violation("heap blocks left: " + std::to_string(liveBlocks));
    }
    if (account.recordsRefused && (exitCode != E_FAIL || !output.empty())) {
        Violation("records that could not be had, yet: " + output);
    }
    if (exitCode == E_FAIL) {
        if (!output.empty()) {
            Violation("a run that gave up printed: " + output);
        }
        return;
    }
    if (output == "Destination=UNKNOWN") {
        if (exitCode != NoDestinationExitCode) {
            Violation("UNKNOWN with exit code " + std::to_string(exitCode));
        }
        return;
    }
    std::string_view report = output;
    long long reported = 0;
    if (!Take(report, kReportPrefix) || !TakeNumber(report, reported) || !report.empty() ||
        reported < 0 || output != std::string(kReportPrefix) + std::to_string(reported)) {
        Violation("unexpected standard output: " + output);
    }
    if (reported != exitCode) {
        Violation(output + " with exit code " + std::to_string(exitCode));
    }
    CheckReportedDisk(reported, account);
}
