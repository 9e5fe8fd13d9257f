// The description writer: what it writes reads back to an equal machine, for every shipped
// machine and for machines of random content; a reply is written in its typed form only when that
// form builds its very bytes, and as bytes otherwise; a machine no description can tell is refused
// with the field named.
#include <sim/disk_requests.h>
#include <sim/machine.h>
#include <sim/replies.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <random>

namespace {

// Written, read back, written again: the machine and the text must both come out the same.
void ExpectRoundTrip(const sim::Machine& machine, const std::string& name) {
    const std::string written = sim::WriteMachine(machine);
    sim::Machine reread;
    ASSERT_NO_THROW(reread = sim::ParseMachine(written, name)) << written;
    EXPECT_TRUE(reread == machine) << name << " was written as\n" << written;
    EXPECT_EQ(sim::WriteMachine(reread), written) << name;
}

// The shipped machines, and one with text beyond the Basic Multilingual Plane and odd replies.
TEST(DescriptionWriter, ShippedMachinesReadBackEqual) {
    size_t machines = 0;
    for (const char* folder :
         {"/examples/machines", "/tests/wine_disk/machines", "/tests/machine/descriptions"}) {
        for (const auto& entry :
             std::filesystem::directory_iterator(std::string(DESTPICK_SOURCE_DIR) + folder)) {
            ExpectRoundTrip(sim::LoadMachineFile(entry.path().string()), entry.path().string());
            ++machines;
        }
    }
    EXPECT_GE(machines, 15u);
}

// The reply of the given field of the machine's first disk (or its first controller), as written.
nlohmann::json WrittenReply(const sim::Machine& machine, const std::string& key) {
    const nlohmann::json written = nlohmann::json::parse(sim::WriteMachine(machine));
    return key == "reply" ? written["controllers"][0]["reply"] : written["disks"][0][key];
}

std::vector<BYTE> Changed(std::vector<BYTE> bytes, size_t offset, BYTE value) {
    bytes.at(offset) = value;
    return bytes;
}

std::vector<BYTE> Resized(std::vector<BYTE> bytes, size_t size) {
    bytes.resize(size, 0);
    return bytes;
}

struct WrittenForm {
    const char* name;
    const char* key; // the disk's reply, or "reply" for the first controller's
    std::vector<BYTE> bytes;
    bool typed; // written in its typed form, not as bytes
};

const std::vector<BYTE> kNumber = sim::DeviceNumberReply(3).bytes;
const std::vector<BYTE> kDescriptor = sim::DeviceDescriptorReply(BusTypeNvme, false).bytes;
const std::vector<BYTE> kPenalty = sim::SeekPenaltyReply(true).bytes;
const std::vector<BYTE> kGeometry = sim::GeometryReply(1000, 255, 63, 512).bytes;
const std::vector<BYTE> kAddress = sim::ScsiAddressReply(1, 0, 2, 0).bytes;
const std::vector<BYTE> kGpt =
    sim::LayoutReply(PARTITION_STYLE_GPT,
                     {sim::GptPartition(1 << 20, L"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", L"EFI")})
        .bytes;
const std::vector<BYTE> kMbr =
    sim::LayoutReply(PARTITION_STYLE_MBR, {sim::MbrPartition(512, true)}).bytes;
const std::vector<BYTE> kRaid = sim::RaidReply(0x01000200, 3, 1, 4, 4);
constexpr size_t kEntry = 48; // the first layout entry
constexpr size_t kName = 72;  // an entry's name area
constexpr size_t kRaidSignature = 4;

// clang-format off
const WrittenForm kForms[] = {
    {"NumberAsBuilt", "deviceNumber", kNumber, true},
    {"NumberOfAnyType", "deviceNumber", Changed(kNumber, 0, 0x99), true},
    {"NumberShort", "deviceNumber", Resized(kNumber, 11), false},
    {"NumberLong", "deviceNumber", Resized(kNumber, 13), false},
    {"DescriptorAsBuilt", "deviceDescriptor", kDescriptor, true},
    {"DescriptorOfAnUnnamedBus", "deviceDescriptor", Changed(kDescriptor, 28, 200), true},
    {"DescriptorBusBeyondAByte", "deviceDescriptor", Changed(kDescriptor, 29, 1), false},
    {"DescriptorOfAnotherVersion", "deviceDescriptor", Changed(kDescriptor, 0, 0x24), false},
    {"DescriptorRemovableTwo", "deviceDescriptor", Changed(kDescriptor, 10, 2), false},
    {"DescriptorWithAVendorOffset", "deviceDescriptor", Changed(kDescriptor, 12, 40), false},
    {"DescriptorHeadOnly", "deviceDescriptor", Resized(kDescriptor, 8), false},
    {"PenaltyAsBuilt", "seekPenalty", kPenalty, true},
    {"PenaltyTwo", "seekPenalty", Changed(kPenalty, 8, 2), false},
    {"PenaltyPadding", "seekPenalty", Changed(kPenalty, 11, 1), false},
    {"GeometryOfAnyMedia", "geometry", Changed(kGeometry, 8, 5), true},
    {"GeometryShort", "geometry", Resized(kGeometry, 23), false},
    {"AddressAsBuilt", "scsiAddress", kAddress, true},
    {"AddressOfAnotherLength", "scsiAddress", Changed(kAddress, 0, 9), false},
    {"GptAsBuilt", "layout", kGpt, true},
    {"GptCountingTooMany", "layout", Changed(kGpt, 4, 9), true},
    {"GptNameWithANulInside", "layout", Changed(Changed(kGpt, kEntry + kName + 2, 0), kEntry + kName + 3, 0), true},
    {"GptNameWithALoneSurrogate", "layout", Changed(kGpt, kEntry + kName + 1, 0xD8), false},
    {"GptEntryAttributes", "layout", Changed(kGpt, kEntry + 64, 1), false},
    {"GptEntryMisnumbered", "layout", Changed(kGpt, kEntry + 24, 7), false},
    {"GptEntryElsewhere", "layout", Changed(kGpt, kEntry + 10, 1), false},
    {"GptOfAnotherDisk", "layout", Changed(kGpt, 8, 0), false},
    {"MbrAsBuilt", "layout", kMbr, true},
    {"MbrOfAnyType", "layout", Changed(kMbr, kEntry + 32, 0xEE), true},
    {"MbrHiddenSectors", "layout", Changed(kMbr, kEntry + 36, 1), false},
    {"MbrUnrecognised", "layout", Changed(kMbr, kEntry + 34, 0), false},
    {"LayoutOfAnUnknownStyle", "layout", Changed(kMbr, 0, 3), false},
    {"LayoutCutInAnEntry", "layout", Resized(kMbr, 48 + 143), false},
    {"LayoutHeadCut", "layout", Resized(kMbr, 47), false},
    {"RaidAsBuilt", "reply", kRaid, true},
    {"RaidOfAnotherDriver", "reply", Changed(kRaid, kRaidSignature, 'X'), false},
    {"RaidShort", "reply", Resized(kRaid, 43), false},
};
// clang-format on

class WrittenReplyForm : public testing::TestWithParam<WrittenForm> {};

TEST_P(WrittenReplyForm, IsTypedOnlyWhenItBuildsTheSameBytes) {
    const WrittenForm& form = GetParam();
    sim::Machine machine;
    if (std::string(form.key) == "reply") {
        machine.controllers.resize(1);
        machine.controllers[0].answer.reply = form.bytes;
    } else {
        machine.disks.resize(1);
        machine.disks[0].path = L"\\\\?\\scsi#disk#1#{x}";
        for (const sim::DiskRequest& request : sim::DiskRequests()) {
            if (request.key == std::string(form.key)) {
                machine.disks[0].replies[request.request] = sim::Reply{form.bytes, std::nullopt};
            }
        }
    }
    const nlohmann::json written = WrittenReply(machine, form.key);
    EXPECT_EQ(!written.contains("bytes"), form.typed) << written.dump();
    ExpectRoundTrip(machine, form.name);
}

INSTANTIATE_TEST_SUITE_P(Replies, WrittenReplyForm, testing::ValuesIn(kForms),
                         [](const testing::TestParamInfo<WrittenForm>& param) {
                             return param.param.name;
                         });

// Machines of random content, in every field the model has: whatever they hold, the description
// written of them reads back to them.
class RandomMachine {
  public:
    explicit RandomMachine(unsigned seed) : random_(seed) {}

