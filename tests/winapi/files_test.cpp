// The stand-in's file services against the Windows behaviour the system relies on: share modes,
// dispositions, existence tests, file pointers, what opens as a file, and files kept in memory
// answering as files on disk do.
#include "test_support.h"

#include <gtest/gtest.h>

#include <sim/text.h>
#include <strsafe.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testing_support::ScratchFolder;

class StandInFiles : public testing::Test {
  protected:
    void SetUp() override {
        sim::Install(sim::Machine{});
        path_ = folder_.Windows() + L"\\f.txt";
    }
    void TearDown() override {
        EXPECT_EQ(sim::CurrentCounters().openHandles, 0);
    }
    HANDLE Open(DWORD share, DWORD disposition = OPEN_ALWAYS) {
        return CreateFileW(path_.c_str(), GENERIC_WRITE, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ScratchFolder folder_;
    std::wstring path_;
};

TEST_F(StandInFiles, ShareModeZeroRefusesEveryOtherOpen) {
    HANDLE first = Open(0);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    for (DWORD share : {0u, FILE_SHARE_READ | FILE_SHARE_WRITE}) {
        SetLastError(0);
        EXPECT_EQ(Open(share), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(first);
    HANDLE shared = Open(FILE_SHARE_READ | FILE_SHARE_WRITE);
    HANDLE alsoShared = Open(FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_NE(alsoShared, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(0), INVALID_HANDLE_VALUE);
    CloseHandle(shared);
    CloseHandle(alsoShared);
}

TEST_F(StandInFiles, DispositionsAndTheirLastErrors) {
    HANDLE created = Open(0, OPEN_ALWAYS);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(created, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    CloseHandle(created);
    HANDLE reopened = Open(0, OPEN_ALWAYS);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(SetFilePointer(reopened, 0, nullptr, FILE_END), 3u);
    EXPECT_TRUE(WriteFile(reopened, "d", 1, &written, nullptr));
    CloseHandle(reopened);
    EXPECT_EQ(folder_.ReadFile("f.txt"), "abcd");
    std::wstring missing = folder_.Windows() + L"\\missing.txt";
    EXPECT_EQ(CreateFileW(missing.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(StandInFiles, FindFirstFileTellsMissingFileFromMissingFolderAndUnlistedFolder) {
    // A folder the account may write in but not list, as a drop box is: its files can be made
    // and written, not searched for.
    const std::string unlisted = folder_.Posix() + "/unlisted";
    ASSERT_EQ(mkdir(unlisted.c_str(), 0333), 0);
    const std::wstring inUnlisted = folder_.Windows() + L"\\unlisted\\in.log";
    HANDLE created = CreateFileW(inUnlisted.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    CloseHandle(created);

    WIN32_FIND_DATAW data;
    struct Case {
        std::wstring path;
        DWORD error;
    };
    const Case cases[] = {{folder_.Windows() + L"\\none.log", ERROR_FILE_NOT_FOUND},
                          {folder_.Windows() + L"\\no\\none.log", ERROR_PATH_NOT_FOUND},
                          {L"", ERROR_PATH_NOT_FOUND},
                          {L"C:\\Windows\\x.log", ERROR_PATH_NOT_FOUND},
                          {inUnlisted, ERROR_ACCESS_DENIED},
                          {folder_.Windows() + L"\\unlisted\\none.log", ERROR_ACCESS_DENIED}};
    for (const Case& c : cases) {
        EXPECT_EQ(FindFirstFileW(c.path.c_str(), &data), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
    CloseHandle(Open(0));
    HANDLE found = FindFirstFileW(path_.c_str(), &data);
    ASSERT_NE(found, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, L"f.txt");
    EXPECT_TRUE(FindClose(found));
}

TEST_F(StandInFiles, OnlyRegularFilesOpenAndNoneBlocks) {
    const std::string fifo = folder_.Posix() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    struct Case {
        std::wstring path;
        DWORD access;
        DWORD disposition;
    };
    const Case cases[] = {{folder_.Windows() + L"\\fifo", GENERIC_WRITE, OPEN_ALWAYS},
                          {folder_.Windows() + L"\\fifo", GENERIC_READ, OPEN_EXISTING},
                          {L"Z:\\dev\\null", GENERIC_WRITE, OPEN_ALWAYS},
                          {folder_.Windows(), GENERIC_READ, OPEN_EXISTING}};
    // An open that blocked would never return: the alarm ends the test instead.
    alarm(10);
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(CreateFileW(c.path.c_str(), c.access, 0, nullptr, c.disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    alarm(0);
}

TEST_F(StandInFiles, FilePointerMovesOnlyWhereItsCallerCanTell) {
    const LONGLONG fourGiB = 0x100000000LL;
    CloseHandle(Open(0));
    ASSERT_EQ(truncate((folder_.Posix() + "/f.txt").c_str(), fourGiB + 10), 0);
    HANDLE file = Open(0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    struct Case {
        const char* name;
        LONG distance;
        bool withHighPart;
        LONG high;
        DWORD method;
        DWORD result;
        DWORD error; // looked at only when the result reads as failure
        LONGLONG position;
    };
    const DWORD kFailed = INVALID_SET_FILE_POINTER;
    const Case cases[] = {
        {"end beyond 32 bits, no high part", 0, false, 0, FILE_END, kFailed,
         ERROR_INVALID_PARAMETER, 3},
        {"end with the high part", 0, true, 0, FILE_END, 10, 0, fourGiB + 10},
        {"within 32 bits", 7, false, 0, FILE_BEGIN, 7, 0, 7},
        {"before the start", -4, false, 0, FILE_CURRENT, kFailed, ERROR_NEGATIVE_SEEK, 3},
        {"low part that reads as failure", -1, true, 0, FILE_BEGIN, kFailed, ERROR_SUCCESS,
         0xFFFFFFFFLL},
    };
    for (const Case& c : cases) {
        LARGE_INTEGER start;
        start.QuadPart = 3;
        ASSERT_TRUE(SetFilePointerEx(file, start, nullptr, FILE_BEGIN));
        SetLastError(ERROR_GEN_FAILURE);
        LONG high = c.high;
        EXPECT_EQ(SetFilePointer(file, c.distance, c.withHighPart ? &high : nullptr, c.method),
                  c.result)
            << c.name;
        if (c.result == kFailed) {
            EXPECT_EQ(GetLastError(), c.error) << c.name;
        }
        LARGE_INTEGER none;
        none.QuadPart = 0;
        LARGE_INTEGER position;
        ASSERT_TRUE(SetFilePointerEx(file, none, &position, FILE_CURRENT));
        EXPECT_EQ(position.QuadPart, c.position) << c.name;
        if (c.withHighPart) {
            EXPECT_EQ(high, static_cast<LONG>(c.position >> 32)) << c.name;
        }
    }
    LARGE_INTEGER none;
    none.QuadPart = 0;
    LARGE_INTEGER end;
    EXPECT_TRUE(SetFilePointerEx(file, none, &end, FILE_END));
    EXPECT_EQ(end.QuadPart, fourGiB + 10);
    LARGE_INTEGER back;
    back.QuadPart = -fourGiB - 11;
    EXPECT_FALSE(SetFilePointerEx(file, back, &end, FILE_CURRENT));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    CloseHandle(file);
}

// Windows finds the room for a write before it writes: a write the disk has no room for fails
// with ERROR_DISK_FULL and leaves the file and its pointer as they were. Writes over bytes the
// file holds need no room.
TEST_F(StandInFiles, WriteWithoutRoomFailsWholeAndLeavesTheFileAsItWas) {
    const std::string before = "0123456789";
    struct Case {
        const char* name;
        LONG position;
        const char* bytes;
        bool written;
        std::string file;
    };
    const Case cases[] = {
        {"up to the room", 10, "abcdef", true, before + "abcdef"},
        {"one byte beyond it", 10, "abcdefg", false, before},
        {"over the file's bytes", 2, "abcde", true, "01abcde789"},
        {"over them and beyond the room", 8, "abcdefghij", false, before},
        {"behind a gap beyond the room", 20, "a", false, before},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::FILE* file = std::fopen((folder_.Posix() + "/f.txt").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs(before.c_str(), file);
        std::fclose(file);
        HANDLE handle = Open(0, OPEN_EXISTING);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        ASSERT_EQ(SetFilePointer(handle, c.position, nullptr, FILE_BEGIN),
                  static_cast<DWORD>(c.position));
        DWORD written = 99;
        BOOL result = FALSE;
        {
            const testing_support::DiskRoom room(16);
            SetLastError(ERROR_SUCCESS);
            result = WriteFile(handle, c.bytes, static_cast<DWORD>(std::strlen(c.bytes)), &written,
                               nullptr);
        }
        EXPECT_EQ(result != FALSE, c.written);
        EXPECT_EQ(written, c.written ? std::strlen(c.bytes) : 0u);
        if (!c.written) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
            EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_CURRENT),
                      static_cast<DWORD>(c.position));
        }
        CloseHandle(handle);
        EXPECT_EQ(folder_.ReadFile("f.txt"), c.file);
    }
}

// A path that is not whole resolves as Windows resolves it, against the current folder on the
// current drive, Z:, with "." and ".." taken out by name.
TEST_F(StandInFiles, RelativePathsResolveAgainstTheCurrentFolder) {
    ASSERT_EQ(mkdir((folder_.Posix() + "/sub").c_str(), 0755), 0);
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(chdir((folder_.Posix() + "/sub").c_str()), 0);
    std::wstring rooted = folder_.Windows().substr(2) + L"\\rooted.txt";
    struct Case {
        std::wstring name;
        const char* landsAt; // below the scratch folder; null: refused with ERROR_PATH_NOT_FOUND
    };
    const Case cases[] = {
        {L"plain.txt", "sub/plain.txt"},
        {L"..\\up.txt", "up.txt"},
        {L"none\\..\\.\\dots.txt", "sub/dots.txt"},
        {L"../sub//slashes.txt", "sub/slashes.txt"},
        {L"Z:drive.txt", "sub/drive.txt"},
        {L"z:..\\drive-up.txt", "drive-up.txt"},
        {rooted, "rooted.txt"},
        {L"C:other-drive.txt", nullptr},
        {L"\\\\server\\share\\unc.txt", nullptr},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        HANDLE file = CreateFileW(c.name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.landsAt != nullptr) << sim::ToUtf8(c.name);
        if (file == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
            continue;
        }
        CloseHandle(file);
        EXPECT_TRUE(folder_.Exists(c.landsAt)) << sim::ToUtf8(c.name);
    }
    ASSERT_EQ(chdir(previous), 0);
}

// The same calls on a file on disk and on one kept in memory; every answer, last error and byte
// must match.
std::vector<std::string> FileScript(const std::wstring& folder) {
    std::vector<std::string> seen;
    auto note = [&seen](const char* what, uint64_t value) {
        seen.push_back(std::string(what) + " " + std::to_string(value) + " error " +
                       std::to_string(GetLastError()));
    };
    const std::wstring path = folder + L"\\f.log";
    auto open = [&path](DWORD access, DWORD share, DWORD disposition) {
        return CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    };
    WIN32_FIND_DATAW data;
    DWORD written = 0;
    SetLastError(0);
    note("find missing", FindFirstFileW(path.c_str(), &data) == INVALID_HANDLE_VALUE);
    note("open missing", open(GENERIC_WRITE, 0, OPEN_EXISTING) == INVALID_HANDLE_VALUE);
    note("truncate missing", open(GENERIC_WRITE, 0, TRUNCATE_EXISTING) == INVALID_HANDLE_VALUE);
    HANDLE file = open(GENERIC_WRITE, 0, OPEN_ALWAYS);
    note("create", file != INVALID_HANDLE_VALUE);
    note("open while held",
         open(GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_ALWAYS) == INVALID_HANDLE_VALUE);
    note("write", WriteFile(file, "abcdef", 6, &written, nullptr));
    note("written", written);
    note("seek", SetFilePointer(file, 2, nullptr, FILE_BEGIN));
    note("overwrite", WriteFile(file, "XY", 2, &written, nullptr));
    note("seek before the start", SetFilePointer(file, -10, nullptr, FILE_CURRENT));
    LONG high = 0;
    note("seek past the end", SetFilePointer(file, 3, &high, FILE_END));
    note("high part", static_cast<uint64_t>(high));
    note("write past the end", WriteFile(file, "Z", 1, &written, nullptr));
    note("close", CloseHandle(file));
    file = open(GENERIC_WRITE, 0, OPEN_ALWAYS);
    note("reopen", SetFilePointer(file, 0, nullptr, FILE_END));
    CloseHandle(file);
    file = open(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    note("write without the right", WriteFile(file, "q", 1, &written, nullptr));
    note("second reader", CloseHandle(open(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)));
    note("writer beside a reader", open(GENERIC_WRITE, 0, OPEN_EXISTING) == INVALID_HANDLE_VALUE);
    CloseHandle(file);
    note("create new over a file", open(GENERIC_WRITE, 0, CREATE_NEW) == INVALID_HANDLE_VALUE);
    HANDLE found = FindFirstFileW(path.c_str(), &data);
    note("found size", data.nFileSizeLow);
    note("found name", std::wstring(data.cFileName) == L"f.log");
    note("find close", FindClose(found));
    const std::wstring other = folder + L"\\g.log";
    HANDLE held = CreateFileW(other.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    note("delete while held", DeleteFileW(other.c_str()));
    CloseHandle(held);
    note("delete", DeleteFileW(other.c_str()));
    note("delete again", DeleteFileW(other.c_str()));
    note("find deleted", FindFirstFileW(other.c_str(), &data) == INVALID_HANDLE_VALUE);
    note("delete in a missing folder", DeleteFileW((folder + L"\\no\\g.log").c_str()));
    return seen;
}

TEST(StandInMemoryFiles, AnswerAsFilesOnDisk) {
    sim::Install(sim::Machine{});
    ScratchFolder disk;
    ScratchFolder memory;
    const std::vector<std::string> onDisk = FileScript(disk.Windows());
    sim::KeepFilesInMemory(memory.Windows());
    const std::vector<std::string> inMemory = FileScript(memory.Windows());
    EXPECT_EQ(inMemory, onDisk);
    EXPECT_EQ(sim::MemoryFileBytes(memory.Windows() + L"\\F.LOG"),
              std::string("abXYef\0\0\0Z", 10));
    EXPECT_EQ(disk.ReadFile("f.log"), sim::MemoryFileBytes(memory.Windows() + L"\\f.log"));
    EXPECT_FALSE(memory.Exists("f.log"));
    sim::KeepFilesInMemory(L"");
}

TEST(StandInMemoryFiles, RunLeavesTheSameLogAsOnDisk) {
    ScratchFolder folder;
    testing_support::RunResult onDisk =
        testing_support::RunSystem(sim::DefaultMachine(), testing_support::ModuleIn(folder));
    sim::KeepFilesInMemory(folder.Windows());
    testing_support::RunResult inMemory =
        testing_support::RunSystem(sim::DefaultMachine(), testing_support::ModuleIn(folder));
    EXPECT_EQ(inMemory.output, onDisk.output);
    EXPECT_EQ(sim::MemoryFileBytes(folder.Windows() + L"\\destpick.log"),
              folder.ReadFile("destpick.log"));
    EXPECT_GT(sim::CurrentCounters().fileWrites, 100);
    sim::KeepFilesInMemory(L"");
}

} // namespace
