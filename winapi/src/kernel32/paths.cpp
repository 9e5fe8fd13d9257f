// Paths of drive Z:, which is the POSIX file system from its root.
#include "kernel32/paths.h"

#include <sim/text.h>

namespace sim {

bool MapToPosixPath(const std::wstring& windowsPath, std::string& posixPath) {
    std::wstring path = windowsPath;
    if (path.rfind(L"\\\\?\\", 0) == 0) {
        path = path.substr(4);
    }
    if (path.size() < 2 || (path[0] != L'Z' && path[0] != L'z') || path[1] != L':') {
        return false;
    }
    std::wstring rest = path.substr(2);
    for (wchar_t& c : rest) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    if (rest.empty() || rest[0] != L'/') {
        rest.insert(rest.begin(), L'/');
    }
    posixPath = ToUtf8(rest);
    return true;
}

std::wstring PosixToWindowsPath(const std::string& posixPath) {
    std::wstring path = FromUtf8(posixPath);
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return L"Z:" + path;
}

} // namespace sim
