#include "ts_tool.h"

#include "destpick_answer.h"
#include "destpick_run.h"
#include "ts_environment.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t DefaultVariable[] = L"OSDDiskIndex";
const wchar_t DestinationVariable[] = L"DESTPICK_DESTINATION";
const wchar_t LogFolderVariable[] = L"_SMSTSLogPath";
const wchar_t Destpick[] = L"destpick.exe";
const wchar_t DestpickLog[] = L"destpick.log";
const size_t LongestVariableName = 255;
// The longest path Windows hands out, terminator included.
const DWORD LongestPathChars = 32768;
// destpick's own output is one short line; anything longer is cut in the step's log.
const size_t ShownOutputChars = 200;

const wchar_t Usage[] =
    L"Usage: destpick-ts.exe [--dry-run] [VARIABLE]\n"
    L"\n"
    L"A task sequence step: runs destpick.exe, which lies beside this program, in the task\n"
    L"sequence's log folder (_SMSTSLogPath, else the temporary folder), so that destpick.log\n"
    L"stays there even when the package runs from a read-only share. When destpick names a disk\n"
    L"on standard output and in its exit code alike, it sets VARIABLE (OSDDiskIndex unless\n"
    L"named) to the disk number and DESTPICK_DESTINATION to its device path. Both are cleared\n"
    L"first, so that after any failure no later step finds a disk an earlier step left there.\n"
    L"With --dry-run it does all of that but set or clear anything, also outside a task sequence.\n"
    L"\n"
    L"Exit codes:\n"
    L"   0  the variable holds the disk number\n"
    L"   1  the command line is wrong\n"
    L"   2  there is no task sequence environment (not run as a task sequence step)\n"
    L"   3  destpick.exe is not beside destpick-ts.exe\n"
    L"   4  destpick.exe could not be copied into the log folder\n"
    L"   5  destpick.exe could not be started\n"
    L"   6  no disk qualifies (Destination=UNKNOWN): do not image this machine\n"
    L"   7  destpick gave up reading a disk's partition layout, and gave no answer\n"
    L"   8  destpick could not start up (exit code 1 with its message)\n"
    L"   9  destpick's output and exit code do not agree\n"
    L"  10  the variable could not be set\n"
    L"\n"
    L"destpick-ts " DESTPICK_TS_VERSION L"\n";

struct Options {
    std::wstring variable;
    bool dryRun;
};

enum Request { RunRequested, HelpRequested, VersionRequested, WrongCommandLine };

// One run: the environment, or NULL outside a task sequence (a dry run only), and what was asked.
struct Step {
    const TsEnvironment* environment;
    Options options;
};

bool IsNameCharacter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
           c == L'_' || c == L'-';
}

// Variables that begin with an underscore belong to the task sequence and are read-only, and the
// device path has a variable of its own.
bool IsVariableName(const std::wstring& name) {
    if (name.empty() || name.size() > LongestVariableName || name[0] == L'_' || name[0] == L'-') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), IsNameCharacter) &&
           _wcsicmp(name.c_str(), DestinationVariable) != 0;
}

Request ParseCommandLine(int argc, wchar_t** argv, Options* options) {
    options->variable = DefaultVariable;
    options->dryRun = false;
    bool named = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
            return HelpRequested;
        }
        if (argument == L"--version") {
            return VersionRequested;
        }
        if (argument == L"--dry-run") {
            options->dryRun = true;
        } else if (named || !IsVariableName(argument)) {
            return WrongCommandLine;
        } else {
            options->variable = argument;
            named = true;
        }
    }
    return RunRequested;
}

// One line on standard output, written at once: the task sequence copies it into its own log.
void Say(const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vfwprintf(stdout, format, arguments);
    va_end(arguments);
    fputwc(L'\n', stdout);
    fflush(stdout);
}

std::wstring Hex(DWORD value) {
    wchar_t text[11];
    swprintf(text, 11, L"0x%08lX", value);
    return text;
}

// The line that ends a run without an answer.
int Fail(const Step& step, int code, const std::wstring& why) {
    Say(L"%ls; %ls %ls (exit code %d)", why.c_str(), step.options.variable.c_str(),
        step.options.dryRun ? L"would stay cleared" : L"stays cleared", code);
    return code;
}

