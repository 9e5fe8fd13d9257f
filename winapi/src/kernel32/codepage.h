// The ANSI code page (Windows-1252).
#pragma once

#include <windows.h>

namespace sim {

// How the ANSI code page reads one byte.
WCHAR AnsiByteToWide(unsigned char byte);

} // namespace sim
