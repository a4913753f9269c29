#include "engine/script/SspSourceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspTokenCache.h"

namespace {

std::string LoadError(const char* what, const std::string& path, int code) {
    return std::string(what) + " [" + path + "]. " + FormatSystemError(code);
}

}  // namespace

CSspSourceFile::CSspSourceFile(std::string path) : m_strPath(std::move(path)) {}

CSspSourceFile::~CSspSourceFile() = default;

bool CSspSourceFile::Load(std::string& error) {
    if (m_bLoaded) {
        return true;
    }
    CUniqueFd fd(::open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        error = LoadError(g_msg.m_openFileFailed, m_strPath, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = LoadError(g_msg.m_openFileFailed, m_strPath, S_ISDIR(st.st_mode) ? EISDIR : errno);
        return false;
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
            error = LoadError(g_msg.m_mapScriptFailed, m_strPath, errno);
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    if (text.empty()) {
        // An empty file cannot be mapped, and callers have always seen it fail this way.
        error = LoadError(g_msg.m_createMappingFailed, m_strPath, EINVAL);
        return false;
    }
    m_text = std::move(text);
    m_nSize = static_cast<uint32_t>(m_text.size());
    m_pBegin = m_text.data();
    m_pEnd = m_pBegin + m_text.size();
    m_bLoaded = true;
    BuildLineIndex();
    return true;
}

void CSspSourceFile::Unload() {
    m_functions.clear();
    m_pTokenCache.reset();
    m_text.clear();
    m_text.shrink_to_fit();
    m_pBegin = m_pEnd = nullptr;
    m_nSize = 0;
    m_bLoaded = false;
}

const char* CSspSourceFile::BuildLineIndex() {
    m_lineStarts.clear();
    m_lineEnds.clear();
    uint32_t start = 0;
    for (uint32_t i = 0; i < m_nSize; ++i) {
        if (m_pBegin[i] == '\n') {
            m_lineStarts.push_back(start);
            m_lineEnds.push_back(i);
            start = i + 1;
        }
    }
    return m_pBegin + start;
}

int CSspSourceFile::GetLineOfPosition(const char* pos) const {
    if (pos < m_pBegin || pos > m_pEnd || m_lineEnds.empty()) {
        return 0;
    }
    auto offset = static_cast<uint32_t>(pos - m_pBegin);
    // The first line whose end is at or after the offset; the line index is sorted.
    auto it = std::lower_bound(m_lineEnds.begin(), m_lineEnds.end(), offset);
    if (it == m_lineEnds.end()) {
        return 0;
    }
    auto line = static_cast<std::size_t>(it - m_lineEnds.begin());
    return m_lineStarts[line] <= offset ? static_cast<int>(line) + 1 : 0;
}

const char* CSspSourceFile::GetLineStart(const char* pos) const {
    int line = GetLineOfPosition(pos);
    return line == 0 ? m_pBegin : m_pBegin + m_lineStarts[static_cast<std::size_t>(line) - 1];
}

bool CSspSourceFile::IsPageFile() const {
    std::size_t dot = m_strPath.rfind('.');
    return dot != std::string::npos &&
           SspNameEquals(std::string_view(m_strPath).substr(dot), ".zrp");
}

const CSspFunctionDef* CSspSourceFile::FindFunction(std::string_view name) const {
    for (const auto& def : m_functions) {
        if (SspNameEquals(def->m_strName, name)) {
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
    if (!m_pTokenCache) {
        m_pTokenCache = std::make_unique<CSspTokenCache>();
    }
    return *m_pTokenCache;
}
