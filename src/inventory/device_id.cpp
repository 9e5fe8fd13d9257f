#include "inventory/device_id.h"

#include "inventory/drive_record.h"

#include <strsafe.h>

namespace {

const size_t WorkChars = 9999;

} // namespace

int DevicePathToDeviceId(LPCWSTR path, LPWSTR deviceId) {
    WCHAR work[WorkChars];
    ZeroMemory(work, sizeof(work));
    StringCchCopyW(work, WorkChars, path);
    if (wcsstr(path, L"\\\\?\\") != NULL) {
        // The prefix is dropped by position, whichever four characters stand there.
        StringCchCopyW(work, WorkChars, wcslen(path) >= 4 ? path + 4 : L"");
    }
    WCHAR* brace = wcschr(work, L'{');
    if (brace != NULL) {
        *brace = L'\0';
    }
    size_t length = wcslen(work);
    if (length > 0 && work[length - 1] == L'#') {
        work[--length] = L'\0';
    }
    for (size_t i = 0; i < length; ++i) {
        if (work[i] == L'#') {
            work[i] = L'\\';
        }
    }
    if (length >= DriveTextChars) {
        work[0] = L'\0';
    }
    StringCchCopyW(deviceId, DriveTextChars, work);
    return 0;
}
