#include "engine/data/tests/SqlTestHost.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"

std::vector<CSqlToken> CSqlTestHost::Scan(const char* start, const char* end) {
    m_tokens.clear();
    const char* p = start;
    while (p < end) {
        if (std::isspace(static_cast<unsigned char>(*p))) {
            ++p;
            continue;
        }
        const char* s = p;
        if (std::isalpha(static_cast<unsigned char>(*p)) || *p == '_') {
            while (p < end &&
                   (std::isalnum(static_cast<unsigned char>(*p)) || *p == '_' || *p == '.')) {
                ++p;
            }
        } else if (std::isdigit(static_cast<unsigned char>(*p))) {
            while (p < end && (std::isdigit(static_cast<unsigned char>(*p)) || *p == '.')) {
                ++p;
            }
        } else if (*p == '\'') {
            ++p;
            while (p < end && *p != '\'') {
                p += (*p == '\\' && p + 1 < end) ? 2 : 1;
            }
            if (p < end) {
                ++p;
            }
        } else if (p + 1 < end && std::strchr("<>!=", *p) && std::strchr("=>", p[1]) &&
                   !(*p == '=' && p[1] == '>')) {
            p += 2;
        } else {
            ++p;
        }
        m_tokens.push_back({s, p});
    }
    return m_tokens;
}

CSspValue CSqlTestHost::Operand(const std::string& t) {
    CSspValue v;
    if (t.empty()) {
        throw CSspException("Missing operand.");
    }
    if (t[0] == '\'') {
        std::string text;
        for (size_t i = 1; i + 1 < t.size(); ++i) {
            if (t[i] == '\\' && i + 2 < t.size()) {
                ++i;
            }
            text += t[i];
        }
        return CSspValue::FromText(text);
    }
    if (std::isdigit(static_cast<unsigned char>(t[0]))) {
        v.SetNumber(t);
        return v;
    }
    if (strcasecmp(t.c_str(), "null") == 0) {
        return v;
    }
    if (strncasecmp(t.c_str(), "Local.", 6) == 0) {
        std::string name = t.substr(6);
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        auto it = m_locals.find(name);
        if (it == m_locals.end()) {
            throw CSspException("Local variable not defined: " + name);
        }
        return it->second;
    }
    throw CSspException("Unknown operand: " + t);
}

CSspValue CSqlTestHost::Evaluate(int from, int to) {
    CSspValue result = Operand(m_tokens.at(from).Text());
    for (int i = from + 1; i + 1 < to; i += 2) {
        CSspValue sum;
        sum.ApplyOperator(result, m_tokens[i].Text(), Operand(m_tokens[i + 1].Text()));
        result = sum;
    }
    return result;
}

CSspSql& CSqlTestHost::Declare(const std::string& name, const std::string& statement) {
    m_sources.push_back(std::make_unique<std::string>(statement));
    const std::string& src = *m_sources.back();
    const char* start = src.data();
    const char* end = src.data() + src.size();
    auto& slot = m_objects[name];
    if (!slot) {
        slot = std::make_unique<CSspSql>();
    }
    bool stringMode = CSspSql::IsStringModeText(src);
    std::string text;
    if (stringMode) {
        std::vector<CSqlToken> toks = Scan(start, end);
        text = Evaluate(0, static_cast<int>(toks.size())).GetText();
    } else {
        for (const CSqlToken& t : Scan(start, end)) {
            text += (text.empty() ? "" : " ") + t.Text();
        }
    }
    slot->Declare(this, name, start, end, stringMode, text);
    return *slot;
}

CSspValue CSqlTestHost::Call(CSspSql& sql, const std::string& member,
                             const std::vector<std::string>& args) {
    CSspCall call;
    call.m_strMember = member;
    for (const std::string& a : args) {
        call.AddArg(CSspValue::FromText(a));
    }
    CSspValue result;
    sql.CallMethod(call, result);
    return result;
}
