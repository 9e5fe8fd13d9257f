// Machine descriptions: every field and form reads into the model as the builders make it, the
// shipped ones load, and a description with a mistake is refused with a message that names the
// file and the field.
#include <sim/machine.h>
#include <sim/replies.h>
#include <sim/standin.h>
#include <sim/text.h>

#include <ntddscsi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

struct RefusalCase {
    const char* name;
    const char* json;
    const char* message; // what the message must contain after "machine.json: "
};

class RefusedDescription : public testing::TestWithParam<RefusalCase> {};

TEST_P(RefusedDescription, NamesTheFileAndTheField) {
    try {
        sim::ParseMachine(GetParam().json, "machine.json");
        FAIL() << "accepted";
    } catch (const sim::MachineError& error) {
        EXPECT_EQ(
            std::string(error.what()).rfind(std::string("machine.json: ") + GetParam().message, 0),
            0u)
            << error.what();
    }
}

const RefusalCase kRefusals[] = {
    {"BadJson", "{\"disks\": [", "not valid JSON"},
    {"NotAnObject", "[]", "top level: expected an object"},
    {"UnknownTopField", "{\"disk\": []}", "disk: unknown field"},
    {"UnknownDiskField", "{\"disks\": [{\"path\": \"a\", \"colour\": 1}]}",
     "disks[0].colour: unknown field"},
    {"DisksNotArray", "{\"disks\": {}}", "disks: expected an array"},
    {"PathMissing", "{\"disks\": [{}]}", "disks[0]: missing field \"path\""},
    {"PathWrongType", "{\"disks\": [{\"path\": 7}]}", "disks[0].path: expected a string"},
    {"FlagWrongType", "{\"classQueryFails\": 1}", "classQueryFails: expected true or false"},
    {"PresentInterfaceWrongType",
     "{\"deviceNodes\": [{\"instanceId\": \"a\", \"presentInterface\": 0}]}",
     "deviceNodes[0].presentInterface: expected true or false"},
    {"SecondAnswerForOneDisk",
     "{\"controllers\": [{\"open\": \"opens\", \"diskAnswers\": [{\"diskId\": 7}, {\"diskId\": "
     "7}]}]}",
     "controllers[0].diskAnswers[1].diskId: a second answer for disk ID 7"},
    {"NegativeError", "{\"disks\": [{\"path\": \"a\", \"openError\": -5}]}",
     "disks[0].openError: expected a whole number"},
    {"ErrorTooLarge", "{\"disks\": [{\"path\": \"a\", \"openError\": 4294967296}]}",
     "disks[0].openError: out of range"},
    {"FractionalError", "{\"disks\": [{\"path\": \"a\", \"openError\": 1.5}]}",
     "disks[0].openError: expected a whole number"},
    {"InterfaceBeyondDisks", "{\"disks\": [{\"path\": \"a\"}], \"interfaceLists\": [[0, 1]]}",
     "interfaceLists[0][1]: out of range"},
    {"InterfaceWithoutDisks", "{\"interfaceLists\": [[0]]}", "interfaceLists[0][0]: names a disk"},
    // What only the parser sees is named by its field path too.
    {"NumberBeyondADouble", R"({"description": 1e400})",
     "description: number overflow parsing '1e400'"},
    {"NumberBeyondADoubleInAnArray", R"({"disks": [{"path": "a"}, -1e999]})",
     "disks[1]: number overflow"},
    {"DuplicateTopField", R"({"description": "a", "disks": [], "description": "b"})",
     "description: duplicate field"},
    {"DuplicateNestedField",
     R"({"disks": [{"path": "a"}, {"path": "b", "layout": {"style": "mbr", "style": "gpt"}}]})",
     "disks[1].layout.style: duplicate field"},
    {"DiskPathNamesAController", R"({"disks": [{"path": "\\\\.\\SCSI12:"}]})",
     "disks[0].path: names a SCSI controller"},
};

INSTANTIATE_TEST_SUITE_P(Machines, RefusedDescription, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<RefusalCase>& param) {
                             return param.param.name;
                         });

TEST(MachineDescription, ReadsEveryField) {
    sim::Machine machine = sim::ParseMachine(R"({
        "description": "two disks",
        "disks": [
            {"path": "\\\\?\\scsi#disk#1#{x}", "openError": 5, "detailError": 31},
            {"path": "caf\u00e9", "detailReportsNoSize": true}
        ],
        "interfaceLists": [[0, 1], [1]],
        "classQueryFails": true
    })",
                                             "m.json");
    ASSERT_EQ(machine.disks.size(), 2u);
    EXPECT_EQ(machine.disks[0].path, L"\\\\?\\scsi#disk#1#{x}");
    EXPECT_EQ(machine.disks[0].openError, std::optional<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(machine.disks[0].detailError, std::optional<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(machine.disks[1].path, L"caf\u00e9");
    EXPECT_TRUE(machine.disks[1].detailReportsNoSize);
    EXPECT_EQ(machine.interfaceLists, (std::vector<std::vector<size_t>>{{0, 1}, {1}}));
    EXPECT_TRUE(machine.classQueryFails);
}

TEST(MachineDescription, FileThatCannotBeReadIsNamed) {
    try {
        sim::LoadMachineFile("/no/such/machine.json");
        FAIL() << "accepted";
    } catch (const sim::MachineError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("/no/such/machine.json: cannot be read", 0), 0u);
    }
}

