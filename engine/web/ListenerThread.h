// One listening address and port (HTTP or HTTPS). Its thread runs one event loop over the
// listening socket and every connection still waiting for its request head: it accepts,
// does the TLS handshake on the HTTPS port, reads the head (CHeadReader), and only then hands
// the connection, with the bytes read, to the server-thread pool, which posts it to a server
// thread; a connection the pool refuses is closed at once, unanswered. So slow clients wait
// in the loop, not in server threads.
//
// A head must be complete within GeneralHeaderTimeout seconds; at most
// GeneralMaxPendingConnections wait for theirs, and a new one past that closes the oldest.
// Both settings are read when the loop starts.
//
// Made by Create(): the thread holds a reference of its own, so the object lives until
// both the owner has dropped its reference and the thread has ended. Set the address, port
// and SSL mark before Start. Stop may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/foundation/SocketConn.h"
#include "engine/foundation/UniqueFd.h"

class CServerThreadPool;

class CListenerThread : public std::enable_shared_from_this<CListenerThread> {
    struct CKey {};  // only Create makes listeners

public:
    static std::shared_ptr<CListenerThread> Create(CServerThreadPool* pool = nullptr);
    CListenerThread(CKey, CServerThreadPool* pool);
    ~CListenerThread();
    CListenerThread(const CListenerThread&) = delete;
    CListenerThread& operator=(const CListenerThread&) = delete;

    // Starts the accept loop; false when no thread could be made.
    bool Start();
    // Polls the started flag every `interval`, at most `polls` times; true once it is set.
    bool WaitStarted(int polls = 50,
                     std::chrono::milliseconds interval = std::chrono::milliseconds(100));
    // Sets the stop flag and wakes the loop, which closes the listening socket and every
    // connection still waiting for its head.
    void Stop();
    // Waits up to `timeout` for the thread to end; true when it has.
    bool WaitForEnd(std::chrono::milliseconds timeout);

    // The port actually bound (port 0 asks the system for a free one); 0 before listening.
    int GetBoundPort() const { return m_nBoundPort.load(); }

    std::string m_strAddress;  // empty: every address
    int m_nPort = 80;
    bool m_bSsl = false;
    const std::int64_t m_timeStart;       // shown by the console as the listener's start
    std::atomic<bool> m_bStarted{false};  // set while the accept loop runs

    // Connections now waiting for their head (read by tests and the console's view).
    std::size_t GetPendingCount() const { return m_nPending.load(); }

private:
    void InitInstance();
    // The event loop, until Stop.
    void RunLoop();
    bool IsStopping();

    CServerThreadPool* m_pPool;
    std::mutex m_lock;  // guards the stop and end flags
    std::condition_variable m_changed;
    bool m_bStop = false;
    bool m_bEnded = false;
    std::atomic<int> m_nBoundPort{0};
    std::atomic<std::size_t> m_nPending{0};
    CUniqueFd m_wake;  // an eventfd that Stop writes to
    CSocketConn m_listener;
    std::thread m_thread;
};
