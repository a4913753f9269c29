// A program a test starts: from an argument vector, with its own environment or this
// process's, each standard stream inherited, /dev/null, a file or a descriptor of ours.
// A child still running when its owner goes is killed and reaped, never left behind.
#pragma once

#include <sys/types.h>

#include <csignal>

#include <optional>
#include <string>
#include <vector>

struct CChildStream {
    enum class EKind { kInherit, kNull, kAppend, kTruncate, kFd };
    EKind m_kind = EKind::kInherit;
    std::string m_path;
    int m_fd = -1;

    static CChildStream Null() { return {EKind::kNull, "", -1}; }
    static CChildStream Append(const std::string& path) { return {EKind::kAppend, path, -1}; }
    static CChildStream Truncate(const std::string& path) { return {EKind::kTruncate, path, -1}; }
    // A descriptor of this process, duplicated for the child.
    static CChildStream Fd(int fd) { return {EKind::kFd, "", fd}; }
};

struct CChildOptions {
    // "NAME=value" entries; none: this process's environment.
    std::optional<std::vector<std::string>> m_environment;
    CChildStream m_stdin;
    CChildStream m_stdout;
    CChildStream m_stderr;
    // Looks argv[0] up on PATH, as a shell would.
    bool m_searchPath = false;
};

class CChildProcess {
public:
    CChildProcess() = default;
    explicit CChildProcess(const std::vector<std::string>& argv, const CChildOptions& options = {});
    ~CChildProcess() { Stop(); }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    CChildProcess(CChildProcess&& other) noexcept;
    CChildProcess& operator=(CChildProcess&& other) noexcept;

    // Starts the program and waits for it; its exit status, -1 when it did not start.
    static int Run(const std::vector<std::string>& argv, const CChildOptions& options = {});

    // A child was started and is not yet waited for.
    bool Started() const { return m_pid > 0; }
    // Why the start failed (an errno value), 0 when it did not.
    int StartError() const { return m_startError; }
    pid_t Pid() const { return m_pid; }

    // Waits for the end; the exit code, or 128 plus the signal that ended it; -1 when
    // there is no child to wait for.
    int Wait();
    // The exit status when the child has ended, without waiting otherwise.
    std::optional<int> TryWait();
    // Sends the signal to a child still running and reaps it.
    void Stop(int signal = SIGKILL);

private:
    pid_t m_pid = -1;
    int m_startError = 0;
};
