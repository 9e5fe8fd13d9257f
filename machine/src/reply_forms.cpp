// The typed forms of the replies: each reads its fields into the reply builder's bytes, and reads
// a reply's bytes back into the fields that would build them. Reading back only has to be right
// for replies that have the form's shape: DescribeExactly rebuilds every description it makes and
// keeps it only when the bytes come out the same. A reply that is one structure of fixed size has
// its form as a table of the structure's fields; the layout, with its list of entries, its own.
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

// The keys that stand for a reply's other two forms. No typed form may name a field like one:
// the reader would take the field for the other form.
const char* const kReservedReplyKeys[] = {"error", "bytes"};

// A value that a description gives by its name, as a table pairs them.
struct NamedValue {
    const char* name;
    DWORD value;
};

const NamedValue kMediaTypes[] = {
    {"fixed", FixedMedia}, {"removable", RemovableMedia}, {"unknown", Unknown}};
const NamedValue kStyles[] = {
    {"mbr", PARTITION_STYLE_MBR}, {"gpt", PARTITION_STYLE_GPT}, {"raw", PARTITION_STYLE_RAW}};

// The value of the field's name in the table; the field is refused with `problem` when the table
// has no such name.
template <size_t N>
DWORD ValueOfName(const sim::Field& field, const NamedValue (&table)[N], const char* problem) {
    const std::string name = sim::ToUtf8(field.Text());
    for (const NamedValue& known : table) {
        if (name == known.name) {
            return known.value;
        }
    }
    field.Refuse(problem);
}

// The name of a value in the table, null when it has none.
template <size_t N> const char* NameOfValue(uint64_t value, const NamedValue (&table)[N]) {
    for (const NamedValue& known : table) {
        if (value == known.value) {
            return known.name;
        }
    }
    return nullptr;
}

// A description names the bus types that have a description name, by their value.
const DWORD DescribedBusTypes = BusTypeNvme + 1;
static_assert(BusTypeNames[BusTypeNvme].descriptionName != nullptr &&
              BusTypeNames[DescribedBusTypes].descriptionName == nullptr);

uint64_t ReadBusType(const sim::Field& field) {
    if (!field.IsString()) {
        return field.Unsigned(0xFF);
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
ordered_json DescribeBusType(uint64_t busType) {
    if (busType < DescribedBusTypes) {
        return BusTypeNames[busType].descriptionName;
    }
    return busType;
}

uint64_t ReadMediaType(const sim::Field& field) {
    if (!field.IsString()) {
        return sim::Dword(field);
    }
    return ValueOfName(field, kMediaTypes,
                       "expected \"fixed\", \"removable\", \"unknown\" or a number");
}

ordered_json DescribeMediaType(uint64_t mediaType) {
    const char* name = NameOfValue(mediaType, kMediaTypes);
    return name != nullptr ? ordered_json(name) : ordered_json(mediaType);
}

ordered_json DescribeNumber(uint64_t value) {
    return value;
}

// How a field of a structure is read from a description and written back: its width in the
// structure, and the number its bytes hold (zero-extended) as a description gives it.
struct ValueForm {
    size_t width;
    uint64_t (*read)(const sim::Field& field);
    ordered_json (*describe)(uint64_t value);
};

constexpr ValueForm kByte = {
    1, [](const sim::Field& field) -> uint64_t { return sim::Byte(field); }, DescribeNumber};
constexpr ValueForm kDword = {
    4, [](const sim::Field& field) -> uint64_t { return sim::Dword(field); }, DescribeNumber};
// The signed ones in two's complement, as the structure holds them.
constexpr ValueForm kLong = {
    4, [](const sim::Field& field) { return static_cast<uint64_t>(sim::Long(field)); },
    [](uint64_t value) { return ordered_json(static_cast<LONG>(value)); }};
constexpr ValueForm kLongLong = {
    8, [](const sim::Field& field) { return static_cast<uint64_t>(sim::Int64(field)); },
    [](uint64_t value) { return ordered_json(static_cast<LONGLONG>(value)); }};
// Any byte but 0 is written as true, which reads back as 1.
constexpr ValueForm kBoolean = {
    1, [](const sim::Field& field) -> uint64_t { return field.Boolean() ? 1 : 0; },
    [](uint64_t value) { return ordered_json(value != 0); }};
// An enumeration's field may hold any value a driver wrote: it is never loaded as the enumeration.
constexpr ValueForm kBusType = {4, ReadBusType, DescribeBusType};
constexpr ValueForm kMediaType = {4, ReadMediaType, DescribeMediaType};

struct StructureField {
    const char* name;
    size_t offset;
    const ValueForm* value;
    // The value of a field that a description leaves out, and that the writer leaves out; none
    // for a field that must be given.
    std::optional<uint64_t> fallback;
};

constexpr std::optional<uint64_t> kRequired = std::nullopt;

// A reply that is one structure of fixed size, all of whose fields but its fixed parts (its
// version and size, a header) are fields of its form.
struct Structure {
    // The builder's bytes, with the fixed parts that every field of the form is written over.
    std::vector<BYTE> (*blank)();
    std::array<StructureField, sim::kMostFormFields>
        fields; // in the format's order; unused places without a name
    // Whether the fields with a fallback are read, and so named when faulty, before the others.
    bool fallbacksFirst;
};

constexpr Structure kDeviceNumber = {
    [] { return sim::DeviceNumberReply(0).bytes; },
    {{{"deviceNumber", offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber), &kDword, kRequired},
      {"partitionNumber", offsetof(STORAGE_DEVICE_NUMBER, PartitionNumber), &kDword, 0},
      {"deviceType", offsetof(STORAGE_DEVICE_NUMBER, DeviceType), &kDword, FILE_DEVICE_DISK}}},
    true};

constexpr Structure kDeviceDescriptor = {
    [] { return sim::DeviceDescriptorReply(0, false).bytes; },
    {{{"busType", offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType), &kBusType, kRequired},
      {"removable", offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia), &kBoolean, FALSE},
      {"deviceType", offsetof(STORAGE_DEVICE_DESCRIPTOR, DeviceType), &kByte, 0}}},
    true};

