#include "engine/script/SspRegion.h"

#include <algorithm>
#include <functional>

#include "engine/script/SspTokenCache.h"

namespace {

// Enough for the loops and function bodies that are worth it; longer ones are left partly to
// the usual reading.
constexpr std::size_t kMaxOps = 512;

// Where the executor stands after the statement whose head `step` is, when that is fixed by
// the text and the cache holds it (nullptr otherwise), with what it reads there. `held`, when
// given, says whether a region holds statements of this kind at all.
const char* AfterStatement(const CSspTokenCache& cache, const CSspTokenCache::CStep& step,
                           CSspRegion::COp* op = nullptr, bool* held = nullptr) {
    if (held != nullptr) {
        *held = true;
    }
    using Mode = CSspTokenCache::Mode;
    switch (step.m_keyword) {
        case CSspKeyword::Set: {
            const CSspTokenCache::CAssignment* hit = cache.FindAssignment(step.m_pAfter);
            if (op != nullptr) {
                op->m_pAssign = hit;
            }
            return hit != nullptr ? hit->m_pStmt->m_pAfter : nullptr;
        }
        case CSspKeyword::If:
        case CSspKeyword::ElseIf:
        case CSspKeyword::While:
        case CSspKeyword::Write:
        case CSspKeyword::Return: {
            const CSspTokenCache::CStatement* stmt =
                step.m_keyword == CSspKeyword::Write || step.m_keyword == CSspKeyword::Return
                    ? cache.FindStatement(step.m_pAfter, Mode::ToSemicolon)
                    : cache.FindParenthesized(step.m_pAfter);
            if (op != nullptr) {
                op->m_pStmt = stmt;
            }
            return stmt != nullptr ? stmt->m_pAfter : nullptr;
        }
        case CSspKeyword::Else:
        case CSspKeyword::EndIf:
        case CSspKeyword::EndWhile:
        case CSspKeyword::Break:
        case CSspKeyword::Continue:
            return step.m_pAfter;
        default:
            if (held != nullptr) {
                *held = false;
            }
            return nullptr;
    }
}

}  // namespace

CSspRegion CSspRegion::Build(CSspTokenCache& cache, const char* at, const char* end, int codeKind) {
    using EHead = CSspTokenCache::CStep::EHead;
    CSspRegion region;
    region.m_nCodeKind = codeKind;
    region.m_pReach = at;
    const char* pos = at;
    while (region.m_ops.size() < kMaxOps) {
        const CSspTokenCache::CStep* step = cache.StepFromToken(pos);
        if (step == nullptr) {
            // A token read over a wider range than this one never makes a head here.
            const CSspTokenCache::CToken* token = cache.FindToken(pos);
            if (token == nullptr || token->m_pAfter <= end) {
                region.m_pShortAt = pos;
            }
            break;
        }
        if (step->m_pReach > end || step->m_head == EHead::BlockEnd) {
            break;
        }
        const CSspKeyword keyword =
            step->m_head == EHead::Semicolon ? CSspKeyword::None : step->m_keyword;
        COp op{keyword, pos, step->m_pStart, step->m_pAfter};
        bool held = true;
        const char* next = step->m_head == EHead::Semicolon
                               ? step->m_pAfter
                               : AfterStatement(cache, *step, &op, &held);
        if (next == nullptr) {
            // A kind a region leaves out stays out; a statement not run yet may join later.
            if (held) {
                region.m_pShortAt = pos;
                region.m_bShortOfExtent = true;
            }
            break;
        }
        if (next > end) {
            break;
        }
        if (keyword == CSspKeyword::If || keyword == CSspKeyword::ElseIf) {
            const CSspTokenCache::CSkip* skip =
                cache.FindSkip(next, CSspTokenCache::SkipMode::ToBranch);
            if (skip != nullptr && skip->m_nStartKind == codeKind && skip->m_nEndKind == codeKind &&
                skip->m_pAfter <= end) {
                op.m_pSkip = skip;
                region.m_pReach =
                    std::max(region.m_pReach, skip->m_pAfter, std::less<const char*>());
            }
        }
        region.m_ops.push_back(op);
        region.m_pReach =
            std::max(region.m_pReach, std::max(next, step->m_pReach), std::less<const char*>());
        pos = next;
    }
    for (COp& op : region.m_ops) {
        region.m_bHasLoop = region.m_bHasLoop || op.m_keyword == CSspKeyword::While;
        if (op.m_pSkip != nullptr) {
            op.m_nSkipOp = region.OpAt(op.m_pSkip->m_pAfter);
        }
    }
    if (!region.m_bHasLoop && !region.m_ops.empty()) {
        region.FindBranches(cache);
    }
    return region;
}

