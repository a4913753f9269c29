#include "engine/web/StaticFileCache.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace {

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           SameTime(a.st_mtim, b.st_mtim) && SameTime(a.st_ctim, b.st_ctim);
}

std::int64_t Nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Whether both times lie more than `settle` before now.
bool IsSettled(const struct stat& st, std::chrono::seconds settle) {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return false;
    }
    const std::int64_t limit =
        Nanoseconds(now) - std::chrono::duration_cast<std::chrono::nanoseconds>(settle).count();
    return Nanoseconds(st.st_mtim) < limit && Nanoseconds(st.st_ctim) < limit;
}

}  // namespace

CStaticFileCache::CStaticFileCache(std::chrono::seconds settle) : m_settle(settle) {}

const std::string* CStaticFileCache::Find(const std::string& path, const struct stat& now) const {
    auto found = m_entries.find(path);
    if (found == m_entries.end() || !SameFile(found->second.m_stat, now)) {
        return nullptr;
    }
    return &found->second.m_bytes;
}

const std::string* CStaticFileCache::Load(const std::string& path, int fd, const struct stat& st) {
    if (!S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::size_t>(st.st_size) > kMaxFileSize || !IsSettled(st, m_settle)) {
        return nullptr;
    }
    // One byte more than the size shows a file that grew while it was read.
    std::string bytes(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    struct stat after {};
    if (got != static_cast<std::size_t>(st.st_size) || fstat(fd, &after) != 0 ||
        !SameFile(st, after)) {
        return nullptr;
    }
    bytes.resize(got);
    auto old = m_entries.find(path);
    if (old != m_entries.end()) {
        m_bytes -= old->second.m_bytes.size();
        m_entries.erase(old);
    }
    if (m_bytes + got > kMaxBytes) {
        m_entries.clear();
        m_bytes = 0;
    }
    m_bytes += got;
    CEntry& entry = m_entries[path];
    entry.m_stat = st;
    entry.m_bytes = std::move(bytes);
    return &entry.m_bytes;
}
