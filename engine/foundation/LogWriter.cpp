#include "engine/foundation/LogWriter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/UniqueFd.h"

// Every member has a constant default, so the compiler initialises this before any dynamic
// initialiser runs and every other global may log while it is built and torn down. (No
// constinit: clang cannot constant-evaluate libstdc++'s std::string.)
CLogWriter g_log;

namespace {

constexpr const char* kEventSource = "velmorinServer2";

// Opens the day file for the length of one entry; false when it cannot be opened.
bool OpenDayFile(CUniqueFd& file, const std::string& path) {
    file.Reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kGroupFileMode));
    return file.Get() >= 0;
}

// True when a file last written at `modified` was last written on a day before `today`.
bool WrittenBefore(std::time_t modified, const std::tm& today) {
    std::tm written{};
    localtime_r(&modified, &written);
    if (written.tm_year != today.tm_year) {
        return written.tm_year < today.tm_year;
    }
    if (written.tm_mon != today.tm_mon) {
        return written.tm_mon < today.tm_mon;
    }
    return written.tm_mday < today.tm_mday;
}

// Today's full file becomes <name>.1 (the one before goes) and a new one is begun, so a flood
// never erases an entry of today. Under the file's lock, so that of several writers that find
// it full only the first renames it and the others follow to the new file. A file that cannot
// be renamed is appended to beyond the size.
bool StartNextGeneration(CUniqueFd& file, const std::string& path) {
    while (::flock(file.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return true;
        }
    }
    struct stat opened {};
    struct stat named {};
    const bool same = ::fstat(file.Get(), &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
                      opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
    if (same && ::rename(path.c_str(), (path + ".1").c_str()) != 0) {
        return true;
    }
    CUniqueFd next;
    if (!OpenDayFile(next, path)) {
        return false;
    }
    file = std::move(next);
    return true;
}

// Appends the entry whole or takes back the part a short write (a full disk, the file size
// limit) left, so that the next entry does not continue it. False when a part stays.
bool AppendWhole(int fd, const std::string& entry) {
    size_t done = 0;
    while (done < entry.size()) {
        const ssize_t n = ::write(fd, entry.data() + done, entry.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (done == entry.size() || done == 0) {
        return true;
    }
    // Only while nothing was appended after the part: another writer's entry is never cut.
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    struct stat info {};
    return end >= static_cast<off_t>(done) && ::fstat(fd, &info) == 0 && info.st_size == end &&
           ::ftruncate(fd, end - static_cast<off_t>(done)) == 0;
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
    std::string path = DayFileName(logFolder, when);
    CUniqueFd file;
    if (!OpenDayFile(file, path)) {
        MakeGroupFolder(logFolder);
        if (!OpenDayFile(file, path)) {
            path = DayFileName(m_folder, when);
            if (!OpenDayFile(file, path)) {
                return;
            }
        }
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) == 0 && info.st_size > kMaxFileSize) {
        if (WrittenBefore(info.st_mtime, when)) {
            // Last month's file of this day: start it afresh; O_APPEND keeps writes at the end.
            if (::ftruncate(file.Get(), 0) != 0) {
                return;
            }
        } else if (!StartNextGeneration(file, path)) {
            return;
        }
    }
    char stamp[32];
    const size_t stampLength = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &when);
    // After a torn entry that could not be taken back, this one starts a line of its own.
    std::string entry = m_torn ? "\r\n" : "";
    entry.append(stamp, stampLength);
    entry += text;
    // One write() per entry: O_APPEND then places the whole entry at the end even when another
    // process appends to the same file at the same moment.
    m_torn = !AppendWhole(file.Get(), entry);
}
