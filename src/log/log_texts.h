// The formats of the log's lines that destpick-explain reads back: the system logs with them and
// the explainer splits them at their conversions to recognise the lines, so that a change of
// wording reaches both. wvsprintfW's conventions; the text before the line end is what counts.
#pragma once

const wchar_t RunBanner[] = L" --- Collecting Information ----------------- \r\n";
const wchar_t LogPathLine[] = L"LogPath=[%s]\r\n";
const wchar_t ExeDirPathLine[] = L"ExeDirPath=[%s]\r\n";
const wchar_t ExeFileNameLine[] = L"ExeFileName=[%s]\r\n";
const wchar_t ExeVersionLine[] = L"ExeVersion=[%s]\r\n";
const wchar_t RecordsNotAllocatedLine[] =
    L"Cannot allocate %d drive records, no destination chosen.\r\n";

// A disk's probe, in the order the probe writes it.
const wchar_t NoInterfaceDetailLine[] =
    L"[Disk%i] Interface detail reports no size (%u bytes).\r\n";
const wchar_t NoDetailBufferLine[] =
    L"[Disk%i] Cannot allocate %u bytes for the interface detail.\r\n";
const wchar_t DevicePathLine[] = L"[Disk%i] DevicePath=%s\r\n";
const wchar_t LongDevicePathLine[] =
    L"[Disk%i] DevicePath is longer than %u characters, Path holds its start.\r\n";
const wchar_t PathMarkersLine[] = L"[Disk%i] Check TG/Optane\r\n";
const wchar_t OpenDiskLine[] = L"[Disk%i] Get disk info by DeviceIoControl\r\n";
const wchar_t DeviceNumberLine[] = L"[Disk%i] Get order \r\n";
const wchar_t PartitionNumberLine[] = L"[Disk%i] PartitionNumber=%d\r\n";
const wchar_t DescriptorLine[] = L"[Disk%i] Get BusType, removable, device type. \r\n";
const wchar_t BusTypeLine[] = L"[Disk%i] BusType=%d. \r\n";
const wchar_t DeviceTypeLine[] = L"[Disk%i] DeviceType=%d. \r\n";
const wchar_t SeekPenaltyLine[] = L"[Disk%i] Get SeekPenalty. \r\n";
const wchar_t NoSeekPenaltyLine[] = L"[Disk%i] Failed to get seek penalty, an USB external "
                                    L"storage, maybe card reader or USB disk.\r\n";
const wchar_t SizeLine[] = L"[Disk%i] Get disk size in GB. \r\n";
const wchar_t NoSizeLine[] = L"[Disk%i] Failed to get size\r\n";
const wchar_t InvalidGeometryLine[] = L"[Disk%i] Geometry gives no valid size, size unknown.\r\n";
const wchar_t ScsiAddressLine[] = L"[Disk%i] Get port number, bus number and target ID. \r\n";
const wchar_t PartitionsLine[] = L"[Disk%i] Get partitions. \r\n";
const wchar_t LayoutLine[] = L"[Disk%i] Get partition amount. \r\n";
const wchar_t LayoutGaveUpLine[] = L"[Disk%i] Failed to get paritions by "
                                   L"IOCTL_DISK_GET_DRIVE_LAYOUT_EX, error code = [0x%08X].\r\n";
const wchar_t LayoutDoneLine[] = L"[Disk%i] IOCTL_DISK_GET_DRIVE_LAYOUT_EX done, i=[%d].\r\n";
const wchar_t LayoutBytesLine[] =
    L"[Disk%i] Byte returned: %u, bytes of structure DRIVE_LAYOUT_INFORMATION: %u.\r\n";
const wchar_t PartitionCountLine[] = L"[Disk%i] PartitionCount=%d.\r\n";
const wchar_t PartitionWalkLine[] = L"[Disk%i] Go through each partition. \r\n";
const wchar_t GptDiskLine[] = L"[Disk%i] Disk is GPT.\r\n";
const wchar_t MbrDiskLine[] = L"[Disk%i] Disk is MBR.\r\n";
const wchar_t GptPartitionLine[] = L"[Disk%i] partition%u {%s}: [%s] size=%I64uBytes.\r\n";
const wchar_t EfiPartitionLine[] = L"[Disk%i] Partition%u is EFI partition.\r\n";
const wchar_t MbrPartitionLine[] = L"[Disk%i] Partition%u: [%s] size=%I64uBytes.\r\n";
const wchar_t SystemDiskLine[] = L"[Disk%i] This is a OS disk\r\n";
const wchar_t DeviceIdSourceLine[] = L"[Disk%i] Convert device path to device id. SRC: %s \r\n";
const wchar_t DeviceIdLine[] = L"[Disk%i] Convert device path to device id. DST:     %s \r\n";
const wchar_t LinkSpeedLine[] = L"[Disk%i] Try to get NVMe generation.\r\n";
const wchar_t RaidQueryLine[] = L"[Disk%i] Try to get information under Intel RST/VMD.\r\n";
const wchar_t RaidAnsweredLine[] = L"[Disk%i] Success getting information under Intel RST/VMD.\r\n";
const wchar_t RaidDeviceTypeLine[] = L"[Disk%i] Update DeviceType.\r\n";
const wchar_t RaidGenerationLine[] = L"[Disk%i] Update NVMe generation.\r\n";
// Any request, the layout's included, whose answer is shorter than the fields read from it.
const wchar_t ShortReplyLine[] =
    L"[Disk%i] %s answered %u bytes, fewer than the %u it needs; ignored.\r\n";

