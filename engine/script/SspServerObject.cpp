#include "engine/script/SspServerObject.h"

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspResponseObject.h"
#include "engine/script/SspServerLink.h"

CSspServerObject g_sspServer;

namespace {

void CurrentUrlPath(CSspInterpreter& interp, CSspCall&, CSspValue& result) {
    result = CSspValue::FromText(interp.m_strUrlFolder);
}
void CurrentUrl(CSspInterpreter& interp, CSspCall&, CSspValue& result) {
    result = CSspValue::FromText(interp.m_strUrl);
}
void Error(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    if (interp.m_pResponse != nullptr) {
        interp.m_pResponse->CallMethod(interp, call, result);
    }
}

// GetUniqueID checks its own count.
constexpr CSspMemberRow<CSspInterpreter&> kTable[] = {
    {"GetUniqueID", 0, kSspAnyArgs, &CSspServerObject::GetUniqueId},
    {"CurrentUrlPath", 0, kSspAnyArgs, &CurrentUrlPath},
    {"CurrentUrl", 0, kSspAnyArgs, &CurrentUrl},
    {"error", 0, kSspAnyArgs, &Error},
};

}  // namespace

void CSspServerObject::CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    if (const auto* row = FindSspMemberRow(kTable, call.m_strMember)) {
        CallSspMemberRow(*row, call, result, interp);
    } else {
        // The rest, and the server's variables, live with the server.
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
    result = CSspValue::FromInteger(link->GetUniqueId(source, table, column, registry));
}
