// Function definitions: read once per file when the run first meets them or first calls one,
// and recorded with the file.
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspMemberRow.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspRestoreGuard.h"
#include "engine/script/SspSourceFile.h"

namespace {

const char kFunctionMustEnd[] = "Function must end with \"endfunction\" statement.";
const char kFunctionSyntax[] = "Syntax: function name(paramter 1, parameter 2, ...)";

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

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
