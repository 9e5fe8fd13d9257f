// Reading a machine description. Every field is checked for its type and range, and a field the
// format does not know is refused, so a typing mistake in a description never goes unnoticed.
#include "description_field.h"
#include "reply_forms.h"

#include <sim/disk_requests.h>

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
using sim::Dword;
using sim::ErrorCode;
using sim::Field;
using sim::HexBytes;

std::optional<std::wstring> OptionalText(const Field& field, const char* name) {
    if (!field.Has(name)) {
        return std::nullopt;
    }
    return field.Member(name).Text();
}

// The failures before a reply, which come beside it in every form.
void ReadScriptedFailures(const Field& field, sim::Reply& reply) {
    if (field.Has("failures")) {
        Field failures = field.Member("failures");
        if (failures.IsString()) {
            if (failures.Text() != L"always") {
                failures.Refuse("expected a count or \"always\"");
            }
            reply.failures = -1;
        } else {
            reply.failures = static_cast<int>(failures.Unsigned(std::numeric_limits<int>::max()));
        }
    }
    if (field.Has("failureError")) {
        reply.failureError = ErrorCode(field.Member("failureError"));
    }
}

sim::Reply ReadDiskReply(const Field& field, const sim::DiskRequest& request) {
    sim::Reply reply = ReadReply(field, *request.form, KeysBesideReply(request.handOver));
    if (request.handOver.scriptedFailures) {
        ReadScriptedFailures(field, reply);
    }
    return reply;
}

sim::Disk ReadDisk(const Field& field) {
    std::vector<std::string> known = {"description", "path", "detailReportsNoSize", "detailError",
                                      "openError"};
    for (const sim::DiskRequest& request : sim::DiskRequests()) {
        known.push_back(request.key);
    }
    field.ExpectObject(known);
    sim::Disk disk;
    Field path = field.Required("path");
    disk.path = path.Text();
    // Windows never presents a controller as a disk interface, and opening the path would reach
    // the controller rather than this disk.
    if (sim::NamesController(disk.path)) {
        path.Refuse("names a SCSI controller (\\\\.\\scsiN:), not a disk interface");
    }
    disk.description = OptionalText(field, "description").value_or(L"");
    if (field.Has("detailReportsNoSize")) {
        disk.detailReportsNoSize = field.Member("detailReportsNoSize").Boolean();
    }
    if (field.Has("detailError")) {
        disk.detailError = ErrorCode(field.Member("detailError"));
    }
    if (field.Has("openError")) {
        disk.openError = ErrorCode(field.Member("openError"));
    }
    for (const sim::DiskRequest& request : sim::DiskRequests()) {
        if (field.Has(request.key)) {
            disk.replies[request.request] = ReadDiskReply(field.Member(request.key), request);
        }
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

sim::DeviceNode ReadDeviceNode(const Field& field) {
    field.ExpectObject({"description", "instanceId", "idFails", "registryDescription",
                        "deviceDescription", "busReportedDescription", "parent", "maxLinkSpeed",
                        "presentInterface"});
    sim::DeviceNode node;
    node.instanceId = field.Required("instanceId").Text();
    node.description = OptionalText(field, "description").value_or(L"");
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
    field.ExpectObject(FieldNames(sim::kRaidReplyForm));
    return sim::kRaidReplyForm.read(field).bytes;
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
    controller.description = OptionalText(field, "description").value_or(L"");
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
    machine.description = OptionalText(top, "description").value_or(L"");
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
