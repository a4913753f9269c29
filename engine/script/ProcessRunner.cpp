#include "engine/script/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stop_token>
#include <thread>

#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A posix_spawn helper object, destroyed with its scope once it was set up.
template <class T, int (*Init)(T*), int (*Destroy)(T*)>
class CSpawnObject {
public:
    CSpawnObject() { m_ok = Init(&m_object) == 0; }
    ~CSpawnObject() {
        if (m_ok) {
            Destroy(&m_object);
        }
    }
    CSpawnObject(const CSpawnObject&) = delete;
    CSpawnObject& operator=(const CSpawnObject&) = delete;
    bool m_ok;
    T m_object;
};

using CSpawnActions = CSpawnObject<posix_spawn_file_actions_t, &posix_spawn_file_actions_init,
                                   &posix_spawn_file_actions_destroy>;
using CSpawnAttr = CSpawnObject<posix_spawnattr_t, &posix_spawnattr_init, &posix_spawnattr_destroy>;

// Waits for children that outlived their wait, so none stays a zombie. Its thread runs only
// while there are such children and is stopped and joined at exit.
class CChildReaper {
public:
    static CChildReaper& Instance() {
        static CChildReaper reaper;
        return reaper;
    }

    void Add(pid_t pid) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_pids.push_back(pid);
        if (!m_thread.joinable()) {
            m_thread = std::jthread([this](std::stop_token stop) { Loop(stop); });
        }
        m_wake.notify_all();
    }

    std::size_t Pending() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_pids.size();
    }

private:
    CChildReaper() = default;
    ~CChildReaper() {
        if (m_thread.joinable()) {
            m_thread.request_stop();
            m_thread.join();
        }
    }

    void Loop(std::stop_token stop) {
        std::unique_lock<std::mutex> lock(m_lock);
        while (!stop.stop_requested()) {
            std::erase_if(m_pids, [](pid_t pid) {
                int status = 0;
                pid_t done = waitpid(pid, &status, WNOHANG);
                return done == pid || (done < 0 && errno == ECHILD);
            });
            if (m_pids.empty()) {
                m_wake.wait(lock, stop, [this] { return !m_pids.empty(); });
            } else {
                m_wake.wait_for(lock, stop, std::chrono::milliseconds(100), [] { return false; });
            }
        }
    }

    std::mutex m_lock;
    std::condition_variable_any m_wake;
    std::vector<pid_t> m_pids;
    std::jthread m_thread;
};

int StatusToCode(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return status;
}

// True when the child ended before the deadline; `status` then holds its wait status.
bool WaitUntil(pid_t pid, Clock::time_point deadline, int& status) {
    CUniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return true;
        }
        if (done < 0 && errno != EINTR) {
            return false;
        }
        if (left.count() <= 0) {
            return false;
        }
        if (pidfd.Get() >= 0) {
            pollfd entry{pidfd.Get(), POLLIN, 0};
            int timeout = static_cast<int>(std::min<std::int64_t>(left.count(), kMaxRunWaitMs));
            if (poll(&entry, 1, timeout) < 0 && errno != EINTR) {
                return false;
            }
        } else {
            std::this_thread::sleep_for(
                std::min<std::chrono::milliseconds>(left, std::chrono::milliseconds(10)));
        }
    }
}

}  // namespace

std::vector<std::string> SplitCommandArguments(std::string_view text) {
    std::vector<std::string> args;
    std::string current;
    bool inArg = false;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size() && text[i + 1] == '"') {
            current += '"';
            inArg = true;
            ++i;
        } else if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                current += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
            inArg = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inArg) {
                args.push_back(std::move(current));
                current.clear();
                inArg = false;
            }
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inArg) {
        args.push_back(std::move(current));
    }
    return args;
}

std::int64_t RunWaitMs(std::int64_t seconds) {
    if (seconds <= 0) {
        return 0;
    }
    if (seconds > kMaxRunWaitMs / 1000) {
        return kMaxRunWaitMs;
    }
    return seconds * 1000;
}

CRunOutcome RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                       std::int64_t waitMs, const CRunOptions& options) {
    CRunOutcome outcome;
    waitMs = std::clamp<std::int64_t>(waitMs, 0, kMaxRunWaitMs);

    std::vector<char*> argv;
    argv.push_back(
        const_cast<char*>(options.m_argv0.empty() ? program.c_str() : options.m_argv0.c_str()));
    for (const std::string& arg : arguments) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    CSpawnActions actions;
    CSpawnAttr attr;
    if (!actions.m_ok || !attr.m_ok) {
        outcome.m_error = ENOMEM;
        return outcome;
    }
    int rc = 0;
    for (int fd : {0, 1, 2}) {
        if (rc == 0) {
            rc = posix_spawn_file_actions_addopen(&actions.m_object, fd, "/dev/null",
                                                  fd == 0 ? O_RDONLY : O_WRONLY, 0);
        }
    }
    if (rc == 0) {
        rc = posix_spawn_file_actions_addclosefrom_np(&actions.m_object, 3);
    }
    if (rc == 0 && !options.m_workFolder.empty()) {
        rc = posix_spawn_file_actions_addchdir_np(&actions.m_object, options.m_workFolder.c_str());
    }
    // The server ignores SIGPIPE and its threads may block signals; the child starts clean.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    if (rc == 0) {
        rc = posix_spawnattr_setsigmask(&attr.m_object, &none);
    }
    if (rc == 0) {
        rc = posix_spawnattr_setsigdefault(&attr.m_object, &all);
    }
    if (rc == 0) {
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (options.m_newSession) {
            flags |= POSIX_SPAWN_SETSID;
        }
        rc = posix_spawnattr_setflags(&attr.m_object, flags);
    }
    pid_t pid = -1;
    if (rc == 0) {
        rc = (options.m_searchPath ? posix_spawnp : posix_spawn)(
            &pid, program.c_str(), &actions.m_object, &attr.m_object, argv.data(), environ);
    }
    if (rc != 0) {
        outcome.m_error = rc;
        return outcome;
    }

    int status = 0;
    if (WaitUntil(pid, Clock::now() + std::chrono::milliseconds(waitMs), status)) {
        outcome.m_kind = CRunOutcome::kExited;
        outcome.m_exitCode = StatusToCode(status);
        return outcome;
    }
    outcome.m_kind = CRunOutcome::kTimedOut;
    CChildReaper::Instance().Add(pid);
    return outcome;
}

std::string RunOutcomeText(const CRunOutcome& outcome) {
    switch (outcome.m_kind) {
        case CRunOutcome::kExited: {
            char text[16];
            std::snprintf(text, sizeof text, "%d", outcome.m_exitCode);
            return text;
        }
        case CRunOutcome::kTimedOut:
            return "timeout";
        case CRunOutcome::kNotStarted:
            break;
    }
    return FormatSystemError(outcome.m_error);
}

std::size_t PendingRunChildren() {
    return CChildReaper::Instance().Pending();
}
