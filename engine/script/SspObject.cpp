#include "engine/script/SspObject.h"

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/script/SspCall.h"

bool SspNameEquals(std::string_view a, std::string_view b) {
    return AsciiEqualNoCase(a, b);
}

const CSspMember* FindSspMember(std::span<const CSspMember> table, std::string_view name) {
    for (const CSspMember& member : table) {
        if (SspNameEquals(member.m_name, name)) {
            return &member;
        }
    }
    return nullptr;
}

const CSspMember& DispatchSspMember(std::span<const CSspMember> table, const CSspCall& call,
                                    std::string_view unknownText) {
    const CSspMember* member = FindSspMember(table, call.m_strMember);
    if (member == nullptr) {
        throw CSspException(std::string(unknownText) + call.m_strMember, call.m_pPos);
    }
    if (static_cast<int>(call.ArgCount()) < member->m_minArgs) {
        throw CSspException(g_msg.m_missingParameter, call.m_pPos);
    }
    return *member;
}
