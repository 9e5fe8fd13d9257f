/* A test-only kernel driver for Wine that plays the disks and SCSI controllers of a simulated
 * machine, so that the unmodified destpick.exe meets them through Wine's own I/O manager. What
 * each device answers is read once, at start, from the service key's Parameters subkey, which
 * wine_machine writes; the answers follow the stand-in's rules (docs/machine-format.md). Never
 * shipped.
 *
 * Parameters: DiskCount, ControllerCount; counters UnknownRequests and Writes, which this driver
 * raises. Subkeys Disk<k> and Controller<k>: Link, the name that CreateFileW opens; without it the
 * device is not created, so that its name does not open (Wine opens a device whatever its driver
 * answers to IRP_MJ_CREATE, so that is the one open failure a driver can play). A disk:
 * RequestCount and subkeys Request<r>, one per request of the machine model's table:
 * ControlCode, PropertyId (property queries only), how the reply is handed over (LeastRoom,
 * CutToRoom, ScriptedFailures), Reply [NTSTATUS][reply bytes], absent when the reply is left
 * out, and Failures (0xFFFFFFFF: always) with FailureStatus. A controller: Answer
 * [NTSTATUS][byte count][reply bytes], DiskAnswerCount and DiskAnswer<j>
 * [disk ID][NTSTATUS][byte count][reply bytes].
 */
#include <ntddk.h>

#define SCSI_MINIPORT 0x4D008

#define POOL_TAG 0x6B734464u /* "dDsk" in a pool dump */
#define ALWAYS_FAILS 0xFFFFFFFFu
#define NO_PROPERTY 0xFFFFFFFFu
#define SRB_HEADER_SIZE 28
#define SRB_RETURN_CODE_OFFSET 20
#define NAME_CHARS 300
#define WORD_SIZE ((ULONG)sizeof(ULONG))
#define PROPERTY_QUERY_SIZE (2 * WORD_SIZE) /* STORAGE_PROPERTY_QUERY up to its QueryType */

enum Kind { KindDisk = 1, KindController = 2 };

/* One scripted answer: a registry value's data, read as words followed by bytes. */
typedef struct Answer {
    KEY_VALUE_PARTIAL_INFORMATION* value; /* NULL: left out */
    ULONG diskId;
    NTSTATUS status;
    ULONG count;
    const UCHAR* bytes;
    ULONG length;
} Answer;

/* A request the disk knows, how its reply is handed over, and the reply. */
typedef struct Row {
    ULONG controlCode;
    ULONG propertyId; /* NO_PROPERTY: not a property query */
    ULONG leastRoom;
    BOOLEAN cutToRoom;
    BOOLEAN scriptedFailures;
    ULONG failures;
    NTSTATUS failureStatus;
    ULONG attempts;
    Answer reply;
} Row;

typedef struct Player {
    enum Kind kind;
    UNICODE_STRING link;
    WCHAR linkChars[NAME_CHARS];
    /* A disk */
    ULONG rowCount;
    Row* rows;
    /* A controller */
    Answer answer;
    ULONG diskAnswerCount;
    Answer* diskAnswers;
} Player;

static HANDLE Parameters;
static ULONG UnknownRequests;
static ULONG Writes;

static void Append(WCHAR* text, PCWSTR tail) {
    while (*text != 0) {
        ++text;
    }
    while (*tail != 0) {
        *text++ = *tail++;
    }
    *text = 0;
}

static void AppendNumber(WCHAR* text, ULONG number) {
    WCHAR digits[12];
    int at = 11;
    digits[at] = 0;
    do {
        digits[--at] = (WCHAR)(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    Append(text, digits + at);
}

static NTSTATUS OpenKey(HANDLE root, PUNICODE_STRING name, ACCESS_MASK access, HANDLE* key) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, root,
                               NULL);
    return ZwOpenKey(key, access, &attributes);
}

static void Release(void* block) {
    if (block != NULL) {
        ExFreePoolWithTag(block, POOL_TAG);
    }
}

/* The whole value in a block of its own, or NULL when the key has no such value. */
static KEY_VALUE_PARTIAL_INFORMATION* ReadValue(HANDLE key, PCWSTR name) {
    UNICODE_STRING valueName;
    ULONG size = 0;
    KEY_VALUE_PARTIAL_INFORMATION* value;
    RtlInitUnicodeString(&valueName, name);
    ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, NULL, 0, &size);
    if (size == 0) {
        return NULL;
    }
    value = ExAllocatePoolWithTag(PagedPool, size, POOL_TAG);
    if (value != NULL && !NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation,
                                                     value, size, &size))) {
        ExFreePoolWithTag(value, POOL_TAG);
        value = NULL;
    }
    return value;
}

