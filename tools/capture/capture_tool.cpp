#include "capture_tool.h"

#include "capture.h"
#include "capture_file.h"

#include "shared/file_version.h"

#include <sim/text.h>

#include <exception>
#include <string>
#include <vector>

namespace {

// The longest path Windows hands out, terminator included.
const size_t LongestPathChars = 32768;

const wchar_t Synopsis[] = L"destpick-capture.exe [--help | --version | OUTPUT.json]";

// What --help prints after the synopsis.
const wchar_t Usage[] =
    L"\n"
    L"Asks this machine what destpick asks it, and writes every answer to a machine description\n"
    L"that destpick's native build replays to the same decision and the same log. It only reads:\n"
    L"nothing is written to any disk. Without OUTPUT.json the description goes beside this\n"
    L"program, named after the computer and the UTC time. An existing file is never replaced.\n"
    L"It prints the path it wrote.\n"
    L"\n"
    L"  -h, --help, /?  print this text\n"
    L"  --version       print the tool's name and version\n"
    L"\n"
    L"Any other argument that starts with - or a single / is refused as an unknown option; name\n"
    L"such a file .\\-x.json or \\cases\\x.json. A device is refused too: \\\\.\\PhysicalDrive0,\n"
    L"NUL, CON, PRN, AUX, COM1 to COM9, LPT1 to LPT9, also with an extension and in any folder.\n"
    L"\n"
    L"Exit codes:\n"
    L"  0  the description is written (or this text or the version printed)\n"
    L"  1  the command line is wrong\n"
    L"  2  its own path or version cannot be read\n"
    L"  3  the machine's answers cannot be written as a description\n"
    L"  4  the file cannot be written, or names a device\n"
    L"  5  the file is written, but its path could not be printed\n";

int Fail(int code, const std::wstring& message) {
    fwprintf(stderr, L"destpick-capture: %ls\n", message.c_str());
    return code;
}

bool AsksForHelp(const std::wstring& argument) {
    return argument == L"-h" || argument == L"--help" || argument == L"/?";
}

// What no file name given on purpose looks like: a dash, or one slash (two start a share's path).
bool LooksLikeAnOption(const std::wstring& argument) {
    return argument[0] == L'-' ||
           (argument[0] == L'/' &&
            !(argument.size() > 1 && (argument[1] == L'/' || argument[1] == L'\\')));
}

// The executable's own path; empty when Windows does not tell it whole.
std::wstring OwnPath() {
    std::vector<WCHAR> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(NULL, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        if (buffer.size() >= LongestPathChars) {
            return std::wstring();
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t lastBackslash = path.find_last_of(L'\\');
    return lastBackslash == std::wstring::npos ? std::wstring() : path.substr(0, lastBackslash + 1);
}

struct KnownWriteFailure {
    DWORD error;
    const wchar_t* reason;
};

const KnownWriteFailure KnownWriteFailures[] = {
    {ERROR_FILE_EXISTS, L"the file already exists; name another"},
    {ERROR_PATH_NOT_FOUND, L"its folder does not exist"},
    {ERROR_ACCESS_DENIED, L"access is denied"},
    {ERROR_SHARING_VIOLATION, L"the file is in use"},
    {ERROR_DISK_FULL, L"the disk is full"},
};

std::wstring WriteFailure(const std::wstring& path, DWORD error) {
    std::wstring reason = L"Windows error " + std::to_wstring(error);
    for (const KnownWriteFailure& known : KnownWriteFailures) {
        if (known.error == error) {
            reason = known.reason;
        }
    }
    return L"cannot write " + path + L": " + reason;
}

// The description of this machine, with its origin and the tool's version in its text.
std::string DescribeThisMachine(const std::wstring& toolVersion, CaptureOrigin& origin) {
    CapturedMachine capture = CaptureMachine();
    origin = capture.origin;
    capture.machine.description = DescribeCapture(capture.origin, toolVersion);
    return sim::WriteMachine(capture.machine);
}

// The executable's path and the version its resource gives; false, with the line printed, when
// either cannot be read.
bool ReadOwnIdentity(std::wstring& ownPath, std::wstring& version) {
    ownPath = OwnPath();
    if (ownPath.empty()) {
        Fail(CaptureNoOwnVersion, L"cannot read its own path");
        return false;
    }
    LPWSTR text = NULL;
    if (ReadFileVersion(ownPath.c_str(), &text) != NULL) {
        Fail(CaptureNoOwnVersion, L"cannot read its own version resource");
        return false;
    }
    version = text;
    return true;
}

int PrintVersion() {
    std::wstring ownPath;
    std::wstring version;
    if (!ReadOwnIdentity(ownPath, version)) {
        return CaptureNoOwnVersion;
    }
    wprintf(L"destpick-capture %ls\n", version.c_str());
    return CaptureSucceeded;
}

int Capture(const std::wstring& requestedPath) {
    if (!requestedPath.empty() && NamesDevice(requestedPath)) {
        return Fail(CaptureFileNotWritten, requestedPath +
                                               L" names a device, not a file; name a file such as "
                                               L"D:\\cases\\machine.json");
    }
    std::wstring ownPath;
    std::wstring version;
    if (!ReadOwnIdentity(ownPath, version)) {
        return CaptureNoOwnVersion;
    }
    CaptureOrigin origin;
    std::string description;
    try {
        description = DescribeThisMachine(version, origin);
    } catch (const std::exception& error) {
        return Fail(CaptureNotDescribable, L"the machine cannot be written as a description: " +
                                               sim::FromUtf8(error.what()));
    }
    const std::wstring path =
        requestedPath.empty() ? FolderOf(ownPath) + CaptureFileName(origin) : requestedPath;
    const DWORD error = WriteNewFile(path, description);
    if (error != ERROR_SUCCESS) {
        return Fail(CaptureFileNotWritten, WriteFailure(path, error));
    }
    if (wprintf(L"%ls\n", path.c_str()) < 0 || fflush(stdout) != 0) {
        return Fail(CapturePathNotPrinted, L"wrote " + path + L" but cannot print its path");
    }
    return CaptureSucceeded;
}

} // namespace

int RunCaptureTool(int argc, wchar_t** argv) {
    if (argc > 2) {
        return Fail(CaptureWrongArguments, std::wstring(L"usage: ") + Synopsis);
    }
    if (argc < 2) {
        return Capture(L"");
    }
    const std::wstring argument = argv[1];
    if (AsksForHelp(argument)) {
        wprintf(L"Usage: %ls\n%ls", Synopsis, Usage);
        return CaptureSucceeded;
    }
    if (argument == L"--version") {
        return PrintVersion();
    }
    if (argument.empty()) {
        return Fail(CaptureWrongArguments, std::wstring(L"an empty name; usage: ") + Synopsis);
    }
    if (LooksLikeAnOption(argument)) {
        return Fail(CaptureWrongArguments, L"unknown option " + argument + L"; usage: " + Synopsis);
    }
    return Capture(argument);
}
