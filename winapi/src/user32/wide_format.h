// The formatter behind the stand-in's wide prints: user32's conversions, flags and sizes.
#pragma once

#include <windows.h>

namespace sim {

// Writes the formatted text into `capacity` WCHARs, terminator included (capacity at least 1);
// false when some of it did not fit.
bool FormatWide(WCHAR* output, size_t capacity, const WCHAR* format, va_list arguments);

} // namespace sim
