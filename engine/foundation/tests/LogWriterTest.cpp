#include "engine/foundation/LogWriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ctime>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace fs = std::filesystem;

namespace {

std::tm g_now{};

std::tm TestNow() {
    return g_now;
}

void SetNow(int year, int month, int day, int hour, int minute, int second) {
    g_now = std::tm{};
    g_now.tm_year = year - 1900;
    g_now.tm_mon = month - 1;
    g_now.tm_mday = day;
    g_now.tm_hour = hour;
    g_now.tm_min = minute;
    g_now.tm_sec = second;
}

class LogWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetNow(2026, 3, 5, 14, 7, 9);
        m_log.SetClock(&TestNow);
        m_log.SetFolder(m_root.string());
    }

    fs::path DayFile(const char* name = "day05.txt") const { return m_root / "log" / name; }

    CTempFolder m_folder;
    fs::path m_root{m_folder.Path()};
    CLogWriter m_log;
};

class RecordingSink : public CLogSink {
public:
    explicit RecordingSink(int failuresFirst = 0) : m_failuresLeft(failuresFirst) {}
    bool Deliver(const std::string& text) override {
        m_attempts.push_back(text);
        if (m_failuresLeft > 0) {
            --m_failuresLeft;
            return false;
        }
        return true;
    }
    std::vector<std::string> m_attempts;

private:
    int m_failuresLeft;
};

}  // namespace

TEST_F(LogWriterTest, EntryLandsInTheDayFileWithStampAndCreatesTheLogFolder) {
    ASSERT_FALSE(fs::exists(m_root / "log"));
    m_log.Log("listening on port %d", 8080);
    EXPECT_EQ(ReadFile(DayFile()), "2026-03-05 14:07:09 listening on port 8080\r\n");

    SetNow(2026, 3, 5, 23, 59, 1);
    m_log.LogRaw("raw %s", "tail");
    EXPECT_EQ(ReadFile(DayFile()),
              "2026-03-05 14:07:09 listening on port 8080\r\n2026-03-05 23:59:01 raw tail");
}

TEST_F(LogWriterTest, DayNumberHasTwoDigitsAndTheFileIsReusedNextMonth) {
    struct Case {
        int month;
        int day;
        const char* file;
    };
    const Case cases[] = {
        {1, 1, "day01.txt"}, {1, 9, "day09.txt"}, {1, 31, "day31.txt"}, {2, 9, "day09.txt"}};
    for (const Case& c : cases) {
        SetNow(2026, c.month, c.day, 8, 0, 0);
        m_log.Log("month %d", c.month);
    }
    EXPECT_EQ(ReadFile(DayFile("day01.txt")), "2026-01-01 08:00:00 month 1\r\n");
    EXPECT_EQ(ReadFile(DayFile("day09.txt")),
              "2026-01-09 08:00:00 month 1\r\n2026-02-09 08:00:00 month 2\r\n");
    EXPECT_EQ(ReadFile(DayFile("day31.txt")), "2026-01-31 08:00:00 month 1\r\n");
}

// Above half a megabyte, last month's file of the day starts afresh; today's is moved aside
// whole to <name>.1 (replacing the one before) and the entry begins a new file.
TEST_F(LogWriterTest, FileAboveHalfMegabyteStartsAfreshOnlyWhenWrittenOnAnEarlierDay) {
    enum class Then { kAppended, kAfresh, kMovedAside };
    struct Case {
        size_t existing;
        int daysSinceWritten;
        Then then;
    };
    const Case cases[] = {{0x80000, 0, Then::kAppended},
                          {0x80000, 31, Then::kAppended},
                          {0x80001, 31, Then::kAfresh},
                          {0x80001, 1, Then::kAfresh},
                          {0x80001, 0, Then::kMovedAside}};
    std::tm today = g_now;
    today.tm_isdst = -1;
    const std::time_t earlierToday = std::mktime(&today) - 3600;
    fs::create_directories(m_root / "log");
    const fs::path aside = DayFile("day05.txt.1");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.existing) + " written " + std::to_string(c.daysSinceWritten) +
                     " days ago");
        const std::string old(c.existing, 'x');
        fs::remove(aside);
        WriteFile(aside.string(), "the generation before");
        WriteFile(DayFile().string(), old);
        const std::time_t written = earlierToday - c.daysSinceWritten * 86400;
        const struct timespec times[2] = {{written, 0}, {written, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, DayFile().c_str(), times, 0), 0);
        m_log.Log("next");
        const std::string entry = "2026-03-05 14:07:09 next\r\n";
        // Compared whole but not printed: half a megabyte of 'x' says nothing.
        EXPECT_TRUE(ReadFile(DayFile()) == (c.then == Then::kAppended ? old + entry : entry));
        EXPECT_TRUE(ReadFile(aside) ==
                    (c.then == Then::kMovedAside ? old : "the generation before"));
    }
}

