// The log writer: one entry per call with its UTC stamp, appended, in the ANSI code page, safe at
// the formatter's limit and silent when the file cannot be had.
#include "log/log_writer.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using testing_support::Entries;
using testing_support::ScratchFolder;

class LogWriter : public testing::Test {
  protected:
    void SetUp() override {
        sim::Install(sim::Machine{});
        SetClock(2021, 9, 7, 5, 44, 7);
        logPath_ = folder_.Windows() + L"\\pick.log";
    }
    void TearDown() override {
        sim::SetClock(std::nullopt);
        EXPECT_EQ(sim::CurrentCounters().openHandles, 0);
        EXPECT_EQ(sim::CurrentCounters().liveHeapBlocks, 0);
    }
    static void SetClock(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
        SYSTEMTIME fixed{};
        fixed.wYear = year;
        fixed.wMonth = month;
        fixed.wDay = day;
        fixed.wHour = hour;
        fixed.wMinute = minute;
        fixed.wSecond = second;
        sim::SetClock(fixed);
    }
    std::string Log() const {
        return folder_.ReadFile("pick.log");
    }

    ScratchFolder folder_;
    std::wstring logPath_;
};

TEST_F(LogWriter, FirstEntryCreatesTheFileAndLaterOnesAppend) {
    EXPECT_NE(LogMessage(logPath_.c_str(), L"LogPath=[%s]\r\n", L"C:\\Tools\\pick.log"), 0);
    EXPECT_NE(LogMessage(logPath_.c_str(), L"\r\n"), 0);
    LogMessage(logPath_.c_str(), L"no line end, ");
    LogMessage(logPath_.c_str(), L"bare line feed\n");
    LogMessage(logPath_.c_str(), L"%d and %I64u\r\n", -1, -1176000LL);
    EXPECT_EQ(Log(), "[2021.09.07-05:44:07] LogPath=[C:\\Tools\\pick.log]\r\n"
                     "[2021.09.07-05:44:07] \r\n"
                     "[2021.09.07-05:44:07] no line end, [2021.09.07-05:44:07] bare line feed\n"
                     "[2021.09.07-05:44:07] -1 and 18446744073708375616\r\n");
}

TEST_F(LogWriter, StampIsFourWideYearAndTwoDigitFields) {
    SetClock(987, 1, 2, 3, 4, 5);
    LogMessage(logPath_.c_str(), L"x\r\n");
    EXPECT_EQ(Log(), "[ 987.01.02-03:04:05] x\r\n");
}

TEST_F(LogWriter, EmptyPathWritesNothing) {
    EXPECT_EQ(LogMessage(L"", L"x\r\n"), 0);
    EXPECT_EQ(LogMessage(nullptr, L"x\r\n"), 0);
    EXPECT_FALSE(folder_.Exists("pick.log"));
}

TEST_F(LogWriter, FileHeldByAnotherOpenLosesTheEntry) {
    LogMessage(logPath_.c_str(), L"before\r\n");
    HANDLE held = CreateFileW(logPath_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LogMessage(logPath_.c_str(), L"lost\r\n"), 0);
    CloseHandle(held);
    LogMessage(logPath_.c_str(), L"after\r\n");
    EXPECT_EQ(Log(), Entries({"before", "after"}));
}

TEST_F(LogWriter, ReadOnlyFileAndFolderLoseTheEntry) {
    LogMessage(logPath_.c_str(), L"kept\r\n");
    chmod((folder_.Posix() + "/pick.log").c_str(), 0444);
    EXPECT_EQ(LogMessage(logPath_.c_str(), L"lost\r\n"), 0);
    EXPECT_EQ(Log(), Entries({"kept"}));

    chmod(folder_.Posix().c_str(), 0555);
    std::wstring other = folder_.Windows() + L"\\other.log";
    EXPECT_EQ(LogMessage(other.c_str(), L"lost\r\n"), 0);
    chmod(folder_.Posix().c_str(), 0755);
    EXPECT_FALSE(folder_.Exists("other.log"));
}

TEST_F(LogWriter, MissingFolderLosesTheEntry) {
    std::wstring missing = folder_.Windows() + L"\\no\\such\\pick.log";
    EXPECT_EQ(LogMessage(missing.c_str(), L"lost\r\n"), 0);
}

TEST_F(LogWriter, TextOutsideTheCodePageIsReplacedNotCut) {
    LogMessage(logPath_.c_str(), L"caf\u00e9 \u4e2d\u6587 \u20ac end\r\n");
    EXPECT_EQ(Log(), std::string(testing_support::kStamp) + "caf\xe9 ?? \x80 end\r\n");
}

TEST_F(LogWriter, LineBreaksInsideArgumentsDoNotStartUnstampedLines) {
    LogMessage(logPath_.c_str(), L"%s\r\n", L"evil\r\nnode\n");
    LogMessage(logPath_.c_str(), L"\tParent: \"%ls\"\n", L"a\rb");
    LogMessage(logPath_.c_str(), L"\r\n");
    LogMessage(logPath_.c_str(), L"%s", L"tail\n");
    EXPECT_EQ(Log(), std::string(testing_support::kStamp) + "evil  node \r\n" +
                         testing_support::kStamp + "\tParent: \"a b\"\n" + testing_support::kStamp +
                         "\r\n" + testing_support::kStamp + "tail ");
}

TEST_F(LogWriter, MessageAtTheFormatterLimitIsCutSafely) {
    std::wstring huge(3000, L'x');
    LogMessage(logPath_.c_str(), L"%s\r\n", huge.c_str());
    const std::string log = Log();
    // The entry buffer holds 1023 characters: the stamp and as much of the message as fits.
    ASSERT_EQ(log.size(), 1023u);
    EXPECT_EQ(log.substr(0, 22), testing_support::kStamp);
    EXPECT_EQ(log.find_first_not_of('x', 22), std::string::npos);
}

} // namespace
