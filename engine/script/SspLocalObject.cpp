// The interpreter's own objects: `arg` (a called function's arguments) and `Local` (local
// variables, calls of the file's functions, the run's data source).
#include "engine/data/DataSource.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/FilePaths.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspApplication.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspServerLink.h"
#include "engine/script/SspServerObject.h"
#include "engine/settings/RootFolder.h"

namespace {

const char kNotInFunction[] = "This is not a function or no parameter is defined.";
const char kArgNotInDefinition[] = "Argument not found in function definition.";
const char kArgNotInCall[] = "Argument not found in function call statement.";

CSspServerLink& RequireLink(const char* pos) {
    CSspServerLink* link = CSspServerLink::Current();
    if (link == nullptr) {
        throw CSspException(g_msg.m_noDataSourceDefined, pos);
    }
    return *link;
}

void BeginTransaction(CSspInterpreter& interp, CSspCall& call, CSspValue&) {
    RequireLink(call.m_pPos).DataSourceCommand(interp.AcquireDataSource(call.m_pPos), "BeginTrans");
}
// Ends the run's transaction, when one is open, with `command`.
void EndTransaction(CSspInterpreter& interp, const char* command) {
    CSspServerLink* link = CSspServerLink::Current();
    if (interp.m_pDataSource != nullptr && link != nullptr &&
        link->InTransaction(interp.m_pDataSource)) {
        link->DataSourceCommand(interp.m_pDataSource, command);
    }
}
void CommitTransaction(CSspInterpreter& interp, CSspCall&, CSspValue&) {
    EndTransaction(interp, "CommitTrans");
}
void RollbackTransaction(CSspInterpreter& interp, CSspCall&, CSspValue&) {
    EndTransaction(interp, "Rollback");
}
void DbType(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    CDataSource* source = interp.AcquireDataSource(call.m_pPos);
    result = CSspValue::FromText(RequireLink(call.m_pPos).DbmsName(source));
}
void DbVer(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    CDataSource* source = interp.AcquireDataSource(call.m_pPos);
    result = CSspValue::FromText(RequireLink(call.m_pPos).DbmsVersion(source));
}
void UseRunDataSource(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    interp.UseDataSource(call, result);
}
void Url(CSspInterpreter& interp, CSspCall&, CSspValue& result) {
    result = CSspValue::FromText(interp.m_strUrl);
}
void UrlPath(CSspInterpreter& interp, CSspCall&, CSspValue& result) {
    result = CSspValue::FromText(interp.m_strUrlFolder);
}
void SetVar(CSspInterpreter& interp, CSspCall& call, CSspValue&) {
    if (call.ArgCount() != 2) {
        throw CSspException(g_msg.m_wrongParamCount, call.m_pPos);
    }
    interp.SetLocalVar(call.GetParamStr(0), call.Arg(1));
}
void Var(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    if (call.ArgCount() < 1) {
        throw CSspException(g_msg.m_wrongParamCount, call.m_pPos);
    }
    CSspValue* var = interp.FindLocalVar(call.GetParamStr(0));
    if (var != nullptr) {
        result = *var;
    } else if (call.ArgCount() >= 2) {
        result = CSspValue::FromText(call.GetParamStr(1));
    } else {
        throw CSspException(std::string(g_msg.m_localVarNotDefined) + call.m_strMember,
                            call.m_pPos);
    }
}

// Argument counts are checked by each member: their texts differ.
constexpr CSspMemberRow<CSspInterpreter&> kLocalMembers[] = {
    {"BeginTransaction", 0, kSspAnyArgs, &BeginTransaction},
    {"CommitTransaction", 0, kSspAnyArgs, &CommitTransaction},
    {"RollbackTransaction", 0, kSspAnyArgs, &RollbackTransaction},
    {"GetUniqueID", 0, kSspAnyArgs, &CSspServerObject::GetUniqueId},
    {"setErrorFile", 0, kSspAnyArgs,
     [](CSspInterpreter& self, CSspCall& at, CSspValue&) { self.SetErrorFile(at); }},
    {"dbType", 0, kSspAnyArgs, &DbType},
    {"dbVer", 0, kSspAnyArgs, &DbVer},
    {"UseDataSource", 0, kSspAnyArgs, &UseRunDataSource},
    {"url", 0, kSspAnyArgs, &Url},
    {"urlPath", 0, kSspAnyArgs, &UrlPath},
    {"SetVar", 0, kSspAnyArgs, &SetVar},
    {"Var", 0, kSspAnyArgs, &Var},
};

}  // namespace

