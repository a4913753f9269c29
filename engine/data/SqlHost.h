#pragma once

#include <string>
#include <vector>

#include "engine/foundation/SspValue.h"

class CDataSource;

// One token of a declared sql statement, as the page scanner cuts it:
// keywords, names (Local.min), operators, string literals and "," each arrive
// alone. The token's text is the source between the two positions.
struct CSqlToken {
    const char* m_pStart = nullptr;
    const char* m_pEnd = nullptr;
    std::string Text() const { return std::string(m_pStart, m_pEnd); }
};

// What an sql object needs from the page language that declares it. The page
// engine implements it per interpreter; engine/data never sees the
// interpreter itself. Every operation may throw CSspException, which the sql
// object passes on unchanged.
class CSqlHost {
public:
    virtual ~CSqlHost() = default;

    // Cuts the source text [start, end) into tokens. The host keeps them
    // until the next Scan, for Evaluate.
    virtual std::vector<CSqlToken> Scan(const char* start, const char* end) = 0;
    // Evaluates tokens [from, to) of the last Scan as one script expression.
    virtual CSspValue Evaluate(int from, int to) = 0;
    // The page's data source (obtained once per page run and kept by the
    // host); throws at pos when the page has none.
    virtual CDataSource* PageDataSource(const char* pos) = 0;
    // True while the debugger evaluates a watch expression: column reads must
    // not run queries then.
    virtual bool EvaluatingWatch() const { return false; }
};
