// The small static files one server thread sends, kept in memory so that a request for one
// costs a stat instead of an open, a read of the file and a close. Held bytes are used only
// while stat still gives the device, inode, size, modification and change times they were
// read with, so a file edited, replaced or renamed over is read afresh. A file whose times
// are within the settle time of now is not kept: a second write within the file system's
// clock tick would leave those times as they were.
//
// Used by one thread only.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

class CStaticFileCache {
public:
    static constexpr size_t kMaxFileSize = 16384;
    // Past this many bytes in all the cache starts over.
    static constexpr size_t kMaxBytes = 262144;

    explicit CStaticFileCache(std::chrono::seconds settle = std::chrono::seconds(3));

    // The bytes held for `path` when `now` (its stat now) still describes the file they were
    // read from, else nullptr.
    const std::string* Find(const std::string& path, const struct stat& now) const;
    // Reads the open regular file `fd`, whose fstat gave `st`, and keeps its bytes when it is
    // small, settled and unchanged by the end of the read. The bytes kept, or nullptr: the
    // caller then sends the file itself.
    const std::string* Load(const std::string& path, int fd, const struct stat& st);

    std::size_t Count() const { return m_entries.size(); }

private:
    struct CEntry {
        struct stat m_stat;
        std::string m_bytes;
    };

    std::chrono::seconds m_settle;
    std::unordered_map<std::string, CEntry> m_entries;
    std::size_t m_bytes = 0;
};
