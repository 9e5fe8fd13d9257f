// Stand-in for the SDK's <ntddscsi.h>: the SCSI address query and the miniport pass-through.
#pragma once

#include <windows.h>

#define IOCTL_SCSI_GET_ADDRESS 0x00041018u
#define IOCTL_SCSI_MINIPORT 0x0004D008u
#define IOCTL_SCSI_PASS_THROUGH 0x0004D004u

typedef struct _SCSI_ADDRESS {
    DWORD Length;
    BYTE PortNumber;
    BYTE PathId;
    BYTE TargetId;
    BYTE Lun;
} SCSI_ADDRESS;

typedef struct _SRB_IO_CONTROL {
    ULONG HeaderLength;
    UCHAR Signature[8];
    ULONG Timeout;
    ULONG ControlCode;
    ULONG ReturnCode;
    ULONG Length;
} SRB_IO_CONTROL;

static_assert(sizeof(SCSI_ADDRESS) == 8, "SCSI_ADDRESS layout");
static_assert(sizeof(SRB_IO_CONTROL) == 28, "SRB_IO_CONTROL layout");
