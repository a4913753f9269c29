#include "studio/window/LogPaneSink.h"

#include <QMetaObject>

bool CLogPaneSink::Deliver(const std::string& text) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_pane) {
        return true;
    }
    const bool first = m_pending.empty();
    m_pending.push_back(text);
    if (first) {
        // One call flushes everything queued until it runs.
        QMetaObject::invokeMethod(
            m_pane.data(), [self = shared_from_this()] { self->Flush(); }, Qt::QueuedConnection);
    }
    return true;
}

void CLogPaneSink::Flush() {
    std::vector<std::string> texts;
    COutputEdit* pane = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        texts.swap(m_pending);
        pane = m_pane.data();
    }
    if (pane && !texts.empty()) {
        pane->AppendOutput(texts);
    }
}

void CLogPaneSink::Detach() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pane = nullptr;
    m_pending.clear();
}
