// Operators of an expression, applied slot by slot in the statement's own arrays: the deepest
// parenthesis level first, each level's runs from left to right, "*" "/" "%" before
// "+" "-" "||". Short ranges are scanned plainly; long ones go through linked slots, so a
// statement of any length takes time in proportion to it.
#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspSlotLinks.h"

namespace {

bool IsLiveOperand(uint8_t cls) {
    return cls == kSspOperand || cls == kSspCall || cls == kSspComputed;
}

// The value of a run whose operators are all applied: the last one applied, else (only
// computed slots) its last computed slot, else empty text.
inline void RunValue(const CSspStatement& stmt, int from, int to, int lastApplied,
                     CSspValue& result) {
    if (lastApplied < 0) {
        for (int i = to; i >= from; --i) {
            if (stmt.m_classes[i] == kSspComputed) {
                lastApplied = i;
                break;
            }
        }
    }
    if (lastApplied >= 0) {
        result = *stmt.m_values[lastApplied];
    } else {
        result = CSspValue::FromText(std::string());
    }
}

// Below this many slots the plain scans of EvaluateShort cost less than building links.
constexpr int kShortRun = 16;

}  // namespace

void CSspInterpreter::Evaluate(CSspStatement& stmt, int from, int to, CSspValue& result) {
    // expression: [ '-' ] factor ( op factor )*; factor: operand | '(' expression ')'
    if (to < from) {
        result = CSspValue::FromText(std::string());
        return;
    }
    if (from == to) {
        EvaluateFlat(stmt, from, to, result);
    } else if (to - from < kShortRun) {
        EvaluateShort(stmt, from, to, result);
    } else {
        EvaluateLinked(stmt, from, to, result);
    }
}

void CSspInterpreter::EvaluateLinked(CSspStatement& stmt, int from, int to, CSspValue& result) {
    // expression, as Evaluate reads it, over linked slots for long statements
    CSspSlotLinks links(from, to);
    int minDepth = stmt.m_depths[from];
    int maxDepth = minDepth;
    for (int i = from; i <= to; ++i) {
        const uint8_t cls = stmt.m_classes[i];
        if (cls == kSspCompareOp || cls == kSspAndOr || cls == kSspConsumed) {
            links.Unlink(i);
        }
        minDepth = std::min(minDepth, stmt.m_depths[i]);
        maxDepth = std::max(maxDepth, stmt.m_depths[i]);
    }
    if (minDepth == maxDepth) {
        EvaluateRun(stmt, links, from, to, nullptr, to - from + 1, false, result);
        return;
    }
    // Parentheses: the deepest level first, then the next, each level's runs from left to
    // right. A slot's run at its own level reaches to the nearest shallower slot on each side.
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
        while (top > 0 && stmt.m_depths[shallower[top - 1]] >= stmt.m_depths[i]) {
            --top;
        }
        runStart[i - from] = top == 0 ? from : shallower[top - 1] + 1;
        shallower[top++] = i;
    }
    top = 0;
    for (int i = to; i >= from; --i) {
        while (top > 0 && stmt.m_depths[shallower[top - 1]] >= stmt.m_depths[i]) {
            --top;
        }
        runEnd[i - from] = top == 0 ? to : shallower[top - 1] - 1;
        shallower[top++] = i;
    }
    // The slots by level, deepest first and in index order within a level.
    std::fill(levelAt, levelAt + levels + 1, 0);
    for (int i = from; i <= to; ++i) {
        ++levelAt[maxDepth - stmt.m_depths[i] + 1];
    }
    for (int level = 1; level <= levels; ++level) {
        levelAt[level] += levelAt[level - 1];
    }
    for (int i = from; i <= to; ++i) {
        order[levelAt[maxDepth - stmt.m_depths[i]]++] = i;
    }
    // A level's slots of one run are its own tokens there; the deeper ones are done by then.
    for (int k = 0; k < count;) {
        const int first = order[k];
        const int start = runStart[first - from];
        int next = k + 1;
        while (next < count && stmt.m_depths[order[next]] == stmt.m_depths[first] &&
               runStart[order[next] - from] == start) {
            ++next;
        }
        const int end = runEnd[first - from];
        const bool whole = start == from && end == to;
        EvaluateRun(stmt, links, start, end, &order[k], next - k, !whole, result);
        if (whole) {
            return;
        }
        k = next;
    }
}