TEST(MachineDescription, ShippedExamplesLoad) {
    size_t loaded = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(DESTPICK_SOURCE_DIR "/examples/machines")) {
        if (entry.path().extension() == ".json") {
            EXPECT_NO_THROW(sim::LoadMachineFile(entry.path().string())) << entry.path();
            ++loaded;
        }
    }
    EXPECT_GE(loaded, 2u);
}

TEST(MachineDescription, DefaultIsTheShippedDefault) {
    sim::Machine embedded = sim::DefaultMachine();
    sim::Machine shipped =
        sim::LoadMachineFile(DESTPICK_SOURCE_DIR "/examples/machines/default.json");
    ASSERT_EQ(embedded.disks.size(), shipped.disks.size());
    for (size_t i = 0; i < embedded.disks.size(); ++i) {
        EXPECT_EQ(embedded.disks[i].path, shipped.disks[i].path);
    }
}

// A description with one disk holding the given members.
std::string OneDisk(const std::string& members) {
    return R"({"disks": [{"path": "p", )" + members + "}]}";
}

TEST(MachineDescription, RepliesAreTheBuildersReplies) {
    sim::Machine machine = sim::ParseMachine(R"({
        "disks": [{
            "path": "d",
            "deviceNumber": {"deviceNumber": 4, "partitionNumber": 1},
            "deviceDescriptor": {"busType": "sd", "removable": true, "deviceType": 5},
            "seekPenalty": {"incursSeekPenalty": true},
            "geometry": {"cylinders": -2, "tracksPerCylinder": 255, "sectorsPerTrack": 63,
                         "bytesPerSector": 512, "mediaType": "removable"},
            "scsiAddress": {"port": 1, "pathId": 2, "targetId": 3, "lun": 255},
            "layout": {"style": "gpt", "reportedCount": -1, "failures": "always", "failureError": 21,
                       "partitions": [{"length": 4096, "type": "C12A7328-F81F-11D2-BA4B-00A0C93EC93B",
                                       "name": "EFI system partition"}]}
        }, {
            "path": "e",
            "deviceNumber": {"error": 31},
            "deviceDescriptor": {"bytes": "28 00 00 00 2800"},
            "seekPenalty": {"error": 50},
            "geometry": {"bytes": ""},
            "layout": {"bytes": "02000000", "failures": 3},
            "scsiAddress": {"error": 1}
        }]
    })",
                                             "m.json");
    sim::Partition efi =
        sim::GptPartition(4096, L"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", L"EFI system partition");
    sim::Reply layout = sim::LayoutReply(PARTITION_STYLE_GPT, {efi});
    std::memset(layout.bytes.data() + 4, 0xFF, 4);
    layout.failures = -1;
    layout.failureError = ERROR_NOT_READY;
    const std::map<sim::RequestKey, sim::Reply> full = {
        {{IOCTL_STORAGE_GET_DEVICE_NUMBER}, sim::DeviceNumberReply(4, 1)},
        {{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty},
         sim::DeviceDescriptorReply(BusTypeSd, true, 5)},
        {{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceSeekPenaltyProperty},
         sim::SeekPenaltyReply(true)},
        {{IOCTL_DISK_GET_DRIVE_GEOMETRY}, sim::GeometryReply(-2, 255, 63, 512, RemovableMedia)},
        {{IOCTL_SCSI_GET_ADDRESS}, sim::ScsiAddressReply(1, 2, 3, 255)},
        {{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}, layout}};
    EXPECT_TRUE(machine.disks[0].replies == full);
    const std::map<sim::RequestKey, sim::Reply> odd = {
        {{IOCTL_STORAGE_GET_DEVICE_NUMBER}, sim::FailingReply(ERROR_GEN_FAILURE)},
        {{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty},
         sim::Reply{{0x28, 0, 0, 0, 0x28, 0}, std::nullopt}},
        {{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceSeekPenaltyProperty},
         sim::FailingReply(ERROR_NOT_SUPPORTED)},
        {{IOCTL_DISK_GET_DRIVE_GEOMETRY}, sim::Reply{}},
        {{IOCTL_SCSI_GET_ADDRESS}, sim::FailingReply(ERROR_INVALID_FUNCTION)},
        {{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}, sim::Reply{{2, 0, 0, 0}, std::nullopt, 3}}};
    EXPECT_TRUE(machine.disks[1].replies == odd);
}