void CSspRegion::FindBranches(const CSspTokenCache& cache) {
    // The skips the reading took are the truth: a token of a statement may count as a block
    // keyword there. A jump is used only where the cache holds the reading's own skip.
    struct COpenIf {
        int m_nLastBranch;
        std::size_t m_nFirstPending;  // in `pending`: its elseif and else ops
    };
    std::vector<COpenIf> open;
    std::vector<int> pending;
    const int count = static_cast<int>(m_ops.size());
    auto link = [this](int from, int to) {
        COp& op = m_ops[static_cast<std::size_t>(from)];
        if (op.m_keyword != CSspKeyword::Else && op.m_nSkipOp == to) {
            op.m_nBranchOp = to;
        }
    };
    for (int i = 0; i < count; ++i) {
        switch (m_ops[static_cast<std::size_t>(i)].m_keyword) {
            case CSspKeyword::If:
                if (open.size() == kMaxStraightDepth) {
                    return;
                }
                open.push_back({i, pending.size()});
                break;
            case CSspKeyword::ElseIf:
            case CSspKeyword::Else:
                if (open.empty()) {
                    return;
                }
                link(open.back().m_nLastBranch, i);
                open.back().m_nLastBranch = i;
                pending.push_back(i);
                break;
            case CSspKeyword::EndIf: {
                if (open.empty()) {
                    return;
                }
                link(open.back().m_nLastBranch, i);
                const char* afterEnd = m_ops[static_cast<std::size_t>(i)].m_pAfter;
                for (std::size_t p = open.back().m_nFirstPending; p < pending.size(); ++p) {
                    COp& branch = m_ops[static_cast<std::size_t>(pending[p])];
                    const CSspTokenCache::CSkip* skip =
                        cache.FindSkip(branch.m_pAfter, CSspTokenCache::SkipMode::ToEndIf);
                    if (skip != nullptr && skip->m_pAfter == afterEnd &&
                        skip->m_nStartKind == m_nCodeKind && skip->m_nEndKind == m_nCodeKind) {
                        branch.m_nEndOp = i + 1;
                    }
                }
                pending.resize(open.back().m_nFirstPending);
                open.pop_back();
                break;
            }
            case CSspKeyword::Set:
            case CSspKeyword::Write:
            case CSspKeyword::Return:
            case CSspKeyword::None:
                break;
            default:
                return;
        }
    }
    // Handing on before its first op would find the same region at the same place again.
    const COp& first = m_ops.front();
    m_bStraight = first.m_keyword != CSspKeyword::If || first.m_nBranchOp >= 0;
}

bool CSspRegion::CanGrow(CSspTokenCache& cache) const {
    if (m_pShortAt == nullptr) {
        return false;
    }
    const CSspTokenCache::CStep* step =
        m_bShortOfExtent ? cache.FindStep(m_pShortAt) : cache.StepFromToken(m_pShortAt);
    return step != nullptr && (!m_bShortOfExtent || AfterStatement(cache, *step) != nullptr);
}

int CSspRegion::OpAt(const char* pos) const {
    // Most often a loop coming round to its head.
    if (!m_ops.empty() && m_ops.front().m_pStart == pos) {
        return 0;
    }
    // Ops lie in text order, each head's place before its first token.
    auto it = std::lower_bound(m_ops.begin(), m_ops.end(), pos, [](const COp& op, const char* p) {
        return std::less<const char*>()(op.m_pStart, p);
    });
    if (it != m_ops.end() && (it->m_pStart == pos || it->m_pAt == pos)) {
        return static_cast<int>(it - m_ops.begin());
    }
    return -1;
}
