// The program itself, run from an installation root of its own on 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/NamedObject.h"
#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kStopEvent = "Tallgrove2stopEvent";

// A socket listening on 127.0.0.1:port, or -1.
int ListenOn(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(fd, 5) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A client connection to 127.0.0.1:port whose reads give up after 10 s.
int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends text, ends the sending side and reads until the server closes (or the read limit
// passes).
std::string Exchange(int port, const std::string& text) {
    const int fd = Connect(port);
    if (fd < 0) {
        return "(no connection)";
    }
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    // The end of what we send: a command without its empty line is read to here.
    ::shutdown(fd, SHUT_WR);
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0;) {
        reply.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return reply;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// Runs a shell-free command line; its exit status.
int RunCommand(const std::vector<std::string>& args) {
    CChildOptions options;
    options.m_stdin = options.m_stdout = options.m_stderr = CChildStream::Null();
    options.m_searchPath = true;
    return CChildProcess::Run(args, options);
}

// An installation root with the program, settings and a page to fetch. "$ROOT" in a
// setting stands for the root.
class CInstallation {
public:
    explicit CInstallation(std::vector<std::string> settings = {}) : m_port(FreeLoopbackPort()) {
        for (const char* folder : {"bin", "etc", "webroot/log", "tmp", "mail", "data", "certs"}) {
            fs::create_directories(Root() + "/" + folder);
        }
        fs::copy_file(VELMORIN_TALLGROVE, Program());
        std::ofstream(Root() + "/webroot/index.html") << "hello from the root";
        settings.insert(settings.begin(), {"GeneralTcpipAddress=127.0.0.1", "FQDN=127.0.0.1",
                                           "GeneralTcpipPort=" + std::to_string(m_port),
                                           "DbOdbcConnectString=ODBC;DSN=zr2;"});
        std::ofstream conf(Root() + "/etc/velmorin.conf");
        for (std::string line : settings) {
            if (const size_t at = line.find("$ROOT"); at != std::string::npos) {
                line.replace(at, 5, Root());
            }
            conf << line << "\n";
        }
    }

    const std::string& Root() const { return m_root.Path(); }
    std::string Program() const { return Root() + "/bin/Tallgrove"; }
    int Port() const { return m_port; }

    // Starts "Tallgrove -NormalApp" (never as a service: no notification socket), as a
    // shell would with no ODBC variable, plus the given "NAME=value" variables.
    pid_t Start(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> variables = extra;
        const auto overridden = [&extra](const std::string& v) {
            for (const std::string& x : extra) {
                if (v.starts_with(x.substr(0, x.find('=') + 1))) {
                    return true;
                }
            }
            return false;
        };
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string v = *e;
            if (!v.starts_with("NOTIFY_SOCKET=") && !v.starts_with("INVOCATION_ID=") &&
                !v.starts_with("ODBCINI=") && !v.starts_with("ODBCSYSINI=") && !overridden(v)) {
                variables.push_back(v);
            }
        }
        CChildOptions options;
        options.m_environment = std::move(variables);
        options.m_stdin = CChildStream::Null();
        CChildProcess& started =
            m_started.emplace_back(std::vector<std::string>{Program(), "-NormalApp"}, options);
        EXPECT_EQ(started.StartError(), 0);
        return started.Pid();
    }

    // Waits until the server runs: its stop event exists (from before the listener opens)
    // and the console's component list shows every part started (the web server with its
    // start time, no component or enabled task "Stopped"). False after 20 s.
    bool WaitRunning() const {
        const std::string web = "0*Web Server*http://127.0.0.1:" + std::to_string(m_port) + "*";
        for (int i = 0; i < 2000; ++i) {
            if (CNamedEvent::Exists(Root(), kStopEvent)) {
                const std::string tasks = Exchange(m_port, "Brackmoor.GetTask\r\n\r\n");
                if (tasks.starts_with(web) && tasks.find(web + "\r\n") == std::string::npos &&
                    tasks.find("*Stopped\r\n") == std::string::npos) {
                    return true;
                }
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    // The exit status of pid, waiting up to 60 s; -1 when it does not end.
    int WaitExit(pid_t pid) {
        for (CChildProcess& child : m_started) {
            for (int i = 0; child.Pid() == pid && i < 6000; ++i) {
                if (const std::optional<int> status = child.TryWait()) {
                    return *status;
                }
                std::this_thread::sleep_for(10ms);
            }
        }
        return -1;
    }

    // Every log line of the day files, without the time stamp.
    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        for (const auto& entry : fs::directory_iterator(Root() + "/webroot/log")) {
            std::ifstream file(entry.path(), std::ios::binary);
            std::stringstream text;
            text << file.rdbuf();
            for (std::string& line : SplitLines(text.str())) {
                lines.push_back(line.size() >= 20 ? line.substr(20) : line);
            }
        }
        return lines;
    }
    bool Logged(const std::string& line) const {
        for (const std::string& l : Log()) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }

private:
    CTempFolder m_root;
    int m_port;
    std::vector<CChildProcess> m_started;  // killed with the installation
};

TEST(TallgroveTest, ServesRefusesASecondServerAndStopsEachWay) {
    enum class Stop { kEvent, kSigterm, kSigint };
    for (Stop how : {Stop::kEvent, Stop::kSigterm, Stop::kSigint}) {
        CInstallation installation;
        const pid_t server = installation.Start();
        ASSERT_TRUE(installation.WaitRunning());

        const std::string page = Exchange(installation.Port(), "GET /index.html HTTP/1.0\r\n\r\n");
        EXPECT_TRUE(page.starts_with("HTTP/1.0 200 OK\r\n")) << page;
        EXPECT_TRUE(page.ends_with("hello from the root")) << page;

        if (how == Stop::kEvent) {
            const pid_t second = installation.Start();
            EXPECT_NE(installation.WaitExit(second), 0);
            EXPECT_TRUE(installation.Logged("A Velmorin Server 2 is already running."));
            EXPECT_TRUE(CNamedEvent::Exists(installation.Root(), kStopEvent));
            ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
        } else {
            ::kill(server, how == Stop::kSigterm ? SIGTERM : SIGINT);
        }
        EXPECT_EQ(installation.WaitExit(server), 0);
        const std::vector<std::string> log = installation.Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), "Velmorin Server ended.");
        EXPECT_FALSE(CNamedEvent::Exists(installation.Root(), kStopEvent));
        const int fd = ListenOn(installation.Port());
        EXPECT_GE(fd, 0) << "the port is still taken";
        ::close(fd);
    }
}

TEST(TallgroveTest, AKilledServerLeavesNothingThatStopsTheNextOne) {
    CInstallation installation;
    const pid_t first = installation.Start();
    ASSERT_TRUE(installation.WaitRunning());
    ::kill(first, SIGKILL);
    installation.WaitExit(first);

    const pid_t next = installation.Start();
    ASSERT_TRUE(installation.WaitRunning());
    EXPECT_FALSE(installation.Logged("A Velmorin Server 2 is already running."));
    ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
    EXPECT_EQ(installation.WaitExit(next), 0);
}

TEST(TallgroveTest, ATakenPortFailsTheStart) {
    CInstallation installation;
    const int taken = ListenOn(installation.Port());
    ASSERT_GE(taken, 0);
    const pid_t server = installation.Start();
    EXPECT_NE(installation.WaitExit(server), 0);
    ::close(taken);
    EXPECT_TRUE(installation.Logged("Web server failed to start."));
    EXPECT_EQ(installation.Log().back(), "Velmorin Server ended.");
    EXPECT_FALSE(CNamedEvent::Exists(installation.Root(), kStopEvent));
}

// A task table whose row 1 ("Marker") is enabled and logs when it runs; the rest as default.
std::vector<std::string> MarkerTaskSettings() {
    std::vector<std::string> rows = {"TaskCount=6"};
    const char* names[] = {"Email Sender",    "Marker", "Due Date Reminder",
                           "Issue Escalator", "System", "Todo Reminder"};
    for (int row = 1; row <= 6; ++row) {
        char prefix[16];
        std::snprintf(prefix, sizeof(prefix), "Task%02d", row);
        const std::string p = prefix;
        rows.push_back(p + "Name=" + names[row - 1]);
        rows.push_back(p + "Enabled=" + (row == 2 ? "yes" : "no"));
        rows.push_back(p + "Script=" + (row == 2 ? "$ROOT/webroot/script/marker.zrs" : "none"));
        rows.push_back(p + "Interval=600");
    }
    return rows;
}

TEST(TallgroveTest, ConsoleCommandsOverTheHttpPort) {
    CInstallation installation(MarkerTaskSettings());
    fs::create_directories(installation.Root() + "/webroot/script");
    std::ofstream(installation.Root() + "/webroot/script/marker.zrs")
        << "Server.Log('marker task ran');\n";
    const pid_t server = installation.Start();
    ASSERT_TRUE(installation.WaitRunning());
    const int port = installation.Port();

    const std::string tasks = Exchange(port, "Brackmoor.GetTask\r\n\r\n");
    const std::vector<std::string> lines = SplitLines(tasks);
    ASSERT_GE(lines.size(), 4u) << tasks;
    EXPECT_TRUE(lines[0].starts_with("0*Web Server*http://127.0.0.1:" + std::to_string(port) + "*"))
        << lines[0];
    EXPECT_GT(lines[0].size(),
              ("0*Web Server*http://127.0.0.1:" + std::to_string(port) + "*").size());
    EXPECT_EQ(lines[1], "1*Secure Web Server*https://127.0.0.1*Disabled");
    EXPECT_EQ(lines[2], "2*Email Sender*Outgoing email server not set yet*Disabled");
    EXPECT_TRUE(tasks.ends_with("\r\n\r\n"));

    // A request whose body never comes is listed, and dropped on request.
    const int silent = Connect(port);
    ASSERT_GE(silent, 0);
    const std::string held = "POST /x.zrp HTTP/1.0\r\nContent-Length: 1000000\r\n\r\n";
    ASSERT_EQ(::send(silent, held.data(), held.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(held.size()));
    std::string listing;
    std::string prefix = "127.0.0.1*";
    for (int i = 0; i < 500 && listing.find(prefix) == std::string::npos; ++i) {
        std::this_thread::sleep_for(10ms);
        listing = Exchange(port, "Brackmoor.GetReq\r\n\r\n");
    }
    const size_t at = listing.find(prefix);
    ASSERT_NE(at, std::string::npos) << listing;
    const long threadId = std::atol(listing.c_str() + at + prefix.size());
    EXPECT_GT(threadId, 0);
    EXPECT_NE(listing.find("\r\nwatermark*"), std::string::npos) << listing;
    EXPECT_TRUE(listing.ends_with("\r\n\r\n")) << listing;

    EXPECT_EQ(Exchange(port, "Brackmoor.Disconnect " + std::to_string(threadId) + "\r\n"), "");
    char byte = 0;
    EXPECT_EQ(::recv(silent, &byte, 1, 0), 0) << "the silent connection was not dropped";
    ::close(silent);

    EXPECT_EQ(Exchange(port, "Brackmoor.Unknown\r\n\r\n"), "");
    EXPECT_EQ(Exchange(port, "Brackmoor.RunNow 3\r\n\r\n"), "");
    bool ran = false;
    for (int i = 0; i < 1000 && !ran; ++i) {
        std::this_thread::sleep_for(10ms);
        ran = installation.Logged("marker task ran");
    }
    EXPECT_TRUE(ran) << "RunNow 3 did not run the enabled task";

    ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
    EXPECT_EQ(installation.WaitExit(server), 0);
}

// The busy requests a GetReq reply lists: the thread id of each line showing `url`.
std::vector<long> ListedThreads(int port, const std::string& url) {
    std::vector<long> ids;
    for (const std::string& line : SplitLines(Exchange(port, "Brackmoor.GetReq\r\n\r\n"))) {
        const size_t star = line.find('*');
        if (star != std::string::npos && line.ends_with("*" + url + " (http)")) {
            ids.push_back(std::atol(line.c_str() + star + 1));
        }
    }
    return ids;
}

TEST(TallgroveTest, AFullPoolOfLoopingPagesIsSeenEndedAndStoppedInTime) {
    CInstallation installation;
    std::ofstream(installation.Root() + "/webroot/spin.zrp")
        << "<!--{ while (1) set Local.i = 1; endwhile }-->";
    const pid_t server = installation.Start();
    ASSERT_TRUE(installation.WaitRunning());
    const int port = installation.Port();
    const size_t full = 50;
    auto fill = [&] {
        std::vector<int> clients;
        for (size_t i = 0; i < full; ++i) {
            const int fd = Connect(port);
            const std::string request = "GET /spin.zrp HTTP/1.0\r\n\r\n";
            EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(request.size()));
            clients.push_back(fd);
        }
        return clients;
    };

    // Every thread is busy, and the console still sees them all and ends them.
    std::vector<int> clients = fill();
    std::vector<long> listed;
    for (int i = 0; i < 1000 && listed.size() < full; ++i) {
        std::this_thread::sleep_for(10ms);
        listed = ListedThreads(port, "/spin.zrp");
    }
    ASSERT_EQ(listed.size(), full);
    for (long id : listed) {
        EXPECT_EQ(Exchange(port, "Brackmoor.Disconnect " + std::to_string(id) + "\r\n"), "");
    }
    for (int i = 0; i < 1000 && !listed.empty(); ++i) {
        std::this_thread::sleep_for(10ms);
        listed = ListedThreads(port, "/spin.zrp");
    }
    EXPECT_TRUE(listed.empty()) << listed.size() << " pages still run";
    for (int fd : clients) {
        ::close(fd);
    }

    // A full pool of them again: the server stops within one wait, not one wait each.
    clients = fill();
    for (int i = 0; i < 1000 && listed.size() < full; ++i) {
        std::this_thread::sleep_for(10ms);
        listed = ListedThreads(port, "/spin.zrp");
    }
    ASSERT_EQ(listed.size(), full);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
    EXPECT_EQ(installation.WaitExit(server), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    for (int fd : clients) {
        ::close(fd);
    }
}

// A certificate made by openssl req in certs/ of the root; its serial reads "0102".
bool MakeCertificate(const std::string& root, const std::string& subject) {
    const std::string key = root + "/certs/server.key";
    const int rc = RunCommand({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                               "-keyout", key, "-out", root + "/certs/server.pem", "-subj",
                               "/CN=" + subject, "-days", "2", "-set_serial", "0x0102"});
    ::chmod(key.c_str(), 0600);
    return rc == 0;
}

TEST(TallgroveTest, HttpsWithTheChosenCertificate) {
    const int sslPort = FreeLoopbackPort();
    CInstallation installation({"GeneralSslPort=" + std::to_string(sslPort),
                                "SecurityCertName=tallgrove TEST",
                                "SecurityCertIssuer=Tallgrove Test", "SecurityCertSerial=0102"});
    ASSERT_TRUE(MakeCertificate(installation.Root(), "Tallgrove Test"));
    const pid_t server = installation.Start();
    ASSERT_TRUE(installation.WaitRunning());

    // More stalled handshakes than there are server threads: they wait in the listener.
    std::vector<int> stalled;
    for (int i = 0; i < 60; ++i) {
        const int fd = Connect(sslPort);
        ASSERT_GE(fd, 0);
        ::send(fd, "\x16\x03\x01\x00", 4, MSG_NOSIGNAL);
        stalled.push_back(fd);
    }
    const std::string url = "https://127.0.0.1:" + std::to_string(sslPort) + "/index.html";
    const std::string out = installation.Root() + "/tmp/curl.out";
    EXPECT_EQ(RunCommand({"curl", "-s", "-k", "--tlsv1.2", "-o", out, url}), 0);
    for (int fd : stalled) {
        ::close(fd);
    }
    std::ifstream body(out);
    std::string text((std::istreambuf_iterator<char>(body)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "hello from the root");

    const std::string peer = "127.0.0.1:" + std::to_string(sslPort);
    EXPECT_NE(RunCommand({"openssl", "s_client", "-connect", peer, "-tls1", "-cipher",
                          "DEFAULT@SECLEVEL=0"}),
              0);
    EXPECT_NE(RunCommand({"curl", "-s", "-k", "--tlsv1.0", "--tls-max", "1.1", url}), 0);

    const std::vector<std::string> lines =
        SplitLines(Exchange(installation.Port(), "Brackmoor.GetTask\r\n\r\n"));
    ASSERT_GE(lines.size(), 2u);
    const std::string secure = "1*Secure Web Server*https://127.0.0.1:" + std::to_string(sslPort);
    EXPECT_TRUE(lines[1].starts_with(secure + "*")) << lines[1];
    EXPECT_FALSE(lines[1].ends_with("*Disabled"));
    EXPECT_FALSE(lines[1].ends_with("*Stopped"));

    ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
    EXPECT_EQ(installation.WaitExit(server), 0);
}

// The listener reads an HTTPS head through its TLS layer: a NUL in it is refused there too.
TEST(TallgroveTest, AHeadHoldingANulOverHttpsIsAnInvalidAddress) {
    const int sslPort = FreeLoopbackPort();
    CInstallation installation({"GeneralSslPort=" + std::to_string(sslPort),
                                "SecurityCertName=tallgrove TEST",
                                "SecurityCertIssuer=Tallgrove Test", "SecurityCertSerial=0102"});
    ASSERT_TRUE(MakeCertificate(installation.Root(), "Tallgrove Test"));
    std::ofstream(installation.Root() + "/webroot/h.zrp")
        << "page ran host=[--{ Request.Host; }--]";
    const pid_t server = installation.Start();
    ASSERT_TRUE(installation.WaitRunning());

    using namespace std::string_literals;
    const struct {
        const char* label;
        std::string request;
        const char* answer;
    } cases[] = {
        {"NUL in a header value", "GET /h.zrp HTTP/1.0\r\nHost: re\0al\r\n\r\n"s,
         "Invalid HTTP address."},
        {"NUL in the request line", "GET /h.zrp\0 HTTP/1.0\r\nHost: real\r\n\r\n"s,
         "Invalid HTTP address."},
        {"no NUL", "GET /h.zrp HTTP/1.0\r\nHost: real\r\n\r\n"s, "page ran host=[real]"},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string in = installation.Root() + "/tmp/request" + std::to_string(i);
        const std::string out = installation.Root() + "/tmp/answer" + std::to_string(i++);
        std::ofstream(in, std::ios::binary) << c.request;
        const int input = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(input, 0);
        CChildOptions options;
        options.m_stdin = CChildStream::Fd(input);
        options.m_stdout = CChildStream::Truncate(out);
        options.m_stderr = CChildStream::Null();
        options.m_searchPath = true;
        CChildProcess::Run(
            {"openssl", "s_client", "-quiet", "-connect", "127.0.0.1:" + std::to_string(sslPort)},
            options);
        ::close(input);
        std::ifstream file(out, std::ios::binary);
        const std::string answer((std::istreambuf_iterator<char>(file)),
                                 std::istreambuf_iterator<char>());
        EXPECT_TRUE(answer.starts_with("HTTP/1.0 200 OK\r\n")) << answer;
        EXPECT_NE(answer.find(c.answer), std::string::npos) << answer;
        EXPECT_EQ(answer.find('\0'), std::string::npos) << answer;
        if (c.answer[0] == 'I') {
            EXPECT_EQ(answer.find("page ran"), std::string::npos) << answer;
        }
    }

    ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
    EXPECT_EQ(installation.WaitExit(server), 0);
}

// Over TLS: sends the request, then close notify (and, with `fin`, the end of its TCP
// side), then reads the answer to its end.
std::string HalfClosedTlsExchange(int port, const std::string& request, bool fin) {
    const int fd = Connect(port);
    if (fd < 0) {
        return "(no connection)";
    }
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                              &SSL_CTX_free);
    std::unique_ptr<SSL, decltype(&SSL_free)> tls(SSL_new(context.get()), &SSL_free);
    SSL_set_fd(tls.get(), fd);
    std::string reply;
    if (SSL_connect(tls.get()) == 1 &&
        SSL_write(tls.get(), request.data(), static_cast<int>(request.size())) ==
            static_cast<int>(request.size())) {
        SSL_shutdown(tls.get());
        if (fin) {
            ::shutdown(fd, SHUT_WR);
        }
        char buffer[4096];
        for (int n; (n = SSL_read(tls.get(), buffer, sizeof(buffer))) > 0;) {
            reply.append(buffer, static_cast<size_t>(n));
        }
    }
    tls.reset();
    ::close(fd);
    return reply;
}

TEST(TallgroveTest, HalfClosedClientsGetTheWholeAnswerOverHttpsToo) {
    const int sslPort = FreeLoopbackPort();
    CInstallation installation({"GeneralSslPort=" + std::to_string(sslPort),
                                "SecurityCertName=tallgrove TEST",
                                "SecurityCertIssuer=Tallgrove Test", "SecurityCertSerial=0102"});
    ASSERT_TRUE(MakeCertificate(installation.Root(), "Tallgrove Test"));
    const std::string web = installation.Root() + "/webroot";
    std::ofstream(web + "/wait.sh") << "#!/bin/sh\nsleep 1.5\n";
    fs::permissions(web + "/wait.sh", fs::perms::owner_all);
    std::ofstream(web + "/slow.zrp")
        << "<!--{ file w('wait.sh'); }-->a<!--{ set Local.r = w.run('', '20'); }-->b<!--{ set "
           "Local.r = 1; }-->c";
    const pid_t server = installation.Start();
    ASSERT_TRUE(installation.WaitRunning());
    for (bool fin : {false, true}) {
        const std::string answer =
            HalfClosedTlsExchange(sslPort, "GET /slow.zrp HTTP/1.0\r\n\r\n", fin);
        EXPECT_TRUE(answer.starts_with("HTTP/1.0 200 OK\r\n")) << fin << ": " << answer;
        EXPECT_TRUE(answer.ends_with("\r\n\r\nabc")) << fin << ": " << answer;
    }
    ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
    EXPECT_EQ(installation.WaitExit(server), 0);
}

TEST(TallgroveTest, ACertificateNamedButMissingFailsTheStart) {
    CInstallation installation({"GeneralSslPort=" + std::to_string(FreeLoopbackPort()),
                                "SecurityCertName=nobody", "SecurityCertIssuer=nobody",
                                "SecurityCertSerial=0A0B"});
    ASSERT_TRUE(MakeCertificate(installation.Root(), "Tallgrove Test"));
    const pid_t server = installation.Start();
    EXPECT_NE(installation.WaitExit(server), 0);
    EXPECT_TRUE(installation.Logged("Certificate [0A0B] not found."));
    EXPECT_TRUE(installation.Logged("Failed to initialize SSL."));
    EXPECT_EQ(installation.Log().back(), "Velmorin Server ended.");
}

// The sample database with its query page and a page of unique ids, in an installation whose
// etc/odbc.ini names it "zr2" through the driver the system lists as "SQLite3".
class CSampleInstallation : public CInstallation {
public:
    CSampleInstallation() {
        const std::string sample = VELMORIN_SOURCE_ROOT "/sample";
        m_ready = RunCommand({"sqlite3", Database(),
                              ".read " VELMORIN_SOURCE_ROOT "/data/zr2sqlite.sql"}) == 0;
        WriteDataSource(Root() + "/etc/odbc.ini", Database());
        fs::copy_file(sample + "/webroot/bench/query.zrp", Root() + "/webroot/query.zrp");
        std::ofstream(Root() + "/webroot/uid.zrp")
            << "ids --{ Server.GetUniqueID(support_request, id); }-- "
               "--{ Server.GetUniqueID('support_request', 'id'); }--";
    }
    bool Ready() const { return m_ready; }

    // Starts the program with the system's driver list, which unloads the SQLite driver at
    // exit: the leak checker could no longer name the driver its suppressions excuse, so it
    // checks the program's own memory in the other tests only.
    pid_t StartWithSystemDrivers(std::vector<std::string> variables = {}) {
        const char* options = ::getenv("ASAN_OPTIONS");
        variables.push_back(std::string("ASAN_OPTIONS=") + (options ? options : "") +
                            ":detect_leaks=0");
        return Start(variables);
    }
    std::string Database() const { return Root() + "/data/zr2.db"; }

    static void WriteDataSource(const std::string& file, const std::string& database) {
        std::ofstream(file) << "[zr2]\nDriver=SQLite3\nDatabase=" << database
                            << "\nTimeout=10000\n";
    }

private:
    bool m_ready = false;
};

// The program finds the installation's data sources however it was started; an ODBCINI of
// the administrator's own still wins.
TEST(TallgroveTest, ServesTheSampleQueryWithoutAnyOdbcVariable) {
    CSampleInstallation installation;
    ASSERT_TRUE(installation.Ready());
    // Another data-source file whose zr2 is a database with another first request.
    const std::string other = installation.Root() + "/other";
    fs::create_directories(other);
    ASSERT_EQ(RunCommand({"sqlite3", other + "/zr2.db",
                          ".read " VELMORIN_SOURCE_ROOT "/data/zr2sqlite.sql",
                          "UPDATE support_request SET title = 'From elsewhere' WHERE id = 1"}),
              0);
    CSampleInstallation::WriteDataSource(other + "/odbc.ini", other + "/zr2.db");

    struct Case {
        std::vector<std::string> m_variables;
        const char* m_title;
    };
    for (const Case& c : {Case{{}, "#1 Welcome to Velmorin Server"},
                          Case{{"ODBCINI=" + other + "/odbc.ini"}, "#1 From elsewhere"}}) {
        SCOPED_TRACE(c.m_title);
        const pid_t server = installation.StartWithSystemDrivers(c.m_variables);
        ASSERT_TRUE(installation.WaitRunning());
        const std::string page = Exchange(installation.Port(), "GET /query.zrp HTTP/1.0\r\n\r\n");
        EXPECT_TRUE(page.starts_with("HTTP/1.0 200 OK\r\n")) << page;
        EXPECT_NE(page.find(c.m_title), std::string::npos) << page;
        ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
        EXPECT_EQ(installation.WaitExit(server), 0);
    }
}

TEST(TallgroveTest, UniqueIdsWithTheDefaultRegistryTableOnTheSampleDatabase) {
    CSampleInstallation installation;
    ASSERT_TRUE(installation.Ready());
    const pid_t server = installation.StartWithSystemDrivers();
    ASSERT_TRUE(installation.WaitRunning());
    // The sample holds request 1: the counter starts above it.
    const std::string page = Exchange(installation.Port(), "GET /uid.zrp HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(page.ends_with("ids 2 3")) << page;
    ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
    EXPECT_EQ(installation.WaitExit(server), 0);
}

// The program prints dates the way its LC_TIME locale writes them: the console's start time
// of the web server is "mm/dd hh:mmAM" in the C locale and "dd.mm hh:mm" in German.
TEST(TallgroveTest, DatesFollowTheProgramsTimeLocale) {
    struct Case {
        const char* m_locale;
        char m_dateSeparator;
        bool m_dayHalf;
    };
    for (const Case& c : {Case{"C", '/', true}, Case{"de_DE.UTF-8", '.', false}}) {
        SCOPED_TRACE(c.m_locale);
        CInstallation installation;
        const pid_t server =
            installation.Start({std::string("LC_TIME=") + c.m_locale, "LC_ALL=", "LANG="});
        ASSERT_TRUE(installation.WaitRunning());
        const std::vector<std::string> lines =
            SplitLines(Exchange(installation.Port(), "Brackmoor.GetTask\r\n\r\n"));
        ASSERT_FALSE(lines.empty());
        const std::string started = lines[0].substr(lines[0].rfind('*') + 1);
        ASSERT_EQ(started.size(), c.m_dayHalf ? 13u : 11u) << started;
        EXPECT_EQ(started[2], c.m_dateSeparator) << started;
        EXPECT_EQ(started.ends_with("AM") || started.ends_with("PM"), c.m_dayHalf) << started;
        ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
        EXPECT_EQ(installation.WaitExit(server), 0);
    }
}

// Temporary files of writers killed in an earlier run go at the next start, whenever they were
// written, the start's own second included; a file still being written (locked) stays.
TEST(TallgroveTest, LeftoversOfKilledWritersAreRemovedAtTheStart) {
    CInstallation installation;
    const std::string& root = installation.Root();
    fs::create_directories(root + "/mail/out");
    fs::create_directories(root + "/mail/in");
    const std::time_t now = std::time(nullptr);
    struct Case {
        std::string m_path;
        std::time_t m_modified;
        bool m_locked;
        bool m_kept;
    };
    const std::vector<Case> cases = {
        {root + "/etc/.new-velmorin.conf-Ab12Cd", now - 3600, false, false},
        {root + "/mail/out/.new-20250101-101010-Ef34Gh", now - 3600, false, false},
        {root + "/mail/in/.new-20250101-101010-Ij56Kl", now - 3600, false, false},
        {root + "/mail/out/.new-20250101-101010-Mn78Op", now - 3600, true, true},
        {root + "/mail/out/.new-20250101-101010-Qr90St", now + 3600, false, false},
        {root + "/mail/out/.new-20250101-101010-Uv12Wx", now, false, false},
        {root + "/etc/.new-velmorin.conf-Yz34Ab", now, false, false},
        {root + "/mail/out/20250101-101010.eml", now - 3600, false, true},
    };
    std::vector<int> locks;
    for (const Case& c : cases) {
        std::ofstream(c.m_path) << std::string(4096, 'm');
        const struct timespec times[2] = {{c.m_modified, 0}, {c.m_modified, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, c.m_path.c_str(), times, 0), 0);
        if (c.m_locked) {
            locks.push_back(::open(c.m_path.c_str(), O_RDWR | O_CLOEXEC));
            ASSERT_EQ(::flock(locks.back(), LOCK_EX), 0);
        }
    }
    const pid_t server = installation.Start();
    ASSERT_TRUE(installation.WaitRunning());
    for (const Case& c : cases) {
        EXPECT_EQ(fs::exists(c.m_path), c.m_kept) << c.m_path;
    }
    for (int fd : locks) {
        ::close(fd);
    }
    ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
    EXPECT_EQ(installation.WaitExit(server), 0);
}

// The day file of today in a root.
std::string TodaysDayFile(const std::string& root) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[16];
    std::strftime(name, sizeof name, "day%d.txt", &local);
    return root + "/webroot/log/" + name;
}

std::string FirstLine(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string line;
    std::getline(file, line);
    return line;
}

// A flood of over-long header lines is folded and cut short in the log: it never pushes
// the day file's start-up lines aside.
TEST(TallgroveTest, LongHeaderLinesLeaveTheDayFilesFirstLineInPlace) {
    CInstallation installation;
    const pid_t server = installation.Start();
    ASSERT_TRUE(installation.WaitRunning());
    const std::string dayFile = TodaysDayFile(installation.Root());
    const std::string first = FirstLine(dayFile);
    ASSERT_FALSE(first.empty());
    for (int request = 0; request < 30; ++request) {
        std::string head = "GET /index.html HTTP/1.0\r\n";
        for (int line = 0; line < 12; ++line) {
            head += "X-Long-" + std::to_string(request) + "-" + std::to_string(line) + ": " +
                    std::string(5000, static_cast<char>('a' + line)) + "\r\n";
        }
        const std::string reply = Exchange(installation.Port(), head + "\r\n");
        ASSERT_TRUE(reply.starts_with("HTTP/1.0 ")) << reply.substr(0, 200);
    }
    EXPECT_EQ(FirstLine(dayFile), first);
    EXPECT_FALSE(fs::exists(dayFile + ".1"));
    bool logged = false;
    for (const std::string& line : installation.Log()) {
        if (line.starts_with("Long header [")) {
            logged = true;
            EXPECT_LE(line.size(), 200u + std::string("Long header [] ignored.").size());
        }
    }
    EXPECT_TRUE(logged);
    ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
    EXPECT_EQ(installation.WaitExit(server), 0);
}

// Started by hand (no umask of a script) from a root whose group the admins share but whose
// log and mail folders do not exist yet, the server makes them with the root's group and
// keeps its day log and queued mail from other users.
TEST(TallgroveTest, FilesTheServerMakesAreForTheRootsGroupOnly) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving files a group of no process needs root";
    }
    constexpr gid_t kGroup = 4242;
    CInstallation installation;
    const std::string& root = installation.Root();
    fs::remove_all(root + "/webroot/log");
    fs::remove_all(root + "/mail");
    ASSERT_EQ(::chown(root.c_str(), static_cast<uid_t>(-1), kGroup), 0);
    ASSERT_EQ(::chown((root + "/webroot").c_str(), static_cast<uid_t>(-1), kGroup), 0);
    std::ofstream(root + "/webroot/queue.zrp")
        << "<!--{ email_out m; m.SetVar('to', 'ann@x.test'); m.SetVar('subject', 'modes');"
           " m.SetVar('content', 'secret'); }-->--{ m.Send(); }--";
    const mode_t before = ::umask(022);  // what a shell gives
    const pid_t server = installation.Start();
    ::umask(before);
    ASSERT_TRUE(installation.WaitRunning());
    EXPECT_TRUE(Exchange(installation.Port(), "GET /queue.zrp HTTP/1.0\r\n\r\n").ends_with("1"));
    std::vector<std::string> made = {TodaysDayFile(root)};
    for (const auto& entry : fs::directory_iterator(root + "/mail/outbox")) {
        made.push_back(entry.path());
    }
    ASSERT_EQ(made.size(), 2u) << "no mail was queued";
    for (const std::string& path : {root + "/webroot/log", root + "/mail", root + "/mail/outbox"}) {
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 07777, 02750u) << path;
        EXPECT_EQ(st.st_gid, kGroup) << path;
    }
    for (const std::string& path : made) {
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 07777, 0640u) << path;
        EXPECT_EQ(st.st_gid, kGroup) << path;
    }
    ASSERT_TRUE(CNamedEvent::Signal(installation.Root(), kStopEvent));
    EXPECT_EQ(installation.WaitExit(server), 0);
}