// The RAID query's lines, by the disk's SCSI address.
const wchar_t RaidRefusedLine[] = L"[Disk %i-%i-%i-%i] Function failed\r\n";
const wchar_t RaidLastErrorLine[] = L"[Disk %i-%i-%i-%i] GetLastError=0x%08X\r\n";
const wchar_t NoRaidControllerLine[] = L"[Disk %i-%i-%i-%i] Cannot find SCSI controller\r\n";

// The weighting of each candidate.
const wchar_t CandidateBanner[] = L" --- Candidate Drive [%d] ---------------- \r\n";
const wchar_t RemovableExclusion[] = L"Removable disk, never be a main storage condidate.\r\n";
const wchar_t UsbExclusion[] =
    L"Removable external USB HDD, never be a main storage condidate.\r\n";
const wchar_t OptaneCacheExclusion[] = L"Optane cache disk, never be a main storage condidate.\r\n";
const wchar_t UnknownNumberExclusion[] =
    L"Unknown device number, never be a main storage condidate.\r\n";
// A weighed candidate's block: one line a field of its record, "Drive[<position>].<name>=<value>",
// in this order.
enum DriveField {
    DrivePath,
    DriveDeviceId,
    DriveIndex,
    DrivePort,
    DriveBus,
    DriveTargetId,
    DriveLun,
    DriveRemovable,
    DriveOptaneCache,
    DriveTgDisks,
    DriveDeviceType,
    DriveBusType,
    DriveNvmeGen,
    DriveSeekPenalty,
    DriveSpeedWeight,
    DriveSize,
    DriveSizeWeight,
    DrivePartitionCount,
    DriveSysDisk,
    DriveSysDiskWeight,
    DriveOrder,
    DriveOrderWeight,
    DriveWeight,
    DriveFieldCount
};
const wchar_t* const DriveFieldLines[DriveFieldCount] = {
    L"Drive[%d].Path=%s\r\n",
    L"Drive[%d].DeviceID=%s\r\n",
    L"Drive[%d].Index=%x\r\n",
    L"Drive[%d].Port=%d\r\n",
    L"Drive[%d].Bus=%d\r\n",
    L"Drive[%d].TargetId=%d\r\n",
    L"Drive[%d].Lun=%d\r\n",
    L"Drive[%d].Removable=%d\r\n",
    L"Drive[%d].isIntelOptaneCache=%d\r\n",
    L"Drive[%d].isIntelTGDisks=%d\r\n",
    L"Drive[%d].DeviceType=%d\r\n",
    L"Drive[%d].BusType=%d\r\n",
    L"Drive[%d].NVMeGen=%d\r\n",
    L"Drive[%d].SeekPenalty=%d\r\n",
    L"Drive[%d].weight_speed=%I64u\r\n",
    L"Drive[%d].Size=%dGB\r\n",
    L"Drive[%d].weight_size=%I64u\r\n",
    L"Drive[%d].PartitionCount=%d\r\n",
    L"Drive[%d].IsSysDisk=%d\r\n",
    L"Drive[%d].weight_SysDisk=%I64u\r\n",
    L"Drive[%d].Order=%d\r\n",
    L"Drive[%d].weight_order=%I64u\r\n",
    L"Drive[%d].Weight=%I64u\r\n",
};
const wchar_t TooSmallLine[] = L"Too small to be OS disk.\r\n";
const wchar_t TgSizeLine[] = L"It's one of TG disks, bigger get weight.\r\n";
const wchar_t SizeWeightLine[] = L"It's not TG disks, smaller get weight.\r\n";

// The pick and the report.
const wchar_t PickBanner[] = L" --- Pick Drive By Weight ----------------- \r\n";
const wchar_t CompareLine[] =
    L"Compare Drive%d[Index:%d][Weight:%I64u] to Current[Index:%d][Weight:%I64u]\r\n";
const wchar_t NewDefaultLine[] = L"New default index [%d] with weight [%I64u]\r\n";
const wchar_t ReportBanner[] = L" --- Report ----------------- \r\n";
// The answer destpick prints, and logs as its report line.
const wchar_t ReportedDriveAnswer[] = L"Destination=\\\\.\\PHYSICALDRIVE%d";
const wchar_t NoDestinationAnswer[] = L"Destination=UNKNOWN";