    sim::Machine Make() {
        sim::Machine machine;
        machine.description = Text();
        machine.disks.resize(Below(5));
        for (sim::Disk& disk : machine.disks) {
            FillDisk(disk);
        }
        if (!machine.disks.empty() && Chance(3)) {
            machine.interfaceLists.resize(1 + Below(3));
            for (std::vector<size_t>& list : machine.interfaceLists) {
                list = Indexes(machine.disks.size());
            }
        }
        machine.classQueryFails = Chance(8);
        machine.nodes.resize(Below(4));
        for (sim::DeviceNode& node : machine.nodes) {
            FillNode(node);
        }
        if (!machine.nodes.empty() && Chance(2)) {
            sim::EnumeratorSet set;
            set.enumerator = Text();
            set.refused = Chance(2);
            set.members = Indexes(machine.nodes.size());
            machine.enumeratorSets.push_back(set);
        }
        machine.controllers.resize(Below(3));
        for (sim::Controller& controller : machine.controllers) {
            FillController(controller);
        }
        machine.devicePropertyFunctionMissing = Chance(8);
        return machine;
    }

  private:
    size_t Below(size_t bound) {
        return std::uniform_int_distribution<size_t>(0, bound - 1)(random_);
    }

    bool Chance(size_t oneIn) {
        return Below(oneIn) == 0;
    }

