// The numbering verdict on machines built to hold or not to hold on the next boot, judged from the
// description and from the log their run leaves; every example machine judged both ways; and the
// arrivals weighed from one probe against whole runs of the permuted machines.
#include "explain.h"
#include "machine_generator.h"
#include "machine_stability.h"
#include "numbering.h"
#include "test_support.h"

#include "selection/weighting.h"

#include <sim/text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

namespace {

const sim::RequestKey kLayout{IOCTL_DISK_GET_DRIVE_LAYOUT_EX};
const sim::RequestKey kDevice{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty};
const sim::RequestKey kNumber{IOCTL_STORAGE_GET_DEVICE_NUMBER};

std::wstring PathOf(const std::wstring& name) {
    return L"\\\\?\\scsi#disk&ven_" + name + L"#4&2c41e0aa&0&000000#{53f56307-b6bf-11d0-94f2-" +
           L"00a0c91efb8b}";
}

sim::Disk With(sim::Disk disk, const sim::RequestKey& request, const sim::Reply& reply) {
    disk.replies[request] = reply;
    return disk;
}

sim::Disk WithEfi(const std::wstring& name, DWORD number) {
    return testing_support::FixedDisk(PathOf(name), number);
}

sim::Disk Blank(const std::wstring& name, DWORD number) {
    return With(WithEfi(name, number), kLayout, sim::LayoutReply(PARTITION_STYLE_RAW, {}));
}

sim::Disk OnBus(const std::wstring& name, DWORD number, DWORD bus, bool removable) {
    return With(Blank(name, number), kDevice, sim::DeviceDescriptorReply(bus, removable));
}

// A disk of a bus the weighting has no class for, of that many cylinders: below 4 GiB it weighs
// only its device-number term, at 20,000 GiB it never reaches a weight of 1.
sim::Disk UnknownBus(const std::wstring& name, DWORD number, LONGLONG cylinders) {
    return With(OnBus(name, number, BusTypeUnknown, false), {IOCTL_DISK_GET_DRIVE_GEOMETRY},
                sim::GeometryReply(cylinders, 255, 63, 512));
}

// Its layout never comes: every run ends without an answer.
sim::Disk NeverLaidOut(const std::wstring& name, DWORD number) {
    sim::Disk disk = Blank(name, number);
    disk.replies[kLayout].failures = -1;
    return disk;
}

std::vector<sim::Disk> EightBlank() {
    std::vector<sim::Disk> disks;
    for (DWORD k = 0; k < 8; ++k) {
        disks.push_back(Blank(L"n" + std::to_wstring(k), k));
    }
    return disks;
}

// The verdict's line with each path cut to the name PathOf made it from.
std::string ShortDescription(const stability::NumberingVerdict& verdict) {
    static const std::regex path(R"(\\\\\?\\scsi#disk&ven_([^#]*)#[^}]*\})");
    return std::regex_replace(stability::DescribeVerdict(verdict), path, "$1");
}

struct VerdictCase {
    const char* name;
    std::vector<sim::Disk> disks;
    const char* verdict;  // its short description
    const char* sentence; // a part of what explain says from the log
};

const char kNothing[] = "Nothing in the decision depends on the numbering";

// The sentences of depends-on-numbering rows are parts only the runner-up's account says.
const VerdictCase kVerdictCases[] = {
    {"two same-size blank NVMe disks",
     {Blank(L"a", 0), Blank(L"b", 1)},
     "depends-on-numbering: a as disk 0, b as disk 0 (candidates: 2, arrivals tried: 2)",
     "differ only in their device numbers; another boot may number them the other way"},
    {"the same, one with an EFI system partition",
     {Blank(L"a", 0), WithEfi(L"b", 1)},
     "stable: b as disk 0 or 1 (candidates: 2, arrivals tried: 2)",
     kNothing},
    {"NVMe beside SATA",
     {OnBus(L"a", 0, BusTypeSata, false), Blank(L"b", 1)},
     "stable: b as disk 0 or 1 (candidates: 2, arrivals tried: 2)",
     kNothing},
    {"two equal disks and a USB stick",
     {OnBus(L"s", 0, BusTypeUsb, true), Blank(L"a", 1), Blank(L"b", 2)},
     "depends-on-numbering: a as disk 1, b as disk 1 (candidates: 2, arrivals tried: 2)",
     "and the runner-up disk 2"},
    {"two equal disks that report one device number",
     {Blank(L"a", 5), Blank(L"b", 5)},
     "depends-on-numbering: b as disk 5, a as disk 5 (candidates: 2, arrivals tried: 2)",
     "tie and differ only in their positions (the later wins)"},
    {"a USB stick alone",
     {OnBus(L"s", 0, BusTypeUsb, true)},
     "stable: UNKNOWN (candidates: 0, arrivals tried: 1)",
     kNothing},
    {"a candidate that never weighs 1",
     {UnknownBus(L"u", 0, 2610978)},
     "stable: UNKNOWN (candidates: 1, arrivals tried: 1)",
     kNothing},
    {"a disk that weighs 1 only under a low number, beside one that never does",
     {UnknownBus(L"t", 0, 100), UnknownBus(L"u", 50, 2610978)},
     "unknown-under-some: t as disk 0, UNKNOWN under 1 (candidates: 2, arrivals tried: 2)",
     "Under another numbering the pick may answer otherwise"},
    {"a layout that never comes",
     {Blank(L"a", 0), NeverLaidOut(L"b", 1)},
     "stable: no answer under any numbering (the run ends before the weighting)",
     "the run ends without an answer under any numbering"},
    {"eight equal disks", EightBlank(),
     "depends-on-numbering: n0 as disk 0, n1 as disk 0, n2 as disk 0, n3 as disk 0, n4 as disk 0, "
     "n5 as disk 0, n6 as disk 0, n7 as disk 0 (candidates: 8, arrivals tried: 2029, sampled)",
     "differ only in their device numbers"},
};

// The account judged from the log, its verdict expected to be the one judged from the description.
NumberingAccount ExpectLogAgrees(const sim::Machine& machine, const std::string& log) {
    std::istringstream stream(log);
    const LastCompleteRun found = FindLastCompleteRun(stream);
    EXPECT_TRUE(found.run.has_value()) << found.error;
    const NumberingAccount fromLog = found.run ? JudgeNumbering(*found.run) : NumberingAccount();
    EXPECT_EQ(stability::DescribeVerdict(fromLog.verdict),
              stability::DescribeVerdict(stability::JudgeMachine(machine)));
    return fromLog;
}

TEST(NumberingVerdict, FromTheDescriptionAsFromTheLog) {
    for (const VerdictCase& c : kVerdictCases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine;
        machine.disks = c.disks;
        const NumberingAccount fromLog = ExpectLogAgrees(
            machine,
            testing_support::RunSystemLoggingInMemory(machine, L"Z:\\destpick-stability-test").log);
        EXPECT_EQ(ShortDescription(fromLog.verdict), c.verdict);
        EXPECT_NE(fromLog.sentence.find(c.sentence), std::string::npos) << fromLog.sentence;
    }
    const std::filesystem::path source = DESTPICK_SOURCE_DIR;
    ASSERT_FALSE(std::filesystem::is_empty(source / "examples/machines"));
    for (const auto& entry : std::filesystem::directory_iterator(source / "examples/machines")) {
        const std::filesystem::path file = entry.path();
        SCOPED_TRACE(file.filename().string());
        std::ifstream log(source / "tests/example_logs" / file.filename().replace_extension(".log"),
                          std::ios::binary);
        ExpectLogAgrees(sim::LoadMachineFile(file.string()),
                        std::string(std::istreambuf_iterator<char>(log), {}));
    }
}

// Windows never presents two interfaces under one path; the stand-in opens the first of them.
bool PathsDistinct(const std::vector<sim::Disk>& disks) {
    for (auto a = disks.begin(); a != disks.end(); ++a) {
        if (!a->path.empty() && std::any_of(a + 1, disks.end(), [&](const sim::Disk& b) {
                return sim::EqualsIgnoringCase(a->path, b.path);
            })) {
            return false;
        }
    }
    return true;
}

std::vector<BYTE>::iterator DeviceNumberOf(sim::Disk& disk) {
    return disk.replies.at(kNumber).bytes.begin() + offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber);
}

