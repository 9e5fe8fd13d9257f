// Stand-in for the SDK's <devpropdef.h>: device property keys and types.
#pragma once

#include <windows.h>

typedef ULONG DEVPROPTYPE;
typedef GUID DEVPROPGUID;
typedef ULONG DEVPROPID;

typedef struct _DEVPROPKEY {
    DEVPROPGUID fmtid;
    DEVPROPID pid;
} DEVPROPKEY;

static_assert(sizeof(DEVPROPKEY) == 20, "DEVPROPKEY layout");

#define DEVPROP_TYPE_UINT32 0x00000007u
#define DEVPROP_TYPE_STRING 0x00000012u
