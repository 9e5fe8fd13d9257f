// The version an executable's own version resource gives, as the log's header and the capture
// tool's description tell it.
#pragma once

#include <windows.h>

// The file version of the module at this path as "a.b.c.d"; the start-up message of the failure,
// or NULL. The version block and the text stay allocated for the rest of the process.
LPCWSTR ReadFileVersion(LPCWSTR modulePath, LPWSTR* versionText);