bool CSspInterpreter::IsLocalMember(std::string_view member) {
    return FindSspMemberRow(kLocalMembers, member) != nullptr;
}

void CSspInterpreter::CallArg(CSspCall& call, CSspValue& result) {
    result = ArgValue(call.m_strMember, call.m_pPos);
}

const CSspValue& CSspInterpreter::ArgValue(std::string_view name, const char* pos,
                                           int* index) const {
    if (m_pFunction == nullptr || m_pFunction->m_params.empty()) {
        throw CSspException(kNotInFunction, pos);
    }
    const auto& params = m_pFunction->m_params;
    for (std::size_t i = 0; i < params.size(); ++i) {
        // Most often written as in the definition: equal bytes need no case folding.
        const bool exact = SameBytes(params[i], name);
        if (exact || SspNameEquals(params[i], name)) {
            if (i >= m_pArgs->size()) {
                throw CSspException(kArgNotInCall, pos);
            }
            if (index != nullptr) {
                *index = exact ? static_cast<int>(i) : -1;
            }
            return *(*m_pArgs)[i];
        }
    }
    throw CSspException(kArgNotInDefinition, pos);
}

const CSspValue& CSspInterpreter::ArgValueFinding(const CSspExpression::COperand& operand,
                                                  const char* pos) const {
    int found = -1;
    const CSspValue& value = ArgValue(operand.m_strMember, pos, &found);
    // Only the body that holds the operand may answer for the runs after it.
    if (found >= 0 && InRunningBody(pos)) {
        operand.m_paramHint.Store(found);
    }
    return value;
}

void CSspInterpreter::CallLocal(CSspCall& call, CSspValue& result) {
    if (const auto* row = FindSspMemberRow(kLocalMembers, call.m_strMember)) {
        CallSspMemberRow(*row, call, result, *this);
        return;
    }
    // Another name with arguments calls the file's function; without, reads a local variable.
    if (call.m_bHasArgs) {
        CallFunction(call, result, nullptr);
        return;
    }
    CSspValue* var = FindLocalVar(call.m_strMember);
    if (var == nullptr) {
        throw CSspException(std::string(g_msg.m_localVarNotDefined) + call.m_strMember,
                            call.m_pPos);
    }
    result = *var;
}

void CSspInterpreter::UseDataSource(CSspCall& call, CSspValue& result) {
    std::string connection = MakeUseDataSourceConnection(call);
    RequireLink(call.m_pPos).SetDataSource(m_strUrl, connection);
    if (m_pDataSource != nullptr) {
        throw CSspException(g_msg.m_useDataSourceTooLate, call.m_pPos);
    }
    result = CSspValue::FromText("1");
}

void CSspInterpreter::SetErrorFile(CSspCall& call) {
    if (call.ArgCount() < 1) {
        throw CSspException(g_msg.m_addHeaderMissingParam, call.m_pPos);
    }
    std::string target = call.GetParamStr(0);
    std::string url;
    std::string path;
    if (!target.empty() && target[0] == '/') {
        url = target;
        path = g_rootDir + "/webroot" + target;
    } else {
        url = m_strUrlFolder + target;
        std::size_t slash = m_strFilePath.rfind('/');
        path = (slash == std::string::npos ? std::string() : m_strFilePath.substr(0, slash + 1)) +
               target;
    }
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    m_strErrorUrl = NormalizePath(url);
    m_strErrorPath = NormalizePath(path);
}
