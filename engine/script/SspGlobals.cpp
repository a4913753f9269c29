#include "engine/script/SspGlobals.h"

#include <string>
#include <string_view>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/script/SspString.h"
#include "engine/script/SspTo.h"

CSspGlobals g_sspGlobals;

namespace {

enum class Target { kString, kTo };

struct Alias {
    std::string_view m_name;
    Target m_target;
    std::string_view m_member;  // the member of the target whose row (and count) applies
};

constexpr Alias kAliases[] = {
    {"cgi", Target::kTo, "cgi"},
    {"html", Target::kTo, "html"},
    {"html2", Target::kTo, "html2"},
    {"upper", Target::kTo, "upper"},
    {"lower", Target::kTo, "lower"},
    {"trim", Target::kString, "trim"},
    {"FindOneOf", Target::kString, "FindOneOf"},
    {"HasChars", Target::kString, "FindOneOf"},
    {"FindString", Target::kString, "FindString"},
    {"char_length", Target::kString, "length"},
    {"substring", Target::kString, "substring"},
    {"IsValidDateTime", Target::kString, "IsValidDateTime"},
    {"ToInteger", Target::kTo, "Integer"},
    {"ToNumber", Target::kTo, "Number"},
    {"To2QuoteStr", Target::kTo, "2QuoteStr"},
    {"ToOdbcDateStr", Target::kTo, "OdbcDateStr"},
    {"ToOdbcDateTimeStr", Target::kTo, "OdbcDateTimeStr"},
    {"ToHours", Target::kTo, "Hours"},
    {"ToMinutes", Target::kTo, "Minutes"},
    {"TimeSpan", Target::kTo, "TimeSpan"},
};

}  // namespace

void CSspGlobals::CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) {
    for (const Alias& alias : kAliases) {
        if (!SspNameEquals(alias.m_name, call.m_strObject)) {
            continue;
        }
        if (alias.m_target == Target::kString) {
            if (const CSspString::MemberRow* row = CSspString::FindMember(alias.m_member)) {
                CallSspMemberRowCatchingNoMemory(*row, call, result);
                return;
            }
        } else if (const CSspTo::MemberRow* row = CSspTo::FindMember(alias.m_member)) {
            CallSspMemberRowCatchingNoMemory(*row, call, result);
            return;
        }
        break;
    }
    throw CSspException(std::string(g_msg.m_unknownGlobalFunction) + call.m_strObject, call.m_pPos);
}
