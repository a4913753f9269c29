// The declarations whose objects live in this library: `array` and `datetime`.
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspArray.h"
#include "engine/script/SspDateTimeObject.h"
#include "engine/script/SspExpression.h"
#include "engine/script/SspFile.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspLdap.h"
#include "engine/script/SspObjectRegistry.h"
#include "engine/script/SspSqlObject.h"
#include "engine/script/SspTokenizerObject.h"

namespace {

const char kArraySyntax[] = "Correct Syntax: array a; or array b = function();";
const char kArrayNeedsCall[] = "Function must end with ();";

}  // namespace

void CSspInterpreter::ExecArrayDecl(const char* keyword) {
    std::string name;
    const char* nameStart = m_scanner.NextToken(name);
    CSspArray* array = nullptr;
    if (CSspDeclared* known = FindDeclaredAt(CSspDeclKind::Array, keyword)) {
        array = static_cast<CSspArray*>(known->m_pObject.get());
    } else {
        CheckNameFree(name, nameStart);
        auto created = std::make_unique<CSspArray>(name);
        array = created.get();
        m_declared.push_back(CSspDeclared{CSspDeclKind::Array, name, keyword, std::move(created)});
    }
    array->RemoveAll();
    if (m_scanner.PeekToken() != "=") {
        return;
    }
    std::string equals;
    m_scanner.NextToken(equals);
    CSspExpression own;
    const CSspExpression& stmt = m_scanner.ReadStatementTokens(own);
    if (stmt.Size() != 1) {
        throw CSspException(kArraySyntax, keyword);
    }
    if (stmt.m_stmt.m_classes[0] != kSspCall) {
        throw CSspException(kArrayNeedsCall, keyword);
    }
    CSspCall call;
    BuildCall(stmt, 0, call);
    CSspValue ignored;
    if (SspNameEquals(call.m_strObject, "local")) {
        CallFunction(call, ignored, &array->m_elements);
        return;
    }
    auto* file = static_cast<CSspFile*>(FindDeclared(CSspDeclKind::File, call.m_strObject));
    if (file == nullptr) {
        throw CSspException(kArraySyntax, keyword);
    }
    file->RunFunction(call, ignored, &array->m_elements);
}

void CSspInterpreter::ExecDateTimeDecl(const char* keyword) {
    std::string name;
    const char* nameStart = m_scanner.NextToken(name);
    CSspDateTimeObject* date = nullptr;
    if (CSspDeclared* known = FindDeclaredAt(CSspDeclKind::DateTime, keyword)) {
        date = static_cast<CSspDateTimeObject*>(known->m_pObject.get());
        date->m_value = CSspDateTime();
    } else {
        CheckNameFree(name, nameStart);
        auto created = std::make_unique<CSspDateTimeObject>();
        date = created.get();
        m_declared.push_back(
            CSspDeclared{CSspDeclKind::DateTime, name, keyword, std::move(created)});
    }
    date->m_value.m_strName = name;
    date->m_value.m_pDeclPos = keyword;

    CSspExpression own;
    const CSspExpression& stmt = m_scanner.ReadParenthesized(own);
    CSspCall call;
    call.m_pPos = keyword;
    EvaluateArguments(stmt, call);
    std::size_t count = call.ArgCount();
    if (count == 1) {
        date->m_value.SetText(call.GetParamStr(0));
    } else if (count >= 3 && count <= 6) {
        int fields[6] = {0, 1, 1, 0, 0, 0};
        for (std::size_t i = 0; i < count; ++i) {
            fields[i] = CSspValue::TextToInt(call.GetParamStr(i));
        }
        date->m_value.SetTime(CSspDateTime::NormalisedLocalTime(fields[0], fields[1], fields[2],
                                                                fields[3], fields[4], fields[5]));
    } else {
        throw CSspException(g_msg.m_missingParameter, keyword);
    }
}

void CSspInterpreter::ReturnArray(CSspObject& object) {
    auto& array = static_cast<CSspArray&>(object);
    if (m_pResultArray != nullptr) {
        for (auto& element : array.m_elements) {
            m_pResultArray->push_back(std::move(element));
        }
        array.RemoveAll();
    }
    if (m_pResult != nullptr && !array.m_elements.empty()) {
        *m_pResult = *array.m_elements.front();
    }
}

void CSspInterpreter::ExecTokenizerDecl(const char* keyword) {
    std::string name;
    const char* nameStart = m_scanner.NextToken(name);
    CSspTokenizerObject* tokenizer = nullptr;
    if (CSspDeclared* known = FindDeclaredAt(CSspDeclKind::Tokenizer, keyword)) {
        tokenizer = static_cast<CSspTokenizerObject*>(known->m_pObject.get());
    } else {
        CheckNameFree(name, nameStart);
        auto created = std::make_unique<CSspTokenizerObject>();
        tokenizer = created.get();
        m_declared.push_back(
            CSspDeclared{CSspDeclKind::Tokenizer, name, keyword, std::move(created)});
    }
    tokenizer->m_tokenizer.SetName(name);
    CSspExpression own;
    const CSspExpression& stmt = m_scanner.ReadParenthesized(own);
    CSspCall call;
    call.m_pPos = keyword;
    EvaluateArguments(stmt, call);
    if (call.ArgCount() < 2) {
        throw CSspException(g_msg.m_missingParameter, keyword);
    }
    std::string text = call.GetParamStr(0);
    std::string delimiters = call.GetParamStr(1);
    tokenizer->m_tokenizer.SetText(text.c_str(), delimiters.c_str(), true);
}

