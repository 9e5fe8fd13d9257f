// Stand-in for the SDK's <pciprop.h>: the PCI device property keys, with the SDK's names and
// values. The link speed and width keys follow the PCIe encoding (1 = 2.5 GT/s … 5 = 32 GT/s).
#pragma once

#include <devpropdef.h>

#define DEFINE_PCI_DEVICE_DEVPKEY(name, pid)                                                       \
    DEFINE_DEVPROPKEY(name, 0x3ab22e31, 0x8264, 0x4b4e, 0x9a, 0xf5, 0xa8, 0xd2, 0xd8, 0xe3, 0x3e,  \
                      0x62, pid)

DEFINE_PCI_DEVICE_DEVPKEY(DEVPKEY_PciDevice_CurrentLinkSpeed, 9);
DEFINE_PCI_DEVICE_DEVPKEY(DEVPKEY_PciDevice_CurrentLinkWidth, 10);
DEFINE_PCI_DEVICE_DEVPKEY(DEVPKEY_PciDevice_MaxLinkSpeed, 11);
DEFINE_PCI_DEVICE_DEVPKEY(DEVPKEY_PciDevice_MaxLinkWidth, 12);
