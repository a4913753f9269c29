#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "engine/script/SspStatement.h"

// Scanned tokens of one loaded file, by source position, so that a loop does not scan its
// body again on every pass. Scanning is a pure function of the text and the position, so a
// cached entry gives exactly what a fresh scan gives; scans that fail are never stored, and
// fail again the same way. Owned by the file and dropped with its text.
class CSspTokenCache {
public:
    struct CToken {
        std::string m_text;
        const char* m_pStart;
        const char* m_pAfter;  // the position the scanner moved to
    };
    struct CStatement {
        CSspStatement m_stmt;  // without computed values
        const char* m_pAfter;
    };
    // A stretch of literal text up to the code opener that ends it.
    struct CLiteral {
        const char* m_pOpener;  // where the opener starts
        const char* m_pAfter;   // just after the opener
        int m_nKind;
    };
    enum class Mode : uint8_t { ToSemicolon, Parenthesized };

    const CLiteral* FindLiteral(const char* pos) const {
        auto it = m_literals.find(pos);
        return it == m_literals.end() ? nullptr : &it->second;
    }
    void StoreLiteral(const char* pos, CLiteral literal) { m_literals.emplace(pos, literal); }

    const CToken* FindToken(const char* pos) const {
        auto it = m_tokens.find(pos);
        return it == m_tokens.end() ? nullptr : &it->second;
    }
    void StoreToken(const char* pos, CToken token) { m_tokens.emplace(pos, std::move(token)); }

    const CStatement* FindStatement(const char* pos, Mode mode) const {
        auto it = Map(mode).find(pos);
        return it == Map(mode).end() ? nullptr : &it->second;
    }
    void StoreStatement(const char* pos, Mode mode, CStatement stmt) {
        Map(mode).emplace(pos, std::move(stmt));
    }

private:
    using StatementMap = std::unordered_map<const char*, CStatement>;
    StatementMap& Map(Mode mode) { return mode == Mode::ToSemicolon ? m_statements : m_parens; }
    const StatementMap& Map(Mode mode) const {
        return mode == Mode::ToSemicolon ? m_statements : m_parens;
    }

    std::unordered_map<const char*, CToken> m_tokens;
    std::unordered_map<const char*, CLiteral> m_literals;
    StatementMap m_statements;
    StatementMap m_parens;
};
