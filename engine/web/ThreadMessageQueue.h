// Thread messages: each worker thread owns one queue and waits on it; other threads post.
// Ids keep their historical numbers so that the console and the scheduler agree on them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

enum : unsigned {
    WM_QUIT = 0x0012,              // ends the worker's loop
    WM_SERVE_CONNECTION = 0x8001,  // to a server thread: serve the connection just handed over
    WM_RUN_TASK = 0x8001,          // to the system-script thread: run task wParam now
    WM_SCHEDULER_TICK = 0x8002,    // to the system-script thread: the one-minute timer
};

struct CThreadMessage {
    unsigned m_id = 0;
    std::uintptr_t m_wParam = 0;
    std::intptr_t m_lParam = 0;
};

// A first-in first-out queue of messages. Any thread may post; one thread reads.
// Thread-safe.
class CThreadMessageQueue {
public:
    CThreadMessageQueue() = default;
    CThreadMessageQueue(const CThreadMessageQueue&) = delete;
    CThreadMessageQueue& operator=(const CThreadMessageQueue&) = delete;

    // Appends a message; false once the queue is closed (its reader has ended).
    bool Post(unsigned id, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

    // Waits for the next message. Returns false, leaving `message` untouched, only when the
    // queue is closed and empty.
    bool Get(CThreadMessage& message);

    // As Get, but gives up at `deadline` (false then as well).
    bool GetUntil(CThreadMessage& message, std::chrono::steady_clock::time_point deadline);

    // Refuses later posts; messages already queued can still be read.
    void Close();

    std::size_t Size() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<CThreadMessage> m_messages;
    bool m_closed = false;
};
