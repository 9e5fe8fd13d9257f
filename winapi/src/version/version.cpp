// The version services: the running module's version resource in the layout Windows returns.
// VERSION.dll is delay-loaded by the Windows build, so the first call loads it.
#include "kernel32/loader.h"
#include "kernel32/paths.h"
#include "standin/failure.h"

#include <sim/standin.h>
#include <sim/text.h>

#include <winver.h>

#include <sys/stat.h>

namespace {

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
    info.dwStrucVersion = VS_FFI_STRUCVERSION;
    info.dwFileVersionMS =
        (static_cast<DWORD>(module.fileVersion[0]) << 16) | module.fileVersion[1];
    info.dwFileVersionLS =
        (static_cast<DWORD>(module.fileVersion[2]) << 16) | module.fileVersion[3];
    info.dwProductVersionMS = info.dwFileVersionMS;
    info.dwProductVersionLS = info.dwFileVersionLS;
    info.dwFileFlagsMask = VS_FFI_FILEFLAGSMASK;
    info.dwFileOS = VOS_NT_WINDOWS32;
    info.dwFileType = VFT_APP;
    std::memcpy(block + kFixedInfoOffset, &info, sizeof(info));
}

bool IsModulePath(LPCWSTR fileName) {
    return fileName != nullptr && sim::EqualsIgnoringCase(fileName, sim::CurrentModule().path);
}

} // namespace

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle) {
    sim::LoadVersionLibrary();
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
    const DWORD error =
        exists || IsModulePath(fileName) ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    return sim::Fail(error, 0);
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR fileName, DWORD, DWORD length, LPVOID data) {
    sim::LoadVersionLibrary();
    const sim::Module& module = sim::CurrentModule();
    if (!IsModulePath(fileName) || module.version == sim::Module::Version::Absent ||
        module.version == sim::Module::Version::InfoFails) {
        return sim::Fail(IsModulePath(fileName) ? ERROR_RESOURCE_DATA_NOT_FOUND
                                                : ERROR_FILE_NOT_FOUND);
    }
    if (data == nullptr || length < kBlockSize) {
        return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    BuildVersionBlock(module, static_cast<BYTE*>(data));
    return TRUE;
}

BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length) {
    sim::LoadVersionLibrary();
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
