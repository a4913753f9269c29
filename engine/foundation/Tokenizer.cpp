#include "engine/foundation/Tokenizer.h"

#include <cstring>
#include <string>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspMemberRow.h"
#include "engine/foundation/SspValue.h"

namespace {

using CRow = CSspMemberRow<CTokenizer&>;

void NextToken(CTokenizer& self, CSspCall& /*call*/, CSspValue& result) {
    result = CSspValue::FromText(self.NextToken());
}
void NextPart(CTokenizer& self, CSspCall& /*call*/, CSspValue& result) {
    result = CSspValue::FromText(self.NextPart());
}

// The script members; any arguments they are given are ignored.
constexpr CRow kMembers[] = {
    {"NextToken", 0, kSspAnyArgs, &NextToken},
    {"NextPart", 0, kSspAnyArgs, &NextPart},
};

}  // namespace

CTokenizer::CTokenizer(const char* text, const char* delimiters, bool copy) {
    SetText(text, delimiters, copy);
}

void CTokenizer::SetText(const char* text, const char* delimiters, bool copy) {
    if (text != nullptr && copy) {
        m_ownedText.assign(text);
        m_text = m_ownedText.c_str();
        if (delimiters != nullptr) {
            m_ownedDelimiters.assign(delimiters);
            m_delimiters = m_ownedDelimiters.c_str();
        } else {
            m_delimiters = nullptr;
        }
    } else {
        m_text = text;
        m_delimiters = delimiters;
    }
    m_pos = 0;
}

void CTokenizer::SetPos(std::size_t index) {
    // Reading past the terminator would walk into foreign memory.
    const std::size_t length = m_text != nullptr ? std::strlen(m_text) : 0;
    m_pos = index < length ? index : length;
}

bool CTokenizer::IsDelimiter(char ch) const {
    return ch != '\0' && m_delimiters != nullptr && std::strchr(m_delimiters, ch) != nullptr;
}

void CTokenizer::SkipChars(const char* set) {
    if (!Ready() || set == nullptr) {
        return;
    }
    while (m_text[m_pos] != '\0' && std::strchr(set, m_text[m_pos]) != nullptr) {
        ++m_pos;
    }
}

std::string CTokenizer::NextToken() {
    if (!Ready() || m_text[m_pos] == '\0') {
        return std::string();
    }
    const std::size_t start = m_pos;
    const bool delimiterRun = IsDelimiter(m_text[m_pos]);
    while (m_text[m_pos] != '\0' && IsDelimiter(m_text[m_pos]) == delimiterRun) {
        ++m_pos;
    }
    return std::string(m_text + start, m_pos - start);
}

std::string CTokenizer::NextPart() {
    if (!Ready()) {
        return std::string();
    }
    while (IsDelimiter(m_text[m_pos])) {
        ++m_pos;
    }
    return NextToken();
}

std::string CTokenizer::NextPartBy(const char* delimiters) {
    const char* saved = m_delimiters;
    m_delimiters = delimiters;
    std::string part = NextPart();
    m_delimiters = saved;
    return part;
}

void CTokenizer::CallMethod(CSspCall& call, CSspValue& result) {
    // Unlike other objects' members, these match only as written.
    const CRow* row = FindSspMemberRow(kMembers, call.m_strMember);
    if (row == nullptr || row->m_name != call.m_strMember) {
        ThrowUnknownSspMember(call, g_msg.m_unknownTokenizerField);
    }
    CallSspMemberRow(*row, call, result, *this);
}
