#include "log/log_writer.h"

#include <strsafe.h>

namespace {

const size_t kLogBufferChars = 1024;

// Share mode 0 keeps every entry whole, so an open refused for sharing is retried rather than
// its entry dropped. Another run holds the log for one entry's open-write-close only: four runs
// of 16 disks at once on two busy cores kept each other waiting 14 ms at the most, and on
// Windows one Sleep(1) may last a whole 15.6 ms timer tick; a scanner that reads the file after
// each close holds it for a similar span. Half a second per entry outlasts all of them.
// A log held for the whole run (an editor, a copy, a stuck process) would cost that half second
// on each of the run's hundreds of entries, eight minutes on 16 disks, while any bound per entry
// short enough to avoid that would lose the entries of concurrent runs. So the waits that end
// without the file are added up, and once they reach two seconds every further entry to that log
// is tried once: this sum is the only state kept between calls.
const ULONGLONG kEntryWaitLimitMs = 500;
const ULONGLONG kHeldLogBudgetMs = 2000;
const DWORD kRetryPauseMs = 1;

// The waits that ended without the file, kept per log: that one log was held says nothing about
// another.
struct HeldLogAccount {
    WCHAR logPath[MAX_PATH];
    ULONGLONG lostWaitMs;
};
HeldLogAccount heldLog = {};

bool IsAccountedLog(LPCWSTR logPath) {
    return wcsncmp(heldLog.logPath, logPath, MAX_PATH - 1) == 0;
}

ULONGLONG WaitAllowance(LPCWSTR logPath) {
    const ULONGLONG lost = IsAccountedLog(logPath) ? heldLog.lostWaitMs : 0;
    const ULONGLONG left = lost < kHeldLogBudgetMs ? kHeldLogBudgetMs - lost : 0;
    return left < kEntryWaitLimitMs ? left : kEntryWaitLimitMs;
}

void ChargeLostWait(LPCWSTR logPath, ULONGLONG waitedMs) {
    if (!IsAccountedLog(logPath)) {
        StringCchCopyW(heldLog.logPath, MAX_PATH, logPath);
        heldLog.lostWaitMs = 0;
    }
    heldLog.lostWaitMs += waitedMs;
}

// The log opened for this process alone, waited for within the allowance while another process
// holds it.
HANDLE OpenLogAlone(LPCWSTR logPath) {
    const ULONGLONG allowance = WaitAllowance(logPath);
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        HANDLE file =
            CreateFileW(logPath, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) {
            return file;
        }
        const ULONGLONG waited = GetTickCount64() - start;
        if (waited >= allowance) {
            ChargeLostWait(logPath, waited);
            return INVALID_HANDLE_VALUE;
        }
        Sleep(kRetryPauseMs);
    }
}

// The line ending the format gives every entry made from it: "\r\n", "\n" or none.
LPCWSTR LineEndingOf(LPCWSTR format) {
    const size_t formatLength = wcslen(format);
    if (formatLength >= 2 && wcscmp(format + formatLength - 2, L"\r\n") == 0) {
        return L"\r\n";
    }
    if (formatLength >= 1 && format[formatLength - 1] == L'\n') {
        return L"\n";
    }
    return L"";
}

// Texts from the machine (paths, device descriptions) may hold line breaks of their own, which
// would start lines without a time stamp. The message's own ending is taken off and every other
// break flattened; the entry gets the format's ending back after its text, which may have been
// cut to fit.
void FlattenLineBreaks(WCHAR* message, LPCWSTR ending) {
    const size_t endingLength = wcslen(ending);
    size_t length = wcslen(message);
    if (endingLength > 0 && length >= endingLength &&
        wcscmp(message + length - endingLength, ending) == 0) {
        length -= endingLength;
        message[length] = L'\0';
    }
    for (size_t i = 0; i < length; ++i) {
        if (message[i] == L'\r' || message[i] == L'\n') {
            message[i] = L' ';
        }
    }
}

// The entry in the ANSI code page, in a block of the process heap that the caller frees; null
// when the entry is empty or the block cannot be had.
LPSTR ConvertToAnsi(LPCWSTR entry, int* byteCount) {
    const int length = static_cast<int>(wcslen(entry));
    // The code page decides how many bytes the entry needs: in a double-byte code page one
    // character can take two, and a buffer of one byte per character would cut the entry's end.
    const int needed =
        length > 0 ? WideCharToMultiByte(CP_ACP, 0, entry, length, NULL, 0, NULL, NULL) : 0;
    LPSTR bytes = needed > 0 ? static_cast<LPSTR>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                            static_cast<SIZE_T>(needed)))
                             : NULL;
    if (bytes == NULL) {
        return NULL;
    }
    *byteCount = WideCharToMultiByte(CP_ACP, 0, entry, length, bytes, needed, NULL, NULL);
    return bytes;
}

// Writes at the file's end, wherever that is: a log of 4 GiB and more has an end beyond what a
// 32-bit pointer reaches, and an entry that cannot get there is dropped rather than written over
// earlier ones.
BOOL WriteAtEnd(HANDLE file, LPCSTR bytes, int byteCount) {
    LARGE_INTEGER noDistance;
    noDistance.QuadPart = 0;
    if (!SetFilePointerEx(file, noDistance, NULL, FILE_END)) {
        return FALSE;
    }
    DWORD bytesWritten = 0;
    return WriteFile(file, bytes, static_cast<DWORD>(byteCount), &bytesWritten, NULL);
}

// Writes one entry, converted to the ANSI code page, after everything the file already holds.
// FALSE, with nothing written, when the file cannot be had or its end cannot be reached.
BOOL AppendLogText(LPCWSTR entry, LPCWSTR logPath) {
    // Converted before the file is opened: the exclusive open is what other runs wait for.
    int byteCount = 0;
    LPSTR bytes = ConvertToAnsi(entry, &byteCount);
    if (bytes == NULL) {
        return FALSE;
    }
    BOOL written = FALSE;
    HANDLE file = byteCount > 0 ? OpenLogAlone(logPath) : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        written = WriteAtEnd(file, bytes, byteCount);
        CloseHandle(file);
    }
    HeapFree(GetProcessHeap(), 0, bytes);
    return written;
}

} // namespace

int LogMessage(LPCWSTR logPath, LPCWSTR format, ...) {
    WCHAR message[kLogBufferChars] = {0};
    WCHAR entry[kLogBufferChars] = {0};

    va_list arguments;
    va_start(arguments, format);
    wvsprintfW(message, format, arguments);
    va_end(arguments);
    LPCWSTR ending = LineEndingOf(format);
    FlattenLineBreaks(message, ending);

    SYSTEMTIME now;
    GetSystemTime(&now);
    // A message near the formatter's limit no longer fits behind the prefix: the bounded print
    // cuts it short of the buffer's end, leaving room for the line ending.
    const size_t endingLength = wcslen(ending);
    StringCchPrintfW(entry, kLogBufferChars - endingLength, L"[%4d.%02d.%02d-%02d:%02d:%02d] %s",
                     now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, message);
    const size_t textLength = wcslen(entry);
    StringCchCopyW(entry + textLength, kLogBufferChars - textLength, ending);

    if (logPath == NULL || logPath[0] == L'\0') {
        return 0;
    }
    return AppendLogText(entry, logPath);
}
