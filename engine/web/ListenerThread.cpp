#include "engine/web/ListenerThread.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/FoldedLog.h"
#include "engine/foundation/JoinOrDetach.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SslServer.h"
#include "engine/foundation/SslTransport.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/PendingHeads.h"
#include "engine/web/ServerThread.h"
#include "engine/web/ServerThreadPool.h"

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point when, Clock::time_point now) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000));
}

}  // namespace

std::shared_ptr<CListenerThread> CListenerThread::Create(CServerThreadPool* pool) {
    return std::make_shared<CListenerThread>(CKey{}, pool);
}

CListenerThread::CListenerThread(CKey, CServerThreadPool* pool)
    : m_timeStart(CSspDateTime::Now()),
      m_pPool(pool != nullptr ? pool : &g_serverThreadPool),
      m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CListenerThread::~CListenerThread() {
    // The last reference may be the thread's own.
    JoinOrDetach(m_thread);
}

bool CListenerThread::Start() {
    std::shared_ptr<CListenerThread> self = shared_from_this();
    try {
        m_thread = std::thread([self] { self->InitInstance(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool CListenerThread::WaitStarted(int polls, std::chrono::milliseconds interval) {
    for (int i = 0; i < polls; ++i) {
        if (m_bStarted.load()) {
            return true;
        }
        std::this_thread::sleep_for(interval);
    }
    return m_bStarted.load();
}

void CListenerThread::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bStop = true;
    }
    m_changed.notify_all();
    if (m_wake.Get() >= 0) {
        const uint64_t one = 1;
        (void)!write(m_wake.Get(), &one, sizeof one);
    }
}

bool CListenerThread::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, timeout, [this] { return m_bEnded; });
}

bool CListenerThread::IsStopping() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bStop;
}

void CListenerThread::InitInstance() {
    bool stopped = false;
    bool listening = false;
    {
        // A Stop before the socket exists must not be lost: the flag is read under the lock.
        std::lock_guard<std::mutex> guard(m_lock);
        stopped = m_bStop;
        listening = !stopped && m_listener.Listen(m_strAddress, m_nPort);
    }
    if (!listening) {
        if (!stopped) {
            g_log.Log("Web server failed to start.");
        }
    } else {
        m_nBoundPort = m_listener.GetLocalPort();
        RunLoop();
    }
    m_listener.Close();
    m_bStarted = false;
    EndThreadSsl();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bEnded = true;
    }
    m_changed.notify_all();
}

void CListenerThread::RunLoop() {
    const auto headTimeout = std::chrono::seconds(std::max(1, g_settings.GeneralHeaderTimeout));
    const std::size_t maxPending =
        static_cast<std::size_t>(std::max(1, g_settings.GeneralMaxPendingConnections));
    const int listenFd = m_listener.GetHandle();
    CUniqueFd epoll(epoll_create1(EPOLL_CLOEXEC));
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = m_wake.Get();
    if (epoll.Get() < 0 || m_wake.Get() < 0 ||
        epoll_ctl(epoll.Get(), EPOLL_CTL_ADD, m_wake.Get(), &event) != 0) {
        g_log.Log("Web server failed to start.");
        return;
    }
    auto watchListener = [&](bool on) {
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.fd = listenFd;
        return epoll_ctl(epoll.Get(), on ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, listenFd, &e) == 0;
    };
    if (!watchListener(true)) {
        g_log.Log("Web server failed to start.");
        return;
    }

    CSocketConn handed;  // the record a complete head travels to the pool in
    CPendingHeads pending(epoll.Get(), [&](CHeadReader& reader) {
        const bool console = reader.IsConsoleCommand();
        reader.HandOver(handed);
        if (CServerThread* thread = m_pPool->AssignConnection(handed, console)) {
            thread->Post(WM_SERVE_CONNECTION, 0, 0);
        } else {
            handed.SetTimeout(1);  // a goodbye to a peer that does not read cannot stall the loop
            handed.Close();
        }
    });

    // Failures such as EMFILE persist for a while: the listener is left out of the wait for
    // longer each time instead of spinning, up to a second.
    std::chrono::milliseconds backOff(0);
    bool paused = false;
    Clock::time_point pausedUntil{};
    auto acceptAll = [&] {
        for (;;) {
            sockaddr_in peer{};
            socklen_t len = sizeof peer;
            int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &len,
                             SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    return;
                }
                g_log.Log("Listener failed to accept.");
                backOff = std::clamp(backOff * 2, std::chrono::milliseconds(10),
                                     std::chrono::milliseconds(1000));
                paused = true;
                pausedUntil = Clock::now() + backOff;
                watchListener(false);
                return;
            }
            backOff = std::chrono::milliseconds(0);
            std::unique_ptr<CSslTransport> tls;
            if (m_bSsl) {
                tls = ServerSsl().NewSession();
                if (!tls) {
                    close(fd);
                    continue;
                }
            }
            if (pending.Size() >= maxPending) {
                char text[256];
                snprintf(text, sizeof text, g_msg.m_tooManyPending,
                         static_cast<int>(pending.Size()));
                g_refusalLog.Log(text);
                pending.CloseOldest();
            }
            pending.Add(fd, peer, std::move(tls), Clock::now() + headTimeout);
        }
    };

    epoll_event events[64];
    while (!IsStopping()) {
        m_bStarted = true;
        m_nPending = pending.Size();
        Clock::time_point now = Clock::now();
        int waitMs = 1000;  // the refusal log's counts are written once a second
        if (std::optional<Clock::time_point> next = pending.NextDeadline()) {
            waitMs = std::min(waitMs, MillisecondsUntil(*next, now));
        }
        if (paused) {
            waitMs = std::min(waitMs, MillisecondsUntil(pausedUntil, now));
        }
        int n = epoll_wait(epoll.Get(), events, 64, waitMs);
        if (n < 0 && errno != EINTR) {
            g_log.Log("Listener failed to accept.");
            break;
        }
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_wake.Get()) {
                uint64_t count = 0;
                (void)!read(fd, &count, sizeof count);
            } else if (fd == listenFd) {
                acceptAll();
            } else {
                pending.OnReady(fd);
            }
        }
        now = Clock::now();
        for (std::size_t closed = pending.CloseExpired(now); closed > 0; --closed) {
            g_refusalLog.Log("Timeout receiving on socket");
        }
        if (paused && now >= pausedUntil) {
            paused = false;
            watchListener(true);
        }
        g_refusalLog.Flush();
    }
    m_nPending = 0;
}
