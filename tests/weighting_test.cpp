// The weighting and the pick, from the records the probe leaves: the weights of the known cases,
// the exclusions, the tie rule and the exact account a record leaves in the log.
#include "selection/weighting.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <winioctl.h>

#include <vector>

namespace {

using testing_support::ScratchFolder;

DriveRecord Record(DWORD order, DWORD busType, LONG seekPenalty, ULONGLONG size) {
    DriveRecord record;
    InitializeDriveRecord(&record);
    record.Order = order;
    record.BusType = busType;
    record.SeekPenalty = seekPenalty;
    record.Size = size;
    return record;
}

struct WeightCase {
    const char* name;
    DriveRecord record;
    LONGLONG weight;
};

DriveRecord With(DriveRecord record, void (*change)(DriveRecord&)) {
    change(record);
    return record;
}

void PrintTo(const WeightCase& weightCase, std::ostream* out) {
    *out << weightCase.name;
}

class WeightOfOneDisk : public testing::TestWithParam<WeightCase> {};

TEST_P(WeightOfOneDisk, GetsItsWeight) {
    DriveRecord record = GetParam().record;
    WeighDrives(&record, 1, L"");
    EXPECT_EQ(record.Weight, GetParam().weight);
}

const WeightCase kWeightCases[] = {
    {"SolidStateSata", Record(0, BusTypeSata, 0, 477), 3009523050LL},
    {"SolidStateSataSecond", Record(1, BusTypeSata, 0, 477), 3009523049LL},
    {"NvmeGen4SystemDisk",
     With(Record(0, BusTypeNvme, 0, 953),
          [](DriveRecord& r) {
              r.NVMeGen = 4;
              r.IsSysDisk = 1;
          }),
     8009047150LL},
    {"TinyNvmeKeepsItsClass", Record(0, BusTypeNvme, 0, 2), 6000000050LL},
    {"TgDiskBiggerWins",
     With(Record(1, BusTypeNvme, 0, 1863), [](DriveRecord& r) { r.isIntelTGDisks = 1; }),
     7006863049LL},
    {"OptaneMarker", With(Record(3, 0, 0, 100), [](DriveRecord& r) { r.isOptane = 1; }),
     7009900047LL},
    {"HugeSataHdd", Record(2, BusTypeSata, 1, 11176), 998824048LL},
    {"SeekPenaltyUnknownCountsAsRotating", Record(0, BusTypeSata, -1, 100), 1009900050LL},
    {"RaidSolidState", Record(0, BusTypeRAID, 0, 100), 5009900050LL},
    {"RaidRotating", Record(0, BusTypeRAID, 1, 100), 4009900050LL},
    {"SdCard", Record(0, BusTypeSd, 1, 60), 2009940050LL},
    {"NegativeNvmeGenOnNvmeBus",
     With(Record(0, BusTypeNvme, 0, 100), [](DriveRecord& r) { r.NVMeGen = -3; }), 6009900050LL},
    {"NegativeNvmeGenElsewhereCountsAsZero",
     With(Record(0, BusTypeSas, 0, 100), [](DriveRecord& r) { r.NVMeGen = -1; }), 9900050LL},
    {"PositiveNvmeGenLiftsAnyBus",
     With(Record(0, BusTypeSas, 0, 100), [](DriveRecord& r) { r.NVMeGen = 3; }), 6009900050LL},
    {"SpeedClassZeroOversizedFallsBelowOne", Record(50, BusTypeSas, 0, 10001), -1000LL},
    {"RemovableValueTwoIsNotExcluded",
     With(Record(0, BusTypeSata, 0, 100), [](DriveRecord& r) { r.Removable = 2; }), 3009900050LL},
    {"OptaneCacheValueTwoIsNotExcluded",
     With(Record(0, BusTypeSata, 0, 100), [](DriveRecord& r) { r.isIntelOptaneCache = 2; }),
     3009900050LL},
    {"Removable", With(Record(0, BusTypeNvme, 0, 100), [](DriveRecord& r) { r.Removable = 1; }), 0},
    {"Usb", Record(0, BusTypeUsb, 0, 100), 0},
    {"OptaneCache",
     With(Record(0, BusTypeNvme, 0, 100), [](DriveRecord& r) { r.isIntelOptaneCache = 1; }), 0},
    {"NeverNumbered", Record(UnknownDeviceNumber, BusTypeNvme, 0, 100), 0},
    // Device numbers above 50: the term falls below zero by one per number, never wraps.
    {"DeviceNumber51", Record(51, BusTypeSata, 0, 100), 3009899999LL},
    {"DeviceNumber99", Record(99, BusTypeSata, 0, 100), 3009899951LL},
    {"DeviceNumberHighestReportable", Record(0x7FFFFFFFu, BusTypeSata, 0, 100), 3009899951LL},
    {"DeviceNumberBeyondTheReport", Record(0x80000000u, BusTypeNvme, 0, 100), 0},
    {"AbsurdSizeDoesNotWrap", Record(0, BusTypeSata, 0, 0xFFFFFFFFFFFFFFFFULL),
     -8999999996990000000LL + 50},
};

INSTANTIATE_TEST_SUITE_P(Weights, WeightOfOneDisk, testing::ValuesIn(kWeightCases),
                         [](const testing::TestParamInfo<WeightCase>& param) {
                             return param.param.name;
                         });

TEST(Weighting, DeviceNumbersAboveFiftyKeepTheLayering) {
    // One more GiB outweighs any device-number difference; so does the system partition.
    for (DWORD high : {51u, 75u, 99u, 1000u, 0x7FFFFFFFu}) {
        DriveRecord records[3] = {Record(high, BusTypeSata, 0, 99), Record(0, BusTypeSata, 0, 100),
                                  Record(high, BusTypeSata, 0, 100)};
        records[2].IsSysDisk = 1;
        WeighDrives(records, 3, L"");
        EXPECT_GT(records[0].Weight, records[1].Weight) << high;
        EXPECT_GT(records[2].Weight, records[1].Weight) << high;
        EXPECT_GT(records[2].Weight, 0) << high;
    }
}

TEST(Weighting, LowerDeviceNumberWinsAmongEqualDisksAboveFifty) {
    DriveRecord records[2] = {Record(60, BusTypeSata, 0, 100), Record(61, BusTypeSata, 0, 100)};
    WeighDrives(records, 2, L"");
    EXPECT_EQ(PickDrive(records, 2, L""), 0);
}

struct PickCase {
    const char* name;
    std::vector<LONGLONG> weights;
    LONG chosen;
};

class Pick : public testing::TestWithParam<PickCase> {};

TEST_P(Pick, ChoosesTheHeaviestLaterOnTies) {
    std::vector<DriveRecord> records;
    for (LONGLONG weight : GetParam().weights) {
        DriveRecord record = Record(0, 0, 0, 0);
        record.Index = static_cast<DWORD>(records.size());
        record.Weight = weight;
        records.push_back(record);
    }
    EXPECT_EQ(PickDrive(records.data(), static_cast<LONG>(records.size()), L""), GetParam().chosen);
}

const PickCase kPickCases[] = {
    {"None", {}, NoDriveChosen},
    {"AllExcluded", {0, 0, 0}, NoDriveChosen},
    {"NegativeNeverChosen", {-5, -1}, NoDriveChosen},
    {"WeightOneQualifies", {1}, 0},
    {"Heaviest", {5, 9, 7}, 1},
    {"TieGoesToLater", {9, 3, 9}, 2},
};

INSTANTIATE_TEST_SUITE_P(Weights, Pick, testing::ValuesIn(kPickCases),
                         [](const testing::TestParamInfo<PickCase>& param) {
                             return param.param.name;
                         });

class WeightingLog : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::FixClock();
        logPath_ = folder_.Windows() + L"\\weights.log";
    }
    void TearDown() override {
        testing_support::ReleaseClock();
    }
    std::string Log() const {
        return folder_.ReadFile("weights.log");
    }

    ScratchFolder folder_;
    std::wstring logPath_;
};

