// Imports VERSION.dll the ordinary way, as destpick.exe once did: run beside a planted
// version.dll, it shows that the plant is loaded when nothing keeps it out.
#include <windows.h>

int main() {
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    return GetFileVersionInfoSizeW(path, NULL) != 0 ? 0 : 2;
}
