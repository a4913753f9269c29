#pragma once

#include <cstdarg>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/foundation/LogSink.h"

// The process's one diagnostic log (g_log). Any thread may log at any time; nothing here
// throws, and an entry that cannot be delivered is dropped.
//
// In day-file mode (the default) each entry is appended to <folder>/log/dayDD.txt, DD being
// the day of the month, as "YYYY-MM-DD HH:MM:SS " followed by the text. A day file larger
// than 0x80000 bytes when an entry arrives is emptied first when it was last written on an
// earlier day (last month's file of that day); today's becomes dayDD.txt.1 and a new file is
// begun. The file is opened and closed around every entry and each entry is one append write,
// written whole or not at all, so other processes may log to, read or rotate the same files.
class CLogWriter {
public:
    enum Mode : int { kMessageBox = 0, kDayFile = 1, kEventLog = 2, kWindow = 3 };

    // Supplies the local time used for the day file's name and the stamp; tests replace it.
    using Clock = std::tm (*)();

    // Longest text of one entry, CR LF excluded.
    static constexpr size_t kMaxText = 2044;
    // A day file above this size is started afresh, or today's moved aside, by the next entry.
    static constexpr long kMaxFileSize = 0x80000;

    // Day-file mode with no folder: entries are dropped until SetFolder names one.
    constexpr CLogWriter() = default;
    CLogWriter(const CLogWriter&) = delete;
    CLogWriter& operator=(const CLogWriter&) = delete;

    // Day-file mode, writing under `folder` (the web root). An empty folder drops entries:
    // the log never writes relative to the current directory.
    void SetFolder(const std::string& folder);

    // Window mode: every entry goes to `sink` only (the studio's output pane).
    void SetWindow(std::shared_ptr<CLogSink> sink);

    // Message-box mode: every entry goes to `sink`; with no sink, to standard error.
    void SetMessageBox(std::shared_ptr<CLogSink> sink);

    // System-log mode: every entry goes to syslog as an error of "velmorinServer2".
    void SetEventLog();

    Mode GetMode() const;
    std::string GetFolder() const;

    // Replaces the clock; nullptr restores the system's local time.
    void SetClock(Clock clock);

    // printf-style entry ending in CR LF; the formatted text is cut at kMaxText characters.
    // A format of more than kMaxText characters is not formatted: its first kMaxText
    // characters are logged as they stand, without CR LF.
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // As Log, without the CR LF.
    void LogRaw(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Text from outside (a URL, a script's log text) logged exactly as it is, never read as a
    // format; cut at kMaxText characters, no CR LF added.
    void LogText(std::string_view text);

    // Delivers one finished entry by the current mode.
    void Write(const std::string& text);

private:
    void Format(bool lineBreak, const char* format, va_list args);
    void WriteToFile(const std::string& text);
    std::tm Now() const;

    mutable std::mutex m_lock;  // guards every member below
    Mode m_mode = kDayFile;
    std::string m_folder;
    std::shared_ptr<CLogSink> m_sink;
    Clock m_clock = nullptr;
    bool m_torn = false;  // the last entry left a part that could not be taken back
};

extern CLogWriter g_log;
