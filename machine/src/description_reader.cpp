// Reading a machine description. Every field is checked for its type and range, and a field the
// format does not know is refused, so a typing mistake in a description never goes unnoticed.
#include <sim/machine.h>
#include <sim/replies.h>
#include <sim/text.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <set>
#include <sstream>

namespace {

using nlohmann::json;

// A position in the description, kept for the message that names an offending field.
class Field {
  public:
    Field(const json& value, std::string where, const std::string& source)
        : value_(value), where_(std::move(where)), source_(source) {}

    [[noreturn]] void Refuse(const std::string& problem) const {
        throw sim::MachineError(source_ + ": " + (where_.empty() ? "top level" : where_) + ": " +
                                problem);
    }

    const json& Value() const {
        return value_;
    }

    void ExpectObject(const std::vector<std::string>& known,
                      const std::string& problem = "unknown field") const {
        if (!value_.is_object()) {
            Refuse("expected an object");
        }
        for (auto item = value_.begin(); item != value_.end(); ++item) {
            if (std::find(known.begin(), known.end(), item.key()) == known.end()) {
                Member(item.key()).Refuse(problem);
            }
        }
    }

    bool IsObject() const {
        return value_.is_object();
    }

    bool IsString() const {
        return value_.is_string();
    }

    // A member that must be there.
    Field Required(const std::string& name) const {
        if (!Has(name.c_str())) {
            Refuse("missing field \"" + name + "\"");
        }
        return Member(name);
    }

    bool Has(const char* name) const {
        return value_.contains(name);
    }

    Field Member(const std::string& name) const {
        return Field(value_.at(name), where_.empty() ? name : where_ + "." + name, source_);
    }

    Field Element(size_t index) const {
        return Field(value_.at(index), where_ + "[" + std::to_string(index) + "]", source_);
    }

    size_t ArraySize() const {
        if (!value_.is_array()) {
            Refuse("expected an array");
        }
        return value_.size();
    }

    bool Boolean() const {
        if (!value_.is_boolean()) {
            Refuse("expected true or false");
        }
        return value_.get<bool>();
    }

    uint64_t Unsigned(uint64_t maximum) const {
        if (!value_.is_number_integer() ||
            (value_.is_number_integer() && !value_.is_number_unsigned() &&
             value_.get<int64_t>() < 0)) {
            Refuse("expected a whole number from 0 to " + std::to_string(maximum));
        }
        uint64_t number = value_.get<uint64_t>();
        if (number > maximum) {
            Refuse("out of range: " + std::to_string(number) + " is above " +
                   std::to_string(maximum));
        }
        return number;
    }

    int64_t Signed(int64_t minimum, int64_t maximum) const {
        const std::string range = "expected a whole number from " + std::to_string(minimum) +
                                  " to " + std::to_string(maximum);
        if (!value_.is_number_integer()) {
            Refuse(range);
        }
        if (value_.is_number_unsigned() &&
            value_.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            Refuse("out of range: " + std::to_string(value_.get<uint64_t>()) + " is above " +
                   std::to_string(maximum));
        }
        int64_t number = value_.get<int64_t>();
        if (number < minimum || number > maximum) {
            Refuse("out of range: " + std::to_string(number) + " is " +
                   (number < minimum ? "below " + std::to_string(minimum)
                                     : "above " + std::to_string(maximum)));
        }
        return number;
    }

    std::wstring Text() const {
        if (!value_.is_string()) {
            Refuse("expected a string");
        }
        return sim::FromUtf8(value_.get<std::string>());
    }