static ULONG ReadDword(HANDLE key, PCWSTR name, ULONG absent) {
    KEY_VALUE_PARTIAL_INFORMATION* value = ReadValue(key, name);
    ULONG number = absent;
    if (value != NULL && value->DataLength == sizeof(ULONG)) {
        RtlCopyMemory(&number, value->Data, sizeof(ULONG));
    }
    Release(value);
    return number;
}

static void WriteDword(PCWSTR name, ULONG number) {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    ZwSetValueKey(Parameters, &valueName, 0, REG_DWORD, &number, sizeof(number));
}

/* Takes the next ULONG of the value's data into *word; FALSE when the data ends first. */
static BOOLEAN TakeWord(Answer* answer, ULONG* word) {
    if (answer->length < WORD_SIZE) {
        return FALSE;
    }
    RtlCopyMemory(word, answer->bytes, WORD_SIZE);
    answer->bytes += WORD_SIZE;
    answer->length -= WORD_SIZE;
    return TRUE;
}

/* An answer value: [disk ID] when withDiskId, the NTSTATUS, [byte count] when withCount, then
 * the reply bytes. A value too short for its words counts as left out. */
static void ReadAnswer(HANDLE key, PCWSTR name, BOOLEAN withDiskId, BOOLEAN withCount,
                       Answer* answer) {
    ULONG status = 0;
    RtlZeroMemory(answer, sizeof(*answer));
    answer->value = ReadValue(key, name);
    if (answer->value == NULL) {
        return;
    }
    answer->bytes = answer->value->Data;
    answer->length = answer->value->DataLength;
    if ((withDiskId && !TakeWord(answer, &answer->diskId)) || !TakeWord(answer, &status) ||
        (withCount && !TakeWord(answer, &answer->count))) {
        ExFreePoolWithTag(answer->value, POOL_TAG);
        RtlZeroMemory(answer, sizeof(*answer));
        return;
    }
    answer->status = (NTSTATUS)status;
}

static void ReadRow(HANDLE diskKey, ULONG number, Row* row) {
    WCHAR keyChars[32] = L"Request";
    UNICODE_STRING keyName;
    HANDLE key;
    RtlZeroMemory(row, sizeof(*row));
    AppendNumber(keyChars, number);
    RtlInitUnicodeString(&keyName, keyChars);
    if (!NT_SUCCESS(OpenKey(diskKey, &keyName, KEY_READ, &key))) {
        return;
    }
    row->controlCode = ReadDword(key, L"ControlCode", 0);
    row->propertyId = ReadDword(key, L"PropertyId", NO_PROPERTY);
    row->leastRoom = ReadDword(key, L"LeastRoom", 0);
    row->cutToRoom = ReadDword(key, L"CutToRoom", 0) != 0;
    row->scriptedFailures = ReadDword(key, L"ScriptedFailures", 0) != 0;
    row->failures = ReadDword(key, L"Failures", 0);
    row->failureStatus = (NTSTATUS)ReadDword(key, L"FailureStatus", (ULONG)STATUS_BUFFER_TOO_SMALL);
    ReadAnswer(key, L"Reply", FALSE, FALSE, &row->reply);
    ZwClose(key);
}

/* Room for count entries; none when there is no memory for them. */
static void* AllocateEntries(ULONG* count, SIZE_T entrySize) {
    void* entries =
        *count == 0 ? NULL : ExAllocatePoolWithTag(PagedPool, *count * entrySize, POOL_TAG);
    if (entries == NULL) {
        *count = 0;
    }
    return entries;
}

static void ReadDisk(HANDLE key, Player* player) {
    ULONG k;
    player->rowCount = ReadDword(key, L"RequestCount", 0);
    player->rows = AllocateEntries(&player->rowCount, sizeof(Row));
    for (k = 0; k < player->rowCount; ++k) {
        ReadRow(key, k, &player->rows[k]);
    }
}

static void ReadController(HANDLE key, Player* player) {
    ULONG k;
    ReadAnswer(key, L"Answer", FALSE, TRUE, &player->answer);
    player->diskAnswerCount = ReadDword(key, L"DiskAnswerCount", 0);
    player->diskAnswers = AllocateEntries(&player->diskAnswerCount, sizeof(Answer));
    for (k = 0; k < player->diskAnswerCount; ++k) {
        WCHAR name[32] = L"DiskAnswer";
        AppendNumber(name, k);
        ReadAnswer(key, name, TRUE, TRUE, &player->diskAnswers[k]);
    }
}

