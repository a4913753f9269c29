#include "server/ConsoleCommands.h"

#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "engine/foundation/SocketConn.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/settings/ServerSettings.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/TempFolder.h"
#include "server/ServerStatus.h"

namespace {

class CFakeConnections : public CConsoleConnections {
public:
    int List(long askingThread, std::vector<CConsoleConnection>& busy) override {
        m_askedBy = askingThread;
        busy = m_busy;
        return m_watermark;
    }
    void Disconnect(long threadId) override { m_disconnected.push_back(threadId); }

    std::vector<CConsoleConnection> m_busy;
    int m_watermark = 0;
    long m_askedBy = -1;
    std::vector<long> m_disconnected;
};

class ConsoleCommandsTest : public ::testing::Test {
protected:
    ConsoleCommandsTest() : m_settings(m_root.Path(), SettingsBuild::kServer) {
        m_settings.Load();
        m_settings.FQDN = "srv.example";
        m_settings.GeneralTcpipPort = "8080";
        m_settings.GeneralSslPort = "443";
    }

    // The lines of a reply, without their CR LF; the reply must end in CR LF.
    static std::vector<std::string> Lines(const std::string& reply) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = reply.find("\r\n", start)) != std::string::npos; start = end + 2) {
            lines.push_back(reply.substr(start, end - start));
        }
        EXPECT_EQ(start, reply.size()) << "reply does not end in CR LF";
        return lines;
    }

    CTempFolder m_root;
    CCapturedLog m_log{g_log};
    CServerSettings m_settings;
    CServerStatus m_status;
    CFakeConnections m_connections;
    CConsoleCommands m_commands{m_settings, m_status, m_connections};
};

TEST_F(ConsoleCommandsTest, GetTaskListsComponentsThenTasksThenAnEmptyLine) {
    const int64_t webStart = 1765000000;
    const int64_t secureStart = 1765000123;
    struct Case {
        const char* port;
        const char* sslPort;
        const char* certificate;
        bool secureRunning;
        std::string web;
        std::string secure;
    } cases[] = {
        {"8080", "443", "", false,
         "0*Web Server*http://srv.example:8080*" + CSspDateTime(webStart).GetDateTimeStr2(),
         "1*Secure Web Server*https://srv.example*Disabled"},
        {"80", "8443", "www", false,
         "0*Web Server*http://srv.example*" + CSspDateTime(webStart).GetDateTimeStr2(),
         "1*Secure Web Server*https://srv.example:8443*Stopped"},
        {"80", "443", "www", true,
         "0*Web Server*http://srv.example*" + CSspDateTime(webStart).GetDateTimeStr2(),
         "1*Secure Web Server*https://srv.example*" + CSspDateTime(secureStart).GetDateTimeStr2()},
    };
    m_status.SetWebServer(true, webStart);
    for (const Case& c : cases) {
        m_settings.GeneralTcpipPort = c.port;
        m_settings.GeneralSslPort = c.sslPort;
        m_settings.SecurityCertName = c.certificate;
        m_status.SetSecureServer(c.secureRunning, c.secureRunning ? secureStart : 0);

        const std::string reply = m_commands.Answer("Brackmoor.GetTask", "", 7);
        ASSERT_GE(reply.size(), 4u);
        EXPECT_EQ(reply.substr(reply.size() - 4), "\r\n\r\n");
        const std::vector<std::string> lines = Lines(reply);
        ASSERT_EQ(lines.size(), 2 + m_settings.m_tasks.size() + 1) << reply;
        EXPECT_EQ(lines[0], c.web);
        EXPECT_EQ(lines[1], c.secure);
        EXPECT_EQ(lines[2], "2*Email Sender*Outgoing email server not set yet*Disabled");
        EXPECT_EQ(lines.back(), "");
    }
}

TEST_F(ConsoleCommandsTest, TaskStatesFollowTheScheduler) {
    {
        std::lock_guard guard(m_settings.TaskLock());
        m_settings.m_tasks[1].m_enabled = true;
    }
    const std::string nextRun = CSspDateTime(m_settings.m_tasks[1].m_nextRun).GetDateTimeStr2();
    EXPECT_EQ(Lines(m_commands.GetTask())[3].substr(0, 17), "3*Email Importer*");
    EXPECT_TRUE(Lines(m_commands.GetTask())[3].ends_with("*Stopped"));

    m_status.SetScheduler([](int) { return true; });
    EXPECT_TRUE(Lines(m_commands.GetTask())[3].ends_with("*" + nextRun));
}

