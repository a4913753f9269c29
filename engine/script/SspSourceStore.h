#pragma once

#include <map>
#include <memory>
#include <string>

#include "engine/script/SspSourceFile.h"

// The files one run reads. Only the root interpreter's store is used, so a file that several
// functions of one run touch is read once; the root empties it when the run ends, so an
// edited file is read afresh by the next run. One thread, no lock.
class CSspSourceStore {
public:
    CSspSourceStore() = default;
    ~CSspSourceStore();
    CSspSourceStore(const CSspSourceStore&) = delete;
    CSspSourceStore& operator=(const CSspSourceStore&) = delete;

    // The loaded file for `path` (case-sensitive: the same path finds the same entry), or
    // nullptr with m_strError set. A failed entry stays and the next call retries the load.
    CSspSourceFile* GetFile(const std::string& path);
    // Unloads and drops every file.
    void RemoveAll();

    std::map<std::string, std::unique_ptr<CSspSourceFile>> m_files;
    std::string m_strError;
};