    DWORD Number() {
        return Chance(2) ? static_cast<DWORD>(Below(300)) : static_cast<DWORD>(random_());
    }

    // Text of any UTF-16 units a description can carry: surrogates only in pairs.
    std::wstring Text() {
        std::wstring text;
        for (size_t i = Below(12); i > 0; --i) {
            const size_t kind = Below(4);
            if (kind == 0) {
                text += static_cast<wchar_t>(0xD800 + Below(0x400));
                text += static_cast<wchar_t>(0xDC00 + Below(0x400));
            } else {
                const wchar_t unit =
                    static_cast<wchar_t>(kind == 1 ? Below(0xD800) : 0x20 + Below(0x5F));
                text += unit;
            }
        }
        return text;
    }

    std::vector<BYTE> Bytes(size_t count) {
        std::vector<BYTE> bytes(count);
        for (BYTE& byte : bytes) {
            byte = static_cast<BYTE>(random_());
        }
        return bytes;
    }

    std::vector<size_t> Indexes(size_t count) {
        std::vector<size_t> indexes(Below(4));
        for (size_t& index : indexes) {
            index = Below(count);
        }
        return indexes;
    }

    sim::Reply Typed(const sim::DiskRequest& request) {
        switch (Below(6)) {
        case 0:
            return sim::DeviceNumberReply(Number(), Number(), Number());
        case 1:
            return sim::DeviceDescriptorReply(static_cast<DWORD>(Below(256)), Chance(2),
                                              static_cast<BYTE>(Below(256)));
        case 2:
            return sim::GeometryReply(static_cast<LONGLONG>(random_()) - 1000, Number(), Number(),
                                      Number(), static_cast<DWORD>(Below(14)));
        case 3:
            return sim::LayoutReply(
                static_cast<PARTITION_STYLE>(Below(3)),
                {sim::GptPartition(static_cast<LONGLONG>(random_()),
                                   L"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", Text()),
                 sim::MbrPartition(512, Chance(2), static_cast<BYTE>(Below(256)))},
                Chance(3) ? static_cast<LONG>(random_()) : -1);
        default:
            return sim::Reply{Bytes(request.structureSize), std::nullopt};
        }
    }

    // Absent, failing, random bytes, a typed reply, or a typed reply with one byte changed.
    std::optional<sim::Reply> AnyReply(const sim::DiskRequest& request) {
        switch (Below(5)) {
        case 0:
            return std::nullopt;
        case 1:
            return sim::FailingReply(Number());
        case 2:
            return sim::Reply{Bytes(Below(request.structureSize * 2)), std::nullopt};
        case 3:
            return Typed(request);
        default: {
            sim::Reply reply = Typed(request);
            if (!reply.bytes.empty()) {
                reply.bytes[Below(reply.bytes.size())] = static_cast<BYTE>(random_());
            }
            return reply;
        }
        }
    }

    void FillDisk(sim::Disk& disk) {
        disk.description = Text();
        disk.path = L"\\\\?\\" + Text();
        disk.detailReportsNoSize = Chance(4);
        if (Chance(4)) {
            disk.detailError = Number();
        }
        if (Chance(4)) {
            disk.openError = Number();
        }
        for (const sim::DiskRequest& request : sim::DiskRequests()) {
            std::optional<sim::Reply> reply = AnyReply(request);
            if (reply && request.handOver.scriptedFailures) {
                reply->failures = static_cast<int>(Below(4)) - 1;
                reply->failureError = Chance(2) ? ERROR_INSUFFICIENT_BUFFER : Number();
            }
            if (reply) {
                disk.replies[request.request] = *reply;
            }
        }
    }

    void FillNode(sim::DeviceNode& node) {
        auto maybeText = [this]() -> std::optional<std::wstring> {
            return Chance(2) ? std::optional<std::wstring>(Text()) : std::nullopt;
        };
        node.description = Text();
        node.instanceId = Text();
        node.idFails = Chance(4);
        node.registryDescription = maybeText();
        node.deviceDescription = maybeText();
        node.busReportedDescription = maybeText();
        node.parent = maybeText();
        if (Chance(2)) {
            node.maxLinkSpeed = Bytes(Chance(2) ? 4 : Below(8));
        }
        node.hasPresentInterface = !Chance(4);
    }

