// Expressions: operands and calls with their arguments, and conditions split at and/or and
// at one comparison.
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspExpression.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspRestoreGuard.h"
#include "engine/script/SspSourceFile.h"

namespace {

const char kCallsTooDeep[] = "Function calls are nested too deeply (more than 200 levels).";

// Out of line, so that the calls that reuse one stay small.
__attribute__((noinline)) void AddCall(std::vector<std::unique_ptr<CSspCall>>& calls) {
    calls.push_back(std::make_unique<CSspCall>());
}

// Lends a call of the file's own functions (always written with an argument list) the root's
// call of its depth (calls nest, so they serve as a stack): its argument list keeps the
// values of the last call at that depth, their memory given back as soon as a call ends, so
// that a call with as many arguments allocates nothing. A value is emptied before it is
// evaluated into, unless what evaluates it assigns it whole whatever happens.
class CLentCall {
public:
    explicit CLentCall(CSspInterpreter& root) : m_root(root), m_nIndex(root.m_nLentCallsInUse) {
        if (m_nIndex == root.m_lentCalls.size()) {
            AddCall(root.m_lentCalls);
        }
        m_pCall = root.m_lentCalls[m_nIndex].get();
        m_pCall->m_bHasArgs = false;
        root.m_nLentCallsInUse = m_nIndex + 1;
    }
    ~CLentCall() {
        for (std::unique_ptr<CSspValue>& value : m_pCall->m_args) {
            // A large argument is not kept until some later call.
            value->ReleaseStorage();
        }
        m_root.m_nLentCallsInUse = m_nIndex;
    }
    CLentCall(const CLentCall&) = delete;
    CLentCall& operator=(const CLentCall&) = delete;

    CSspCall& Call() { return *m_pCall; }

private:
    CSspInterpreter& m_root;
    std::size_t m_nIndex;
    CSspCall* m_pCall;
};

// The token ranges of the arguments of `stmt` (args: [ expression ( ',' expression )* [ ',' ]
// ]), up to an empty one before a comma: false when there is one, which is an error once
// the arguments before it have been evaluated.
bool SplitArguments(const CSspStatement& stmt, std::vector<std::pair<int, int>>& items) {
    const int count = static_cast<int>(stmt.Size());
    int itemStart = 0;
    for (int i = 0; i <= count; ++i) {
        const bool atComma = i < count && stmt.m_tokens[i] == ",";
        if (!atComma && i < count) {
            continue;
        }
        if (i == itemStart) {
            // Nothing after the last comma, or an empty list, ends it well.
            return !atComma;
        }
        items.emplace_back(itemStart, i - 1);
        itemStart = i + 1;
    }
    return true;
}

// Out of line, so that the loop over a call's arguments stays small.
__attribute__((noinline)) void AddValue(CSspValueList& values) {
    values.push_back(std::make_unique<CSspValue>());
}
__attribute__((noinline)) void AssignText(CSspValue& value, const std::string& text) {
    value = CSspValue::FromText(text);
}

bool HasPrefixNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SspNameEquals(text.substr(0, prefix.size()), prefix);
}

}  // namespace

// A call of the file's own functions reads its arguments and lends its call here: folded in,
// as the steps cost more than the work.
__attribute__((flatten)) void CSspInterpreter::EvaluateOperand(const CSspExpression& expr,
                                                               int index, CSspValue& result) {
    // operand: string | date | 'null' | number | name [ '.' member ] [ '(' args ')' ]
    using EKind = CSspExpression::COperand::EKind;
    const CSspExpression::COperand& operand = expr.m_operands[index];
    if (operand.m_kind == EKind::Value) {
        result = CSspValue(operand.m_value);
        return;
    }
    if (operand.m_kind == EKind::Date) {
        const std::string& token = expr.m_stmt.m_tokens[index];
        bool stamp = HasPrefixNoCase(token, "{ts");
        // The scanner joins the literal's parts without blanks; the parser wants the ODBC form.
        std::string text = stamp ? "{ts " + token.substr(3) : "{d " + token.substr(2);
        CSspDateTime parsed;
        parsed.SetText(text);
        result = CSspValue::FromDateTime(parsed.GetTime(), stamp ? kSqlTimestamp : kSqlDate);
        return;
    }
    // The interpreter's own objects come before any other of the name, so they are called
    // directly, as CallObjectMethod would.
    using ETarget = CSspExpression::COperand::ETarget;
    switch (operand.m_target) {
        case ETarget::LocalVar:
        case ETarget::Arg:
            result = OperandValue(expr, index, result);
            return;
        case ETarget::LocalFunction: {
            if (CallStraightAgain(expr, index, result)) {
                return;
            }
            // Only the callee's name is needed, and it is the operand's own.
            CLentCall lent(*m_pRoot);
            ReadCallArguments(expr, index, lent.Call());
            CallFunction(operand.m_strMember, lent.Call(), result, nullptr,
                         expr.m_bShared ? &operand : nullptr);
            return;
        }
        case ETarget::Other:
            break;
    }
    CSspCall call;
    BuildCall(expr, index, call);
    CallObjectMethod(call, result);
}

