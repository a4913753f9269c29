#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/script/SspExpression.h"
#include "engine/script/SspKeyword.h"
#include "engine/script/SspPositionIndex.h"

class CSspRegion;

// A call's argument list read from the start of its operand: the statement between its
// parentheses, where reading it ended, and each argument's token range [first, last] in it.
struct CSspCallArgs {
    const CSspExpression* m_pExpr;
    const char* m_pAfter;
    std::vector<std::pair<int, int>> m_items;
    bool m_bLoneFast;  // one argument, the whole statement, of a fast shape
    // m_bLoneFast, both sides are plain operands and the member evaluates its arguments
    bool m_bLonePlain = false;
};

// Scanned tokens and compiled statements of one file's text, by source position, so that a
// loop does not scan its body again on every pass and a page is compiled once for all its
// runs. Scanning is a pure function of the text and the position, so a cached entry gives
// exactly what a fresh scan gives; scans that fail are never stored, and fail again the same
// way. Shared by the runs of every thread (see CSspPositionIndex); an entry never changes
// once stored.
class CSspTokenCache {
public:
    struct CToken {
        std::string m_text;
        const char* m_pStart;
        const char* m_pAfter;  // the position the scanner moved to
        CSspKeyword m_keyword;
    };
    struct CStatement {
        CSspExpression m_expr;
        const char* m_pAfter;
    };
    // A `set` statement read from just after its keyword: the target, and the entry of the
    // statement after its "=".
    struct CAssignment {
        std::string m_strTarget;
        const char* m_pTargetStart;
        const CStatement* m_pStmt;
        bool m_bLocal;              // the target is Local.name
        std::string m_strLocalVar;  // then the name lower-cased
        std::size_t m_nLocalVarHash;
    };
    // A stretch of literal text up to the code opener that ends it.
    struct CLiteral {
        const char* m_pOpener;  // where the opener starts
        const char* m_pAfter;   // just after the opener
        int m_nKind;
    };
    // Where skipping a block that starts at a place, in a code kind, ends.
    struct CSkip {
        const char* m_pAfter;
        int m_nStartKind;
        int m_nEndKind;
    };
    // The head of a statement as the executor reads it from a place: its first token and,
    // for a token that is no keyword, what follows it.
    struct CStep {
        enum class EHead : uint8_t { Statement, Semicolon, BlockEnd };
        std::string m_strToken;
        const char* m_pStart;
        const char* m_pAfter;  // just after the first token
        const char* m_pReach;  // the furthest place read: valid within a range that holds it
        CSspKeyword m_keyword;
        EHead m_head;
        bool m_bAssignment;  // "=" follows
        bool m_bRedirect;    // the token is Response.Redirect
    };
    enum class Mode : uint8_t { ToSemicolon, Parenthesized };
    // The three ways a block is skipped: to "endwhile", to "endif", to the next branch.
    enum class SkipMode : uint8_t { ToEndWhile, ToEndIf, ToBranch };

    // For the text [begin, begin + size).
    CSspTokenCache(const char* begin, std::size_t size);

    ~CSspTokenCache();
    CSspTokenCache(const CSspTokenCache&) = delete;
    CSspTokenCache& operator=(const CSspTokenCache&) = delete;

    // True for a place in the text: only those are stored.
    bool Covers(const char* pos) const { return Offset(pos) < m_nSize; }

    const CLiteral* FindLiteral(const char* pos) const { return m_literals.Find(Offset(pos)); }
    void StoreLiteral(const char* pos, CLiteral literal) {
        m_literals.Store(Offset(pos), std::move(literal));
    }

    const CToken* FindToken(const char* pos) const { return m_tokens.Find(Offset(pos)); }
    void StoreToken(const char* pos, CToken token) {
        m_tokens.Store(Offset(pos), std::move(token));
    }

    const CStatement* FindStatement(const char* pos, Mode mode) const {
        return Map(mode).Find(Offset(pos));
    }
    // The entry at `pos`: one stored before, else `stmt`; nullptr for a place outside the text.
    const CStatement* StoreStatement(const char* pos, Mode mode, CStatement stmt) {
        return Map(mode).Store(Offset(pos), std::move(stmt));
    }

    // A parenthesised statement read from just before its "(": the entry of the statement
    // after the "(".
    const CStatement* FindParenthesized(const char* pos) const {
        const CStatement* const* entry = m_beforeParens.Find(Offset(pos));
        return entry != nullptr ? *entry : nullptr;
    }
    void StoreParenthesized(const char* pos, const CStatement* stmt) {
        m_beforeParens.Store(Offset(pos), std::move(stmt));
    }

    const CAssignment* FindAssignment(const char* pos) const {
        return m_assignments.Find(Offset(pos));
    }
    void StoreAssignment(const char* pos, CAssignment assignment) {
        m_assignments.Store(Offset(pos), std::move(assignment));
    }

    const CSspCallArgs* FindCallArgs(const char* pos) const { return m_callArgs.Find(Offset(pos)); }
    // The entry at `pos`: one stored before, else `args`; nullptr for a place outside the text.
    const CSspCallArgs* StoreCallArgs(const char* pos, CSspCallArgs args) {
        return m_callArgs.Store(Offset(pos), std::move(args));
    }

    const CStep* FindStep(const char* pos) const { return m_steps.Find(Offset(pos)); }
    void StoreStep(const char* pos, CStep step) { m_steps.Store(Offset(pos), std::move(step)); }

    // The step at `pos`, or one made from the cached token there when that token alone makes
    // the head (a keyword, ";" or "}--"); nullptr when neither is known yet.
    const CStep* StepFromToken(const char* pos);

    // The region that starts at `pos`: the one built there before unless it stopped short at
    // a statement the cache has learned since, else built afresh from the cache's entries
    // for a range ending at `end`.
    const CSspRegion* RegionAt(const char* pos, const char* end, int codeKind);

    const CSkip* FindSkip(const char* pos, SkipMode mode) const {
        return m_skips[static_cast<int>(mode)].Find(Offset(pos));
    }
    void StoreSkip(const char* pos, SkipMode mode, CSkip skip) {
        m_skips[static_cast<int>(mode)].Store(Offset(pos), std::move(skip));
    }

private:
    using StatementIndex = CSspPositionIndex<CStatement>;
    StatementIndex& Map(Mode mode) { return mode == Mode::ToSemicolon ? m_statements : m_parens; }
    const StatementIndex& Map(Mode mode) const {
        return mode == Mode::ToSemicolon ? m_statements : m_parens;
    }
    // Places before the text wrap to an offset no index holds.
    std::size_t Offset(const char* pos) const {
        return reinterpret_cast<std::uintptr_t>(pos) - reinterpret_cast<std::uintptr_t>(m_pBegin);
    }

    const char* m_pBegin;
    std::size_t m_nSize;
    CSspPositionIndex<CToken> m_tokens;
    CSspPositionIndex<CLiteral> m_literals;
    StatementIndex m_statements;
    StatementIndex m_parens;
    CSspPositionIndex<const CStatement*> m_beforeParens;
    CSspPositionIndex<CAssignment> m_assignments;
    CSspPositionIndex<CStep> m_steps;
    CSspPositionIndex<CSspCallArgs> m_callArgs;
    // A region and those it replaced, which runs may still be reading.
    struct CRegionSlot;
    CSspPositionIndex<std::unique_ptr<CRegionSlot>> m_regions;
    CSspPositionIndex<CSkip> m_skips[3];
};
