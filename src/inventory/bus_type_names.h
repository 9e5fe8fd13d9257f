// The names of the STORAGE_BUS_TYPE values, indexed by value: as a reader of the log is shown them,
// and as a machine description spells them (null where a description gives the number only).
#pragma once

struct BusTypeName {
    const char* label;
    const char* descriptionName;
};

constexpr BusTypeName BusTypeNames[] = {
    {"Unknown", "unknown"}, {"SCSI", "scsi"},
    {"ATAPI", "atapi"},     {"ATA", "ata"},
    {"1394", "1394"},       {"SSA", "ssa"},
    {"Fibre", "fibre"},     {"USB", "usb"},
    {"RAID", "raid"},       {"iSCSI", "iscsi"},
    {"SAS", "sas"},         {"SATA", "sata"},
    {"SD", "sd"},           {"MMC", "mmc"},
    {"Virtual", "virtual"}, {"FileBackedVirtual", "fileBackedVirtual"},
    {"Spaces", "spaces"},   {"NVMe", "nvme"},
    {"SCM", nullptr},       {"UFS", nullptr},
    {"NVMe-oF", nullptr}};

// The bus a disk behind the RST/VMD driver reports: the weighting ranks it by its seek penalty,
// and only the driver's answer gives its NVMe generation.
const int RaidBusType = 8;
