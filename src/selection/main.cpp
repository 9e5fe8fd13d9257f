#include "selection/run_driver.h"

#include <windows.h>

int main() {
    // The tool runs elevated from wherever it was copied to (a stick, a share). Every DLL but
    // KERNEL32 and msvcrt is delay-loaded, so from here on each comes from the system folder
    // only. VERSION.dll matters most: it is not a known DLL, and a copy beside the executable
    // would otherwise be found first. The call fails only for flags outside the documented set.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return RunDestinationPick();
}
