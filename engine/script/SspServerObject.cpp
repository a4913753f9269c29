#include "engine/script/SspServerObject.h"

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspCall.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspResponseObject.h"
#include "engine/script/SspServerLink.h"

CSspServerObject g_sspServer;

namespace {

enum Member : int { kGetUniqueId, kCurrentUrlPath, kCurrentUrl, kError };

constexpr CSspMember kMembers[] = {
    {"GetUniqueID", 0, kGetUniqueId},
    {"CurrentUrlPath", 0, kCurrentUrlPath},
    {"CurrentUrl", 0, kCurrentUrl},
    {"error", 0, kError},
};

}  // namespace

std::span<const CSspMember> CSspServerObject::Members() {
    return kMembers;
}

void CSspServerObject::CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    const CSspMember* member = FindSspMember(kMembers, call.m_strMember);
    if (member != nullptr) {
        switch (member->m_id) {
            case kGetUniqueId:
                GetUniqueId(interp, call, result);
                break;
            case kCurrentUrlPath:
                result = CSspValue::FromText(interp.m_strUrlFolder);
                break;
            case kCurrentUrl:
                result = CSspValue::FromText(interp.m_strUrl);
                break;
            case kError:
                if (interp.m_pResponse != nullptr) {
                    interp.m_pResponse->CallMethod(interp, call, result);
                }
                break;
        }
    } else {
        CSspServerLink* link = CSspServerLink::Current();
        if (link == nullptr) {
            throw CSspException(kServerNotAvailable, call.m_pPos);
        }
        link->CallServerMember(interp, call, result);
    }
    if (SspNameEquals(call.m_strMember, "UseDataSource") && interp.m_pDataSource != nullptr) {
        throw CSspException(g_msg.m_useDataSourceTooLate, call.m_pPos);
    }
}

namespace {

// Server's arguments arrive as written, so a name written as a literal, 'tickets', still
// holds its quotes: the name is what they enclose.
std::string NameArgument(const CSspCall& call, int index) {
    std::string text = call.GetParamStr(index);
    if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'') {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

}  // namespace

void CSspServerObject::GetUniqueId(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    const std::string table = call.ArgCount() >= 1 ? NameArgument(call, 0) : std::string();
    const std::string column = call.ArgCount() >= 2 ? NameArgument(call, 1) : std::string();
    std::string registry = call.ArgCount() == 3 ? NameArgument(call, 2) : kDefaultRegistryTable;
    if (call.ArgCount() < 2 || table.empty() || column.empty()) {
        throw CSspException(g_msg.m_missingParameter, call.m_pPos);
    }
    CDataSource* source = interp.AcquireDataSource(call.m_pPos);
    CSspServerLink* link = CSspServerLink::Current();
    if (link == nullptr) {
        throw CSspException(kServerNotAvailable, call.m_pPos);
    }
    result = CSspValue::FromInteger(
        link->GetUniqueId(source, table, column, registry));
}