TEST(MachineDescription, NodesSetsAndControllers) {
    sim::Machine machine = sim::ParseMachine(R"({
        "deviceNodes": [
            {"instanceId": "PCI\\X", "idFails": true, "parent": "P", "maxLinkSpeed": 65539},
            {"instanceId": "PCI\\Y", "maxLinkSpeed": {"bytes": "04"}}
        ],
        "enumeratorSets": [{"enumerator": "PCI\\X", "refused": true, "members": [1, 0]}],
        "controllers": [
            {"open": "null"},
            {"open": "opens", "result": false, "lastError": 1117, "bytesReturned": 4096,
             "reply": {"returnCode": 9, "connectionType": -1, "connectionInterface": 2,
                       "pciBusWidth": 4, "pciBusSpeed": 5}}
        ],
        "devicePropertyFunctionMissing": true
    })",
                                             "m.json");
    EXPECT_EQ(machine.nodes[0].parent, std::optional<std::wstring>(L"P"));
    EXPECT_EQ(machine.nodes[0].maxLinkSpeed, (std::vector<BYTE>{3, 0, 1, 0}));
    EXPECT_EQ(machine.nodes[1].maxLinkSpeed, (std::vector<BYTE>{4}));
    EXPECT_EQ(machine.enumeratorSets[0].members, (std::vector<size_t>{1, 0}));
    EXPECT_EQ(machine.controllers[0].open, sim::Controller::Open::NullHandle);
    EXPECT_EQ(machine.controllers[0].answer.bytesReturned, 44u);
    EXPECT_EQ(machine.controllers[1].answer.result, FALSE);
    EXPECT_EQ(machine.controllers[1].answer.lastError, static_cast<DWORD>(ERROR_IO_DEVICE));
    EXPECT_EQ(machine.controllers[1].answer.bytesReturned, 4096u);
    EXPECT_EQ(machine.controllers[1].answer.reply, sim::RaidReply(9, -1, 2, 4, 5));
    EXPECT_TRUE(machine.devicePropertyFunctionMissing);
}

struct Refusal {
    const char* name;
    std::string json;
    const char* message; // what follows "m.json: "
};

const std::string kEfiType = R"("type": "C12A7328-F81F-11D2-BA4B-00A0C93EC93B")";

std::string Layout(const std::string& members) {
    return OneDisk(R"("layout": {)" + members + "}");
}

std::string Partition(const std::string& style, const std::string& members) {
    return Layout(R"("style": ")" + style + R"(", "partitions": [)" + members + "]");
}