// A flood of today's entries past the size loses none of them: what does not fit in the new
// file is in <name>.1, the start-up line first.
TEST_F(LogWriterTest, AFloodKeepsTodaysEntriesInTheFileMovedAsideAndTheNewOne) {
    m_log.Log("started");
    const std::string body(2000, 'f');
    constexpr int kEntries = 400;  // about 800 KB: one move aside
    for (int i = 0; i < kEntries; ++i) {
        m_log.Log("%05d %s", i, body.c_str());
    }
    const std::string aside = ReadFile(DayFile("day05.txt.1"));
    const std::string current = ReadFile(DayFile());
    EXPECT_TRUE(aside.starts_with("2026-03-05 14:07:09 started\r\n"));
    EXPECT_LE(aside.size(), static_cast<size_t>(CLogWriter::kMaxFileSize) + 2100);
    EXPECT_GT(current.size(), 0u);
    const std::string all = aside + current;
    for (int i = 0; i < kEntries; ++i) {
        char entry[16];
        std::snprintf(entry, sizeof entry, " %05d f", i);
        ASSERT_NE(all.find(entry), std::string::npos) << "entry " << i << " was lost";
    }
}

// A short write (here the file size limit, as a full disk gives it) never leaves part of an
// entry for the next one to continue: each entry is in the file whole, on a line of its own,
// or not at all.
TEST_F(LogWriterTest, AShortWriteLeavesNoPartOfItsEntry) {
    m_log.Log("first");
    const std::string first = ReadFile(DayFile());
    struct rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = before;
    limited.rlim_cur = first.size() + 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    m_log.Log("%s", std::string(500, 'c').c_str());  // torn at the limit
    m_log.Log("third");                              // fits
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    m_log.Log("fourth");
    EXPECT_EQ(ReadFile(DayFile()),
              first + "2026-03-05 14:07:09 third\r\n" + "2026-03-05 14:07:09 fourth\r\n");
}

TEST_F(LogWriterTest, LengthRules) {
    const std::string longFormat(2045, 'f');
    const std::string percentFormat = std::string(2040, 'p') + "%d%s";
    const std::string longArgument(3000, 'a');
    struct Case {
        const char* what;
        std::function<void()> log;
        std::string expected;
    };
    const Case cases[] = {
        {"format too long: first 2044 characters unformatted, no CR LF",
         [&] { m_log.Log(longFormat.c_str()); }, std::string(2044, 'f')},
        {"long format keeps its conversions as text",
         [&] { m_log.Log((percentFormat + "x").c_str(), 1, "s"); },
         std::string(2040, 'p') + "%d%s"},
        {"formatted text cut at 2044, CR LF kept", [&] { m_log.Log("%s", longArgument.c_str()); },
         std::string(2044, 'a') + "\r\n"},
        {"formatted text of exactly 2044 characters kept whole",
         [&] { m_log.Log("%s", longArgument.substr(0, 2044).c_str()); },
         std::string(2044, 'a') + "\r\n"},
        {"raw entry cut at 2044 without CR LF", [&] { m_log.LogRaw("%s", longArgument.c_str()); },
         std::string(2044, 'a')},
        {"text entry is never a format", [&] { m_log.LogText("100% %s %n done"); },
         "100% %s %n done"},
        {"text entry cut at 2044", [&] { m_log.LogText(longArgument); }, std::string(2044, 'a')},
    };
    for (const Case& c : cases) {
        fs::remove(DayFile());
        c.log();
        EXPECT_EQ(ReadFile(DayFile()), "2026-03-05 14:07:09 " + c.expected) << c.what;
    }
}

