#include "engine/web/ListenerThread.h"

#include <algorithm>
#include <system_error>

#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/web/ServerThread.h"
#include "engine/web/ServerThreadPool.h"

std::shared_ptr<CListenerThread> CListenerThread::Create(CServerThreadPool* pool) {
    return std::make_shared<CListenerThread>(CKey{}, pool);
}

CListenerThread::CListenerThread(CKey, CServerThreadPool* pool)
    : m_timeStart(CSspDateTime::Now()), m_pPool(pool != nullptr ? pool : &g_serverThreadPool) {}

CListenerThread::~CListenerThread() {
    if (m_thread.joinable()) {
        // The last reference may be the thread's own, dropped on the thread itself.
        if (m_thread.get_id() == std::this_thread::get_id()) {
            m_thread.detach();
        } else {
            m_thread.join();
        }
    }
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
    m_listener.Close();
}

bool CListenerThread::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, timeout, [this] { return m_bEnded; });
}

bool CListenerThread::BackOff(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> guard(m_lock);
    return !m_changed.wait_for(guard, wait, [this] { return m_bStop; });
}

void CListenerThread::InitInstance() {
    CSocketConn accepted;
    accepted.SetSslOn(m_bSsl);
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
        // Failures such as EMFILE persist for a while: wait longer each time instead of
        // spinning, up to a second.
        std::chrono::milliseconds backOff(0);
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(m_lock);
                if (m_bStop) {
                    break;
                }
            }
            m_bStarted = true;
            if (!m_listener.Accept(accepted)) {
                {
                    std::lock_guard<std::mutex> guard(m_lock);
                    if (m_bStop) {
                        break;
                    }
                }
                g_log.Log("Listener failed to accept.");
                backOff = std::clamp(backOff * 2, std::chrono::milliseconds(10),
                                     std::chrono::milliseconds(1000));
                if (!BackOff(backOff)) {
                    break;
                }
                continue;
            }
            backOff = std::chrono::milliseconds(0);
            accepted.SetSslOn(m_bSsl);
            if (CServerThread* thread = m_pPool->AssignConnection(accepted)) {
                thread->Post(WM_SERVE_CONNECTION, 0, 0);
            } else {
                accepted.Close();
            }
        }
    }
    m_listener.Close();
    m_bStarted = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bEnded = true;
    }
    m_changed.notify_all();
}
