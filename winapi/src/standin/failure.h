// How the stand-in's functions fail: the thread's last error set as Windows sets it, and the value
// that tells the caller to read it.
#pragma once

#include <windows.h>

namespace sim {

template <typename Failure> Failure Fail(DWORD error, Failure failure) {
    SetLastError(error);
    return failure;
}

inline BOOL Fail(DWORD error) {
    return Fail(error, FALSE);
}

} // namespace sim