// Sets the variable or, with an empty value, clears it; a dry run only says what it would do.
bool Assign(const Step& step, const std::wstring& name, const std::wstring& value) {
    if (!step.options.dryRun) {
        const HRESULT status = SetTsVariable(*step.environment, name, value);
        if (FAILED(status)) {
            Say(L"Cannot set %ls (%ls)", name.c_str(), Hex(status).c_str());
            return false;
        }
    }
    if (value.empty()) {
        Say(step.options.dryRun ? L"Would clear %ls" : L"Cleared %ls", name.c_str());
    } else {
        Say(step.options.dryRun ? L"Would set %ls=%ls" : L"Set %ls=%ls", name.c_str(),
            value.c_str());
    }
    return true;
}

bool ClearBoth(const Step& step) {
    return Assign(step, step.options.variable, std::wstring()) &&
           Assign(step, DestinationVariable, std::wstring());
}

int SetAnswer(const Step& step, const DestpickAnswer& answer) {
    if (Assign(step, step.options.variable, std::wstring(answer.disk.begin(), answer.disk.end())) &&
        Assign(step, DestinationVariable,
               std::wstring(answer.devicePath.begin(), answer.devicePath.end()))) {
        return TsVariableSet;
    }
    // Half an answer must not stay behind either.
    ClearBoth(step);
    return Fail(step, TsVariableNotSet, L"The answer could not be set");
}

// The folder this program was started from, with its closing backslash; empty when Windows does
// not tell it whole.
std::wstring OwnFolder() {
    std::vector<wchar_t> path(LongestPathChars);
    const DWORD length = GetModuleFileNameW(NULL, path.data(), LongestPathChars);
    if (length == 0 || length >= LongestPathChars) {
        return std::wstring();
    }
    const std::wstring whole(path.data(), length);
    const size_t lastBackslash = whole.find_last_of(L'\\');
    return lastBackslash == std::wstring::npos ? std::wstring()
                                               : whole.substr(0, lastBackslash + 1);
}

std::wstring TemporaryFolder() {
    std::vector<wchar_t> path(MAX_PATH + 1);
    const DWORD length = GetTempPathW(MAX_PATH + 1, path.data());
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(path.data(), length);
}

// Where destpick runs and leaves its log: the task sequence's log folder, else the temporary
// folder. With its closing backslash; empty when there is neither.
std::wstring WorkFolder(const Step& step) {
    std::wstring logFolder;
    if (step.environment != NULL) {
        const HRESULT status = GetTsVariable(*step.environment, LogFolderVariable, &logFolder);
        if (FAILED(status)) {
            Say(L"Cannot read %ls (%ls); destpick runs in the temporary folder", LogFolderVariable,
                Hex(status).c_str());
            logFolder.clear();
        }
    }
    if (logFolder.empty()) {
        return TemporaryFolder();
    }
    return logFolder.back() == L'\\' ? logFolder : logFolder + L'\\';
}

// destpick's output as one line of text: line ends and other control bytes become spaces,
// bytes outside ASCII question marks.
std::wstring Printable(const std::string& output) {
    std::wstring text;
    for (char byte : output.substr(0, ShownOutputChars)) {
        const unsigned char c = static_cast<unsigned char>(byte);
        text += c < 0x20 ? L' ' : c < 0x7F ? static_cast<wchar_t>(c) : L'?';
    }
    const size_t end = text.find_last_not_of(L' ');
    return end == std::wstring::npos ? std::wstring() : text.substr(0, end + 1);
}

std::wstring OutcomeText(int outcome) {
    switch (outcome) {
    case TsNoDiskQualifies:
        return L"No disk qualifies (Destination=UNKNOWN): do not image this machine";
    case TsLayoutGaveUp:
        return L"destpick gave up reading a disk's partition layout, and gave no answer";
    case TsDestpickStartupFailed:
        return L"destpick could not start up";
    default:
        return L"destpick's output and exit code do not agree";
    }
}

void RemoveCopy(const std::wstring& program, const std::wstring& folder) {
    if (DeleteFileW(program.c_str())) {
        Say(L"Removed %ls; destpick's log stays: %ls%ls", program.c_str(), folder.c_str(),
            DestpickLog);
    } else {
        Say(L"Cannot remove %ls (error %lu)", program.c_str(), GetLastError());
    }
}

