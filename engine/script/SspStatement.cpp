#include "engine/script/SspStatement.h"

#include "engine/foundation/SspValue.h"
#include "engine/script/SspObject.h"

CSspStatement::CSspStatement() = default;
CSspStatement::~CSspStatement() = default;

CSspStatement::CSspStatement(const CSspStatement& other)
    : m_tokens(other.m_tokens),
      m_starts(other.m_starts),
      m_ends(other.m_ends),
      m_classes(other.m_classes),
      m_depths(other.m_depths) {
    m_values.reserve(other.m_values.size());
    for (const auto& value : other.m_values) {
        m_values.push_back(value ? std::make_unique<CSspValue>(*value) : nullptr);
    }
}

CSspStatement& CSspStatement::operator=(const CSspStatement& other) {
    if (this != &other) {
        CSspStatement copy(other);
        m_tokens.swap(copy.m_tokens);
        m_starts.swap(copy.m_starts);
        m_ends.swap(copy.m_ends);
        m_classes.swap(copy.m_classes);
        m_depths.swap(copy.m_depths);
        m_values.swap(copy.m_values);
    }
    return *this;
}

void CSspStatement::AddToken(std::string text, const char* start, const char* end, int depth) {
    m_classes.push_back(GetOperatorClass(text));
    m_tokens.push_back(std::move(text));
    m_starts.push_back(start);
    m_ends.push_back(end);
    m_depths.push_back(depth);
    m_values.push_back(nullptr);
}

void CSspStatement::Clear() {
    m_tokens.clear();
    m_starts.clear();
    m_ends.clear();
    m_classes.clear();
    m_depths.clear();
    m_values.clear();
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
