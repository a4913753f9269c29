#include "server/ServerStatus.h"

#include <utility>

void CServerStatus::SetWebServer(bool running, int64_t startTime) {
    std::lock_guard guard(m_lock);
    m_state.m_webRunning = running;
    m_state.m_webStart = startTime;
}

void CServerStatus::SetSecureServer(bool running, int64_t startTime) {
    std::lock_guard guard(m_lock);
    m_state.m_secureRunning = running;
    m_state.m_secureStart = startTime;
}

void CServerStatus::SetScheduler(TaskPoster poster) {
    std::lock_guard guard(m_lock);
    m_poster = std::move(poster);
    m_state.m_schedulerRunning = static_cast<bool>(m_poster);
}

CServerStatus::Snapshot CServerStatus::Get() const {
    std::lock_guard guard(m_lock);
    return m_state;
}

CServerStatus::PostResult CServerStatus::PostRunTask(int taskNumber) {
    std::lock_guard guard(m_lock);
    if (!m_poster) {
        return PostResult::kNotRunning;
    }
    return m_poster(taskNumber) ? PostResult::kPosted : PostResult::kFailed;
}
