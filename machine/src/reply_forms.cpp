// The typed forms of the replies: each reads its fields into the reply builder's bytes, and reads
// a reply's bytes back into the fields that would build them. Reading back only has to be right
// for replies that have the form's shape: DescribeExactly rebuilds every description it makes and
// keeps it only when the bytes come out the same.
#include "reply_forms.h"

#include "inventory/bus_type_names.h"

#include <sim/replies.h>

#include <ntddscsi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

using nlohmann::ordered_json;

constexpr size_t kNameUnits = 36;
constexpr size_t kLayoutHead = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
constexpr size_t kNameOffset = offsetof(PARTITION_INFORMATION_EX, Gpt.Name);

// The structure these bytes hold, when they are exactly its size.
template <typename T> std::optional<T> Structure(const std::vector<BYTE>& bytes) {
    if (bytes.size() != sizeof(T)) {
        return std::nullopt;
    }
    T value;
    std::memcpy(&value, bytes.data(), sizeof(T));
    return value;
}

// A 32-bit field of a structure read as the number it holds: an enumeration's field may hold any
// value a driver wrote, which must not be loaded as the enumeration.
DWORD DwordAt(const std::vector<BYTE>& bytes, size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof(value));
    return value;
}

sim::Reply ReadDeviceNumber(const sim::Field& field) {
    DWORD partition = field.Has("partitionNumber") ? Dword(field.Member("partitionNumber")) : 0;
    DWORD type =
        field.Has("deviceType") ? Dword(field.Member("deviceType")) : DWORD{FILE_DEVICE_DISK};
    return sim::DeviceNumberReply(Dword(field.Required("deviceNumber")), partition, type);
}

std::optional<ordered_json> DescribeDeviceNumber(const std::vector<BYTE>& bytes) {
    const std::optional<STORAGE_DEVICE_NUMBER> number = Structure<STORAGE_DEVICE_NUMBER>(bytes);
    if (!number) {
        return std::nullopt;
    }
    ordered_json fields = ordered_json::object();
    fields["deviceNumber"] = number->DeviceNumber;
    if (number->PartitionNumber != 0) {
        fields["partitionNumber"] = number->PartitionNumber;
    }
    if (number->DeviceType != FILE_DEVICE_DISK) {
        fields["deviceType"] = number->DeviceType;
    }
    return fields;
}

// A description names the bus types that have a description name, by their value.
const DWORD DescribedBusTypes = BusTypeNvme + 1;
static_assert(BusTypeNames[BusTypeNvme].descriptionName != nullptr &&
              BusTypeNames[DescribedBusTypes].descriptionName == nullptr);

DWORD BusType(const sim::Field& field) {
    if (!field.IsString()) {
        return static_cast<DWORD>(field.Unsigned(0xFF));
    }
    const std::string name = sim::ToUtf8(field.Text());
    std::string names;
    for (DWORD value = 0; value < DescribedBusTypes; ++value) {
        if (name == BusTypeNames[value].descriptionName) {
            return value;
        }
        names += (names.empty() ? "" : ", ") + std::string(BusTypeNames[value].descriptionName);
    }
    field.Refuse("unknown bus type \"" + name + "\"; expected 0 to 255 or one of " + names);
}

// A bus type by its name when it has one, else by its number.
ordered_json BusTypeValue(DWORD busType) {
    if (busType < DescribedBusTypes) {
        return BusTypeNames[busType].descriptionName;
    }
    return busType;
}

sim::Reply ReadDeviceDescriptor(const sim::Field& field) {
    bool removable = field.Has("removable") && field.Member("removable").Boolean();
    BYTE type = field.Has("deviceType") ? Byte(field.Member("deviceType")) : 0;
    return sim::DeviceDescriptorReply(BusType(field.Required("busType")), removable, type);
}

std::optional<ordered_json> DescribeDeviceDescriptor(const std::vector<BYTE>& bytes) {
    const std::optional<STORAGE_DEVICE_DESCRIPTOR> descriptor =
        Structure<STORAGE_DEVICE_DESCRIPTOR>(bytes);
    if (!descriptor) {
        return std::nullopt;
    }
    ordered_json fields = ordered_json::object();
    fields["busType"] = BusTypeValue(DwordAt(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType)));
    if (descriptor->RemovableMedia != FALSE) {
        fields["removable"] = true;
    }
    if (descriptor->DeviceType != 0) {
        fields["deviceType"] = descriptor->DeviceType;
    }
    return fields;
}

sim::Reply ReadSeekPenalty(const sim::Field& field) {
    return sim::SeekPenaltyReply(field.Required("incursSeekPenalty").Boolean());
}

