// Find in files on a thread of its own. The done flag is true while no search runs; the
// front end enables Find while it is set and Stop while it is clear. Start, Stop and Join may
// be called from any thread; the destructor stops and joins a search that still runs.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "studio/FindInFiles.h"

class CFileFindThread {
public:
    CFileFindThread() = default;
    ~CFileFindThread();
    CFileFindThread(const CFileFindThread&) = delete;
    CFileFindThread& operator=(const CFileFindThread&) = delete;

    // Starts a search whose rows go to `sink` (on the search thread). False when a search
    // runs, or when no thread could be made (the done flag is then set again).
    bool Start(const std::string& text, const std::string& fileTypes, const std::string& folder,
               FindResultSink sink);
    // Asks the search to end; it still delivers its closing rows.
    void Stop();
    // Waits for the search thread to end.
    void Join();
    bool IsDone() const { return m_bDone.load(); }

private:
    std::mutex m_lock;  // guards m_thread
    std::thread m_thread;
    std::atomic<bool> m_bDone{true};
    std::atomic<bool> m_bStop{false};
};
