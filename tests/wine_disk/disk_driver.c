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
 * DeviceNumber, DeviceDescriptor, SeekPenalty, Geometry, ScsiAddress and Layout, each
 * [NTSTATUS][reply bytes], absent when the reply is left out; LayoutFailures (0xFFFFFFFF:
 * always) and LayoutFailureStatus. A controller: Answer [NTSTATUS][byte count][reply bytes],
 * DiskAnswerCount and DiskAnswer<j> [disk ID][NTSTATUS][byte count][reply bytes].
 */
#include <ntddk.h>

#define STORAGE_GET_DEVICE_NUMBER 0x2D1080
#define STORAGE_QUERY_PROPERTY 0x2D1400
#define DISK_GET_DRIVE_GEOMETRY 0x70000
#define SCSI_GET_ADDRESS 0x41018
#define DISK_GET_DRIVE_LAYOUT_EX 0x70050
#define SCSI_MINIPORT 0x4D008

#define POOL_TAG 0x6B734464u /* "dDsk" in a pool dump */
#define ALWAYS_FAILS 0xFFFFFFFFu
#define SRB_HEADER_SIZE 28
#define SRB_RETURN_CODE_OFFSET 20
#define NAME_CHARS 300
#define WORD_SIZE ((ULONG)sizeof(ULONG))

enum Kind { KindDisk = 1, KindController = 2 };
enum ReplyIndex {
    DeviceNumber,
    DeviceDescriptor,
    SeekPenalty,
    Geometry,
    ScsiAddress,
    Layout,
    ReplyCount
};

static const PCWSTR ReplyNames[ReplyCount] = {L"DeviceNumber", L"DeviceDescriptor", L"SeekPenalty",
                                              L"Geometry",     L"ScsiAddress",      L"Layout"};
/* The room each fixed structure needs; 0 where the stand-in checks the room otherwise. */
static const ULONG StructureSizes[ReplyCount] = {12, 0, 0, 24, 8, 0};

/* One scripted answer: a registry value's data, read as words followed by bytes. */
typedef struct Answer {
    KEY_VALUE_PARTIAL_INFORMATION* value; /* NULL: left out */
    ULONG diskId;
    NTSTATUS status;
    ULONG count;
    const UCHAR* bytes;
    ULONG length;
} Answer;