constexpr Structure kSeekPenalty = {
    [] { return sim::SeekPenaltyReply(false).bytes; },
    {{{"incursSeekPenalty", offsetof(DEVICE_SEEK_PENALTY_DESCRIPTOR, IncursSeekPenalty), &kBoolean,
       kRequired}}},
    false};

constexpr Structure kGeometry = {
    [] { return sim::GeometryReply(0, 0, 0, 0).bytes; },
    {{{"cylinders", offsetof(DISK_GEOMETRY, Cylinders), &kLongLong, kRequired},
      {"tracksPerCylinder", offsetof(DISK_GEOMETRY, TracksPerCylinder), &kDword, kRequired},
      {"sectorsPerTrack", offsetof(DISK_GEOMETRY, SectorsPerTrack), &kDword, kRequired},
      {"bytesPerSector", offsetof(DISK_GEOMETRY, BytesPerSector), &kDword, kRequired},
      {"mediaType", offsetof(DISK_GEOMETRY, MediaType), &kMediaType, FixedMedia}}},
    false};

constexpr Structure kScsiAddress = {
    [] { return sim::ScsiAddressReply(0, 0, 0, 0).bytes; },
    {{{"port", offsetof(SCSI_ADDRESS, PortNumber), &kByte, kRequired},
      {"pathId", offsetof(SCSI_ADDRESS, PathId), &kByte, kRequired},
      {"targetId", offsetof(SCSI_ADDRESS, TargetId), &kByte, kRequired},
      {"lun", offsetof(SCSI_ADDRESS, Lun), &kByte, kRequired}}},
    false};

// The header, then the four values.
constexpr Structure kRaidReply = {
    [] { return sim::RaidReply(0, 0, 0, 0, 0); },
    {{{"returnCode", offsetof(SRB_IO_CONTROL, ReturnCode), &kDword, 0},
      {"connectionType", sizeof(SRB_IO_CONTROL), &kLong, kRequired},
      {"connectionInterface", sizeof(SRB_IO_CONTROL) + 4, &kLong, kRequired},
      {"pciBusWidth", sizeof(SRB_IO_CONTROL) + 8, &kLong, kRequired},
      {"pciBusSpeed", sizeof(SRB_IO_CONTROL) + 12, &kLong, kRequired}}},
    false};

// The structure's fields in the order they are read.
std::vector<const StructureField*> ReadingOrder(const Structure& structure) {
    std::vector<const StructureField*> order;
    for (const StructureField& field : structure.fields) {
        if (field.name != nullptr) {
            order.push_back(&field);
        }
    }
    if (structure.fallbacksFirst) {
        std::stable_partition(order.begin(), order.end(), [](const StructureField* field) {
            return field->fallback.has_value();
        });
    }
    return order;
}

