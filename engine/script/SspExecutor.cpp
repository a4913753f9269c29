// Statements: control flow moves the position through the text; loops and function bodies
// run again over the regions read there before.
#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspDebugHooks.h"
#include "engine/script/SspExpression.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspKeyword.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspRegion.h"
#include "engine/script/SspResponseObject.h"
#include "engine/script/SspRestoreGuard.h"
#include "engine/script/SspTokenCache.h"

namespace {

// Where the record of the statement at `keyword` is, or belongs, in records ordered by
// keyword position. Pointers into one text compare by their place in it.
template <typename Record>
auto FindRecord(std::vector<std::unique_ptr<Record>>& records, const char* keyword) {
    return std::lower_bound(records.begin(), records.end(), keyword,
                            [](const std::unique_ptr<Record>& record, const char* key) {
                                return std::less<const char*>()(record->m_pKeyword, key);
                            });
}

// Empties `records` into `spares`.
template <typename Record>
void MoveRecords(std::vector<std::unique_ptr<Record>>& records,
                 std::vector<std::unique_ptr<Record>>& spares) {
    for (auto& record : records) {
        spares.push_back(std::move(record));
    }
    records.clear();
}

// A record as new: one of `spares` when there is one.
template <typename Record>
std::unique_ptr<Record> SpareOrNew(std::vector<std::unique_ptr<Record>>& spares) {
    if (spares.empty()) {
        return std::make_unique<Record>();
    }
    std::unique_ptr<Record> record = std::move(spares.back());
    spares.pop_back();
    *record = Record();
    return record;
}

// The set statement of `op` by the fast form that ran there before in this run of its region,
// with the sides and the target that run kept in `reads`. False, having changed nothing, when
// the sides are not both integers.
bool AssignKept(const CSspRegion::COp& op, const CSspPlainReads& reads) {
    std::int32_t integer = 0;
    int type = 0;
    if (!op.m_pAssign->m_pStmt->m_expr.m_fastValue.Integers(*reads.m_operands[0],
                                                            *reads.m_operands[1], integer, type)) {
        return false;
    }
    reads.m_pTarget->AssignInteger(integer, type);
    return true;
}

// True when the condition of `op`, compared fast before in this run with the sides kept in
// `reads`, holds for two integers; false when it does not or they must go the usual way.
bool KeptConditionHolds(const CSspRegion::COp& op, const CSspPlainReads& reads) {
    bool decided = false;
    const bool holds = op.m_pStmt->m_expr.m_fastCondition.Compare(*reads.m_operands[0],
                                                                  *reads.m_operands[1], decided);
    return decided && holds;
}

// A target of the form a.b: at least one character before the first ".".
bool HasObjectDot(const std::string& target) {
    std::size_t dot = target.find('.');
    return dot != std::string::npos && dot > 0;
}

}  // namespace

void CSspInterpreter::RecycleRecords() {
    MoveRecords(m_ifs, m_spareIfs);
    MoveRecords(m_whiles, m_spareWhiles);
}

void CSspInterpreter::ForgetRecords() {
    RecycleRecords();
    m_pRecordsOf = nullptr;
}

// Rare beside the passes that find their records: kept out of the region runs.
__attribute__((noinline)) std::unique_ptr<CSspIfRecord> CSspInterpreter::NewIfRecord() {
    return SpareOrNew(m_spareIfs);
}

__attribute__((noinline)) std::unique_ptr<CSspWhileRecord> CSspInterpreter::NewWhileRecord() {
    return SpareOrNew(m_spareWhiles);
}

int CSspInterpreter::ExecuteStatement() {
    for (;;) {
        if (StopRequested()) {
            return kSspStopped;
        }
        // A function body whose region is known goes on over it as the reading would, without
        // the reading's frame.
        const int rc =
            AtKnownBody() ? RunBody(*m_pFunction->m_pBodyRegion) : ReadAndExecuteStatement();
        if (rc >= 0) {
            return rc;
        }
    }
}

