// Where the PCIe link speed lookup stopped when it found no speed: its answer, which the record's
// NVMeGen and so the log carry.
#pragma once

const int NoDiskSet = -1;   // no device set for the disk's instance ID
const int NoParent = -2;    // no node of it gave a parent
const int NoParentSet = -3; // no device set for the parent
const int NoLinkSpeed = -4; // no node of the parent gave the speed
