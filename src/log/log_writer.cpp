#include "log/log_writer.h"

#include <strsafe.h>

namespace {

const size_t kLogBufferChars = 1024;

// Texts from the machine (paths, device descriptions) may hold line breaks of their own, which
// would start lines without a time stamp. Only the line ending the message format gives stays.
void FlattenLineBreaks(WCHAR* message, LPCWSTR format) {
    const size_t formatLength = wcslen(format);
    size_t ending = 0;
    if (formatLength >= 2 && wcscmp(format + formatLength - 2, L"\r\n") == 0) {
        ending = 2;
    } else if (formatLength >= 1 && format[formatLength - 1] == L'\n') {
        ending = 1;
    }
    const size_t length = wcslen(message);
    size_t kept = length;
    if (ending > 0 && length >= ending &&
        wcscmp(message + length - ending, format + formatLength - ending) == 0) {
        kept = length - ending;
    }
    for (size_t i = 0; i < kept; ++i) {
        if (message[i] == L'\r' || message[i] == L'\n') {
            message[i] = L' ';
        }
    }
}

} // namespace

int LogMessage(LPCWSTR logPath, LPCWSTR format, ...) {
    WCHAR message[kLogBufferChars] = {0};
    WCHAR entry[kLogBufferChars] = {0};

    va_list arguments;
    va_start(arguments, format);
    wvsprintfW(message, format, arguments);
    va_end(arguments);
    FlattenLineBreaks(message, format);

    SYSTEMTIME now;
    GetSystemTime(&now);
    // A message near the formatter's limit no longer fits behind the prefix: the bounded print
    // cuts the entry at the buffer's end instead of writing past it.
    StringCchPrintfW(entry, kLogBufferChars, L"[%4d.%02d.%02d-%02d:%02d:%02d] %s", now.wYear,
                     now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, message);

    if (logPath == NULL || logPath[0] == L'\0') {
        return 0;
    }
    WIN32_FIND_DATAW found;
    DWORD moveMethod = FILE_BEGIN;
    HANDLE existing = FindFirstFileW(logPath, &found);
    if (existing != INVALID_HANDLE_VALUE) {
        FindClose(existing);
        moveMethod = FILE_END;
    }
    return AppendLogText(entry, logPath, moveMethod);
}

BOOL AppendLogText(LPCWSTR entry, LPCWSTR logPath, DWORD moveMethod) {
    const int length = static_cast<int>(wcslen(entry));
    HANDLE file =
        CreateFileW(logPath, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    SetFilePointer(file, 0, NULL, moveMethod);

    // The code page decides how many bytes the entry needs: in a double-byte code page one
    // character can take two, and a buffer of one byte per character would cut the entry's end.
    BOOL written = FALSE;
    const int needed =
        length > 0 ? WideCharToMultiByte(CP_ACP, 0, entry, length, NULL, 0, NULL, NULL) : 0;
    LPSTR bytes = needed > 0 ? static_cast<LPSTR>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                            static_cast<SIZE_T>(needed)))
                             : NULL;
    if (bytes != NULL) {
        const int converted =
            WideCharToMultiByte(CP_ACP, 0, entry, length, bytes, needed, NULL, NULL);
        DWORD bytesWritten = 0;
        written = converted > 0 &&
                  WriteFile(file, bytes, static_cast<DWORD>(converted), &bytesWritten, NULL);
        HeapFree(GetProcessHeap(), 0, bytes);
    }
    CloseHandle(file);
    return written;
}
