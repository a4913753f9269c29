#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <set>
#include <thread>

#include "engine/mail/EmailSender.h"
#include "engine/mail/MailSpool.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

// 2024-01-31 23:59:59 in the machine's zone; the stamp is computed the same way.
std::time_t FixedMoment() {
    std::tm local{};
    local.tm_year = 124;
    local.tm_mon = 0;
    local.tm_mday = 31;
    local.tm_hour = 23;
    local.tm_min = 59;
    local.tm_sec = 59;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

bool QueueFile(const std::string& root, CLogWriter& log, const std::string& bytes,
               std::string* path = nullptr, const MailClock& clock = {}) {
    CNewMailFile file;
    if (!file.Open(root, "outbox", "txt", log, clock)) {
        return false;
    }
    file.Write(bytes);
    return file.Commit(log, path);
}

}  // namespace

TEST(MailSpool, StampNamesAFileAfterItsMoment) {
    EXPECT_EQ(MailFileStamp(FixedMoment()), "20240131-235959");
}

TEST(MailSpool, FilesOfOneSecondTakeTheNextFreeNumber) {
    CTempFolder root;
    CCapturedLog log;
    MailClock clock = [] { return FixedMoment(); };
    std::vector<std::string> paths(3);
    for (std::string& path : paths) {
        ASSERT_TRUE(QueueFile(root.Path(), log.Writer(), "x", &path, clock));
    }
    const std::string folder = root.Path() + "/mail/outbox/";
    EXPECT_EQ(paths[0], folder + "20240131-235959.txt");
    EXPECT_EQ(paths[1], folder + "20240131-235959-1.txt");
    EXPECT_EQ(paths[2], folder + "20240131-235959-2.txt");
    // Nothing else is left behind: no temporary files.
    EXPECT_EQ(ListFolder(folder).size(), 3u);
}

TEST(MailSpool, FirstFileCreatesTheMailFolders) {
    CTempFolder root;
    CCapturedLog log;
    ASSERT_FALSE(Exists(root.Path() + "/mail"));
    std::string path;
    ASSERT_TRUE(QueueFile(root.Path(), log.Writer(), "hello", &path));
    EXPECT_EQ(ReadFile(path), "hello");
    EXPECT_TRUE(log.Entries().empty()) << log.All();
}

TEST(MailSpool, UncreatableFolderIsLoggedAndPublishesNothing) {
    CTempFolder root;
    CCapturedLog log;
    // A plain file where the mail folder should be.
    WriteFile(root.Path() + "/mail", "not a folder");
    EXPECT_FALSE(QueueFile(root.Path(), log.Writer(), "x"));
    EXPECT_TRUE(log.Has("Failed to create mail folders: " + root.Path() + "/mail/outbox"))
        << log.All();
}

TEST(MailSpool, AbandonedFileLeavesNothing) {
    CTempFolder root;
    CCapturedLog log;
    {
        CNewMailFile file;
        ASSERT_TRUE(file.Open(root.Path(), "outbox", "txt", log.Writer()));
        file.Write("half a mail");
    }
    EXPECT_TRUE(ListFolder(root.Path() + "/mail/outbox").empty());
}

