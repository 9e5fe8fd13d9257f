// Writing a machine description. The output is what a person would write: indented, fields in
// the format's order, defaults left out, replies in their typed form. A reply is written in its
// typed form only when reading that form builds exactly its bytes; any other reply is written as
// its bytes, so that no byte a driver gave is lost on the way.
#include "reply_forms.h"

#include <sim/disk_requests.h>

#include <cstring>
#include <string>
#include <type_traits>

namespace {

using nlohmann::ordered_json;
using sim::Place;

constexpr DWORD kDefaultMiniportBytes = 44;

// The text as UTF-8, when every unit is one a description can carry: a 16-bit unit that is no
// surrogate, or a high surrogate followed by a low one. Any other is refused: ToUtf8 turns it into
// U+FFFD, so the text does not come back from its UTF-8.
std::string Utf8(const std::wstring& text, const Place& place) {
    const std::string utf8 = sim::ToUtf8(text);
    if (sim::FromUtf8(utf8) != text) {
        place.Refuse("holds a unit that is no UTF-16 character (a lone surrogate), which a "
                     "description cannot carry");
    }
    return utf8;
}

void PutText(ordered_json& object, const char* key, const std::wstring& text, const Place& place) {
    object[key] = Utf8(text, place.Member(key));
}

void PutOptionalText(ordered_json& object, const char* key, const std::optional<std::wstring>& text,
                     const Place& place) {
    if (text) {
        PutText(object, key, *text, place);
    }
}

// Puts `value` under `key` unless it is the value a reader gives the field left out.
template <typename T>
void PutUnlessDefault(ordered_json& object, const char* key, const T& value,
                      const typename std::common_type<T>::type& fallback) {
    if (value != fallback) {
        object[key] = value;
    }
}

template <typename T>
void PutOptional(ordered_json& object, const char* key, const std::optional<T>& value) {
    if (value) {
        object[key] = *value;
    }
}

void PutDescription(ordered_json& object, const std::wstring& description, const Place& place) {
    if (!description.empty()) {
        PutText(object, "description", description, place);
    }
}

ordered_json BytesForm(const std::vector<BYTE>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (BYTE byte : bytes) {
        hex += hex.empty() ? "" : " ";
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0F];
    }
    ordered_json form = ordered_json::object();
    form["bytes"] = hex;
    return form;
}

// The reply in its typed form when that form builds its very bytes, else as bytes.
ordered_json TypedOrBytes(const sim::ReplyForm& form, const std::vector<BYTE>& bytes) {
    std::optional<ordered_json> typed = sim::DescribeExactly(form, bytes);
    return typed ? *typed : BytesForm(bytes);
}

ordered_json ReplyValue(const sim::Reply& reply, const sim::ReplyForm& form, const Place& place) {
    if (!reply.error) {
        return TypedOrBytes(form, reply.bytes);
    }
    if (!reply.bytes.empty()) {
        place.Refuse("a failing reply with bytes; a description gives one or the other");
    }
    ordered_json failure = ordered_json::object();
    failure["error"] = *reply.error;
    return failure;
}

// The failures before a reply, beside it in whatever form.
void PutScriptedFailures(ordered_json& value, const sim::Reply& reply, const Place& place) {
    if (reply.failures < -1) {
        place.Member("failures").Refuse("a negative count other than -1 (always)");
    }
    if (reply.failures != 0) {
        value["failures"] =
            reply.failures < 0 ? ordered_json("always") : ordered_json(reply.failures);
    }
    PutUnlessDefault(value, "failureError", reply.failureError, ERROR_INSUFFICIENT_BUFFER);
}

void PutReplies(ordered_json& object, const sim::Disk& disk, const Place& place) {
    for (const auto& [request, reply] : disk.replies) {
        if (sim::FindDiskRequest(request) == nullptr) {
            const std::string property =
                request.propertyId ? " property " + std::to_string(*request.propertyId) : "";
            place.Refuse("a reply to control code " + std::to_string(request.controlCode) +
                         property + ", a request no simulated disk answers");
        }
    }
    for (const sim::DiskRequest& request : sim::DiskRequests()) {
        const auto found = disk.replies.find(request.request);
        if (found == disk.replies.end()) {
            continue;
        }
        const Place at = place.Member(request.key);
        const sim::Reply& reply = found->second;
        ordered_json value = ReplyValue(reply, *request.form, at);
        if (request.handOver.scriptedFailures) {
            PutScriptedFailures(value, reply, at);
        } else if (reply.failures != 0 || reply.failureError != ERROR_INSUFFICIENT_BUFFER) {
            at.Refuse("failures before a reply to a request that has none");
        }
        object[request.key] = value;
    }
}

ordered_json DiskValue(const sim::Disk& disk, const Place& place) {
    ordered_json object = ordered_json::object();
    PutDescription(object, disk.description, place);
    if (sim::NamesController(disk.path)) {
        place.Member("path").Refuse(
            "names a SCSI controller (\\\\.\\scsiN:), not a disk interface");
    }
    PutText(object, "path", disk.path, place);
    PutUnlessDefault(object, "detailReportsNoSize", disk.detailReportsNoSize, false);
    PutOptional(object, "detailError", disk.detailError);
    PutOptional(object, "openError", disk.openError);
    PutReplies(object, disk, place);
    return object;
}

