// Builders for the storage replies of a simulated disk, in the Windows structures' byte layout.
// The tests build replies through these; the JSON loader starts each typed form from one built
// with zeros and writes the description's fields over it, so both mean one layout.
#pragma once

#include <sim/machine.h>

#include <winioctl.h>

#include <string>
#include <vector>

namespace sim {

Reply FailingReply(DWORD error);
Reply DeviceNumberReply(DWORD deviceNumber, DWORD partitionNumber = 0,
                        DWORD deviceType = FILE_DEVICE_DISK);
// The bus type and the media type are the numbers a driver writes, which need not be among the
// enumeration's values.
Reply DeviceDescriptorReply(DWORD busType, bool removable, BYTE deviceType = 0);
Reply SeekPenaltyReply(bool incursSeekPenalty);
Reply GeometryReply(LONGLONG cylinders, DWORD tracksPerCylinder, DWORD sectorsPerTrack,
                    DWORD bytesPerSector, DWORD mediaType = FixedMedia);
Reply ScsiAddressReply(BYTE port, BYTE pathId, BYTE targetId, BYTE lun);

struct Partition {
    LONGLONG length = 0;
    std::wstring gptType;         // "C12A7328-F81F-11D2-BA4B-00A0C93EC93B" form, GPT only
    std::vector<WORD> nameUnits;  // the 36-unit name area, as many units as given (at most 36)
    bool bootIndicator = false;   // MBR only
    BYTE mbrType = PARTITION_IFS; // MBR only
};

// The 16-bit units of a name, for Partition::nameUnits.
std::vector<WORD> NameUnits(const std::wstring& name);

// A GPT entry of that type ("XXXXXXXX-XXXX-…") and name, and an MBR entry.
Partition GptPartition(LONGLONG length, const std::wstring& type, const std::wstring& name);
Partition MbrPartition(LONGLONG length, bool active, BYTE type = PARTITION_IFS);

// A DRIVE_LAYOUT_INFORMATION_EX with its entries. reportedCount, when not negative, is written
// as PartitionCount in place of the number of entries.
Reply LayoutReply(PARTITION_STYLE style, const std::vector<Partition>& partitions,
                  LONG reportedCount = -1);

// The 44-byte SRB_IO_CONTROL reply of the RAID driver: header with ReturnCode, then the four
// values.
std::vector<BYTE> RaidReply(DWORD returnCode, LONG connectionType, LONG connectionInterface,
                            LONG pciBusWidth, LONG pciBusSpeed);

// The value of a hex digit of either case; -1 for any other character.
int HexDigit(wchar_t c);

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (braces allowed); false when malformed.
bool ParseGuid(const std::wstring& text, GUID& guid);
// The GUID in that form, upper case, without braces.
std::wstring GuidText(const GUID& guid);

} // namespace sim
