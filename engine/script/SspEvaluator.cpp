// Expressions: operators applied slot by slot in the statement's own arrays, innermost
// parentheses first, and conditions split at and/or and at one comparison.
#include <algorithm>
#include <array>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspSlotLinks.h"

namespace {

bool IsLiveOperand(uint8_t cls) {
    return cls == kSspOperand || cls == kSspCall || cls == kSspComputed;
}

// The characters of a literal in its source form ('...'), escapes decoded.
std::string DecodeLiteral(const std::string& token) {
    std::string out;
    out.reserve(token.size());
    for (std::size_t i = 1; i < token.size(); ++i) {
        char c = token[i];
        char next = i + 1 < token.size() ? token[i + 1] : '\0';
        if (c == '\'') {
            if (next == '\'') {
                out += "''";
                ++i;
                continue;
            }
            break;
        }
        if (c == '\\') {
            switch (next) {
                case '\\':
                    out += '\\';
                    ++i;
                    continue;
                case 'r':
                    out += '\r';
                    ++i;
                    continue;
                case 'n':
                    out += '\n';
                    ++i;
                    continue;
                case 't':
                    out += '\t';
                    ++i;
                    continue;
                case '\'':
                    out += '\'';
                    ++i;
                    continue;
                default:
                    break;
            }
        }
        out += c;
    }
    return out;
}

const char kCallsTooDeep[] = "Function calls are nested too deeply (more than 200 levels).";

// Argument lists being evaluated on this thread, one inside another: each holds stack, so
// their nesting is bounded as function runs are.
thread_local int t_argumentDepth = 0;

struct CArgumentDepth {
    CArgumentDepth() { ++t_argumentDepth; }
    ~CArgumentDepth() { --t_argumentDepth; }
    CArgumentDepth(const CArgumentDepth&) = delete;
    CArgumentDepth& operator=(const CArgumentDepth&) = delete;
};

// Below this many slots the plain scans of EvaluateShort cost less than building links.
constexpr int kShortRun = 16;

bool HasPrefixNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SspNameEquals(text.substr(0, prefix.size()), prefix);
}

}  // namespace

void CSspInterpreter::Evaluate(CSspStatement& stmt, int from, int to, CSspValue& result) {
    if (to < from) {
        result = CSspValue::FromText(std::string());
        return;
    }
    if (from == to) {
        if (stmt.m_classes[from] == kSspComputed) {
            result = *stmt.m_values[from];
        } else {
            EvaluateOperand(stmt, from, result);
        }
        return;
    }
    if (to - from < kShortRun) {
        EvaluateShort(stmt, from, to, result);
    } else {
        EvaluateLinked(stmt, from, to, result);
    }
}

void CSspInterpreter::EvaluateLinked(CSspStatement& stmt, int from, int to, CSspValue& result) {
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
            if (lastApplied < 0) {
                // Only computed slots: the range's value is its last one.
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
            return;
        }
        ApplyNearest(stmt, from, to, op);
        lastApplied = op;
    }
}

