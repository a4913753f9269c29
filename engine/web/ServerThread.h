// One pooled worker that serves accepted connections, one request each. It is idle or
// serving; the pool claims an idle one (TryClaim), hands it a connection (Connection()) and
// posts it WM_SERVE_CONNECTION; the thread reads the request with a 60-second deadline,
// answers it (CRequestDispatch, or the console handler for "Brackmoor." commands), closes
// the connection and becomes idle again. WM_QUIT ends it.
//
// Thread-safety: the busy flag, the current-request text and the running interpreter are
// guarded by the thread's own lock (TryClaim also reads the flag without it first); the
// pool's lock, when held, is taken before it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "engine/foundation/SocketConn.h"
#include "engine/web/HttpRequest.h"
#include "engine/web/StaticFileCache.h"
#include "engine/web/ThreadMessageQueue.h"

class CServerThreadPool;
class CSspInterpreter;

class CServerThread {
public:
    // Seconds a client has for each wait of its request, and for each later wait.
    static constexpr int kTimeoutSeconds = 60;
    // A request body slower than this (bytes a second over the window, after the first
    // window) ends the request as a time-out.
    static constexpr size_t kBodyRateFloor = 1024;
    static constexpr std::chrono::seconds kBodyRateWindow{10};

    // A thread of `pool` serving pages under `rootFolder`. Nothing runs before Start.
    CServerThread(CServerThreadPool* pool, std::string rootFolder);
    // Ends the thread (WM_QUIT) and joins it.
    ~CServerThread();
    CServerThread(const CServerThread&) = delete;
    CServerThread& operator=(const CServerThread&) = delete;

    // Starts the thread and waits until its message loop runs. False when no thread could
    // be made.
    bool Start();

    // Busy 0 becomes 1 (true); a busy thread gives false.
    bool TryClaim();
    bool IsBusy();
    // The URL followed by " (https)" for an SSL connection, else " (http)".
    void SetCurrentRequest(const std::string& url);
    std::string GetCurrentRequest();
    // Empties the current-request text and marks the thread idle.
    void ReleaseToPool();

    // The connection record the pool moves each accepted socket into. Only the pool (while
    // the thread is claimed and not yet told) and the thread itself use it, except Shutdown.
    CSocketConn& Connection() { return m_socket; }
    // Breaks the current connection from another thread: blocked reads and writes return.
    void BreakConnection();
    // From the pool's watchdog: stops the page once its client has gone (not when it only
    // half-closed).
    void CheckClient();

    void SetStartTime(std::int64_t time);
    std::int64_t GetStartTime();
    // The dotted address of the current client.
    std::string GetPeerAddress();

    // Posts a message to the thread's queue; false once the thread has ended.
    bool Post(unsigned id, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

    // The kernel thread id (gettid), 0 before Start.
    int GetThreadId() const { return m_threadId; }

    // Waits up to `timeout` for the thread's loop to end; true when it has.
    bool WaitForEnd(std::chrono::milliseconds timeout);
    // Asks the current connection's page to stop at its next statement, or at its first
    // when it has not started yet.
    void RequestStop();
    // Writes where the running page stands to the log; false when none runs.
    bool DumpPosition();
    // Gives up a thread for good: detached, it may still touch this object, which must then
    // never be destroyed.
    void Detach();

private:
    void Run();
    void OnServeConnection();
    // Whether the request announced body bytes that were never read (a refused upload).
    static bool IsBodyLeftUnread(const CHttpRequest& request, CHttpRequest::EReadResult readResult);
    void SetInterpreter(CSspInterpreter* interp);

    CServerThreadPool* m_pPool;
    std::string m_rootFolder;
    CThreadMessageQueue m_queue;
    std::thread m_thread;
    int m_threadId = 0;

    std::mutex m_lock;  // guards every member below
    std::condition_variable m_changed;
    CSspInterpreter* m_pInterpreter = nullptr;
    // Written under the lock; the pool's walk reads it without, to pass busy threads by.
    std::atomic<int> m_nBusy{0};
    bool m_bStopAsked = false;  // for the current connection
    std::string m_strCurrentRequest;
    std::int64_t m_timeStart = 0;
    bool m_bRunning = false;
    bool m_bEnded = false;

    CSocketConn m_socket;
    // Page output of every request of this thread, kept so that its memory is reused.
    std::string m_output;
    // The small static files this thread has sent.
    CStaticFileCache m_files;
};