std::optional<ordered_json> DescribeSeekPenalty(const std::vector<BYTE>& bytes) {
    const std::optional<DEVICE_SEEK_PENALTY_DESCRIPTOR> penalty =
        Structure<DEVICE_SEEK_PENALTY_DESCRIPTOR>(bytes);
    if (!penalty) {
        return std::nullopt;
    }
    ordered_json fields = ordered_json::object();
    fields["incursSeekPenalty"] = penalty->IncursSeekPenalty != FALSE;
    return fields;
}

struct MediaTypeName {
    const char* name;
    MEDIA_TYPE value;
};

const MediaTypeName kMediaTypes[] = {
    {"fixed", FixedMedia}, {"removable", RemovableMedia}, {"unknown", Unknown}};

DWORD MediaType(const sim::Field& field) {
    if (!field.IsString()) {
        return static_cast<DWORD>(field.Unsigned(std::numeric_limits<DWORD>::max()));
    }
    const std::string name = sim::ToUtf8(field.Text());
    for (const MediaTypeName& known : kMediaTypes) {
        if (name == known.name) {
            return known.value;
        }
    }
    field.Refuse("expected \"fixed\", \"removable\", \"unknown\" or a number");
}

ordered_json MediaTypeValue(DWORD mediaType) {
    for (const MediaTypeName& known : kMediaTypes) {
        if (mediaType == static_cast<DWORD>(known.value)) {
            return known.name;
        }
    }
    return mediaType;
}

sim::Reply ReadGeometry(const sim::Field& field) {
    LONGLONG cylinders = Int64(field.Required("cylinders"));
    DWORD tracks = Dword(field.Required("tracksPerCylinder"));
    DWORD sectors = Dword(field.Required("sectorsPerTrack"));
    DWORD bytes = Dword(field.Required("bytesPerSector"));
    DWORD media = field.Has("mediaType") ? MediaType(field.Member("mediaType")) : DWORD{FixedMedia};
    return sim::GeometryReply(cylinders, tracks, sectors, bytes, media);
}

std::optional<ordered_json> DescribeGeometry(const std::vector<BYTE>& bytes) {
    const std::optional<DISK_GEOMETRY> geometry = Structure<DISK_GEOMETRY>(bytes);
    if (!geometry) {
        return std::nullopt;
    }
    ordered_json fields = ordered_json::object();
    fields["cylinders"] = geometry->Cylinders.QuadPart;
    fields["tracksPerCylinder"] = geometry->TracksPerCylinder;
    fields["sectorsPerTrack"] = geometry->SectorsPerTrack;
    fields["bytesPerSector"] = geometry->BytesPerSector;
    const DWORD mediaType = DwordAt(bytes, offsetof(DISK_GEOMETRY, MediaType));
    if (mediaType != FixedMedia) {
        fields["mediaType"] = MediaTypeValue(mediaType);
    }
    return fields;
}

sim::Reply ReadScsiAddress(const sim::Field& field) {
    // One by one, so that the first faulty field in reading order is the one named.
    const BYTE port = Byte(field.Required("port"));
    const BYTE pathId = Byte(field.Required("pathId"));
    const BYTE targetId = Byte(field.Required("targetId"));
    const BYTE lun = Byte(field.Required("lun"));
    return sim::ScsiAddressReply(port, pathId, targetId, lun);
}

std::optional<ordered_json> DescribeScsiAddress(const std::vector<BYTE>& bytes) {
    const std::optional<SCSI_ADDRESS> address = Structure<SCSI_ADDRESS>(bytes);
    if (!address) {
        return std::nullopt;
    }
    ordered_json fields = ordered_json::object();
    fields["port"] = address->PortNumber;
    fields["pathId"] = address->PathId;
    fields["targetId"] = address->TargetId;
    fields["lun"] = address->Lun;
    return fields;
}

sim::Partition ReadPartition(const sim::Field& field, PARTITION_STYLE style) {
    field.ExpectObject({"length", "type", "name", "bootIndicator", "mbrType"});
    sim::Partition partition;
    partition.length = Int64(field.Required("length"));
    if (style == PARTITION_STYLE_GPT) {
        for (const char* mbrOnly : {"bootIndicator", "mbrType"}) {
            if (field.Has(mbrOnly)) {
                field.Member(mbrOnly).Refuse("only MBR and raw layouts have it");
            }
        }
        sim::Field type = field.Required("type");
        partition.gptType = type.Text();
        GUID parsed{};
        if (!sim::ParseGuid(partition.gptType, parsed)) {
            type.Refuse("expected a GUID such as C12A7328-F81F-11D2-BA4B-00A0C93EC93B");
        }
    } else {
        if (field.Has("type")) {
            field.Member("type").Refuse("only GPT partitions have a type GUID; use \"mbrType\"");
        }
        if (field.Has("bootIndicator")) {
            partition.bootIndicator = field.Member("bootIndicator").Boolean();
        }
        if (field.Has("mbrType")) {
            partition.mbrType = Byte(field.Member("mbrType"));
        }
    }
    if (field.Has("name")) {
        sim::Field name = field.Member("name");
        partition.nameUnits = sim::NameUnits(name.Text());
        if (partition.nameUnits.size() > kNameUnits) {
            name.Refuse("too long: " + std::to_string(partition.nameUnits.size()) +
                        " UTF-16 units, at most 36");
        }
    }
    return partition;
}