    sim::MiniportAnswer Answer() {
        sim::MiniportAnswer answer;
        answer.result = Chance(2) ? TRUE : FALSE;
        answer.lastError = Chance(2) ? 0 : Number();
        answer.bytesReturned = Chance(2) ? 44 : Number();
        answer.reply = Chance(2) ? sim::RaidReply(Number(), static_cast<LONG>(random_()), 1, 4,
                                                  static_cast<LONG>(Below(6)))
                                 : Bytes(Below(60));
        return answer;
    }

    void FillController(sim::Controller& controller) {
        controller.description = Text();
        controller.open = static_cast<sim::Controller::Open>(Below(3));
        controller.openError = Chance(2) ? ERROR_FILE_NOT_FOUND : Number();
        controller.answer = Answer();
        for (DWORD id = 0; id < Below(3); ++id) {
            controller.diskAnswers.emplace_back(id * 256, Answer());
        }
    }

    std::mt19937 random_;
};

TEST(DescriptionWriter, RandomMachinesReadBackEqual) {
    RandomMachine random(20261208);
    for (int i = 0; i < 400; ++i) {
        ExpectRoundTrip(random.Make(), "machine " + std::to_string(i));
    }
}

struct Untellable {
    const char* name;
    void (*spoil)(sim::Machine& machine);
    const char* field; // the start of the message
};

sim::Machine OneDiskOneController() {
    sim::Machine machine;
    machine.disks.resize(1);
    machine.disks[0].path = L"\\\\?\\scsi#disk#1#{x}";
    machine.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] =
        sim::LayoutReply(PARTITION_STYLE_RAW, {});
    machine.nodes.resize(1);
    machine.controllers.resize(1);
    return machine;
}

// clang-format off
const Untellable kUntellable[] = {
    {"LoneSurrogate", [](sim::Machine& m) { m.disks[0].path += static_cast<wchar_t>(0xDC00); }, "disks[0].path: holds a unit"},
    {"ControllerAsDisk", [](sim::Machine& m) { m.disks[0].path = L"\\\\.\\scsi2:"; }, "disks[0].path: names a SCSI controller"},
    {"InterfaceBeyondDisks", [](sim::Machine& m) { m.interfaceLists = {{0}, {0, 1}}; }, "interfaceLists[1][1]: beyond"},
    {"MemberBeyondNodes", [](sim::Machine& m) { m.enumeratorSets = {{L"x", false, {1}}}; }, "enumeratorSets[0].members[0]: beyond"},
    {"SecondAnswerForOneDisk", [](sim::Machine& m) { m.controllers[0].diskAnswers = {{7, {}}, {7, {}}}; },
     "controllers[0].diskAnswers[1].diskId: a second answer"},
    {"ResultNeitherTrueNorFalse", [](sim::Machine& m) { m.controllers[0].answer.result = 2; }, "controllers[0].result: neither"},
    {"OpenOfNoKind", [](sim::Machine& m) { m.controllers[0].open = static_cast<sim::Controller::Open>(7); }, "controllers[0].open: not one"},
    {"FailuresBelowAlways", [](sim::Machine& m) { m.disks[0].replies[{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}].failures = -2; }, "disks[0].layout.failures: a negative count"},
    {"FailuresBeforeGeometry", [](sim::Machine& m) { m.disks[0].replies[{IOCTL_DISK_GET_DRIVE_GEOMETRY}].failures = 1; },
     "disks[0].geometry: failures before a reply to a request that has none"},
    {"ReplyToNoRow", [](sim::Machine& m) { m.disks[0].replies[{IOCTL_STORAGE_QUERY_PROPERTY, 99}]; }, "disks[0]: a reply to control code 2954240 property 99, a request no"},
    {"FailingReplyWithBytes", [](sim::Machine& m) { m.disks[0].replies[{IOCTL_DISK_GET_DRIVE_GEOMETRY}] = sim::Reply{{1}, 5}; }, "disks[0].geometry: a failing reply with bytes"},
};
// clang-format on

class UntellableMachine : public testing::TestWithParam<Untellable> {};

TEST_P(UntellableMachine, IsRefusedWithTheFieldNamed) {
    sim::Machine machine = OneDiskOneController();
    GetParam().spoil(machine);
    try {
        sim::WriteMachine(machine);
        FAIL() << "written";
    } catch (const sim::MachineError& error) {
        EXPECT_EQ(std::string(error.what()).rfind(GetParam().field, 0), 0u) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Machines, UntellableMachine, testing::ValuesIn(kUntellable),
                         [](const testing::TestParamInfo<Untellable>& param) {
                             return param.param.name;
                         });

} // namespace