typedef struct Player {
    enum Kind kind;
    UNICODE_STRING link;
    WCHAR linkChars[NAME_CHARS];
    /* A disk */
    Answer replies[ReplyCount];
    ULONG layoutFailures;
    NTSTATUS layoutFailureStatus;
    ULONG layoutAttempts;
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
    if (value != NULL) {
        ExFreePoolWithTag(value, POOL_TAG);
    }
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

static void ReleaseAnswer(Answer* answer) {
    if (answer->value != NULL) {
        ExFreePoolWithTag(answer->value, POOL_TAG);
    }
}

static void ReadDisk(HANDLE key, Player* player) {
    int k;
    for (k = 0; k < ReplyCount; ++k) {
        ReadAnswer(key, ReplyNames[k], FALSE, FALSE, &player->replies[k]);
    }
    player->layoutFailures = ReadDword(key, L"LayoutFailures", 0);
    player->layoutFailureStatus =
        (NTSTATUS)ReadDword(key, L"LayoutFailureStatus", (ULONG)STATUS_BUFFER_TOO_SMALL);
}

static void ReadController(HANDLE key, Player* player) {
    ULONG k;
    ReadAnswer(key, L"Answer", FALSE, TRUE, &player->answer);
    player->diskAnswerCount = ReadDword(key, L"DiskAnswerCount", 0);
    if (player->diskAnswerCount == 0) {
        return;
    }
    player->diskAnswers =
        ExAllocatePoolWithTag(PagedPool, player->diskAnswerCount * sizeof(Answer), POOL_TAG);
    if (player->diskAnswers == NULL) {
        player->diskAnswerCount = 0;
        return;
    }
    for (k = 0; k < player->diskAnswerCount; ++k) {
        WCHAR name[32] = L"DiskAnswer";
        AppendNumber(name, k);
        ReadAnswer(key, name, TRUE, TRUE, &player->diskAnswers[k]);
    }
}

static void ReleaseAnswers(Player* player) {
    ULONG k;
    for (k = 0; k < ReplyCount; ++k) {
        ReleaseAnswer(&player->replies[k]);
    }
    ReleaseAnswer(&player->answer);
    for (k = 0; k < player->diskAnswerCount; ++k) {
        ReleaseAnswer(&player->diskAnswers[k]);
    }
    if (player->diskAnswers != NULL) {
        ExFreePoolWithTag(player->diskAnswers, POOL_TAG);
    }
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

/* Requests whose answer is one structure: too little room fails before the answer is looked at,
 * an answer longer than the room fails, a shorter one is delivered as it is. */
static NTSTATUS FixedStructure(PIRP irp, const Answer* reply, ULONG structureSize, ULONG room) {
    if (reply->value == NULL) {
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (room < structureSize) {
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    if (!NT_SUCCESS(reply->status)) {
        return Complete(irp, reply->status, 0);
    }
    if (reply->length > room) {
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    return Deliver(irp, reply->bytes, reply->length);
}

/* Property queries answer with as much of the descriptor as fits. */
static NTSTATUS QueryProperty(PIRP irp, const Player* disk, ULONG inputLength, ULONG room) {
    const ULONG* query = irp->AssociatedIrp.SystemBuffer;
    const Answer* reply;
    if (inputLength < 2 * sizeof(ULONG)) {
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    if (query[1] != 0) {
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (query[0] == 0) {
        reply = &disk->replies[DeviceDescriptor];
    } else if (query[0] == 7) {
        reply = &disk->replies[SeekPenalty];
    } else {
        return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
    if (reply->value == NULL) {
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (room < 2 * sizeof(ULONG)) {
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    if (!NT_SUCCESS(reply->status)) {
        return Complete(irp, reply->status, 0);
    }
    return Deliver(irp, reply->bytes, reply->length < room ? reply->length : room);
}

/* Every request counts as an attempt; the layout goes out whole or not at all. */
static NTSTATUS DriveLayout(PIRP irp, Player* disk, ULONG room) {
    const Answer* reply = &disk->replies[Layout];
    const ULONG attempt = disk->layoutAttempts++;
    if (disk->layoutFailures == ALWAYS_FAILS || attempt < disk->layoutFailures) {
        return Complete(irp, disk->layoutFailureStatus, 0);
    }
    if (reply->value == NULL) {
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (!NT_SUCCESS(reply->status)) {
        return Complete(irp, reply->status, 0);
    }
    if (room < reply->length) {
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    return Deliver(irp, reply->bytes, reply->length);
}

static NTSTATUS DiskControl(PIRP irp, Player* disk, PIO_STACK_LOCATION stack) {
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case STORAGE_GET_DEVICE_NUMBER:
        return FixedStructure(irp, &disk->replies[DeviceNumber], StructureSizes[DeviceNumber],
                              room);
    case STORAGE_QUERY_PROPERTY:
        return QueryProperty(irp, disk, inputLength, room);
    case DISK_GET_DRIVE_GEOMETRY:
        return FixedStructure(irp, &disk->replies[Geometry], StructureSizes[Geometry], room);
    case SCSI_GET_ADDRESS:
        return FixedStructure(irp, &disk->replies[ScsiAddress], StructureSizes[ScsiAddress], room);
    case DISK_GET_DRIVE_LAYOUT_EX:
        return DriveLayout(irp, disk, room);
    default:
        /* Every request that would change the disk ends here too. */
        return Refuse(irp, &UnknownRequests, L"UnknownRequests", STATUS_INVALID_DEVICE_REQUEST);
    }
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
