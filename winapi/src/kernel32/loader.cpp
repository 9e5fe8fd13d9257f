// The running module: its path as Windows reports it, the loaded system libraries that the tool
// looks functions up in, the process's DLL search, and its version resource in the layout Windows
// returns.
#include "state.h"

#include <setupapi.h>
#include <winver.h>

#include <cstdlib>
#include <dirent.h>
#include <iostream>
#include <sys/stat.h>

namespace {

// The folders SetDefaultDllDirectories may name; anything else, or nothing, is refused.
constexpr DWORD kDefaultDirectoryFlags =
    LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
    LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

// What the process's loader holds: the search set by SetDefaultDllDirectories (none: the
// standard search, which starts in the executable's folder) and whether VERSION.dll is loaded.
struct Loader {
    std::optional<DWORD> defaultDirectories;
    bool versionLibraryLoaded = false;
};

Loader& ProcessLoader() {
    static Loader loader;
    return loader;
}

bool SearchesApplicationFolder(const std::optional<DWORD>& directories) {
    return !directories || (*directories & (LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                                            LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
}

// The folder's version.dll, matched without regard to case as Windows matches file names; empty
// when there is none. A folder that cannot be listed is asked for the name as written.
std::string VersionLibraryIn(const std::string& folder) {
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        struct stat info {};
        const std::string exact = folder + "/version.dll";
        return stat(exact.c_str(), &info) == 0 ? exact : std::string();
    }
    std::string found;
    while (const dirent* entry = readdir(listing)) {
        if (sim::EqualsIgnoringCase(sim::FromUtf8(entry->d_name), L"version.dll")) {
            found = folder + "/" + entry->d_name;
            break;
        }
    }
    closedir(listing);
    return found;
}

// The Windows build delay-loads VERSION.dll, so it is loaded at the first call into it, from the
// first folder of the search that holds one. VERSION.dll is not a known DLL: a copy in the
// executable's folder comes before the system's. The stand-in cannot run what a planted copy
// would run, so loading one ends the process loudly rather than answering as the system's would.
void LoadVersionLibrary() {
    Loader& loader = ProcessLoader();
    if (loader.versionLibraryLoaded) {
        return;
    }
    loader.versionLibraryLoaded = true;
    if (!SearchesApplicationFolder(loader.defaultDirectories)) {
        return;
    }
    const std::wstring& modulePath = sim::CurrentModule().path;
    std::string folder;
    if (!sim::MapToPosixPath(modulePath.substr(0, modulePath.find_last_of(L'\\')), folder)) {
        return;
    }
    const std::string planted = VersionLibraryIn(folder);
    if (!planted.empty()) {
        std::cerr << "destpick (simulated machine): " << planted
                  << ": loaded from the executable's folder instead of the system folder"
                  << std::endl;
        std::_Exit(sim::kForeignLibraryExitCode);
    }
}

HMODULE const ownModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));
HMODULE const setupApiModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7FF800000000));

// VS_VERSIONINFO: three WORDs, the key "VS_VERSION_INFO" in UTF-16 with its terminator, padding
// to a 32-bit boundary, then the fixed file information.
constexpr size_t kKeyOffset = 6;
constexpr char kVersionKey[] = "VS_VERSION_INFO";
constexpr size_t kFixedInfoOffset = 40;
constexpr size_t kBlockSize = kFixedInfoOffset + sizeof(VS_FIXEDFILEINFO);

void PutWord(BYTE* at, WORD value) {
    at[0] = static_cast<BYTE>(value & 0xFF);
    at[1] = static_cast<BYTE>(value >> 8);
}

WORD GetWord(const BYTE* at) {
    return static_cast<WORD>(at[0] | (at[1] << 8));
}

