#include "engine/testsupport/SmtpSink.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "engine/testsupport/WholeFile.h"

extern char** environ;

CSmtpSink::CSmtpSink(const std::string& user, const std::string& password, bool noLogin) {
    const std::string python = Exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const std::string script =
        std::string(VELMORIN_SOURCE_ROOT) + "/engine/testsupport/smtp_sink.py";
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
    if (pipe2(in, O_CLOEXEC) != 0) {
        return;
    }
    m_stdin = std::make_unique<CUniqueFd>(in[1]);
    CUniqueFd childIn(in[0]);
    if (pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    CUniqueFd fromChild(out[0]);
    {
        CUniqueFd childOut(out[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, childIn.Get(), 0);
        posix_spawn_file_actions_adddup2(&actions, childOut.Get(), 1);
        const int spawned = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            m_pid = -1;
            return;
        }
    }
    std::string first;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (first.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fromChild.Get(), POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char chunk[64];
            ssize_t got = read(fromChild.Get(), chunk, sizeof chunk);
            if (got <= 0) {
                break;
            }
            first.append(chunk, static_cast<size_t>(got));
        }
    }
    m_port = std::atoi(first.c_str());
}

CSmtpSink::~CSmtpSink() {
    m_stdin.reset();
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

std::vector<CSmtpSink::Message> CSmtpSink::Messages() const {
    std::vector<Message> messages;
    for (int n = 1;; ++n) {
        const std::string base = m_folder.File(std::to_string(n));
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
            if (line.starts_with("from ")) {
                message.m_from = line.substr(5);
            } else if (line.starts_with("to ")) {
                message.m_to.push_back(line.substr(3));
            } else if (line.starts_with("auth ")) {
                message.m_auth = line.substr(5);
            }
        }
        message.m_data = ReadFile(base + ".eml");
        messages.push_back(std::move(message));
    }
    return messages;
}
