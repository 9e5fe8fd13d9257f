// Files of the folder kept in memory. The file functions hand these paths and handles over
// first; the handles are MemoryFile entries of the handle table, which the file functions remove.
#pragma once

#include <windows.h>

#include <string>

namespace sim {

bool IsMemoryFilePath(const std::wstring& path);
HANDLE OpenMemoryFile(const std::wstring& path, DWORD access, DWORD shareMode, DWORD disposition);
// Where a move of the pointer starts from: the file's start, its pointer or its end.
LONGLONG MemoryFileOrigin(HANDLE handle, DWORD moveMethod);
void SetMemoryFilePointer(HANDLE handle, LONGLONG position);
// ERROR_SUCCESS, or the error that refused the write.
DWORD WriteMemoryFile(HANDLE handle, LPCVOID buffer, DWORD bytesToWrite);
void CloseMemoryFile(HANDLE handle);
BOOL DeleteMemoryFile(const std::wstring& path);
HANDLE FindMemoryFile(const std::wstring& path, LPWIN32_FIND_DATAW findData);

} // namespace sim