// clang-format off
const Refusal kReplyRefusals[] = {
    {"GptTypeMalformed", Partition("gpt", R"({"length": 1, )" + kEfiType + R"(}, {"length": 1, "type": "EFI"})"),
     "disks[0].layout.partitions[1].type: expected a GUID"},
    {"GptTypeUnbalancedBrace", Partition("gpt", R"({"length": 1, "type": "{C12A7328-F81F-11D2-BA4B-00A0C93EC93B"})"),
     "disks[0].layout.partitions[0].type: expected a GUID"},
    {"GptTypeMissing", Partition("gpt", R"({"length": 1})"), "disks[0].layout.partitions[0]: missing field \"type\""},
    {"TypeOnMbr", Partition("mbr", R"({"length": 1, "type": "x"})"), "disks[0].layout.partitions[0].type: only GPT partitions"},
    {"BootOnGpt", Partition("gpt", R"({"length": 1, "bootIndicator": true, )" + kEfiType + "}"),
     "disks[0].layout.partitions[0].bootIndicator: only MBR and raw"},
    {"NameTooLong", Partition("raw", R"({"length": 1, "name": "0123456789012345678901234567890123456"})"),
     "disks[0].layout.partitions[0].name: too long: 37"},
    {"LengthTooLarge", Partition("mbr", R"({"length": 9223372036854775808})"), "disks[0].layout.partitions[0].length: out of range"},
    {"StyleUnknown", Layout(R"("style": "apm")"), "disks[0].layout.style: expected \"mbr\""},
    {"FailuresWord", Layout(R"("style": "mbr", "failures": "often")"), "disks[0].layout.failures: expected a count"},
    {"CountTooLarge", Layout(R"("style": "mbr", "reportedCount": 2147483648)"), "disks[0].layout.reportedCount: out of range"},
    {"BusTypeName", OneDisk(R"("deviceDescriptor": {"busType": "NVMe"})"), "disks[0].deviceDescriptor.busType: unknown bus type \"NVMe\""},
    {"FieldBesideError", OneDisk(R"("seekPenalty": {"error": 50, "incursSeekPenalty": true})"),
     "disks[0].seekPenalty.incursSeekPenalty: not allowed beside \"error\""},
    {"ErrorBesideBytes", OneDisk(R"("geometry": {"bytes": "00", "error": 1})"), "disks[0].geometry.bytes: not allowed beside \"error\""},
    {"OddHexDigits", OneDisk(R"("geometry": {"bytes": "0 0"})"), "disks[0].geometry.bytes: expected hex digits"},
    {"NumberUnknownField", OneDisk(R"("deviceNumber": {"deviceNumber": 1, "partition": 2})"), "disks[0].deviceNumber.partition: unknown field"},
    {"LinkSpeedRange", R"({"deviceNodes": [{"instanceId": "x", "maxLinkSpeed": 4294967296}]})", "deviceNodes[0].maxLinkSpeed: out of range"},
    {"MemberBeyondNodes", R"({"deviceNodes": [{"instanceId": "x"}], "enumeratorSets": [{"enumerator": "x", "members": [0, 1]}]})",
     "enumeratorSets[0].members[1]: out of range"},
    {"OpenMissing", R"({"controllers": [{"result": true}]})", "controllers[0]: missing field \"open\""},
    {"RaidValueMissing", R"({"controllers": [{"open": "opens", "reply": {"connectionType": 1, "connectionInterface": 1, "pciBusWidth": 1}}]})",
     "controllers[0].reply: missing field \"pciBusSpeed\""},
    {"RaidValueRange", R"({"controllers": [{"open": "opens", "reply": {"connectionType": 2147483648}}]})",
     "controllers[0].reply.connectionType: out of range"},
};
// clang-format on

class RefusedReply : public testing::TestWithParam<Refusal> {};

TEST_P(RefusedReply, NamesTheField) {
    try {
        sim::ParseMachine(GetParam().json, "m.json");
        FAIL() << "accepted";
    } catch (const sim::MachineError& error) {
        EXPECT_EQ(std::string(error.what()).rfind(std::string("m.json: ") + GetParam().message, 0),
                  0u)
            << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Descriptions, RefusedReply, testing::ValuesIn(kReplyRefusals),
                         [](const testing::TestParamInfo<Refusal>& param) {
                             return param.param.name;
                         });

std::string ReadSource(const std::string& name) {
    std::ifstream file(std::string(DESTPICK_SOURCE_DIR) + "/" + name);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(MachineDescription, DocumentedExampleLoads) {
    const std::string doc = ReadSource("docs/machine-format.md");
    const size_t start = doc.find("```json\n");
    ASSERT_NE(start, std::string::npos);
    const size_t end = doc.find("```", start + 8);
    sim::Machine machine = sim::ParseMachine(doc.substr(start + 8, end - start - 8), "example");
    EXPECT_EQ(machine.disks.size(), 2u);
    EXPECT_EQ(machine.controllers.size(), 2u);
}

// A description's UTF-8 as the model's UTF-16 units, and back: what is no character becomes
// U+FFFD, one for each byte that starts no sequence.
TEST(DescriptionText, Utf8AndUtf16) {
    const wchar_t Replaced = 0xFFFD;
    const struct {
        std::string utf8;
        std::wstring utf16;
    } cases[] = {
        {"a\xC3\xA9\xE2\x82\xAC", {L'a', 0xE9, 0x20AC}},
        {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", {0xD83D, 0xDE00, 0xDBFF, 0xDFFF}},
        {"\xE2\x82z\xC3", {Replaced, Replaced, L'z', Replaced}},
        {"\x80\xBF\xFF", {Replaced, Replaced, Replaced}},
        // A surrogate or a code point beyond U+10FFFF, well formed otherwise, is one U+FFFD.
        {"\xED\xA0\x80\xF4\x90\x80\x80", {Replaced, Replaced}},
    };
    const std::string replaced = "\xEF\xBF\xBD";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(sim::FromUtf8(c.utf8), c.utf16);
    }
    EXPECT_EQ(sim::ToUtf8(cases[0].utf16), cases[0].utf8);
    EXPECT_EQ(sim::ToUtf8(cases[1].utf16), cases[1].utf8);
    // A lone surrogate, either half, is no character.
    EXPECT_EQ(sim::ToUtf8({0xDC00, L'b', 0xD800}), replaced + "b" + replaced);
    EXPECT_TRUE(sim::EqualsIgnoringCase(L"PhysicalDrive0", L"PHYSICALdrive0"));
    EXPECT_FALSE(sim::EqualsIgnoringCase(L"Drive", L"Drive0"));
    EXPECT_FALSE(sim::EqualsIgnoringCase(L"\x00E9", L"\x00C9"));
}

} // namespace