void CSspInterpreter::ApplyNearest(CSspStatement& stmt, int from, int to, int op) {
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
    if (lastApplied < 0) {
        // Only computed slots: the run's value is its last one.
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

void CSspInterpreter::ApplyAt(CSspStatement& stmt, int op, int left, int right) {
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

void CSspInterpreter::EvaluateOperand(CSspStatement& stmt, int index, CSspValue& result) {
    const std::string& token = stmt.m_tokens[index];
    if (!token.empty() && token[0] == '\'') {
        result = CSspValue::FromText(DecodeLiteral(token));
        return;
    }
    if (HasPrefixNoCase(token, "{ts") || HasPrefixNoCase(token, "{d")) {
        bool stamp = HasPrefixNoCase(token, "{ts");
        // The scanner joins the literal's parts without blanks; the parser wants the ODBC form.
        std::string text = stamp ? "{ts " + token.substr(3) : "{d " + token.substr(2);
        CSspDateTime parsed;
        parsed.SetText(text);
        result = CSspValue::FromDateTime(parsed.GetTime(), stamp ? kSqlTimestamp : kSqlDate);
        return;
    }
    if (SspNameEquals(token, "null")) {
        result = CSspValue::FromText(std::string());
        return;
    }
    if (IsNumberToken(token)) {
        result = CSspValue();
        result.SetNumber(token);
        return;
    }
    CSspCall call;
    BuildCall(stmt, index, call);
    CallObjectMethod(call, result);
}

void CSspInterpreter::BuildCall(CSspStatement& stmt, int index, CSspCall& call) {
    const std::string& token = stmt.m_tokens[index];
    std::size_t nameEnd = stmt.m_classes[index] == kSspCall ? token.find('(') : token.size();
    std::string_view name(token.data(), nameEnd == std::string::npos ? token.size() : nameEnd);
    std::size_t dot = name.find('.');
    if (dot == std::string_view::npos) {
        call.m_strObject.assign(name);
        call.m_strMember.clear();
    } else {
        call.m_strObject.assign(name.substr(0, dot));
        call.m_strMember.assign(name.substr(dot + 1));
    }
    call.m_pPos = stmt.m_starts[index];
    call.m_pEnd = stmt.m_ends[index];
    if (stmt.m_classes[index] != kSspCall) {
        return;
    }
    // The argument list is read again from the text, so it is evaluated on every use.
    const char* saved = m_pPos;
    CSspStatement args;
    try {
        m_pPos = stmt.m_starts[index];
        std::string nameToken;
        NextToken(nameToken);
        ReadParenthesized(args);
    } catch (...) {
        m_pPos = saved;
        throw;
    }
    m_pPos = saved;
    call.m_bHasArgs = true;
    CArgumentDepth depth;
    if (t_argumentDepth > kMaxCallDepth) {
        throw CSspException(kCallsTooDeep, call.m_pPos);
    }
    EvaluateArguments(args, call);
}

void CSspInterpreter::EvaluateArguments(CSspStatement& stmt, CSspCall& call) {
    const bool raw = IsRawArgumentMember(call);
    const int count = static_cast<int>(stmt.Size());
    int itemStart = 0;
    for (int i = 0; i <= count; ++i) {
        bool atComma = i < count && stmt.m_tokens[i] == ",";
        if (!atComma && i < count) {
            continue;
        }
        if (i == itemStart) {
            if (atComma) {
                throw CSspException(g_msg.m_missingParamBeforeComma, call.m_pPos);
            }
            break;  // nothing after the last comma, or an empty list
        }
        auto value = std::make_unique<CSspValue>();
        if (raw) {
            *value = CSspValue::FromText(stmt.m_tokens[itemStart]);
        } else {
            Evaluate(stmt, itemStart, i - 1, *value);
        }
        call.m_args.push_back(std::move(value));
        itemStart = i + 1;
    }
}

bool CSspInterpreter::IsRawArgumentMember(const CSspCall& call) {
    return (SspNameEquals(call.m_strObject, "Request") &&
            (SspNameEquals(call.m_strMember, "exist") ||
             SspNameEquals(call.m_strMember, "size"))) ||
           (SspNameEquals(call.m_strObject, "Session") &&
            SspNameEquals(call.m_strMember, "exist")) ||
           (SspNameEquals(call.m_strObject, "Server") &&
            SspNameEquals(call.m_strMember, "GetUniqueID"));
}

int CSspInterpreter::EvaluateCondition() {
    CSspStatement stmt;
    ReadParenthesized(stmt);
    if (stmt.Empty()) {
        return 0;
    }
    return EvaluateAndOr(stmt, 0, static_cast<int>(stmt.Size()) - 1);
}

int CSspInterpreter::EvaluateAndOr(CSspStatement& stmt, int from, int to) {
    // The and/or of the shallowest level split the range; each splits the rest after it, so
    // the parts are taken from left to right, each part's own and/or being deeper.
    int minDepth = -1;
    for (int i = from; i <= to; ++i) {
        if (stmt.m_classes[i] == kSspAndOr && (minDepth < 0 || stmt.m_depths[i] < minDepth)) {
            minDepth = stmt.m_depths[i];
        }
    }
    if (minDepth < 0) {
        return EvaluateComparison(stmt, from, to);
    }
    int start = from;
    for (int op = from; op <= to; ++op) {
        if (stmt.m_classes[op] != kSspAndOr || stmt.m_depths[op] != minDepth) {
            continue;
        }
        if (op == start) {
            throw CSspException(g_msg.m_missingBeforeAndOr, stmt.m_starts[op]);
        }
        if (op == to) {
            throw CSspException(g_msg.m_missingAfterAndOr, stmt.m_starts[op]);
        }
        const bool left = EvaluateAndOr(stmt, start, op - 1) != 0;
        if (SspNameEquals(stmt.m_tokens[op], "and")) {
            if (!left) {
                return 0;
            }
        } else if (left) {
            return 1;
        }
        start = op + 1;
    }
    return EvaluateAndOr(stmt, start, to);
}

int CSspInterpreter::EvaluateComparison(CSspStatement& stmt, int from, int to) {
    int op = -1;
    for (int i = from; i <= to; ++i) {
        if (stmt.m_classes[i] == kSspCompareOp) {
            if (op >= 0) {
                throw CSspException(g_msg.m_twoComparisons, stmt.m_starts[i]);
            }
            op = i;
        }
    }
    if (op < 0) {
        CSspValue value;
        Evaluate(stmt, from, to, value);
        return value.GetInteger() == 1 ? 1 : 0;
    }
    if (op == from) {
        throw CSspException(g_msg.m_missingBeforeComparison, stmt.m_starts[op]);
    }
    if (op == to) {
        throw CSspException(g_msg.m_missingAfterComparison, stmt.m_starts[op]);
    }
    CSspValue left;
    Evaluate(stmt, from, op - 1, left);
    CSspValue right;
    Evaluate(stmt, op + 1, to, right);
    return left.Compare(stmt.m_tokens[op], right) ? 1 : 0;
}

std::vector<std::pair<const char*, const char*>> CSspInterpreter::ScanTokens(const char* start,
                                                                             const char* end) {
    const char* savedPos = m_pPos;
    const char* savedEnd = m_pEnd;
    std::vector<std::pair<const char*, const char*>> tokens;
    try {
        m_pPos = start;
        m_pEnd = end;
        for (;;) {
            std::string token;
            const char* tokenStart = NextToken(token);
            if (token.empty()) {
                break;
            }
            tokens.emplace_back(tokenStart, m_pPos);
        }
    } catch (...) {
        m_pPos = savedPos;
        m_pEnd = savedEnd;
        throw;
    }
    m_pPos = savedPos;
    m_pEnd = savedEnd;
    return tokens;
}

CSspValue CSspInterpreter::EvaluateText(const char* start, const char* end) {
    const char* savedPos = m_pPos;
    const char* savedEnd = m_pEnd;
    CSspValue value;
    try {
        m_pPos = start;
        m_pEnd = end;
        CSspStatement stmt;
        ScanStatement(stmt, false, start, true);
        m_pPos = savedPos;
        m_pEnd = savedEnd;
        Evaluate(stmt, 0, static_cast<int>(stmt.Size()) - 1, value);
    } catch (...) {
        m_pPos = savedPos;
        m_pEnd = savedEnd;
        throw;
    }
    return value;
}

std::string CSspInterpreter::EvaluateWatch(const std::string& expression) {
    const std::string text = "(" + expression + ")";
    const char* savedPos = m_pPos;
    const char* savedEnd = m_pEnd;
    const std::string savedError = m_strError;
    const bool savedWatch = m_bEvaluatingWatch;
    std::string shown;
    m_bEvaluatingWatch = true;
    try {
        m_pPos = text.data();
        m_pEnd = text.data() + text.size();
        CSspStatement stmt;
        ReadParenthesized(stmt);
        CSspValue value;
        Evaluate(stmt, 0, static_cast<int>(stmt.Size()) - 1, value);
        shown = value.GetText();
    } catch (const CSspException& e) {
        shown = e.Message();
    } catch (const std::exception& e) {
        shown = e.what();
    } catch (...) {
        shown = "Unknown error in " + m_strFilePath + ".";
    }
    m_bEvaluatingWatch = savedWatch;
    m_pPos = savedPos;
    m_pEnd = savedEnd;
    m_strError = savedError;
    return shown;
}
