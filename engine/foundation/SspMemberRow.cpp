#include "engine/foundation/SspMemberRow.h"

#include <new>
#include <string>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"

bool SspNameEquals(std::string_view a, std::string_view b) {
    return AsciiEqualNoCase(a, b);
}

void CheckSspArgCount(std::size_t count, int least, int most, const char* position) {
    if (count < static_cast<std::size_t>(least) || count > static_cast<std::size_t>(most)) {
        throw CSspException(g_msg.m_missingParameter, position);
    }
}

void ThrowUnknownSspMember(const CSspCall& call, std::string_view unknownText) {
    throw CSspException(std::string(unknownText) + call.m_strMember, call.m_pPos);
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