struct StyleName {
    const char* name;
    PARTITION_STYLE value;
};

const StyleName kStyles[] = {
    {"mbr", PARTITION_STYLE_MBR}, {"gpt", PARTITION_STYLE_GPT}, {"raw", PARTITION_STYLE_RAW}};

PARTITION_STYLE PartitionStyle(const sim::Field& field) {
    const std::string style = sim::ToUtf8(field.Text());
    for (const StyleName& known : kStyles) {
        if (style == known.name) {
            return known.value;
        }
    }
    field.Refuse("expected \"mbr\", \"gpt\" or \"raw\"");
}

sim::Reply ReadLayout(const sim::Field& field) {
    const PARTITION_STYLE style = PartitionStyle(field.Required("style"));
    std::vector<sim::Partition> partitions;
    if (field.Has("partitions")) {
        sim::Field list = field.Member("partitions");
        for (size_t k = 0; k < list.ArraySize(); ++k) {
            partitions.push_back(ReadPartition(list.Element(k), style));
        }
    }
    sim::Reply layout = sim::LayoutReply(style, partitions);
    if (field.Has("reportedCount")) {
        // Any 32-bit count, negative ones too: a driver's count is not to be trusted.
        const LONG count = Long(field.Member("reportedCount"));
        std::memcpy(layout.bytes.data() + offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount),
                    &count, sizeof(count));
    }
    return layout;
}

// The entry's name area up to its last unit that is not 0, as text.
std::wstring NameText(const BYTE* entry) {
    WORD units[kNameUnits];
    std::memcpy(units, entry + kNameOffset, sizeof(units));
    size_t length = kNameUnits;
    while (length > 0 && units[length - 1] == 0) {
        --length;
    }
    std::wstring name;
    for (size_t i = 0; i < length; ++i) {
        name += static_cast<wchar_t>(units[i]);
    }
    return name;
}

ordered_json DescribePartition(const BYTE* at, DWORD style) {
    PARTITION_INFORMATION_EX entry;
    std::memcpy(&entry, at, sizeof(entry));
    ordered_json fields = ordered_json::object();
    fields["length"] = entry.PartitionLength.QuadPart;
    if (style == PARTITION_STYLE_GPT) {
        fields["type"] = sim::ToUtf8(sim::GuidText(entry.Gpt.PartitionType));
    }
    const std::wstring name = NameText(at);
    if (!name.empty()) {
        fields["name"] = sim::ToUtf8(name);
    }
    if (style != PARTITION_STYLE_GPT) {
        if (entry.Mbr.BootIndicator != FALSE) {
            fields["bootIndicator"] = true;
        }
        if (entry.Mbr.PartitionType != PARTITION_IFS) {
            fields["mbrType"] = entry.Mbr.PartitionType;
        }
    }
    return fields;
}

std::optional<ordered_json> DescribeLayout(const std::vector<BYTE>& bytes) {
    const size_t entrySize = sizeof(PARTITION_INFORMATION_EX);
    if (bytes.size() < kLayoutHead || (bytes.size() - kLayoutHead) % entrySize != 0) {
        return std::nullopt;
    }
    DRIVE_LAYOUT_INFORMATION_EX head;
    std::memcpy(&head, bytes.data(), kLayoutHead);
    ordered_json fields = ordered_json::object();
    for (const StyleName& known : kStyles) {
        if (head.PartitionStyle == static_cast<DWORD>(known.value)) {
            fields["style"] = known.name;
        }
    }
    if (fields.empty()) {
        return std::nullopt;
    }
    const size_t count = (bytes.size() - kLayoutHead) / entrySize;
    for (size_t k = 0; k < count; ++k) {
        fields["partitions"].push_back(
            DescribePartition(bytes.data() + kLayoutHead + k * entrySize, head.PartitionStyle));
    }
    if (head.PartitionCount != count) {
        fields["reportedCount"] = static_cast<LONG>(head.PartitionCount);
    }
    return fields;
}

sim::Reply ReadRaidReply(const sim::Field& field) {
    DWORD returnCode = field.Has("returnCode") ? Dword(field.Member("returnCode")) : 0;
    const LONG connectionType = Long(field.Required("connectionType"));
    const LONG connectionInterface = Long(field.Required("connectionInterface"));
    const LONG pciBusWidth = Long(field.Required("pciBusWidth"));
    const LONG pciBusSpeed = Long(field.Required("pciBusSpeed"));
    sim::Reply reply;
    reply.bytes =
        sim::RaidReply(returnCode, connectionType, connectionInterface, pciBusWidth, pciBusSpeed);
    return reply;
}

