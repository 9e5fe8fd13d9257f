// The storage replies of a simulated disk, built from the Windows structures themselves so that
// every offset is the one a Windows x64 driver writes. Fields a real driver fills but the tool
// never reads (disk identifiers, usable ranges) get fixed, plausible values so that replies are
// reproducible.
#include <sim/replies.h>

#include <ntddscsi.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

constexpr LONGLONG kFirstPartitionOffset = 1024 * 1024;
constexpr LONGLONG kGptUsableStart = 34 * 512; // protective MBR, header and 32 sectors of entries
constexpr DWORD kGptMaxPartitions = 128;
constexpr DWORD kMbrDiskSignature = 0x5EED0D15;
// The RAID driver's query of a disk's link, as its reply header echoes it.
constexpr DWORD kRaidQueryControlCode = 0x80000D01u;
constexpr size_t kNameUnits = 36;
constexpr size_t kLayoutHead = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
constexpr size_t kNameOffset = offsetof(PARTITION_INFORMATION_EX, Gpt.Name);

template <typename T> void Put(std::vector<BYTE>& bytes, size_t offset, const T& value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(value));
}

template <typename T> sim::Reply ReplyOf(const T& structure) {
    sim::Reply reply;
    reply.bytes.resize(sizeof(T));
    Put(reply.bytes, 0, structure);
    return reply;
}

// Identifiers the driver would read from the disk: distinct per disk entry, fixed per build.
GUID EntryId(DWORD partitionNumber) {
    GUID id = {0x5EED0000u + partitionNumber, 0x0D15, 0x4B1D, {0x9A, 0x11, 0, 0, 0, 0, 0, 0}};
    id.Data4[7] = static_cast<uint8_t>(partitionNumber);
    return id;
}

const GUID kGptDiskId = {
    0x5EED5EED, 0x0D15, 0x4B1D, {0x9A, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};

void FillEntry(PARTITION_INFORMATION_EX& entry, PARTITION_STYLE style,
               const sim::Partition& partition, DWORD number, LONGLONG offset) {
    std::memset(&entry, 0, sizeof(entry));
    // A raw disk has no table of its own; its entries take the MBR form, which is what a walker
    // that only knows GPT and "everything else" reads them as.
    entry.PartitionStyle = style == PARTITION_STYLE_GPT ? PARTITION_STYLE_GPT : PARTITION_STYLE_MBR;
    entry.StartingOffset.QuadPart = offset;
    entry.PartitionLength.QuadPart = partition.length;
    entry.PartitionNumber = number;
    if (style == PARTITION_STYLE_GPT) {
        if (!partition.gptType.empty() &&
            !sim::ParseGuid(partition.gptType, entry.Gpt.PartitionType)) {
            throw std::invalid_argument("not a partition type GUID");
        }
        entry.Gpt.PartitionId = EntryId(number);
    } else {
        entry.Mbr.PartitionType = partition.mbrType;
        entry.Mbr.BootIndicator = partition.bootIndicator ? TRUE : FALSE;
        entry.Mbr.RecognizedPartition = partition.mbrType != 0 ? TRUE : FALSE;
        entry.Mbr.HiddenSectors = static_cast<DWORD>(offset / 512);
    }
}

} // namespace

namespace sim {

Reply FailingReply(DWORD error) {
    Reply reply;
    reply.error = error;
    return reply;
}

Reply DeviceNumberReply(DWORD deviceNumber, DWORD partitionNumber, DWORD deviceType) {
    STORAGE_DEVICE_NUMBER number{};
    number.DeviceType = deviceType;
    number.DeviceNumber = deviceNumber;
    number.PartitionNumber = partitionNumber;
    return ReplyOf(number);
}

Reply DeviceDescriptorReply(DWORD busType, bool removable, BYTE deviceType) {
    STORAGE_DEVICE_DESCRIPTOR descriptor;
    std::memset(&descriptor, 0, sizeof(descriptor));
    // The head alone: no vendor, product or serial texts follow, so their offsets stay 0.
    descriptor.Version = sizeof(descriptor);
    descriptor.Size = sizeof(descriptor);
    descriptor.DeviceType = deviceType;
    descriptor.RemovableMedia = removable ? TRUE : FALSE;
    Reply reply = ReplyOf(descriptor);
    Put(reply.bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType), busType);
    return reply;
}