TEST_F(WeightingLog, RecordLeavesItsTermsAndFields) {
    DriveRecord records[11];
    for (DriveRecord& record : records) {
        record = Record(2, BusTypeSata, 1, 11176);
    }
    DriveRecord& r = records[10];
    r.Index = 10;
    r.Port = 1;
    r.Bus = 2;
    r.TargetId = 3;
    r.Lun = 4;
    r.DeviceType = 200;
    r.PartitionCount = 4;
    wcscpy(r.Path, L"\\\\?\\scsi#disk#1#{x}");
    wcscpy(r.DeviceID, L"scsi\\disk\\1");
    WeighDrives(records + 10, 1, logPath_.c_str());
    using testing_support::Entries;
    EXPECT_EQ(Log(), Entries({"",
                              " --- Candidate Drive [0] ---------------- ",
                              "It's not TG disks, smaller get weight.",
                              "Drive[0].Path=\\\\?\\scsi#disk#1#{x}",
                              "Drive[0].DeviceID=scsi\\disk\\1",
                              "Drive[0].Index=a",
                              "Drive[0].Port=1",
                              "Drive[0].Bus=2",
                              "Drive[0].TargetId=3",
                              "Drive[0].Lun=4",
                              "Drive[0].Removable=0",
                              "Drive[0].isIntelOptaneCache=0",
                              "Drive[0].isIntelTGDisks=0",
                              "Drive[0].DeviceType=200",
                              "Drive[0].BusType=11",
                              "Drive[0].NVMeGen=0",
                              "Drive[0].SeekPenalty=1",
                              "Drive[0].weight_speed=1000000000",
                              "Drive[0].Size=11176GB",
                              "Drive[0].weight_size=18446744073708375616",
                              "Drive[0].PartitionCount=4",
                              "Drive[0].IsSysDisk=0",
                              "Drive[0].weight_SysDisk=0",
                              "Drive[0].Order=2",
                              "Drive[0].weight_order=48",
                              "Drive[0].Weight=998824048"}));
}