TEST_F(ConsoleCommandsTest, GetReqListsOtherConnectionsWithTheirUrlsKeptInOneField) {
    const std::string assigned = CSspDateTime(1765000200).GetDateTimeStr2();
    m_connections.m_busy = {
        {"127.0.0.1", 41, assigned, "/a/b.zrp?x=1 (http)"},
        {"10.0.0.9", 42, assigned, "/q*r.zrp?s=*\r\n (https)"},
        {"127.0.0.1", 7, assigned, "/asking (http)"},
    };
    m_connections.m_watermark = 3;
    const std::string& when = assigned;
    EXPECT_EQ(m_commands.Answer("Brackmoor.GetReq", "", 7),
              "127.0.0.1*41*" + when + "*/a/b.zrp?x=1 (http)\r\n" + "10.0.0.9*42*" + when +
                  "*/q%2Ar.zrp?s=%2A%0D%0A (https)\r\n" + "watermark*3\r\n\r\n");
    EXPECT_EQ(m_connections.m_askedBy, 7);
}

TEST_F(ConsoleCommandsTest, GetReqWithNothingElseServedIsTheWatermarkAlone) {
    m_connections.m_watermark = 1;
    EXPECT_EQ(m_commands.GetReq(5), "watermark*1\r\n\r\n");
}

TEST_F(ConsoleCommandsTest, RunNowHandsTheNumberToTheSchedulerOrLogsWhyNot) {
    std::vector<int> posted;
    EXPECT_EQ(m_commands.Answer("Brackmoor.RunNow", "3", 1), "");
    EXPECT_TRUE(m_log.HasLine("Script Thread not running"));

    m_status.SetScheduler([&posted](int task) {
        posted.push_back(task);
        return true;
    });
    EXPECT_EQ(m_commands.Answer("Brackmoor.RunNow", "2", 1), "");
    EXPECT_EQ(m_commands.Answer("Brackmoor.RunNow", "12abc", 1), "");
    EXPECT_EQ(posted, (std::vector<int>{2, 12}));

    // Whatever errno an earlier call left, the log names the closed queue.
    m_status.SetScheduler([](int) {
        errno = ENOENT;
        return false;
    });
    m_commands.RunNow("4");
    EXPECT_TRUE(m_log.Has("RunNow failed: the scheduler's queue is closed."));
    EXPECT_FALSE(m_log.Has("No such file"));
}

TEST_F(ConsoleCommandsTest, DisconnectNamesTheThreadAndUnknownCommandsDoNothing) {
    EXPECT_EQ(m_commands.Answer("Brackmoor.Disconnect", "4242", 1), "");
    EXPECT_EQ(m_connections.m_disconnected, (std::vector<long>{4242}));

    for (const char* command : {"Brackmoor.Status", "Brackmoor.gettask", "Brackmoor."}) {
        EXPECT_EQ(m_commands.Answer(command, "1", 1), "") << command;
    }
    EXPECT_EQ(m_connections.m_disconnected.size(), 1u);
    EXPECT_EQ(m_connections.m_askedBy, -1);
}

// A connection accepted on 127.0.0.1 whose peer address the test may replace.
struct CLoopbackPair {
    CLoopbackPair() {
        EXPECT_TRUE(m_listener.Listen("127.0.0.1", 0));
        m_client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(m_listener.GetLocalPort()));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(m_client, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 0);
        EXPECT_TRUE(m_listener.Accept(m_server));
    }
    ~CLoopbackPair() { ::close(m_client); }

    // Everything the client receives until the server closes.
    std::string ReadAll() {
        std::string data;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(m_client, buffer, sizeof(buffer), 0)) > 0;) {
            data.append(buffer, static_cast<size_t>(n));
        }
        return data;
    }

    CSocketConn m_listener;
    CSocketConn m_server;
    int m_client = -1;
};

TEST_F(ConsoleCommandsTest, ServeAnswersALocalPeer) {
    CLoopbackPair pair;
    m_connections.m_watermark = 2;
    m_commands.Serve(pair.m_server, "Brackmoor.GetReq", "", 9);
    pair.m_server.Close();
    EXPECT_EQ(pair.ReadAll(), "watermark*2\r\n\r\n");
}

