#include "inventory/drive_record.h"

void InitializeDriveRecord(DriveRecord* record) {
    ZeroMemory(record, sizeof(*record));
    record->Order = UnknownDeviceNumber;
    record->SeekPenalty = -1;
}
