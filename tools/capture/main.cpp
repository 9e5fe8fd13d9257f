// destpick-capture.exe [OUTPUT.json]: records what this machine answers destpick, for a replay.
#include "capture_tool.h"

#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    // It runs elevated from wherever it was copied to, as destpick.exe does: every DLL but
    // KERNEL32 and msvcrt is delay-loaded, so from here on each comes from the system folder only.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return RunCaptureTool(argc, argv);
}
