#include "stability_benchmark.h"

#include "fleet_machine.h"
#include "machine_generator.h"
#include "machine_stability.h"

#include "selection/weighting.h"

#include <sim/standin.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include <time.h>

namespace bench {

namespace {

const int kFleetDiskCounts[] = {1, 4, 16, 64, 256};
// The check leaves out the largest machine: its verdict weighs some twenty thousand arrivals of
// 192 candidates, which a build without optimisation takes half a minute for.
const int kLargestCheckedDisks = 64;

// Processor time rather than wall time: the figures are per core, and the development machine's
// two cores are shared with other work.
double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The run as the fleet makes it without log: probe, weighting and pick of the installed machine.
void RunWithoutLog() {
    stability::ProbedRecords probed = stability::ProbeInstalledMachine();
    if (SUCCEEDED(probed.outcome)) {
        const LONG count = static_cast<LONG>(probed.records.size());
        WeighDrives(probed.records.data(), count, L"");
        PickDrive(probed.records.data(), count, L"");
    }
}

struct GeneratedFigures {
    double runSeconds = 0;
    double verdictSeconds = 0;
    double slowestVerdict = 0;
    size_t slowestCandidates = 0;
    size_t arrivals = 0;
    std::map<size_t, int> candidates; // machines by their number of candidates
    stability::VerdictCounts verdicts;
};

GeneratedFigures MeasureGenerated(int machines) {
    GeneratedFigures figures;
    for (int seed = 1; seed <= machines; ++seed) {
        const sim::Machine machine = testing_support::GeneratedMachine(static_cast<unsigned>(seed));
        sim::Install(machine);
        const double runStart = CpuSeconds();
        RunWithoutLog();
        figures.runSeconds += CpuSeconds() - runStart;
        const double verdictStart = CpuSeconds();
        const stability::NumberingVerdict verdict = stability::JudgeMachine(machine);
        const double seconds = CpuSeconds() - verdictStart;
        figures.verdictSeconds += seconds;
        if (seconds > figures.slowestVerdict) {
            figures.slowestVerdict = seconds;
            figures.slowestCandidates = verdict.candidates;
        }
        figures.arrivals += verdict.arrivals;
        ++figures.candidates[verdict.candidates];
        figures.verdicts.Add(verdict.verdict);
    }
    return figures;
}

void PrintGenerated(int machines, const GeneratedFigures& f) {
    const double both = f.runSeconds + f.verdictSeconds;
    std::printf("numbering verdict: %d generated machines (seeds 1 to %d), one core\n", machines,
                machines);
    std::printf("%-22s %12s %12s\n", "", "CPU seconds", "machines/s");
    std::printf("%-22s %12.3f %12.0f\n", "run without log", f.runSeconds, machines / f.runSeconds);
    std::printf("%-22s %12.3f %12.0f\n", "verdict", f.verdictSeconds, machines / f.verdictSeconds);
    std::printf("%-22s %12.3f %12.0f\n", "run and verdict", both, machines / both);
    std::printf("arrivals weighed: %zu; slowest verdict: %.3f ms (%zu candidates)\n", f.arrivals,
                f.slowestVerdict * 1000, f.slowestCandidates);
    std::printf("machines by candidates:");
    for (const auto& [candidates, count] : f.candidates) {
        std::printf(" %zu: %d", candidates, count);
    }
    std::printf("\nmachines by verdict: %s\n\n", f.verdicts.Text().c_str());
}

// On every fleet machine the system disk wins whatever the numbering: it alone has the PCIe 4.0
// link and the EFI system partition.
int MeasureFleetMachines(bool checkOnly) {
    if (!checkOnly) {
        std::printf("numbering verdict of the fleet machines\n");
        std::printf("%5s %10s %9s %8s %10s  %s\n", "disks", "candidates", "arrivals", "sampled",
                    "CPU ms", "verdict");
    }
    for (int disks : kFleetDiskCounts) {
        if (checkOnly && disks > kLargestCheckedDisks) {
            continue;
        }
        const sim::Machine machine = FleetMachine(disks);
        const double start = CpuSeconds();
        const stability::NumberingVerdict verdict = stability::JudgeMachine(machine);
        const double seconds = CpuSeconds() - start;
        if (verdict.verdict != stability::Verdict::Stable || verdict.disks.size() != 1 ||
            verdict.disks[0].position != 0) {
            std::fprintf(stderr, "destpick benchmark: %d disks: %s\n", disks,
                         stability::DescribeVerdict(verdict).c_str());
            return 1;
        }
        if (!checkOnly) {
            std::printf("%5d %10zu %9zu %8s %10.3f  %s\n", disks, verdict.candidates,
                        verdict.arrivals, verdict.sampled ? "yes" : "no", seconds * 1000,
                        stability::VerdictWord(verdict.verdict));
        }
    }
    return 0;
}

} // namespace

int RunStabilityBenchmark(int machines, bool checkOnly) {
    const GeneratedFigures figures = MeasureGenerated(machines);
    if (!checkOnly) {
        PrintGenerated(machines, figures);
    }
    return MeasureFleetMachines(checkOnly);
}

} // namespace bench
