#include "selection/weighting.h"

#include "inventory/bus_type_names.h"
#include "log/log_texts.h"
#include "log/log_writer.h"
#include "selection/weight_scale.h"

#include <winioctl.h>

namespace {

const LONG NoDriveLogged = 999;
// destpick-explain knows the RAID bus by this constant.
static_assert(RaidBusType == BusTypeRAID);

} // namespace

LPCWSTR ExclusionReason(const DriveRecord& record) {
    if (record.Removable == 1) {
        return RemovableExclusion;
    }
    if (record.BusType == BusTypeUsb) {
        return UsbExclusion;
    }
    if (record.isIntelOptaneCache == 1) {
        return OptaneCacheExclusion;
    }
    if (record.Order > HighestReportableDeviceNumber) {
        return UnknownNumberExclusion;
    }
    return NULL;
}

namespace {

LONGLONG SpeedClass(const DriveRecord& record) {
    const bool solidState = record.SeekPenalty == 0;
    if (record.NVMeGen >= 4) {
        return HighestSpeedClass;
    }
    if (record.isOptane != 0 || record.isIntelTGDisks != 0) {
        return 7;
    }
    if (record.BusType == BusTypeNvme || record.NVMeGen > 0) {
        return 6;
    }
    if (record.BusType == BusTypeRAID) {
        return solidState ? 5 : 4;
    }
    if (record.BusType == BusTypeSata && solidState) {
        return 3;
    }
    if (record.BusType == BusTypeSd) {
        return 2;
    }
    if (record.BusType == BusTypeSata) {
        return 1;
    }
    return 0;
}

LONGLONG SizeWeight(const DriveRecord& record, LPCWSTR logPath) {
    if (record.Size < 4) {
        LogMessage(logPath, TooSmallLine);
        return 0;
    }
    // A size no disk has must not overflow the 64-bit products; the cap is far above any real
    // capacity, so it changes nothing a real disk reports.
    const ULONGLONG sizeCap = 9000000000000000ULL;
    const LONGLONG size = static_cast<LONGLONG>(record.Size < sizeCap ? record.Size : sizeCap);
    if (record.isIntelTGDisks != 0) {
        LogMessage(logPath, TgSizeLine);
        return (size + 5000) * 1000;
    }
    LogMessage(logPath, SizeWeightLine);
    return 10000000 - size * 1000;
}

// Device numbers 0 to 50 give 50 down to 0. Beyond 50 the term keeps falling by one per number
// until -49, so that it never adds to a weight, never spans 100 (the system-partition term) and
// still prefers the lower number; from 99 on all numbers share -49.
LONGLONG OrderWeight(DWORD order) {
    const DWORD lowestDistinct = 99;
    return 50 - static_cast<LONGLONG>(order < lowestDistinct ? order : lowestDistinct);
}

void LogDriveFields(const DriveRecord& r, LONG k, LONGLONG speed, LONGLONG size, LONGLONG sysDisk,
                    LONGLONG order, LPCWSTR logPath) {
    LogMessage(logPath, DriveFieldLines[DrivePath], k, r.Path);
    LogMessage(logPath, DriveFieldLines[DriveDeviceId], k, r.DeviceID);
    LogMessage(logPath, DriveFieldLines[DriveIndex], k, r.Index);
    LogMessage(logPath, DriveFieldLines[DrivePort], k, r.Port);
    LogMessage(logPath, DriveFieldLines[DriveBus], k, r.Bus);
    LogMessage(logPath, DriveFieldLines[DriveTargetId], k, r.TargetId);
    LogMessage(logPath, DriveFieldLines[DriveLun], k, r.Lun);
    LogMessage(logPath, DriveFieldLines[DriveRemovable], k, r.Removable);
    LogMessage(logPath, DriveFieldLines[DriveOptaneCache], k, r.isIntelOptaneCache);
    LogMessage(logPath, DriveFieldLines[DriveTgDisks], k, r.isIntelTGDisks);
    LogMessage(logPath, DriveFieldLines[DriveDeviceType], k, static_cast<int>(r.DeviceType));
    LogMessage(logPath, DriveFieldLines[DriveBusType], k, r.BusType);
    LogMessage(logPath, DriveFieldLines[DriveNvmeGen], k, r.NVMeGen);
    LogMessage(logPath, DriveFieldLines[DriveSeekPenalty], k, r.SeekPenalty);
    LogMessage(logPath, DriveFieldLines[DriveSpeedWeight], k, speed);
    LogMessage(logPath, DriveFieldLines[DriveSize], k, static_cast<DWORD>(r.Size));
    LogMessage(logPath, DriveFieldLines[DriveSizeWeight], k, size);
    LogMessage(logPath, DriveFieldLines[DrivePartitionCount], k, r.PartitionCount);
    LogMessage(logPath, DriveFieldLines[DriveSysDisk], k, r.IsSysDisk);
    LogMessage(logPath, DriveFieldLines[DriveSysDiskWeight], k, sysDisk);
    LogMessage(logPath, DriveFieldLines[DriveOrder], k, r.Order);
    LogMessage(logPath, DriveFieldLines[DriveOrderWeight], k, order);
    LogMessage(logPath, DriveFieldLines[DriveWeight], k, r.Weight);
}

void WeighDrive(DriveRecord* record, LONG k, LPCWSTR logPath) {
    LogMessage(logPath, L"\r\n");
    LogMessage(logPath, CandidateBanner, k);
    LPCWSTR exclusion = ExclusionReason(*record);
    if (exclusion != NULL) {
        record->Weight = 0;
        LogMessage(logPath, exclusion);
        return;
    }
    const LONGLONG speed = SpeedClass(*record) * SpeedClassStep;
    const LONGLONG size = SizeWeight(*record, logPath);
    const LONGLONG sysDisk = record->IsSysDisk != 0 ? SystemDiskWeight : 0;
    const LONGLONG order = OrderWeight(record->Order);
    record->Weight = order + sysDisk + speed + size;
    LogDriveFields(*record, k, speed, size, sysDisk, order, logPath);
}

} // namespace

void WeighDrives(DriveRecord* records, LONG count, LPCWSTR logPath) {
    for (LONG k = 0; k < count; ++k) {
        WeighDrive(&records[k], k, logPath);
    }
}

LONG PickDrive(const DriveRecord* records, LONG count, LPCWSTR logPath) {
    LogMessage(logPath, L"\r\n");
    LogMessage(logPath, L"\r\n");
    LogMessage(logPath, PickBanner);
    LONG chosen = NoDriveChosen;
    LONGLONG currentWeight = LightestPick;
    for (LONG k = 0; k < count; ++k) {
        LogMessage(logPath, CompareLine, k, records[k].Index, records[k].Weight,
                   chosen == NoDriveChosen ? NoDriveLogged : chosen, currentWeight);
        if (TakesThePick(records[k].Weight, currentWeight)) {
            LogMessage(logPath, NewDefaultLine, k, records[k].Weight);
            chosen = k;
            currentWeight = records[k].Weight;
        }
    }
    return chosen;
}
