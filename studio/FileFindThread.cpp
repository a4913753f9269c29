#include "studio/FileFindThread.h"

#include <system_error>
#include <utility>

CFileFindThread::~CFileFindThread() {
    Stop();
    Join();
}

bool CFileFindThread::Start(const std::string& text, const std::string& fileTypes,
                            const std::string& folder, FindResultSink sink) {
    std::lock_guard<std::mutex> guard(m_lock);
    bool idle = true;
    if (!m_bDone.compare_exchange_strong(idle, false)) {
        return false;
    }
    if (m_thread.joinable()) {
        m_thread.join();  // the last search has delivered "}" and is ending
    }
    m_bStop = false;
    try {
        m_thread = std::thread([this, text, fileTypes, folder, sink = std::move(sink)] {
            FindInFiles(text, fileTypes, folder, m_bStop, sink);
            m_bDone = true;
        });
    } catch (const std::system_error&) {
        m_bDone = true;
        return false;
    }
    return true;
}

void CFileFindThread::Stop() {
    m_bStop = true;
}

void CFileFindThread::Join() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
    }
}