Reply SeekPenaltyReply(bool incursSeekPenalty) {
    DEVICE_SEEK_PENALTY_DESCRIPTOR penalty;
    std::memset(&penalty, 0, sizeof(penalty));
    penalty.Version = sizeof(penalty);
    penalty.Size = sizeof(penalty);
    penalty.IncursSeekPenalty = incursSeekPenalty ? TRUE : FALSE;
    return ReplyOf(penalty);
}

Reply GeometryReply(LONGLONG cylinders, DWORD tracksPerCylinder, DWORD sectorsPerTrack,
                    DWORD bytesPerSector, DWORD mediaType) {
    DISK_GEOMETRY geometry;
    std::memset(&geometry, 0, sizeof(geometry));
    geometry.Cylinders.QuadPart = cylinders;
    geometry.TracksPerCylinder = tracksPerCylinder;
    geometry.SectorsPerTrack = sectorsPerTrack;
    geometry.BytesPerSector = bytesPerSector;
    Reply reply = ReplyOf(geometry);
    Put(reply.bytes, offsetof(DISK_GEOMETRY, MediaType), mediaType);
    return reply;
}

Reply ScsiAddressReply(BYTE port, BYTE pathId, BYTE targetId, BYTE lun) {
    SCSI_ADDRESS address{};
    address.Length = sizeof(address);
    address.PortNumber = port;
    address.PathId = pathId;
    address.TargetId = targetId;
    address.Lun = lun;
    return ReplyOf(address);
}

std::vector<WORD> NameUnits(const std::wstring& name) {
    std::vector<WORD> units;
    for (wchar_t wide : name) {
        uint32_t c = static_cast<uint32_t>(wide);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            units.push_back(static_cast<WORD>(0xD800 + (c >> 10)));
            units.push_back(static_cast<WORD>(0xDC00 + (c & 0x3FF)));
        } else {
            units.push_back(static_cast<WORD>(c > 0x10FFFF ? 0xFFFD : c));
        }
    }
    return units;
}

Reply LayoutReply(PARTITION_STYLE style, const std::vector<Partition>& partitions,
                  LONG reportedCount) {
    // Exactly the head and the entries: what Windows returns, and less than
    // sizeof(DRIVE_LAYOUT_INFORMATION_EX) for a disk without partitions.
    Reply reply;
    reply.bytes.assign(kLayoutHead + sizeof(PARTITION_INFORMATION_EX) * partitions.size(), 0);

    // Lengths may be anything a hostile test gives, negative or huge: the offsets wrap in 64 bits
    // as a driver's arithmetic would, rather than overflow.
    uint64_t end = kFirstPartitionOffset;
    for (size_t k = 0; k < partitions.size(); ++k) {
        const Partition& partition = partitions[k];
        if (partition.nameUnits.size() > kNameUnits) {
            throw std::invalid_argument("a partition name holds at most 36 units");
        }
        const size_t at = kLayoutHead + sizeof(PARTITION_INFORMATION_EX) * k;
        PARTITION_INFORMATION_EX entry;
        FillEntry(entry, style, partition, static_cast<DWORD>(k + 1), static_cast<LONGLONG>(end));
        std::memcpy(reply.bytes.data() + at, &entry, sizeof(entry));
        // Also for MBR entries: the area lies beyond the MBR fields, and a walker that shows the
        // name area of every entry must find the text there.
        if (!partition.nameUnits.empty()) {
            std::memcpy(reply.bytes.data() + at + kNameOffset, partition.nameUnits.data(),
                        partition.nameUnits.size() * sizeof(WORD));
        }
        end += static_cast<uint64_t>(partition.length);
    }

    DRIVE_LAYOUT_INFORMATION_EX head;
    std::memset(&head, 0, sizeof(head));
    head.PartitionStyle = static_cast<DWORD>(style);
    head.PartitionCount = reportedCount >= 0 ? static_cast<DWORD>(reportedCount)
                                             : static_cast<DWORD>(partitions.size());
    if (style == PARTITION_STYLE_GPT) {
        head.Gpt.DiskId = kGptDiskId;
        head.Gpt.StartingUsableOffset.QuadPart = kGptUsableStart;
        head.Gpt.UsableLength.QuadPart = static_cast<LONGLONG>(end - kGptUsableStart);
        head.Gpt.MaxPartitionCount = kGptMaxPartitions;
    } else if (style == PARTITION_STYLE_MBR) {
        head.Mbr.Signature = kMbrDiskSignature;
    }
    std::memcpy(reply.bytes.data(), &head, kLayoutHead);
    return reply;
}

