// A stand-in for a version.dll that someone put beside destpick.exe: it exports the three
// functions the tool takes from VERSION.dll, so a loader that finds it first binds to it, and on
// loading it leaves "version.dll.loaded" beside itself, so a test can tell that it ran.
#include <windows.h>

namespace {

const WCHAR kMarkerName[] = L"version.dll.loaded";

// The marker goes beside the DLL under a fixed name: the loader reports the DLL's own name as
// the importer spelled it, and Wine's drive Z: is case-sensitive.
void MarkLoading(HINSTANCE self) {
    WCHAR path[MAX_PATH + sizeof(kMarkerName) / sizeof(WCHAR)];
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    WCHAR* nameStart = path + length;
    while (nameStart > path && nameStart[-1] != L'\\') {
        --nameStart;
    }
    lstrcpyW(nameStart, kMarkerName);
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (marker != INVALID_HANDLE_VALUE) {
        CloseHandle(marker);
    }
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        MarkLoading(self);
    }
    return TRUE;
}

// The answers of a file without version data.
extern "C" __declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD handle) {
    if (handle != NULL) {
        *handle = 0;
    }
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
}

extern "C" __declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return FALSE;
}

extern "C" __declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT) {
    return FALSE;
}
