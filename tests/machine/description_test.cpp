// Machine descriptions: the shipped ones load, and a description with a mistake is refused with a
// message that names the file and the field.
#include "test_support.h"

#include <gtest/gtest.h>

#include <setupapi.h>

#include <filesystem>

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
    EXPECT_EQ(machine.disks[0].openError, std::optional<DWORD>(5));
    EXPECT_EQ(machine.disks[0].detailError, std::optional<DWORD>(31));
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

TEST(SimulatedSetupApi, InterfaceListsChangeBetweenQueries) {
    sim::Machine machine;
    machine.disks = {testing_support::DiskWithPath(L"a"), testing_support::DiskWithPath(L"bb")};
    machine.interfaceLists = {{0, 1}, {1}};
    sim::Install(machine);
    const GUID disk = {
        0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
    std::vector<std::vector<std::wstring>> seen;
    for (int query = 0; query < 3; ++query) {
        HDEVINFO set =
            SetupDiGetClassDevsW(&disk, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof(data);
        seen.emplace_back();
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &disk, i, &data); ++i) {
            DWORD size = 0;
            EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
            std::vector<BYTE> buffer(size);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            EXPECT_TRUE(
                SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr));
            seen.back().push_back(detail->DevicePath);
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        EXPECT_EQ(sim::CurrentCounters().liveDeviceInfoSets, 1);
        SetupDiDestroyDeviceInfoList(set);
    }
    EXPECT_EQ(seen, (std::vector<std::vector<std::wstring>>{{L"a", L"bb"}, {L"bb"}, {L"bb"}}));
    EXPECT_EQ(sim::CurrentCounters().liveDeviceInfoSets, 0);
}

TEST(SimulatedSetupApi, DetailRefusesAWrongBufferLikeWindows) {
    sim::Machine machine;
    machine.disks = {testing_support::DiskWithPath(L"abc")};
    sim::Install(machine);
    const GUID disk = {
        0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
    HDEVINFO set =
        SetupDiGetClassDevsW(&disk, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &disk, 0, &data));
    DWORD size = 99;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 16, &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_EQ(size, 99u);
    std::vector<BYTE> buffer(64);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = 6;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, 64, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    data.cbSize = 28;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &disk, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    SetupDiDestroyDeviceInfoList(set);
}

} // namespace
