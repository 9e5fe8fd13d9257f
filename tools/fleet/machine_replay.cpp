#include "machine_replay.h"

#include "capture_origin.h"
#include "explain.h"
#include "machine_stability.h"
#include "selection/run_driver.h"

#include <sim/standin.h>
#include <sim/text.h>

#include <sstream>

namespace {

// The tool's folder as the replayed run sees it; its files live in memory only.
const wchar_t MemoryFolder[] = L"Z:\\destpick-fleet";

const sim::Module& ReplayModule() {
    static const sim::Module module = [] {
        sim::Module replayed = sim::DefaultModule();
        replayed.path = std::wstring(MemoryFolder) + L"\\destpick.exe";
        return replayed;
    }();
    return module;
}

// The loader's refusal, worded as the native executable words it.
bool LoadDescription(const std::string& file, sim::Machine* machine, std::string* refusal) {
    try {
        *machine = sim::LoadMachineFile(file);
        return true;
    } catch (const sim::MachineError& error) {
        *refusal = error.what();
    } catch (const std::exception& error) {
        *refusal = file + ": cannot be read: " + error.what();
    }
    return false;
}

// The decision the log tells; a log without a complete run tells none.
DecisionRow RowOfLog(const std::string& log) {
    std::istringstream stream(log);
    const LastCompleteRun found = FindLastCompleteRun(stream);
    if (found.status != Explained) {
        return DecisionRow();
    }
    return DecisionRowOfRun(*found.run, ExplainRun(*found.run));
}

} // namespace

ReplayResult ReplayDescription(const std::string& file) {
    ReplayResult result;
    sim::Machine machine;
    std::string refusal;
    if (!LoadDescription(file, &machine, &refusal)) {
        result.row[RowField::File] = file;
        result.row[RowField::Refused] = refusal;
        return result;
    }
    sim::KeepFilesInMemory(MemoryFolder);
    sim::Install(machine, ReplayModule());
    sim::CaptureConsole(true);
    const int exitCode = RunDestinationPick();
    const std::string output = sim::ConsoleText();
    sim::CaptureConsole(false);
    result.log = sim::MemoryFileBytes(std::wstring(MemoryFolder) + L"\\destpick.log");

    result.row = RowOfLog(result.log);
    result.row[RowField::File] = file;
    const CaptureOrigin origin = CaptureOriginOf(sim::ToUtf8(machine.description));
    result.row[RowField::Computer] = origin.computer;
    result.row[RowField::Captured] = origin.captured;
    result.row[RowField::Stdout] = output;
    result.row[RowField::ExitCode] = ExitCodeText(exitCode);
    // From the description: the machine replayed under every arrival of its disks.
    SetStability(stability::JudgeMachine(machine), &result.row);
    return result;
}