void CSspInterpreter::ThrowLocalVarNotDefined(const CSspExpression& expr, int index) const {
    throw CSspException(
        std::string(g_msg.m_localVarNotDefined) + expr.m_operands[index].m_strMember,
        expr.m_stmt.m_starts[index]);
}

void CSspInterpreter::BuildCall(const CSspExpression& expr, int index, CSspCall& call) {
    // call: object [ '.' member ] [ '(' args ')' ]
    const CSspExpression::COperand& operand = expr.m_operands[index];
    call.m_strObject = operand.m_strObject;
    call.m_strMember = operand.m_strMember;
    ReadCallArguments(expr, index, call);
}

// Folded in for the same reason; the text path stays out of line.
__attribute__((flatten)) void CSspInterpreter::ReadCallArguments(const CSspExpression& expr,
                                                                 int index, CSspCall& call) {
    const CSspExpression::COperand& operand = expr.m_operands[index];
    call.m_pPos = expr.m_stmt.m_starts[index];
    call.m_pEnd = expr.m_stmt.m_ends[index];
    if (!operand.m_bHasArgs) {
        return;
    }
    // The argument list is read again from the text, so it is evaluated on every use; where
    // it was read before, the cache holds it split into its arguments. Only the cache of the
    // file whose text holds the operand's place covers it, so the entry the operand names is
    // the one found there while that file is loaded.
    const CSspCallArgs* site = operand.m_callArgsHint.Load();
    const CSspSourceFile* file = m_scanner.CacheFile();
    if (site == nullptr || file == nullptr || !file->IsLoaded() ||
        reinterpret_cast<std::uintptr_t>(call.m_pPos) -
                reinterpret_cast<std::uintptr_t>(file->m_pBegin) >=
            file->m_nSize) {
        CSspTokenCache* cache = m_scanner.TokenCache();
        site = cache != nullptr ? cache->FindCallArgs(call.m_pPos) : nullptr;
        if (site == nullptr) {
            ReadCallArgumentsFromText(expr, operand, call, cache);
            return;
        }
        if (expr.m_bShared) {
            operand.m_callArgsHint.Store(site);
        }
    }
    if (site->m_pAfter > m_scanner.End()) {
        ReadCallArgumentsFromText(expr, operand, call, m_scanner.TokenCache());
        return;
    }
    EvaluateCallArguments(*site, call, operand.m_bRawArgs);
}

