// The log beside the executable: one time-stamped entry per call, appended and on disk at once.
#pragma once

#include <windows.h>

// Formats the message in wvsprintfW's conventions, prefixes the UTC time and appends it to the
// file at logPath. An empty logPath writes nothing. Non-zero when the entry was written.
int LogMessage(LPCWSTR logPath, LPCWSTR format, ...);
