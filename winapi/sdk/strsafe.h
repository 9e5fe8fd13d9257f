// Stand-in for the SDK's <strsafe.h>: the bounded copies and prints with strsafe's results.
#pragma once

#include <windows.h>

#define STRSAFE_MAX_CCH 2147483647
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)
#define STRSAFE_E_INVALID_PARAMETER ((HRESULT)0x80070057L)

HRESULT StringCchCopyW(LPWSTR destination, size_t destinationSize, LPCWSTR source);
HRESULT StringCchPrintfW(LPWSTR destination, size_t destinationSize, LPCWSTR format, ...);
HRESULT StringCchVPrintfW(LPWSTR destination, size_t destinationSize, LPCWSTR format,
                          va_list arguments);
