// The order of an expression's operators, worked out on the statement's token classes: the
// deepest parenthesis level first, each level's runs from left to right, "*" "/" "%" before
// "+" "-" "||". Short ranges are scanned plainly; long ones go through linked slots, so a
// statement of any length is planned in time in proportion to it.
#include "engine/script/SspExpressionPlan.h"

#include <algorithm>
#include <array>

#include "engine/foundation/EngineMessages.h"
#include "engine/script/SspSlotLinks.h"
#include "engine/script/SspStatement.h"

namespace {

using EStep = CSspExpressionPlan::EStep;
using CStep = CSspExpressionPlan::CStep;

bool IsLiveOperand(uint8_t cls) {
    return cls == kSspOperand || cls == kSspCall || cls == kSspComputed;
}

// Below this many slots the plain scans cost less than building links.
constexpr int kShortRun = 16;

// Raised past the planner's frames once a failing step is recorded: nothing follows it.
struct CPlanEnd {};

// Walks the evaluator's order over its own copy of the classes and levels, recording steps.
class CPlanner {
public:
    // Copies the classes and levels of [from, to] only: a long argument list is planned
    // item by item.
    CPlanner(const CSspStatement& stmt, int from, int to, std::vector<CStep>& steps)
        : m_stmt(stmt),
          m_base(from),
          m_classes(stmt.m_classes.begin() + from, stmt.m_classes.begin() + to + 1),
          m_depths(stmt.m_depths.begin() + from, stmt.m_depths.begin() + to + 1),
          m_steps(steps) {}

    void Evaluate(int from, int to, CSspExpressionPlan::EMethod method) {
        // expression: [ '-' ] factor ( op factor )*; factor: operand | '(' expression ')'
        using EMethod = CSspExpressionPlan::EMethod;
        if (method == EMethod::Short) {
            Short(from, to);
        } else if (method == EMethod::Linked) {
            Linked(from, to);
        } else if (from == to) {
            Flat(from, to, true);
        } else if (to - from < kShortRun) {
            Short(from, to);
        } else {
            Linked(from, to);
        }
    }

private:
    void Add(EStep kind, int slot) {
        CStep step{kind};
        step.m_slot = slot;
        m_steps.push_back(step);
    }
    [[noreturn]] void Fail(const char* message, const char* pos) {
        CStep step{EStep::Fail};
        step.m_pMessage = message;
        step.m_pPos = pos;
        m_steps.push_back(step);
        throw CPlanEnd{};
    }

    // The value of a run whose operators are all applied: the last one applied, else (only
    // computed slots) its last computed slot, else empty text.
    void RunValue(int from, int to, int lastApplied) {
        if (lastApplied < 0) {
            for (int i = to; i >= from; --i) {
                if (Cls(i) == kSspComputed) {
                    lastApplied = i;
                    break;
                }
            }
        }
        if (lastApplied >= 0) {
            Add(EStep::CopySlot, lastApplied);
        } else {
            Add(EStep::Empty, -1);
        }
    }

    // A lone slot: its kept value, or the operand read (and kept when the run is inner).
    void Single(int slot, bool keep) {
        if (Cls(slot) == kSspComputed) {
            Add(EStep::CopySlot, slot);
        } else if (keep) {
            // Keep the value of a parenthesised operand, so a call in it runs once.
            Add(EStep::KeepOperand, slot);
            Cls(slot) = kSspComputed;
        } else {
            Add(EStep::ReadOperand, slot);
        }
    }

    void Short(int from, int to) {
        // expression, rescanning for the deepest run
        for (;;) {
            int maxDepth = -1;
            int runFrom = from;
            int runTo = from;
            bool broken = false;
            for (int i = from; i <= to; ++i) {
                int depth = Depth(i);
                if (depth > maxDepth) {
                    maxDepth = depth;
                    runFrom = runTo = i;
                    broken = false;
                } else if (depth == maxDepth) {
                    if (!broken) {
                        runTo = i;
                    }
                } else {
                    broken = true;
                }
            }
            const bool whole = runFrom == from && runTo == to;
            Flat(runFrom, runTo, whole);
            if (whole) {
                return;
            }
            for (int i = runFrom; i <= runTo; ++i) {
                if (Depth(i) > 0) {
                    --Depth(i);
                }
            }
        }
    }

