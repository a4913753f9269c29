#include "studio/window/TerminationSignal.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <utility>

namespace {

sigset_t TermSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void CTerminationSignal::Block() {
    const sigset_t set = TermSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

CTerminationSignal::CTerminationSignal(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal)) {
    const sigset_t set = TermSet();
    m_fd.Reset(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (m_fd.Get() < 0) {
        return;
    }
    m_notifier = new QSocketNotifier(m_fd.Get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info{};
        while (read(m_fd.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        m_onSignal();
    });
}
