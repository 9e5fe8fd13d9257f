// Files of the folder kept in memory. The file functions hand these paths and handles over
// first; the handles are MemoryFile entries of the handle table.
#pragma once

#include <windows.h>

#include <string>

namespace sim {

bool IsMemoryFilePath(const std::wstring& path);
HANDLE OpenMemoryFile(const std::wstring& path, DWORD access, DWORD shareMode, DWORD disposition);
// Moves the pointer of a memory file; fitsDword refuses a position beyond 32 bits, unmoved.
bool MoveMemoryFilePointer(HANDLE handle, LONGLONG distance, DWORD moveMethod, bool fitsDword,
                           LONGLONG* position);
BOOL WriteMemoryFile(HANDLE handle, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten);
void CloseMemoryFile(HANDLE handle);
BOOL DeleteMemoryFile(const std::wstring& path);
HANDLE FindMemoryFile(const std::wstring& path, LPWIN32_FIND_DATAW findData);

} // namespace sim