int CSspInterpreter::ReadAndExecuteStatement() {
    using CStep = CSspTokenCache::CStep;
    std::string token;
    const char* at = m_scanner.Position();
    // A statement read here before gives its head without a scan; one read now is kept
    // once every token it looked at is in the file's cache.
    CSspTokenCache* cache = m_scanner.TokenCache();
    const CStep* step = cache != nullptr ? cache->FindStep(at) : nullptr;
    CStep scanned;
    bool storable = false;
    if (step != nullptr && step->m_pReach <= m_scanner.End()) {
        m_scanner.MoveTo(step->m_pAfter);
    } else {
        scanned.m_keyword = CSspKeyword::None;
        scanned.m_pStart = m_scanner.NextToken(token, &scanned.m_keyword);
        scanned.m_pAfter = scanned.m_pReach = m_scanner.Position();
        if (token.empty()) {
            return kSspDone;
        }
        scanned.m_head = token == "}--" ? CStep::EHead::BlockEnd
                         : token == ";" ? CStep::EHead::Semicolon
                                        : CStep::EHead::Statement;
        scanned.m_bAssignment = false;
        scanned.m_bRedirect = false;
        const CSspTokenCache::CToken* cached = cache != nullptr ? cache->FindToken(at) : nullptr;
        step = &scanned;
        storable = cached != nullptr && cached->m_pAfter == scanned.m_pAfter;
        // A statement that starts with no keyword is kept once what follows is read.
        if (storable &&
            (scanned.m_keyword != CSspKeyword::None || scanned.m_head != CStep::EHead::Statement)) {
            cache->StoreStep(at, scanned);
        }
    }
    if (step->m_head == CStep::EHead::BlockEnd) {
        m_scanner.EndCodeBlock();
        return kSspDone;
    }
    if (step->m_head == CStep::EHead::Semicolon) {
        return -1;
    }
    const CSspKeyword keyword = step->m_keyword;
    const char* start = step->m_pStart;
    // A loop coming round to its head, or a function body run before, goes on over the
    // statements read there before.
    if (m_pDebugHooks == nullptr && step != &scanned &&
        (keyword == CSspKeyword::While
             ? at == start
             : m_pFunction != nullptr && at == m_pFunction->m_pBodyStart)) {
        const CSspRegion* region = cache->RegionAt(at, m_scanner.End(), m_scanner.CodeKind());
        if (keyword != CSspKeyword::While && region != nullptr && region->Complete()) {
            m_pFunction->m_pBodyRegion = region;
            m_pFunction->m_pStraightBody =
                region->Straight() && region->Fits(m_pFunction->m_pBodyEnd, 1) ? region : nullptr;
        }
        if (region != nullptr && region->Fits(m_scanner.End(), m_scanner.CodeKind())) {
            const int rc = keyword == CSspKeyword::While ? RunRegion(*region) : RunBody(*region);
            if (rc >= 0) {
                return rc;
            }
            return -1;
        }
    }
    if (m_pDebugHooks != nullptr) {
        // The debugger sees the statement's own line, not the one its first token ends on.
        const char* after = m_scanner.Position();
        m_scanner.MoveTo(start);
        bool stop = m_pDebugHooks->BeforeStatement(*this);
        m_scanner.MoveTo(after);
        if (stop) {
            return kSspStopped;
        }
    }
    if (keyword != CSspKeyword::None) {
        const int rc = ExecuteKeyword(keyword, start);
        if (rc >= 0) {
            return rc;
        }
        return -1;
    }
    if (step == &scanned) {
        scanned.m_strToken = token;
        scanned.m_bRedirect = SspNameEquals(token, "Response.Redirect");
        const CSspTokenCache::CToken* next =
            storable ? cache->FindToken(scanned.m_pAfter) : nullptr;
        if (next != nullptr && next->m_pAfter <= m_scanner.End()) {
            scanned.m_bAssignment = next->m_text == "=";
            scanned.m_pReach = next->m_pAfter;
            cache->StoreStep(at, scanned);
        } else {
            scanned.m_bAssignment = m_scanner.PeekToken() == "=";
        }
    }
    if (step->m_bAssignment) {
        ExecAssignment(step->m_strToken, start, false);
    } else {
        CSspValue value;
        ExecExpression(start, value);
        if (m_scanner.CodeKind() == 2 && m_pResponse != nullptr) {
            m_pResponse->WriteValue(value);
        }
        if (step->m_bRedirect) {
            return kSspRedirected;
        }
    }
    return -1;
}

