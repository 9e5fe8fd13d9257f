// wine_machine: turns a machine description into the registry file that plays it under Wine
// through the test disk driver (disk_driver.c): each disk's interface and device node as Wine's
// SetupAPI reads them, the other device nodes with an interface of their own, and the driver's
// service with every answer it gives: for a disk, one subkey per request of the machine model's
// table, with how the reply is handed over, so that the driver holds no request of its own. A
// description that this route cannot play exactly is refused with one line naming the field.
// Test-only.
//
// Usage: wine_machine MACHINE.json OUT.reg
// Exit code 0 when OUT.reg is written; 3 when this route cannot play the description; 2 when it
// cannot be read or is no machine description (missing, not JSON, a field the format does not
// know); 1 on a wrong command line or when OUT.reg cannot be written.
#include <sim/disk_requests.h>
#include <sim/machine.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const wchar_t kServiceName[] = L"destpick_disk";
const wchar_t kDiskInterfaceClass[] = L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kStoragePortClass[] = L"{2accfe60-c130-11d2-b082-00a0c91efb8b}";
const wchar_t kDiskDeviceClass[] = L"{4d36e967-e325-11ce-bfc1-08002be10318}";
const wchar_t kScsiAdapterDeviceClass[] = L"{4d36e97b-e325-11ce-bfc1-08002be10318}";
const wchar_t kControlSet[] = L"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\";
const DWORD kRegSz = 1;
const DWORD kRegBinary = 3;
const DWORD kRegDword = 4;
// Wine keeps a device property as a value of type 0xFFFF0000 | DEVPROPTYPE.
const DWORD kPropertyString = 0xFFFF0012;
const DWORD kPropertyUint32 = 0xFFFF0007;
const DWORD kAlwaysFails = 0xFFFFFFFF;
const DWORD kRaidReplySize = 44;

// A description this route cannot play: "<field>: <why>".
class Refusal : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Win32 errors and the NTSTATUS codes that Wine's ntdll turns back into them.
struct ErrorMapping {
    DWORD error;
    DWORD status;
};
const ErrorMapping kErrorMappings[] = {
    {1, 0xC0000010},    // STATUS_INVALID_DEVICE_REQUEST
    {2, 0xC0000034},    // STATUS_OBJECT_NAME_NOT_FOUND
    {3, 0xC000003A},    // STATUS_OBJECT_PATH_NOT_FOUND
    {5, 0xC0000022},    // STATUS_ACCESS_DENIED
    {6, 0xC0000008},    // STATUS_INVALID_HANDLE
    {8, 0xC0000017},    // STATUS_NO_MEMORY
    {19, 0xC00000A2},   // STATUS_MEDIA_WRITE_PROTECTED
    {21, 0xC00000A3},   // STATUS_DEVICE_NOT_READY
    {23, 0xC000003F},   // STATUS_CRC_ERROR
    {31, 0xC0000001},   // STATUS_UNSUCCESSFUL
    {32, 0xC0000043},   // STATUS_SHARING_VIOLATION
    {50, 0xC00000BB},   // STATUS_NOT_SUPPORTED
    {55, 0xC00000C0},   // STATUS_DEVICE_DOES_NOT_EXIST
    {87, 0xC000000D},   // STATUS_INVALID_PARAMETER
    {121, 0xC00000B5},  // STATUS_IO_TIMEOUT
    {122, 0xC0000023},  // STATUS_BUFFER_TOO_SMALL
    {1117, 0xC0000185}, // STATUS_IO_DEVICE_ERROR
    {1167, 0xC000009D}, // STATUS_DEVICE_NOT_CONNECTED
    {1784, 0xC00000E8}, // STATUS_INVALID_USER_BUFFER
};

DWORD StatusFor(DWORD error, const std::string& field) {
    for (const ErrorMapping& mapping : kErrorMappings) {
        if (mapping.error == error) {
            return mapping.status;
        }
    }
    throw Refusal(field + ": error " + std::to_string(error) +
                  " has no NTSTATUS that Wine maps back to it");
}

// --- The registry as a list of keys -------------------------------------------------------------

struct Value {
    std::wstring name; // empty: the key's default value
    DWORD type;
    std::vector<BYTE> data;
};

struct Key {
    std::wstring path; // below HKEY_LOCAL_MACHINE\System\CurrentControlSet
    std::vector<Value> values;
};

