#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine/script/SspCompiledFile.h"

// The compiled files of the process, by path, each read and compiled once for as long as the
// file on disk keeps its size, times, inode and text (CSspCompiledFile::IsCurrent). A changed file
// is read afresh by the next run that asks; runs still holding the old one keep it until they end.
// Two threads asking for the same file at once get the same object, read once.
class CSspCompiledFileCache {
public:
    static CSspCompiledFileCache& Instance();

    // The current compiled form of `path`, or nullptr with `error` set as
    // CSspCompiledFile::Load sets it.
    std::shared_ptr<CSspCompiledFile> Get(const std::string& path, std::string& error);

private:
    struct CEntry {
        std::mutex m_mutex;  // held while the file is read
        std::shared_ptr<CSspCompiledFile> m_pFile;
    };

    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<CEntry>> m_entries;
};