ordered_json IndexList(const std::vector<size_t>& indexes, size_t count, const Place& place) {
    ordered_json list = ordered_json::array();
    for (size_t k = 0; k < indexes.size(); ++k) {
        if (indexes[k] >= count) {
            place.Element(k).Refuse("beyond the list it names, which holds " +
                                    std::to_string(count));
        }
        list.push_back(indexes[k]);
    }
    return list;
}

ordered_json LinkSpeedValue(const std::vector<BYTE>& bytes) {
    if (bytes.size() != sizeof(DWORD)) {
        return BytesForm(bytes);
    }
    DWORD speed = 0;
    std::memcpy(&speed, bytes.data(), sizeof(speed));
    return speed;
}

ordered_json NodeValue(const sim::DeviceNode& node, const Place& place) {
    ordered_json object = ordered_json::object();
    PutDescription(object, node.description, place);
    PutText(object, "instanceId", node.instanceId, place);
    PutUnlessDefault(object, "idFails", node.idFails, false);
    PutOptionalText(object, "registryDescription", node.registryDescription, place);
    PutOptionalText(object, "deviceDescription", node.deviceDescription, place);
    PutOptionalText(object, "busReportedDescription", node.busReportedDescription, place);
    PutOptionalText(object, "parent", node.parent, place);
    PutUnlessDefault(object, "presentInterface", node.hasPresentInterface, true);
    if (node.maxLinkSpeed) {
        object["maxLinkSpeed"] = LinkSpeedValue(*node.maxLinkSpeed);
    }
    return object;
}

ordered_json EnumeratorSetValue(const sim::EnumeratorSet& set, size_t nodeCount,
                                const Place& place) {
    ordered_json object = ordered_json::object();
    PutText(object, "enumerator", set.enumerator, place);
    PutUnlessDefault(object, "refused", set.refused, false);
    if (!set.members.empty()) {
        object["members"] = IndexList(set.members, nodeCount, place.Member("members"));
    }
    return object;
}

void PutAnswer(ordered_json& object, const sim::MiniportAnswer& answer, const Place& place) {
    if (answer.result != TRUE && answer.result != FALSE) {
        place.Member("result").Refuse("neither TRUE nor FALSE");
    }
    PutUnlessDefault(object, "result", answer.result == TRUE, true);
    PutUnlessDefault(object, "lastError", answer.lastError, 0);
    PutUnlessDefault(object, "bytesReturned", answer.bytesReturned, kDefaultMiniportBytes);
    if (!answer.reply.empty()) {
        object["reply"] = TypedOrBytes(sim::kRaidReplyForm, answer.reply);
    }
}

const char* OpenName(sim::Controller::Open open, const Place& place) {
    switch (open) {
    case sim::Controller::Open::Fails:
        return "fails";
    case sim::Controller::Open::NullHandle:
        return "null";
    case sim::Controller::Open::Opens:
        return "opens";
    }
    place.Refuse("not one of the ways a controller opens");
}

ordered_json ControllerValue(const sim::Controller& controller, const Place& place) {
    ordered_json object = ordered_json::object();
    PutDescription(object, controller.description, place);
    object["open"] = OpenName(controller.open, place.Member("open"));
    PutUnlessDefault(object, "openError", controller.openError, ERROR_FILE_NOT_FOUND);
    PutAnswer(object, controller.answer, place);
    const Place answers = place.Member("diskAnswers");
    for (size_t j = 0; j < controller.diskAnswers.size(); ++j) {
        const DWORD diskId = controller.diskAnswers[j].first;
        for (size_t earlier = 0; earlier < j; ++earlier) {
            if (controller.diskAnswers[earlier].first == diskId) {
                answers.Element(j).Member("diskId").Refuse("a second answer for disk ID " +
                                                           std::to_string(diskId));
            }
        }
        ordered_json answer = ordered_json::object();
        answer["diskId"] = diskId;
        PutAnswer(answer, controller.diskAnswers[j].second, answers.Element(j));
        object["diskAnswers"].push_back(answer);
    }
    return object;
}

// Each element of the list as `value` writes it, under `key` when there is any.
template <typename T, typename Write>
void PutList(ordered_json& object, const char* key, const std::vector<T>& elements,
             const Place& place, Write value) {
    for (size_t i = 0; i < elements.size(); ++i) {
        object[key].push_back(value(elements[i], place.Member(key).Element(i)));
    }
}

} // namespace

namespace sim {

std::string WriteMachine(const Machine& machine) {
    const Place top;
    ordered_json document = ordered_json::object();
    PutDescription(document, machine.description, top);
    PutList(document, "disks", machine.disks, top, DiskValue);
    PutList(document, "interfaceLists", machine.interfaceLists, top,
            [&machine](const std::vector<size_t>& list, const Place& place) {
                return IndexList(list, machine.disks.size(), place);
            });
    PutUnlessDefault(document, "classQueryFails", machine.classQueryFails, false);
    PutList(document, "deviceNodes", machine.nodes, top, NodeValue);
    PutList(document, "enumeratorSets", machine.enumeratorSets, top,
            [&machine](const EnumeratorSet& set, const Place& place) {
                return EnumeratorSetValue(set, machine.nodes.size(), place);
            });
    PutList(document, "controllers", machine.controllers, top, ControllerValue);
    PutUnlessDefault(document, "devicePropertyFunctionMissing",
                     machine.devicePropertyFunctionMissing, false);
    return document.dump(2) + "\n";
}

} // namespace sim