int CSspInterpreter::ExecuteKeyword(CSspKeyword keyword, const char* start) {
    switch (keyword) {
        case CSspKeyword::If:
            ExecIf(start);
            return -1;
        case CSspKeyword::ElseIf:
            ExecElseIf();
            return -1;
        case CSspKeyword::Else:
            ExecElse();
            return -1;
        case CSspKeyword::EndIf:
            ExecEndIf();
            return -1;
        case CSspKeyword::While:
            ExecWhile(start);
            return -1;
        case CSspKeyword::EndWhile:
            ExecEndWhile(start);
            return -1;
        case CSspKeyword::Break:
            ExecBreak();
            return -1;
        case CSspKeyword::Continue:
            ExecContinue();
            return -1;
        case CSspKeyword::Set:
            ExecSet();
            return -1;
        case CSspKeyword::Error: {
            CSspValue value;
            ExecExpression(m_scanner.Position(), value);
            m_strError = value.GetText();
            return kSspError;
        }
        case CSspKeyword::Return:
            ExecReturn();
            return kSspReturned;
        case CSspKeyword::Write: {
            CSspValue value;
            ExecExpression(m_scanner.Position(), value);
            if (m_pResponse != nullptr) {
                m_pResponse->WriteValue(value);
            }
            return -1;
        }
        case CSspKeyword::Log: {
            CSspValue value;
            ExecExpression(m_scanner.Position(), value);
            g_log.LogText(value.GetText());
            return -1;
        }
        case CSspKeyword::Function:
            ExecFunctionDef(start);
            return -1;
        case CSspKeyword::Array:
            ExecArrayDecl(start);
            return -1;
        case CSspKeyword::DateTime:
            ExecDateTimeDecl(start);
            return -1;
        case CSspKeyword::Tokenizer:
            ExecTokenizerDecl(start);
            return -1;
        case CSspKeyword::Sql:
            ExecSqlDecl(start);
            return -1;
        case CSspKeyword::File:
            ExecFileDecl(start, false);
            return -1;
        case CSspKeyword::FileUpload:
            ExecFileDecl(start, true);
            return -1;
        case CSspKeyword::Ldap:
            ExecLdapDecl(start);
            return -1;
        case CSspKeyword::EmailIn:
            ExecMailDecl(start, CSspDeclKind::EmailIn, "email_in");
            return -1;
        case CSspKeyword::EmailOut:
            ExecMailDecl(start, CSspDeclKind::EmailOut, "email_out");
            return -1;
        case CSspKeyword::None:
            break;
    }
    return -1;
}

// Kept out of the region's statement loop, so that the passes spent here are a loop of their
// own. A statement whose fast form ran earlier in this run only reads and writes what `kept`
// holds for it: when it goes on to the next op nothing else (the position, the code kind, a
// stop asked for) needs looking at.
__attribute__((flatten, noinline)) int CSspInterpreter::RunKeptOps(const CSspRegion& region,
                                                                   CSspPlainReads* kept,
                                                                   int& index) {
    const CSspRegion::COp* const first = region.m_ops.data();
    // The last op's position and code kind are looked at by the usual way; ops past the
    // kept ones have nothing kept.
    const int end = std::min(static_cast<int>(region.m_ops.size()) - 1, kKeptOps);
    const int codeKind = m_scanner.CodeKind();
    int at = index;
    for (;;) {
        const CSspRegion::COp& op = first[at];
        if (op.m_keyword == CSspKeyword::Set) {
            if (at >= end || kept[at].m_pTarget == nullptr || !AssignKept(op, kept[at])) {
                break;
            }
        } else if (op.m_keyword == CSspKeyword::While) {
            if (at >= end || kept[at].m_operands[1] == nullptr || m_pCurrentWhile == nullptr ||
                m_pCurrentWhile->m_pKeyword != op.m_pStart || !KeptConditionHolds(op, kept[at])) {
                break;
            }
        } else if (op.m_keyword == CSspKeyword::EndWhile) {
            // Only the end of the region's own loop, when it raises no error.
            const CSspWhileRecord* record = m_pCurrentWhile;
            if (record == nullptr || record->m_pKeyword != first->m_pStart ||
                record->m_nCodeKind != codeKind || record->m_pIf != m_pCurrentIf) {
                break;
            }
            m_scanner.MoveTo(op.m_pAfter);
            ExecEndWhile(op.m_pStart);
            at = 0;
            if (StopRequested()) [[unlikely]] {
                index = at;
                return kSspStopped;
            }
            continue;
        } else {
            break;
        }
        ++at;
    }
    index = at;
    return -1;
}

