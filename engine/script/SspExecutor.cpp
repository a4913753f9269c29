// Statements: control flow moves the position through the text, declarations make objects,
// function definitions are recorded with the file.
#include <algorithm>
#include <functional>
#include <string_view>
#include <utility>

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
#include "engine/script/SspResponseObject.h"
#include "engine/script/SspRestoreGuard.h"
#include "engine/script/SspTokenCache.h"

namespace {

const char kFunctionMustEnd[] = "Function must end with \"endfunction\" statement.";
const char kFunctionSyntax[] = "Syntax: function name(paramter 1, parameter 2, ...)";

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Where the record of the statement at `keyword` is, or belongs, in records ordered by
// keyword position. Pointers into one text compare by their place in it.
template <typename Record>
auto FindRecord(std::vector<std::unique_ptr<Record>>& records, const char* keyword) {
    return std::lower_bound(records.begin(), records.end(), keyword,
                            [](const std::unique_ptr<Record>& record, const char* key) {
                                return std::less<const char*>()(record->m_pKeyword, key);
                            });
}

// A target of the form a.b: at least one character before the first ".".
bool HasObjectDot(const std::string& target) {
    std::size_t dot = target.find('.');
    return dot != std::string::npos && dot > 0;
}

}  // namespace

int CSspInterpreter::ExecuteStatement() {
    for (;;) {
        if (StopRequested()) {
            return kSspStopped;
        }
        std::string token;
        CSspKeyword keyword = CSspKeyword::None;
        const char* start = m_scanner.NextToken(token, &keyword);
        if (token == "}--") {
            m_scanner.EndCodeBlock();
            return kSspDone;
        }
        if (token.empty()) {
            return kSspDone;
        }
        if (token == ";") {
            continue;
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
        switch (keyword) {
            case CSspKeyword::If:
                ExecIf(start);
                continue;
            case CSspKeyword::ElseIf:
                ExecElseIf();
                continue;
            case CSspKeyword::Else:
                ExecElse();
                continue;
            case CSspKeyword::EndIf:
                ExecEndIf();
                continue;
            case CSspKeyword::While:
                ExecWhile(start);
                continue;
            case CSspKeyword::EndWhile:
                ExecEndWhile(start);
                continue;
            case CSspKeyword::Break:
                ExecBreak();
                continue;
            case CSspKeyword::Continue:
                ExecContinue();
                continue;
            case CSspKeyword::Set:
                ExecSet();
                continue;
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
                continue;
            }
            case CSspKeyword::Log: {
                CSspValue value;
                ExecExpression(m_scanner.Position(), value);
                g_log.LogText(value.GetText());
                continue;
            }
            case CSspKeyword::Function:
                ExecFunctionDef(start);
                continue;
            case CSspKeyword::Array:
                ExecArrayDecl(start);
                continue;
            case CSspKeyword::DateTime:
                ExecDateTimeDecl(start);
                continue;
            case CSspKeyword::Tokenizer:
                ExecTokenizerDecl(start);
                continue;
            case CSspKeyword::Sql:
                ExecSqlDecl(start);
                continue;
            case CSspKeyword::File:
                ExecFileDecl(start, false);
                continue;
            case CSspKeyword::FileUpload:
                ExecFileDecl(start, true);
                continue;
            case CSspKeyword::Ldap:
                ExecLdapDecl(start);
                continue;
            case CSspKeyword::EmailIn:
                ExecMailDecl(start, CSspDeclKind::EmailIn, "email_in");
                continue;
            case CSspKeyword::EmailOut:
                ExecMailDecl(start, CSspDeclKind::EmailOut, "email_out");
                continue;
            case CSspKeyword::None:
                break;
        }
        if (m_scanner.PeekToken() == "=") {
            ExecAssignment(token, start, false);
        } else {
            CSspValue value;
            ExecExpression(start, value);
            if (m_scanner.CodeKind() == 2 && m_pResponse != nullptr) {
                m_pResponse->WriteValue(value);
            }
            if (SspNameEquals(token, "Response.Redirect")) {
                return kSspRedirected;
            }
        }
    }
}

void CSspInterpreter::ExecExpression(const char* start, CSspValue& value) {
    m_scanner.MoveTo(start);
    CSspExpression own;
    const CSspExpression& expr = m_scanner.ReadStatementTokens(own);
    Evaluate(expr, 0, static_cast<int>(expr.Size()) - 1, value);
}

void CSspInterpreter::ExecIf(const char* keyword) {
    auto at = FindRecord(m_ifs, keyword);
    if (at == m_ifs.end() || (*at)->m_pKeyword != keyword) {
        auto created = std::make_unique<CSspIfRecord>();
        created->m_pParent = m_pCurrentIf;
        created->m_pKeyword = keyword;
        at = m_ifs.insert(at, std::move(created));
    }
    CSspIfRecord* record = at->get();
    m_pCurrentIf = record;
    record->m_bTaken = EvaluateCondition();
    if (!record->m_bTaken) {
        m_scanner.SkipToNextBranch();
    }
}

