#include "capture_replay.h"

#include "capture.h"

#include <sim/standin.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool OneCaptureSeesWhole(const sim::Machine& machine) {
    return machine.interfaceLists.size() <= 1 && !machine.classQueryFails;
}

// The machine as a replay reads its capture. Only text that no description can carry (a lone
// surrogate) makes the tool refuse to write it, and the capture itself must replay all the same;
// any other refusal is a machine the tool could not capture.
sim::Machine Captured(const sim::Machine& machine) {
    const sim::Module module = sim::CurrentModule();
    sim::Install(machine, module);
    const sim::Machine captured = CaptureMachine().machine;
    try {
        return sim::ParseMachine(sim::WriteMachine(captured), "the capture");
    } catch (const sim::MachineError& error) {
        if (std::strstr(error.what(), "lone surrogate") == nullptr) {
            std::fprintf(stderr, "machine_fuzzer: the capture cannot be written: %s\n",
                         error.what());
            std::abort();
        }
        return captured;
    }
}

[[noreturn]] void Differs(const char* what, const std::string& original,
                          const std::string& replayed) {
    size_t at = 0;
    while (at < original.size() && at < replayed.size() && original[at] == replayed[at]) {
        ++at;
    }
    const size_t from =
        original.rfind('\n', at) == std::string::npos ? 0 : original.rfind('\n', at);
    std::fprintf(stderr,
                 "machine_fuzzer: the capture's replay %s differs from the machine's at byte %zu:\n"
                 "machine: %s\nreplay:  %s\n",
                 what, at, original.substr(from, 160).c_str(), replayed.substr(from, 160).c_str());
    std::abort();
}

} // namespace

void CheckCaptureReplays(const sim::Machine& machine, const RunOutcome& original,
                         const RunOn& runOn) {
    if (!OneCaptureSeesWhole(machine)) {
        return;
    }
    const RunOutcome replayed = runOn(Captured(machine));
    if (replayed.exitCode != original.exitCode) {
        Differs("exit code", std::to_string(original.exitCode), std::to_string(replayed.exitCode));
    }
    if (replayed.output != original.output) {
        Differs("output", original.output, replayed.output);
    }
    if (replayed.log != original.log) {
        Differs("log", original.log, replayed.log);
    }
}