__attribute__((noinline)) void CSspInterpreter::ReadCallArgumentsFromText(
    const CSspExpression& expr, const CSspExpression::COperand& operand, CSspCall& call,
    CSspTokenCache* cache) {
    std::optional<CSspExpression> own;
    const CSspTokenCache::CStatement* cached = nullptr;
    const CSspExpression* args = nullptr;
    {
        CSspRestoreGuard position(m_scanner);
        m_scanner.MoveTo(call.m_pPos);
        // Only where the name token ends is needed: reading it again would copy its text.
        const CSspTokenCache::CToken* name =
            cache != nullptr ? cache->FindToken(call.m_pPos) : nullptr;
        if (name != nullptr && call.m_pPos < m_scanner.End() && name->m_pAfter <= m_scanner.End()) {
            m_scanner.MoveTo(name->m_pAfter);
        } else {
            std::string nameToken;
            m_scanner.NextToken(nameToken);
        }
        cached = m_scanner.TakeCachedParenthesized();
        args = cached != nullptr ? &cached->m_expr : &m_scanner.ReadParenthesized(own.emplace());
    }
    CSspCallArgs list{args, nullptr, {}, false};
    const bool whole = SplitArguments(args->m_stmt, list.m_items);
    list.m_bLoneFast = list.m_items.size() == 1 &&
                       args->TakesFastShape(list.m_items[0].first, list.m_items[0].second);
    list.m_bLonePlain = list.m_bLoneFast && !operand.m_bRawArgs &&
                        args->m_fastValue.Shape() == CSspFastExpression::EShape::Arithmetic;
    if (whole && cached != nullptr) {
        list.m_pAfter = cached->m_pAfter;
        const CSspCallArgs* site = cache->StoreCallArgs(call.m_pPos, CSspCallArgs(list));
        if (site != nullptr && expr.m_bShared) {
            operand.m_callArgsHint.Store(site);
        }
    }
    EvaluateCallArguments(list, call, operand.m_bRawArgs);
    if (!whole) {
        throw CSspException(g_msg.m_missingParamBeforeComma, call.m_pPos);
    }
}

void CSspInterpreter::EvaluateCallArguments(const CSspCallArgs& list, CSspCall& call, bool raw) {
    call.m_bHasArgs = true;
    CArgumentDepth depth;
    if (s_nArgumentDepth > kMaxCallDepth) {
        throw CSspException(kCallsTooDeep, call.m_pPos);
    }
    // A lent list of one value, as the call of one argument brings again. Two plain sides are
    // worked into it whole; a side read by a call may leave it as it was (a function that
    // returns nothing).
    if (list.m_bLoneFast && !raw && call.m_args.size() == 1) {
        CSspValue& value = *call.m_args[0];
        if (!list.m_bLonePlain) {
            value.Reset();
        }
        EvaluateFast(*list.m_pExpr, value);
        return;
    }
    EvaluateArgumentItems(*list.m_pExpr, list.m_items, call, raw);
}

void CSspInterpreter::EvaluateArguments(const CSspExpression& expr, CSspCall& call, bool raw) {
    std::vector<std::pair<int, int>> items;
    const bool whole = SplitArguments(expr.m_stmt, items);
    EvaluateArgumentItems(expr, items, call, raw);
    if (!whole) {
        throw CSspException(g_msg.m_missingParamBeforeComma, call.m_pPos);
    }
}

void CSspInterpreter::EvaluateArgumentItems(const CSspExpression& expr,
                                            const std::vector<std::pair<int, int>>& items,
                                            CSspCall& call, bool raw) {
    // A lent list brings values of an earlier call, emptied: they are evaluated into.
    CSspValueList& args = call.m_args;
    std::size_t count = 0;
    for (const auto& [first, last] : items) {
        if (count == args.size()) {
            AddValue(args);
        }
        CSspValue& value = *args[count];
        // What an earlier call left, as a new value would be: not every evaluation assigns it.
        value.Reset();
        if (raw) {
            AssignText(value, expr.m_stmt.m_tokens[first]);
        } else {
            Evaluate(expr, first, last, value);
        }
        ++count;
    }
    if (count != args.size()) {
        args.resize(count);
    }
}

int CSspInterpreter::EvaluateAndOr(const CSspExpression& expr, int from, int to) {
    // and-or: comparison ( ( 'and' | 'or' ) comparison )*
    const CSspStatement& stmt = expr.m_stmt;
    // The and/or of the shallowest level split the range; each splits the rest after it, so
    // the parts are taken from left to right, each part's own and/or being deeper.
    int minDepth = -1;
    for (int i = from; i <= to; ++i) {
        if (stmt.m_classes[i] == kSspAndOr && (minDepth < 0 || stmt.m_depths[i] < minDepth)) {
            minDepth = stmt.m_depths[i];
        }
    }
    if (minDepth < 0) {
        return EvaluateComparison(expr, from, to);
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
        const bool left = EvaluateAndOr(expr, start, op - 1) != 0;
        if (SspNameEquals(stmt.m_tokens[op], "and")) {
            if (!left) {
                return 0;
            }
        } else if (left) {
            return 1;
        }
        start = op + 1;
    }
    return EvaluateAndOr(expr, start, to);
}

