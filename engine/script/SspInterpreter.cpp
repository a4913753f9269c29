#include "engine/script/SspInterpreter.h"

#include <thread>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspObjectRegistry.h"
#include "engine/script/SspRequestObject.h"
#include "engine/script/SspResponseObject.h"

const CSspValueList CSspInterpreter::kNoArgs;

CSspInterpreter::CSspInterpreter(CSspInterpreter* root)
    : m_pRoot(root ? root : this), m_winThread(std::this_thread::get_id()) {
    Clear();
}

CSspInterpreter::~CSspInterpreter() {
    try {
        ReleaseObjects();
    } catch (...) {
        // A run reports its cleanup failures; an interpreter destroyed without one has none
        // to report to.
    }
    m_sourceStore.RemoveAll();
}

void CSspInterpreter::RequestStop() {
    m_pRoot->m_bStop.store(true, std::memory_order_relaxed);
}

CSspValue* CSspInterpreter::FindLocalVar(std::string_view name) {
    auto it = m_localVars.find(AsciiLowerCopy(name));
    return it == m_localVars.end() ? nullptr : it->second.get();
}

void CSspInterpreter::SetLocalVar(const CSspHashedName& name, CSspValue&& value) {
    if (CSspValue* var = FindLocalVar(name)) {
        // Copied as SetVar always has, into the variable's own storage.
        *var = value;
        return;
    }
    auto [it, inserted] = m_localVars.emplace(std::string(name.m_name),
                                              std::make_unique<CSspValue>(std::move(value)));
    if (name.m_pSite != nullptr) {
        m_varHits[VarHitIndex(name.m_pSite)] = CVarHit{name.m_pSite, it->second.get()};
    }
}
CSspValue* CSspInterpreter::FindLocalVarMissed(const CSspHashedName& name) {
    CVarHit* hit = name.m_pSite != nullptr ? &m_varHits[VarHitIndex(name.m_pSite)] : nullptr;
    auto it = m_localVars.find(name);
    if (it == m_localVars.end()) {
        return nullptr;
    }
    if (hit != nullptr) {
        *hit = CVarHit{name.m_pSite, it->second.get()};
    }
    return it->second.get();
}

void CSspInterpreter::ClearLocalVarsFound() {
    m_localVars.clear();
    m_varHits.fill(CVarHit{});
}
void CSspInterpreter::SetLocalVar(std::string_view name, const CSspValue& value) {
    auto& slot = m_localVars[AsciiLowerCopy(name)];
    if (slot) {
        *slot = value;
    } else {
        slot = std::make_unique<CSspValue>(value);
    }
}

void CSspInterpreter::SetLocalVar(std::string_view name, CSspValue&& value) {
    const std::string lower = AsciiLowerCopy(name);
    SetLocalVar(CSspHashedName{lower, CSspNameHash()(lower)}, std::move(value));
}

CSspDeclared* CSspInterpreter::FindDeclaredAt(CSspDeclKind kind, const char* keyword) {
    for (CSspDeclared& decl : m_declared) {
        if (decl.m_kind == kind && decl.m_pKeyword == keyword) {
            return &decl;
        }
    }
    return nullptr;
}

bool CSspInterpreter::IsNameDeclared(std::string_view name) const {
    for (const CSspDeclared& decl : m_declared) {
        if (decl.m_kind != CSspDeclKind::Ldap && SspNameEquals(decl.m_strName, name)) {
            return true;
        }
    }
    return false;
}

void CSspInterpreter::CheckNameFree(const std::string& name, const char* pos) const {
    if (IsNameDeclared(name)) {
        throw CSspException(std::string(g_msg.m_nameInUse) + name, pos);
    }
}

void CSspInterpreter::CallObjectMethod(CSspCall& call, CSspValue& result) {
    const std::string& object = call.m_strObject;
    CSspObjectRegistry& registry = CSspObjectRegistry::Instance();
    if (call.m_strMember.empty()) {
        if (CSspObject* date = FindDeclared(CSspDeclKind::DateTime, object)) {
            date->CallMethod(*this, call, result);
            return;
        }
        if (CSspObject* globals = registry.Find("")) {
            globals->CallMethod(*this, call, result);
            return;
        }
        throw CSspException(std::string(g_msg.m_unknownGlobalFunction) + object, call.m_pPos);
    }
    if (SspNameEquals(object, "arg")) {
        CallArg(call, result);
        return;
    }
    if (SspNameEquals(object, "Local")) {
        CallLocal(call, result);
        return;
    }
    if (SspNameEquals(object, "Request")) {
        if (m_pRequest == nullptr) {
            throw CSspException(g_msg.m_noRequestObject, call.m_pPos);
        }
        m_pRequest->CallMethod(*this, call, result);
        return;
    }
    if (SspNameEquals(object, "Response")) {
        if (m_pResponse == nullptr) {
            throw CSspException(g_msg.m_noResponseObject, call.m_pPos);
        }
        m_pResponse->CallMethod(*this, call, result);
        return;
    }
    if (!object.empty()) {
        if (CSspObject* builtin = registry.Find(object)) {
            builtin->CallMethod(*this, call, result);
            return;
        }
    }
    static constexpr CSspDeclKind kOrder[] = {CSspDeclKind::Sql,       CSspDeclKind::File,
                                              CSspDeclKind::Array,     CSspDeclKind::EmailIn,
                                              CSspDeclKind::EmailOut,  CSspDeclKind::DateTime,
                                              CSspDeclKind::Tokenizer, CSspDeclKind::Ldap};
    for (CSspDeclKind kind : kOrder) {
        if (CSspObject* declared = FindDeclared(kind, object)) {
            declared->CallMethod(*this, call, result);
            return;
        }
    }
    throw CSspException(std::string(g_msg.m_unknownObject) + object, call.m_pPos);
}

bool CSspInterpreter::IsNumberToken(std::string_view token) {
    // number: ( digit | '.' | ',' )+
    if (token.empty()) {
        return false;
    }
    for (char c : token) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == ',')) {
            return false;
        }
    }
    return true;
}
