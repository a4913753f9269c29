#include "MailTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

extern char** environ;

namespace mailtest {

TempRoot::TempRoot() {
    char pattern[] = "/tmp/velmorin-mail-XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
        m_path = pattern;
    }
}

TempRoot::~TempRoot() {
    std::error_code ignored;
    if (!m_path.empty()) {
        std::filesystem::remove_all(m_path, ignored);
    }
}

bool CapturedLog::Sink::Deliver(const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_entries.push_back(text);
    return true;
}

CapturedLog::CapturedLog() : m_sink(std::make_shared<Sink>()) {
    m_writer.SetWindow(m_sink);
}

std::vector<std::string> CapturedLog::Entries() const {
    std::lock_guard lock(m_sink->m_mutex);
    return m_sink->m_entries;
}

std::string CapturedLog::All() const {
    std::string all;
    for (const std::string& entry : Entries()) {
        all += entry;
    }
    return all;
}

bool CapturedLog::Contains(const std::string& text) const {
    return Count(text) > 0;
}

int CapturedLog::Count(const std::string& text) const {
    int count = 0;
    for (const std::string& entry : Entries()) {
        if (entry.find(text) != std::string::npos) {
            ++count;
        }
    }
    return count;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

int UnusedPort() {
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

// --- ScriptedSmtp ------------------------------------------------------------------------

namespace {

// Line reader over a socket that gives up when stop is set or the peer closes.
class PeerReader {
public:
    PeerReader(int fd, const std::atomic<bool>& stop) : m_fd(fd), m_stop(stop) {}

    bool ReadLine(std::string& line) {
        line.clear();
        for (;;) {
            size_t end = m_buffer.find("\r\n");
            if (end != std::string::npos) {
                line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 2);
                return true;
            }
            if (!Fill()) {
                return false;
            }
        }
    }

    bool ReadData(std::string& data) {
        for (;;) {
            size_t end = m_buffer.find("\r\n.\r\n");
            if (end != std::string::npos) {
                data = m_buffer.substr(0, end + 5);
                m_buffer.erase(0, end + 5);
                return true;
            }
            if (!Fill()) {
                return false;
            }
        }
    }

    bool Fill() {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            int ready = poll(&p, 1, 100);
            if (ready < 0) {
                return false;
            }
            if (ready == 0) {
                continue;
            }
            char chunk[4096];
            ssize_t got = recv(m_fd, chunk, sizeof chunk, 0);
            if (got <= 0) {
                return false;
            }
            m_buffer.append(chunk, static_cast<size_t>(got));
            return true;
        }
        return false;
    }

private:
    int m_fd;
    const std::atomic<bool>& m_stop;
    std::string m_buffer;
};

void SendText(int fd, const std::string& text) {
    if (!text.empty()) {
        send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    }
}

}  // namespace

ScriptedSmtp::ScriptedSmtp(std::vector<SmtpStep> steps, bool silent)
    : m_steps(std::move(steps)), m_bSilent(silent) {
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(m_listenFd, 4);
    socklen_t length = sizeof address;
    getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

ScriptedSmtp::~ScriptedSmtp() {
    m_bStop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    close(m_listenFd);
}

void ScriptedSmtp::Finish() {
    for (int i = 0; i < 1500 && !m_bDone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_bStop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ScriptedSmtp::Serve() {
    struct DoneMark {
        std::atomic<bool>& m_done;
        ~DoneMark() { m_done = true; }
    } done{m_bDone};
    int fd = -1;
    while (!m_bStop && fd < 0) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        }
    }
    if (fd < 0) {
        return;
    }
    PeerReader reader(fd, m_bStop);
    std::string line;
    auto record = [this](const std::string& text) {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(text);
    };
    auto readData = [&]() {
        std::string data;
        if (!reader.ReadData(data)) {
            return false;
        }
        std::lock_guard lock(m_mutex);
        m_data.push_back(data);
        return true;
    };
    if (m_bSilent) {
        while (reader.ReadLine(line)) {
            record(line);
        }
        close(fd);
        return;
    }
    bool open = true;
    for (const SmtpStep& step : m_steps) {
        if (!step.m_expect.empty()) {
            if (!reader.ReadLine(line)) {
                open = false;
                break;
            }
            record(line);
            if (line.rfind(step.m_expect, 0) != 0) {
                std::lock_guard lock(m_mutex);
                m_unexpected.push_back(line);
            }
        }
        SendText(fd, step.m_reply);
        if (line == "DATA" && step.m_reply.rfind("354", 0) == 0) {
            line.clear();
            if (!readData()) {
                open = false;
                break;
            }
        }
    }
    while (open && reader.ReadLine(line)) {
        record(line);
        if (line == "QUIT") {
            SendText(fd, "221 bye\r\n");
            break;
        }
        if (line == "DATA") {
            SendText(fd, "354 go on\r\n");
            if (!readData()) {
                break;
            }
        }
        SendText(fd, "250 OK\r\n");
    }
    close(fd);
}

std::vector<std::string> ScriptedSmtp::Lines() {
    Finish();
    std::lock_guard lock(m_mutex);
    return m_lines;
}

std::vector<std::string> ScriptedSmtp::Data() {
    Finish();
    std::lock_guard lock(m_mutex);
    return m_data;
}

std::vector<std::string> ScriptedSmtp::Unexpected() {
    Finish();
    std::lock_guard lock(m_mutex);
    return m_unexpected;
}

// --- SmtpSink ----------------------------------------------------------------------------

SmtpSink::SmtpSink(const std::string& user, const std::string& password, bool noLogin) {
    const std::string python = Exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const std::string script =
        std::string(VELMORIN_SOURCE_ROOT) + "/engine/mail/tests/smtp_sink.py";
    std::vector<std::string> args = {python, script, m_folder.Path()};
    if (!user.empty()) {
        args.insert(args.end(), {"--user", user, "--password", password});
    }
    if (noLogin) {
        args.push_back("--no-login");
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    int spawned = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_stdin = in[1];
    if (spawned != 0) {
        m_pid = -1;
        close(out[0]);
        return;
    }
    std::string first;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (first.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char chunk[64];
            ssize_t got = read(out[0], chunk, sizeof chunk);
            if (got <= 0) {
                break;
            }
            first.append(chunk, static_cast<size_t>(got));
        }
    }
    close(out[0]);
    m_port = std::atoi(first.c_str());
}

SmtpSink::~SmtpSink() {
    if (m_stdin >= 0) {
        close(m_stdin);
    }
    if (m_pid > 0) {
        for (int i = 0; i < 50; ++i) {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                return;
            }
            usleep(100 * 1000);
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

std::vector<SmtpSink::Message> SmtpSink::Messages() const {
    std::vector<Message> messages;
    for (int n = 1;; ++n) {
        const std::string base = m_folder.Path() + "/" + std::to_string(n);
        if (!Exists(base + ".env")) {
            break;
        }
        Message message;
        std::string env = ReadFile(base + ".env");
        size_t pos = 0;
        while (pos < env.size()) {
            size_t end = env.find('\n', pos);
            if (end == std::string::npos) {
                end = env.size();
            }
            std::string line = env.substr(pos, end - pos);
            pos = end + 1;
            if (line.rfind("from ", 0) == 0) {
                message.m_from = line.substr(5);
            } else if (line.rfind("to ", 0) == 0) {
                message.m_to.push_back(line.substr(3));
            } else if (line.rfind("auth ", 0) == 0) {
                message.m_auth = line.substr(5);
            }
        }
        message.m_data = ReadFile(base + ".eml");
        messages.push_back(std::move(message));
    }
    return messages;
}

}  // namespace mailtest
