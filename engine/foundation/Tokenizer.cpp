#include "engine/foundation/Tokenizer.h"

#include <cstring>
#include <string>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"

namespace {

struct Member {
    const char* name;
    std::string (CTokenizer::*method)();
};

// The script members; they take no arguments. Matched exactly and in this order.
constexpr Member kMembers[] = {
    {"NextToken", &CTokenizer::NextToken},
    {"NextPart", &CTokenizer::NextPart},
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

std::string CTokenizer::CallMethod(std::string_view member, const char* position) {
    for (const Member& m : kMembers) {
        if (member == m.name) {
            return (this->*m.method)();
        }
    }
    throw CSspException(std::string(g_msg.m_unknownTokenizerField) + std::string(member), position);
}