    void Flat(int from, int to, bool whole) {
        // flat: [ '-' ] operand ( ( '*' | '/' | '%' | '+' | '-' | '||' ) operand )*
        if (from == to) {
            Single(from, !whole);
            return;
        }
        int lastApplied = -1;
        for (;;) {
            int op = -1;
            for (int i = from; i <= to && op < 0; ++i) {
                if (Cls(i) == kSspMulOp) {
                    op = i;
                }
            }
            for (int i = from; i <= to && op < 0; ++i) {
                if (Cls(i) == kSspAddOp) {
                    op = i;
                }
            }
            if (op < 0) {
                for (int i = from; i <= to; ++i) {
                    if (Cls(i) == kSspOperand || Cls(i) == kSspCall) {
                        Fail(g_msg.m_missingOperator, m_stmt.m_ends[from]);
                    }
                }
                RunValue(from, to, lastApplied);
                return;
            }
            int left = -1;
            for (int i = op - 1; i >= from; --i) {
                if (IsLiveOperand(Cls(i))) {
                    left = i;
                    break;
                }
            }
            int right = -1;
            for (int i = op + 1; i <= to; ++i) {
                if (IsLiveOperand(Cls(i))) {
                    right = i;
                    break;
                }
            }
            Apply(op, left, right);
            lastApplied = op;
        }
    }

    void Linked(int from, int to) {
        // expression over linked slots, for long statements
        CSspSlotLinks links(from, to);
        int minDepth = Depth(from);
        int maxDepth = minDepth;
        for (int i = from; i <= to; ++i) {
            const uint8_t cls = Cls(i);
            if (cls == kSspCompareOp || cls == kSspAndOr || cls == kSspConsumed) {
                links.Unlink(i);
            }
            minDepth = std::min(minDepth, Depth(i));
            maxDepth = std::max(maxDepth, Depth(i));
        }
        if (minDepth == maxDepth) {
            Run(links, from, to, nullptr, to - from + 1, false);
            return;
        }
        // Parentheses: the deepest level first, then the next, each level's runs from left to
        // right. A slot's run at its own level reaches to the nearest shallower slot on each
        // side.
        const int count = to - from + 1;
        const int levels = maxDepth - minDepth + 1;
        // One block for all: the run bounds, a stack of shallower slots, the level starts and
        // the slots in level order.
        constexpr int kInline = 32;
        std::array<int, 5 * kInline + 1> inlineBlock;
        std::vector<int> heapBlock;
        int* block = inlineBlock.data();
        if (count > kInline) {
            heapBlock.resize(static_cast<std::size_t>(4 * count + levels + 1));
            block = heapBlock.data();
        }
        int* runStart = block;
        int* runEnd = runStart + count;
        int* shallower = runEnd + count;
        int* levelAt = shallower + count;
        int* order = levelAt + levels + 1;
        int top = 0;
        for (int i = from; i <= to; ++i) {
            while (top > 0 && Depth(shallower[top - 1]) >= Depth(i)) {
                --top;
            }
            runStart[i - from] = top == 0 ? from : shallower[top - 1] + 1;
            shallower[top++] = i;
        }
        top = 0;
        for (int i = to; i >= from; --i) {
            while (top > 0 && Depth(shallower[top - 1]) >= Depth(i)) {
                --top;
            }
            runEnd[i - from] = top == 0 ? to : shallower[top - 1] - 1;
            shallower[top++] = i;
        }
        // The slots by level, deepest first and in index order within a level.
        std::fill(levelAt, levelAt + levels + 1, 0);
        for (int i = from; i <= to; ++i) {
            ++levelAt[maxDepth - Depth(i) + 1];
        }
        for (int level = 1; level <= levels; ++level) {
            levelAt[level] += levelAt[level - 1];
        }
        for (int i = from; i <= to; ++i) {
            order[levelAt[maxDepth - Depth(i)]++] = i;
        }
        // A level's slots of one run are its own tokens there; the deeper ones are done by
        // then.
        for (int k = 0; k < count;) {
            const int first = order[k];
            const int start = runStart[first - from];
            int next = k + 1;
            while (next < count && Depth(order[next]) == Depth(first) &&
                   runStart[order[next] - from] == start) {
                ++next;
            }
            const int end = runEnd[first - from];
            const bool whole = start == from && end == to;
            Run(links, start, end, &order[k], next - k, !whole);
            if (whole) {
                return;
            }
            k = next;
        }
    }

