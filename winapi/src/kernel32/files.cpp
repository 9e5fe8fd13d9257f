// Files over POSIX: paths on drive Z: are the POSIX tree, share modes are advisory locks (so two
// processes of the stand-in refuse each other as Windows does), and the read-only and list checks
// are made here because a process running as root would otherwise pass them.
#include "kernel32/devices.h"
#include "kernel32/handles.h"
#include "kernel32/memory_files.h"
#include "kernel32/paths.h"
#include "standin/failure.h"
#include "standin/installed.h"

#include <sim/text.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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
    case ENXIO:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    // A full file system, a quota used up or a file grown beyond what the file system holds:
    // Windows tells each as a full disk.
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ERROR_DISK_FULL;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// A write refused by its descriptor (opened for reading only) is one the handle has no right to.
DWORD ErrorFromWrite(int error) {
    return error == EBADF ? ERROR_ACCESS_DENIED : ErrorFromErrno(error, std::string());
}

bool WantsRead(DWORD access) {
    return (access & (GENERIC_READ | FILE_READ_DATA)) != 0;
}

bool NoWriteBits(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && (info.st_mode & 0222) == 0;
}

// A folder without read bits is one whose entries the account may not list.
bool NoReadBits(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && (info.st_mode & 0444) == 0;
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD shareMode, DWORD disposition) {
    int flags = sim::WantsWrite(access) ? (WantsRead(access) ? O_RDWR : O_WRONLY) : O_RDONLY;
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
        return sim::Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    struct stat existing {};
    const bool existed = stat(path.c_str(), &existing) == 0;
    // A folder does not open as a file; nor does a FIFO, socket or device node of the POSIX tree,
    // which Windows has no files like, and whose open could block the run forever.
    if (existed && !S_ISREG(existing.st_mode)) {
        return sim::Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    if ((existed && sim::WantsWrite(access) && NoWriteBits(path)) ||
        (!existed && (flags & O_CREAT) && NoWriteBits(ParentOf(path)))) {
        return sim::Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    // Non-blocking, and checked again on the descriptor: a FIFO put in the file's place after the
    // check above must not block the open either (a regular file ignores the flag).
    int fd = open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        return sim::Fail(ErrorFromErrno(errno, path), INVALID_HANDLE_VALUE);
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        close(fd);
        return sim::Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    // Share mode 0 holds the file alone; any sharing open coexists with other sharing opens.
    if (flock(fd, (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        close(fd);
        return sim::Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
    }
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::File;
    entry.fd = fd;
    return sim::AddFileHandle(entry, existed, disposition);
}

// Where a move of the file pointer starts from; -1 when the file cannot tell.
LONGLONG Origin(HANDLE file, const sim::HandleEntry& entry, DWORD moveMethod) {
    if (entry.kind == sim::HandleKind::MemoryFile) {
        return sim::MemoryFileOrigin(file, moveMethod);
    }
    struct stat info {};
    return moveMethod == FILE_BEGIN      ? 0
           : moveMethod == FILE_CURRENT  ? lseek(entry.fd, 0, SEEK_CUR)
           : fstat(entry.fd, &info) == 0 ? info.st_size
                                         : -1;
}

// The pointer of a file or memory file moved by a 64-bit distance; fitsDword refuses a position
// beyond 32 bits. Windows refuses a move that fails without moving the pointer.
bool MovePointer(HANDLE file, LONGLONG distance, DWORD moveMethod, bool fitsDword,
                 LONGLONG* position) {
    const sim::HandleEntry* entry = sim::FindHandle(file);
    if (entry == nullptr ||
        (entry->kind != sim::HandleKind::File && entry->kind != sim::HandleKind::MemoryFile)) {
        return sim::Fail(ERROR_INVALID_HANDLE, false);
    }
    if (moveMethod > FILE_END) {
        return sim::Fail(ERROR_INVALID_PARAMETER, false);
    }
    const LONGLONG origin = Origin(file, *entry, moveMethod);
    if (origin < 0) {
        return sim::Fail(ERROR_GEN_FAILURE, false);
    }
    // A move beyond the 64-bit range wraps below the start on Windows, and fails as such.
    if (__builtin_add_overflow(origin, distance, position) || *position < 0) {
        return sim::Fail(ERROR_NEGATIVE_SEEK, false);
    }
    if (fitsDword && static_cast<ULONGLONG>(*position) > 0xFFFFFFFFu) {
        return sim::Fail(ERROR_INVALID_PARAMETER, false);
    }
    if (entry->kind == sim::HandleKind::MemoryFile) {
        sim::SetMemoryFilePointer(file, *position);
    } else if (lseek(entry->fd, static_cast<off_t>(*position), SEEK_SET) < 0) {
        return sim::Fail(ERROR_INVALID_PARAMETER, false);
    }
    return true;
}

// The file's space for bytes beyond its end, taken before anything is written. A file system that
// cannot reserve space ahead is written all the same, and cut back should the write fail.
int ReserveBeyondEnd(int fd, off_t start, off_t end, off_t size) {
    if (end <= size) {
        return 0;
    }
    const int error = posix_fallocate(fd, start, end - start);
    return error == EOPNOTSUPP || error == ENOSYS || error == EINVAL ? 0 : error;
}

// The file back at its old end, when a failed write left it longer; false when even that fails.
bool CutBack(int fd, off_t oldSize) {
    struct stat now {};
    return fstat(fd, &now) == 0 && (now.st_size <= oldSize || ftruncate(fd, oldSize) == 0);
}

// The bytes at the pointer, all of them or none: Windows finds the room for a write before it
// writes, so a write that cannot have it fails and leaves the file as it was. A failure cuts the
// file back to its old end and puts the pointer back where the write began; should the cut fail,
// the pointer stays behind what was written, and the write's own failure is still the one told.
DWORD WriteWhole(int fd, const char* bytes, DWORD count) {
    if (count == 0) {
        return ERROR_SUCCESS;
    }
    struct stat info {};
    const off_t start = lseek(fd, 0, SEEK_CUR);
    if (start < 0 || fstat(fd, &info) != 0) {
        return ERROR_GEN_FAILURE;
    }
    const off_t end = start + static_cast<off_t>(count);
    int error = ReserveBeyondEnd(fd, start, end, info.st_size);
    for (DWORD done = 0; error == 0 && done < count;) {
        const ssize_t n = write(fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
        } else {
            // A regular file that takes no byte and tells no reason has no room left.
            error = n < 0 ? errno : ENOSPC;
        }
    }
    if (error == 0) {
        return ERROR_SUCCESS;
    }
    if (CutBack(fd, info.st_size)) {
        lseek(fd, start, SEEK_SET);
    }
    return ErrorFromWrite(error);
}

} // namespace

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE) {
    std::wstring name(fileName != nullptr ? fileName : L"");
    if (IsDeviceName(name) && !(name.size() > 6 && name[5] == L':')) {
        return sim::OpenDevice(name, desiredAccess, shareMode, creationDisposition,
                               flagsAndAttributes);
    }
    ++sim::RunCounters().fileOpens;
    if (fileName == nullptr) {
        return sim::Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    if (sim::IsMemoryFilePath(name)) {
        return sim::OpenMemoryFile(name, desiredAccess, shareMode, creationDisposition);
    }
    std::string path;
    if (name.empty() || !sim::MapToPosixPath(name, path)) {
        return sim::Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    return OpenFile(path, desiredAccess, shareMode, creationDisposition);
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh,
                            DWORD moveMethod) {
    LARGE_INTEGER distance;
    if (distanceToMoveHigh != nullptr) {
        distance.LowPart = static_cast<DWORD>(distanceToMove);
        distance.HighPart = *distanceToMoveHigh;
    } else {
        distance.QuadPart = distanceToMove;
    }
    // Without the high part the caller could not tell where the pointer went: Windows refuses
    // the move and leaves the pointer where it was.
    LARGE_INTEGER position;
    if (!MovePointer(file, distance.QuadPart, moveMethod, distanceToMoveHigh == nullptr,
                     &position.QuadPart)) {
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh != nullptr) {
        *distanceToMoveHigh = position.HighPart;
    }
    // A position whose low part reads as the failure value is told apart by the last error.
    if (position.LowPart == INVALID_SET_FILE_POINTER) {
        SetLastError(ERROR_SUCCESS);
    }
    return position.LowPart;
}

BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER distanceToMove,
                             PLARGE_INTEGER newFilePointer, DWORD moveMethod) {
    LONGLONG position = 0;
    if (!MovePointer(file, distanceToMove.QuadPart, moveMethod, false, &position)) {
        return FALSE;
    }
    if (newFilePointer != nullptr) {
        newFilePointer->QuadPart = position;
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED) {
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    sim::HandleEntry* entry = sim::FindHandle(file);
    if (entry == nullptr || entry->kind == sim::HandleKind::Find) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if (entry->kind != sim::HandleKind::File && entry->kind != sim::HandleKind::MemoryFile) {
        // The tool must never change a disk: every attempt is counted and refused.
        ++sim::RunCounters().deviceWrites;
        return sim::Fail(ERROR_WRITE_PROTECT);
    }
    ++sim::RunCounters().fileWrites;
    const DWORD error = entry->kind == sim::HandleKind::MemoryFile
                            ? sim::WriteMemoryFile(file, buffer, bytesToWrite)
                            : WriteWhole(entry->fd, static_cast<const char*>(buffer), bytesToWrite);
    if (error != ERROR_SUCCESS) {
        return sim::Fail(error);
    }
    if (bytesWritten != nullptr) {
        *bytesWritten = bytesToWrite;
    }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    sim::HandleEntry* entry = sim::FindHandle(object);
    if (entry == nullptr || entry->kind == sim::HandleKind::Find) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if (entry->kind == sim::HandleKind::MemoryFile) {
        sim::CloseMemoryFile(object);
    } else if (entry->fd >= 0) {
        close(entry->fd);
    }
    sim::RemoveHandle(object);
    return TRUE;
}

// A file is deleted only while no handle holds it: the stand-in's opens never share deletion, and
// each holds a lock on the file that a delete would have to take alone.
BOOL WINAPI DeleteFileW(LPCWSTR fileName) {
    std::string path;
    if (fileName == nullptr || *fileName == L'\0' || !sim::MapToPosixPath(fileName, path)) {
        return sim::Fail(ERROR_PATH_NOT_FOUND);
    }
    if (sim::IsMemoryFilePath(fileName)) {
        return sim::DeleteMemoryFile(fileName);
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return sim::Fail(ErrorForMissing(path));
    }
    if (!S_ISREG(info.st_mode) || NoWriteBits(path) || NoWriteBits(ParentOf(path))) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const bool held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0) {
        close(fd);
    }
    if (held) {
        return sim::Fail(ERROR_SHARING_VIOLATION);
    }
    if (unlink(path.c_str()) != 0) {
        return sim::Fail(ErrorFromErrno(errno, path));
    }
    return TRUE;
}

HANDLE WINAPI FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
    ++sim::RunCounters().fileFinds;
    if (fileName != nullptr && sim::IsMemoryFilePath(fileName)) {
        return sim::FindMemoryFile(fileName, findData);
    }
    std::string path;
    if (fileName == nullptr || *fileName == L'\0' || !sim::MapToPosixPath(fileName, path)) {
        return sim::Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    // A search reads the folder's entries, which takes the right to list it; creating and writing
    // a file there does not.
    if (NoReadBits(ParentOf(path))) {
        return sim::Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return sim::Fail(ErrorForMissing(path), INVALID_HANDLE_VALUE);
    }
    const DWORD attributes =
        S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    return sim::AddFindHandle(findData, attributes, static_cast<uint64_t>(info.st_size),
                              sim::FromUtf8(path.substr(path.find_last_of('/') + 1)));
}

BOOL WINAPI FindClose(HANDLE findFile) {
    sim::HandleEntry* entry = sim::FindHandle(findFile);
    if (entry == nullptr || entry->kind != sim::HandleKind::Find) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    sim::RemoveHandle(findFile);
    return TRUE;
}
