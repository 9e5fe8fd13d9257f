// destpick-capture as a whole, run in process on a simulated machine: what it writes where, what it
// refuses before it asks the machine anything, and how each failure ends.
#include "capture_file.h"
#include "capture_tool.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <sim/text.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

using testing_support::ScratchFolder;

struct ToolRun {
    int exitCode = 0;
    std::string output;
    sim::Counters counters;
};

ToolRun RunTool(const sim::Machine& machine, const sim::Module& module,
                std::vector<std::wstring> arguments) {
    sim::Install(machine, module);
    testing_support::FixClock();
    arguments.insert(arguments.begin(), module.path);
    std::vector<wchar_t*> argv;
    for (std::wstring& argument : arguments) {
        argv.push_back(&argument[0]);
    }
    sim::CaptureConsole(true);
    ToolRun run;
    run.exitCode = RunCaptureTool(static_cast<int>(argv.size()), argv.data());
    run.output = sim::ConsoleText();
    sim::CaptureConsole(false);
    testing_support::ReleaseClock();
    run.counters = sim::CurrentCounters();
    return run;
}

std::wstring ComputerName() {
    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1] = {0};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(name, &size);
    return name;
}

std::vector<std::string> FilesIn(const ScratchFolder& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Posix())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

sim::Machine OneDisk() {
    sim::Machine machine;
    machine.disks = {testing_support::FixedDisk()};
    return machine;
}

