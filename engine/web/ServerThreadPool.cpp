#include "engine/web/ServerThreadPool.h"

#include <algorithm>
#include <system_error>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/FoldedLog.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/settings/RootFolder.h"
#include "engine/web/ServerThread.h"

CServerThreadPool g_serverThreadPool;

CServerThreadPool::CServerThreadPool() : m_rootFolder(g_rootDir) {}

CServerThreadPool::~CServerThreadPool() {
    StopAll();
    std::unique_lock<std::mutex> guard(m_lock);
    const auto deadline = std::chrono::steady_clock::now() + m_stopWait;
    for (auto& thread : m_abandoned) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (!thread->WaitForEnd(std::max(left, std::chrono::milliseconds(0)))) {
            thread->Detach();
            (void)thread.release();
        }
    }
    m_abandoned.clear();
    guard.unlock();
    StopWatchdog();
}

void CServerThreadPool::ReapAbandoned() {
    std::erase_if(m_abandoned, [](const std::unique_ptr<CServerThread>& thread) {
        return thread->WaitForEnd(std::chrono::milliseconds(0));
    });
}

std::size_t CServerThreadPool::GetAbandonedCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    ReapAbandoned();
    return m_abandoned.size();
}

void CServerThreadPool::SetRootFolder(const std::string& root) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_rootFolder = root;
}

std::string CServerThreadPool::GetRootFolder() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_rootFolder;
}

void CServerThreadPool::SetStopWait(std::chrono::milliseconds wait) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stopWait = wait;
}

CServerThread* CServerThreadPool::AssignConnection(CSocketConn& accepted, bool console) {
    std::lock_guard<std::mutex> guard(m_lock);
    CServerThread* thread = nullptr;
    for (const auto& candidate : m_threads) {
        if (candidate->TryClaim()) {
            thread = candidate.get();
            break;
        }
    }
    if (thread == nullptr && m_threads.size() >= kMaxThreads && console) {
        if (!m_console) {
            auto created = std::make_unique<CServerThread>(this, m_rootFolder);
            if (!created->Start()) {
                g_log.Log("Failed to create new server thread");
                return nullptr;
            }
            m_console = std::move(created);
        }
        if (m_console->TryClaim()) {
            thread = m_console.get();
        }
    }
    if (thread == nullptr) {
        if (m_threads.size() >= kMaxThreads) {
            g_refusalLog.Log(kDenied);
            return nullptr;
        }
        auto created = std::make_unique<CServerThread>(this, m_rootFolder);
        created->TryClaim();
        if (!created->Start()) {
            g_log.Log("Failed to create new server thread");
            return nullptr;
        }
        thread = created.get();
        m_threads.push_back(std::move(created));
    }
    StartWatchdogLocked();
    thread->SetStartTime(CSspDateTime::Now());
    thread->Connection().TakeOver(accepted);
    return thread;
}

void CServerThreadPool::StartWatchdogLocked() {
    if (m_watchdog.joinable()) {
        return;
    }
    m_watchStop = false;
    try {
        m_watchdog = std::thread(&CServerThreadPool::Watch, this);
    } catch (const std::system_error&) {
        // Without it a page whose client has gone runs to its end; serving goes on.
    }
}

void CServerThreadPool::StopWatchdog() {
    std::thread watchdog;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_watchStop = true;
        watchdog = std::move(m_watchdog);
    }
    m_watchWake.notify_all();
    if (watchdog.joinable()) {
        watchdog.join();
    }
}

void CServerThreadPool::Watch() {
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_watchWake.wait_for(guard, kWatchInterval, [this] { return m_watchStop; })) {
        for (const auto& thread : m_threads) {
            if (thread->IsBusy()) {
                thread->CheckClient();
            }
        }
    }
}

int CServerThreadPool::StopAll() {
    StopWatchdog();
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::unique_ptr<CServerThread>> stopping = std::move(m_threads);
    m_threads.clear();
    if (m_console) {
        stopping.push_back(std::move(m_console));
    }
    // Every thread is told at once, so that stuck pages cost one wait, not one each.
    for (auto& thread : stopping) {
        if (thread->IsBusy()) {
            thread->BreakConnection();
            thread->RequestStop();
        }
        thread->Post(WM_QUIT);
    }
    const auto deadline = std::chrono::steady_clock::now() + m_stopWait;
    int result = 0;
    for (auto& thread : stopping) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (thread->WaitForEnd(std::max(left, std::chrono::milliseconds(0)))) {
            continue;
        }
        g_log.Log("%s", g_msg.m_serverThreadExitFailed);
        if (!thread->DumpPosition()) {
            g_log.Log("Failed to dump debug information.");
        }
        // A thread cannot be killed safely: its page is asked to stop, and the thread is kept
        // with everything it may still touch until it has ended.
        thread->RequestStop();
        m_abandoned.push_back(std::move(thread));
        result = -1;
    }
    ReapAbandoned();
    return result;
}

std::string CServerThreadPool::ListConnections(const CServerThread* asking) {
    std::lock_guard<std::mutex> guard(m_lock);
    return ListConnectionsLocked(asking, 0);
}

std::string CServerThreadPool::ListConnections(long askingThreadId) {
    std::lock_guard<std::mutex> guard(m_lock);
    return ListConnectionsLocked(nullptr, askingThreadId);
}

std::string CServerThreadPool::ListConnectionsLocked(const CServerThread* asking,
                                                     long askingThreadId) {
    std::string text;
    for (const auto& thread : m_threads) {
        if (thread.get() == asking ||
            (askingThreadId != 0 && thread->GetThreadId() == askingThreadId) || !thread->IsBusy()) {
            continue;
        }
        text += thread->GetPeerAddress() + "*" + std::to_string(thread->GetThreadId()) + "*" +
                CSspDateTime(thread->GetStartTime()).GetDateTimeStr2() + "*" +
                thread->GetCurrentRequest() + "\r\n";
    }
    text += "watermark*" + std::to_string(m_threads.size()) + "\r\n\r\n";
    return text;
}

void CServerThreadPool::DisconnectConnection(long threadId) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& thread : m_threads) {
        if (thread->GetThreadId() == threadId && thread->IsBusy()) {
            thread->BreakConnection();
            // A page never reads its connection: its stop flag ends it at the next statement.
            thread->RequestStop();
        }
    }
}

std::size_t CServerThreadPool::GetThreadCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_threads.size();
}

std::size_t CServerThreadPool::GetBusyCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::size_t busy = 0;
    for (const auto& thread : m_threads) {
        busy += thread->IsBusy() ? 1 : 0;
    }
    return busy;
}