void AppendWords(std::vector<BYTE>& data, std::initializer_list<DWORD> words) {
    for (DWORD word : words) {
        for (int shift = 0; shift < 32; shift += 8) {
            data.push_back(static_cast<BYTE>(word >> shift));
        }
    }
}

Value Dword(const std::wstring& name, DWORD number) {
    Value value{name, kRegDword, {}};
    AppendWords(value.data, {number});
    return value;
}

// UTF-16LE; a character beyond the BMP becomes its surrogate pair.
void AppendUtf16(std::vector<BYTE>& data, const std::wstring& text) {
    const auto unit = [&data](unsigned value) {
        data.push_back(static_cast<BYTE>(value & 0xFF));
        data.push_back(static_cast<BYTE>((value >> 8) & 0xFF));
    };
    for (wchar_t c : text) {
        const unsigned code = static_cast<unsigned>(c);
        if (code > 0xFFFF) {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            unit(code);
        }
    }
}

Value Text(const std::wstring& name, const std::wstring& text, DWORD type = kRegSz) {
    Value value{name, type, {}};
    AppendUtf16(value.data, text + L'\0');
    return value;
}

Value Binary(const std::wstring& name, std::initializer_list<DWORD> words,
             const std::vector<BYTE>& bytes) {
    Value value{name, kRegBinary, {}};
    AppendWords(value.data, words);
    value.data.insert(value.data.end(), bytes.begin(), bytes.end());
    return value;
}

// A DWORD as dword:N, and a REG_SZ as "text" when it has no control characters and a terminator
// at the end only. Anything else goes as hex.
std::optional<std::wstring> Readable(const Value& value) {
    if (value.type == kRegDword && value.data.size() == 4) {
        wchar_t text[16];
        std::swprintf(text, 16, L"dword:%02x%02x%02x%02x", value.data[3], value.data[2],
                      value.data[1], value.data[0]);
        return text;
    }
    if (value.type != kRegSz) {
        return std::nullopt;
    }
    std::wstring text;
    for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
        text += static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8));
    }
    if (text.empty() || text.back() != L'\0') {
        return std::nullopt;
    }
    text.pop_back();
    std::wstring quoted = L"\"";
    for (wchar_t c : text) {
        if (c < 0x20 || c == 0x7F) {
            return std::nullopt;
        }
        quoted += (c == L'\\' || c == L'"') ? std::wstring{L'\\', c} : std::wstring{c};
    }
    return quoted + L"\"";
}

std::wstring Hex(const Value& value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"hex(%x):", value.type);
    std::wstring hex = text;
    for (size_t i = 0; i < value.data.size(); ++i) {
        std::swprintf(text, 16, i == 0 ? L"%02x" : L",%02x", value.data[i]);
        hex += text;
    }
    return hex;
}

// UTF-16LE with a byte-order mark, so that text of any script arrives as it is.
void WriteRegFile(const std::vector<Key>& keys, const std::string& fileName) {
    std::wstring text = L"Windows Registry Editor Version 5.00\r\n";
    for (const Key& key : keys) {
        text += L"\r\n[" + std::wstring(kControlSet) + key.path + L"]\r\n";
        for (const Value& value : key.values) {
            const std::wstring name = value.name.empty() ? L"@" : L"\"" + value.name + L"\"";
            text += name + L"=" + Readable(value).value_or(Hex(value)) + L"\r\n";
        }
    }
    std::vector<BYTE> bytes = {0xFF, 0xFE};
    AppendUtf16(bytes, text);
    std::ofstream out(fileName, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        throw std::runtime_error(fileName + ": cannot be written");
    }
}

// --- From the machine model to the registry ------------------------------------------------------
// The only part that reads the machine model.

std::string Field(const char* array, size_t index, const std::string& member = "") {
    return std::string(array) + "[" + std::to_string(index) + "]" +
           (member.empty() ? "" : "." + member);
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return text;
}

// A key's name in a .reg file runs from its '[' to a ']' on the same line. A line break in a name
// would end it and let the rest of the text name keys and values of its own, anywhere in the
// registry (a Run key, a service); which ']' ends a name is the reader's choice (Wine's regedit
// takes the line's last). Every text that becomes part of a key's name is held to this.
void CheckKeyNameText(const std::wstring& text, const std::string& field) {
    for (wchar_t c : text) {
        const unsigned code = static_cast<unsigned>(c);
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F) || c == L']') {
            throw Refusal(field +
                          ": a control character or ']' in a text that names a registry key");
        }
    }
}

