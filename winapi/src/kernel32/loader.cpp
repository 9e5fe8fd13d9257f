// The process's loader: the running module's path as Windows reports it, the loaded system
// libraries that the tool looks functions up in, and the process's DLL search.
#include "kernel32/loader.h"

#include "kernel32/paths.h"
#include "standin/failure.h"

#include <sim/standin.h>
#include <sim/text.h>

#include <setupapi.h>

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

HMODULE const ownModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));
HMODULE const setupApiModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7FF800000000));

bool NamesSetupApi(const std::wstring& name) {
    return sim::EqualsIgnoringCase(name, L"setupapi.dll") ||
           sim::EqualsIgnoringCase(name, L"setupapi");
}

} // namespace

namespace sim {

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
    const std::wstring& modulePath = CurrentModule().path;
    std::string folder;
    if (!MapToPosixPath(modulePath.substr(0, modulePath.find_last_of(L'\\')), folder)) {
        return;
    }
    const std::string planted = VersionLibraryIn(folder);
    if (!planted.empty()) {
        std::cerr << "destpick (simulated machine): " << planted
                  << ": loaded from the executable's folder instead of the system folder"
                  << std::endl;
        std::_Exit(kForeignLibraryExitCode);
    }
}

void ResetLoader() {
    ProcessLoader() = Loader{};
}

} // namespace sim

BOOL WINAPI SetDefaultDllDirectories(DWORD directoryFlags) {
    if (directoryFlags == 0 || (directoryFlags & ~kDefaultDirectoryFlags) != 0) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    ProcessLoader().defaultDirectories = directoryFlags;
    return TRUE;
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size) {
    if (module != nullptr && module != ownModule) {
        return sim::Fail(ERROR_MOD_NOT_FOUND, 0);
    }
    const std::wstring& path = sim::CurrentModule().path;
    if (size == 0) {
        return sim::Fail(ERROR_INSUFFICIENT_BUFFER, 0);
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
    return sim::Fail(ERROR_MOD_NOT_FOUND, nullptr);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    if (module == setupApiModule && procName != nullptr &&
        std::strcmp(procName, "SetupDiGetDevicePropertyW") == 0 &&
        !sim::CurrentMachine().devicePropertyFunctionMissing) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SetupDiGetDevicePropertyW));
    }
    return sim::Fail(ERROR_PROC_NOT_FOUND, nullptr);
}
