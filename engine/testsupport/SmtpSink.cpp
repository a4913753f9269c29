#include "engine/testsupport/SmtpSink.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "engine/testsupport/WholeFile.h"

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
        CChildOptions options;
        options.m_stdin = CChildStream::Fd(childIn.Get());
        options.m_stdout = CChildStream::Fd(childOut.Get());
        options.m_searchPath = true;
        m_sink = CChildProcess(args, options);
        if (!m_sink.Started()) {
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
    // Given time to end on its own; m_sink kills it after that.
    for (int i = 0; i < 50 && m_sink.Started() && !m_sink.TryWait(); ++i) {
        usleep(100 * 1000);
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
