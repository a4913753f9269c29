// Lines that a flood repeats (refused connections, for instance) folded on their way to the
// log: the first of a kind is written at once; the same text again within the interval is
// only counted, and at most once an interval one line says how many more came. A log that
// wraps by size thus survives thousands of refusals a second.
//
// Thread-safe. The counts of a kind that went quiet are written by the next Log or Flush,
// so a loop that refuses should call Flush now and then (once a second is enough).
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

class CFoldedLog {
public:
    using Clock = std::chrono::steady_clock;

    explicit CFoldedLog(std::chrono::milliseconds interval = std::chrono::milliseconds(1000));
    CFoldedLog(const CFoldedLog&) = delete;
    CFoldedLog& operator=(const CFoldedLog&) = delete;

    // Logs text (never read as a format) to g_log, or counts it.
    void Log(const std::string& text);
    // Writes the counts whose interval has passed.
    void Flush();

private:
    struct CKind {
        Clock::time_point m_written;  // the last line written for this text
        long m_more = 0;              // counted since then
    };
    void FlushLocked(Clock::time_point now);
    static void WriteCount(const std::string& text, long more);

    const std::chrono::milliseconds m_interval;
    std::mutex m_lock;  // guards m_kinds
    std::map<std::string, CKind> m_kinds;
};

// The server's refusals: pool full, pending cap, head deadline, console from elsewhere.
extern CFoldedLog g_refusalLog;