// Runs destpick.exe in the folder, from a copy unless it lies there already, and reads its
// answer.
int RunDestpick(const Step& step, const std::wstring& source, const std::wstring& folder) {
    const std::wstring program = folder + Destpick;
    const bool inPlace = _wcsicmp(program.c_str(), source.c_str()) == 0;
    if (!inPlace) {
        if (!CopyFileW(source.c_str(), program.c_str(), FALSE)) {
            return Fail(step, TsCopyFailed,
                        L"Cannot copy " + source + L" to " + program + L" (error " +
                            std::to_wstring(GetLastError()) + L")");
        }
        // A copy from read-only media keeps that attribute, which would keep it from removal.
        SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_NORMAL);
        Say(L"Copied %ls to %ls", source.c_str(), program.c_str());
    }
    CapturedRun run = {std::string(), 0};
    const BOOL ran = RunCapturingOutput(program, folder, &run);
    const DWORD error = GetLastError();
    if (ran) {
        Say(L"Ran %ls: \"%ls\", exit code %lu (%ls)", program.c_str(),
            Printable(run.output).c_str(), run.exitCode, Hex(run.exitCode).c_str());
    }
    if (!inPlace) {
        RemoveCopy(program, folder);
    }
    if (!ran) {
        return Fail(step, TsStartFailed,
                    L"Cannot start " + program + L" (error " + std::to_wstring(error) + L")");
    }
    const DestpickAnswer answer =
        ReadDestpickAnswer(run.output.data(), run.output.size(), run.exitCode);
    if (answer.outcome != TsVariableSet) {
        return Fail(step, answer.outcome, OutcomeText(answer.outcome));
    }
    return SetAnswer(step, answer);
}

int PickAndSet(const Step& step) {
    // Cleared before anything can fail, so that no way out leaves an earlier step's disk.
    if (step.environment != NULL && !ClearBoth(step)) {
        return Fail(step, TsVariableNotSet, L"The variables could not be cleared");
    }
    const std::wstring ownFolder = OwnFolder();
    const std::wstring source = ownFolder + Destpick;
    const DWORD attributes =
        ownFolder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Fail(step, TsDestpickMissing,
                    L"No destpick.exe beside destpick-ts.exe (" + source + L")");
    }
    const std::wstring folder = WorkFolder(step);
    if (folder.empty()) {
        return Fail(step, TsCopyFailed, L"No log folder and no temporary folder to run it in");
    }
    return RunDestpick(step, source, folder);
}

int RunWithEnvironment(const Options& options, HRESULT com) {
    TsEnvironment environment = {NULL, DISPID_UNKNOWN};
    const HRESULT reached = FAILED(com) ? com : OpenTsEnvironment(&environment);
    if (SUCCEEDED(reached)) {
        const int code = PickAndSet(Step{&environment, options});
        CloseTsEnvironment(&environment);
        return code;
    }
    if (!options.dryRun) {
        Say(L"Cannot reach the task sequence environment (Microsoft.SMS.TSEnvironment, %ls): run "
            L"destpick-ts.exe as a task sequence step, or with --dry-run (exit code %d)",
            Hex(reached).c_str(), TsNoEnvironment);
        return TsNoEnvironment;
    }
    Say(L"Not in a task sequence (%ls): destpick runs in the temporary folder",
        Hex(reached).c_str());
    return PickAndSet(Step{NULL, options});
}

} // namespace

int RunTsTool(int argc, wchar_t** argv) {
    Options options;
    switch (ParseCommandLine(argc, argv, &options)) {
    case HelpRequested:
        wprintf(L"%ls", Usage);
        return TsVariableSet;
    case VersionRequested:
        wprintf(L"destpick-ts %ls\n", DESTPICK_TS_VERSION);
        return TsVariableSet;
    case WrongCommandLine:
        fwprintf(stderr, L"%ls", Usage);
        return TsWrongCommandLine;
    case RunRequested:
        break;
    }
    Say(L"destpick-ts %ls sets %ls%ls", DESTPICK_TS_VERSION, options.variable.c_str(),
        options.dryRun ? L" (dry run: nothing is set or cleared)" : L"");
    const HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    const int code = RunWithEnvironment(options, com);
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return code;
}
