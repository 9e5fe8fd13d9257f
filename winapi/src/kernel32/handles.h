// The handle table: every handle the stand-in hands out, whatever it opens.
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

} // namespace sim
