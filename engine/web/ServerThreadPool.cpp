#include "engine/web/ServerThreadPool.h"

#include <algorithm>

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
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& thread : m_abandoned) {
        if (!thread->WaitForEnd(m_stopWait)) {
            thread->Detach();
            (void)thread.release();
        }
    }
    m_abandoned.clear();
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

CServerThread* CServerThreadPool::AssignConnection(CSocketConn& accepted) {
    std::lock_guard<std::mutex> guard(m_lock);
    CServerThread* thread = nullptr;
    for (const auto& candidate : m_threads) {
        if (candidate->TryClaim()) {
            thread = candidate.get();
            break;
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
    thread->SetStartTime(CSspDateTime::Now());
    thread->Connection().TakeOver(accepted);
    return thread;
}

int CServerThreadPool::StopAll() {
    std::lock_guard<std::mutex> guard(m_lock);
    int result = 0;
    for (auto& thread : m_threads) {
        if (thread->IsBusy()) {
            thread->BreakConnection();
        }
        thread->Post(WM_QUIT);
        if (thread->WaitForEnd(m_stopWait)) {
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
    m_threads.clear();
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