// What a pass calls is folded in: for the statements loops are made of, the calls would cost
// more than the work.
__attribute__((flatten)) int CSspInterpreter::RunRegion(const CSspRegion& region) {
    // As the statement loop would go, with each head taken from the region while the
    // position lands on one of its statements; -1 once it lands elsewhere.
    const std::vector<CSspRegion::COp>& ops = region.m_ops;
    const int count = static_cast<int>(ops.size());
    const int codeKind = m_scanner.CodeKind();
    // What the first statements read, kept over the passes of this run of the region. Only
    // the places of the region's own ops are made, and none where no statement runs twice.
    union CKept {
        CKept() {}
        CSspPlainReads m_reads[kKeptOps];
    } storage;
    const int keptCount = region.HasLoop() ? std::min(count, kKeptOps) : 0;
    CSspPlainReads* const kept = storage.m_reads;
    std::uninitialized_default_construct_n(kept, keptCount);
    int index = 0;
    // Set when the op at `index` goes the usual way although it kept what it read.
    bool usual = false;
    for (;;) {
        const bool mayRunKept = !usual;
        usual = false;
        const CSspRegion::COp& op = ops[static_cast<std::size_t>(index)];
        m_scanner.MoveTo(op.m_pAfter);
        // The hot kinds take what the region found for them; the rest go the usual way.
        const CSspKeyword keyword = op.m_keyword;
        CSspPlainReads* reads = index < keptCount ? &kept[index] : nullptr;
        if (keyword == CSspKeyword::Set) {
            if (mayRunKept && reads != nullptr && reads->m_pTarget != nullptr) {
                if (RunKeptOps(region, kept, index) == kSspStopped) [[unlikely]] {
                    return kSspStopped;
                }
                usual = true;
                continue;
            }
            ExecSet(op.m_pAssign, reads);
        } else if (keyword == CSspKeyword::If) {
            ExecIf(op.m_pStart, op.m_pStmt, reads, op.m_pSkip);
        } else if (keyword == CSspKeyword::While) {
            if (mayRunKept && reads != nullptr && reads->m_operands[1] != nullptr) {
                if (RunKeptOps(region, kept, index) == kSspStopped) [[unlikely]] {
                    return kSspStopped;
                }
                usual = true;
                continue;
            }
            ExecWhile(op.m_pStart, op.m_pStmt, reads);
        } else if (keyword == CSspKeyword::EndWhile) {
            ExecEndWhile(op.m_pStart);
            // Most often back at the region's own head.
            if (m_scanner.Position() == ops.front().m_pStart && m_scanner.CodeKind() == codeKind) {
                if (StopRequested()) [[unlikely]] {
                    return kSspStopped;
                }
                index = 0;
                continue;
            }
        } else if (keyword == CSspKeyword::EndIf) {
            ExecEndIf();
        } else if (keyword == CSspKeyword::ElseIf) {
            ExecElseIf(op.m_pStmt, reads, op.m_pSkip);
        } else if (keyword == CSspKeyword::Return) {
            ExecReturn(op.m_pStmt);
            return kSspReturned;
        } else if (keyword != CSspKeyword::None) {
            const int rc = ExecuteKeyword(keyword, op.m_pStart);
            if (rc >= 0) [[unlikely]] {
                return rc;
            }
        }
        if (m_scanner.CodeKind() != codeKind) [[unlikely]] {
            return -1;
        }
        const char* pos = m_scanner.Position();
        if (index + 1 < count && ops[static_cast<std::size_t>(index) + 1].m_pAt == pos) {
            ++index;
        } else if (op.m_nSkipOp >= 0 && pos == op.m_pSkip->m_pAfter) {
            index = op.m_nSkipOp;
        } else {
            index = region.OpAt(pos);
            if (index < 0) [[unlikely]] {
                return -1;
            }
        }
        if (StopRequested()) [[unlikely]] {
            return kSspStopped;
        }
    }
}