// Wine upper-cases the ASCII letters of every device instance ID it registers (other letters
// keep their case), and answers the ID in that form: an ID with a lower-case letter would be
// logged otherwise than the stand-in logs it.
void CheckInstanceIdCase(const std::wstring& id, const std::string& field) {
    for (wchar_t c : id) {
        if (c >= L'a' && c <= L'z') {
            throw Refusal(field + ": a lower-case letter, which Wine answers upper-cased");
        }
    }
}

// The instance ID of a disk interface path "\\?\a#b#c#{class}": "a\b\c".
std::wstring InstanceIdOfPath(const std::wstring& path, const std::string& field) {
    const std::wstring prefix = L"\\\\?\\";
    const std::wstring suffix = std::wstring(L"#") + kDiskInterfaceClass;
    if (path.size() <= prefix.size() + suffix.size() ||
        path.compare(0, prefix.size(), prefix) != 0 ||
        Lower(path.substr(path.size() - suffix.size())) != suffix ||
        path.find(L'\\', prefix.size()) != std::wstring::npos) {
        throw Refusal(field + ": not an interface path \\\\?\\<id with #>#" +
                      "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    }
    std::wstring id = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    for (wchar_t& c : id) {
        if (c == L'#') {
            c = L'\\';
        }
    }
    return id;
}

// A registry key's name holds at most 255 characters. Wine's SetupAPI passes over an interface
// key of 257 or more (the disk is not listed), and the driver refuses a link of 299 or more.
void CheckKeyNameLength(const std::wstring& name, const std::string& field) {
    const size_t longest = 255;
    if (name.size() > longest) {
        throw Refusal(field + ": names a registry key of " + std::to_string(name.size()) +
                      " characters; a key's name holds at most 255");
    }
}

// An interface: DeviceClasses\{class}\<key name> naming the node, with the path and present.
// Wine hands out the SymbolicLink value as the path, as it stands, and lists interfaces in the
// order of their key names, whatever those hold; Windows names the key after the path.
void AddInterface(std::vector<Key>& keys, const std::wstring& instanceId,
                  const std::wstring& keyName, const std::wstring& path,
                  const wchar_t* interfaceClass, const std::string& field) {
    CheckKeyNameLength(keyName, field);
    const std::wstring key =
        std::wstring(L"Control\\DeviceClasses\\") + interfaceClass + L"\\" + keyName;
    keys.push_back({key, {Text(L"DeviceInstance", instanceId)}});
    keys.push_back({key + L"\\#", {Text(L"SymbolicLink", path)}});
    keys.push_back({key + L"\\#\\Control", {Dword(L"Linked", 1)}});
}

void AddProperty(std::vector<Key>& keys, const std::wstring& node, const wchar_t* id, Value value) {
    keys.push_back({node + L"\\Properties\\" + id, {value}});
}

// A device node's Enum key, its registry description and its device properties.
void AddNode(std::vector<Key>& keys, const sim::DeviceNode& node, const wchar_t* deviceClass,
             const std::string& field) {
    for (size_t start = 0, end = 0; end != std::wstring::npos; start = end + 1) {
        end = node.instanceId.find(L'\\', start);
        CheckKeyNameLength(node.instanceId.substr(start, end - start), field);
    }
    const std::wstring key = L"Enum\\" + node.instanceId;
    Key enumKey{key, {Text(L"ClassGUID", deviceClass)}};
    if (node.registryDescription) {
        enumKey.values.push_back(Text(L"DeviceDesc", *node.registryDescription));
    }
    keys.push_back(enumKey);
    if (node.deviceDescription) {
        AddProperty(keys, key, L"{a45c254e-df1c-4efd-8020-67d146a850e0}\\0002",
                    Text(L"", *node.deviceDescription, kPropertyString));
    }
    if (node.busReportedDescription) {
        AddProperty(keys, key, L"{540b947e-8b40-45bc-a8a2-6a0b894cbda2}\\0004",
                    Text(L"", *node.busReportedDescription, kPropertyString));
    }
    if (node.parent) {
        AddProperty(keys, key, L"{4340a6c5-93fa-4706-972c-7b648008a5a7}\\0008",
                    Text(L"", *node.parent, kPropertyString));
    }
    if (node.maxLinkSpeed) {
        AddProperty(keys, key, L"{3ab22e31-8264-4b4e-9af5-a8d2d8e33e62}\\000B",
                    Value{L"", kPropertyUint32, *node.maxLinkSpeed});
    }
}

const sim::DeviceNode* NodeWithId(const sim::Machine& machine, const std::wstring& id) {
    for (const sim::DeviceNode& node : machine.nodes) {
        if (Upper(node.instanceId) == Upper(id)) {
            return &node;
        }
    }
    return nullptr;
}

// The device's name, or none when the open fails with error 2: Wine opens a device whatever its
// driver answers to the open, so a name that leads nowhere is the one failing open it can play.
std::vector<Value> LinkValue(const std::wstring& link, std::optional<DWORD> openError,
                             const std::string& field) {
    if (!openError) {
        return {Text(L"Link", link)};
    }
    if (*openError != ERROR_FILE_NOT_FOUND) {
        throw Refusal(
            field +
            ": Wine opens a device whatever its driver answers; only error 2 can be played");
    }
    return {};
}

Value ReplyValue(const wchar_t* name, const sim::Reply& reply, const std::string& field) {
    if (reply.error) {
        return Binary(name, {StatusFor(*reply.error, field + ".error")}, {});
    }
    return Binary(name, {0}, reply.bytes);
}

// A request of the model's table as the driver matches it, how the reply is handed over, and
// the disk's reply when it has one.
Key RequestParameters(const std::wstring& diskKey, size_t row, const sim::DiskRequest& request,
                      const sim::Disk& disk, const std::string& field) {
    const sim::HandOver& handOver = request.handOver;
    Key key{diskKey + L"\\Request" + std::to_wstring(row),
            {Dword(L"ControlCode", request.request.controlCode),
             Dword(L"LeastRoom", handOver.leastRoom), Dword(L"CutToRoom", handOver.cutToRoom),
             Dword(L"ScriptedFailures", handOver.scriptedFailures)}};
    if (request.request.propertyId) {
        key.values.push_back(Dword(L"PropertyId", *request.request.propertyId));
    }
    const auto found = disk.replies.find(request.request);
    if (found == disk.replies.end()) {
        return key;
    }
    const sim::Reply& reply = found->second;
    const std::string replyField = field + "." + request.key;
    key.values.push_back(ReplyValue(L"Reply", reply, replyField));
    if (reply.failures != 0) {
        key.values.push_back(Dword(
            L"Failures", reply.failures < 0 ? kAlwaysFails : static_cast<DWORD>(reply.failures)));
        key.values.push_back(
            Dword(L"FailureStatus", StatusFor(reply.failureError, replyField + ".failureError")));
    }
    return key;
}

void AddDiskParameters(std::vector<Key>& keys, const sim::Disk& disk, size_t index) {
    const std::string field = Field("disks", index);
    if (disk.detailReportsNoSize) {
        throw Refusal(field +
                      ".detailReportsNoSize: Wine's SetupAPI always reports the detail size");
    }
    if (disk.detailError) {
        throw Refusal(field +
                      ".detailError: Wine's SetupAPI does not fail a detail call on request");
    }
    const std::vector<sim::DiskRequest>& requests = sim::DiskRequests();
    Key key{L"Services\\" + std::wstring(kServiceName) + L"\\Parameters\\Disk" +
                std::to_wstring(index),
            LinkValue(L"\\??\\" + disk.path.substr(4), disk.openError, field + ".openError")};
    key.values.push_back(Dword(L"RequestCount", static_cast<DWORD>(requests.size())));
    keys.push_back(key);
    for (size_t row = 0; row < requests.size(); ++row) {
        keys.push_back(RequestParameters(key.path, row, requests[row], disk, field));
    }
}

// [NTSTATUS][byte count][reply]: Wine hands back neither bytes nor a count with a failure, and
// a success only as many bytes as it counts, so the answer must say no more than that.
std::vector<BYTE> AnswerData(const sim::MiniportAnswer& answer, const std::string& field) {
    std::vector<BYTE> data;
    if (!answer.result) {
        if (answer.bytesReturned != 0) {
            throw Refusal(field +
                          ".bytesReturned: a failed request hands back no count under Wine");
        }
        if (!answer.reply.empty()) {
            throw Refusal(field + ".reply: a failed request hands back no bytes under Wine");
        }
        AppendWords(data, {StatusFor(answer.lastError, field + ".lastError"), 0});
        return data;
    }
    if (answer.lastError != 0) {
        throw Refusal(field + ".lastError: a successful request leaves the last error as it was");
    }
    if (answer.bytesReturned > kRaidReplySize) {
        throw Refusal(field + ".bytesReturned: a byte count beyond the 44-byte reply buffer");
    }
    if (answer.reply.size() > answer.bytesReturned) {
        throw Refusal(field +
                      ".reply: more bytes than the byte count, which is all that Wine hands back");
    }
    AppendWords(data, {0, answer.bytesReturned});
    data.insert(data.end(), answer.reply.begin(), answer.reply.end());
    return data;
}

Key ControllerParameters(const sim::Controller& controller, size_t index) {
    const std::string field = Field("controllers", index);
    if (controller.open == sim::Controller::Open::NullHandle) {
        throw Refusal(field + ".open: a null handle from CreateFileW");
    }
    std::optional<DWORD> openError;
    if (controller.open == sim::Controller::Open::Fails) {
        openError = controller.openError;
    }
    Key key{L"Services\\" + std::wstring(kServiceName) + L"\\Parameters\\Controller" +
                std::to_wstring(index),
            LinkValue(L"\\DosDevices\\Scsi" + std::to_wstring(index) + L":", openError,
                      field + ".openError")};
    std::vector<BYTE> own = AnswerData(controller.answer, field);
    key.values.push_back(Value{L"Answer", kRegBinary, own});
    key.values.push_back(
        Dword(L"DiskAnswerCount", static_cast<DWORD>(controller.diskAnswers.size())));
    for (size_t j = 0; j < controller.diskAnswers.size(); ++j) {
        std::vector<BYTE> data;
        AppendWords(data, {controller.diskAnswers[j].first});
        std::vector<BYTE> answer =
            AnswerData(controller.diskAnswers[j].second, field + "." + Field("diskAnswers", j));
        data.insert(data.end(), answer.begin(), answer.end());
        key.values.push_back(Value{L"DiskAnswer" + std::to_wstring(j), kRegBinary, data});
    }
    return key;
}

void CheckMachine(const sim::Machine& machine) {
    if (machine.classQueryFails) {
        throw Refusal("classQueryFails: Wine's SetupAPI does not fail the class query on request");
    }
    if (!machine.enumeratorSets.empty()) {
        throw Refusal("enumeratorSets: Wine answers a node query from the registry alone");
    }
    if (machine.devicePropertyFunctionMissing) {
        throw Refusal(
            "devicePropertyFunctionMissing: Wine's SetupAPI has SetupDiGetDevicePropertyW");
    }
    for (size_t k = 0; k < machine.disks.size(); ++k) {
        CheckKeyNameText(machine.disks[k].path, Field("disks", k, "path"));
    }
    for (size_t k = 0; k < machine.nodes.size(); ++k) {
        const sim::DeviceNode& node = machine.nodes[k];
        CheckKeyNameText(node.instanceId, Field("deviceNodes", k, "instanceId"));
        CheckInstanceIdCase(node.instanceId, Field("deviceNodes", k, "instanceId"));
        if (node.idFails) {
            throw Refusal(Field("deviceNodes", k, "idFails") +
                          ": Wine answers the ID of every node it lists");
        }
        if (NodeWithId(machine, node.instanceId) != &node) {
            throw Refusal(Field("deviceNodes", k, "instanceId") + ": a second node with this ID");
        }
        if (node.parent && NodeWithId(machine, *node.parent) == nullptr) {
            throw Refusal(Field("deviceNodes", k, "parent") +
                          ": no node with this ID; Wine answers an empty set where the stand-in "
                          "refuses the query");
        }
    }
}

// The disks in the order every class query lists them: Wine lists the same interfaces each time.
std::vector<size_t> ListedDisks(const sim::Machine& machine) {
    std::vector<size_t> order;
    for (size_t k = 0; k < machine.disks.size(); ++k) {
        order.push_back(k);
    }
    if (machine.interfaceLists.empty()) {
        return order;
    }
    for (size_t i = 1; i < machine.interfaceLists.size(); ++i) {
        if (machine.interfaceLists[i] != machine.interfaceLists[0]) {
            throw Refusal(Field("interfaceLists", i) +
                          ": differs from the first list; Wine lists the same interfaces to every "
                          "query");
        }
    }
    std::vector<size_t> sorted = machine.interfaceLists[0];
    std::sort(sorted.begin(), sorted.end());
    if (sorted != order) {
        throw Refusal(Field("interfaceLists", 0) +
                      ": not every disk once; this route lists every disk, in any order");
    }
    return machine.interfaceLists[0];
}

// A disk's interface, at its place in the class query's list, and its device node.
void AddDiskInterface(std::vector<Key>& keys, const sim::Machine& machine, size_t disk,
                      size_t place) {
    const std::wstring& path = machine.disks[disk].path;
    const std::wstring derived = InstanceIdOfPath(path, Field("disks", disk, "path"));
    const sim::DeviceNode* node = NodeWithId(machine, derived);
    const std::wstring id = node != nullptr ? node->instanceId : Upper(derived);
    // Wine lists interfaces in the order of their key names: the place comes first in the name.
    wchar_t placeName[16];
    std::swprintf(placeName, 16, L"##?#%04zu#", place);
    AddInterface(keys, id, placeName + path.substr(4), path, kDiskInterfaceClass,
                 Field("disks", disk, "path"));
    if (node != nullptr) {
        AddNode(
            keys, *node, kDiskDeviceClass,
            Field("deviceNodes", static_cast<size_t>(node - machine.nodes.data()), "instanceId"));
    } else {
        keys.push_back({L"Enum\\" + id, {Text(L"ClassGUID", kDiskDeviceClass)}});
    }
}

bool IsDiskNode(const sim::Machine& machine, const sim::DeviceNode& node) {
    for (size_t k = 0; k < machine.disks.size(); ++k) {
        const std::wstring id = InstanceIdOfPath(machine.disks[k].path, Field("disks", k, "path"));
        if (Upper(id) == Upper(node.instanceId)) {
            return true;
        }
    }
    return false;
}

// Any other node, a controller in practice, with the storage-port interface that Windows gives
// it: a node query with DIGCF_PRESENT lists only nodes with a present interface.
void AddOtherNode(std::vector<Key>& keys, const sim::DeviceNode& node, const std::string& field) {
    AddNode(keys, node, kScsiAdapterDeviceClass, field);
    if (!node.hasPresentInterface) {
        return;
    }
    std::wstring name = node.instanceId + L"#" + kStoragePortClass;
    for (wchar_t& c : name) {
        c = c == L'\\' ? L'#' : c;
    }
    AddInterface(keys, node.instanceId, L"##?#" + name, L"\\\\?\\" + name, kStoragePortClass,
                 field);
}

std::vector<Key> MachineKeys(const sim::Machine& machine) {
    CheckMachine(machine);
    std::vector<Key> keys = {
        {L"Services\\" + std::wstring(kServiceName) + L"\\Parameters",
         {Dword(L"DiskCount", static_cast<DWORD>(machine.disks.size())),
          Dword(L"ControllerCount", static_cast<DWORD>(machine.controllers.size())),
          Dword(L"UnknownRequests", 0), Dword(L"Writes", 0)}}};
    const std::vector<size_t> listed = ListedDisks(machine);
    for (size_t place = 0; place < listed.size(); ++place) {
        AddDiskInterface(keys, machine, listed[place], place);
    }
    for (size_t k = 0; k < machine.disks.size(); ++k) {
        for (size_t j = 0; j < k; ++j) {
            if (Upper(machine.disks[j].path) == Upper(machine.disks[k].path)) {
                throw Refusal(Field("disks", k, "path") + ": a second disk with this path");
            }
        }
        AddDiskParameters(keys, machine.disks[k], k);
    }
    for (size_t k = 0; k < machine.nodes.size(); ++k) {
        if (!IsDiskNode(machine, machine.nodes[k])) {
            AddOtherNode(keys, machine.nodes[k], Field("deviceNodes", k, "instanceId"));
        }
    }
    for (size_t k = 0; k < machine.controllers.size(); ++k) {
        keys.push_back(ControllerParameters(machine.controllers[k], k));
    }
    return keys;
}

} // namespace

int main(int argc, char** argv) {
    const int written = 0, failed = 1, unreadable = 2, refused = 3;
    if (argc != 3) {
        std::fprintf(stderr, "usage: wine_machine MACHINE.json OUT.reg\n");
        return failed;
    }
    try {
        WriteRegFile(MachineKeys(sim::LoadMachineFile(argv[1])), argv[2]);
    } catch (const Refusal& refusal) {
        std::fprintf(stderr, "wine_machine: %s: %s\n", argv[1], refusal.what());
        return refused;
    } catch (const sim::MachineError& error) {
        std::fprintf(stderr, "wine_machine: %s\n", error.what());
        return unreadable;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "wine_machine: %s\n", error.what());
        return failed;
    }
    return written;
}
