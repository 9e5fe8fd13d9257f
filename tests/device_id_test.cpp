// The device instance ID derived from an interface path.
#include "inventory/device_id.h"
#include "inventory/drive_record.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct IdCase {
    const char* name;
    std::wstring path;
    std::wstring id;
};

class DeviceId : public testing::TestWithParam<IdCase> {};

TEST_P(DeviceId, FollowsTheTextRules) {
    WCHAR id[DriveTextChars];
    wmemset(id, L'!', DriveTextChars);
    EXPECT_EQ(DevicePathToDeviceId(GetParam().path.c_str(), id), 0);
    EXPECT_EQ(std::wstring(id), GetParam().id);
}

const IdCase kIdCases[] = {
    {"Example",
     L"\\\\?\\scsi#disk&ven_nvme&prod_model_x100#4&2c41e0aa&0&020000#{53f56307-b6bf-11d0-94f2-"
     L"00a0c91efb8b}",
     L"scsi\\disk&ven_nvme&prod_model_x100\\4&2c41e0aa&0&020000"},
    {"NoPrefixKeepsFirstFour", L"ab#cd#{x}", L"ab\\cd"},
    {"PrefixLaterDropsTheFirstFour", L"ab\\\\?\\cd", L"?\\cd"},
    {"NoBraceIsNotCut", L"\\\\?\\a#b#c#", L"a\\b\\c"},
    {"TwoTrailingHashesKeepOne", L"\\\\?\\a#b##{x}", L"a\\b\\"},
    {"Empty", L"", L""},
    {"PrefixAlone", L"\\\\?\\", L""},
    {"BraceFirst", L"\\\\?\\{53f56307}", L""},
    {"CaseKept", L"\\\\?\\SCSI#Disk&Ven_X#{x}", L"SCSI\\Disk&Ven_X"},
    {"ShortPathWithPrefixInside", L"a\\\\?\\", L"\\"},
    // An ID longer than the record holds is not cut into another device's name.
    {"TooLongForTheRecord", L"\\\\?\\" + std::wstring(300, L'x') + L"#{x}", L""},
    {"LongPathWhoseIdFits",
     L"\\\\?\\" + std::wstring(259, L'x') + L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
     std::wstring(259, L'x')},
};

INSTANTIATE_TEST_SUITE_P(Paths, DeviceId, testing::ValuesIn(kIdCases),
                         [](const testing::TestParamInfo<IdCase>& param) {
                             return param.param.name;
                         });

TEST(DeviceIdLimits, PathOf259CharactersFits) {
    std::wstring path = L"\\\\?\\" + std::wstring(255, L'y');
    WCHAR id[DriveTextChars];
    DevicePathToDeviceId(path.c_str(), id);
    EXPECT_EQ(std::wstring(id), std::wstring(255, L'y'));
}

} // namespace
