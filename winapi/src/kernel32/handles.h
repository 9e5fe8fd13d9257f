// The handle table: every handle the stand-in hands out, whatever it opens, and the replies that
// files on the POSIX tree and files kept in memory give alike.
#pragma once

#include <windows.h>

#include <string>

namespace sim {

enum class HandleKind { File, Find, Disk, Controller, MemoryFile };
struct HandleEntry {
    HandleKind kind = HandleKind::File;
    int fd = -1;            // File: the open descriptor
    size_t deviceIndex = 0; // Disk: index into Machine::disks; Controller: its number
    std::wstring name;      // the name it was opened with
};
HANDLE AddHandle(const HandleEntry& entry);
HandleEntry* FindHandle(HANDLE handle);
void RemoveHandle(HANDLE handle);
int OpenHandleCount();

bool WantsWrite(DWORD access);
// The handle of a file that opened. The last error tells whether a disposition that may create
// found the file already there.
HANDLE AddFileHandle(const HandleEntry& entry, bool existed, DWORD disposition);
// The handle of a search that found one entry, with the entry filled into findData.
HANDLE AddFindHandle(LPWIN32_FIND_DATAW findData, DWORD attributes, uint64_t size,
                     const std::wstring& name);

} // namespace sim
