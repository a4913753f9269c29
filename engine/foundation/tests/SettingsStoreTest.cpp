#include "engine/foundation/SettingsStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/foundation/LogSink.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/VersionKey.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace fs = std::filesystem;

namespace {

class TempRoot : public CTempFolder {
public:
    std::string StorePath() const { return CSettingsStore::PathUnderRoot(Path()); }
};

void WriteText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    WriteFile(path, text);
}

std::string Value(const CSettingsValues& values, const std::string& name) {
    const std::string* value = values.Find(name);
    return value ? *value : "<missing>";
}

std::string LongAwkwardValue() {
    std::string value;
    while (value.size() < 600) {
        value += "a=b\r\nc\\d\t";
    }
    return value;
}

}  // namespace

TEST(SettingsStoreTest, AnyBytesRoundTripThroughTheFile) {
    struct Case {
        const char* label;
        std::string value;
    };
    const std::vector<Case> cases = {
        {"plain", "80"},
        {"empty", ""},
        {"equals and hash", "a=b=c #x"},
        {"line ends", "one\r\ntwo\nthree\r"},
        {"backslash before n", "C:\\new\\x41"},
        {"outer blanks", "  padded\t"},
        {"only blanks", "   "},
        {"control and NUL", std::string("a\0b\x01\x7f", 5)},
        {"high bytes", "caf\xe9 \xc3\xa9"},
        {"long with CR LF and =", LongAwkwardValue()},
    };
    TempRoot root;
    CSettingsStore store(root.StorePath());
    std::vector<CSettingsValues::Entry> changes;
    for (const Case& c : cases) {
        changes.emplace_back(c.label, c.value);
    }
    std::string error;
    ASSERT_TRUE(store.Write(changes, error)) << error;

    CSettingsValues values;
    ASSERT_TRUE(store.Read(values, error)) << error;
    for (const Case& c : cases) {
        EXPECT_EQ(Value(values, c.label), c.value) << c.label;
    }
    // Each setting stays on one line of the file, so it can be read and edited by hand.
    const std::string text = ReadFile(root.StorePath());
    EXPECT_NE(text.find("\nplain=80\n"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 0);
    EXPECT_NE(text.find("line ends=one\\r\\ntwo\\nthree\\r\n"), std::string::npos) << text;
}

TEST(SettingsStoreTest, NamesWithSeparatorsRoundTrip) {
    TempRoot root;
    CSettingsStore store(root.StorePath());
    const std::vector<std::string> names = {"a=b", "#lead", " spaced ", "multi\nline", "x\\y"};
    std::vector<CSettingsValues::Entry> changes;
    for (const std::string& name : names) {
        changes.emplace_back(name, "v:" + name);
    }
    std::string error;
    ASSERT_TRUE(store.Write(changes, error)) << error;
    CSettingsValues values;
    ASSERT_TRUE(store.Read(values, error));
    EXPECT_EQ(values.Size(), names.size());
    for (const std::string& name : names) {
        EXPECT_EQ(Value(values, name), "v:" + name) << name;
    }
}

TEST(SettingsStoreTest, ReadsHandEditedFiles) {
    const std::string text =
        "# comment=not a setting\n"
        "  GeneralTcpipPort = 8080  \r\n"
        "\n"
        "no equals sign here\n"
        "generaltcpipport=9090\n"
        "Odd=\\q and \\x4 and \\x41\n"
        "Trailing=ends in backslash\\\n"
        "=no name\n"
        "Empty=\n";
    const CSettingsValues values = CSettingsStore::Parse(text);
    EXPECT_EQ(Value(values, "GENERALTCPIPPORT"), "8080");  // any case; the first line wins
    EXPECT_EQ(Value(values, "odd"), "\\q and \\x4 and A");
    EXPECT_EQ(Value(values, "Trailing"), "ends in backslash\\");
    EXPECT_EQ(Value(values, "Empty"), "");
    EXPECT_EQ(Value(values, "# comment"), "<missing>");
    EXPECT_EQ(values.Size(), 4u);
}

TEST(SettingsStoreTest, WriteChangesOnlyTheNamesItSets) {
    TempRoot root;
    WriteText(root.StorePath(),
              "# kept comment\n"
              "Alpha=1\n"
              "Beta=2\n"
              "ALPHA=stale duplicate\n"
              "not a setting\n");
    CSettingsStore store(root.StorePath());
    std::string error;
    CSettingsValues merged;
    ASSERT_TRUE(store.Write({{"alpha", "one"}, {"Gamma", "3"}}, error, &merged)) << error;
    EXPECT_EQ(ReadFile(root.StorePath()),
              "# kept comment\n"
              "Alpha=one\n"
              "Beta=2\n"
              "not a setting\n"
              "Gamma=3\n");
    EXPECT_EQ(Value(merged, "ALPHA"), "one");
    EXPECT_EQ(Value(merged, "beta"), "2");
    EXPECT_EQ(Value(merged, "gamma"), "3");
}

TEST(SettingsStoreTest, MissingStoreReadsEmptyAndFirstWriteCreatesIt) {
    TempRoot root;
    CSettingsStore store(root.StorePath());
    CSettingsValues values;
    std::string error;
    ASSERT_TRUE(store.Read(values, error));
    EXPECT_EQ(values.Size(), 0u);
    EXPECT_FALSE(fs::exists(root.Path() + "/etc"));  // reading never creates anything

    ASSERT_TRUE(store.Write({{"Name", "v"}}, error)) << error;
    ASSERT_TRUE(store.Read(values, error));
    EXPECT_EQ(Value(values, "name"), "v");
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

// The file holds passwords: created for its owner and the root folder's group only, and no
// rewrite widens or changes that.
TEST(SettingsStoreTest, NewFileIsOwnerAndRootGroupOnlyAndRewritesKeepModeAndOwnership) {
    TempRoot root;
    // The root's group, as an administrator sets it for the studio and console users; only
    // root can choose a group the test process is not in.
    const gid_t group = ::geteuid() == 0 ? 4321 : ::getegid();
    ASSERT_EQ(::chown(root.Path().c_str(), static_cast<uid_t>(-1), group), 0);
    CSettingsStore store(root.StorePath());
    std::string error;
    ASSERT_TRUE(store.Write({{"EmSmtpPassword", "secret"}}, error)) << error;
    struct stat created = StatOf(root.StorePath());
    EXPECT_EQ(created.st_mode & 07777, 0640u);
    EXPECT_EQ(created.st_gid, group);
    EXPECT_EQ(created.st_uid, ::geteuid());

    struct Case {
        mode_t m_mode;
        uid_t m_uid;  // -1: keep the writer's
        gid_t m_gid;
    };
    const uid_t other = ::geteuid() == 0 ? 1234 : static_cast<uid_t>(-1);
    for (const Case& c : {Case{0600, static_cast<uid_t>(-1), group}, Case{0660, other, group},
                          Case{0644, other, ::geteuid() == 0 ? 5678 : group}}) {
        ASSERT_EQ(::chown(root.StorePath().c_str(), c.m_uid, c.m_gid), 0);
        ASSERT_EQ(::chmod(root.StorePath().c_str(), c.m_mode), 0);
        const struct stat before = StatOf(root.StorePath());
        ASSERT_TRUE(store.Write({{"Counter", std::to_string(c.m_mode)}}, error)) << error;
        const struct stat after = StatOf(root.StorePath());
        EXPECT_NE(after.st_ino, before.st_ino);  // really replaced
        EXPECT_EQ(after.st_mode & 07777, c.m_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
    }
}

// A writer killed between creating its temporary file and renaming it leaves the file behind;
// the next start removes it whenever it was written (in the start's own second too), but never
// a file of a write that is still going on.
TEST(SettingsStoreTest, LeftoverTemporaryFilesAreRemovedWhateverTheirTime) {
    TempRoot root;
    CSettingsStore store(root.StorePath());
    std::string error;
    ASSERT_TRUE(store.Write({{"Name", "v"}}, error)) << error;
    const std::string etc = root.Path() + "/etc";
    const std::time_t start = std::time(nullptr);
    struct Case {
        const char* m_name;
        std::time_t m_modified;
        bool m_removed;
    };
    for (const Case& c : {Case{".new-velmorin.conf-a1b2c3", start - 60, true},
                          Case{".new-velmorin.conf-d4e5f6", start + 60, true},
                          Case{".new-velmorin.conf-g7h8i9", start, true},
                          Case{".new-other.conf-a1b2c3", start - 60, false},
                          Case{"velmorin.conf.bak", start - 60, false}}) {
        const std::string path = etc + "/" + c.m_name;
        WriteText(path, std::string(1000, 'x'));
        const struct timespec times[2] = {{c.m_modified, 0}, {c.m_modified, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    EXPECT_EQ(store.RemoveLeftovers(), 3);
    EXPECT_EQ(ListFolder(etc),
              (std::vector<std::string>{".new-other.conf-a1b2c3", "velmorin.conf",
                                        "velmorin.conf.bak", "velmorin.conf.lock"}));

    // While a writer holds the lock, the removal waits for it rather than take its file.
    const int lock = ::open((root.StorePath() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    const std::string busy = etc + "/.new-velmorin.conf-busy00";
    WriteText(busy, "being written");
    const struct timespec old[2] = {{start - 60, 0}, {start - 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, busy.c_str(), old, 0), 0);
    std::atomic<bool> done{false};
    std::thread remover([&] {
        CSettingsStore(root.StorePath()).RemoveLeftovers();
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(done.load());
    EXPECT_TRUE(fs::exists(busy));
    ::unlink(busy.c_str());  // the writer renames its file, then lets go
    ::flock(lock, LOCK_UN);
    ::close(lock);
    remover.join();
    EXPECT_TRUE(done.load());
}

TEST(SettingsStoreTest, RefusesEmptyNamesAndUnreadableFiles) {
    TempRoot root;
    CSettingsStore store(root.StorePath());
    std::string error;
    EXPECT_FALSE(store.Write({{"Good", "1"}, {"  ", "2"}}, error));
    EXPECT_FALSE(fs::exists(root.StorePath()));

    fs::create_directories(root.StorePath());  // a folder where the file should be
    CSettingsValues values;
    EXPECT_FALSE(store.Read(values, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(store.Write({{"Name", "v"}}, error));
}

// A write that fails half-way (here: the file size limit) leaves the old store whole and no
// temporary file behind.
TEST(SettingsStoreTest, FailedWriteLeavesTheStoreIntact) {
    TempRoot root;
    CSettingsStore store(root.StorePath());
    std::string error;
    ASSERT_TRUE(store.Write({{"Keep", "old value"}}, error));
    const std::string before = ReadFile(root.StorePath());

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 4096;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string childError;
        const bool ok = store.Write({{"Keep", std::string(100000, 'x')}}, childError);
        ::_exit(ok ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);  // the write reported its failure
    EXPECT_EQ(ReadFile(root.StorePath()), before);
    EXPECT_EQ(ListFolder(root.Path() + "/etc"),
              (std::vector<std::string>{"velmorin.conf", "velmorin.conf.lock"}));
}

TEST(SettingsStoreTest, ConcurrentWritersOfDifferentNamesLoseNothing) {
    TempRoot root;
    constexpr int kWriters = 4;
    constexpr int kWritesEach = 25;
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CSettingsStore store(root.StorePath());
            for (int i = 0; i < kWritesEach; ++i) {
                std::string error;
                const std::string name = "W" + std::to_string(writer) + "N" + std::to_string(i);
                if (!store.Write({{name, std::to_string(i)}}, error)) {
                    ::_exit(4);
                }
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    CSettingsValues values;
    std::string error;
    ASSERT_TRUE(CSettingsStore(root.StorePath()).Read(values, error));
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int i = 0; i < kWritesEach; ++i) {
            const std::string name = "w" + std::to_string(writer) + "n" + std::to_string(i);
            EXPECT_EQ(Value(values, name), std::to_string(i)) << name;
        }
    }
}

TEST(VersionKeyTest, ReadsItsOwnWritesAndOthersAfterReopening) {
    TempRoot root;
    CVersionKey writer("Tormalek", "Velmorin Server", "2", root.Path());
    CVersionKey reader("Tormalek", "Velmorin Server", "2", root.Path());
    std::string text = "left over";
    EXPECT_FALSE(reader.QueryValue("GeneralTcpipPort", text));  // opens an empty store
    EXPECT_TRUE(reader.IsOpen());
    EXPECT_EQ(text, "");

    ASSERT_TRUE(writer.SetValue("GeneralTcpipPort", "8080"));
    ASSERT_TRUE(writer.QueryValue("generaltcpipport", text));
    EXPECT_EQ(text, "8080");

    EXPECT_FALSE(reader.QueryValue("GeneralTcpipPort", text));  // still its earlier snapshot
    ASSERT_TRUE(reader.Close());
    ASSERT_TRUE(reader.QueryValue("GENERALTCPIPPORT", text));
    EXPECT_EQ(text, "8080");

    // No length cap: a value far beyond the old 512-byte buffer reads whole.
    const std::string longValue = LongAwkwardValue();
    ASSERT_TRUE(writer.SetValue("Task01Script", longValue));
    reader.Close();
    ASSERT_TRUE(reader.QueryValue("Task01Script", text));
    EXPECT_EQ(text, longValue);
}

TEST(VersionKeyTest, UpdateLandsWholeAtCommit) {
    TempRoot root;
    CVersionKey key("Tormalek", "Velmorin Server", "2", root.Path());
    ASSERT_TRUE(key.SetValue("Before", "1"));
    key.BeginUpdate();
    ASSERT_TRUE(key.SetValue("A", "x"));
    ASSERT_TRUE(key.SetValue("B", "y"));
    std::string text;
    ASSERT_TRUE(key.QueryValue("a", text));  // staged values read back at once
    EXPECT_EQ(text, "x");

    CVersionKey other("Tormalek", "Velmorin Server", "2", root.Path());
    EXPECT_FALSE(other.QueryValue("A", text));  // nothing written yet
    ASSERT_TRUE(key.CommitUpdate());
    other.Close();
    ASSERT_TRUE(other.QueryValue("B", text));
    EXPECT_EQ(text, "y");
    ASSERT_TRUE(other.QueryValue("Before", text));
    EXPECT_EQ(text, "1");
}

TEST(VersionKeyTest, FailedCommitReportsAndForgetsStagedValues) {
    TempRoot root;
    CVersionKey key("Tormalek", "Velmorin Server", "2", root.Path());
    ASSERT_TRUE(key.SetValue("Kept", "1"));
    key.BeginUpdate();
    key.SetValue("Lost", "2");
    // The lock file cannot be opened while a folder stands in its place.
    fs::remove(key.StorePath() + ".lock");
    fs::create_directories(key.StorePath() + ".lock");
    EXPECT_FALSE(key.CommitUpdate());
    EXPECT_FALSE(key.LastError().empty());
    std::string text;
    EXPECT_FALSE(key.QueryValue("Lost", text));
    ASSERT_TRUE(key.QueryValue("Kept", text));
    EXPECT_EQ(text, "1");
    EXPECT_FALSE(key.SetValue("Direct", "3"));
}

TEST(VersionKeyTest, UnreadableStoreLogsAndFailsEveryRead) {
    TempRoot root;
    CVersionKey key("Tormalek", "Velmorin Server", "2", root.Path());
    fs::create_directories(key.StorePath());
    auto log = std::make_unique<CCapturedLog>(g_log);
    std::string text;
    const bool opened = key.Open();
    const bool read = key.QueryValue("Any", text);
    const std::vector<std::string> lines = log->Entries();
    log.reset();
    EXPECT_FALSE(opened);
    EXPECT_FALSE(read);
    ASSERT_EQ(lines.size(), 2u);  // one line per attempt to open
    EXPECT_EQ(lines[0], "Error [21]: Is a directory\r\n when accessing registry.\r\n");
    EXPECT_NE(key.LastError().find(key.StorePath()), std::string::npos) << key.LastError();
}

// A user who may not read the file (outside the installation's group) is told what to ask for.
TEST(VersionKeyTest, AStoreThatMayNotBeReadLogsTheAccessHint) {
    TempRoot root;
    std::string error;
    ASSERT_TRUE(CSettingsStore(root.StorePath()).Write({{"EmSmtpPassword", "secret"}}, error));
    ASSERT_EQ(::chmod(root.StorePath().c_str(), 0600), 0);
    ASSERT_EQ(::chmod(root.Path().c_str(), 0755), 0);
    // Root reads everything: the reading runs as another user in a child of its own.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(2);
        }
        CCapturedLog log(g_log);
        CVersionKey key("Tormalek", "Velmorin Server", "2", root.Path());
        const bool opened = key.Open();
        const bool hinted =
            log.Entries().size() == 1 &&
            log.Entries()[0] ==
                "Error [13]: Permission denied\r\n Current user needs to be granted "
                "administrator rights on this machine.\r\n";
        ::_exit(!opened && hinted ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
