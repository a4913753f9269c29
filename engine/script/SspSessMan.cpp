#include "engine/script/SspSessMan.h"

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspContextLink.h"
#include "engine/script/SspSessionRunState.h"

CSspSessMan g_sspSessMan;

namespace {

constexpr int kFieldCount = 5;

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

namespace {

using CRow = CSspMemberRow<CSspContextLink&, CSspSessionRunState&>;

void PrepareForFetch(CSspContextLink& link, CSspSessionRunState& state, CSspCall&,
                     CSspValue& result) {
    state.m_lines = link.ListSessions();
    state.m_cursor = -1;
    result = CSspValue::FromInteger(1);
}
void Fetch(CSspContextLink&, CSspSessionRunState& state, CSspCall&, CSspValue& result) {
    bool more = state.m_cursor + 1 < static_cast<long>(state.m_lines.size());
    if (more) {
        ++state.m_cursor;
    }
    result = CSspValue::FromInteger(more ? 1 : 0);
}
void Remove(CSspContextLink& link, CSspSessionRunState&, CSspCall& call, CSspValue& result) {
    link.RemoveUserSessions(call.GetParamStr(0));
    result = CSspValue::FromInteger(1);
}
// A field of the session line that fetch moved to.
template <int index>
void Field(CSspContextLink&, CSspSessionRunState& state, CSspCall& call, CSspValue& result) {
    if (state.m_cursor < 0 || state.m_cursor >= static_cast<long>(state.m_lines.size())) {
        throw CSspException(g_msg.m_sessionOutOfBound, call.m_pPos);
    }
    result = CSspValue::FromText(
        CSspSessMan::Field(state.m_lines[static_cast<std::size_t>(state.m_cursor)], index));
}

constexpr int kAny = kSspAnyArgs;
constexpr CRow kTable[] = {
    {"PrepareForFetch", 0, kAny, &PrepareForFetch},
    {"fetch", 0, kAny, &Fetch},
    {"Remove", 1, kAny, &Remove},
    {"USER_ID", 0, kAny, &Field<0>},
    {"IP_ADDRESS", 0, kAny, &Field<1>},
    {"START_TIME", 0, kAny, &Field<2>},
    {"LAST_ACCESS", 0, kAny, &Field<3>},
    {"APP_PATH", 0, kAny, &Field<4>},
};

}  // namespace

void CSspSessMan::CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    const CRow* row = FindSspMemberRow(kTable, call.m_strMember);
    if (row == nullptr) {
        // This object's text names no member.
        throw CSspException(g_msg.m_unknownSessManField, call.m_pPos);
    }
    CheckSspArgCount(call, row->m_minArgs, row->m_maxArgs);
    CSspContextLink* link = CSspContextLink::Current();
    if (link == nullptr) {
        throw CSspException(CSspContextLink::kNotAvailable, call.m_pPos);
    }
    row->m_handler(*link, CSspSessionRunState::Of(interp), call, result);
}
