// The stand-in's loader and version services against the Windows behaviour the system relies on:
// module path truncation, the DLL search and what it loads, delay-loaded SetupAPI, version blocks.
#include "test_support.h"

#include <gtest/gtest.h>

#include <setupapi.h>

#include <cstdio>

namespace {

using testing_support::ScratchFolder;

// An empty file of that name in the folder.
void PutFile(const ScratchFolder& folder, const char* name) {
    std::FILE* file = std::fopen((folder.Posix() + "/" + name).c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
}

TEST(StandInModule, ModulePathTruncatesAsDocumented) {
    sim::Module module = sim::DefaultModule();
    module.path = L"Z:\\abc\\tool.exe";
    sim::Install(sim::Machine{}, module);
    WCHAR buffer[32];
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 32), 15u);
    EXPECT_STREQ(buffer, L"Z:\\abc\\tool.exe");
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 15), 15u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_STREQ(buffer, L"Z:\\abc\\tool.ex");
}

TEST(StandInModule, NativeRunReportsItsOwnBinaryOnDriveZ) {
    sim::Install(sim::Machine{});
    WCHAR buffer[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, buffer, MAX_PATH), 3u);
    EXPECT_EQ(std::wstring(buffer).rfind(L"Z:\\", 0), 0u);
    EXPECT_NE(std::wstring(buffer).find(L"\\destpick_tests"), std::wstring::npos);
}

TEST(StandInModule, VersionBlockCarriesTheFixedFileInfo) {
    sim::Module module = sim::DefaultModule();
    module.fileVersion[0] = 10;
    module.fileVersion[1] = 0;
    module.fileVersion[2] = 1234;
    module.fileVersion[3] = 5;
    sim::Install(sim::Machine{}, module);
    DWORD size = GetFileVersionInfoSizeW(module.path.c_str(), nullptr);
    ASSERT_GT(size, sizeof(VS_FIXEDFILEINFO));
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(module.path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<LPVOID*>(&info), &length));
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(info->dwSignature, VS_FFI_SIGNATURE);
    EXPECT_EQ(info->dwFileVersionMS, 0x000A0000u);
    EXPECT_EQ(info->dwFileVersionLS, 0x04D20005u);

    module.version = sim::Module::Version::Absent;
    sim::Install(sim::Machine{}, module);
    EXPECT_EQ(GetFileVersionInfoSizeW(module.path.c_str(), nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    EXPECT_EQ(GetFileVersionInfoSizeW(L"Z:\\no\\such.exe", nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// The first version query loads VERSION.dll (the Windows build delay-loads it) from the first
// folder of the process's search that holds one. A copy beside the executable is taken only when
// the search includes that folder; the stand-in then ends the process instead of answering.
TEST(StandInModule, VersionLibraryComesFromTheFirstFolderOfTheSearch) {
    struct Case {
        const char* name;
        DWORD search; // what SetDefaultDllDirectories is given; 0: it is never called
        const char* besideTheExecutable;
        bool plantedCopyLoaded;
    };
    const DWORD systemOnly = LOAD_LIBRARY_SEARCH_SYSTEM32;
    const Case cases[] = {
        {"standard search, nothing planted", 0, nullptr, false},
        {"standard search, planted", 0, "version.dll", true},
        {"standard search, planted in capitals", 0, "VERSION.DLL", true},
        {"standard search, another name", 0, "version.dll.bak", false},
        {"system folder only", systemOnly, "version.dll", false},
        {"system and added folders", systemOnly | LOAD_LIBRARY_SEARCH_USER_DIRS, "version.dll",
         false},
        {"application folder named", systemOnly | LOAD_LIBRARY_SEARCH_APPLICATION_DIR,
         "version.dll", true},
        {"default folders hold the application's", LOAD_LIBRARY_SEARCH_DEFAULT_DIRS, "version.dll",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        if (c.besideTheExecutable != nullptr) {
            PutFile(folder, c.besideTheExecutable);
        }
        const sim::Module module = testing_support::ModuleIn(folder);
        sim::Install(sim::Machine{}, module);
        const auto firstVersionQuery = [&] {
            if (c.search != 0) {
                SetDefaultDllDirectories(c.search);
            }
            return GetFileVersionInfoSizeW(module.path.c_str(), nullptr);
        };
        if (c.plantedCopyLoaded) {
            EXPECT_EXIT(firstVersionQuery(), testing::ExitedWithCode(sim::kForeignLibraryExitCode),
                        "loaded from the executable's folder");
        } else {
            EXPECT_GT(firstVersionQuery(), 0u);
        }
    }
}

// Only the documented folders, at least one, are taken; a refused call leaves the search as it
// was.
TEST(StandInModule, DefaultDllDirectoriesTakeOnlyTheDocumentedFolders) {
    const DWORD refused[] = {0, 3, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR,
                             LOAD_LIBRARY_SEARCH_SYSTEM32 | 0x8000};
    ScratchFolder folder;
    PutFile(folder, "version.dll");
    const sim::Module module = testing_support::ModuleIn(folder);
    sim::Install(sim::Machine{}, module);
    EXPECT_TRUE(SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
    for (DWORD flags : refused) {
        SetLastError(0);
        EXPECT_FALSE(SetDefaultDllDirectories(flags)) << flags;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << flags;
    }
    EXPECT_GT(GetFileVersionInfoSizeW(module.path.c_str(), nullptr), 0u);
}

// The Windows build delay-loads SetupAPI: the module is not in the process before its first call.
TEST(StandInModule, SetupApiIsInTheProcessFromItsFirstCall) {
    sim::Install(sim::Machine{});
    EXPECT_EQ(GetModuleHandleW(L"setupapi.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    // A query refused for want of such a node is a call all the same.
    EXPECT_EQ(SetupDiGetClassDevsW(nullptr, L"PCI\\NONE", nullptr, DIGCF_ALLCLASSES),
              INVALID_HANDLE_VALUE);
    HMODULE setupApi = GetModuleHandleW(L"Setupapi.dll");
    ASSERT_NE(setupApi, nullptr);
    EXPECT_NE(GetProcAddress(setupApi, "SetupDiGetDevicePropertyW"), nullptr);
}

} // namespace
