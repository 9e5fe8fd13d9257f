// Prints, one case a line, what the Windows services destpick relies on answer: the formatter on
// every format the system uses, strsafe's bounded copies, the code-page conversion, the file
// sequence of the log writer, the module path, the DLL search, the computer's name and version.
// Built natively and for Windows from this one source; a check compares the two outputs line by
// line.
#include <windows.h>
#include <strsafe.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t* const SystemFormats[] = {
#include "system_formats.inc"
};

// Text as printable ASCII: other characters as their UTF-16 units, so that both builds print
// the same whatever their wchar_t.
std::string Escaped(const wchar_t* text, size_t length) {
    std::string out;
    char unit[32];
    for (size_t i = 0; i < length; ++i) {
        unsigned long c = static_cast<unsigned long>(text[i]);
        if (c >= 0x10000) {
            std::snprintf(unit, sizeof(unit), "\\u%04lX\\u%04lX", 0xD800 + ((c - 0x10000) >> 10),
                          0xDC00 + ((c - 0x10000) & 0x3FF));
            out += unit;
        } else if (c < 0x20 || c > 0x7E || c == '\\') {
            std::snprintf(unit, sizeof(unit), "\\u%04lX", c);
            out += unit;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Escaped(const wchar_t* text) {
    return Escaped(text, wcslen(text));
}

std::string Bytes(const char* bytes, int length) {
    std::string out;
    char hex[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof(hex), "%02X", static_cast<unsigned char>(bytes[i]));
        out += hex;
    }
    return out;
}

void Report(const std::string& name, const std::string& result) {
    std::printf("%s\t%s\n", name.c_str(), result.c_str());
}

std::string Number(long long value) {
    return std::to_string(value);
}

// The conversion that starts at format[at] ('%'), its length, and the kind of argument it takes.
enum class Argument { None, Int, Int64, Text };

size_t ConversionLength(const wchar_t* format, size_t at, Argument* argument) {
    size_t i = at + 1;
    while (format[i] == L'-' || format[i] == L'#' || format[i] == L'0') {
        ++i;
    }
    while (format[i] >= L'0' && format[i] <= L'9') {
        ++i;
    }
    *argument = Argument::Int;
    if (format[i] == L'I' && format[i + 1] == L'6' && format[i + 2] == L'4') {
        i += 3;
        *argument = Argument::Int64;
    } else if (format[i] == L'l' || format[i] == L'h') {
        ++i;
    }
    if (format[i] == L's') {
        *argument = Argument::Text;
    } else if (format[i] == L'%') {
        *argument = Argument::None;
    }
    return format[i] == L'\0' ? i - at : i - at + 1;
}

std::string FormatOne(const wchar_t* piece, Argument argument, int variant) {
    static const int Ints[] = {0, 7, -42, 2147483647, static_cast<int>(0x80000000u)};
    static const long long Int64s[] = {0, -1176000LL, 8009047150LL, -1};
    static const wchar_t* const Texts[] = {L"", L"Z:\\tmp\\pick.log", L"caf\u00e9 \u4e2d",
                                           L"scsi\\disk&ven_nvme&prod_x\\4&2c41e0aa&0&020000"};
    WCHAR output[1024];
    int length = 0;
    switch (argument) {
    case Argument::None:
        length = wsprintfW(output, piece);
        break;
    case Argument::Int:
        length = wsprintfW(output, piece, Ints[variant % 5]);
        break;
    case Argument::Int64:
        length = wsprintfW(output, piece, Int64s[variant % 4]);
        break;
    case Argument::Text:
        length = wsprintfW(output, piece, Texts[variant % 4]);
        break;
    }
    return Escaped(output) + " =" + Number(length);
}

// Each format in pieces of one conversion each, with several arguments per conversion.
void SystemFormatCases() {
    int formatNumber = 0;
    for (const wchar_t* format : SystemFormats) {
        std::wstring text(format);
        size_t start = 0;
        int pieceNumber = 0;
        while (start < text.size()) {
            size_t percent = text.find(L'%', start);
            Argument argument = Argument::None;
            size_t end = text.size();
            if (percent != std::wstring::npos) {
                end = percent + ConversionLength(text.c_str(), percent, &argument);
            }
            std::wstring piece = text.substr(start, end - start);
            for (int variant = 0; variant < 5; ++variant) {
                Report("format" + Number(formatNumber) + "." + Number(pieceNumber) + "." +
                           Number(variant),
                       FormatOne(piece.c_str(), argument, variant));
                if (argument == Argument::None) {
                    break;
                }
            }
            start = end;
            ++pieceNumber;
        }
        ++formatNumber;
    }
}

void FormatterLimitCases() {
    std::vector<WCHAR> big(3000, L'x');
    big.back() = L'\0';
    const int lengths[] = {1000, 1022, 1023, 1024, 2000};
    for (int length : lengths) {
        std::vector<WCHAR> output(1100, L'#');
        std::wstring argument(static_cast<size_t>(length), L'y');
        int result = wsprintfW(output.data(), L"%s", argument.c_str());
        size_t stored = wcslen(output.data());
        std::string name = "limit." + Number(length);
        Report(name + ".stored",
               Number(static_cast<long long>(stored)) +
                   (output[1024] == L'#' ? " guard-intact" : " guard-overwritten"));
        Report(name + ".result", Number(result));
    }
}

void StrsafeCases() {
    struct Case {
        const char* name;
        size_t size;
        const wchar_t* source;
    };
    const Case cases[] = {
        {"fits", 5, L"abcd"}, {"truncated", 4, L"abcd"},          {"one", 1, L"abcd"},
        {"zero", 0, L"abcd"}, {"toolarge", 2147483648u, L"abcd"}, {"empty", 3, L""}};
    for (const Case& c : cases) {
        WCHAR buffer[8] = {L'#', L'#', L'#', L'#', L'#', L'#', L'#', L'\0'};
        HRESULT copied = StringCchCopyW(buffer, c.size, c.source);
        Report(std::string("copy.") + c.name,
               Number(static_cast<long long>(static_cast<DWORD>(copied))) + " " + Escaped(buffer));
        WCHAR printed[8] = {L'#', L'#', L'#', L'#', L'#', L'#', L'#', L'\0'};
        HRESULT result = StringCchPrintfW(printed, c.size, L"%s", c.source);
        Report(std::string("print.") + c.name,
               Number(static_cast<long long>(static_cast<DWORD>(result))) + " " + Escaped(printed));
    }
    WCHAR version[24];
    HRESULT result =
        StringCchPrintfW(version, 24, L"%01d.%01d.%01d.%01d", 65535, 65535, 65535, 65535);
    Report("print.version",
           Number(static_cast<long long>(static_cast<DWORD>(result))) + " " + Escaped(version));
    WCHAR path[12];
    result = StringCchPrintfW(path, 12, L"%s\\%s.log", L"Z:\\ab", L"tool");
    Report("print.logpath-cut",
           Number(static_cast<long long>(static_cast<DWORD>(result))) + " " + Escaped(path));
}

void CodePageCases() {
    const wchar_t* const texts[] = {L"plain",        L"caf\u00e9 \u00ff",   L"\u4e2d\u6587",
                                    L"\u0100\u0141", L"\u20ac\u201c\u201d", L"\U0001F600",
                                    L"tab\tend\r\n"};
    int number = 0;
    for (const wchar_t* text : texts) {
        int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, NULL, 0, NULL, NULL);
        char bytes[64] = {0};
        int written = WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof(bytes), NULL, NULL);
        Report("codepage." + Number(number++),
               Number(needed) + " " + Number(written) + " " + Bytes(bytes, written));
    }
    char small[2];
    SetLastError(0);
    int result = WideCharToMultiByte(CP_ACP, 0, L"abc", 3, small, 2, NULL, NULL);
    Report("codepage.small", Number(result) + " error=" + Number(GetLastError()));
    WCHAR upper[] = L"c12a7328-f81f-11d2-ba4b-00a0c93ec93b \u00e9";
    CharUpperW(upper);
    Report("upper", Escaped(upper));
}

