#include "engine/foundation/LogWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/foundation/UniqueFd.h"
#include "engine/foundation/WriteAll.h"

// Every member has a constant default, so the compiler initialises this before any dynamic
// initialiser runs and every other global may log while it is built and torn down. (No
// constinit: clang cannot constant-evaluate libstdc++'s std::string.)
CLogWriter g_log;

namespace {

constexpr const char* kEventSource = "velmorinServer2";

// Opens the day file for the length of one entry; false when it cannot be opened.
bool OpenDayFile(CUniqueFd& file, const std::string& path) {
    file.Reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    return file.Get() >= 0;
}

std::tm SystemNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::string DayFileName(const std::string& folder, const std::tm& when) {
    char day[8];
    std::strftime(day, sizeof day, "%d", &when);
    return folder + "/day" + day + ".txt";
}

}  // namespace

void CLogWriter::SetFolder(const std::string& folder) {
    std::lock_guard guard(m_lock);
    m_mode = kDayFile;
    m_folder = folder;
}

void CLogWriter::SetWindow(std::shared_ptr<CLogSink> sink) {
    std::lock_guard guard(m_lock);
    m_mode = kWindow;
    m_sink = std::move(sink);
}

void CLogWriter::SetMessageBox(std::shared_ptr<CLogSink> sink) {
    std::lock_guard guard(m_lock);
    m_mode = kMessageBox;
    m_sink = std::move(sink);
}

void CLogWriter::SetEventLog() {
    std::lock_guard guard(m_lock);
    m_mode = kEventLog;
}

CLogWriter::Mode CLogWriter::GetMode() const {
    std::lock_guard guard(m_lock);
    return m_mode;
}

std::string CLogWriter::GetFolder() const {
    std::lock_guard guard(m_lock);
    return m_folder;
}

void CLogWriter::SetClock(Clock clock) {
    std::lock_guard guard(m_lock);
    m_clock = clock;
}

std::tm CLogWriter::Now() const {
    return m_clock ? m_clock() : SystemNow();
}

void CLogWriter::Log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Format(true, format, args);
    va_end(args);
}

void CLogWriter::LogRaw(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Format(false, format, args);
    va_end(args);
}

void CLogWriter::Format(bool lineBreak, const char* format, va_list args) {
    if (format == nullptr) {
        return;
    }
    if (std::strlen(format) > kMaxText) {
        Write(std::string(format, kMaxText));
        return;
    }
    char buffer[kMaxText + 3];
    int n = std::vsnprintf(buffer, kMaxText + 1, format, args);
    if (n < 0) {
        return;
    }
    std::string text(buffer, std::min(static_cast<size_t>(n), kMaxText));
    if (lineBreak) {
        text += "\r\n";
    }
    Write(text);
}

void CLogWriter::LogText(std::string_view text) {
    Write(std::string(text.substr(0, kMaxText)));
}

void CLogWriter::Write(const std::string& text) {
    Mode mode;
    std::shared_ptr<CLogSink> sink;
    {
        std::lock_guard guard(m_lock);
        mode = m_mode;
        sink = m_sink;
    }
    switch (mode) {
        case kMessageBox:
            if (sink) {
                sink->Deliver(text);
            } else {
                std::fwrite(text.data(), 1, text.size(), stderr);
                if (text.empty() || text.back() != '\n') {
                    std::fputc('\n', stderr);
                }
            }
            break;
        case kEventLog:
            ::syslog(LOG_USER | LOG_ERR, "%s error: %.*s", kEventSource,
                     static_cast<int>(text.size()), text.data());
            break;
        case kWindow:
            if (sink && !sink->Deliver(text)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                sink->Deliver(text);
            }
            break;
        default:
            WriteToFile(text);
            break;
    }
}

void CLogWriter::WriteToFile(const std::string& text) {
    std::lock_guard guard(m_lock);
    if (m_folder.empty()) {
        return;
    }
    const std::tm when = Now();
    const std::string logFolder = m_folder + "/log";
    CUniqueFd file;
    if (!OpenDayFile(file, DayFileName(logFolder, when))) {
        ::mkdir(logFolder.c_str(), 0755);
        if (!OpenDayFile(file, DayFileName(logFolder, when)) &&
            !OpenDayFile(file, DayFileName(m_folder, when))) {
            return;
        }
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) == 0 && info.st_size > kMaxFileSize) {
        // Last month's file: start it afresh; O_APPEND keeps writes at the new end.
        if (::ftruncate(file.Get(), 0) != 0) {
            return;
        }
    }
    char stamp[32];
    const size_t stampLength = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &when);
    std::string entry(stamp, stampLength);
    entry += text;
    // One write() per entry: O_APPEND then places the whole entry at the end even when another
    // process appends to the same file at the same moment.
    WriteAll(file.Get(), entry);
}