int CSspInterpreter::EvaluateComparison(const CSspExpression& expr, int from, int to) {
    // comparison: expression [ ( '<' | '<=' | '>' | '>=' | '=' | '==' | '!=' | '<>' ) expression ]
    const CSspStatement& stmt = expr.m_stmt;
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
        Evaluate(expr, from, to, value);
        return value.GetInteger() == 1 ? 1 : 0;
    }
    if (op == from) {
        throw CSspException(g_msg.m_missingBeforeComparison, stmt.m_starts[op]);
    }
    if (op == to) {
        throw CSspException(g_msg.m_missingAfterComparison, stmt.m_starts[op]);
    }
    if (from == 0 && to == static_cast<int>(stmt.Size()) - 1 &&
        expr.m_fastCondition.Shape() == CSspFastExpression::EShape::Comparison) {
        return CompareFast(expr);
    }
    // A lone operand on either side is looked at where it lies; the left one only when
    // reading the right one cannot change it.
    CSspValue leftRead;
    const CSspValue* left = &leftRead;
    if (from == op - 1 && op + 1 == to && expr.IsPureOperand(to)) {
        left = &OperandValue(expr, from, leftRead);
    } else {
        Evaluate(expr, from, op - 1, leftRead);
    }
    CSspValue rightRead;
    const CSspValue* right = &rightRead;
    if (op + 1 == to) {
        right = &OperandValue(expr, to, rightRead);
    } else {
        Evaluate(expr, op + 1, to, rightRead);
    }
    return left->Compare(stmt.m_tokens[op], *right) ? 1 : 0;
}

std::vector<std::pair<const char*, const char*>> CSspInterpreter::ScanTokens(const char* start,
                                                                             const char* end) {
    // tokens: token* up to the end of the range
    CSspRestoreGuard position(m_scanner);
    std::vector<std::pair<const char*, const char*>> tokens;
    m_scanner.MoveTo(start);
    m_scanner.SetEnd(end);
    for (;;) {
        std::string token;
        const char* tokenStart = m_scanner.NextToken(token);
        if (token.empty()) {
            break;
        }
        tokens.emplace_back(tokenStart, m_scanner.Position());
    }
    return tokens;
}

CSspValue CSspInterpreter::EvaluateText(const char* start, const char* end) {
    // expression: the text of one statement, up to the end of the range
    CSspRestoreGuard position(m_scanner);
    CSspValue value;
    m_scanner.MoveTo(start);
    m_scanner.SetEnd(end);
    CSspExpression own;
    const CSspExpression& expr = m_scanner.ScanStatement(own, false, start, true);
    position.Restore();
    Evaluate(expr, 0, static_cast<int>(expr.Size()) - 1, value);
    position.Dismiss();
    return value;
}

std::string CSspInterpreter::EvaluateWatch(const std::string& expression) {
    // watch: expression
    const std::string text = "(" + expression + ")";
    const char* savedPos = m_scanner.Position();
    const char* savedEnd = m_scanner.End();
    const std::string savedError = m_strError;
    const bool savedWatch = m_bEvaluatingWatch;
    CSspSourceFile* savedCacheFile = m_scanner.CacheFile();
    std::string shown;
    m_bEvaluatingWatch = true;
    // The watch text lives outside the file: its positions must not enter the file's cache.
    m_scanner.UseCacheOf(nullptr);
    try {
        m_scanner.MoveTo(text.data());
        m_scanner.SetEnd(text.data() + text.size());
        CSspExpression own;
        const CSspExpression& expr = m_scanner.ReadParenthesized(own);
        CSspValue value;
        Evaluate(expr, 0, static_cast<int>(expr.Size()) - 1, value);
        shown = value.GetText();
    } catch (const CSspException& e) {
        shown = e.Message();
    } catch (const std::exception& e) {
        shown = e.what();
    } catch (...) {
        shown = "Unknown error in " + m_strFilePath + ".";
    }
    m_bEvaluatingWatch = savedWatch;
    m_scanner.UseCacheOf(savedCacheFile);
    m_scanner.MoveTo(savedPos);
    m_scanner.SetEnd(savedEnd);
    m_strError = savedError;
    return shown;
}
