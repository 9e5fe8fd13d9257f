// Files over POSIX: paths on drive Z: are the POSIX tree, share modes are advisory locks (so two
// processes of the stand-in refuse each other as Windows does), and the read-only checks are made
// here because a process running as root would otherwise pass them.
#include "state.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::map<uintptr_t, sim::HandleEntry>& Handles() {
    static std::map<uintptr_t, sim::HandleEntry> handles;
    return handles;
}

uintptr_t nextHandleValue = 0x100;

bool IsDeviceName(const std::wstring& name) {
    return name.rfind(L"\\\\.\\", 0) == 0 || name.rfind(L"\\\\?\\", 0) == 0;
}

std::string ParentOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

DWORD ErrorForMissing(const std::string& path) {
    return IsDirectory(ParentOf(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD ErrorFromErrno(int error, const std::string& path) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ErrorForMissing(path);
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return 80; // ERROR_FILE_EXISTS
    default:
        return ERROR_GEN_FAILURE;
    }
}

bool WantsWrite(DWORD access) {
    return (access & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0;
}

bool WantsRead(DWORD access) {
    return (access & (GENERIC_READ | FILE_READ_DATA)) != 0;
}

bool NoWriteBits(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && (info.st_mode & 0222) == 0;
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD shareMode, DWORD disposition) {
    int flags = WantsWrite(access) ? (WantsRead(access) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        flags |= O_TRUNC;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    struct stat existing {};
    const bool existed = stat(path.c_str(), &existing) == 0;
    if (existed && S_ISDIR(existing.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if ((existed && WantsWrite(access) && NoWriteBits(path)) ||
        (!existed && (flags & O_CREAT) && NoWriteBits(ParentOf(path)))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno, path));
        return INVALID_HANDLE_VALUE;
    }
    // Share mode 0 holds the file alone; any sharing open coexists with other sharing opens.
    if (flock(fd, (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::File;
    entry.fd = fd;
    HANDLE handle = sim::AddHandle(entry);
    const bool reportsExisting =
        existed && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS);
    SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

} // namespace

namespace sim {

HANDLE AddHandle(const HandleEntry& entry) {
    uintptr_t value = nextHandleValue;
    nextHandleValue += 4;
    Handles()[value] = entry;
    return reinterpret_cast<HANDLE>(value);
}

HandleEntry* FindHandle(HANDLE handle) {
    auto found = Handles().find(reinterpret_cast<uintptr_t>(handle));
    return found == Handles().end() ? nullptr : &found->second;
}

void RemoveHandle(HANDLE handle) {
    Handles().erase(reinterpret_cast<uintptr_t>(handle));
}

int OpenHandleCount() {
    return static_cast<int>(Handles().size());
}

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

std::string ToUtf8(const std::wstring& text) {
    std::string bytes;
    for (wchar_t wide : text) {
        uint32_t c = static_cast<uint32_t>(wide);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if (c < 0x800) {
            bytes += static_cast<char>(0xC0 | (c >> 6));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes += static_cast<char>(0xE0 | (c >> 12));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (c >> 18));
            bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return bytes;
}

std::wstring FromUtf8(const std::string& bytes) {
    std::wstring text;
    size_t i = 0;
    while (i < bytes.size()) {
        unsigned char lead = static_cast<unsigned char>(bytes[i]);
        int extra = lead < 0x80         ? 0
                    : (lead >> 5) == 6  ? 1
                    : (lead >> 4) == 14 ? 2
                    : (lead >> 3) == 30 ? 3
                                        : -1;
        uint32_t c = extra == 0   ? lead
                     : extra == 1 ? (lead & 0x1Fu)
                     : extra == 2 ? (lead & 0x0Fu)
                                  : (lead & 0x07u);
        bool valid = extra >= 0;
        for (int k = 1; valid && k <= extra; ++k) {
            if (i + static_cast<size_t>(k) >= bytes.size()) {
                valid = false;
                break;
            }
            unsigned char next = static_cast<unsigned char>(bytes[i + static_cast<size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3Fu);
        }
        if (!valid) {
            text += static_cast<wchar_t>(0xFFFD);
            ++i;
            continue;
        }
        text += static_cast<wchar_t>(c);
        i += static_cast<size_t>(extra) + 1;
    }
    return text;
}

} // namespace sim

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE) {
    std::wstring name(fileName != nullptr ? fileName : L"");
    if (IsDeviceName(name) && !(name.size() > 6 && name[5] == L':')) {
        return sim::OpenDevice(name, desiredAccess, shareMode, creationDisposition,
                               flagsAndAttributes);
    }
    sim::CountFileOpen();
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (sim::IsMemoryFilePath(name)) {
        return sim::OpenMemoryFile(name, desiredAccess, shareMode, creationDisposition);
    }
    std::string path;
    if (name.empty() || !sim::MapToPosixPath(name, path)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return OpenFile(path, desiredAccess, shareMode, creationDisposition);
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh,
                            DWORD moveMethod) {
    sim::HandleEntry* entry = sim::FindHandle(file);
    if (entry != nullptr && entry->kind == sim::HandleKind::MemoryFile) {
        return sim::SetMemoryFilePointer(file, distanceToMove, distanceToMoveHigh, moveMethod);
    }
    if (entry == nullptr || entry->kind != sim::HandleKind::File) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t distance =
        distanceToMoveHigh != nullptr
            ? static_cast<int64_t>(
                  (static_cast<uint64_t>(static_cast<uint32_t>(*distanceToMoveHigh)) << 32) |
                  static_cast<uint32_t>(distanceToMove))
            : distanceToMove;
    int whence = moveMethod == FILE_BEGIN     ? SEEK_SET
                 : moveMethod == FILE_CURRENT ? SEEK_CUR
                 : moveMethod == FILE_END     ? SEEK_END
                                              : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    off_t position = lseek(entry->fd, static_cast<off_t>(distance), whence);
    if (position < 0) {
        SetLastError(131); // ERROR_NEGATIVE_SEEK
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh != nullptr) {
        *distanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
    }
    return static_cast<DWORD>(static_cast<uint64_t>(position) & 0xFFFFFFFFu);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED) {
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    sim::HandleEntry* entry = sim::FindHandle(file);
    if (entry == nullptr || entry->kind == sim::HandleKind::Find) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (entry->kind == sim::HandleKind::MemoryFile) {
        return sim::WriteMemoryFile(file, buffer, bytesToWrite, bytesWritten);
    }
    if (entry->kind != sim::HandleKind::File) {
        // The tool must never change a disk: every attempt is counted and refused.
        sim::CountDeviceWrite();
        SetLastError(ERROR_WRITE_PROTECT);
        return FALSE;
    }
    sim::CountFileWrite();
    const char* bytes = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < bytesToWrite) {
        ssize_t n = write(entry->fd, bytes + done, bytesToWrite - done);
        if (n < 0) {
            SetLastError(errno == EBADF ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE);
            if (bytesWritten != nullptr) {
                *bytesWritten = done;
            }
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (bytesWritten != nullptr) {
        *bytesWritten = done;
    }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    sim::HandleEntry* entry = sim::FindHandle(object);
    if (entry == nullptr || entry->kind == sim::HandleKind::Find) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (entry->kind == sim::HandleKind::MemoryFile) {
        sim::CloseMemoryFile(object);
        return TRUE;
    }
    if (entry->fd >= 0) {
        close(entry->fd);
    }
    sim::RemoveHandle(object);
    return TRUE;
}

HANDLE WINAPI FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
    sim::CountFileFind();
    if (fileName != nullptr && sim::IsMemoryFilePath(fileName)) {
        return sim::FindMemoryFile(fileName, findData);
    }
    std::string path;
    if (fileName == nullptr || *fileName == L'\0' || !sim::MapToPosixPath(fileName, path)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        SetLastError(ErrorForMissing(path));
        return INVALID_HANDLE_VALUE;
    }
    std::memset(findData, 0, sizeof(*findData));
    findData->dwFileAttributes = S_ISDIR(info.st_mode) ? 0x10u : FILE_ATTRIBUTE_NORMAL;
    findData->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(info.st_size) >> 32);
    findData->nFileSizeLow = static_cast<DWORD>(static_cast<uint64_t>(info.st_size) & 0xFFFFFFFFu);
    std::wstring base = sim::FromUtf8(path.substr(path.find_last_of('/') + 1));
    wcsncpy(findData->cFileName, base.c_str(), MAX_PATH - 1);
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::Find;
    return sim::AddHandle(entry);
}

BOOL WINAPI FindClose(HANDLE findFile) {
    sim::HandleEntry* entry = sim::FindHandle(findFile);
    if (entry == nullptr || entry->kind != sim::HandleKind::Find) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    sim::RemoveHandle(findFile);
    return TRUE;
}
