#include "engine/script/SspObject.h"

#include <new>

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

void CheckSspArgCount(const CSspCall& call, int least, int most) {
    const size_t count = call.ArgCount();
    if (count < static_cast<size_t>(least) || count > static_cast<size_t>(most)) {
        throw CSspException(g_msg.m_missingParameter, call.m_pPos);
    }
}

void ThrowUnknownSspMember(const CSspCall& call, std::string_view unknownText) {
    throw CSspException(std::string(unknownText) + call.m_strMember, call.m_pPos);
}

const CSspMember& DispatchSspMember(std::span<const CSspMember> table, const CSspCall& call,
                                    std::string_view unknownText) {
    const CSspMember* member = FindSspMember(table, call.m_strMember);
    if (member == nullptr) {
        ThrowUnknownSspMember(call, unknownText);
    }
    CheckSspArgCount(call, member->m_minArgs, kSspAnyArgs);
    return *member;
}

void CallSspMemberRowCatchingNoMemory(const CSspMemberRow<>& row, CSspCall& call,
                                      CSspValue& result) {
    CheckSspArgCount(call, row.m_minArgs, row.m_maxArgs);
    try {
        row.m_handler(call, result);
    } catch (const std::bad_alloc&) {
        throw CSspException(g_msg.m_outOfMemory, call.m_pPos);
    }
}