std::vector<BYTE> RaidReply(DWORD returnCode, LONG connectionType, LONG connectionInterface,
                            LONG pciBusWidth, LONG pciBusSpeed) {
    SRB_IO_CONTROL header;
    std::memset(&header, 0, sizeof(header));
    header.HeaderLength = sizeof(header);
    std::memcpy(header.Signature, "IntelRmp", sizeof(header.Signature));
    header.Timeout = 0;
    header.ControlCode = kRaidQueryControlCode;
    header.ReturnCode = returnCode;
    header.Length = 4 * sizeof(LONG);
    std::vector<BYTE> bytes(sizeof(header) + 4 * sizeof(LONG), 0);
    Put(bytes, 0, header);
    Put(bytes, sizeof(header), connectionType);
    Put(bytes, sizeof(header) + 4, connectionInterface);
    Put(bytes, sizeof(header) + 8, pciBusWidth);
    Put(bytes, sizeof(header) + 12, pciBusSpeed);
    return bytes;
}

int HexDigit(wchar_t c) {
    return c >= L'0' && c <= L'9'   ? c - L'0'
           : c >= L'a' && c <= L'f' ? c - L'a' + 10
           : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                    : -1;
}

bool ParseGuid(const std::wstring& text, GUID& guid) {
    const bool braced = text.size() == 38 && text.front() == L'{' && text.back() == L'}';
    const std::wstring bare = braced ? text.substr(1, 36) : text;
    if (bare.size() != 36) {
        return false;
    }
    // The 16 bytes in text order: Data1, Data2 and Data3 most significant byte first, then Data4.
    uint8_t bytes[16] = {};
    size_t digits = 0;
    for (size_t i = 0; i < bare.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const int digit = HexDigit(bare[i]);
        if (dash ? bare[i] != L'-' : digit < 0) {
            return false;
        }
        if (!dash) {
            bytes[digits / 2] = static_cast<uint8_t>(bytes[digits / 2] << 4 | digit);
            ++digits;
        }
    }
    guid.Data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                 static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
    guid.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(guid.Data4, bytes + 8, sizeof(guid.Data4));
    return true;
}

std::wstring GuidText(const GUID& guid) {
    char text[37];
    std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return std::wstring(text, text + 36);
}

Partition GptPartition(LONGLONG length, const std::wstring& type, const std::wstring& name) {
    Partition partition;
    partition.length = length;
    partition.gptType = type;
    partition.nameUnits = NameUnits(name);
    return partition;
}

Partition MbrPartition(LONGLONG length, bool active, BYTE type) {
    Partition partition;
    partition.length = length;
    partition.bootIndicator = active;
    partition.mbrType = type;
    return partition;
}

} // namespace sim