// A function body without loops, its open ifs on the stack instead of in records.
__attribute__((flatten)) int CSspInterpreter::RunStraight(const CSspRegion& region) {
    using COp = CSspRegion::COp;
    // The open ifs, outermost first, as the reading's records would stand.
    struct COpenIf {
        const char* m_pKeyword;
        bool m_bTaken;
    };
    std::array<COpenIf, CSspRegion::kMaxStraightDepth> open;
    int depth = 0;
    // Hands on to the reading where it stands, with the records it would have made.
    auto leave = [&]() {
        for (int i = 0; i < depth; ++i) {
            EnterIfRecord(open[static_cast<std::size_t>(i)].m_pKeyword)->m_bTaken =
                open[static_cast<std::size_t>(i)].m_bTaken ? 1 : 0;
        }
        return -1;
    };
    const COp* const first = region.m_ops.data();
    const COp* const end = first + region.m_ops.size();
    const int codeKind = m_scanner.CodeKind();
    const COp* op = first;
    for (;;) {
        // Set where a jump was taken: the op it lands on.
        const COp* next = nullptr;
        // Set where the op ran something that may have asked for a stop: a stop asked by the
        // run's own code is seen before its next statement.
        bool ran = true;
        // Tested by how often each kind comes, without a jump table's indirect branch.
        const CSspKeyword keyword = op->m_keyword;
        if (keyword == CSspKeyword::If) {
            if (op->m_nBranchOp < 0) {
                m_scanner.MoveTo(op->m_pAt);
                return leave();
            }
            m_scanner.MoveTo(op->m_pAfter);
            open[static_cast<std::size_t>(depth)] = {op->m_pStart,
                                                     EvaluateCondition(op->m_pStmt, nullptr) != 0};
            if (!open[static_cast<std::size_t>(depth++)].m_bTaken) {
                next = first + op->m_nBranchOp;
                // An if without another branch ends at once: its endif is run here and the
                // reading goes on after it.
                if (next->m_keyword == CSspKeyword::EndIf) {
                    m_scanner.MoveTo(next->m_pAfter);
                    --depth;
                    op = next;
                    next = nullptr;
                }
            }
        } else if (keyword == CSspKeyword::Return) {
            m_scanner.MoveTo(op->m_pAfter);
            ExecReturn(op->m_pStmt);
            return kSspReturned;
        } else if (keyword == CSspKeyword::EndIf) {
            m_scanner.MoveTo(op->m_pAfter);
            --depth;
            ran = false;
        } else if (keyword == CSspKeyword::ElseIf || keyword == CSspKeyword::Else) {
            COpenIf& top = open[static_cast<std::size_t>(depth - 1)];
            const bool toEnd = top.m_bTaken;
            if (toEnd ? op->m_nEndOp < 0 : keyword == CSspKeyword::ElseIf && op->m_nBranchOp < 0) {
                m_scanner.MoveTo(op->m_pAt);
                return leave();
            }
            ran = !toEnd && keyword == CSspKeyword::ElseIf;
            if (toEnd) {
                --depth;
                next = first + op->m_nEndOp;
                // Past the endif, as the reading's skip leaves it.
                m_scanner.MoveTo(next[-1].m_pAfter);
            } else if (keyword == CSspKeyword::ElseIf) {
                m_scanner.MoveTo(op->m_pAfter);
                top.m_bTaken = EvaluateCondition(op->m_pStmt, nullptr) != 0;
                if (!top.m_bTaken) {
                    next = first + op->m_nBranchOp;
                }
            } else {
                m_scanner.MoveTo(op->m_pAfter);
            }
        } else if (keyword == CSspKeyword::Set) {
            m_scanner.MoveTo(op->m_pAfter);
            ExecSet(op->m_pAssign, nullptr);
        } else if (keyword == CSspKeyword::None) {
            m_scanner.MoveTo(op->m_pAfter);
            ran = false;
        } else {
            m_scanner.MoveTo(op->m_pAfter);
            const int rc = ExecuteKeyword(keyword, op->m_pStart);
            if (rc >= 0) [[unlikely]] {
                return rc;
            }
        }
        if (next == nullptr) {
            // The reading goes on where the statement ended: the next op when it is there.
            next = op + 1;
            if (next == end || next->m_pAt != m_scanner.Position() ||
                m_scanner.CodeKind() != codeKind) [[unlikely]] {
                return leave();
            }
        } else if (next == end) {
            return leave();
        }
        if (ran && StopRequested()) [[unlikely]] {
            return kSspStopped;
        }
        op = next;
    }
}

void CSspInterpreter::ExecExpression(const char* start, CSspValue& value) {
    m_scanner.MoveTo(start);
    if (const CSspTokenCache::CStatement* hit = m_scanner.TakeCachedStatement()) {
        Evaluate(hit->m_expr, 0, static_cast<int>(hit->m_expr.Size()) - 1, value);
        return;
    }
    CSspExpression own;
    const CSspExpression& expr = m_scanner.ReadStatementTokens(own);
    Evaluate(expr, 0, static_cast<int>(expr.Size()) - 1, value);
}

int CSspInterpreter::EvaluateCondition(const CSspTokenCache::CStatement* known,
                                       CSspPlainReads* reads) {
    // condition: '(' [ and-or ] ')'
    if (known != nullptr) {
        m_scanner.MoveTo(known->m_pAfter);
    } else {
        known = m_scanner.TakeCachedParenthesized();
    }
    if (known != nullptr) {
        return EvaluateConditionOf(known->m_expr, reads);
    }
    CSspExpression own;
    return EvaluateConditionOf(m_scanner.ReadParenthesized(own), reads);
}

