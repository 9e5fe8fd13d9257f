#include "shared/file_version.h"

#include <strsafe.h>
#include <winver.h>

namespace {

// Four 16-bit parts of up to five digits, three dots and the terminator.
const size_t VersionChars = 24;

} // namespace

LPCWSTR ReadFileVersion(LPCWSTR modulePath, LPWSTR* versionText) {
    *versionText = static_cast<LPWSTR>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, VersionChars * sizeof(WCHAR)));
    const DWORD blockSize = GetFileVersionInfoSizeW(modulePath, NULL);
    LPVOID block = blockSize != 0 ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, blockSize) : NULL;
    if (*versionText == NULL || block == NULL ||
        !GetFileVersionInfoW(modulePath, 0, blockSize, block)) {
        return L"Cannot get VerInfo. \r\n";
    }
    VS_FIXEDFILEINFO* info = NULL;
    UINT infoLength = 0;
    if (!VerQueryValueW(block, L"\\", reinterpret_cast<LPVOID*>(&info), &infoLength) ||
        info == NULL || infoLength < sizeof(VS_FIXEDFILEINFO)) {
        return L"Cannot query version. \r\n";
    }
    StringCchPrintfW(*versionText, VersionChars, L"%01d.%01d.%01d.%01d",
                     HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                     HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
    return NULL;
}
