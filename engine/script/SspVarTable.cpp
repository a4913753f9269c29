#include "engine/script/SspVarTable.h"

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"

CSspValue* CSspVarTable::Find(std::string_view name) {
    auto it = m_vars.find(AsciiLowerCopy(name));
    return it == m_vars.end() ? nullptr : it->second.get();
}

const CSspValue* CSspVarTable::Find(std::string_view name) const {
    auto it = m_vars.find(AsciiLowerCopy(name));
    return it == m_vars.end() ? nullptr : it->second.get();
}

void CSspVarTable::Set(std::string_view name, const CSspValue& value) {
    auto& slot = m_vars[AsciiLowerCopy(name)];
    if (slot) {
        *slot = value;
    } else {
        slot = std::make_unique<CSspValue>(value);
    }
}

void CSspVarTable::ReadVar(const CSspCall& call, CSspValue& result,
                           const char* notDefinedText) const {
    if (call.ArgCount() < 1) {
        throw CSspException(g_msg.m_wrongParamCount, call.m_pPos);
    }
    if (const CSspValue* value = Find(call.GetParamStr(0))) {
        result = *value;
    } else if (call.ArgCount() >= 2) {
        result = CSspValue::FromText(call.GetParamStr(1));
    } else {
        throw CSspException(std::string(notDefinedText) + call.m_strMember, call.m_pPos);
    }
}

void CSspVarTable::ReadNamedVar(const CSspCall& call, CSspValue& result,
                                const char* notDefinedText) const {
    const CSspValue* value = Find(call.m_strMember);
    if (value == nullptr) {
        throw CSspException(std::string(notDefinedText) + call.m_strMember, call.m_pPos);
    }
    result = *value;
}

void CSspVarTable::SetVar(const CSspCall& call) {
    CheckSetVarCount(call);
    Set(call.GetParamStr(0), call.Arg(1));
}

void CSspVarTable::CheckSetVarCount(const CSspCall& call) {
    if (call.ArgCount() != 2) {
        throw CSspException(g_msg.m_wrongParamCount, call.m_pPos);
    }
}
