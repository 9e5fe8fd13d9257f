// The log writer: one entry per call with its UTC stamp, appended after everything the file
// holds, in the ANSI code page, safe at the formatter's limit, patient with a log another process
// holds for a moment and silent when the file cannot be had.
#include "log/log_writer.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    // Each entry waits for the log until the waits lost on it reach two seconds in all; from
    // then on an entry costs one attempt.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(LogMessage(logPath_.c_str(), L"lost\r\n"), 0);
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::milliseconds(3500));
    CloseHandle(held);
    LogMessage(logPath_.c_str(), L"after\r\n");
    EXPECT_EQ(Log(), Entries({"before", "after"}));
}

TEST_F(LogWriter, EntryWaitsForALogHeldForAMoment) {
    LogMessage(logPath_.c_str(), L"before\r\n");
    testing_support::FileHeldElsewhere held(logPath_, 200);
    ASSERT_TRUE(held.Held());
    EXPECT_NE(LogMessage(logPath_.c_str(), L"after a moment\r\n"), 0);
    held.Release();
    EXPECT_EQ(Log(), Entries({"before", "after a moment"}));
}

TEST_F(LogWriter, EarlierEntriesSurviveAFolderThatCannotBeListed) {
    LogMessage(logPath_.c_str(), L"earlier run, first entry\r\n");
    LogMessage(logPath_.c_str(), L"earlier run, last entry\r\n");
    chmod(folder_.Posix().c_str(), 0333);
    const std::wstring fresh = folder_.Windows() + L"\\fresh.log";
    EXPECT_NE(LogMessage(logPath_.c_str(), L"this run\r\n"), 0);
    EXPECT_NE(LogMessage(fresh.c_str(), L"first\r\n"), 0);
    EXPECT_NE(LogMessage(fresh.c_str(), L"second\r\n"), 0);
    chmod(folder_.Posix().c_str(), 0755);
    EXPECT_EQ(Log(), Entries({"earlier run, first entry", "earlier run, last entry", "this run"}));
    EXPECT_EQ(folder_.ReadFile("fresh.log"), Entries({"first", "second"}));
}

TEST_F(LogWriter, EntryLandsAtTheEndOfALogBeyond32Bits) {
    const std::string head = "[2021.09.07-05:44:06] earlier\r\n";
    const std::string entry = std::string(testing_support::kStamp) + "appended\r\n";
    // The last size whose end a 32-bit pointer reaches (its low part reads as failure), the
    // first it does not, and one well beyond.
    for (const off_t size : {0xFFFFFFFFLL, 0x100000000LL, 0x140000003LL}) {
        const std::string posix = folder_.Posix() + "/big.log";
        const int fd = open(posix.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
        ASSERT_EQ(ftruncate(fd, size), 0);
        close(fd);

        const std::wstring big = folder_.Windows() + L"\\big.log";
        EXPECT_NE(LogMessage(big.c_str(), L"appended\r\n"), 0) << size;
        struct stat info {};
        ASSERT_EQ(stat(posix.c_str(), &info), 0);
        EXPECT_EQ(info.st_size, size + static_cast<off_t>(entry.size())) << size;
        std::string start(head.size(), '\0');
        std::string end(entry.size(), '\0');
        const int readable = open(posix.c_str(), O_RDONLY);
        ASSERT_GE(readable, 0);
        EXPECT_EQ(pread(readable, &start[0], start.size(), 0), static_cast<ssize_t>(start.size()));
        EXPECT_EQ(pread(readable, &end[0], end.size(), size), static_cast<ssize_t>(end.size()));
        close(readable);
        EXPECT_EQ(start, head) << size;
        EXPECT_EQ(end, entry) << size;
        unlink(posix.c_str());
    }
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

// An entry the disk has no room for is lost whole: no part of it glues the next entry, or the
// next run's, to the log's last line.
TEST_F(LogWriter, FullDiskLeavesOnlyWholeEntries) {
    LogMessage(logPath_.c_str(), L"before\r\n");
    {
        const testing_support::DiskRoom room(Log().size() + 30);
        EXPECT_EQ(LogMessage(logPath_.c_str(), L"an entry longer than the room left\r\n"), 0);
        EXPECT_NE(LogMessage(logPath_.c_str(), L"fits\r\n"), 0);
        EXPECT_EQ(LogMessage(logPath_.c_str(), L"no room for this one\r\n"), 0);
    }
    LogMessage(logPath_.c_str(), L"after\r\n");
    EXPECT_EQ(Log(), Entries({"before", "fits", "after"}));
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
    struct Case {
        LPCWSTR format;
        size_t messageChars;
        std::string ending;
    };
    // The entry buffer holds 1023 characters: the 22 of the stamp, the message's text and the
    // format's line ending. A text that does not fit is cut before the ending, never the ending
    // itself, so the next entry still starts a line of its own.
    const Case cases[] = {{L"%s\r\n", 3000, "\r\n"},
                          {L"%s\n", 3000, "\n"},
                          {L"%s\r\n", 999, "\r\n"},
                          {L"%s\r\n", 1000, "\r\n"},
                          {L"%s", 3000, ""}};
    std::string expected;
    for (const Case& c : cases) {
        const std::wstring text(c.messageChars, L'x');
        LogMessage(logPath_.c_str(), c.format, text.c_str());
        const size_t room = 1023 - 22 - c.ending.size();
        expected += testing_support::kStamp +
                    std::string(c.messageChars < room ? c.messageChars : room, 'x') + c.ending;
    }
    EXPECT_EQ(Log(), expected);
}

} // namespace
