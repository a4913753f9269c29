#include "engine/web/ThreadMessageQueue.h"

bool CThreadMessageQueue::Post(unsigned id, std::uintptr_t wParam, std::intptr_t lParam) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed) {
            return false;
        }
        m_messages.push_back({id, wParam, lParam});
    }
    m_ready.notify_one();
    return true;
}

bool CThreadMessageQueue::Get(CThreadMessage& message) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_ready.wait(guard, [this] { return !m_messages.empty() || m_closed; });
    if (m_messages.empty()) {
        return false;
    }
    message = m_messages.front();
    m_messages.pop_front();
    return true;
}

bool CThreadMessageQueue::GetUntil(CThreadMessage& message,
                                   std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_ready.wait_until(guard, deadline, [this] { return !m_messages.empty() || m_closed; }) ||
        m_messages.empty()) {
        return false;
    }
    message = m_messages.front();
    m_messages.pop_front();
    return true;
}

void CThreadMessageQueue::Close() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closed = true;
    }
    m_ready.notify_all();
}

std::size_t CThreadMessageQueue::Size() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_messages.size();
}
