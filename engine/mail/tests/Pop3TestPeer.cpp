#include "engine/mail/tests/Pop3TestPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

extern char** environ;

namespace pop3test {

namespace {

bool SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

// One CR LF line from fd (without it); false when the peer closed or 10 s passed.
bool ReadCommand(int fd, std::string& pending, std::string& line) {
    for (;;) {
        size_t end = pending.find("\r\n");
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            pending.erase(0, end + 2);
            return true;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) {
            return false;
        }
        char buffer[4096];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        pending.append(buffer, static_cast<size_t>(n));
    }
}

bool CanConnect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

}  // namespace

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

ScriptedPop3::ScriptedPop3(std::vector<Pop3Step> steps, bool closeAfterSteps)
    : m_steps(std::move(steps)), m_bCloseAfterSteps(closeAfterSteps) {
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(m_listenFd, 1);
    socklen_t length = sizeof address;
    getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

ScriptedPop3::~ScriptedPop3() {
    Lines();
}

void ScriptedPop3::Serve() {
    pollfd p{m_listenFd, POLLIN, 0};
    int fd = poll(&p, 1, 15000) > 0 ? accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    if (fd >= 0) {
        std::string pending;
        std::string line;
        bool open = true;
        for (const Pop3Step& step : m_steps) {
            if (!step.m_expect.empty()) {
                if (!(open = ReadCommand(fd, pending, line))) {
                    break;
                }
                std::lock_guard lock(m_mutex);
                m_lines.push_back(line);
            }
            if (!step.m_reply.empty() && !SendAll(fd, step.m_reply)) {
                open = false;
                break;
            }
        }
        while (open && !m_bCloseAfterSteps && ReadCommand(fd, pending, line)) {
            {
                std::lock_guard lock(m_mutex);
                m_lines.push_back(line);
            }
            SendAll(fd, "+OK\r\n");
            if (line == "QUIT") {
                break;
            }
        }
        close(fd);
    }
    m_bDone = true;
}

std::vector<std::string> ScriptedPop3::Lines() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_listenFd >= 0) {
        close(m_listenFd);
        m_listenFd = -1;
    }
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool ScriptedPop3::Received(const std::string& prefix) {
    for (const std::string& line : Lines()) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            return true;
        }
    }
    return false;
}

DovecotServer::DovecotServer() {
    const std::string& root = m_folder.Path();
    // dovecot's own users read the passwd-file and the folders.
    chmod(root.c_str(), 0755);
    m_maildir = root + "/home/Maildir";
    std::filesystem::create_directories(m_maildir + "/new");
    std::filesystem::create_directories(m_maildir + "/cur");
    std::filesystem::create_directories(m_maildir + "/tmp");
    std::filesystem::create_directories(root + "/run");
    std::filesystem::create_directories(root + "/state");
}

DovecotServer::~DovecotServer() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        // The master's children leave on their own once it is gone.
        for (int i = 0; i < 50 && CanConnect(m_port); ++i) {
            usleep(20000);
        }
    }
}

void DovecotServer::AddMessage(const std::string& bytes) {
    mailtest::WriteFile(m_maildir + "/new/" + std::to_string(1000 + m_nextName++) + ".test", bytes);
}

bool DovecotServer::Start() {
    const std::string& root = m_folder.Path();
    m_port = FreePort();
    // The mail account runs as nobody: dovecot refuses mail access as root.
    mailtest::WriteFile(root + "/passwd", "tu:{PLAIN}secret:65534:65534::" + root + "/home::\n");
    chmod((root + "/passwd").c_str(), 0644);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root + "/home")) {
        lchown(entry.path().c_str(), 65534, 65534);
    }
    chown((root + "/home").c_str(), 65534, 65534);
    std::string conf =
        "base_dir = " + root + "/run\n" + "state_dir = " + root + "/state\n" +
        "log_path = " + root + "/dovecot.log\n" + "instance_name = velmorin-pop3-test-" +
        std::to_string(m_port) + "\n" +
        "protocols = pop3\n"
        "listen = 127.0.0.1\n"
        "ssl = no\n"
        "disable_plaintext_auth = no\n"
        "auth_failure_delay = 0\n"
        "mail_location = maildir:" +
        m_maildir + "\n" +
        "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " + root +
        "/passwd\n}\n" + "userdb {\n  driver = passwd-file\n  args = username_format=%u " + root +
        "/passwd\n}\n" +
        "service pop3-login {\n  inet_listener pop3 {\n    address = 127.0.0.1\n"
        "    port = " +
        std::to_string(m_port) + "\n  }\n}\n" + "service anvil {\n  chroot =\n}\n";
    mailtest::WriteFile(root + "/dovecot.conf", conf);

    std::string confPath = root + "/dovecot.conf";
    const char* argv[] = {"dovecot", "-F", "-c", confPath.c_str(), nullptr};
    if (posix_spawn(&m_pid, "/usr/sbin/dovecot", nullptr, nullptr, const_cast<char**>(argv),
                    environ) != 0) {
        m_pid = -1;
        return false;
    }
    for (int i = 0; i < 250; ++i) {
        if (CanConnect(m_port)) {
            return true;
        }
        usleep(20000);
    }
    return false;
}

int DovecotServer::MessageCount() const {
    int count = 0;
    for (const char* sub : {"/new", "/cur"}) {
        for (const auto& entry : std::filesystem::directory_iterator(m_maildir + sub)) {
            count += entry.is_regular_file() ? 1 : 0;
        }
    }
    return count;
}

std::string DovecotServer::LogText() const {
    return mailtest::ReadFile(m_folder.Path() + "/dovecot.log");
}

}  // namespace pop3test
