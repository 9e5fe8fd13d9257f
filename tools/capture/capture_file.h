// Where destpick-capture writes a description, and how: a new file, whole or not at all, and never
// anything that could be a disk.
#pragma once

#include "capture.h"

#include <string>

// The name a capture gets when none is given: the computer's name and the capture's UTC time, as
// in "IMAGING-07-20240309-070502Z.json". A character that no file name can hold becomes "_"; a
// computer that gave no name is called "computer".
std::wstring CaptureFileName(const CaptureOrigin& origin);

// Whether the path leads into Windows' device namespace (\\.\, \??\, or \\?\ before anything but
// a drive or a UNC path), where a disk, a partition or a volume opens like a file, or ends in a DOS
// device's name (NUL, CON, COM1, nul.json, C:\x\lpt1.txt, "NUL . "), which opens that device in
// any folder.
bool NamesDevice(const std::wstring& path);

// Writes the bytes to a file that does not exist yet: ERROR_SUCCESS, or the error that stopped it.
// An existing file is never replaced, and a file that could not be written whole is removed again.
DWORD WriteNewFile(const std::wstring& path, const std::string& bytes);