void CSspInterpreter::ExecSqlDecl(const char* keyword) {
    (void)keyword;
    std::string name;
    const char* nameStart = m_scanner.NextToken(name);
    std::string equals;
    const char* equalsStart = m_scanner.NextToken(equals);
    if (equals != "=") {
        throw CSspException(g_msg.m_sqlDefMissingEquals, equalsStart);
    }
    // The statement after "=" identifies the declaration when it runs again in a loop.
    const char* start = m_scanner.Position();
    std::string text;
    bool ended = false;
    for (;;) {
        std::string token;
        m_scanner.NextToken(token);
        if (token == ";") {
            ended = true;
            break;
        }
        if (token.empty() || token == "}--" || CSspScanner::IsBlockKeyword(token)) {
            break;
        }
        text += token;
        text += ' ';
    }
    if (!ended) {
        throw CSspException(g_msg.m_missingSemicolon, start);
    }
    const char* end = m_scanner.Position();

    CSspSqlObject* sql = nullptr;
    if (CSspDeclared* known = FindDeclaredAt(CSspDeclKind::Sql, start)) {
        sql = static_cast<CSspSqlObject*>(known->m_pObject.get());
    } else {
        CheckNameFree(name, nameStart);
        auto created = std::make_unique<CSspSqlObject>(*this);
        sql = created.get();
        m_declared.push_back(CSspDeclared{CSspDeclKind::Sql, name, start, std::move(created)});
    }
    bool stringMode = CSspSql::IsStringModeText(text);
    if (stringMode) {
        text = EvaluateText(start, end).GetText();
    }
    sql->m_sql.Declare(sql, name, start, end, stringMode, text);
}

void CSspInterpreter::ExecFileDecl(const char* keyword, bool upload) {
    std::string name;
    const char* nameStart = m_scanner.NextToken(name);
    CSspDeclared* known = FindDeclaredAt(CSspDeclKind::File, keyword);
    if (known == nullptr) {
        CheckNameFree(name, nameStart);
    }
    // A declaration that runs again in a loop starts from a fresh object.
    auto file = std::make_unique<CSspFile>(name);
    if (upload) {
        std::string equals;
        m_scanner.NextToken(equals);
        if (equals != "=") {
            throw CSspException(g_msg.m_missingEquals, m_scanner.Position());
        }
        std::string source;
        m_scanner.NextToken(source);
        file->BindUpload(*this, source, keyword);
    } else {
        CSspExpression own;
        const CSspExpression& stmt = m_scanner.ReadParenthesized(own);
        CSspCall call;
        call.m_pPos = keyword;
        EvaluateArguments(stmt, call);
        if (call.ArgCount() == 0) {
            throw CSspException(g_msg.m_fileObjectSyntax, keyword);
        }
        std::string source = call.GetParamStr(0);
        if (source.size() >= 8 &&
            SspNameEquals(std::string_view(source).substr(0, 8), "request.")) {
            file->BindUpload(*this, source, keyword);
        } else {
            file->SetServerFile(source, this, keyword);
        }
    }
    if (known != nullptr) {
        known->m_pObject = std::move(file);
    } else {
        m_declared.push_back(CSspDeclared{CSspDeclKind::File, name, keyword, std::move(file)});
    }
}

void CSspInterpreter::ExecLdapDecl(const char* keyword) {
    std::string name;
    m_scanner.NextToken(name);
    // LDAP names are not checked against the other kinds.
    if (CSspDeclared* known = FindDeclaredAt(CSspDeclKind::Ldap, keyword)) {
        if (auto* ldap = dynamic_cast<CSspLdap*>(known->m_pObject.get())) {
            ldap->ReleaseAll();
            return;
        }
    }
    m_declared.push_back(
        CSspDeclared{CSspDeclKind::Ldap, name, keyword, std::make_unique<CSspLdap>(name)});
}

void CSspInterpreter::ExecMailDecl(const char* keyword, CSspDeclKind kind,
                                   const std::string& keywordText) {
    CSspDeclarationMaker maker = CSspObjectRegistry::Instance().FindDeclaration(keywordText);
    if (maker == nullptr) {
        throw CSspException(std::string(g_msg.m_unknownObject) + keywordText, keyword);
    }
    std::string name;
    const char* nameStart = m_scanner.NextToken(name);
    CSspDeclared* known = FindDeclaredAt(kind, keyword);
    if (known == nullptr) {
        CheckNameFree(name, nameStart);
    }
    std::unique_ptr<CSspObject> object = maker(name);
    if (object == nullptr) {
        throw CSspException(kind == CSspDeclKind::EmailIn ? g_msg.m_newEmailInOutOfMemory
                                                          : g_msg.m_newEmailOutOutOfMemory,
                            keyword);
    }
    if (m_scanner.PeekToken() == "(") {
        CSspExpression own;
        const CSspExpression& stmt = m_scanner.ReadParenthesized(own);
        // email_out reads its list without evaluating it; email_in takes host, user and
        // password when all three are given.
        if (kind == CSspDeclKind::EmailIn) {
            CSspCall args;
            args.m_pPos = keyword;
            EvaluateArguments(stmt, args);
            if (args.ArgCount() == 3) {
                static const char* const kFields[] = {"Pop3Host", "Username", "Password"};
                for (std::size_t i = 0; i < 3; ++i) {
                    CSspCall set;
                    set.m_strObject = name;
                    set.m_strMember = "SetVar";
                    set.m_pPos = keyword;
                    set.m_bHasArgs = true;
                    set.AddArg(CSspValue::FromText(kFields[i]));
                    set.AddArg(args.Arg(i));
                    CSspValue ignored;
                    object->CallMethod(*this, set, ignored);
                }
            }
        }
    }
    if (known != nullptr) {
        known->m_pObject = std::move(object);
    } else {
        m_declared.push_back(CSspDeclared{kind, name, keyword, std::move(object)});
    }
}
