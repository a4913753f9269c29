// Thread messages: each worker thread owns one queue and waits on it; other threads post.
// Ids keep their historical numbers so that the console and the scheduler agree on them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

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
//
// The reader sleeps on a futex rather than a condition variable: a post to a sleeping reader
// costs one wake-up and the reader's wait one more call, where a condition variable costs a
// third call for the lock it takes back.
class CThreadMessageQueue {
public:
    using Clock = std::chrono::steady_clock;

    CThreadMessageQueue() = default;
    CThreadMessageQueue(const CThreadMessageQueue&) = delete;
    CThreadMessageQueue& operator=(const CThreadMessageQueue&) = delete;

    // Appends a message; false once the queue is closed (its reader has ended).
    bool Post(unsigned id, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

    // Waits for the next message. Returns false, leaving `message` untouched, only when the
    // queue is closed and empty.
    bool Get(CThreadMessage& message);

    // As Get, but gives up at `deadline` (false then as well).
    bool GetUntil(CThreadMessage& message, Clock::time_point deadline);

    // Refuses later posts; messages already queued can still be read.
    void Close();

    std::size_t Size() const;

private:
    // Get with a deadline or none.
    bool Wait(CThreadMessage& message, const std::optional<Clock::time_point>& deadline);
    // Wakes the reader when it sleeps; called after the count went up.
    void WakeReader();

    mutable std::mutex m_lock;  // guards the messages and the closed flag
    std::deque<CThreadMessage> m_messages;
    bool m_closed = false;
    std::atomic<std::uint32_t> m_posts{0};  // goes up with every post and the close
    std::atomic<bool> m_sleeping{false};    // the reader sleeps, or is about to
};
