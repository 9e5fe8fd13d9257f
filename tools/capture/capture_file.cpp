#include "capture_file.h"

#include <algorithm>

namespace {

// Each write takes at most this much, so that a count always fits the DWORD WriteFile takes.
const size_t WriteChunkBytes = 1 << 20;

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// "C:\" or "UNC\" after \\?\: the forms that name a file on a drive or a share.
bool NamesDriveOrShare(const std::wstring& rest) {
    if (rest.size() >= 3 && IsLetter(rest[0]) && rest[1] == L':' && IsSeparator(rest[2])) {
        return true;
    }
    return rest.size() >= 4 && (rest[0] == L'U' || rest[0] == L'u') &&
           (rest[1] == L'N' || rest[1] == L'n') && (rest[2] == L'C' || rest[2] == L'c') &&
           IsSeparator(rest[3]);
}

wchar_t UpperAscii(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// A port's number: a digit, or the superscript one, two or three Windows reads as one.
bool IsPortNumber(wchar_t c) {
    return (c >= L'0' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3';
}

// The names Windows keeps for its DOS devices in every folder: the console and its two ends, the
// printer, the auxiliary and the null device, and the serial and parallel ports.
bool IsDosDeviceName(std::wstring name) {
    std::transform(name.begin(), name.end(), name.begin(), UpperAscii);
    for (const wchar_t* device : {L"CON", L"CONIN$", L"CONOUT$", L"PRN", L"AUX", L"NUL"}) {
        if (name == device) {
            return true;
        }
    }
    return name.size() == 4 &&
           (name.compare(0, 3, L"COM") == 0 || name.compare(0, 3, L"LPT") == 0) &&
           IsPortNumber(name[3]);
}

// The last part of a path as Windows reads it for a device name: after its last separator, or
// after the drive of "C:NUL", up to its first dot or colon, without the spaces around it. So
// "D:\x\nul.json", "C:NUL", "NUL . " and "com1:" all come to a device's name.
std::wstring DeviceNamePart(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    const bool drive = path.size() >= 2 && IsLetter(path[0]) && path[1] == L':';
    const size_t start = separator != std::wstring::npos ? separator + 1 : (drive ? 2 : 0);
    const size_t stop = std::min(path.find_first_of(L".:", start), path.size());
    const std::wstring name = path.substr(start, stop - start);
    const size_t first = name.find_first_not_of(L' ');
    if (first == std::wstring::npos) {
        return std::wstring();
    }
    return name.substr(first, name.find_last_not_of(L' ') - first + 1);
}

// \\.\, \??\, or \\?\ before anything but a drive or a UNC path.
bool NamesDeviceNamespace(const std::wstring& path) {
    if (path.size() < 4) {
        return false;
    }
    if (path.compare(0, 4, L"\\??\\") == 0) {
        return true;
    }
    if (!IsSeparator(path[0]) || !IsSeparator(path[1]) || !IsSeparator(path[3])) {
        return false;
    }
    if (path[2] == L'.') {
        return true;
    }
    return path[2] == L'?' && !NamesDriveOrShare(path.substr(4));
}

bool FileNameCanHold(wchar_t c) {
    return c >= 0x20 && std::wstring(L"\\/:*?\"<>|").find(c) == std::wstring::npos;
}

DWORD WriteWhole(HANDLE file, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min(bytes.size() - done, WriteChunkBytes));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, NULL)) {
            return GetLastError();
        }
        // A file takes a write whole or fails; a short count is a failure all the same.
        if (written != chunk) {
            return ERROR_GEN_FAILURE;
        }
        done += chunk;
    }
    return ERROR_SUCCESS;
}

} // namespace

std::wstring CaptureFileName(const CaptureOrigin& origin) {
    std::wstring computer = origin.computerName.empty() ? L"computer" : origin.computerName;
    for (wchar_t& c : computer) {
        c = FileNameCanHold(c) ? c : L'_';
    }
    const SYSTEMTIME& at = origin.capturedAt;
    return computer + L"-" + Digits(at.wYear, 4) + Digits(at.wMonth, 2) + Digits(at.wDay, 2) +
           L"-" + Digits(at.wHour, 2) + Digits(at.wMinute, 2) + Digits(at.wSecond, 2) + L"Z.json";
}

bool NamesDevice(const std::wstring& path) {
    return NamesDeviceNamespace(path) || IsDosDeviceName(DeviceNamePart(path));
}

DWORD WriteNewFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DWORD error = WriteWhole(file, bytes);
    if (!CloseHandle(file) && error == ERROR_SUCCESS) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        DeleteFileW(path.c_str());
    }
    return error;
}
