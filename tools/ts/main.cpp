// destpick-ts.exe [--dry-run] [VARIABLE]: sets a task sequence variable to the disk destpick picks.
#include "ts_tool.h"

#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    // It runs elevated from a package folder, as destpick.exe does: every DLL but KERNEL32 and
    // msvcrt is delay-loaded (OLE32 and OLEAUT32 for the task sequence's COM object), so from
    // here on each comes from the system folder only.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return RunTsTool(argc, argv);
}