// The folder of this executable, where the file cases work.
std::wstring OwnFolder() {
    WCHAR path[MAX_PATH] = {0};
    GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

void FileCases() {
    const std::wstring folder = OwnFolder();
    const std::wstring file = folder + L"\\conformance.tmp";
    WIN32_FIND_DATAW found;
    ZeroMemory(&found, sizeof(found));
    HANDLE find = FindFirstFileW(file.c_str(), &found);
    Report("find.missing",
           Number(find == INVALID_HANDLE_VALUE) + " error=" + Number(GetLastError()));
    find = FindFirstFileW((folder + L"\\no\\such.tmp").c_str(), &found);
    Report("find.nofolder",
           Number(find == INVALID_HANDLE_VALUE) + " error=" + Number(GetLastError()));
    find = FindFirstFileW(L"", &found);
    Report("find.empty", Number(find == INVALID_HANDLE_VALUE) + " error=" + Number(GetLastError()));

    for (int round = 0; round < 2; ++round) {
        SetLastError(0);
        HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
        std::string name = "append." + Number(round);
        Report(name + ".open",
               Number(handle != INVALID_HANDLE_VALUE) + " error=" + Number(GetLastError()));
        HANDLE second = CreateFileW(file.c_str(), GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
        Report(name + ".second",
               Number(second == INVALID_HANDLE_VALUE) + " error=" + Number(GetLastError()));
        DWORD position = SetFilePointer(handle, 0, NULL, FILE_END);
        DWORD written = 0;
        BOOL wrote = WriteFile(handle, "entry\r\n", 7, &written, NULL);
        Report(name + ".write",
               Number(position) + " " + Number(wrote != 0) + " " + Number(written));
        Report(name + ".close", Number(CloseHandle(handle) != 0));
    }
    find = FindFirstFileW(file.c_str(), &found);
    Report("find.present",
           Number(find != INVALID_HANDLE_VALUE) + " size=" + Number(found.nFileSizeLow));
    FindClose(find);
    HANDLE remove = CreateFileW(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    Report("truncate.error", Number(GetLastError()));
    CloseHandle(remove);
}

// Names resolved against the current folder, which is the program's own, as destpick-capture
// takes a relative output name; a delete, as it removes a file it could not write whole.
void RelativePathCases() {
    SetLastError(0);
    HANDLE created = CreateFileW(L"no\\..\\relative.tmp", GENERIC_WRITE, 0, NULL, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, NULL);
    Report("relative.create",
           Number(created != INVALID_HANDLE_VALUE) + " error=" + Number(GetLastError()));
    CloseHandle(created);
    HANDLE again = CreateFileW(L".\\relative.tmp", GENERIC_WRITE, 0, NULL, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    Report("relative.again",
           Number(again == INVALID_HANDLE_VALUE) + " error=" + Number(GetLastError()));
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((OwnFolder() + L"\\relative.tmp").c_str(), &found);
    Report("relative.found", Number(find != INVALID_HANDLE_VALUE));
    FindClose(find);
    HANDLE held = CreateFileW(L"relative.tmp", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    SetLastError(0);
    const BOOL deletedWhileHeld = DeleteFileW(L"relative.tmp");
    Report("delete.held", Number(deletedWhileHeld) + " error=" + Number(GetLastError()));
    CloseHandle(held);
    Report("delete.done", Number(DeleteFileW(L"relative.tmp")));
    SetLastError(0);
    const BOOL deletedAgain = DeleteFileW(L"relative.tmp");
    Report("delete.missing", Number(deletedAgain) + " error=" + Number(GetLastError()));
    SetLastError(0);
    const BOOL deletedInMissingFolder = DeleteFileW(L"no\\such.tmp");
    Report("delete.nofolder", Number(deletedInMissingFolder) + " error=" + Number(GetLastError()));
}

// A character beyond the Basic Multilingual Plane, handed back by the file system: two UTF-16
// units on Windows, each unmappable in the ANSI code page on its own. The file stays in the
// scratch folder the check runs in.
void SurrogatePairCases() {
    const WCHAR name[] = {0xD83D, 0xDE00, L'.', L't', L'm', L'p', 0};
    const std::wstring file = OwnFolder() + L"\\" + name;
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    CloseHandle(handle);
    WIN32_FIND_DATAW found;
    ZeroMemory(&found, sizeof(found));
    HANDLE find = FindFirstFileW(file.c_str(), &found);
    FindClose(find);
    char bytes[64] = {0};
    const int length = static_cast<int>(wcslen(found.cFileName));
    const int written =
        WideCharToMultiByte(CP_ACP, 0, found.cFileName, length, bytes, sizeof(bytes), NULL, NULL);
    Report("surrogate.name",
           Number(length) + " " + Escaped(found.cFileName) + " " + Bytes(bytes, written));
}

void ModulePathCases() {
    WCHAR path[MAX_PATH];
    DWORD full = GetModuleFileNameW(NULL, path, MAX_PATH);
    const DWORD sizes[] = {full + 1, full, 4};
    for (DWORD size : sizes) {
        std::vector<WCHAR> buffer(size + 4, L'#');
        SetLastError(0);
        DWORD result = GetModuleFileNameW(NULL, buffer.data(), size);
        bool terminated = buffer[size - 1] == L'\0';
        Report("module." + std::string(size == full + 1 ? "fits"
                                       : size == full   ? "exact"
                                                        : "small"),
               Number(result == size) + " terminated=" + Number(terminated) +
                   " error=" + Number(GetLastError()));
    }
}

// Which folder sets SetDefaultDllDirectories takes; the one accepted last is the one destpick
// sets, so the search the rest of this program runs with is the tool's.
void DllDirectoryCases() {
    const struct {
        const char* name;
        DWORD flags;
    } cases[] = {
        {"none", 0},
        {"undefined.low", 3},
        {"dll_load_dir", LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR},
        {"undefined.high", LOAD_LIBRARY_SEARCH_APPLICATION_DIR | 0x8000},
        {"default_dirs", LOAD_LIBRARY_SEARCH_DEFAULT_DIRS},
        {"system32", LOAD_LIBRARY_SEARCH_SYSTEM32},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        const BOOL accepted = SetDefaultDllDirectories(c.flags);
        Report(std::string("dlldirs.") + c.name,
               Number(accepted) + (accepted ? "" : " error=" + Number(GetLastError())));
    }
}

// The computer's name and the Windows version as destpick-capture asks them: their form only, the
// two machines' answers being their own.
void SystemInformationCases() {
    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1] = {0};
    DWORD size = 1;
    SetLastError(0);
    const BOOL small = GetComputerNameW(name, &size);
    Report("computername.small",
           Number(small) + " error=" + Number(GetLastError()) + " grows=" + Number(size > 1));
    const DWORD needed = size;
    const BOOL fits = GetComputerNameW(name, &size);
    Report("computername.fits",
           Number(fits) + " counted=" + Number(size == needed - 1 && wcslen(name) == size));
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version) - 1;
    SetLastError(0);
    const BOOL refused = GetVersionExW(&version);
    Report("version.badsize", Number(refused) + " error=" + Number(GetLastError()));
    version.dwOSVersionInfoSize = sizeof(version);
    const BOOL told = GetVersionExW(&version);
    Report("version.fits", Number(told) + " platform=" + Number(version.dwPlatformId));
}

} // namespace

int main() {
    SystemFormatCases();
    FormatterLimitCases();
    StrsafeCases();
    CodePageCases();
    FileCases();
    RelativePathCases();
    SurrogatePairCases();
    ModulePathCases();
    DllDirectoryCases();
    SystemInformationCases();
    return 0;
}