std::optional<ordered_json> DescribeRaidReply(const std::vector<BYTE>& bytes) {
    const size_t valuesAt = sizeof(SRB_IO_CONTROL);
    if (bytes.size() != valuesAt + 4 * sizeof(LONG)) {
        return std::nullopt;
    }
    SRB_IO_CONTROL header;
    std::memcpy(&header, bytes.data(), sizeof(header));
    LONG values[4];
    std::memcpy(values, bytes.data() + valuesAt, sizeof(values));
    ordered_json fields = ordered_json::object();
    if (header.ReturnCode != 0) {
        fields["returnCode"] = header.ReturnCode;
    }
    fields["connectionType"] = values[0];
    fields["connectionInterface"] = values[1];
    fields["pciBusWidth"] = values[2];
    fields["pciBusSpeed"] = values[3];
    return fields;
}

} // namespace

namespace sim {

constexpr ReplyForm kDeviceNumberForm = {
    {"deviceNumber", "partitionNumber", "deviceType"}, ReadDeviceNumber, DescribeDeviceNumber};
constexpr ReplyForm kDeviceDescriptorForm = {
    {"busType", "removable", "deviceType"}, ReadDeviceDescriptor, DescribeDeviceDescriptor};
constexpr ReplyForm kSeekPenaltyForm = {
    {"incursSeekPenalty"}, ReadSeekPenalty, DescribeSeekPenalty};
constexpr ReplyForm kGeometryForm = {
    {"cylinders", "tracksPerCylinder", "sectorsPerTrack", "bytesPerSector", "mediaType"},
    ReadGeometry,
    DescribeGeometry};
constexpr ReplyForm kScsiAddressForm = {
    {"port", "pathId", "targetId", "lun"}, ReadScsiAddress, DescribeScsiAddress};
constexpr ReplyForm kLayoutForm = {
    {"style", "partitions", "reportedCount"}, ReadLayout, DescribeLayout};
constexpr ReplyForm kRaidReplyForm = {
    {"returnCode", "connectionType", "connectionInterface", "pciBusWidth", "pciBusSpeed"},
    ReadRaidReply,
    DescribeRaidReply};

std::vector<std::string> FieldNames(const ReplyForm& form, std::vector<std::string> alongside) {
    std::vector<std::string> names;
    for (const char* name : form.fields) {
        if (name != nullptr) {
            names.push_back(name);
        }
    }
    names.insert(names.end(), alongside.begin(), alongside.end());
    return names;
}

const std::array<const char*, 2> kReservedReplyKeys = {"error", "bytes"};

std::vector<std::string> KeysBesideReply(const HandOver& handOver) {
    if (handOver.scriptedFailures) {
        return {"failures", "failureError"};
    }
    return {};
}

void CheckFieldNames(const ReplyForm& form, const std::vector<std::string>& alongside) {
    std::vector<std::string> taken = alongside;
    taken.insert(taken.end(), kReservedReplyKeys.begin(), kReservedReplyKeys.end());
    for (const char* name : form.fields) {
        if (name != nullptr && std::find(taken.begin(), taken.end(), name) != taken.end()) {
            throw std::logic_error(std::string("a reply form names its field \"") + name +
                                   "\", a key the reader keeps for another meaning");
        }
    }
}

Reply ReadReply(const Field& field, const ReplyForm& form,
                const std::vector<std::string>& alongside) {
    if (!field.IsObject()) {
        field.Refuse("expected an object");
    }
    for (const char* other : kReservedReplyKeys) {
        if (field.Has(other)) {
            std::vector<std::string> allowed = alongside;
            allowed.push_back(other);
            field.ExpectObject(allowed, std::string("not allowed beside \"") + other + "\"");
            if (std::string(other) == "error") {
                return FailingReply(ErrorCode(field.Member("error")));
            }
            Reply reply;
            reply.bytes = HexBytes(field.Member("bytes"));
            return reply;
        }
    }
    field.ExpectObject(FieldNames(form, alongside));
    return form.read(field);
}

std::optional<nlohmann::ordered_json> DescribeExactly(const ReplyForm& form,
                                                      const std::vector<BYTE>& bytes) {
    std::optional<nlohmann::ordered_json> fields = form.describe(bytes);
    if (!fields) {
        return std::nullopt;
    }
    const nlohmann::json document(*fields);
    const std::string source = "the written reply";
    try {
        const Field field(document, "", source);
        field.ExpectObject(FieldNames(form));
        if (form.read(field).bytes == bytes) {
            return fields;
        }
    } catch (const MachineError&) {
        // Fields out of their range, or a name longer than its area: only the bytes can tell.
    }
    return std::nullopt;
}

} // namespace sim
