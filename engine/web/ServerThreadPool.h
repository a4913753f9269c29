// The pool of server threads behind the listeners (g_serverThreadPool). A connection goes to
// the first idle thread in list order, else to a new thread while fewer than kMaxThreads
// exist, else it is refused (a console command then goes to one thread kept for commands,
// outside the list). Threads stay in the list, idle, until StopAll, so the list's length is
// the peak since the last stop. A watchdog thread, started with the first connection, looks
// at the busy threads' clients twice a second and stops the page of a client that has gone.
//
// Thread-safety: every member takes the pool's lock; a thread's own lock is taken after it,
// never before.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CServerThread;
class CSocketConn;

class CServerThreadPool {
public:
    static constexpr std::size_t kMaxThreads = 50;
    static constexpr const char* kDenied =
        "New connection request denied. Number of active connection has reached 50. This could "
        "be caused by a bad ODBC driver. Make sure your ODBC driver meets requirements.";

    CServerThreadPool();
    // Stops every thread (StopAll); a thread set aside that still has not ended after the
    // stop wait is detached and left to itself.
    ~CServerThreadPool();
    CServerThreadPool(const CServerThreadPool&) = delete;
    CServerThreadPool& operator=(const CServerThreadPool&) = delete;

    // The root folder that new threads serve under (g_rootDir by default).
    void SetRootFolder(const std::string& root);
    std::string GetRootFolder();

    // Moves the accepted connection (socket, peer, SSL mark, layer and the bytes read ahead)
    // into a claimed thread and returns it; the caller posts it WM_SERVE_CONNECTION. nullptr
    // after logging when every thread is busy and the pool is full, or no thread could be
    // made; `accepted` then keeps its socket.
    // A console command (`console`) that finds every thread busy goes to one thread kept
    // for commands, so that the administrator can see and end what fills the pool.
    CServerThread* AssignConnection(CSocketConn& accepted, bool console = false);

    // Breaks every busy thread's connection and stops its page, tells every thread to quit,
    // all at once, and waits for them against one deadline (the stop wait, 5000 ms by
    // default). A thread that has not ended by then is logged with where its page stands and
    // set aside: it is joined and freed by a later StopAll or the pool's end once it has
    // ended, never killed. Empties the list. Returns 0, or -1 when a thread was set aside.
    int StopAll();
    void SetStopWait(std::chrono::milliseconds wait);

    // For the console: "%s*%d*%s*%s\r\n" (client, thread id, assignment time, current
    // request) for every busy thread but `asking`, then "watermark*%d\r\n\r\n" with the
    // number of threads in the list.
    std::string ListConnections(const CServerThread* asking);
    // The same, leaving out the thread whose id is `askingThreadId`.
    std::string ListConnections(long askingThreadId);
    // Breaks the connection of every busy thread whose id is `threadId` and stops its page.
    void DisconnectConnection(long threadId);

    std::size_t GetThreadCount();
    std::size_t GetBusyCount();

    // Threads set aside by StopAll that have not ended yet.
    std::size_t GetAbandonedCount();

    // How often the watchdog looks at the busy threads' clients.
    static constexpr std::chrono::milliseconds kWatchInterval{500};

private:
    void ReapAbandoned();
    // Stops the page of every busy thread whose client has gone, until stopped.
    void Watch();
    void StartWatchdogLocked();
    void StopWatchdog();
    std::string ListConnectionsLocked(const CServerThread* asking, long askingThreadId);

    std::mutex m_lock;  // guards every member below
    std::vector<std::unique_ptr<CServerThread>> m_threads;
    std::vector<std::unique_ptr<CServerThread>> m_abandoned;
    std::unique_ptr<CServerThread> m_console;  // the thread kept for console commands
    std::thread m_watchdog;
    std::condition_variable m_watchWake;
    bool m_watchStop = false;
    std::string m_rootFolder;
    std::chrono::milliseconds m_stopWait{5000};
};

extern CServerThreadPool g_serverThreadPool;
