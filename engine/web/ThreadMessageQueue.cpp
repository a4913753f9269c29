#include "engine/web/ThreadMessageQueue.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>

namespace {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));

std::uint32_t* FutexWord(std::atomic<std::uint32_t>& word) {
    return reinterpret_cast<std::uint32_t*>(&word);
}

// Sleeps while the word holds `seen`, at most until `deadline` (a steady-clock time, which is
// the monotonic clock the futex measures by default). Returns early on a wake-up or a signal.
void FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t seen,
               const std::optional<CThreadMessageQueue::Clock::time_point>& deadline) {
    timespec until{};
    if (deadline) {
        const auto since = deadline->time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
        until.tv_sec = static_cast<time_t>(seconds.count());
        until.tv_nsec = static_cast<long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
    }
    syscall(SYS_futex, FutexWord(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, seen,
            deadline ? &until : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
}

}  // namespace

bool CThreadMessageQueue::Post(unsigned id, std::uintptr_t wParam, std::intptr_t lParam) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed) {
            return false;
        }
        m_messages.push_back({id, wParam, lParam});
    }
    m_posts.fetch_add(1);
    WakeReader();
    return true;
}

void CThreadMessageQueue::WakeReader() {
    // The count went up before this looks at the flag, and the reader sets the flag before it
    // looks at the count: one of the two sees the other, so no post is slept through.
    if (m_sleeping.load()) {
        syscall(SYS_futex, FutexWord(m_posts), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, INT_MAX, nullptr,
                nullptr, 0);
    }
}

bool CThreadMessageQueue::Get(CThreadMessage& message) {
    return Wait(message, std::nullopt);
}

bool CThreadMessageQueue::GetUntil(CThreadMessage& message, Clock::time_point deadline) {
    return Wait(message, deadline);
}

bool CThreadMessageQueue::Wait(CThreadMessage& message,
                               const std::optional<Clock::time_point>& deadline) {
    for (;;) {
        const std::uint32_t seen = m_posts.load();
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!m_messages.empty()) {
                message = m_messages.front();
                m_messages.pop_front();
                return true;
            }
            if (m_closed) {
                return false;
            }
        }
        if (deadline && Clock::now() >= *deadline) {
            return false;
        }
        m_sleeping.store(true);
        if (m_posts.load() == seen) {
            FutexWait(m_posts, seen, deadline);
        }
        m_sleeping.store(false);
    }
}

void CThreadMessageQueue::Close() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closed = true;
    }
    m_posts.fetch_add(1);
    WakeReader();
}

std::size_t CThreadMessageQueue::Size() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_messages.size();
}
