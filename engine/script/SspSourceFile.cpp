#include "engine/script/SspSourceFile.h"

#include "engine/foundation/AsciiText.h"
#include "engine/script/SspCompiledFileCache.h"
#include "engine/script/SspObject.h"

CSspSourceFile::CSspSourceFile(std::string path) : m_strPath(std::move(path)) {}

CSspSourceFile::~CSspSourceFile() = default;

bool CSspSourceFile::Load(std::string& error) {
    if (m_bLoaded) {
        return true;
    }
    std::shared_ptr<CSspCompiledFile> compiled =
        CSspCompiledFileCache::Instance().Get(m_strPath, error);
    if (!compiled) {
        return false;
    }
    m_pCompiled = std::move(compiled);
    m_pBegin = m_pCompiled->Begin();
    m_pEnd = m_pCompiled->End();
    m_nSize = static_cast<uint32_t>(m_pEnd - m_pBegin);
    m_bLoaded = true;
    return true;
}

void CSspSourceFile::Unload() {
    m_functions.clear();
    m_pLastFound = nullptr;
    m_pBegin = m_pEnd = nullptr;
    m_nSize = 0;
    m_bLoaded = false;
}

int CSspSourceFile::GetLineOfPosition(const char* pos) const {
    return m_pCompiled ? m_pCompiled->GetLineOfPosition(pos) : 0;
}

const char* CSspSourceFile::GetLineStart(const char* pos) const {
    return m_pCompiled ? m_pCompiled->GetLineStart(pos) : m_pBegin;
}

std::size_t CSspSourceFile::LineCount() const {
    return m_pCompiled ? m_pCompiled->LineCount() : 0;
}

bool CSspSourceFile::IsPageFile() const {
    std::size_t dot = m_strPath.rfind('.');
    return dot != std::string::npos &&
           SspNameEquals(std::string_view(m_strPath).substr(dot), ".zrp");
}

const CSspFunctionDef* CSspSourceFile::FindFunctionByName(std::string_view name) const {
    for (const auto& def : m_functions) {
        // Most often called as defined: equal bytes need no case folding.
        if (SameBytes(def->m_strName, name) || SspNameEquals(def->m_strName, name)) {
            m_pLastFound = def.get();
            return def.get();
        }
    }
    return nullptr;
}

const CSspFunctionDef* CSspSourceFile::FindFunctionAt(const char* keyword) const {
    for (const auto& def : m_functions) {
        if (def->m_pKeyword == keyword) {
            return def.get();
        }
    }
    return nullptr;
}

const CSspFunctionDef* CSspSourceFile::AddFunction(std::unique_ptr<CSspFunctionDef> def) {
    m_functions.push_back(std::move(def));
    return m_functions.back().get();
}

void CSspSourceFile::CopyTextTo(std::vector<unsigned char>& out) const {
    out.assign(m_pBegin, m_pEnd);
}

CSspTokenCache& CSspSourceFile::TokenCache() {
    return m_pCompiled->TokenCache();
}