TEST(MailSpool, ConcurrentWritersNeverShareAName) {
    CTempFolder root;
    CCapturedLog log;
    constexpr int kThreads = 8;
    constexpr int kEach = 100;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                if (!QueueFile(root.Path(), log.Writer(),
                               std::to_string(t) + ":" + std::to_string(i))) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    const std::string folder = root.Path() + "/mail/outbox/";
    std::set<std::string> contents;
    for (const std::string& name : ListFolder(folder)) {
        contents.insert(ReadFile(folder + name));
    }
    // Every mail arrived in a file of its own, none overwritten.
    EXPECT_EQ(contents.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(CEmailSender::ListOutbox(root.Path()).size(), static_cast<size_t>(kThreads * kEach));
}

TEST(MailSpool, KilledWriterLeavesNoPartialMailForTheSender) {
    CTempFolder root;
    const std::string body(256 * 1024, 'm');
    const std::string mail = "From: a@x\r\nTo: b@y\r\n\r\n" + body + "END";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CLogWriter quiet;
        for (;;) {
            QueueFile(root.Path(), quiet, mail);
        }
    }
    // Let the child get well into writing, then kill it mid-mail.
    const std::string folder = root.Path() + "/mail/outbox";
    for (int i = 0; i < 200 && ListFolder(folder).size() < 5; ++i) {
        usleep(10 * 1000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::vector<std::string> taken = CEmailSender::ListOutbox(root.Path());
    ASSERT_FALSE(taken.empty());
    for (const std::string& name : taken) {
        EXPECT_EQ(ReadFile(folder + "/" + name), mail) << name << " is incomplete";
    }
}

TEST(MailSpool, SenderListsOnlyCompleteMailInQueueOrder) {
    CTempFolder root;
    const std::string folder = root.Path() + "/mail/outbox/";
    std::filesystem::create_directories(folder + "sub.txt");
    for (const char* name :
         {"20240101-000000-10.txt", "20240101-000000-2.txt", "20240101-000000.txt",
          "20240101-000000-1.txt", ".new-x-AbC123", "note.eml", "20231231-235959.txt"}) {
        WriteFile(folder + name, "x");
    }
    EXPECT_EQ(CEmailSender::ListOutbox(root.Path()),
              (std::vector<std::string>{"20231231-235959.txt", "20240101-000000.txt",
                                        "20240101-000000-1.txt", "20240101-000000-2.txt",
                                        "20240101-000000-10.txt"}));
}

TEST(MailSpool, MoveKeepsTheNameOrLogsWhy) {
    struct Case {
        const char* m_name;
        const char* m_sub;
        bool m_clash;  // a file of that name already lies in the target
        bool m_ok;
        const char* m_movedAs;  // name in the target folder; empty: not moved
        const char* m_log;      // expected in the log, empty: nothing logged
    };
    const Case cases[] = {
        {"a.txt", "sent", false, true, "a.txt", ""},
        {"a.txt", "sent", true, true, "a.txt",
         " will be deleted because a new file with same name needs to be moved in to the same "
         "folder."},
        {"m.eml", "deleted", true, true, "m-1.eml", ""},
        {"m.eml", "archive", false, true, "m.eml", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.m_sub) + (c.m_clash ? " with a clash" : ""));
        CTempFolder root;
        CCapturedLog log;
        const std::string source = root.Path() + "/" + c.m_name;
        WriteFile(source, "new");
        const std::string target = root.Path() + "/mail/" + c.m_sub + "/";
        if (c.m_clash) {
            std::filesystem::create_directories(target);
            WriteFile(target + c.m_name, "old");
        }
        EXPECT_EQ(MoveMailFile(root.Path(), source, c.m_sub, log.Writer()), c.m_ok);
        EXPECT_FALSE(Exists(source));
        EXPECT_EQ(ReadFile(target + c.m_movedAs), "new");
        if (c.m_clash && std::string(c.m_movedAs) != c.m_name) {
            EXPECT_EQ(ReadFile(target + c.m_name), "old") << "earlier mail lost";
        }
        if (*c.m_log == '\0') {
            EXPECT_TRUE(log.Entries().empty()) << log.All();
        } else {
            EXPECT_TRUE(log.Has(c.m_log)) << log.All();
        }
    }
}

TEST(MailSpool, MoveRefusesAPathWithoutFileName) {
    CTempFolder root;
    CCapturedLog log;
    for (const char* path : {"plainname.txt", "/tmp/folder/"}) {
        EXPECT_FALSE(MoveMailFile(root.Path(), path, "sent", log.Writer()));
    }
    EXPECT_EQ(log.Count("Failed to find the file name when moving files"), 2);
}

TEST(MailSpool, MoveOfAMissingFileFails) {
    CTempFolder root;
    CCapturedLog log;
    const std::string source = root.Path() + "/gone.txt";
    EXPECT_FALSE(MoveMailFile(root.Path(), source, "sent", log.Writer()));
    EXPECT_TRUE(log.Has("Failed to move " + source + " to " + root.Path() +
                        "/mail/sent/gone.txt. Error [2]"))
        << log.All();
}

TEST(MailSpool, FolderNamesCannotLeaveTheMailFolder) {
    for (const char* sub : {"", ".", "..", "../escape", "a/b", "a\\b"}) {
        SCOPED_TRACE(sub);
        CTempFolder root;
        CCapturedLog log;
        EXPECT_FALSE(IsMailFolderName(sub));
        EXPECT_FALSE(CreateMailFolder(root.Path(), sub));
        CNewMailFile file;
        EXPECT_FALSE(file.Open(root.Path(), sub, "eml", log.Writer()));
        const std::string source = root.Path() + "/m.eml";
        WriteFile(source, "x");
        EXPECT_FALSE(MoveMailFile(root.Path(), source, sub, log.Writer()));
        EXPECT_TRUE(log.Has("Failed to create deleted mail folder")) << log.All();
        EXPECT_TRUE(Exists(source));
        // Nothing was made beside the mail folder.
        std::vector<std::string> entries = ListFolder(root.Path());
        entries.erase(std::remove(entries.begin(), entries.end(), "mail"), entries.end());
        EXPECT_EQ(entries, std::vector<std::string>{"m.eml"});
    }
    EXPECT_TRUE(IsMailFolderName("someone@example.org"));
}

// The next start removes what killed writers left, whenever they last wrote (in the start's
// own second too), and never the file of a writer still at work, however old.
TEST(MailSpool, LeftoversOfDeadWritersGoAtTheNextStart) {
    CTempFolder root;
    CLogWriter quiet;
    CNewMailFile working;
    ASSERT_TRUE(working.Open(root.Path(), "outbox", "txt", quiet));
    working.Write("still being written");
    const std::string outbox = root.Path() + "/mail/outbox";
    ASSERT_TRUE(CreateMailFolder(root.Path(), "inbox"));
    const std::string inbox = root.Path() + "/mail/inbox";
    const std::time_t start = std::time(nullptr);
    const auto age = [](const std::string& path, std::time_t when) {
        const struct timespec times[2] = {{when, 0}, {when, 0}};
        return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
    };
    const std::vector<std::string> atWork = ListFolder(outbox);
    ASSERT_EQ(atWork.size(), 1u);
    ASSERT_TRUE(age(outbox + "/" + atWork[0], start - 3600));
    for (const char* name : {"/.new-20240131-235959-AAAAAA", "/.new-20240131-235959-BBBBBB",
                             "/.new-20240131-235959-CCCCCC"}) {
        WriteFile(inbox + name, std::string(4096, 'x'));
    }
    ASSERT_TRUE(age(inbox + "/.new-20240131-235959-AAAAAA", start - 3600));
    ASSERT_TRUE(age(inbox + "/.new-20240131-235959-BBBBBB", start + 3600));
    ASSERT_TRUE(age(inbox + "/.new-20240131-235959-CCCCCC", start));
    WriteFile(inbox + "/20240131-235959.txt", "complete mail");
    ASSERT_TRUE(age(inbox + "/20240131-235959.txt", start - 3600));

    EXPECT_EQ(RemoveMailSpoolLeftovers(root.Path()), 3);
    EXPECT_EQ(ListFolder(inbox), (std::vector<std::string>{"20240131-235959.txt"}));
    std::string published;
    ASSERT_TRUE(working.Commit(quiet, &published));
    EXPECT_EQ(ReadFile(published), "still being written");
    EXPECT_EQ(RemoveMailSpoolLeftovers(root.Path() + "/nowhere"), 0);
}
