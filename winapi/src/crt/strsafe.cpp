// strsafe's bounded copy and print. On Windows they are compiled into the program from the SDK's
// header; here they share user32's formatter, and differ in their room and their results.
#include "user32/wide_format.h"

#include <strsafe.h>

namespace {

bool IsValidStrsafeDestination(LPWSTR destination, size_t destinationSize) {
    return destination != nullptr && destinationSize != 0 && destinationSize <= STRSAFE_MAX_CCH;
}

} // namespace

HRESULT StringCchCopyW(LPWSTR destination, size_t destinationSize, LPCWSTR source) {
    if (!IsValidStrsafeDestination(destination, destinationSize) || source == nullptr) {
        return STRSAFE_E_INVALID_PARAMETER;
    }
    size_t length = 0;
    while (source[length] != L'\0' && length + 1 < destinationSize) {
        destination[length] = source[length];
        ++length;
    }
    destination[length] = L'\0';
    return source[length] != L'\0' ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

HRESULT StringCchVPrintfW(LPWSTR destination, size_t destinationSize, LPCWSTR format,
                          va_list arguments) {
    if (!IsValidStrsafeDestination(destination, destinationSize) || format == nullptr) {
        return STRSAFE_E_INVALID_PARAMETER;
    }
    return sim::FormatWide(destination, destinationSize, format, arguments)
               ? S_OK
               : STRSAFE_E_INSUFFICIENT_BUFFER;
}

HRESULT StringCchPrintfW(LPWSTR destination, size_t destinationSize, LPCWSTR format, ...) {
    va_list arguments;
    va_start(arguments, format);
    HRESULT result = StringCchVPrintfW(destination, destinationSize, format, arguments);
    va_end(arguments);
    return result;
}
