#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/AsciiText.h"
#include "engine/script/SspFunctionDef.h"

class CSspCompiledFile;
class CSspTokenCache;

// One run's view of a page or script: the file's compiled form, read whole into memory (a
// mapping would die with SIGBUS when another program truncates the file) and shared with the
// other runs of the file, and the functions this run has defined in it. Text positions
// throughout the interpreter are pointers into the compiled form's text; the text is not
// NUL-terminated for readers: every reader stops at m_pEnd.
class CSspSourceFile {
public:
    explicit CSspSourceFile(std::string path);
    ~CSspSourceFile();
    CSspSourceFile(const CSspSourceFile&) = delete;
    CSspSourceFile& operator=(const CSspSourceFile&) = delete;

    // Takes the file's current compiled form unless it is loaded already. Returns false and
    // sets `error` to
    // "Failed to open file:  [path]. <system text>" when it cannot be read, or to
    // "Failed to create file mapping object. [path]. ..." when it is empty.
    bool Load(std::string& error);
    // Drops the text and the function definitions; the line index stays.
    void Unload();
    bool IsLoaded() const { return m_bLoaded; }

    // Line 1.. holding `pos` (a line's "\n" belongs to it); 0 for text after the last "\n".
    int GetLineOfPosition(const char* pos) const;
    // First byte of the line holding `pos`; m_pBegin for line 0.
    const char* GetLineStart(const char* pos) const;
    // True for a ".zrp" extension (any case); everything else runs as a script.
    bool IsPageFile() const;
    // The first definition named `name` (ASCII case-insensitive), or nullptr.
    const CSspFunctionDef* FindFunction(std::string_view name) const {
        // Definitions are only ever appended, so the first one that bears exactly this name
        // stays the first of its name.
        if (m_pLastFound != nullptr && SameBytes(m_pLastFound->m_strName, name)) {
            return m_pLastFound;
        }
        return FindFunctionByName(name);
    }
    // Adds a definition; the file owns it.
    const CSspFunctionDef* AddFunction(std::unique_ptr<CSspFunctionDef> def);
    // The definition whose "function" keyword starts at `keyword`, or nullptr.
    const CSspFunctionDef* FindFunctionAt(const char* keyword) const;
    // Copies the whole text into `out`.
    void CopyTextTo(std::vector<unsigned char>& out) const;
    // Statement tokens cached by source position, valid while the text is loaded.
    CSspTokenCache& TokenCache();
    // Lines that end with a "\n".
    std::size_t LineCount() const;

    std::string m_strPath;
    uint32_t m_nSize = 0;
    const char* m_pBegin = nullptr;
    const char* m_pEnd = nullptr;
    std::vector<std::unique_ptr<CSspFunctionDef>> m_functions;

private:
    std::shared_ptr<CSspCompiledFile> m_pCompiled;
    bool m_bLoaded = false;
    const CSspFunctionDef* FindFunctionByName(std::string_view name) const;
    // The definition FindFunction found last: calls most often name it again.
    mutable const CSspFunctionDef* m_pLastFound = nullptr;
};
