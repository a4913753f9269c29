// bin/Brackmoor's command line, run as a program from its own installation root.
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "console/ConsoleClient.h"
#include "console/tests/ConsoleTestRoot.h"
#include "engine/foundation/NamedObject.h"
#include "engine/foundation/ObjectNames.h"
#include "engine/foundation/SocketConn.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"
#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/WholeFile.h"

namespace {

namespace fs = std::filesystem;

TEST(CommandLine, StartAndStopTheServerAsAProgram) {
    CConsoleTestRoot root;
    root.InstallServer();

    CConsoleRun run = root.Run({"-start"});
    EXPECT_EQ(run.m_exitCode, 0) << run.m_stderr;
    EXPECT_TRUE(root.ServerRunning());
    EXPECT_EQ(root.Launches(), 1);

    run = root.Run({"-START"});
    EXPECT_EQ(run.m_exitCode, 0) << run.m_stderr;
    EXPECT_EQ(root.Launches(), 1);

    run = root.Run({"-stop"});
    EXPECT_EQ(run.m_exitCode, 0) << run.m_stderr;
    EXPECT_FALSE(root.ServerRunning());

    run = root.Run({"-Stop"});
    EXPECT_EQ(run.m_exitCode, 0) << run.m_stderr;
    // No host here runs the service, so the manager is only asked whether it exists.
    for (const std::string& call : root.SystemctlCalls()) {
        EXPECT_NE(call.find(" status velmorinServer2.service"), std::string::npos) << call;
    }
}

TEST(CommandLine, StartFailures) {
    CConsoleTestRoot root;
    CConsoleRun run = root.Run({"-start"});
    EXPECT_EQ(run.m_exitCode, 3);
    EXPECT_EQ(run.m_stderr,
              "Failed to start Velmorin Server Tallgrove.\nFailed to launch "
              "Tallgrove:\n" +
                  FormatSystemError(ENOENT) + "\n");

    // A server that never comes up: the ten polls pass, then the time-out text.
    root.InstallStub("exit 0");
    run = root.Run({"-start"});
    EXPECT_EQ(run.m_exitCode, 3);
    EXPECT_EQ(run.m_stderr,
              "Velmorin Server failed to start.\nPlease check log file for errors.\n");
    EXPECT_EQ(root.Launches(), 1);
}

// A start is believed only once the web server answers: a server whose listener cannot bind
// ends after making its stop event, and an event held by something that serves nothing is
// not a running server.
TEST(CommandLine, AStartThatServesNothingGivesThree) {
    const struct {
        const char* name;
        bool portTaken;
        bool eventHeld;
    } cases[] = {
        {"port taken", true, false},
        {"stop event held", false, true},
    };
    for (const auto& c : cases) {
        CConsoleTestRoot root;
        root.InstallServer();
        CSocketConn taken;
        if (c.portTaken) {
            ASSERT_TRUE(taken.Listen("127.0.0.1", root.Port())) << c.name;
        }
        CNamedEvent event;
        if (c.eventHeld) {
            ASSERT_TRUE(event.Create(root.Root(), kServerStopEventName)) << c.name;
        }
        const CConsoleRun run = root.Run({"-start"});
        EXPECT_EQ(run.m_exitCode, 3) << c.name;
        EXPECT_EQ(run.m_stderr,
                  "Velmorin Server failed to start.\nPlease check log file for errors.\n")
            << c.name;
        EXPECT_EQ(root.Launches(), c.eventHeld ? 0 : 1) << c.name;
    }
}

// Another user of the host takes every name it can reach, in the abstract namespace and in
// the root's tmp/, before the administrator starts the server: the start still happens and
// is reported only once the server answers.
TEST(CommandLine, AnotherUsersSquatNeitherBlocksNorFakesAStart) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    CConsoleTestRoot root;
    root.InstallServer();
    const std::string parent = fs::path(root.Root()).parent_path().string();
    for (const std::string& folder : {parent, root.Root()}) {
        ASSERT_EQ(::chmod(folder.c_str(), 0755), 0) << folder;
    }
    const std::string squat =
        "import socket, sys\n"
        "root = sys.argv[1]\n"
        "held = []\n"
        "for name in ('Tallgrove2EnsureSingle', 'Tallgrove2stopEvent', "
        "'Brackmoor2EnsureSingle'):\n"
        "    for address in ('\\0velmorin:' + name + ':' + root, root + '/tmp/' + name):\n"
        "        s = socket.socket(socket.AF_UNIX)\n"
        "        try:\n"
        "            s.bind(address); s.listen(4); held.append(s)\n"
        "        except OSError:\n"
        "            pass\n"
        "    try:\n"
        "        held.append(open(root + '/tmp/' + name + '.lock', 'w'))\n"
        "    except OSError:\n"
        "        pass\n"
        "sys.stdin.read()\n";
    int hold[2];
    ASSERT_EQ(::pipe2(hold, O_CLOEXEC), 0);
    CChildOptions options;
    options.m_stdin = CChildStream::Fd(hold[0]);
    CChildProcess squatter(
        {"/usr/sbin/runuser", "-u", "nobody", "--", "/usr/bin/python3", "-c", squat, root.Root()},
        options);
    ::close(hold[0]);
    ASSERT_TRUE(squatter.Started());
    // Ready once the abstract stop-event name answers.
    const std::string abstractName =
        std::string("velmorin:") + kServerStopEventName + ":" + root.Root();
    bool squatted = false;
    for (int i = 0; i < 200 && !squatted; ++i) {
        CUniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, abstractName.data(),
                    std::min(abstractName.size(), sizeof(address.sun_path) - 1));
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 +
                                   std::min(abstractName.size(), sizeof(address.sun_path) - 1));
        squatted = ::connect(probe.Get(), reinterpret_cast<sockaddr*>(&address), length) == 0;
        if (!squatted) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    }
    ASSERT_TRUE(squatted);

    CConsoleRun run = root.Run({"-start"});
    EXPECT_EQ(run.m_exitCode, 0) << run.m_stderr;
    EXPECT_EQ(root.Launches(), 1);
    CConsoleClient client("127.0.0.1", root.Port(), 5);
    std::string tasks;
    std::string error;
    EXPECT_TRUE(client.GetTaskList(tasks, error)) << error;
    EXPECT_FALSE(ParseServerRows(tasks).empty()) << tasks;
    run = root.Run({"-stop"});
    EXPECT_EQ(run.m_exitCode, 0) << run.m_stderr;
    ::close(hold[1]);
    EXPECT_EQ(squatter.Wait(), 0);
}