int CSspInterpreter::EvaluateConditionOf(const CSspExpression& expr, CSspPlainReads* reads) {
    if (expr.Empty()) {
        return 0;
    }
    if (expr.m_fastCondition.Shape() == CSspFastExpression::EShape::Comparison) {
        return CompareFast(expr, reads);
    }
    return EvaluateAndOr(expr, 0, static_cast<int>(expr.Size()) - 1);
}

int CSspInterpreter::CompareFast(const CSspExpression& expr, CSspPlainReads* reads) {
    using CFast = CSspFastExpression;
    const CSspValue& left =
        PlainOperand(expr, CFast::kLeft, reads != nullptr ? &reads->m_operands[0] : nullptr);
    const CSspValue& right =
        PlainOperand(expr, CFast::kRight, reads != nullptr ? &reads->m_operands[1] : nullptr);
    bool decided = false;
    const bool holds = expr.m_fastCondition.Compare(left, right, decided);
    if (decided) {
        return holds ? 1 : 0;
    }
    return left.Compare(expr.m_stmt.m_tokens[CFast::kOperator], right) ? 1 : 0;
}

bool CSspInterpreter::AssignFast(const CSspExpression& expr,
                                 const CSspTokenCache::CAssignment& assignment,
                                 CSspPlainReads* reads) {
    using CFast = CSspFastExpression;
    const CSspValue& left =
        PlainOperand(expr, CFast::kLeft, reads != nullptr ? &reads->m_operands[0] : nullptr);
    const CSspValue& right =
        PlainOperand(expr, CFast::kRight, reads != nullptr ? &reads->m_operands[1] : nullptr);
    std::int32_t integer = 0;
    int type = 0;
    if (!expr.m_fastValue.Integers(left, right, integer, type)) {
        return false;
    }
    CSspValue* var = reads != nullptr ? reads->m_pTarget : nullptr;
    if (var == nullptr) {
        const CSspHashedName target{assignment.m_strLocalVar, assignment.m_nLocalVarHash,
                                    &assignment};
        var = FindLocalVar(target);
        if (var == nullptr) {
            SetLocalVar(target, CSspValue::FromInteger(integer, type));
            if (reads != nullptr) {
                reads->m_pTarget = FindLocalVar(target);
            }
            return true;
        }
        if (reads != nullptr) {
            reads->m_pTarget = var;
        }
    }
    var->AssignInteger(integer, type);
    return true;
}

void CSspInterpreter::ExecIf(const char* keyword, const CSspTokenCache::CStatement* cond,
                             CSspPlainReads* reads, const CSspTokenCache::CSkip* skip) {
    CSspIfRecord* record = EnterIfRecord(keyword);
    record->m_bTaken = EvaluateCondition(cond, reads);
    if (!record->m_bTaken) {
        SkipFailedBranch(skip);
    }
}

CSspIfRecord* CSspInterpreter::EnterIfRecord(const char* keyword) {
    auto at = FindRecord(m_ifs, keyword);
    if (at == m_ifs.end() || (*at)->m_pKeyword != keyword) {
        auto created = NewIfRecord();
        created->m_pParent = m_pCurrentIf;
        created->m_pKeyword = keyword;
        at = m_ifs.insert(at, std::move(created));
    }
    m_pCurrentIf = at->get();
    return m_pCurrentIf;
}

void CSspInterpreter::ExecElseIf(const CSspTokenCache::CStatement* cond, CSspPlainReads* reads,
                                 const CSspTokenCache::CSkip* skip) {
    if (m_pCurrentIf == nullptr) {
        throw CSspException(g_msg.m_ifMismatch, m_scanner.Position());
    }
    if (m_pCurrentIf->m_bTaken) {
        m_scanner.SkipToEndIf();
        m_pCurrentIf = m_pCurrentIf->m_pParent;
        return;
    }
    m_pCurrentIf->m_bTaken = EvaluateCondition(cond, reads);
    if (!m_pCurrentIf->m_bTaken) {
        SkipFailedBranch(skip);
    }
}

void CSspInterpreter::ExecElse() {
    if (m_pCurrentIf == nullptr) {
        throw CSspException(g_msg.m_ifMismatch, m_scanner.Position());
    }
    if (m_pCurrentIf->m_bTaken) {
        m_scanner.SkipToEndIf();
        m_pCurrentIf = m_pCurrentIf->m_pParent;
    }
}

void CSspInterpreter::ExecEndIf() {
    if (m_pCurrentIf == nullptr) {
        throw CSspException(g_msg.m_ifMismatch, m_scanner.Position());
    }
    m_pCurrentIf = m_pCurrentIf->m_pParent;
}

