#include "engine/testsupport/ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <utility>

extern char** environ;

namespace {

std::vector<char*> NullTerminated(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

void AddStream(posix_spawn_file_actions_t& actions, const CChildStream& stream, int target) {
    const int mode = target == 0 ? O_RDONLY : O_WRONLY;
    switch (stream.m_kind) {
        case CChildStream::EKind::kInherit:
            break;
        case CChildStream::EKind::kNull:
            posix_spawn_file_actions_addopen(&actions, target, "/dev/null", mode, 0);
            break;
        case CChildStream::EKind::kAppend:
            posix_spawn_file_actions_addopen(&actions, target, stream.m_path.c_str(),
                                             O_WRONLY | O_CREAT | O_APPEND, 0644);
            break;
        case CChildStream::EKind::kTruncate:
            posix_spawn_file_actions_addopen(&actions, target, stream.m_path.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
            break;
        case CChildStream::EKind::kFd:
            posix_spawn_file_actions_adddup2(&actions, stream.m_fd, target);
            break;
    }
}

int ExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

CChildProcess::CChildProcess(const std::vector<std::string>& argv, const CChildOptions& options) {
    std::vector<std::string> args = argv;
    std::vector<char*> argp = NullTerminated(args);
    std::vector<std::string> variables = options.m_environment.value_or(std::vector<std::string>());
    std::vector<char*> envp = NullTerminated(variables);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    AddStream(actions, options.m_stdin, 0);
    AddStream(actions, options.m_stdout, 1);
    AddStream(actions, options.m_stderr, 2);
    char** env = options.m_environment ? envp.data() : environ;
    pid_t pid = -1;
    m_startError = options.m_searchPath
                       ? posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), env)
                       : posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), env);
    posix_spawn_file_actions_destroy(&actions);
    m_pid = m_startError == 0 ? pid : -1;
}

CChildProcess::CChildProcess(CChildProcess&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)), m_startError(other.m_startError) {}

CChildProcess& CChildProcess::operator=(CChildProcess&& other) noexcept {
    if (this != &other) {
        Stop();
        m_pid = std::exchange(other.m_pid, -1);
        m_startError = other.m_startError;
    }
    return *this;
}

int CChildProcess::Run(const std::vector<std::string>& argv, const CChildOptions& options) {
    return CChildProcess(argv, options).Wait();
}

int CChildProcess::Wait() {
    int status = 0;
    if (m_pid <= 0 || waitpid(std::exchange(m_pid, -1), &status, 0) <= 0) {
        return -1;
    }
    return ExitStatus(status);
}

std::optional<int> CChildProcess::TryWait() {
    int status = 0;
    if (m_pid <= 0 || waitpid(m_pid, &status, WNOHANG) != m_pid) {
        return std::nullopt;
    }
    m_pid = -1;
    return ExitStatus(status);
}

void CChildProcess::Stop(int signal) {
    if (m_pid > 0) {
        kill(m_pid, signal);
        Wait();
    }
}