    // One run of slots [from, to] at one parenthesis level; `own` lists the run's slots at
    // that level (nullptr: all of them), the deeper ones being computed or consumed already.
    // An inner run (`keep`) leaves its value in its slots.
    void Run(CSspSlotLinks& links, int from, int to, const int* own, int ownCount, bool keep) {
        // flat, one parenthesis level: [ '-' ] operand ( op operand )*
        if (from == to) {
            Single(from, keep);
            return;
        }
        auto ownSlot = [&](int k) { return own != nullptr ? own[k] : from + k; };
        int lastApplied = -1;
        // "*" "/" "%" from left to right, then "+" "-" "||" from left to right; each takes the
        // nearest operand on either side. Operators still waiting lie between an operator and
        // its operands: a search that passed them goes on from where the last one ended.
        for (uint8_t group : {kSspMulOp, kSspAddOp}) {
            int lastRight = -1;
            for (int k = 0; k < ownCount; ++k) {
                const int op = ownSlot(k);
                if (Cls(op) != group) {
                    continue;
                }
                int left = links.Prev(op);
                while (left >= from && !IsLiveOperand(Cls(left))) {
                    left = links.Prev(left);
                }
                int right = lastRight > op ? links.Next(lastRight) : links.Next(op);
                while (right <= to && !IsLiveOperand(Cls(right))) {
                    right = links.Next(right);
                }
                Apply(op, left >= from ? left : -1, right <= to ? right : -1);
                if (left >= from) {
                    links.Unlink(left);
                }
                links.Unlink(right);
                lastRight = right;
                lastApplied = op;
            }
        }
        for (int k = 0; k < ownCount; ++k) {
            const uint8_t cls = Cls(ownSlot(k));
            if (cls == kSspOperand || cls == kSspCall) {
                Fail(g_msg.m_missingOperator, m_stmt.m_ends[from]);
            }
        }
        if (keep) {
            return;  // an inner run: its slots hold what the next level needs
        }
        RunValue(from, to, lastApplied);
    }

    void Apply(int op, int left, int right) {
        // binary: operand op operand | '-' operand
        const char* opPos = m_stmt.m_starts[op];
        if (left < 0 && m_stmt.m_tokens[op] != "-") {
            Fail(g_msg.m_missingLeftOperand, opPos);
        }
        if (right < 0) {
            Fail(g_msg.m_missingRightOperand, opPos);
        }
        CStep step{EStep::Apply};
        step.m_slot = op;
        step.m_left = left;
        step.m_right = right;
        step.m_bLeftKept = left >= 0 && Cls(left) == kSspComputed;
        step.m_bRightKept = Cls(right) == kSspComputed;
        m_steps.push_back(step);
        Cls(op) = kSspComputed;
        if (left >= 0) {
            Cls(left) = kSspConsumed;
        }
        Cls(right) = kSspConsumed;
    }

    uint8_t& Cls(int slot) { return m_classes[static_cast<std::size_t>(slot - m_base)]; }
    int& Depth(int slot) { return m_depths[static_cast<std::size_t>(slot - m_base)]; }

    const CSspStatement& m_stmt;
    int m_base;
    std::vector<uint8_t> m_classes;
    std::vector<int> m_depths;
    std::vector<CStep>& m_steps;
};

// A step that only sets the result, which a later one sets again before anything can see it.
bool IsOverwritten(const std::vector<CStep>& steps, std::size_t at) {
    for (std::size_t i = at + 1; i < steps.size(); ++i) {
        switch (steps[i].m_kind) {
            case EStep::CopySlot:
            case EStep::Empty:
                return true;
            case EStep::KeepOperand:
            case EStep::ReadOperand:
            case EStep::Fail:
                return false;
            case EStep::Apply:
                break;
        }
    }
    return false;
}

}  // namespace

CSspExpressionPlan CSspExpressionPlan::Build(const CSspStatement& stmt, int from, int to,
                                             EMethod method) {
    CSspExpressionPlan plan;
    std::vector<CStep> steps;
    try {
        if (to >= from) {
            CPlanner(stmt, from, to, steps).Evaluate(from, to, method);
        } else {
            steps.push_back(CStep{EStep::Empty});
        }
    } catch (const CPlanEnd&) {
        // The failing step is the last one.
    }
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const CStep& step = steps[i];
        if ((step.m_kind == EStep::CopySlot || step.m_kind == EStep::Empty) &&
            IsOverwritten(steps, i)) {
            continue;
        }
        plan.m_steps.push_back(step);
        plan.m_nSlots =
            std::max({plan.m_nSlots, step.m_slot + 1, step.m_left + 1, step.m_right + 1});
    }
    return plan;
}