// A tmp/ others may write to holds nothing the console believes: neither a start nor a stop
// reports success there.
TEST(CommandLine, AnUntrustedObjectFolderGivesNoSuccess) {
    CConsoleTestRoot root;
    root.InstallServer();
    ASSERT_EQ(::chmod(root.Path("tmp").c_str(), 0777), 0);
    CConsoleRun run = root.Run({"-stop"});
    EXPECT_EQ(run.m_exitCode, 4);
    EXPECT_NE(
        run.m_stderr.find(root.Root() + "/tmp can be written by users outside the installation"),
        std::string::npos)
        << run.m_stderr;
    run = root.Run({"-start"});
    EXPECT_EQ(run.m_exitCode, 3) << run.m_stderr;
}

TEST(CommandLine, AServerThatIgnoresTheStopGivesFour) {
    CConsoleTestRoot root;
    // Held here and never waited on: the byte is never taken.
    CNamedEvent event;
    ASSERT_TRUE(event.Create(root.Root(), kServerStopEventName));
    const CConsoleRun run = root.Run({"-stop"});
    EXPECT_EQ(run.m_exitCode, 4);
    EXPECT_EQ(run.m_stderr,
              "Failed to stop Velmorin Server.\nPlease check log file for errors. \n\n");
}

TEST(CommandLine, UnreadableSettingsGiveTwoForEveryAction) {
    CConsoleTestRoot root;
    fs::remove(root.Path("etc/velmorin.conf"));
    fs::create_directory(root.Path("etc/velmorin.conf"));
    for (const char* action : {"-start", "-stop", "-compact"}) {
        const CConsoleRun run = root.Run({action});
        EXPECT_EQ(run.m_exitCode, 2) << action;
        // The store's own reason, logged to stderr, then the console's text.
        EXPECT_NE(run.m_stderr.find("Is a directory"), std::string::npos) << run.m_stderr;
        EXPECT_TRUE(run.m_stderr.ends_with("Failed to load settings.\n")) << run.m_stderr;
    }
    EXPECT_EQ(root.Launches(), 0);
}

// A SQLite file with free pages: rows inserted, then most deleted.
void MakeDatabase(const std::string& path) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    ASSERT_EQ(sqlite3_exec(db.get(),
                           "CREATE TABLE t(a TEXT);"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n "
                           "WHERE i < 2000) INSERT INTO t SELECT printf('%0500d', i) FROM n;"
                           "DELETE FROM t WHERE rowid > 10;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
}

// The first column of the first row of a query, as text.
std::string Query(const std::string& path, const char* sql) {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        return "(no database)";
    }
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    std::string value;
    sqlite3_exec(
        db.get(), sql,
        [](void* out, int, char** columns, char**) {
            *static_cast<std::string*>(out) = columns[0] ? columns[0] : "";
            return 1;
        },
        &value, nullptr);
    return value;
}