void CSspInterpreter::ExecWhile(const char* keyword, const CSspTokenCache::CStatement* cond,
                                CSspPlainReads* reads) {
    // A loop's head runs on every pass: most often its record is the current one, else the
    // one found last. Each keyword has one record.
    CSspWhileRecord* record = m_pCurrentWhile;
    if (record == nullptr || record->m_pKeyword != keyword) {
        auto at = m_nWhileHint < m_whiles.size() && m_whiles[m_nWhileHint]->m_pKeyword == keyword
                      ? m_whiles.begin() + static_cast<std::ptrdiff_t>(m_nWhileHint)
                      : FindRecord(m_whiles, keyword);
        if (at == m_whiles.end() || (*at)->m_pKeyword != keyword) {
            auto created = NewWhileRecord();
            created->m_pParent = m_pCurrentWhile;
            created->m_pKeyword = keyword;
            created->m_nCodeKind = m_scanner.CodeKind();
            created->m_pIf = m_pCurrentIf;
            at = m_whiles.insert(at, std::move(created));
        }
        m_nWhileHint = static_cast<std::size_t>(at - m_whiles.begin());
        record = at->get();
        m_pCurrentWhile = record;
    }
    if (!EvaluateCondition(cond, reads)) {
        ExecBreak();
    }
}

void CSspInterpreter::ExecEndWhile(const char* keyword) {
    (void)keyword;
    CSspWhileRecord* record = m_pCurrentWhile;
    if (record == nullptr) {
        throw CSspException(g_msg.m_missingMatchingWhile, m_scanner.Position());
    }
    if (m_pCurrentIf != record->m_pIf) {
        throw CSspException(g_msg.m_missingEndif, record->m_pIf != nullptr
                                                      ? record->m_pIf->m_pKeyword
                                                      : m_scanner.Position());
    }
    record->m_pAfterEnd = m_scanner.Position();
    record->m_nEndCodeKind = m_scanner.CodeKind();
    ExecContinue();
}

void CSspInterpreter::ExecContinue() {
    CSspWhileRecord* record = m_pCurrentWhile;
    if (record == nullptr) {
        throw CSspException(g_msg.m_continueOutsideWhile, m_scanner.Position());
    }
    m_scanner.MoveTo(record->m_pKeyword);
    m_pCurrentIf = record->m_pIf;
    m_scanner.SetCodeKind(record->m_nCodeKind);
}

void CSspInterpreter::ExecBreak() {
    CSspWhileRecord* record = m_pCurrentWhile;
    if (record == nullptr) {
        throw CSspException(g_msg.m_breakOutsideWhile, m_scanner.Position());
    }
    if (record->m_pAfterEnd != nullptr) {
        m_scanner.MoveTo(record->m_pAfterEnd);
        // The end may lie in another code block than the break.
        m_scanner.SetCodeKind(record->m_nEndCodeKind);
    } else {
        m_scanner.SkipToEndWhile();
        record->m_pAfterEnd = m_scanner.Position();
        record->m_nEndCodeKind = m_scanner.CodeKind();
    }
    m_pCurrentIf = record->m_pIf;
    m_pCurrentWhile = record->m_pParent;
}

void CSspInterpreter::ExecSet(const CSspTokenCache::CAssignment* known, CSspPlainReads* reads) {
    // set: 'set' target '=' statement; once run, the target and the statement in one lookup
    CSspTokenCache* cache = known != nullptr ? nullptr : m_scanner.TokenCache();
    const char* from = m_scanner.Position();
    if (known != nullptr || cache != nullptr) {
        const CSspTokenCache::CAssignment* hit =
            known != nullptr ? known : cache->FindAssignment(from);
        if (hit != nullptr && hit->m_pStmt->m_pAfter <= m_scanner.End()) {
            m_scanner.MoveTo(hit->m_pStmt->m_pAfter);
            const CSspExpression& expr = hit->m_pStmt->m_expr;
            if (hit->m_bLocal &&
                expr.m_fastValue.Shape() == CSspFastExpression::EShape::Arithmetic &&
                AssignFast(expr, *hit, reads)) {
                return;
            }
            CSspValue value;
            Evaluate(expr, 0, static_cast<int>(expr.Size()) - 1, value);
            if (hit->m_bLocal) {
                SetLocalVar(CSspHashedName{hit->m_strLocalVar, hit->m_nLocalVarHash, hit},
                            std::move(value));
            } else {
                AssignTarget(hit->m_strTarget, hit->m_pTargetStart, std::move(value));
            }
            return;
        }
    }
    std::string target;
    const char* targetStart = m_scanner.NextToken(target);
    const CSspTokenCache::CStatement* stmt = ExecAssignment(target, targetStart, true);
    if (cache != nullptr && stmt != nullptr) {
        std::size_t dot = target.find('.');
        CSspTokenCache::CAssignment assignment{target, targetStart, stmt, false, {}, 0};
        if (SspNameEquals(std::string_view(target).substr(0, dot), "Local")) {
            assignment.m_bLocal = true;
            assignment.m_strLocalVar = AsciiLowerCopy(std::string_view(target).substr(dot + 1));
            assignment.m_nLocalVarHash = CSspNameHash()(assignment.m_strLocalVar);
        }
        cache->StoreAssignment(from, std::move(assignment));
    }
}

