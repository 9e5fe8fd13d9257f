// The handle table, and what opening and searching answer alike for files on the POSIX tree and
// files kept in memory. Handles count up from 0x100 in steps of 4 and are never handed out twice.
#include "kernel32/handles.h"

#include <cstring>
#include <map>

namespace {

std::map<uintptr_t, sim::HandleEntry>& Handles() {
    static std::map<uintptr_t, sim::HandleEntry> handles;
    return handles;
}

uintptr_t nextHandleValue = 0x100;

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

bool WantsWrite(DWORD access) {
    return (access & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0;
}

HANDLE AddFileHandle(const HandleEntry& entry, bool existed, DWORD disposition) {
    HANDLE handle = AddHandle(entry);
    const bool reportsExisting =
        existed && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS);
    SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE AddFindHandle(LPWIN32_FIND_DATAW findData, DWORD attributes, uint64_t size,
                     const std::wstring& name) {
    std::memset(findData, 0, sizeof(*findData));
    findData->dwFileAttributes = attributes;
    findData->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    findData->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    wcsncpy(findData->cFileName, name.c_str(), MAX_PATH - 1);
    HandleEntry entry;
    entry.kind = HandleKind::Find;
    return AddHandle(entry);
}

} // namespace sim