static void ReleaseAnswers(Player* player) {
    ULONG k;
    for (k = 0; k < player->rowCount; ++k) {
        Release(player->rows[k].reply.value);
    }
    Release(player->answer.value);
    for (k = 0; k < player->diskAnswerCount; ++k) {
        Release(player->diskAnswers[k].value);
    }
    Release(player->rows);
    Release(player->diskAnswers);
}

static void ReleasePlayer(PDEVICE_OBJECT device) {
    Player* player = device->DeviceExtension;
    IoDeleteSymbolicLink(&player->link);
    ReleaseAnswers(player);
    IoDeleteDevice(device);
}

/* The device, its answers as its subkey holds them, and the link that CreateFileW opens. */
static NTSTATUS CreateDevice(PDRIVER_OBJECT driver, enum Kind kind, PUNICODE_STRING deviceName,
                             HANDLE key, const KEY_VALUE_PARTIAL_INFORMATION* link) {
    PDEVICE_OBJECT device;
    Player* player;
    NTSTATUS status;
    if (link->Type != REG_SZ || link->DataLength >= NAME_CHARS * sizeof(WCHAR)) {
        return STATUS_INVALID_PARAMETER;
    }
    status = IoCreateDevice(driver, sizeof(Player), deviceName,
                            kind == KindDisk ? FILE_DEVICE_DISK : FILE_DEVICE_CONTROLLER, 0, FALSE,
                            &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    player = device->DeviceExtension;
    RtlZeroMemory(player, sizeof(*player));
    player->kind = kind;
    RtlCopyMemory(player->linkChars, link->Data, link->DataLength);
    RtlInitUnicodeString(&player->link, player->linkChars);
    if (kind == KindDisk) {
        ReadDisk(key, player);
    } else {
        ReadController(key, player);
    }
    status = IoCreateSymbolicLink(&player->link, deviceName);
    if (!NT_SUCCESS(status)) {
        ReleaseAnswers(player);
        IoDeleteDevice(device);
    }
    return status;
}

/* Device <kind name><number>, unless its subkey names no link. */
static NTSTATUS CreatePlayer(PDRIVER_OBJECT driver, enum Kind kind, ULONG number) {
    WCHAR keyChars[32] = L"";
    WCHAR deviceChars[64] = L"\\Device\\Destpick";
    UNICODE_STRING keyName, deviceName;
    KEY_VALUE_PARTIAL_INFORMATION* link;
    HANDLE key;
    NTSTATUS status;

    Append(keyChars, kind == KindDisk ? L"Disk" : L"Controller");
    AppendNumber(keyChars, number);
    Append(deviceChars, keyChars);
    RtlInitUnicodeString(&keyName, keyChars);
    RtlInitUnicodeString(&deviceName, deviceChars);
    status = OpenKey(Parameters, &keyName, KEY_READ, &key);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    link = ReadValue(key, L"Link");
    if (link != NULL) {
        status = CreateDevice(driver, kind, &deviceName, key, link);
        ExFreePoolWithTag(link, POOL_TAG);
    }
    ZwClose(key);
    return status;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS Deliver(PIRP irp, const UCHAR* bytes, ULONG length) {
    if (length != 0) {
        RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, bytes, length);
    }
    return Complete(irp, STATUS_SUCCESS, length);
}

static NTSTATUS Refuse(PIRP irp, ULONG* counter, PCWSTR counterName, NTSTATUS status) {
    ++*counter;
    WriteDword(counterName, *counter);
    return Complete(irp, status, 0);
}

/* Scripted failures come first, every request counting as an attempt; then a reply left out, too
 * little room, a scripted error, and a reply longer than the room: cut to it or refused. */
static NTSTATUS HandOver(PIRP irp, Row* row, ULONG room) {
    const ULONG attempt = row->attempts++;
    const Answer* reply = &row->reply;
    if (row->scriptedFailures && (row->failures == ALWAYS_FAILS || attempt < row->failures)) {
        return Complete(irp, row->failureStatus, 0);
    }
    if (reply->value == NULL) {
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (room < row->leastRoom) {
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    if (!NT_SUCCESS(reply->status)) {
        return Complete(irp, reply->status, 0);
    }
    if (reply->length > room && !row->cutToRoom) {
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    return Deliver(irp, reply->bytes, reply->length < room ? reply->length : room);
}

/* The disk's row for a control code and, unless propertyId is NULL, the property asked for. */
static Row* FindRow(const Player* disk, ULONG controlCode, const ULONG* propertyId) {
    ULONG k;
    for (k = 0; k < disk->rowCount; ++k) {
        Row* row = &disk->rows[k];
        if (row->controlCode == controlCode &&
            (propertyId == NULL || row->propertyId == *propertyId)) {
            return row;
        }
    }
    return NULL;
}

/* A property query names its property in the query's PropertyId, with QueryType 0 (a standard
 * query, not an existence check). */
static NTSTATUS DiskControl(PIRP irp, Player* disk, PIO_STACK_LOCATION stack) {
    const ULONG controlCode = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG* query = irp->AssociatedIrp.SystemBuffer;
    Row* row = FindRow(disk, controlCode, NULL);
    if (row == NULL) {
        /* Every request that would change the disk ends here too. */
        return Refuse(irp, &UnknownRequests, L"UnknownRequests", STATUS_INVALID_DEVICE_REQUEST);
    }
    if (row->propertyId != NO_PROPERTY) {
        if (stack->Parameters.DeviceIoControl.InputBufferLength < PROPERTY_QUERY_SIZE) {
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        }
        if (query[1] != 0) {
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        }
        row = FindRow(disk, controlCode, &query[0]);
        if (row == NULL) {
            return Complete(irp, STATUS_NOT_SUPPORTED, 0);
        }
    }
    return HandOver(irp, row, stack->Parameters.DeviceIoControl.OutputBufferLength);
}

/* The answer for the disk whose ID the request carries in its header, else the controller's own;
 * the byte count goes back as given, the reply bytes (never more than the count) before zeros. */
static NTSTATUS ControllerControl(PIRP irp, const Player* controller, PIO_STACK_LOCATION stack) {
    const ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
    const Answer* answer = &controller->answer;
    ULONG diskId;
    ULONG k;
    if (stack->Parameters.DeviceIoControl.IoControlCode != SCSI_MINIPORT) {
        return Refuse(irp, &UnknownRequests, L"UnknownRequests", STATUS_INVALID_DEVICE_REQUEST);
    }
    if (stack->Parameters.DeviceIoControl.InputBufferLength < SRB_HEADER_SIZE) {
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    RtlCopyMemory(&diskId, buffer + SRB_RETURN_CODE_OFFSET, sizeof(diskId));
    for (k = 0; k < controller->diskAnswerCount; ++k) {
        if (controller->diskAnswers[k].value != NULL &&
            controller->diskAnswers[k].diskId == diskId) {
            answer = &controller->diskAnswers[k];
        }
    }
    if (!NT_SUCCESS(answer->status)) {
        return Complete(irp, answer->status, 0);
    }
    if (answer->count > room || answer->length > answer->count) {
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    RtlZeroMemory(buffer, answer->count);
    RtlCopyMemory(buffer, answer->bytes, answer->length);
    return Complete(irp, STATUS_SUCCESS, answer->count);
}

static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    Player* player = device->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
    case IRP_MJ_CLEANUP:
        return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
        return player->kind == KindDisk ? DiskControl(irp, player, stack)
                                        : ControllerControl(irp, player, stack);
    case IRP_MJ_WRITE:
        return Refuse(irp, &Writes, L"Writes", STATUS_MEDIA_WRITE_PROTECTED);
    default:
        return Refuse(irp, &UnknownRequests, L"UnknownRequests", STATUS_INVALID_DEVICE_REQUEST);
    }
}

static void Unload(PDRIVER_OBJECT driver) {
    while (driver->DeviceObject != NULL) {
        ReleasePlayer(driver->DeviceObject);
    }
    ZwClose(Parameters);
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING parametersName;
    HANDLE service;
    NTSTATUS status;
    ULONG disks, controllers, k;
    int major;

    status = OpenKey(NULL, registryPath, KEY_READ, &service);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    RtlInitUnicodeString(&parametersName, L"Parameters");
    status = OpenKey(service, &parametersName, KEY_READ | KEY_SET_VALUE, &Parameters);
    ZwClose(service);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    for (major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        driver->MajorFunction[major] = Dispatch;
    }
    driver->DriverUnload = Unload;
    UnknownRequests = 0;
    Writes = 0;
    WriteDword(L"UnknownRequests", 0);
    WriteDword(L"Writes", 0);
    disks = ReadDword(Parameters, L"DiskCount", 0);
    controllers = ReadDword(Parameters, L"ControllerCount", 0);
    for (k = 0; k < disks && NT_SUCCESS(status); ++k) {
        status = CreatePlayer(driver, KindDisk, k);
    }
    for (k = 0; k < controllers && NT_SUCCESS(status); ++k) {
        status = CreatePlayer(driver, KindController, k);
    }
    if (!NT_SUCCESS(status)) {
        Unload(driver);
    }
    return status;
}