void BuildVersionBlock(const sim::Module& module, BYTE* block) {
    std::memset(block, 0, kBlockSize);
    const bool hasFixedInfo = module.version != sim::Module::Version::QueryFails;
    PutWord(block, static_cast<WORD>(kBlockSize));
    PutWord(block + 2, hasFixedInfo ? static_cast<WORD>(sizeof(VS_FIXEDFILEINFO)) : 0);
    for (size_t i = 0; i < sizeof(kVersionKey); ++i) {
        PutWord(block + kKeyOffset + 2 * i, static_cast<WORD>(kVersionKey[i]));
    }
    if (!hasFixedInfo) {
        return;
    }
    VS_FIXEDFILEINFO info{};
    info.dwSignature = VS_FFI_SIGNATURE;
    info.dwStrucVersion = 0x00010000u;
    info.dwFileVersionMS =
        (static_cast<DWORD>(module.fileVersion[0]) << 16) | module.fileVersion[1];
    info.dwFileVersionLS =
        (static_cast<DWORD>(module.fileVersion[2]) << 16) | module.fileVersion[3];
    info.dwProductVersionMS = info.dwFileVersionMS;
    info.dwProductVersionLS = info.dwFileVersionLS;
    info.dwFileFlagsMask = 0x3Fu;
    info.dwFileOS = 0x00040004u;
    info.dwFileType = 1;
    std::memcpy(block + kFixedInfoOffset, &info, sizeof(info));
}

bool IsModulePath(LPCWSTR fileName) {
    return fileName != nullptr && sim::EqualsIgnoringCase(fileName, sim::CurrentModule().path);
}

bool NamesSetupApi(const std::wstring& name) {
    return sim::EqualsIgnoringCase(name, L"setupapi.dll") ||
           sim::EqualsIgnoringCase(name, L"setupapi");
}

} // namespace

namespace sim {

void ResetLoader() {
    ProcessLoader() = Loader{};
}

} // namespace sim

BOOL WINAPI SetDefaultDllDirectories(DWORD directoryFlags) {
    if (directoryFlags == 0 || (directoryFlags & ~kDefaultDirectoryFlags) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ProcessLoader().defaultDirectories = directoryFlags;
    return TRUE;
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size) {
    if (module != nullptr && module != ownModule) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::wstring& path = sim::CurrentModule().path;
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        std::wmemcpy(filename, path.c_str(), path.size() + 1);
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(path.size());
    }
    // Windows' documented truncation: size - 1 characters, a terminator, and the full size.
    std::wmemcpy(filename, path.c_str(), size - 1);
    filename[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName) {
    if (moduleName == nullptr) {
        return ownModule;
    }
    // The Windows build delay-loads SetupAPI: it is in the process once one of its functions has
    // been called.
    if (NamesSetupApi(moduleName) && sim::CurrentCounters().setupApiCalls > 0) {
        return setupApiModule;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    if (module == setupApiModule && procName != nullptr &&
        std::strcmp(procName, "SetupDiGetDevicePropertyW") == 0 &&
        !sim::CurrentMachine().devicePropertyFunctionMissing) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SetupDiGetDevicePropertyW));
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle) {
    LoadVersionLibrary();
    if (handle != nullptr) {
        *handle = 0;
    }
    if (IsModulePath(fileName) && sim::CurrentModule().version != sim::Module::Version::Absent) {
        return static_cast<DWORD>(kBlockSize);
    }
    std::string path;
    struct stat info {};
    const bool exists = fileName != nullptr && sim::MapToPosixPath(fileName, path) &&
                        stat(path.c_str(), &info) == 0;
    SetLastError(exists || IsModulePath(fileName) ? ERROR_RESOURCE_DATA_NOT_FOUND
                                                  : ERROR_FILE_NOT_FOUND);
    return 0;
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR fileName, DWORD, DWORD length, LPVOID data) {
    LoadVersionLibrary();
    const sim::Module& module = sim::CurrentModule();
    if (!IsModulePath(fileName) || module.version == sim::Module::Version::Absent ||
        module.version == sim::Module::Version::InfoFails) {
        SetLastError(IsModulePath(fileName) ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (data == nullptr || length < kBlockSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    BuildVersionBlock(module, static_cast<BYTE*>(data));
    return TRUE;
}

BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length) {
    LoadVersionLibrary();
    const BYTE* bytes = static_cast<const BYTE*>(block);
    if (bytes == nullptr || subBlock == nullptr || std::wcscmp(subBlock, L"\\") != 0 ||
        GetWord(bytes) < kBlockSize || GetWord(bytes + 2) != sizeof(VS_FIXEDFILEINFO)) {
        return FALSE;
    }
    VS_FIXEDFILEINFO info{};
    std::memcpy(&info, bytes + kFixedInfoOffset, sizeof(info));
    if (info.dwSignature != VS_FFI_SIGNATURE) {
        return FALSE;
    }
    *buffer = const_cast<BYTE*>(bytes + kFixedInfoOffset);
    *length = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}
