// Internal state shared by the stand-in's units; not part of the API that tests use.
#pragma once

#include <sim/machine.h>

#include <string>

namespace sim {

const std::optional<SYSTEMTIME>& FixedClock();
int LiveHeapBlocks();
SIZE_T PeakHeapBytes();
void ResetHeapAccounting();

// The handle table: every handle the stand-in hands out, whatever it opens.
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

// Device-information sets, counted while they live.
void CountSetBuilt();
void CountSetDestroyed();
void CountClassQuery();
void CountDeviceWrite();
void CountUnknownRequest();
void CountFileOpen();
void CountFileFind();
void CountFileWrite();
void CountDeviceOpen();
void CountDeviceIoControl();
void CountSetupApiCall();
void RecordIoRequest(const IoRequest& request);
void RecordOpenRequest(const OpenRequest& request);
// Forgets what the devices remember between requests (the layout attempts); run by Install.
void ResetDeviceAccounting();
// Forgets the process's DLL search and loaded libraries; run by Install, which starts a process.
void ResetLoader();

// CreateFileW of a device name (\\.\ or \\?\ but not a drive path): disks and controllers.
HANDLE OpenDevice(const std::wstring& name, DWORD access, DWORD shareMode, DWORD disposition,
                  DWORD flagsAndAttributes);

// Files of the folder kept in memory (memory_files.cpp). The file functions hand these paths and
// handles over first; the handles are MemoryFile entries of the handle table.
bool IsMemoryFilePath(const std::wstring& path);
HANDLE OpenMemoryFile(const std::wstring& path, DWORD access, DWORD shareMode, DWORD disposition);
// Moves the pointer of a memory file; fitsDword refuses a position beyond 32 bits, unmoved.
bool MoveMemoryFilePointer(HANDLE handle, LONGLONG distance, DWORD moveMethod, bool fitsDword,
                           LONGLONG* position);
BOOL WriteMemoryFile(HANDLE handle, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten);
void CloseMemoryFile(HANDLE handle);
HANDLE FindMemoryFile(const std::wstring& path, LPWIN32_FIND_DATAW findData);

// Paths: Windows-style paths on drive Z: map to the POSIX file system from its root.
bool MapToPosixPath(const std::wstring& windowsPath, std::string& posixPath);
std::wstring PosixToWindowsPath(const std::string& posixPath);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// How the ANSI code page (Windows-1252) reads one byte.
WCHAR AnsiByteToWide(unsigned char byte);

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b);

} // namespace sim