template <const Structure& structure> sim::Reply ReadStructure(const sim::Field& field) {
    sim::Reply reply;
    reply.bytes = structure.blank();
    for (const StructureField* one : ReadingOrder(structure)) {
        const uint64_t value = one->fallback && !field.Has(one->name)
                                   ? *one->fallback
                                   : one->value->read(field.Required(one->name));
        std::memcpy(reply.bytes.data() + one->offset, &value, one->value->width);
    }
    return reply;
}

template <const Structure& structure>
std::optional<ordered_json> DescribeStructure(const std::vector<BYTE>& bytes) {
    if (bytes.size() != structure.blank().size()) {
        return std::nullopt;
    }
    ordered_json fields = ordered_json::object();
    for (const StructureField& one : structure.fields) {
        if (one.name == nullptr) {
            continue;
        }
        uint64_t value = 0;
        std::memcpy(&value, bytes.data() + one.offset, one.value->width);
        if (value != one.fallback) {
            fields[one.name] = one.value->describe(value);
        }
    }
    return fields;
}

// The form of a structure's reply, which names the structure's fields.
template <const Structure& structure> constexpr sim::ReplyForm StructureForm() {
    std::array<const char*, sim::kMostFormFields> names{};
    for (size_t i = 0; i < names.size(); ++i) {
        names[i] = structure.fields[i].name;
    }
    return {names, ReadStructure<structure>, DescribeStructure<structure>};
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
        ReadOptional(field, "bootIndicator", partition.bootIndicator, &sim::Field::Boolean);
        ReadOptional(field, "mbrType", partition.mbrType, sim::Byte);
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

sim::Reply ReadLayout(const sim::Field& field) {
    const auto style = static_cast<PARTITION_STYLE>(
        ValueOfName(field.Required("style"), kStyles, "expected \"mbr\", \"gpt\" or \"raw\""));
    std::vector<sim::Partition> partitions;
    ReadList(field, "partitions", partitions,
             [style](const sim::Field& partition) { return ReadPartition(partition, style); });
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
    std::wstring name(units, units + kNameUnits);
    name.erase(name.find_last_not_of(L'\0') + 1);
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
    const char* style = NameOfValue(head.PartitionStyle, kStyles);
    if (style == nullptr) {
        return std::nullopt;
    }
    ordered_json fields = ordered_json::object();
    fields["style"] = style;
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

} // namespace

namespace sim {

constexpr ReplyForm kDeviceNumberForm = StructureForm<kDeviceNumber>();
constexpr ReplyForm kDeviceDescriptorForm = StructureForm<kDeviceDescriptor>();
constexpr ReplyForm kSeekPenaltyForm = StructureForm<kSeekPenalty>();
constexpr ReplyForm kGeometryForm = StructureForm<kGeometry>();
constexpr ReplyForm kScsiAddressForm = StructureForm<kScsiAddress>();
constexpr ReplyForm kLayoutForm = {
    {"style", "partitions", "reportedCount"}, ReadLayout, DescribeLayout};
constexpr ReplyForm kRaidReplyForm = StructureForm<kRaidReply>();

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

std::vector<std::string> KeysBesideReply(const HandOver& handOver) {
    if (handOver.scriptedFailures) {
        return {"failures", "failureError"};
    }
    return {};
}

void CheckFieldNames(const ReplyForm& form, const std::vector<std::string>& alongside) {
    std::vector<std::string> taken = alongside;
    taken.insert(taken.end(), std::begin(kReservedReplyKeys), std::end(kReservedReplyKeys));
    for (const char* name : form.fields) {
        if (name != nullptr && std::find(taken.begin(), taken.end(), name) != taken.end()) {
            throw std::logic_error(std::string("a reply form names its field \"") + name +
                                   "\", a key the reader keeps for another meaning");
        }
    }
}

std::vector<BYTE> ReadReplyBytes(const Field& field, const ReplyForm& form,
                                 std::vector<std::string> alongside) {
    if (!field.IsObject()) {
        field.Refuse("expected an object");
    }
    if (field.Has("bytes")) {
        alongside.push_back("bytes");
        field.ExpectObject(alongside, "not allowed beside \"bytes\"");
        return HexBytes(field.Member("bytes"));
    }
    field.ExpectObject(FieldNames(form, alongside));
    return form.read(field).bytes;
}

Reply ReadReply(const Field& field, const ReplyForm& form, std::vector<std::string> alongside) {
    if (!field.Has("error")) {
        Reply reply;
        reply.bytes = ReadReplyBytes(field, form, alongside);
        return reply;
    }
    alongside.push_back("error");
    field.ExpectObject(alongside, "not allowed beside \"error\"");
    return FailingReply(ErrorCode(field.Member("error")));
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
        const Field field(document, Place(), source);
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
