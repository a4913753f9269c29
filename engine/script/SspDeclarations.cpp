// The declarations whose objects live in this library: `array` and `datetime`.
#include <ctime>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspArray.h"
#include "engine/script/SspDateTimeObject.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspSqlObject.h"
#include "engine/script/SspTokenizerObject.h"

namespace {

const char kArraySyntax[] = "Correct Syntax: array a; or array b = function();";
const char kArrayNeedsCall[] = "Function must end with ();";

// Local time of the fields, the calendar carrying out-of-range ones (month 13 is January of
// the next year); daylight saving is the system's.
std::int64_t NormalisedLocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

}  // namespace

void CSspInterpreter::ExecArrayDecl(const char* keyword) {
    std::string name;
    const char* nameStart = NextToken(name);
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
    if (PeekToken() != "=") {
        return;
    }
    std::string equals;
    NextToken(equals);
    CSspStatement stmt;
    ReadStatementTokens(stmt);
    if (stmt.Size() != 1) {
        throw CSspException(kArraySyntax, keyword);
    }
    if (stmt.m_classes[0] != kSspCall) {
        throw CSspException(kArrayNeedsCall, keyword);
    }
    CSspCall call;
    BuildCall(stmt, 0, call);
    if (!SspNameEquals(call.m_strObject, "local")) {
        // A file object's functions fill arrays too, once file objects exist.
        throw CSspException(kArraySyntax, keyword);
    }
    CSspValue ignored;
    CallFunction(call, ignored, &array->m_elements);
}

void CSspInterpreter::ExecDateTimeDecl(const char* keyword) {
    std::string name;
    const char* nameStart = NextToken(name);
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

    CSspStatement stmt;
    ReadParenthesized(stmt);
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
        date->m_value.SetTime(
            NormalisedLocalTime(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]));
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
    const char* nameStart = NextToken(name);
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
    CSspStatement stmt;
    ReadParenthesized(stmt);
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
    const char* nameStart = NextToken(name);
    std::string equals;
    const char* equalsStart = NextToken(equals);
    if (equals != "=") {
        throw CSspException(g_msg.m_sqlDefMissingEquals, equalsStart);
    }
    // The statement after "=" identifies the declaration when it runs again in a loop.
    const char* start = m_pPos;
    std::string text;
    bool ended = false;
    for (;;) {
        std::string token;
        NextToken(token);
        if (token == ";") {
            ended = true;
            break;
        }
        if (token.empty() || token == "}--" || IsBlockKeyword(token)) {
            break;
        }
        text += token;
        text += ' ';
    }
    if (!ended) {
        throw CSspException(g_msg.m_missingSemicolon, start);
    }
    const char* end = m_pPos;

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
