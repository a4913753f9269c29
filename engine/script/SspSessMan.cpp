#include "engine/script/SspSessMan.h"

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspCall.h"
#include "engine/script/SspContextLink.h"
#include "engine/script/SspSessionRunState.h"

CSspSessMan g_sspSessMan;

namespace {

constexpr int kFieldCount = 5;

enum Member : int {
    kPrepareForFetch = 100,
    kFetch,
    kRemove,
    kUserId = 0,
    kIpAddress = 1,
    kStartTime = 2,
    kLastAccess = 3,
    kAppPath = 4,
};

constexpr CSspMember kMembers[] = {
    {"PrepareForFetch", 0, kPrepareForFetch},
    {"fetch", 0, kFetch},
    {"Remove", 1, kRemove},
    {"USER_ID", 0, kUserId},
    {"IP_ADDRESS", 0, kIpAddress},
    {"START_TIME", 0, kStartTime},
    {"LAST_ACCESS", 0, kLastAccess},
    {"APP_PATH", 0, kAppPath},
};

}  // namespace

std::string CSspSessMan::Field(const std::string& line, int index) {
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        std::size_t cut = line.find('\n', start);
        if (cut == std::string::npos) {
            return std::string();
        }
        start = cut + 1;
    }
    if (index == kFieldCount - 1) {
        return line.substr(start);
    }
    std::size_t end = line.find('\n', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void CSspSessMan::CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    const CSspMember* member = FindSspMember(kMembers, call.m_strMember);
    if (member == nullptr) {
        throw CSspException(g_msg.m_unknownSessManField, call.m_pPos);
    }
    if (static_cast<int>(call.ArgCount()) < member->m_minArgs) {
        throw CSspException(g_msg.m_missingParameter, call.m_pPos);
    }
    CSspContextLink* link = CSspContextLink::Current();
    if (link == nullptr) {
        throw CSspException(CSspContextLink::kNotAvailable, call.m_pPos);
    }
    CSspSessionRunState& state = CSspSessionRunState::Of(interp);
    result = CSspValue::FromInteger(1);
    switch (member->m_id) {
        case kPrepareForFetch:
            state.m_lines = link->ListSessions();
            state.m_cursor = -1;
            break;
        case kFetch:
            if (state.m_cursor + 1 < static_cast<long>(state.m_lines.size())) {
                ++state.m_cursor;
            } else {
                result = CSspValue::FromInteger(0);
            }
            break;
        case kRemove:
            link->RemoveUserSessions(call.GetParamStr(0));
            break;
        default:
            if (state.m_cursor < 0 || state.m_cursor >= static_cast<long>(state.m_lines.size())) {
                throw CSspException(g_msg.m_sessionOutOfBound, call.m_pPos);
            }
            result = CSspValue::FromText(
                Field(state.m_lines[static_cast<std::size_t>(state.m_cursor)], member->m_id));
            break;
    }
}
