#include "engine/script/SspApplication.h"

#include "engine/data/DataSource.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspCall.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspServerLink.h"

namespace {

const char kInvalidConnection[] = "Invalid ODBC connection string";

enum Member : int { kUseDataSource, kSetVar, kVarExist, kVar };

// Argument counts are checked by each member: their texts differ.
constexpr CSspMember kMembers[] = {
    {"UseDataSource", 0, kUseDataSource},
    {"SetVar", 0, kSetVar},
    {"VarExist", 0, kVarExist},
    {"Var", 0, kVar},
};

}  // namespace

std::string MakeUseDataSourceConnection(const CSspCall& call) {
    if (call.ArgCount() == 1) {
        std::string text = call.GetParamStr(0);
        if (text.size() < 5) {
            throw CSspException(kInvalidConnection, call.m_pPos);
        }
        return text.substr(5);
    }
    if (call.ArgCount() == 3) {
        return CDataSource::MakeConnectString(call.GetParamStr(0), call.GetParamStr(1),
                                              call.GetParamStr(2));
    }
    throw CSspException(g_msg.m_missingParameter, call.m_pPos);
}

void CSspApplication::CallMethod(CSspCall& call, CSspValue& result) {
    std::lock_guard lock(m_lock);
    const CSspMember* member = FindSspMember(kMembers, call.m_strMember);
    if (member == nullptr) {
        const CSspValue* value = m_vars.Find(call.m_strMember);
        if (value == nullptr) {
            throw CSspException(std::string(g_msg.m_appVarNotDefined) + call.m_strMember,
                                call.m_pPos);
        }
        result = *value;
        return;
    }
    switch (member->m_id) {
        case kUseDataSource: {
            std::string connection = MakeUseDataSourceConnection(call);
            CSspServerLink* link = CSspServerLink::Current();
            if (link == nullptr) {
                throw CSspException(g_msg.m_noDataSourceDefined, call.m_pPos);
            }
            link->SetDataSource(m_strName, connection);
            result = CSspValue::FromText("1");
            break;
        }
        case kSetVar: {
            if (call.ArgCount() != 2) {
                throw CSspException(g_msg.m_wrongParamCount, call.m_pPos);
            }
            m_vars.Set(call.GetParamStr(0), call.Arg(1));
            result = CSspValue::FromInteger(1);
            break;
        }
        case kVarExist:
            if (call.ArgCount() < 1) {
                throw CSspException(g_msg.m_missingParameter, call.m_pPos);
            }
            result = CSspValue::FromInteger(m_vars.Has(call.GetParamStr(0)) ? 1 : 0);
            break;
        case kVar:
            m_vars.ReadVar(call, result, g_msg.m_appVarNotDefined);
            break;
    }
}