TEST_F(LogWriterTest, EmptyFolderDropsTheEntryInsteadOfWritingToTheCurrentDirectory) {
    const fs::path before = fs::current_path();
    fs::current_path(m_root);
    CLogWriter log;
    log.SetClock(&TestNow);
    log.Log("nowhere");
    log.SetFolder("");
    log.Log("still nowhere");
    fs::current_path(before);
    EXPECT_TRUE(fs::is_empty(m_root));
}

TEST_F(LogWriterTest, UnwritableLogFolderFallsBackToTheFolderItself) {
    // A plain file where the log folder should be.
    std::ofstream(m_root / "log") << "not a folder";
    m_log.Log("fallback");
    EXPECT_EQ(ReadFile(m_root / "day05.txt"), "2026-03-05 14:07:09 fallback\r\n");
}

TEST_F(LogWriterTest, WindowModeSendsEntriesToTheSinkOnlyAndRetriesOnce) {
    auto sink = std::make_shared<RecordingSink>(1);
    m_log.SetWindow(sink);
    EXPECT_EQ(m_log.GetMode(), CLogWriter::kWindow);
    m_log.Log("to the pane %d", 1);
    m_log.Log("second");
    EXPECT_EQ(sink->m_attempts,
              (std::vector<std::string>{"to the pane 1\r\n", "to the pane 1\r\n", "second\r\n"}));
    EXPECT_FALSE(fs::exists(m_root / "log"));

    m_log.SetFolder(m_root.string());
    m_log.Log("back to files");
    EXPECT_EQ(sink->m_attempts.size(), 3u);
    EXPECT_EQ(ReadFile(DayFile()), "2026-03-05 14:07:09 back to files\r\n");
}

TEST_F(LogWriterTest, MessageBoxModeDeliversEachEntryOnceAndWritesNoFile) {
    auto sink = std::make_shared<RecordingSink>(1);
    m_log.SetMessageBox(sink);
    m_log.Log("Cannot connect to %s", "server");
    EXPECT_EQ(sink->m_attempts, std::vector<std::string>{"Cannot connect to server\r\n"});
    EXPECT_FALSE(fs::exists(m_root / "log"));
}

// Two writers stand for two programs appending to the same day file at once: each has its
// own lock, so only the single append write keeps their lines whole.
TEST_F(LogWriterTest, ConcurrentWritersNeverInterleaveInsideALine) {
    CLogWriter other;
    other.SetClock(&TestNow);
    other.SetFolder(m_root.string());
    // Small enough that the lines stay below the restart size.
    constexpr int kLines = 200;
    auto run = [](CLogWriter* log, char fill) {
        const std::string body(500, fill);
        for (int i = 0; i < kLines; ++i) {
            log->Log("%c%04d %s", fill, i, body.c_str());
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(run, &m_log, 'a');
    threads.emplace_back(run, &m_log, 'b');
    threads.emplace_back(run, &other, 'c');
    threads.emplace_back(run, &other, 'd');
    for (std::thread& t : threads) {
        t.join();
    }
    std::istringstream in(ReadFile(DayFile()));
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ASSERT_EQ(line.size(), 20u + 6u + 500u + 1u) << "line " << count;
        ASSERT_EQ(line.back(), '\r');
        const char fill = line[20];
        EXPECT_EQ(line.substr(26, 500), std::string(500, fill)) << "line " << count;
        ++count;
    }
    EXPECT_EQ(count, 4 * kLines);
}

TEST_F(LogWriterTest, ModesOtherThanDayFileLeaveTheFolderAlone) {
    struct Case {
        const char* what;
        std::function<void()> select;
        CLogWriter::Mode mode;
    };
    const Case cases[] = {
        {"system log", [&] { m_log.SetEventLog(); }, CLogWriter::kEventLog},
        {"window without a pane", [&] { m_log.SetWindow(nullptr); }, CLogWriter::kWindow},
    };
    for (const Case& c : cases) {
        c.select();
        EXPECT_EQ(m_log.GetMode(), c.mode) << c.what;
        m_log.Log("entry for %s", c.what);
        EXPECT_FALSE(fs::exists(m_root / "log")) << c.what;
        EXPECT_EQ(m_log.GetFolder(), m_root.string()) << c.what;
    }
}
