#include "engine/script/SspStatement.h"

#include "engine/script/SspObject.h"

void CSspStatement::AddToken(std::string text, const char* start, const char* end, int depth) {
    m_classes.push_back(GetOperatorClass(text));
    m_tokens.push_back(std::move(text));
    m_starts.push_back(start);
    m_ends.push_back(end);
    m_depths.push_back(depth);
}

void CSspStatement::Clear() {
    m_tokens.clear();
    m_starts.clear();
    m_ends.clear();
    m_classes.clear();
    m_depths.clear();
}

uint8_t CSspStatement::GetOperatorClass(std::string_view token) {
    if (token == "+" || token == "-" || token == "||") {
        return kSspAddOp;
    }
    if (token == "*" || token == "/" || token == "%") {
        return kSspMulOp;
    }
    if (token == "<" || token == "<=" || token == ">" || token == ">=" || token == "=" ||
        token == "==" || token == "!=" || token == "<>") {
        return kSspCompareOp;
    }
    if (SspNameEquals(token, "and") || SspNameEquals(token, "or")) {
        return kSspAndOr;
    }
    return kSspOperand;
}
