// Paths: Windows-style paths on drive Z: map to the POSIX file system from its root; relative ones
// resolve against the process's current folder, which is on Z:.
#pragma once

#include <string>

namespace sim {

// False for a path that is not on drive Z: (\\?\ before the drive is allowed) and for a relative
// one when the current folder cannot be read.
bool MapToPosixPath(const std::wstring& windowsPath, std::string& posixPath);
std::wstring PosixToWindowsPath(const std::string& posixPath);

} // namespace sim
