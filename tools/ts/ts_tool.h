// destpick-ts.exe [--dry-run] [VARIABLE]: runs destpick.exe as a task sequence step and sets the
// task sequence variable (OSDDiskIndex unless named) to the disk it picks.
#pragma once

int RunTsTool(int argc, wchar_t** argv);
