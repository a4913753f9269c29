#pragma once

#include <cstdint>
#include <vector>

#include "engine/script/SspKeyword.h"
#include "engine/script/SspTokenCache.h"

// The statements that follow a loop's head or a function body's start, as the executor has
// read them there: each one's keyword and places, in text order, so that a pass over them
// reads no statement heads and looks nothing up by position. What each statement does stays
// the executor's own; a region only spares the reading, and whatever it does not hold (a
// statement never run, one of a kind it leaves out, literal text) is read the usual way.
// Immutable once built; shared like the token cache it is built from.
class CSspRegion {
public:
    struct COp {
        CSspKeyword m_keyword;  // None for a lone ";"
        const char* m_pAt;      // where the executor reads its head
        const char* m_pStart;   // its first token: where a jump lands on it
        const char* m_pAfter;   // just after the first token
        // What the statement reads next, as the cache holds it: the condition of if, elseif
        // and while, the statement of write and return, the assignment of set.
        const CSspTokenCache::CStatement* m_pStmt = nullptr;
        const CSspTokenCache::CAssignment* m_pAssign = nullptr;
        // Where an if or elseif whose condition fails goes on, when the cache held that skip
        // within the region's code kind and range: the skip and the op it lands on (-1 when
        // it lands outside the region).
        const CSspTokenCache::CSkip* m_pSkip = nullptr;
        int m_nSkipOp = -1;
        // In a straight region, as the cache confirmed them (-1 where it did not): for if
        // and elseif the op of the next branch where a failed condition goes on, for elseif
        // and else the op after the endif where they go on when an earlier branch was taken.
        int m_nBranchOp = -1;
        int m_nEndOp = -1;
    };
    // The deepest nesting of ifs a straight region holds.
    static constexpr int kMaxStraightDepth = 8;

    // The statements from `at` in code of `codeKind` within a range ending at `end`, as far
    // as the cache holds them whole.
    static CSspRegion Build(CSspTokenCache& cache, const char* at, const char* end, int codeKind);
    // True when the region stopped short at a statement the cache now holds the head of, so
    // that building it again would take in more.
    bool CanGrow(CSspTokenCache& cache) const;
    // A final region is not built again, however short it stopped.
    bool Final() const { return m_bFinal; }
    void MakeFinal() { m_bFinal = true; }
    // True when the region will never be built again: it is final or stopped nowhere short.
    bool Complete() const { return m_bFinal || m_pShortAt == nullptr; }

    // True when the region can stand for the executor's reading within a range ending at
    // `end`, in code of `codeKind`.
    bool Fits(const char* end, int codeKind) const {
        return !m_ops.empty() && m_pReach <= end && codeKind == m_nCodeKind;
    }
    // The op the executor reads at `pos` (its head's place or its first token), or -1.
    int OpAt(const char* pos) const;
    // True when it holds a loop: without one, a run of it reads each statement once at most.
    bool HasLoop() const { return m_bHasLoop; }
    // True when it holds no loop and its ifs nest as its ops say, no deeper than
    // kMaxStraightDepth: a run of it can keep the open ifs itself instead of the executor's
    // records.
    bool Straight() const { return m_bStraight; }

    std::vector<COp> m_ops;

private:
    void FindBranches(const CSspTokenCache& cache);

    const char* m_pReach = nullptr;  // the furthest place any of it was read to
    // Where the building stopped for want of a head the cache did not hold yet; nullptr when
    // it stopped at the end of what a region may hold.
    const char* m_pShortAt = nullptr;
    // The head was there but not the statement's extent: the statement has not run yet.
    bool m_bShortOfExtent = false;
    bool m_bFinal = false;
    bool m_bHasLoop = false;
    bool m_bStraight = false;
    int m_nCodeKind = 0;
};
