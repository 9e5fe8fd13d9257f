// The stand-in's SetupAPI against the Windows behaviour the probe depends on: what each disk class
// query presents, and the interface detail's buffer checks.
#include "test_support.h"

#include <gtest/gtest.h>

#include <setupapi.h>

namespace {

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
