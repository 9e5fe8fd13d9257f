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

int FailureCount(const Field& failures) {
    if (!failures.IsString()) {
        return static_cast<int>(failures.Unsigned(std::numeric_limits<int>::max()));
    }
    if (failures.Text() != L"always") {
        failures.Refuse("expected a count or \"always\"");
    }
    return -1;
}

sim::Reply ReadDiskReply(const Field& field, const sim::DiskRequest& request) {
    sim::Reply reply = ReadReply(field, *request.form, KeysBesideReply(request.handOver));
    // The failures before a reply, which come beside it in every form.
    if (request.handOver.scriptedFailures) {
        ReadOptional(field, "failures", reply.failures, FailureCount);
        ReadOptional(field, "failureError", reply.failureError, ErrorCode);
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
    ReadOptional(field, "description", disk.description, &Field::Text);
    ReadOptional(field, "detailReportsNoSize", disk.detailReportsNoSize, &Field::Boolean);
    ReadOptional(field, "detailError", disk.detailError, ErrorCode);
    ReadOptional(field, "openError", disk.openError, ErrorCode);
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

// The property's bytes, or the 32-bit number they hold.
std::vector<BYTE> LinkSpeed(const Field& speed) {
    if (speed.IsObject()) {
        speed.ExpectObject({"bytes"});
        return HexBytes(speed.Required("bytes"));
    }
    const DWORD value = Dword(speed);
    std::vector<BYTE> bytes(sizeof(value));
    std::memcpy(bytes.data(), &value, sizeof(value));
    return bytes;
}

sim::DeviceNode ReadDeviceNode(const Field& field) {
    field.ExpectObject({"description", "instanceId", "idFails", "registryDescription",
                        "deviceDescription", "busReportedDescription", "parent", "maxLinkSpeed",
                        "presentInterface"});
    sim::DeviceNode node;
    node.instanceId = field.Required("instanceId").Text();
    ReadOptional(field, "description", node.description, &Field::Text);
    ReadOptional(field, "idFails", node.idFails, &Field::Boolean);
    ReadOptional(field, "registryDescription", node.registryDescription, &Field::Text);
    ReadOptional(field, "deviceDescription", node.deviceDescription, &Field::Text);
    ReadOptional(field, "busReportedDescription", node.busReportedDescription, &Field::Text);
    ReadOptional(field, "parent", node.parent, &Field::Text);
    ReadOptional(field, "presentInterface", node.hasPresentInterface, &Field::Boolean);
    ReadOptional(field, "maxLinkSpeed", node.maxLinkSpeed, LinkSpeed);
    return node;
}

sim::EnumeratorSet ReadEnumeratorSet(const Field& field, size_t nodeCount) {
    field.ExpectObject({"enumerator", "refused", "members"});
    sim::EnumeratorSet set;
    set.enumerator = field.Required("enumerator").Text();
    ReadOptional(field, "refused", set.refused, &Field::Boolean);
    ReadOptional(field, "members", set.members, [nodeCount](const Field& members) {
        return ReadIndexes(members, nodeCount, "a device node");
    });
    return set;
}

void ReadMiniportAnswer(const Field& field, sim::MiniportAnswer& answer) {
    ReadOptional(field, "result", answer.result,
                 [](const Field& result) { return result.Boolean() ? TRUE : FALSE; });
    ReadOptional(field, "lastError", answer.lastError, ErrorCode);
    ReadOptional(field, "bytesReturned", answer.bytesReturned, Dword);
    ReadOptional(field, "reply", answer.reply,
                 [](const Field& reply) { return ReadReplyBytes(reply, sim::kRaidReplyForm); });
}

sim::Controller::Open OpenWay(const Field& open) {
    const std::wstring how = open.Text();
    if (how == L"fails") {
        return sim::Controller::Open::Fails;
    }
    if (how == L"null") {
        return sim::Controller::Open::NullHandle;
    }
    if (how != L"opens") {
        open.Refuse("expected \"fails\", \"null\" or \"opens\"");
    }
    return sim::Controller::Open::Opens;
}

sim::Controller ReadController(const Field& field) {
    field.ExpectObject({"description", "open", "openError", "result", "lastError", "bytesReturned",
                        "reply", "diskAnswers"});
    sim::Controller controller;
    ReadOptional(field, "description", controller.description, &Field::Text);
    controller.open = OpenWay(field.Required("open"));
    ReadOptional(field, "openError", controller.openError, ErrorCode);
    ReadMiniportAnswer(field, controller.answer);
    ReadList(field, "diskAnswers", controller.diskAnswers, [&controller](const Field& one) {
        one.ExpectObject({"diskId", "result", "lastError", "bytesReturned", "reply"});
        sim::MiniportAnswer answer;
        ReadMiniportAnswer(one, answer);
        const DWORD diskId = Dword(one.Required("diskId"));
        for (const auto& earlier : controller.diskAnswers) {
            if (earlier.first == diskId) {
                one.Member("diskId").Refuse("a second answer for disk ID " +
                                            std::to_string(diskId));
            }
        }
        return std::make_pair(diskId, answer);
    });
    return controller;
}

sim::Machine ReadMachine(const Field& top) {
    top.ExpectObject({"description", "disks", "interfaceLists", "classQueryFails", "deviceNodes",
                      "enumeratorSets", "controllers", "devicePropertyFunctionMissing"});
    sim::Machine machine;
    ReadOptional(top, "description", machine.description, &Field::Text);
    ReadList(top, "disks", machine.disks, ReadDisk);
    ReadList(top, "interfaceLists", machine.interfaceLists, [&machine](const Field& list) {
        return ReadIndexes(list, machine.disks.size(), "a disk");
    });
    ReadOptional(top, "classQueryFails", machine.classQueryFails, &Field::Boolean);
    ReadList(top, "deviceNodes", machine.nodes, ReadDeviceNode);
    ReadList(top, "enumeratorSets", machine.enumeratorSets,
             [&machine](const Field& set) { return ReadEnumeratorSet(set, machine.nodes.size()); });
    ReadList(top, "controllers", machine.controllers, ReadController);
    ReadOptional(top, "devicePropertyFunctionMissing", machine.devicePropertyFunctionMissing,
                 &Field::Boolean);
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
    return ReadMachine(Field(document, sim::Place(), sourceName));
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
