#include "engine/script/SspApplication.h"

#include "engine/data/DataSource.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspServerLink.h"

// The handlers run under the application's lock, which CallMethod holds.
struct CSspApplication::CMembers {
    using Row = CSspMemberRow<CSspApplication&>;

    static void UseDataSource(CSspApplication& self, CSspCall& call, CSspValue& result) {
        std::string connection = MakeUseDataSourceConnection(call);
        CSspServerLink* link = CSspServerLink::Current();
        if (link == nullptr) {
            throw CSspException(g_msg.m_noDataSourceDefined, call.m_pPos);
        }
        link->SetDataSource(self.m_strName, connection);
        result = CSspValue::FromText("1");
    }
    static void SetVar(CSspApplication& self, CSspCall& call, CSspValue& result) {
        self.m_vars.SetVar(call);
        result = CSspValue::FromInteger(1);
    }
    static void VarExist(CSspApplication& self, CSspCall& call, CSspValue& result) {
        result = CSspValue::FromInteger(self.m_vars.Has(call.GetParamStr(0)) ? 1 : 0);
    }
    static void Var(CSspApplication& self, CSspCall& call, CSspValue& result) {
        self.m_vars.ReadVar(call, result, g_msg.m_appVarNotDefined);
    }

    // UseDataSource checks its count itself: one or three.
    static constexpr Row kTable[] = {
        {"UseDataSource", 0, kSspAnyArgs, &UseDataSource},
        {"SetVar", 0, kSspAnyArgs, &SetVar},
        {"VarExist", 1, kSspAnyArgs, &VarExist},
        {"Var", 0, kSspAnyArgs, &Var},
    };
};

void CSspApplication::CallMethod(CSspCall& call, CSspValue& result) {
    std::lock_guard lock(m_lock);
    const CMembers::Row* row = FindSspMemberRow(CMembers::kTable, call.m_strMember);
    if (row == nullptr) {
        m_vars.ReadNamedVar(call, result, g_msg.m_appVarNotDefined);
        return;
    }
    CallSspMemberRow(*row, call, result, *this);
}
