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

// The stand-in defines every key where its header declares it, whether or not <initguid.h> came
// first: an inline constant is one object however many units include it.
#define DEFINE_DEVPROPKEY(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8, pid)                    \
    inline constexpr DEVPROPKEY name = {{l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}, pid}

#define IsEqualDevPropKey(a, b)                                                                    \
    ((a).pid == (b).pid && std::memcmp(&(a).fmtid, &(b).fmtid, sizeof(GUID)) == 0)
