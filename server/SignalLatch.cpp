#include "server/SignalLatch.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>

namespace {

std::atomic<int> s_latched{0};
std::atomic<int> s_wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");

void OnStopSignal(int signalNumber) {
    const int savedErrno = errno;
    int expected = 0;
    s_latched.compare_exchange_strong(expected, signalNumber);
    const int fd = s_wakeFd.load();
    if (fd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof(one));
    }
    errno = savedErrno;
}

}  // namespace

namespace SignalLatch {

bool Install() {
    if (s_wakeFd.load() >= 0) {
        return true;
    }
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    s_wakeFd.store(fd);
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (::sigaction(SIGTERM, &action, nullptr) != 0 || ::sigaction(SIGINT, &action, nullptr) != 0 ||
        ::sigaction(SIGPIPE, &ignore, nullptr) != 0) {
        return false;
    }
    if (s_latched.load() != 0) {
        OnStopSignal(s_latched.load());  // raised before the fd existed
    }
    return true;
}

int WakeFd() {
    return s_wakeFd.load();
}

int Latched() {
    return s_latched.load();
}

void Raise(int signalNumber) {
    OnStopSignal(signalNumber);
}

void Clear() {
    s_latched.store(0);
    const int fd = s_wakeFd.load();
    if (fd >= 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(fd, &count, sizeof(count));
    }
}

}  // namespace SignalLatch
