#include "engine/script/SspCompiledFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"

namespace {

std::string LoadError(const char* what, const std::string& path, int code) {
    return std::string(what) + " [" + path + "]. " + FormatSystemError(code);
}

CSspCompiledFile::CVersion VersionOf(const struct stat& st) {
    CSspCompiledFile::CVersion version;
    version.m_device = st.st_dev;
    version.m_inode = st.st_ino;
    version.m_size = st.st_size;
    version.m_modifiedNs =
        static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    version.m_changedNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return version;
}

int64_t WallClockNs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A change this long before a read cannot share the read's time tick on any file system.
constexpr int64_t kSettledNs = 2'000'000'000;

}  // namespace

bool CSspCompiledFile::StatVersion(const std::string& path, CVersion& version) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    version = VersionOf(st);
    return true;
}

std::shared_ptr<CSspCompiledFile> CSspCompiledFile::Load(const std::string& path,
                                                         std::string& error) {
    const int64_t readAt = WallClockNs();
    CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        error = LoadError(g_msg.m_openFileFailed, path, errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = LoadError(g_msg.m_openFileFailed, path, S_ISDIR(st.st_mode) ? EISDIR : errno);
        return nullptr;
    }
    std::string text;
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    // The file may shrink or grow while it is read; what was read is the text.
    while (got < text.size()) {
        ssize_t n = ::read(fd.Get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = LoadError(g_msg.m_mapScriptFailed, path, errno);
            return nullptr;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    if (text.empty()) {
        // An empty file cannot be mapped, and callers have always seen it fail this way.
        error = LoadError(g_msg.m_createMappingFailed, path, EINVAL);
        return nullptr;
    }
    return std::make_shared<CSspCompiledFile>(std::move(text), VersionOf(st), readAt);
}

bool CSspCompiledFile::IsCurrent(const std::string& path) {
    CVersion now;
    if (!StatVersion(path, now) || !(now == m_version)) {
        return false;
    }
    if (m_version.m_changedNs + kSettledNs < m_verifiedAtNs.load(std::memory_order_relaxed)) {
        return true;
    }
    std::string error;
    std::shared_ptr<CSspCompiledFile> fresh = Load(path, error);
    if (!fresh || fresh->m_text != m_text || !(fresh->m_version == m_version)) {
        return false;
    }
    m_verifiedAtNs.store(fresh->m_verifiedAtNs.load(std::memory_order_relaxed),
                         std::memory_order_relaxed);
    return true;
}

CSspCompiledFile::CSspCompiledFile(std::string text, const CVersion& version, int64_t readAtNs)
    : m_text(std::move(text)),
      m_version(version),
      m_verifiedAtNs(readAtNs),
      m_tokenCache(m_text.data(), m_text.size()) {
    uint32_t start = 0;
    const auto size = static_cast<uint32_t>(m_text.size());
    for (uint32_t i = 0; i < size; ++i) {
        if (m_text[i] == '\n') {
            m_lineStarts.push_back(start);
            m_lineEnds.push_back(i);
            start = i + 1;
        }
    }
}

int CSspCompiledFile::GetLineOfPosition(const char* pos) const {
    if (pos < Begin() || pos > End() || m_lineEnds.empty()) {
        return 0;
    }
    auto offset = static_cast<uint32_t>(pos - Begin());
    // The first line whose end is at or after the offset; the line index is sorted.
    auto it = std::lower_bound(m_lineEnds.begin(), m_lineEnds.end(), offset);
    if (it == m_lineEnds.end()) {
        return 0;
    }
    auto line = static_cast<std::size_t>(it - m_lineEnds.begin());
    return m_lineStarts[line] <= offset ? static_cast<int>(line) + 1 : 0;
}

const char* CSspCompiledFile::GetLineStart(const char* pos) const {
    int line = GetLineOfPosition(pos);
    return line == 0 ? Begin() : Begin() + m_lineStarts[static_cast<std::size_t>(line) - 1];
}
