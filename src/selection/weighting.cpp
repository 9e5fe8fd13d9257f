#include "selection/weighting.h"

#include "inventory/bus_type_names.h"
#include "log/log_texts.h"
#include "log/log_writer.h"
#include "selection/weight_scale.h"

#include <winioctl.h>

namespace {

const LONG NoDriveLogged = 999;

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
    if (record.BusType == RaidBusType) {
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
    LogMessage(logPath, L"Drive[%d].Path=%s\r\n", k, r.Path);
    LogMessage(logPath, L"Drive[%d].DeviceID=%s\r\n", k, r.DeviceID);
    LogMessage(logPath, L"Drive[%d].Index=%x\r\n", k, r.Index);
    LogMessage(logPath, L"Drive[%d].Port=%d\r\n", k, r.Port);
    LogMessage(logPath, L"Drive[%d].Bus=%d\r\n", k, r.Bus);
    LogMessage(logPath, L"Drive[%d].TargetId=%d\r\n", k, r.TargetId);
    LogMessage(logPath, L"Drive[%d].Lun=%d\r\n", k, r.Lun);
    LogMessage(logPath, L"Drive[%d].Removable=%d\r\n", k, r.Removable);
    LogMessage(logPath, L"Drive[%d].isIntelOptaneCache=%d\r\n", k, r.isIntelOptaneCache);
    LogMessage(logPath, L"Drive[%d].isIntelTGDisks=%d\r\n", k, r.isIntelTGDisks);
    LogMessage(logPath, L"Drive[%d].DeviceType=%d\r\n", k, static_cast<int>(r.DeviceType));
    LogMessage(logPath, L"Drive[%d].BusType=%d\r\n", k, r.BusType);
    LogMessage(logPath, L"Drive[%d].NVMeGen=%d\r\n", k, r.NVMeGen);
    LogMessage(logPath, L"Drive[%d].SeekPenalty=%d\r\n", k, r.SeekPenalty);
    LogMessage(logPath, L"Drive[%d].weight_speed=%I64u\r\n", k, speed);
    LogMessage(logPath, L"Drive[%d].Size=%dGB\r\n", k, static_cast<DWORD>(r.Size));
    LogMessage(logPath, L"Drive[%d].weight_size=%I64u\r\n", k, size);
    LogMessage(logPath, L"Drive[%d].PartitionCount=%d\r\n", k, r.PartitionCount);
    LogMessage(logPath, L"Drive[%d].IsSysDisk=%d\r\n", k, r.IsSysDisk);
    LogMessage(logPath, L"Drive[%d].weight_SysDisk=%I64u\r\n", k, sysDisk);
    LogMessage(logPath, L"Drive[%d].Order=%d\r\n", k, r.Order);
    LogMessage(logPath, L"Drive[%d].weight_order=%I64u\r\n", k, order);
    LogMessage(logPath, L"Drive[%d].Weight=%I64u\r\n", k, r.Weight);
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