TEST(CommandLine, CompactInPlaceAndIntoAnotherFile) {
    CConsoleTestRoot root;
    const std::string a = root.Path("data/zr2.db");
    const std::string b = root.Path("data/copy.db");
    const std::string dbq = root.Path("data/dbq.db");

    struct Case {
        std::vector<std::string> arguments;
        std::string compacted;
        std::string connect;
    } cases[] = {
        // The data source's file: its entry in the installation's odbc.ini, or DBQ.
        {{"-compact"}, a, "ODBC;DSN=zr2;"},
        {{"-compact"}, dbq, "ODBC;DSN=zr2;DBQ=" + dbq},
        {{"-compact", a}, a, "ODBC;DSN=zr2;"},
        {{"-COMPACT", a, b}, b, "ODBC;DSN=zr2;"},
    };
    for (const Case& c : cases) {
        root.WriteSettings({"DbOdbcConnectString=" + c.connect});
        fs::remove(a);
        fs::remove(b);
        fs::remove(dbq);
        MakeDatabase(a);
        MakeDatabase(dbq);
        ASSERT_NE(Query(a, "PRAGMA freelist_count"), "0");
        const std::string before = ReadFile(a);
        const CConsoleRun run = root.Run(c.arguments);
        EXPECT_EQ(run.m_exitCode, 0) << c.arguments.size() << run.m_stderr;
        EXPECT_EQ(Query(c.compacted, "PRAGMA integrity_check"), "ok") << c.arguments.size();
        EXPECT_EQ(Query(c.compacted, "PRAGMA freelist_count"), "0") << c.arguments.size();
        EXPECT_EQ(Query(c.compacted, "SELECT count(*) FROM t"), "10") << c.arguments.size();
        if (c.compacted == b) {
            EXPECT_EQ(ReadFile(a), before);
        }
    }
}

TEST(CommandLine, CompactFailuresGiveFiveAndCreateNothing) {
    CConsoleTestRoot root;
    const std::string a = root.Path("data/zr2.db");
    const std::string b = root.Path("data/copy.db");
    const std::string text = root.Path("data/notes.txt");
    MakeDatabase(a);
    ASSERT_TRUE(WriteFile(b, "already here"));
    ASSERT_TRUE(WriteFile(text, "this is no database at all, only some words of text"));
    // No DBQ, and no such data source to find a file through.
    root.WriteSettings({"DbOdbcConnectString=ODBC;DSN=nosuch;"});

    struct Case {
        std::vector<std::string> arguments;
        std::string absent;  // must not exist afterwards
    } cases[] = {
        {{"-compact", a, b}, ""},
        {{"-compact", root.Path("data/missing.db"), root.Path("data/out1.db")},
         root.Path("data/out1.db")},
        {{"-compact", root.Path("data/missing.db")}, root.Path("data/missing.db")},
        {{"-compact", text, root.Path("data/out2.db")}, root.Path("data/out2.db")},
        {{"-compact"}, ""},
    };
    const std::string before = ReadFile(a);
    for (const Case& c : cases) {
        const CConsoleRun run = root.Run(c.arguments);
        EXPECT_EQ(run.m_exitCode, 5) << c.arguments.size() << " " << c.arguments.back();
        EXPECT_FALSE(run.m_stderr.empty());
        if (!c.absent.empty()) {
            EXPECT_FALSE(Exists(c.absent)) << c.absent;
        }
    }
    EXPECT_EQ(ReadFile(b), "already here");
    EXPECT_EQ(ReadFile(text), "this is no database at all, only some words of text");
    EXPECT_EQ(ReadFile(a), before);
    EXPECT_EQ(ListFolder(root.Path("data")),
              (std::vector<std::string>{"copy.db", "notes.txt", "zr2.db"}));
}

TEST(CommandLine, CompactWhileTheServerRunsGivesSix) {
    CConsoleTestRoot root;
    const std::string a = root.Path("data/zr2.db");
    MakeDatabase(a);
    const std::string before = ReadFile(a);
    CNamedEvent event;
    ASSERT_TRUE(event.Create(root.Root(), kServerStopEventName));
    const CConsoleRun run = root.Run({"-compact", a});
    EXPECT_EQ(run.m_exitCode, 6);
    EXPECT_EQ(ReadFile(a), before);
}

}  // namespace