TEST_F(WeightingLog, ExcludedAndTiedRecordsInThePick) {
    DriveRecord records[4] = {Record(0, BusTypeUsb, 0, 100), Record(3, BusTypeNvme, 0, 2),
                              Record(7, BusTypeSata, 0, 4), Record(3, BusTypeNvme, 0, 2)};
    for (DWORD k = 0; k < 4; ++k) {
        records[k].Index = k;
    }
    WeighDrives(records, 4, L"");
    EXPECT_EQ(PickDrive(records, 4, logPath_.c_str()), 3);
    using testing_support::Entries;
    EXPECT_EQ(
        Log(),
        Entries(
            {"", "", " --- Pick Drive By Weight ----------------- ",
             "Compare Drive0[Index:0][Weight:0] to Current[Index:999][Weight:1]",
             "Compare Drive1[Index:1][Weight:6000000047] to Current[Index:999][Weight:1]",
             "New default index [1] with weight [6000000047]",
             "Compare Drive2[Index:2][Weight:3009996043] to Current[Index:1][Weight:6000000047]",
             "Compare Drive3[Index:3][Weight:6000000047] to Current[Index:1][Weight:6000000047]",
             "New default index [3] with weight [6000000047]"}));
}

TEST_F(WeightingLog, ExclusionLogsOnlyItsLine) {
    DriveRecord records[3] = {Record(0, BusTypeNvme, 0, 100), Record(0, BusTypeUsb, 0, 100),
                              Record(0, BusTypeNvme, 0, 100)};
    records[0].Removable = 1;
    records[2].isIntelOptaneCache = 1;
    WeighDrives(records, 3, logPath_.c_str());
    using testing_support::Entries;
    EXPECT_EQ(Log(), Entries({"", " --- Candidate Drive [0] ---------------- ",
                              "Removable disk, never be a main storage condidate.", "",
                              " --- Candidate Drive [1] ---------------- ",
                              "Removable external USB HDD, never be a main storage condidate.", "",
                              " --- Candidate Drive [2] ---------------- ",
                              "Optane cache disk, never be a main storage condidate."}));
}

TEST_F(WeightingLog, TinyDiskIsNamedTooSmall) {
    DriveRecord record = Record(0, BusTypeNvme, 0, 3);
    WeighDrives(&record, 1, logPath_.c_str());
    EXPECT_NE(Log().find("] Too small to be OS disk.\r\n"), std::string::npos);
    EXPECT_NE(Log().find("] Drive[0].weight_size=0\r\n"), std::string::npos);
}

} // namespace
