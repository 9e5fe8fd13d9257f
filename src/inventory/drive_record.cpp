#include "inventory/drive_record.h"

void InitializeDriveRecord(DriveRecord* record) {
    ZeroMemory(record, sizeof(*record));
    record->Order = UnknownDeviceNumber;
    record->BusType = 0;
    record->SeekPenalty = -1;
    record->Removable = 0;
    record->isIntelOptaneCache = 0;
    record->isIntelTGDisks = 0;
    record->isOptane = 0;
    record->NVMeGen = 0;
}
