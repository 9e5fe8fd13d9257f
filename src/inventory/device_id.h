// The device instance ID of a disk, derived from its interface path by text rules alone.
#pragma once

#include <windows.h>

// Writes the instance ID for path into deviceId, a buffer of DriveTextChars characters: drops
// the first four characters when the path holds "\\?\", cuts at the first "{", drops one
// trailing "#" and turns the other "#" into "\". Always 0. An ID that would not fit the buffer
// is written as the empty text: cut short it would name another device.
int DevicePathToDeviceId(LPCWSTR path, LPWSTR deviceId);
