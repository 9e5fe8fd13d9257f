// Stand-in for the SDK's <cfgmgr32.h>: the configuration manager's device-ID query.
#pragma once

#include <windows.h>

typedef DWORD DEVINST;
typedef DWORD CONFIGRET;

#define CR_SUCCESS 0x00000000u
#define CR_INVALID_DEVNODE 0x00000005u
#define CR_BUFFER_SMALL 0x0000001Au
#define CR_NO_SUCH_DEVNODE 0x0000000Du

CONFIGRET WINAPI CM_Get_Device_IDW(DEVINST devInst, PWSTR buffer, ULONG bufferLength, ULONG flags);