// The machine of another boot: the disk at candidates[j] moves to the position of
// candidates[arrival[j]] and answers that disk's device number; everything else it answers stays.
sim::Machine Permuted(const sim::Machine& machine, const std::vector<LONG>& candidates,
                      const stability::Arrival& arrival) {
    sim::Machine permuted = machine;
    for (size_t j = 0; j < candidates.size(); ++j) {
        const size_t to = static_cast<size_t>(candidates[arrival[j]]);
        sim::Disk disk = machine.disks[static_cast<size_t>(candidates[j])];
        sim::Disk numbered = machine.disks[to];
        std::copy_n(DeviceNumberOf(numbered), sizeof(DWORD), DeviceNumberOf(disk));
        permuted.disks[to] = disk;
    }
    return permuted;
}

// The whole probe, weighting and pick on the permuted machine: the chosen disk by its position
// on the original boot, and the number it answered.
stability::ArrivalChoice ReplayArrival(const sim::Machine& machine,
                                       const std::vector<LONG>& candidates,
                                       const stability::Arrival& arrival, HRESULT* outcome) {
    sim::Install(Permuted(machine, candidates, arrival));
    stability::ProbedRecords probed = stability::ProbeInstalledMachine();
    *outcome = probed.outcome;
    const LONG count = static_cast<LONG>(probed.records.size());
    WeighDrives(probed.records.data(), count, L"");
    const LONG chosen = PickDrive(probed.records.data(), count, L"");
    if (FAILED(probed.outcome) || chosen == NoDriveChosen) {
        return {NoDriveChosen, 0};
    }
    LONG original = chosen;
    for (size_t j = 0; j < candidates.size(); ++j) {
        if (candidates[arrival[j]] == chosen) {
            original = candidates[j];
        }
    }
    return {original, probed.records[static_cast<size_t>(chosen)].Order};
}