TEST_F(ConsoleCommandsTest, ServeRefusesAPeerFromElsewhereWithoutAReply) {
    CLoopbackPair pair;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    ::inet_pton(AF_INET, "192.0.2.7", &remote.sin_addr);
    pair.m_server.SetPeerAddress(remote);
    m_connections.m_watermark = 2;

    for (const char* command : {"Brackmoor.GetReq", "Brackmoor.Disconnect", "Brackmoor.RunNow"}) {
        m_commands.Serve(pair.m_server, command, "12", 9);
    }
    pair.m_server.Close();
    EXPECT_EQ(pair.ReadAll(), "");
    EXPECT_EQ(m_connections.m_askedBy, -1);
    EXPECT_TRUE(m_connections.m_disconnected.empty());
    EXPECT_TRUE(m_log.HasLine("Console command refused: 192.0.2.7 is not on this host."));
    EXPECT_FALSE(m_log.HasLine("Script Thread not running"));
}

// A group of this host with one user in it as a supplementary group, removed at the end.
class CTemporaryMember {
public:
    CTemporaryMember()
        : m_group("vmadm" + std::to_string(::getpid())),
          m_user("vmusr" + std::to_string(::getpid())) {
        if (CChildProcess::Run({"/usr/sbin/groupadd", m_group}) != 0) {
            return;
        }
        m_groupMade = true;
        if (CChildProcess::Run({"/usr/sbin/useradd", "-M", "-N", "-G", m_group, m_user}) != 0) {
            return;
        }
        m_userMade = true;
        const passwd* user = ::getpwnam(m_user.c_str());
        const group* found = ::getgrnam(m_group.c_str());
        if (user != nullptr && found != nullptr) {
            m_uid = user->pw_uid;
            m_gid = found->gr_gid;
        }
    }
    ~CTemporaryMember() {
        if (m_userMade) {
            CChildProcess::Run({"/usr/sbin/userdel", m_user});
        }
        if (m_groupMade) {
            CChildProcess::Run({"/usr/sbin/groupdel", m_group});
        }
    }
    bool Made() const { return m_uid != 0; }

    uid_t m_uid = 0;
    gid_t m_gid = 0;

private:
    std::string m_group;
    std::string m_user;
    bool m_groupMade = false;
    bool m_userMade = false;
};

// What a client running as `uid` gets for a GetReq line served here.
std::string ReplyToUser(CConsoleCommands& commands, uid_t uid) {
    CSocketConn listener;
    EXPECT_TRUE(listener.Listen("127.0.0.1", 0));
    int toParent[2];
    EXPECT_EQ(::pipe(toParent), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(toParent[0]);
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(uid, uid, uid) != 0) {
            ::_exit(2);
        }
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(listener.GetLocalPort()));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
            ::_exit(3);
        }
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0;) {
            if (::write(toParent[1], buffer, static_cast<size_t>(n)) != n) {
                ::_exit(4);
            }
        }
        ::_exit(0);
    }
    ::close(toParent[1]);
    CSocketConn server;
    EXPECT_TRUE(listener.Accept(server));
    commands.Serve(server, "Brackmoor.GetReq", "", 9);
    server.Close();
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = ::read(toParent[0], buffer, sizeof(buffer))) > 0;) {
        reply.append(buffer, static_cast<size_t>(n));
    }
    ::close(toParent[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return reply;
}

// Any user of the host reaches the loopback port; only the installation's administrators are
// answered: root, the server's user and the members of the root folder's group.
TEST_F(ConsoleCommandsTest, OnlyAdministratorsOfTheRootAreAnswered) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as other users";
    }
    CTemporaryMember member;
    ASSERT_TRUE(member.Made()) << "groupadd/useradd failed";
    ASSERT_EQ(::chown(m_root.Path().c_str(), static_cast<uid_t>(-1), member.m_gid), 0);
    ::chmod(m_root.Path().c_str(), 0750);
    m_connections.m_watermark = 3;
    const struct {
        const char* who;
        uid_t uid;
        bool answered;
    } cases[] = {
        {"root", 0, true},
        {"member of the root's group", member.m_uid, true},
        {"nobody", 65534, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplyToUser(m_commands, c.uid), c.answered ? "watermark*3\r\n\r\n" : "") << c.who;
    }
    EXPECT_TRUE(
        m_log.HasLine("Console command refused: user 65534 is not an administrator of "
                      "this installation."));
}

}  // namespace
