#include "engine/script/SspSourceStore.h"

CSspSourceStore::~CSspSourceStore() {
    RemoveAll();
}

CSspSourceFile* CSspSourceStore::GetFile(const std::string& path) {
    m_strError.clear();
    auto it = m_files.find(path);
    if (it == m_files.end()) {
        it = m_files.emplace(path, std::make_unique<CSspSourceFile>(path)).first;
    }
    CSspSourceFile* file = it->second.get();
    return file->Load(m_strError) ? file : nullptr;
}

void CSspSourceStore::RemoveAll() {
    for (auto& entry : m_files) {
        entry.second->Unload();
    }
    m_files.clear();
}
