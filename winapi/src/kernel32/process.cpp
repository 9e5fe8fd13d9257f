// Process services of the stand-in: the thread's last error, the system clock, the tick count
// and the thread's sleep.
#include "standin/installed.h"

#include <windows.h>

#include <cerrno>
#include <ctime>
#include <sys/time.h>

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
