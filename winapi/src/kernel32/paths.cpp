// Paths of drive Z:, which is the POSIX file system from its root. The process's current folder is
// its POSIX working folder, on Z:, which is also the current drive: a relative path, a path rooted
// on the current drive (\x) and a drive-relative one (Z:x) resolve against it as Windows resolves
// them, and "." and ".." are taken out by name, before the file system sees the path.
#include "kernel32/paths.h"

#include <sim/text.h>

#include <algorithm>
#include <unistd.h>
#include <vector>

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsDriveZ(const std::wstring& path) {
    return path.size() >= 2 && (path[0] == L'Z' || path[0] == L'z') && path[1] == L':';
}

// The current folder as a path below Z:, with forward slashes; empty when it cannot be read.
std::wstring CurrentFolder() {
    std::vector<char> buffer(4096);
    if (getcwd(buffer.data(), buffer.size()) == nullptr) {
        return std::wstring();
    }
    return sim::FromUtf8(buffer.data());
}

// The part of the path below Z:'s root, before its "." and ".." are resolved; false for a path on
// another drive, a UNC path, or a relative one when the current folder is unknown.
bool BelowRoot(const std::wstring& path, std::wstring& below) {
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        return false;
    }
    if (!path.empty() && IsSeparator(path[0])) {
        below = path;
        return true;
    }
    std::wstring relative = path;
    if (path.size() >= 2 && path[1] == L':') {
        if (!IsDriveZ(path)) {
            return false;
        }
        relative = path.substr(2);
        if (!relative.empty() && IsSeparator(relative[0])) {
            below = relative;
            return true;
        }
    }
    const std::wstring folder = CurrentFolder();
    if (folder.empty()) {
        return false;
    }
    below = folder + L"/" + relative;
    return true;
}

// "/a/./b/../c//d" as "/a/c/d": the name resolution Windows makes before any file is asked.
std::string Normalized(const std::wstring& below) {
    std::vector<std::wstring> names;
    size_t start = 0;
    while (start <= below.size()) {
        size_t end = start;
        while (end < below.size() && !IsSeparator(below[end])) {
            ++end;
        }
        const std::wstring name = below.substr(start, end - start);
        if (name == L"..") {
            if (!names.empty()) {
                names.pop_back();
            }
        } else if (!name.empty() && name != L".") {
            names.push_back(name);
        }
        start = end + 1;
    }
    std::wstring path;
    for (const std::wstring& name : names) {
        path += L"/" + name;
    }
    return sim::ToUtf8(path.empty() ? L"/" : path);
}

} // namespace

namespace sim {

bool MapToPosixPath(const std::wstring& windowsPath, std::string& posixPath) {
    // After \\?\ Windows takes the path as it stands: no relative form, no "." or "..".
    if (windowsPath.rfind(L"\\\\?\\", 0) == 0) {
        const std::wstring path = windowsPath.substr(4);
        if (!IsDriveZ(path) || path.size() < 3 || path[2] != L'\\') {
            return false;
        }
        std::wstring rest = path.substr(2);
        std::replace(rest.begin(), rest.end(), L'\\', L'/');
        posixPath = ToUtf8(rest);
        return true;
    }
    std::wstring below;
    if (windowsPath.empty() || !BelowRoot(windowsPath, below)) {
        return false;
    }
    posixPath = Normalized(below);
    return true;
}

std::wstring PosixToWindowsPath(const std::string& posixPath) {
    std::wstring path = FromUtf8(posixPath);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return L"Z:" + path;
}

} // namespace sim