// Every way the tool ends, by its command line and what it meets. "<folder>" in an argument
// stands for the scratch folder the tool runs from.
TEST(CaptureTool, EndsAsItsCommandLineAndMachineHaveIt) {
    const std::string defaultName = sim::ToUtf8(ComputerName()) + "-20210907-054407Z.json";
    const sim::Machine machine = OneDisk();
    sim::Machine undescribable = machine;
    sim::DeviceNode node;
    node.instanceId = *sim::InterfaceInstanceId(testing_support::kPath);
    node.deviceDescription = std::wstring(1, static_cast<wchar_t>(0xD800));
    undescribable.nodes = {node};
    enum class Twist { None, NoVersionResource, TextThatIsNoUtf16 };
    struct Case {
        const char* name;
        int exitCode;
        bool asksMachine;               // false: refused before the machine is asked anything
        std::vector<std::string> files; // what the folder holds afterwards, beside "taken.json"
        std::vector<std::wstring> arguments;
        Twist twist = Twist::None;
        const char* printed = nullptr; // what standard output holds, when it is not a path
    };
    const char* const kVersionLine = "destpick-capture 1.2.0.15\r\n";
    const Case cases[] = {
        {"beside itself", 0, true, {defaultName}, {}},
        {"named", 0, true, {"ticket.json"}, {L"<folder>\\ticket.json"}},
        {"long form", 0, true, {"long.json"}, {L"\\\\?\\<folder>\\long.json"}},
        {"usage asked for", 0, false, {}, {L"--help"}},
        {"two names", 1, false, {}, {L"a.json", L"b.json"}},
        {"an empty name", 1, false, {}, {L""}},
        {"no version resource", 2, false, {}, {}, Twist::NoVersionResource},
        {"text that is no UTF-16", 3, true, {}, {}, Twist::TextThatIsNoUtf16},
        {"an existing file", 4, true, {}, {L"<folder>\\taken.json"}},
        {"a missing folder", 4, true, {}, {L"<folder>\\none\\x.json"}},
        {"a disk", 4, false, {}, {L"\\\\.\\PhysicalDrive0"}},
        {"a disk, slashes", 4, false, {}, {L"//./PHYSICALDRIVE0"}},
        {"a partition", 4, false, {}, {L"\\\\?\\GLOBALROOT\\Device\\Harddisk0\\Partition1"}},
        {"a volume", 4, false, {}, {L"\\\\?\\Volume{0b1c2d3e-0000-0000-0000-100000000000}"}},
        {"an NT path", 4, false, {}, {L"\\??\\C:"}},
        {"version asked for", 0, false, {}, {L"--version"}, Twist::None, kVersionLine},
        {"version without its resource", 2, false, {}, {L"--version"}, Twist::NoVersionResource},
        {"a slash option", 1, false, {}, {L"/v"}},
        {"a dash option", 1, false, {}, {L"-v"}},
        {"a long option", 1, false, {}, {L"--output=x.json"}},
        {"a lone dash", 1, false, {}, {L"-"}},
        {"an option beside a name", 1, false, {}, {L"--version", L"x.json"}},
        {"a share's path with slashes", 4, true, {}, {L"//no-such-server/share/x.json"}},
        {"the null device", 4, false, {}, {L"NUL"}},
        {"the null device with an extension", 4, false, {}, {L"nul.json"}},
        {"the null device in a folder", 4, false, {}, {L"C:\\NUL"}},
        {"a port in a folder", 4, false, {}, {L"<folder>\\com1.txt"}},
        {"a port, drive-relative", 4, false, {}, {L"C:lpt9"}},
        {"a port with a colon", 4, false, {}, {L"COM3:"}},
        {"a port numbered in superscript", 4, false, {}, {L"<folder>\\LPT\u00B2.json"}},
        {"the console, spaces and dots", 4, false, {}, {L"<folder>\\CoN . "}},
        {"the console's output", 4, false, {}, {L"conout$"}},
        {"the printer, slashes", 4, false, {}, {L"<folder>/prn.tar.gz"}},
        {"the auxiliary device, spaces before the dot", 4, false, {}, {L"<folder>\\aux  .json"}},
        {"a port's number beyond 9", 0, true, {"COM10.json"}, {L"<folder>\\COM10.json"}},
        {"a device's name inside a longer one",
         0,
         true,
         {"nullable.json"},
         {L"<folder>\\nullable.json"}},
        {"a device's name as a folder's", 4, true, {}, {L"<folder>\\nul\\x.json"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScratchFolder folder;
        std::ofstream(folder.Posix() + "/taken.json") << "kept";
        std::vector<std::wstring> arguments;
        for (std::wstring argument : c.arguments) {
            const size_t at = argument.find(L"<folder>");
            arguments.push_back(
                at == std::wstring::npos ? argument : argument.replace(at, 8, folder.Windows()));
        }
        sim::Module module = testing_support::ModuleIn(folder, L"destpick-capture.exe");
        if (c.twist == Twist::NoVersionResource) {
            module.version = sim::Module::Version::Absent;
        }
        const ToolRun run = RunTool(c.twist == Twist::TextThatIsNoUtf16 ? undescribable : machine,
                                    module, arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        std::vector<std::string> expected = c.files;
        expected.push_back("taken.json");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FilesIn(folder), expected);
        EXPECT_EQ(folder.ReadFile("taken.json"), "kept");
        EXPECT_EQ(run.counters.deviceWrites, 0);
        EXPECT_EQ(run.counters.openHandles, 0);
        if (!c.asksMachine) {
            EXPECT_EQ(run.counters.deviceOpens, 0);
            EXPECT_EQ(run.counters.classQueries, 0);
        }
        if (c.printed != nullptr) {
            EXPECT_EQ(run.output, c.printed);
        }
        if (c.exitCode == 0 && !c.files.empty()) {
            const std::wstring path = folder.Windows() + L"\\" + sim::FromUtf8(c.files[0]);
            EXPECT_EQ(run.output, sim::ToUtf8(c.arguments.empty() ? path : arguments[0]) + "\r\n");
            const sim::Machine written = sim::ParseMachine(folder.ReadFile(c.files[0]), c.name);
            EXPECT_EQ(written.disks, machine.disks);
            EXPECT_EQ(written.description,
                      L"Captured by destpick-capture 1.2.0.15 on " + ComputerName() +
                          L" (Windows 10.0.19045) at 2021-09-07 05:44:07 UTC.");
        }
    }
}

TEST(CaptureFile, NameTellsComputerAndTimeAndHoldsNoForbiddenCharacter) {
    struct Case {
        std::wstring computer;
        SYSTEMTIME at;
        std::wstring name;
    };
    const Case cases[] = {
        {L"IMAGING-07", {2024, 3, 6, 9, 7, 5, 2, 0}, L"IMAGING-07-20240309-070502Z.json"},
        {L"", {2031, 12, 3, 31, 23, 59, 59, 999}, L"computer-20311231-235959Z.json"},
        {L"A\\B/C:D*E?F\"G<H>I|J\tK",
         {2024, 1, 1, 1, 0, 0, 0, 0},
         L"A_B_C_D_E_F_G_H_I_J_K-20240101-000000Z.json"},
    };
    for (const Case& c : cases) {
        CaptureOrigin origin;
        origin.computerName = c.computer;
        origin.capturedAt = c.at;
        EXPECT_EQ(CaptureFileName(origin), c.name);
    }
}

} // namespace