void CSspInterpreter::EvaluateShort(CSspStatement& stmt, int from, int to, CSspValue& result) {
    // expression, as Evaluate reads it, rescanning for the deepest run
    for (;;) {
        int maxDepth = -1;
        int runFrom = from;
        int runTo = from;
        bool broken = false;
        for (int i = from; i <= to; ++i) {
            int depth = stmt.m_depths[i];
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
        EvaluateFlat(stmt, runFrom, runTo, result);
        if (runFrom == from && runTo == to) {
            return;
        }
        if (runFrom == runTo && stmt.m_classes[runFrom] != kSspComputed) {
            // Keep the value of a parenthesised operand, so a call in it runs once.
            stmt.m_values[runFrom] = std::make_unique<CSspValue>(result);
            stmt.m_classes[runFrom] = kSspComputed;
        }
        for (int i = runFrom; i <= runTo; ++i) {
            if (stmt.m_depths[i] > 0) {
                --stmt.m_depths[i];
            }
        }
    }
}

void CSspInterpreter::EvaluateFlat(CSspStatement& stmt, int from, int to, CSspValue& result) {
    // flat: [ '-' ] operand ( ( '*' | '/' | '%' | '+' | '-' | '||' ) operand )*
    if (from == to) {
        if (stmt.m_classes[from] == kSspComputed) {
            result = *stmt.m_values[from];
        } else {
            EvaluateOperand(stmt, from, result);
        }
        return;
    }
    int lastApplied = -1;
    for (;;) {
        int op = -1;
        for (int i = from; i <= to && op < 0; ++i) {
            if (stmt.m_classes[i] == kSspMulOp) {
                op = i;
            }
        }
        for (int i = from; i <= to && op < 0; ++i) {
            if (stmt.m_classes[i] == kSspAddOp) {
                op = i;
            }
        }
        if (op < 0) {
            for (int i = from; i <= to; ++i) {
                if (stmt.m_classes[i] == kSspOperand || stmt.m_classes[i] == kSspCall) {
                    throw CSspException(g_msg.m_missingOperator, stmt.m_ends[from]);
                }
            }
            RunValue(stmt, from, to, lastApplied, result);
            return;
        }
        ApplyNearest(stmt, from, to, op);
        lastApplied = op;
    }
}

void CSspInterpreter::ApplyNearest(CSspStatement& stmt, int from, int to, int op) {
    // binary: operand op operand | '-' operand
    int left = -1;
    for (int i = op - 1; i >= from; --i) {
        if (IsLiveOperand(stmt.m_classes[i])) {
            left = i;
            break;
        }
    }
    int right = -1;
    for (int i = op + 1; i <= to; ++i) {
        if (IsLiveOperand(stmt.m_classes[i])) {
            right = i;
            break;
        }
    }
    ApplyAt(stmt, op, left, right);
}

void CSspInterpreter::EvaluateRun(CSspStatement& stmt, CSspSlotLinks& links, int from, int to,
                                  const int* own, int ownCount, bool keep, CSspValue& result) {
    // flat, one parenthesis level: [ '-' ] operand ( op operand )*
    if (from == to) {
        if (stmt.m_classes[from] == kSspComputed) {
            result = *stmt.m_values[from];
            return;
        }
        EvaluateOperand(stmt, from, result);
        if (keep) {
            // Keep the value of a parenthesised operand, so a call in it runs once.
            stmt.m_values[from] = std::make_unique<CSspValue>(result);
            stmt.m_classes[from] = kSspComputed;
        }
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
            if (stmt.m_classes[op] != group) {
                continue;
            }
            int left = links.Prev(op);
            while (left >= from && !IsLiveOperand(stmt.m_classes[left])) {
                left = links.Prev(left);
            }
            int right = lastRight > op ? links.Next(lastRight) : links.Next(op);
            while (right <= to && !IsLiveOperand(stmt.m_classes[right])) {
                right = links.Next(right);
            }
            ApplyAt(stmt, op, left >= from ? left : -1, right <= to ? right : -1);
            if (left >= from) {
                links.Unlink(left);
            }
            links.Unlink(right);
            lastRight = right;
            lastApplied = op;
        }
    }
    for (int k = 0; k < ownCount; ++k) {
        const uint8_t cls = stmt.m_classes[ownSlot(k)];
        if (cls == kSspOperand || cls == kSspCall) {
            throw CSspException(g_msg.m_missingOperator, stmt.m_ends[from]);
        }
    }
    if (keep) {
        return;  // an inner run: its slots hold what the next level needs
    }
    RunValue(stmt, from, to, lastApplied, result);
}

void CSspInterpreter::ApplyAt(CSspStatement& stmt, int op, int left, int right) {
    // binary: operand op operand | '-' operand
    const std::string& opText = stmt.m_tokens[op];
    const char* opPos = stmt.m_starts[op];
    CSspValue leftValue;
    std::string_view applied = opText;
    if (left < 0) {
        if (opText != "-") {
            throw CSspException(g_msg.m_missingLeftOperand, opPos);
        }
        leftValue = CSspValue::FromInteger(-1);
        applied = "*";
    }
    if (right < 0) {
        throw CSspException(g_msg.m_missingRightOperand, opPos);
    }
    auto valueOf = [&](int index, CSspValue& out) {
        if (stmt.m_classes[index] == kSspComputed) {
            out = *stmt.m_values[index];
        } else {
            EvaluateOperand(stmt, index, out);
        }
    };
    if (left >= 0) {
        valueOf(left, leftValue);
    }
    CSspValue rightValue;
    valueOf(right, rightValue);
    auto value = std::make_unique<CSspValue>();
    int code = value->ApplyOperator(leftValue, applied, rightValue);
    if (code < 0) {
        const char* text = SspOperatorErrorText(code);
        throw CSspException(text != nullptr ? text : g_msg.m_operationNotAllowed, opPos);
    }
    stmt.m_values[op] = std::move(value);
    stmt.m_classes[op] = kSspComputed;
    if (left >= 0) {
        stmt.m_classes[left] = kSspConsumed;
        stmt.m_values[left].reset();
    }
    stmt.m_classes[right] = kSspConsumed;
    stmt.m_values[right].reset();
}
