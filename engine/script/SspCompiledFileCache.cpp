#include "engine/script/SspCompiledFileCache.h"

CSspCompiledFileCache& CSspCompiledFileCache::Instance() {
    static CSspCompiledFileCache cache;
    return cache;
}

std::shared_ptr<CSspCompiledFile> CSspCompiledFileCache::Get(const std::string& path,
                                                             std::string& error) {
    std::shared_ptr<CEntry> entry;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::shared_ptr<CEntry>& slot = m_entries[path];
        if (!slot) {
            slot = std::make_shared<CEntry>();
        }
        entry = slot;
    }
    // The usual case, a file that has not changed, looks at the disk without the lock, so
    // that runs of one page on many threads do not queue for it.
    std::shared_ptr<CSspCompiledFile> known;
    {
        std::lock_guard<std::mutex> lock(entry->m_mutex);
        known = entry->m_pFile;
    }
    if (known && known->IsCurrent(path)) {
        return known;
    }
    std::lock_guard<std::mutex> lock(entry->m_mutex);
    if (entry->m_pFile && entry->m_pFile != known && entry->m_pFile->IsCurrent(path)) {
        return entry->m_pFile;  // read by another thread meanwhile
    }
    // Read afresh, whatever made it differ; a failure is the reader's to word.
    std::shared_ptr<CSspCompiledFile> file = CSspCompiledFile::Load(path, error);
    entry->m_pFile = file;
    if (!file) {
        // Names of files that are not there do not pile up.
        std::lock_guard<std::mutex> mapLock(m_mutex);
        auto it = m_entries.find(path);
        if (it != m_entries.end() && it->second == entry) {
            m_entries.erase(it);
        }
    }
    return file;
}