const CSspTokenCache::CStatement* CSspInterpreter::ExecAssignment(const std::string& target,
                                                                  const char* targetStart,
                                                                  bool isSet) {
    if (!HasObjectDot(target)) {
        throw CSspException(g_msg.m_setMissingDot, m_scanner.Position());
    }
    std::string equals;
    m_scanner.NextToken(equals);
    if (equals != "=") {
        if (isSet) {
            throw CSspException(g_msg.m_setMissingEquals, targetStart);
        }
    }
    const char* exprFrom = m_scanner.Position();
    CSspExpression own;
    const CSspExpression& expr = m_scanner.ReadStatementTokens(own);
    CSspValue value;
    Evaluate(expr, 0, static_cast<int>(expr.Size()) - 1, value);
    AssignTarget(target, targetStart, std::move(value));
    // The statement's cache entry, when it has one.
    CSspTokenCache* cache = m_scanner.TokenCache();
    if (cache == nullptr || &expr == &own || equals != "=") {
        return nullptr;
    }
    const CSspTokenCache::CStatement* stored =
        cache->FindStatement(exprFrom, CSspTokenCache::Mode::ToSemicolon);
    return stored != nullptr && &stored->m_expr == &expr ? stored : nullptr;
}

void CSspInterpreter::AssignTarget(const std::string& target, const char* targetStart,
                                   CSspValue&& value) {
    std::size_t dot = target.find('.');
    if (SspNameEquals(std::string_view(target).substr(0, dot), "Local")) {
        // What Local.SetVar(name, value) does, without building the call.
        SetLocalVar(std::string_view(target).substr(dot + 1), std::move(value));
        return;
    }
    CSspCall call;
    call.m_strObject = target.substr(0, dot);
    call.m_strMember = "SetVar";
    call.m_pPos = targetStart;
    call.m_pEnd = targetStart + target.size();
    call.m_bHasArgs = true;
    call.AddArg(CSspValue::FromText(target.substr(dot + 1)));
    call.m_args.push_back(std::make_unique<CSspValue>(std::move(value)));
    CSspValue ignored;
    CallObjectMethod(call, ignored);
}

void CSspInterpreter::ExecReturn(const CSspTokenCache::CStatement* known) {
    if (known != nullptr) {
        m_scanner.MoveTo(known->m_pAfter);
    } else {
        known = m_scanner.TakeCachedStatement();
    }
    if (known != nullptr) {
        ReturnValueOf(known->m_expr);
        return;
    }
    CSspExpression own;
    ReturnValueOf(m_scanner.ReadStatementTokens(own));
}

void CSspInterpreter::ReturnValueOf(const CSspExpression& stmt) {
    if (stmt.Size() == 1 && stmt.m_stmt.m_classes[0] == kSspOperand) {
        if (CSspObject* array = FindDeclared(CSspDeclKind::Array, stmt.m_stmt.m_tokens[0])) {
            ReturnArray(*array);
            return;
        }
    }
    if (stmt.Empty()) {
        return;
    }
    if (m_pResult != nullptr && m_pResultArray == nullptr && m_pRoot != this) {
        // A called function's result is a value its caller evaluates into and drops when the
        // call fails: the return is evaluated straight into it.
        Evaluate(stmt, 0, static_cast<int>(stmt.Size()) - 1, *m_pResult);
        return;
    }
    CSspValue value;
    Evaluate(stmt, 0, static_cast<int>(stmt.Size()) - 1, value);
    if (m_pResult != nullptr) {
        *m_pResult = value;
    }
    if (m_pResultArray != nullptr) {
        m_pResultArray->push_back(std::make_unique<CSspValue>(value));
    }
}
