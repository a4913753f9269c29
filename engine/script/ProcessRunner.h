#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Starts a program and waits for it for a bounded time, for the file object's `run`.
//
// The program is started directly (posix_spawn), never through a shell, so no character of an
// argument is a command. The child gets /dev/null as stdin, stdout and stderr, none of the
// server's other descriptors, the server's environment and working folder. A child still
// running when the wait ends is left running and reaped once it ends, so it never stays a
// zombie.

// The arguments of a command-line text: split at blanks and tabs; a double quote starts or
// ends a group in which blanks are kept ("" inside a group, or \", gives a quote itself);
// an empty group ("") is an empty argument.
std::vector<std::string> SplitCommandArguments(std::string_view text);

// The longest wait, in milliseconds (about 24 days).
inline constexpr std::int64_t kMaxRunWaitMs = 0x7FFFFFFF;
// Seconds read as the wait in milliseconds, in 64 bits, clamped to 0 .. kMaxRunWaitMs.
std::int64_t RunWaitMs(std::int64_t seconds);

struct CRunOutcome {
    enum Kind { kExited, kTimedOut, kNotStarted };
    Kind m_kind = kNotStarted;
    // kExited: the exit status, or 128 + the signal that ended the child.
    int m_exitCode = 0;
    // kNotStarted: the errno of the failure.
    int m_error = 0;
};

// How a program is started beyond the defaults above.
struct CRunOptions {
    // argv[0]; empty gives the program path.
    std::string m_argv0;
    // A program name without '/' is looked up on PATH.
    bool m_searchPath = false;
    // The child leads a session of its own, so it outlives the caller's terminal and group.
    bool m_newSession = false;
    // The child's working folder; empty keeps the caller's.
    std::string m_workFolder;
};

// Runs `program` with the arguments (argv[0] is the program path itself) and waits up to
// `waitMs` (clamped to 0 .. kMaxRunWaitMs). Blocks the calling thread; thread-safe.
CRunOutcome RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                       std::int64_t waitMs, const CRunOptions& options = {});

// The text result of `run`: "%d" of the exit code, "timeout", or the system's error text.
std::string RunOutcomeText(const CRunOutcome& outcome);

// Children left running after a wait that are not reaped yet.
std::size_t PendingRunChildren();