  private:
    const json& value_;
    std::string where_;
    const std::string& source_;
};

constexpr uint64_t kDwordMax = std::numeric_limits<DWORD>::max();
constexpr int64_t kLongMin = std::numeric_limits<LONG>::min();
constexpr int64_t kLongMax = std::numeric_limits<LONG>::max();

DWORD ErrorCode(const Field& field) {
    return static_cast<DWORD>(field.Unsigned(kDwordMax));
}

DWORD Dword(const Field& field) {
    return static_cast<DWORD>(field.Unsigned(kDwordMax));
}

BYTE Byte(const Field& field) {
    return static_cast<BYTE>(field.Unsigned(0xFF));
}

LONG Long(const Field& field) {
    return static_cast<LONG>(field.Signed(kLongMin, kLongMax));
}

std::vector<BYTE> HexBytes(const Field& field) {
    const std::wstring text = field.Text();
    std::vector<BYTE> bytes;
    int high = -1;
    for (wchar_t c : text) {
        if (c == L' ' && high < 0) {
            continue;
        }
        int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                    : c >= L'a' && c <= L'f' ? c - L'a' + 10
                    : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                             : -1;
        if (digit < 0) {
            field.Refuse("expected hex digits, two per byte, spaces allowed between bytes");
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<BYTE>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) {
        field.Refuse("expected hex digits, two per byte, spaces allowed between bytes");
    }
    return bytes;
}

// The two forms every scripted reply may take instead of its own fields: {"error": N}, the
// request fails, and {"bytes": "hex"}, the driver's answer as raw bytes. `alongside` names
// fields that keep their meaning in every form.
std::optional<sim::Reply> AlternativeForm(const Field& field,
                                          std::vector<std::string> alongside = {}) {
    if (!field.IsObject()) {
        field.Refuse("expected an object");
    }
    for (const char* form : {"error", "bytes"}) {
        if (field.Has(form)) {
            alongside.push_back(form);
            field.ExpectObject(alongside, std::string("not allowed beside \"") + form + "\"");
            if (std::string(form) == "error") {
                return sim::FailingReply(ErrorCode(field.Member("error")));
            }
            sim::Reply reply;
            reply.bytes = HexBytes(field.Member("bytes"));
            return reply;
        }
    }
    return std::nullopt;
}

sim::Reply ReadDeviceNumber(const Field& field) {
    if (std::optional<sim::Reply> other = AlternativeForm(field)) {
        return *other;
    }
    field.ExpectObject({"deviceNumber", "partitionNumber", "deviceType"});
    DWORD partition = field.Has("partitionNumber") ? Dword(field.Member("partitionNumber")) : 0;
    DWORD type = field.Has("deviceType") ? Dword(field.Member("deviceType")) : 7;
    return sim::DeviceNumberReply(Dword(field.Required("deviceNumber")), partition, type);
}

struct BusTypeName {
    const char* name;
    STORAGE_BUS_TYPE value;
};

const BusTypeName kBusTypes[] = {
    {"unknown", BusTypeUnknown}, {"scsi", BusTypeScsi},
    {"atapi", BusTypeAtapi},     {"ata", BusTypeAta},
    {"1394", BusType1394},       {"ssa", BusTypeSsa},
    {"fibre", BusTypeFibre},     {"usb", BusTypeUsb},
    {"raid", BusTypeRAID},       {"iscsi", BusTypeiScsi},
    {"sas", BusTypeSas},         {"sata", BusTypeSata},
    {"sd", BusTypeSd},           {"mmc", BusTypeMmc},
    {"virtual", BusTypeVirtual}, {"fileBackedVirtual", BusTypeFileBackedVirtual},
    {"spaces", BusTypeSpaces},   {"nvme", BusTypeNvme},
};

STORAGE_BUS_TYPE BusType(const Field& field) {
    if (!field.IsString()) {
        return static_cast<STORAGE_BUS_TYPE>(field.Unsigned(0xFF));
    }
    const std::string name = sim::ToUtf8(field.Text());
    for (const BusTypeName& known : kBusTypes) {
        if (name == known.name) {
            return known.value;
        }
    }
    std::string names;
    for (const BusTypeName& known : kBusTypes) {
        names += (names.empty() ? "" : ", ") + std::string(known.name);
    }
    field.Refuse("unknown bus type \"" + name + "\"; expected 0 to 255 or one of " + names);
}

sim::Reply ReadDeviceDescriptor(const Field& field) {
    if (std::optional<sim::Reply> other = AlternativeForm(field)) {
        return *other;
    }
    field.ExpectObject({"busType", "removable", "deviceType"});
    bool removable = field.Has("removable") && field.Member("removable").Boolean();
    BYTE type = field.Has("deviceType") ? Byte(field.Member("deviceType")) : 0;
    return sim::DeviceDescriptorReply(BusType(field.Required("busType")), removable, type);
}

sim::Reply ReadSeekPenalty(const Field& field) {
    if (std::optional<sim::Reply> other = AlternativeForm(field)) {
        return *other;
    }
    field.ExpectObject({"incursSeekPenalty"});
    return sim::SeekPenaltyReply(field.Required("incursSeekPenalty").Boolean());
}

MEDIA_TYPE MediaType(const Field& field) {
    if (!field.IsString()) {
        return static_cast<MEDIA_TYPE>(field.Unsigned(kDwordMax));
    }
    const std::wstring name = field.Text();
    if (name == L"fixed") {
        return FixedMedia;
    }
    if (name == L"removable") {
        return RemovableMedia;
    }
    if (name == L"unknown") {
        return Unknown;
    }
    field.Refuse("expected \"fixed\", \"removable\", \"unknown\" or a number");
}

sim::Reply ReadGeometry(const Field& field) {
    if (std::optional<sim::Reply> other = AlternativeForm(field)) {
        return *other;
    }
    field.ExpectObject(
        {"cylinders", "tracksPerCylinder", "sectorsPerTrack", "bytesPerSector", "mediaType"});
    LONGLONG cylinders =
        field.Required("cylinders")
            .Signed(std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
    DWORD tracks = Dword(field.Required("tracksPerCylinder"));
    DWORD sectors = Dword(field.Required("sectorsPerTrack"));
    DWORD bytes = Dword(field.Required("bytesPerSector"));
    MEDIA_TYPE media = field.Has("mediaType") ? MediaType(field.Member("mediaType")) : FixedMedia;
    return sim::GeometryReply(cylinders, tracks, sectors, bytes, media);
}

sim::Reply ReadScsiAddress(const Field& field) {
    if (std::optional<sim::Reply> other = AlternativeForm(field)) {
        return *other;
    }
    field.ExpectObject({"port", "pathId", "targetId", "lun"});
    // One by one, so that the first faulty field in reading order is the one named.
    const BYTE port = Byte(field.Required("port"));
    const BYTE pathId = Byte(field.Required("pathId"));
    const BYTE targetId = Byte(field.Required("targetId"));
    const BYTE lun = Byte(field.Required("lun"));
    return sim::ScsiAddressReply(port, pathId, targetId, lun);
}

sim::Partition ReadPartition(const Field& field, PARTITION_STYLE style) {
    field.ExpectObject({"length", "type", "name", "bootIndicator", "mbrType"});
    sim::Partition partition;
    partition.length = field.Required("length").Signed(std::numeric_limits<int64_t>::min(),
                                                       std::numeric_limits<int64_t>::max());
    if (style == PARTITION_STYLE_GPT) {
        for (const char* mbrOnly : {"bootIndicator", "mbrType"}) {
            if (field.Has(mbrOnly)) {
                field.Member(mbrOnly).Refuse("only MBR and raw layouts have it");
            }
        }
        Field type = field.Required("type");
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
        Field name = field.Member("name");
        partition.nameUnits = sim::NameUnits(name.Text());
        if (partition.nameUnits.size() > 36) {
            name.Refuse("too long: " + std::to_string(partition.nameUnits.size()) +
                        " UTF-16 units, at most 36");
        }
    }
    return partition;
}

PARTITION_STYLE PartitionStyle(const Field& field) {
    const std::wstring style = field.Text();
    if (style == L"mbr") {
        return PARTITION_STYLE_MBR;
    }
    if (style == L"gpt") {
        return PARTITION_STYLE_GPT;
    }
    if (style == L"raw") {
        return PARTITION_STYLE_RAW;
    }
    field.Refuse("expected \"mbr\", \"gpt\" or \"raw\"");
}

// The layout and, in every form, the failures that come before it.
void ReadLayout(const Field& field, sim::Disk& disk) {
    const std::vector<std::string> retries = {"failures", "failureError"};
    std::optional<sim::Reply> layout = AlternativeForm(field, retries);
    if (!layout) {
        field.ExpectObject({"style", "partitions", "reportedCount", "failures", "failureError"});
        const PARTITION_STYLE style = PartitionStyle(field.Required("style"));
        std::vector<sim::Partition> partitions;
        if (field.Has("partitions")) {
            Field list = field.Member("partitions");
            for (size_t k = 0; k < list.ArraySize(); ++k) {
                partitions.push_back(ReadPartition(list.Element(k), style));
            }
        }
        layout = sim::LayoutReply(style, partitions);
        if (field.Has("reportedCount")) {
            // Any 32-bit count, negative ones too: a driver's count is not to be trusted.
            const LONG count = Long(field.Member("reportedCount"));
            std::memcpy(layout->bytes.data() +
                            offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount),
                        &count, sizeof(count));
        }
    }
    disk.layout = layout;
    if (field.Has("failures")) {
        Field failures = field.Member("failures");
        if (failures.IsString()) {
            if (failures.Text() != L"always") {
                failures.Refuse("expected a count or \"always\"");
            }
            disk.layoutFailures = -1;
        } else {
            disk.layoutFailures =
                static_cast<int>(failures.Unsigned(std::numeric_limits<int>::max()));
        }
    }
    if (field.Has("failureError")) {
        disk.layoutFailureError = ErrorCode(field.Member("failureError"));
    }
}

sim::Disk ReadDisk(const Field& field) {
    field.ExpectObject({"description", "path", "detailReportsNoSize", "detailError", "openError",
                        "deviceNumber", "deviceDescriptor", "seekPenalty", "geometry",
                        "scsiAddress", "layout"});
    sim::Disk disk;
    Field path = field.Required("path");
    disk.path = path.Text();
    // Windows never presents a controller as a disk interface, and opening the path would reach
    // the controller rather than this disk.
    if (sim::NamesController(disk.path)) {
        path.Refuse("names a SCSI controller (\\\\.\\scsiN:), not a disk interface");
    }
    if (field.Has("description")) {
        field.Member("description").Text();
    }
    if (field.Has("detailReportsNoSize")) {
        disk.detailReportsNoSize = field.Member("detailReportsNoSize").Boolean();
    }
    if (field.Has("detailError")) {
        disk.detailError = ErrorCode(field.Member("detailError"));
    }
    if (field.Has("openError")) {
        disk.openError = ErrorCode(field.Member("openError"));
    }
    if (field.Has("deviceNumber")) {
        disk.deviceNumber = ReadDeviceNumber(field.Member("deviceNumber"));
    }
    if (field.Has("deviceDescriptor")) {
        disk.deviceDescriptor = ReadDeviceDescriptor(field.Member("deviceDescriptor"));
    }
    if (field.Has("seekPenalty")) {
        disk.seekPenalty = ReadSeekPenalty(field.Member("seekPenalty"));
    }
    if (field.Has("geometry")) {
        disk.geometry = ReadGeometry(field.Member("geometry"));
    }
    if (field.Has("scsiAddress")) {
        disk.scsiAddress = ReadScsiAddress(field.Member("scsiAddress"));
    }
    if (field.Has("layout")) {
        ReadLayout(field.Member("layout"), disk);
    }
    return disk;
}

// A list of indexes into something the machine holds `count` of.
std::vector<size_t> ReadIndexes(const Field& field, size_t count, const char* what) {
    std::vector<size_t> indexes;
    for (size_t k = 0; k < field.ArraySize(); ++k) {
        Field member = field.Element(k);
        if (count == 0) {
            member.Refuse(std::string("names ") + what + ", but the machine has none");
        }
        indexes.push_back(static_cast<size_t>(member.Unsigned(count - 1)));
    }
    return indexes;
}

std::vector<std::vector<size_t>> ReadInterfaceLists(const Field& field, size_t diskCount) {
    std::vector<std::vector<size_t>> lists;
    for (size_t i = 0; i < field.ArraySize(); ++i) {
        lists.push_back(ReadIndexes(field.Element(i), diskCount, "a disk"));
    }
    return lists;
}

std::optional<std::wstring> OptionalText(const Field& field, const char* name) {
    if (!field.Has(name)) {
        return std::nullopt;
    }
    return field.Member(name).Text();
}

sim::DeviceNode ReadDeviceNode(const Field& field) {
    field.ExpectObject({"description", "instanceId", "idFails", "registryDescription",
                        "deviceDescription", "busReportedDescription", "parent", "maxLinkSpeed",
                        "presentInterface"});
    sim::DeviceNode node;
    node.instanceId = field.Required("instanceId").Text();
    OptionalText(field, "description");
    if (field.Has("idFails")) {
        node.idFails = field.Member("idFails").Boolean();
    }
    node.registryDescription = OptionalText(field, "registryDescription");
    node.deviceDescription = OptionalText(field, "deviceDescription");
    node.busReportedDescription = OptionalText(field, "busReportedDescription");
    node.parent = OptionalText(field, "parent");
    if (field.Has("presentInterface")) {
        node.hasPresentInterface = field.Member("presentInterface").Boolean();
    }
    if (field.Has("maxLinkSpeed")) {
        Field speed = field.Member("maxLinkSpeed");
        if (speed.IsObject()) {
            speed.ExpectObject({"bytes"});
            node.maxLinkSpeed = HexBytes(speed.Required("bytes"));
        } else {
            const DWORD value = Dword(speed);
            std::vector<BYTE> bytes(sizeof(value));
            std::memcpy(bytes.data(), &value, sizeof(value));
            node.maxLinkSpeed = bytes;
        }
    }
    return node;
}

sim::EnumeratorSet ReadEnumeratorSet(const Field& field, size_t nodeCount) {
    field.ExpectObject({"enumerator", "refused", "members"});
    sim::EnumeratorSet set;
    set.enumerator = field.Required("enumerator").Text();
    if (field.Has("refused")) {
        set.refused = field.Member("refused").Boolean();
    }
    if (field.Has("members")) {
        set.members = ReadIndexes(field.Member("members"), nodeCount, "a device node");
    }
    return set;
}

std::vector<BYTE> ReadRaidReply(const Field& field) {
    if (!field.IsObject()) {
        field.Refuse("expected an object");
    }
    if (field.Has("bytes")) {
        field.ExpectObject({"bytes"}, "not allowed beside \"bytes\"");
        return HexBytes(field.Member("bytes"));
    }
    field.ExpectObject(
        {"returnCode", "connectionType", "connectionInterface", "pciBusWidth", "pciBusSpeed"});
    DWORD returnCode = field.Has("returnCode") ? Dword(field.Member("returnCode")) : 0;
    const LONG connectionType = Long(field.Required("connectionType"));
    const LONG connectionInterface = Long(field.Required("connectionInterface"));
    const LONG pciBusWidth = Long(field.Required("pciBusWidth"));
    const LONG pciBusSpeed = Long(field.Required("pciBusSpeed"));
    return sim::RaidReply(returnCode, connectionType, connectionInterface, pciBusWidth,
                          pciBusSpeed);
}

void ReadMiniportAnswer(const Field& field, sim::MiniportAnswer& answer) {
    if (field.Has("result")) {
        answer.result = field.Member("result").Boolean() ? TRUE : FALSE;
    }
    if (field.Has("lastError")) {
        answer.lastError = ErrorCode(field.Member("lastError"));
    }
    if (field.Has("bytesReturned")) {
        answer.bytesReturned = Dword(field.Member("bytesReturned"));
    }
    if (field.Has("reply")) {
        answer.reply = ReadRaidReply(field.Member("reply"));
    }
}

sim::Controller ReadController(const Field& field) {
    field.ExpectObject({"description", "open", "openError", "result", "lastError", "bytesReturned",
                        "reply", "diskAnswers"});
    sim::Controller controller;
    OptionalText(field, "description");
    Field open = field.Required("open");
    const std::wstring how = open.Text();
    if (how == L"fails") {
        controller.open = sim::Controller::Open::Fails;
    } else if (how == L"null") {
        controller.open = sim::Controller::Open::NullHandle;
    } else if (how == L"opens") {
        controller.open = sim::Controller::Open::Opens;
    } else {
        open.Refuse("expected \"fails\", \"null\" or \"opens\"");
    }
    if (field.Has("openError")) {
        controller.openError = ErrorCode(field.Member("openError"));
    }
    ReadMiniportAnswer(field, controller.answer);
    if (field.Has("diskAnswers")) {
        Field answers = field.Member("diskAnswers");
        for (size_t i = 0; i < answers.ArraySize(); ++i) {
            Field one = answers.Element(i);
            one.ExpectObject({"diskId", "result", "lastError", "bytesReturned", "reply"});
            sim::MiniportAnswer diskAnswer;
            ReadMiniportAnswer(one, diskAnswer);
            const DWORD diskId = Dword(one.Required("diskId"));
            for (const auto& earlier : controller.diskAnswers) {
                if (earlier.first == diskId) {
                    one.Member("diskId").Refuse("a second answer for disk ID " +
                                                std::to_string(diskId));
                }
            }
            controller.diskAnswers.emplace_back(diskId, diskAnswer);
        }
    }
    return controller;
}

sim::Machine ReadMachine(const Field& top) {
    top.ExpectObject({"description", "disks", "interfaceLists", "classQueryFails", "deviceNodes",
                      "enumeratorSets", "controllers", "devicePropertyFunctionMissing"});
    sim::Machine machine;
    OptionalText(top, "description");
    if (top.Has("disks")) {
        Field disks = top.Member("disks");
        for (size_t i = 0; i < disks.ArraySize(); ++i) {
            machine.disks.push_back(ReadDisk(disks.Element(i)));
        }
    }
    if (top.Has("interfaceLists")) {
        machine.interfaceLists =
            ReadInterfaceLists(top.Member("interfaceLists"), machine.disks.size());
    }
    if (top.Has("classQueryFails")) {
        machine.classQueryFails = top.Member("classQueryFails").Boolean();
    }
    if (top.Has("deviceNodes")) {
        Field nodes = top.Member("deviceNodes");
        for (size_t i = 0; i < nodes.ArraySize(); ++i) {
            machine.nodes.push_back(ReadDeviceNode(nodes.Element(i)));
        }
    }
    if (top.Has("enumeratorSets")) {
        Field sets = top.Member("enumeratorSets");
        for (size_t i = 0; i < sets.ArraySize(); ++i) {
            machine.enumeratorSets.push_back(
                ReadEnumeratorSet(sets.Element(i), machine.nodes.size()));
        }
    }
    if (top.Has("controllers")) {
        Field controllers = top.Member("controllers");
        for (size_t i = 0; i < controllers.ArraySize(); ++i) {
            machine.controllers.push_back(ReadController(controllers.Element(i)));
        }
    }
    if (top.Has("devicePropertyFunctionMissing")) {
        machine.devicePropertyFunctionMissing =
            top.Member("devicePropertyFunctionMissing").Boolean();
    }
    return machine;
}

// Follows the parser through the document, so that what only the parser sees (a member given
// twice, a number no double can hold) is named by its field path like every other mistake.
class ParsePosition {
  public:
    bool Follow(json::parse_event_t event, const json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
        case json::parse_event_t::array_start:
            StartValue();
            levels_.push_back(Level{event == json::parse_event_t::object_start, {}, {}, 0});
            break;
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
            levels_.pop_back();
            break;
        case json::parse_event_t::key:
            NameMember(parsed.get<std::string>());
            break;
        case json::parse_event_t::value:
            StartValue();
            break;
        }
        return true;
    }

    // The value being read: the member last named, or the next element of an array.
    std::string Where() const {
        std::string path;
        for (size_t i = 0; i < levels_.size(); ++i) {
            const Level& level = levels_[i];
            if (level.object && !level.key.empty()) {
                path += (path.empty() ? "" : ".") + level.key;
            } else if (!level.object) {
                const bool last = i + 1 == levels_.size();
                const size_t index = last ? level.elements : level.elements - 1;
                path += "[" + std::to_string(index) + "]";
            }
        }
        return path.empty() ? "top level" : path;
    }

    // The first member given twice in one object, or empty.
    const std::string& Repeated() const {
        return repeated_;
    }

  private:
    struct Level {
        bool object;
        std::set<std::string> keys;
        std::string key;
        size_t elements; // arrays: the elements started so far
    };

    void StartValue() {
        if (!levels_.empty() && !levels_.back().object) {
            ++levels_.back().elements;
        }
    }

    void NameMember(const std::string& key) {
        Level& level = levels_.back();
        level.key = key;
        if (!level.keys.insert(key).second && repeated_.empty()) {
            repeated_ = Where();
        }
    }

    std::vector<Level> levels_;
    std::string repeated_;
};

// The library's message without its "[json.exception.<kind>.<id>] " tag.
std::string Untagged(const std::string& message) {
    const size_t end = message.rfind("] ", message.find(' '));
    return end == std::string::npos ? message : message.substr(end + 2);
}

} // namespace

namespace sim {

Machine ParseMachine(const std::string& jsonText, const std::string& sourceName) {
    ParsePosition position;
    json document;
    try {
        document = json::parse(jsonText, [&position](int, json::parse_event_t event, json& parsed) {
            return position.Follow(event, parsed);
        });
    } catch (const json::parse_error& error) {
        throw MachineError(sourceName + ": not valid JSON: " + error.what());
    } catch (const json::exception& error) {
        // The parser's other complaint: a number beyond the range of a double, such as 1e400.
        throw MachineError(sourceName + ": " + position.Where() + ": " + Untagged(error.what()));
    }
    // The last of two equal members would silently win: a mistake like an unknown field.
    if (!position.Repeated().empty()) {
        throw MachineError(sourceName + ": " + position.Repeated() + ": duplicate field");
    }
    return ReadMachine(Field(document, "", sourceName));
}

Machine LoadMachineFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        throw MachineError(fileName + ": cannot be read: " + std::strerror(errno));
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        throw MachineError(fileName + ": cannot be read");
    }
    return ParseMachine(text.str(), fileName);
}

} // namespace sim