// The generated machine with every disk whose answers allow it a fixed NVMe disk of one size and
// without partitions, so that numbers and positions decide more often; link speeds and RAID
// answers still set some disks apart.
sim::Machine Equalized(sim::Machine machine) {
    // Only the bytes change: a layout keeps its scripted failures.
    const std::pair<sim::RequestKey, sim::Reply> equal[] = {
        {kDevice, sim::DeviceDescriptorReply(BusTypeNvme, false)},
        {{IOCTL_DISK_GET_DRIVE_GEOMETRY}, sim::GeometryReply(121601, 255, 63, 512)},
        {kLayout, sim::LayoutReply(PARTITION_STYLE_RAW, {})}};
    for (sim::Disk& disk : machine.disks) {
        for (const auto& [request, reply] : equal) {
            const auto found = disk.replies.find(request);
            if (found != disk.replies.end() && !found->second.error) {
                found->second.bytes = reply.bytes;
            }
        }
    }
    return machine;
}

struct ReplayCount {
    int arrivals = 0;
    int changedAnswers = 0; // arrivals whose disk is not the original arrival's
};

// Replays the machine's arrivals whole (a few of them, where they are many), each against the
// arrival weighed from the original probe.
void ExpectWeighedAsReplayed(const sim::Machine& machine, ReplayCount* count) {
    const size_t kReplaysPerMachine = 24;
    sim::Install(machine);
    const stability::ProbedRecords probed = stability::ProbeInstalledMachine();
    stability::ArrivalWeigher weigher(probed.records);
    std::vector<stability::Arrival> arrivals;
    stability::ForEachArrival(weigher.Candidates().size(),
                              [&](const stability::Arrival& a) { arrivals.push_back(a); });
    const LONG original = weigher.Pick(arrivals[0]).record;
    const size_t step = std::max<size_t>(1, arrivals.size() / kReplaysPerMachine);
    for (size_t k = 0; k < arrivals.size(); k += step) {
        HRESULT outcome = S_OK;
        const stability::ArrivalChoice whole =
            ReplayArrival(machine, weigher.Candidates(), arrivals[k], &outcome);
        ++count->arrivals;
        EXPECT_EQ(outcome, probed.outcome) << "arrival " << k;
        if (FAILED(probed.outcome)) {
            continue;
        }
        const stability::ArrivalChoice weighed = weigher.Pick(arrivals[k]);
        EXPECT_EQ(weighed.record, whole.record) << "arrival " << k;
        EXPECT_EQ(weighed.number, whole.number) << "arrival " << k;
        count->changedAnswers += whole.record != original ? 1 : 0;
    }
}

TEST(NumberingVerdict, OneProbeWeighsAsTheWholeRunOfEachArrival) {
    ReplayCount count;
    for (unsigned seed = 1; seed <= 500; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        sim::Machine machine = testing_support::GeneratedMachine(seed);
        machine.interfaceLists.clear();
        if (!PathsDistinct(machine.disks)) {
            continue;
        }
        ExpectWeighedAsReplayed(machine, &count);
        SCOPED_TRACE("equalized");
        ExpectWeighedAsReplayed(Equalized(machine), &count);
        if (HasFailure()) {
            return;
        }
    }
    // Enough of them choose another disk for the comparison to mean something.
    EXPECT_GT(count.arrivals, 1000) << count.changedAnswers;
    EXPECT_GT(count.changedAnswers, 25) << count.arrivals;
}

} // namespace
