#include "engine/script/SspSessionObject.h"

#include <cstdio>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspContextLink.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspSessionRunState.h"

CSspSessionObject g_sspSession;

namespace {

const char kUserNotFound[] = "User not found.";
const char kPasswordIncorrect[] = "Password incorrect.";

CSspContextLink& RequireLink(const CSspCall& call) {
    CSspContextLink* link = CSspContextLink::Current();
    if (link == nullptr) {
        throw CSspException(CSspContextLink::kNotAvailable, call.m_pPos);
    }
    return *link;
}

std::string Presented(CSspInterpreter& interp, const char* cookie, bool field) {
    CSspContextLink* link = CSspContextLink::Current();
    if (link == nullptr) {
        return std::string();
    }
    std::string value;
    if (interp.m_pResponse != nullptr) {
        value = link->ResponseCookie(*interp.m_pResponse, cookie);
    }
    if (value.empty() && interp.m_pRequest != nullptr) {
        value = link->RequestCookie(*interp.m_pRequest, cookie);
        if (value.empty() && field) {
            value = link->RequestField(*interp.m_pRequest, cookie);
        }
    }
    return value;
}

}  // namespace

std::string CSspSessionObject::GetSessionId(CSspInterpreter& interp) {
    return Presented(interp, CSspContextLink::kIdCookie, true);
}

std::string CSspSessionObject::GetSessionKey(CSspInterpreter& interp) {
    // Only a cookie: a secret in a URL would end up in logs and referrers.
    return Presented(interp, CSspContextLink::kKeyCookie, false);
}

void CSspSessionObject::CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    if (interp.m_pRequest == nullptr) {
        throw CSspException(g_msg.m_sessionOnlyInPages, call.m_pPos);
    }
    if (SspNameEquals(call.m_strMember, "logon")) {
        Logon(interp, call, result);
        return;
    }
    CSspContextLink& link = RequireLink(call);
    CSspSessionRunState& state = CSspSessionRunState::Of(interp);
    bool tolerant =
        SspNameEquals(call.m_strMember, "IsValid") || SspNameEquals(call.m_strMember, "Logoff");
    if (!state.m_session) {
        std::string id = GetSessionId(interp);
        if (!id.empty()) {
            state.Attach(interp, link.FindSession(id, GetSessionKey(interp)));
            if (!state.m_session && !tolerant) {
                char text[1024];
                std::snprintf(text, sizeof text, g_msg.m_sessionTerminated,
                              CSessionRecord::Describe(id).c_str());
                throw CSspException(text);
            }
        } else if (!tolerant) {
            throw CSspException(g_msg.m_sessionIdMissing, call.m_pPos);
        }
    }
    result = CSspValue::FromInteger(0);
    if (SspNameEquals(call.m_strMember, "Logoff")) {
        if (state.m_session) {
            link.RemoveSession(state.m_session->GetSessionId());
            result = CSspValue::FromInteger(1);
        }
        return;
    }
    if (state.m_session) {
        state.m_session->CallMethod(call, result, link.Now());
    }
}

void CSspSessionObject::Logon(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    CSspContextLink& link = RequireLink(call);
    CSspSessionRunState& state = CSspSessionRunState::Of(interp);
    if (state.m_session) {
        link.RemoveSession(state.m_session->GetSessionId());
        state.Attach(interp, nullptr);
    }
    result = CSspValue::FromInteger(0);
    std::string path = "/";
    std::string address = link.ClientAddress(*interp.m_pRequest);
    std::size_t count = call.ArgCount();
    if (count == 1 || count == 2) {
        if (count == 2) {
            path = call.GetParamStr(1);
        }
    } else if (count == 4) {
        if (call.GetParamStr(2).empty()) {
            throw CSspException(kUserNotFound);
        }
        if (call.GetParamStr(1) != call.GetParamStr(3)) {
            throw CSspException(kPasswordIncorrect);
        }
    } else {
        throw CSspException(g_msg.m_missingParameter, call.m_pPos);
    }
    state.Attach(interp, link.CreateSession(call.GetParamStr(0), address, path));
    if (state.m_session && interp.m_pResponse != nullptr) {
        result = CSspValue::FromInteger(1);
        link.SetSessionCookies(*interp.m_pResponse, *state.m_session, path);
    }
}