// serve.sh lays an installation out for its owner and the root's group alone: another user
// reads none of its secrets, data or logs, the wider modes of an earlier layout are narrowed
// and told, and what the running server makes (today's day log, a queued mail) is 0640 with
// the root's group.
TEST(TallgroveTest, AServeShInstallationIsClosedToOtherUsers) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "acting as another user needs root";
    }
    CTempFolder folder;
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0755), 0);  // others may reach the root
    const std::string root = folder.Path() + "/install";
    // A group no process here has: a file carries it only when it was given the root's.
    constexpr gid_t kGroup = 4242;
    for (const char* sub : {"etc", "data", "webroot/log", "mail/outbox"}) {
        fs::create_directories(root + "/" + sub);
    }
    ASSERT_EQ(::chown(root.c_str(), static_cast<uid_t>(-1), kGroup), 0);
    const std::string oldDayFile = TodaysDayFile(root) == root + "/webroot/log/day01.txt"
                                       ? root + "/webroot/log/day02.txt"
                                       : root + "/webroot/log/day01.txt";
    const std::vector<std::string> earlier = {root + "/etc/odbc.ini", root + "/data/old.db",
                                              oldDayFile,
                                              root + "/mail/outbox/20240101-000000.txt"};
    for (const std::string& path : earlier) {
        std::ofstream(path) << "written by an earlier layout\n";
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    }
    ASSERT_EQ(::chmod((root + "/mail").c_str(), 0755), 0);

    const int port = FreeLoopbackPort();
    const std::string said = folder.Path() + "/serve.out";
    CChildOptions options;
    options.m_stdin = CChildStream::Null();
    options.m_stdout = options.m_stderr = CChildStream::Append(said);
    options.m_searchPath = true;
    const std::string script = std::string(VELMORIN_SOURCE_ROOT) + "/scripts/serve.sh";
    CChildProcess serve({"bash", script, "--root", root, "--port", std::to_string(port), "--binary",
                         VELMORIN_TALLGROVE},
                        options);
    bool up = false;
    for (int i = 0; i < 1200 && !up; ++i) {
        up = Exchange(port, "GET / HTTP/1.0\r\n\r\n").starts_with("HTTP/1.0 ");
        if (!up) {
            ASSERT_FALSE(serve.TryWait().has_value()) << ReadFile(said);
            std::this_thread::sleep_for(100ms);
        }
    }
    ASSERT_TRUE(up) << ReadFile(said);
    std::ofstream(root + "/webroot/queue.zrp")
        << "<!--{ email_out m; m.SetVar('to', 'ann@x.test'); m.SetVar('subject', 'modes');"
           " m.SetVar('content', 'secret'); }-->--{ m.Send(); }--";
    EXPECT_TRUE(Exchange(port, "GET /queue.zrp HTTP/1.0\r\n\r\n").ends_with("1"));
    std::vector<std::string> made = {root + "/etc/velmorin.conf", root + "/data/zr2.db",
                                     TodaysDayFile(root)};
    for (const auto& entry : fs::directory_iterator(root + "/mail/outbox")) {
        if (entry.path().filename() != "20240101-000000.txt") {
            made.push_back(entry.path());
        }
    }
    EXPECT_EQ(made.size(), 4u) << "no mail was queued";
    for (const char* suffix : {"-wal", "-shm"}) {
        if (fs::exists(root + "/data/zr2.db" + suffix)) {
            made.push_back(root + "/data/zr2.db" + suffix);
        }
    }

    const std::string told = ReadFile(said);
    for (const std::string& path : earlier) {
        EXPECT_NE(told.find(path + ": mode 644 -> 640"), std::string::npos) << told;
    }
    EXPECT_NE(told.find(root + "/mail: mode 755 -> 2750"), std::string::npos) << told;
    made.insert(made.end(), earlier.begin(), earlier.end());
    for (const std::string& path : made) {
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 07777, 0640u) << path;
        EXPECT_EQ(st.st_gid, kGroup) << path;
        EXPECT_NE(RunCommand({"runuser", "-u", "nobody", "--", "cat", path}), 0) << path;
    }
    struct Folder {
        const char* m_name;
        mode_t m_mode;
    };
    for (const Folder& f :
         {Folder{"etc", 02750}, Folder{"data", 02750}, Folder{"tmp", 02770},
          Folder{"mail/outbox", 02750}, Folder{"webroot/log", 02750}, Folder{"certs", 02700}}) {
        struct stat st {};
        ASSERT_EQ(::stat((root + "/" + f.m_name).c_str(), &st), 0) << f.m_name;
        EXPECT_EQ(st.st_mode & 07777, f.m_mode) << f.m_name;
        EXPECT_EQ(st.st_gid, kGroup) << f.m_name;
    }
    // The refusals above are the modes', not an unreachable root.
    EXPECT_EQ(RunCommand({"runuser", "-u", "nobody", "--", "ls", root}), 0);

    EXPECT_EQ(RunCommand({"bash", script, "--root", root, "--stop"}), 0);
    EXPECT_EQ(serve.Wait(), 0);
}

}  // namespace
