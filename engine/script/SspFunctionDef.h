#pragma once

#include <string>
#include <vector>

class CSspRegion;

// One `function name(p1, p2) ... endfunction` of a loaded file. Positions point into the
// file's text and live as long as the file stays loaded.
struct CSspFunctionDef {
    const char* m_pKeyword = nullptr;    // start of "function": identifies the definition
    const char* m_pBodyStart = nullptr;  // just after the ")" of the parameter list
    const char* m_pBodyEnd = nullptr;    // start of "endfunction"
    const char* m_pAfterEnd = nullptr;   // just after "endfunction"
    std::string m_strName;               // as written
    std::vector<std::string> m_params;   // parameter names in order
    // The body's region once it can no longer grow: it stays with the file's cache.
    mutable const CSspRegion* m_pBodyRegion = nullptr;
    // The same region when a run of it may keep its open ifs itself (it is straight and lies
    // whole in the body), else nullptr.
    mutable const CSspRegion* m_pStraightBody = nullptr;
};
