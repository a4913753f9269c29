#include "engine/foundation/FoldedLog.h"

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"

CFoldedLog g_refusalLog;

CFoldedLog::CFoldedLog(std::chrono::milliseconds interval) : m_interval(interval) {}

void CFoldedLog::Log(const std::string& text) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> guard(m_lock);
    FlushLocked(now);
    auto found = m_kinds.find(text);
    if (found != m_kinds.end()) {
        ++found->second.m_more;
        return;
    }
    m_kinds.emplace(text, CKind{now, 0});
    g_log.Log("%s", text.c_str());
}

void CFoldedLog::Flush() {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> guard(m_lock);
    FlushLocked(now);
}

void CFoldedLog::FlushLocked(Clock::time_point now) {
    for (auto it = m_kinds.begin(); it != m_kinds.end();) {
        CKind& kind = it->second;
        if (now - kind.m_written < m_interval) {
            ++it;
            continue;
        }
        if (kind.m_more == 0) {
            // Quiet for a whole interval: the next one is written again in full.
            it = m_kinds.erase(it);
            continue;
        }
        WriteCount(it->first, kind.m_more);
        kind.m_more = 0;
        kind.m_written = now;
        ++it;
    }
}

void CFoldedLog::WriteCount(const std::string& text, long more) {
    g_log.Log(g_msg.m_repeatedRefusals, more, text.c_str());
}