void CSspInterpreter::ExecElseIf() {
    if (m_pCurrentIf == nullptr) {
        throw CSspException(g_msg.m_ifMismatch, m_scanner.Position());
    }
    if (m_pCurrentIf->m_bTaken) {
        m_scanner.SkipToEndIf();
        m_pCurrentIf = m_pCurrentIf->m_pParent;
        return;
    }
    m_pCurrentIf->m_bTaken = EvaluateCondition();
    if (!m_pCurrentIf->m_bTaken) {
        m_scanner.SkipToNextBranch();
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

void CSspInterpreter::ExecWhile(const char* keyword) {
    auto at = FindRecord(m_whiles, keyword);
    if (at == m_whiles.end() || (*at)->m_pKeyword != keyword) {
        auto created = std::make_unique<CSspWhileRecord>();
        created->m_pParent = m_pCurrentWhile;
        created->m_pKeyword = keyword;
        created->m_nCodeKind = m_scanner.CodeKind();
        created->m_pIf = m_pCurrentIf;
        at = m_whiles.insert(at, std::move(created));
    }
    CSspWhileRecord* record = at->get();
    m_pCurrentWhile = record;
    if (!EvaluateCondition()) {
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

void CSspInterpreter::ExecSet() {
    // set: 'set' target '=' statement; once run, the target and the statement in one lookup
    CSspTokenCache* cache = m_scanner.TokenCache();
    const char* from = m_scanner.Position();
    if (cache != nullptr) {
        const CSspTokenCache::CAssignment* hit = cache->FindAssignment(from);
        if (hit != nullptr && hit->m_pStmt->m_pAfter <= m_scanner.End()) {
            m_scanner.MoveTo(hit->m_pStmt->m_pAfter);
            const CSspExpression& expr = hit->m_pStmt->m_expr;
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

const CSspFunctionDef* CSspInterpreter::DefineFunction(const char* keyword) {
    std::string name;
    const char* nameStart = m_scanner.NextToken(name);
    if (const CSspFunctionDef* known = m_pSourceFile->FindFunctionAt(keyword)) {
        m_scanner.MoveTo(known->m_pAfterEnd);
        return known;
    }
    if (m_pSourceFile->FindFunction(name) != nullptr) {
        throw CSspException(std::string(g_msg.m_nameInUse) + name, nameStart);
    }
    auto def = std::make_unique<CSspFunctionDef>();
    def->m_pKeyword = keyword;
    def->m_strName = name;
    std::string token;
    m_scanner.NextToken(token);
    if (token != "(") {
        throw CSspException(kFunctionSyntax, keyword);
    }
    m_scanner.NextToken(token);
    if (token != ")") {
        for (;;) {
            if (token.empty() || token == ";" || token == "}--" || !IsAlnum(token[0])) {
                throw CSspException(kFunctionSyntax, keyword);
            }
            def->m_params.push_back(token);
            m_scanner.NextToken(token);
            if (token == ")") {
                break;
            }
            if (token != ",") {
                throw CSspException(kFunctionSyntax, keyword);
            }
            m_scanner.NextToken(token);
        }
    }
    def->m_pBodyStart = m_scanner.Position();
    for (;;) {
        const char* tokenStart = m_scanner.NextToken(token);
        if (token.empty() || token == "}--") {
            throw CSspException(kFunctionMustEnd, keyword);
        }
        if (SspNameEquals(token, "endfunction")) {
            def->m_pBodyEnd = tokenStart;
            def->m_pAfterEnd = m_scanner.Position();
            break;
        }
    }
    return m_pSourceFile->AddFunction(std::move(def));
}

void CSspInterpreter::ExecFunctionDef(const char* keyword) {
    DefineFunction(keyword);
}

const CSspFunctionDef* CSspInterpreter::CollectFunctions(const std::string& name) {
    CSspRestoreGuard scan(m_scanner);
    m_scanner.MoveTo(m_pSourceFile->m_pBegin);
    m_scanner.SetEnd(m_pSourceFile->m_pEnd);
    m_scanner.SetCodeKind(m_pSourceFile->IsPageFile() ? 0 : 1);
    for (;;) {
        const char* keyword = m_scanner.SkipToFunction();
        if (keyword == nullptr) {
            return nullptr;
        }
        if (SspNameEquals(m_scanner.PeekToken(), name)) {
            return DefineFunction(keyword);
        }
    }
}

void CSspInterpreter::ExecReturn() {
    CSspExpression own;
    const CSspExpression& stmt = m_scanner.ReadStatementTokens(own);
    if (stmt.Size() == 1 && stmt.m_stmt.m_classes[0] == kSspOperand) {
        if (CSspObject* array = FindDeclared(CSspDeclKind::Array, stmt.m_stmt.m_tokens[0])) {
            ReturnArray(*array);
            return;
        }
    }
    if (stmt.Empty()) {
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
