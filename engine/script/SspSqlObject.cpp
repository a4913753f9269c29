#include "engine/script/SspSqlObject.h"

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspInterpreter.h"

void CSspSqlObject::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call, CSspValue& result) {
    m_sql.CallMethod(call, result);
}

std::vector<CSqlToken> CSspSqlObject::Scan(const char* start, const char* end) {
    m_tokens.clear();
    for (const auto& [tokenStart, tokenEnd] : m_interp.ScanTokens(start, end)) {
        m_tokens.push_back(CSqlToken{tokenStart, tokenEnd});
    }
    return m_tokens;
}

CSspValue CSspSqlObject::Evaluate(int from, int to) {
    if (from < 0 || to <= from || static_cast<std::size_t>(to) > m_tokens.size()) {
        return CSspValue::FromText(std::string());
    }
    return m_interp.EvaluateText(m_tokens[static_cast<std::size_t>(from)].m_pStart,
                                 m_tokens[static_cast<std::size_t>(to) - 1].m_pEnd);
}

CDataSource* CSspSqlObject::PageDataSource(const char* pos) {
    return m_interp.AcquireDataSource(pos);
}

bool CSspSqlObject::EvaluatingWatch() const {
    return m_interp.EvaluatingWatch();
}
