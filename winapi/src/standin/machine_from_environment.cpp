// The native run's start-up: the machine that DESTPICK_SIM_MACHINE names (or the embedded default)
// is installed before the program's entry point runs, and a refused description ends the process.
// Linked only into the programs that take their machine from the environment; tests, the
// benchmark and the fuzzer install their own.
#include <sim/standin.h>

#include <cstdlib>
#include <iostream>

namespace {

[[noreturn]] void RefuseMachine(const std::string& message) {
    std::cerr << "destpick (simulated machine): " << message << std::endl;
    std::_Exit(sim::kMachineRefusedExitCode);
}

sim::Machine MachineForThisProcess() {
    const char* fileName = std::getenv("DESTPICK_SIM_MACHINE");
    if (fileName == nullptr || *fileName == '\0') {
        return sim::DefaultMachine();
    }
    try {
        return sim::LoadMachineFile(fileName);
    } catch (const sim::MachineError& error) {
        RefuseMachine(error.what());
    } catch (const std::exception& error) {
        // Whatever else stops the loader (memory, a library's complaint) is refused the same way:
        // a description never ends the process any other way.
        RefuseMachine(std::string(fileName) + ": cannot be read: " + error.what());
    }
}

// The system never sees a refused description.
[[maybe_unused]] const bool machineInstalled = [] {
    sim::Install(MachineForThisProcess());
    return true;
}();

} // namespace
