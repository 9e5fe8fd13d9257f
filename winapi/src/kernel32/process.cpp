// Process services of the stand-in: the thread's last error, the system clock, the tick count,
// the thread's sleep, and what the system tells of itself (its name and version).
#include "standin/failure.h"
#include "standin/installed.h"

#include <windows.h>

#include <cctype>
#include <cerrno>
#include <ctime>
#include <sys/time.h>
#include <unistd.h>

namespace {

thread_local DWORD lastError = 0;

SYSTEMTIME HostClockUtc() {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(parts.tm_year + 1900);
    time.wMonth = static_cast<WORD>(parts.tm_mon + 1);
    time.wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    time.wDay = static_cast<WORD>(parts.tm_mday);
    time.wHour = static_cast<WORD>(parts.tm_hour);
    time.wMinute = static_cast<WORD>(parts.tm_min);
    time.wSecond = static_cast<WORD>(parts.tm_sec);
    time.wMilliseconds = static_cast<WORD>(now.tv_usec / 1000);
    return time;
}

} // namespace

DWORD WINAPI GetLastError(void) {
    return lastError;
}

void WINAPI SetLastError(DWORD error) {
    lastError = error;
}

void WINAPI GetSystemTime(LPSYSTEMTIME systemTime) {
    const std::optional<SYSTEMTIME>& fixed = sim::FixedClock();
    *systemTime = fixed ? *fixed : HostClockUtc();
}

// The NetBIOS name Windows derives from the host name: its first label, upper case, at most 15
// characters.
BOOL WINAPI GetComputerNameW(LPWSTR buffer, LPDWORD size) {
    if (size == nullptr) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    char host[256] = {0};
    if (gethostname(host, sizeof(host) - 1) != 0) {
        host[0] = '\0';
    }
    std::wstring name;
    for (const char* c = host; *c != '\0' && *c != '.' && name.size() < MAX_COMPUTERNAME_LENGTH;
         ++c) {
        name += static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(*c)));
    }
    // Too small a buffer learns the size it needs, terminator included; a name that fits is
    // counted without it.
    if (buffer == nullptr || *size <= name.size()) {
        *size = static_cast<DWORD>(name.size() + 1);
        return sim::Fail(ERROR_BUFFER_OVERFLOW);
    }
    std::wmemcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return TRUE;
}

// The stand-in presents itself as Windows 10 22H2, as a program whose manifest declares Windows 10
// sees it.
BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW versionInformation) {
    if (versionInformation == nullptr ||
        versionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
        return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    versionInformation->dwMajorVersion = 10;
    versionInformation->dwMinorVersion = 0;
    versionInformation->dwBuildNumber = 19045;
    versionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::wmemset(versionInformation->szCSDVersion, L'\0', 128);
    return TRUE;
}

// The tick count runs on the host's monotonic clock: a fixed system time (the tests' clock) must
// not stop the time that waits are measured in.
ULONGLONG WINAPI GetTickCount64(void) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000u +
           static_cast<ULONGLONG>(now.tv_nsec) / 1000000u;
}

void WINAPI Sleep(DWORD milliseconds) {
    timespec left{};
    left.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    left.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
