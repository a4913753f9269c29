#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/script/SspTokenCache.h"

// The text of one page or script as read from disk, with its line index and its compiled
// statements, shared by every run of the file until the file changes (CSspCompiledFileCache).
// The text never changes once read: positions into it stay valid while a run holds it.
class CSspCompiledFile {
public:
    // What tells one version of the file from the next.
    struct CVersion {
        dev_t m_device = 0;
        ino_t m_inode = 0;
        off_t m_size = 0;
        int64_t m_modifiedNs = 0;
        int64_t m_changedNs = 0;
        bool operator==(const CVersion&) const = default;
    };

    // Reads the file at `path`. Returns nullptr and sets `error` to "Failed to open file:
    // [path]. <system text>" when it cannot be read, or to "Failed to create file mapping
    // object. [path]. ..." when it is empty.
    static std::shared_ptr<CSspCompiledFile> Load(const std::string& path, std::string& error);
    // The version of the file now at `path`; false when it cannot be looked at.
    static bool StatVersion(const std::string& path, CVersion& version);

    // `readAtNs`: the wall-clock time just before the text was read.
    CSspCompiledFile(std::string text, const CVersion& version, int64_t readAtNs);
    CSspCompiledFile(const CSspCompiledFile&) = delete;
    CSspCompiledFile& operator=(const CSspCompiledFile&) = delete;

    const char* Begin() const { return m_text.data(); }
    const char* End() const { return m_text.data() + m_text.size(); }
    const CVersion& Version() const { return m_version; }
    // True when the file at `path` still holds this text. The version alone says so only for
    // a file last changed well before its text was read: file times are coarse, so a file
    // written twice within one tick with the same size keeps its version; such a file is read
    // again and compared.
    bool IsCurrent(const std::string& path);
    CSspTokenCache& TokenCache() { return m_tokenCache; }

    // Line 1.. holding `pos` (a line's "\n" belongs to it); 0 for text after the last "\n".
    int GetLineOfPosition(const char* pos) const;
    // First byte of the line holding `pos`; the text's start for line 0.
    const char* GetLineStart(const char* pos) const;
    // Lines that end with a "\n".
    std::size_t LineCount() const { return m_lineStarts.size(); }

private:
    const std::string m_text;
    const CVersion m_version;
    // When the file on disk was last seen to hold the text.
    std::atomic<int64_t> m_verifiedAtNs;
    std::vector<uint32_t> m_lineStarts;
    std::vector<uint32_t> m_lineEnds;
    CSspTokenCache m_tokenCache;
};
