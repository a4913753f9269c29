// The interpreter's own objects: `arg` (a called function's arguments) and `Local` (local
// variables, calls of the file's functions, the run's data source).
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

enum LocalMember : int {
    kBeginTransaction,
    kCommitTransaction,
    kRollbackTransaction,
    kGetUniqueId,
    kSetErrorFile,
    kDbType,
    kDbVer,
    kUseDataSource,
    kUrl,
    kUrlPath,
    kSetVar,
    kVar,
};

// Argument counts are checked by each member: their texts differ.
constexpr CSspMember kLocalMembers[] = {
    {"BeginTransaction", 0, kBeginTransaction},
    {"CommitTransaction", 0, kCommitTransaction},
    {"RollbackTransaction", 0, kRollbackTransaction},
    {"GetUniqueID", 0, kGetUniqueId},
    {"setErrorFile", 0, kSetErrorFile},
    {"dbType", 0, kDbType},
    {"dbVer", 0, kDbVer},
    {"UseDataSource", 0, kUseDataSource},
    {"url", 0, kUrl},
    {"urlPath", 0, kUrlPath},
    {"SetVar", 0, kSetVar},
    {"Var", 0, kVar},
};

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

}  // namespace

void CSspInterpreter::CallArg(CSspCall& call, CSspValue& result) {
    if (m_pFunction == nullptr || m_pFunction->m_params.empty()) {
        throw CSspException(kNotInFunction, call.m_pPos);
    }
    const auto& params = m_pFunction->m_params;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (SspNameEquals(params[i], call.m_strMember)) {
            if (m_pArgs == nullptr || i >= m_pArgs->size()) {
                throw CSspException(kArgNotInCall, call.m_pPos);
            }
            result = *(*m_pArgs)[i];
            return;
        }
    }
    throw CSspException(kArgNotInDefinition, call.m_pPos);
}

void CSspInterpreter::CallLocal(CSspCall& call, CSspValue& result) {
    const CSspMember* member = FindSspMember(kLocalMembers, call.m_strMember);
    if (member == nullptr) {
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
        return;
    }
    switch (member->m_id) {
        case kBeginTransaction:
            RequireLink(call.m_pPos)
                .DataSourceCommand(AcquireDataSource(call.m_pPos), "BeginTrans");
            break;
        case kCommitTransaction:
        case kRollbackTransaction: {
            CSspServerLink* link = CSspServerLink::Current();
            if (m_pDataSource != nullptr && link != nullptr && link->InTransaction(m_pDataSource)) {
                link->DataSourceCommand(
                    m_pDataSource, member->m_id == kCommitTransaction ? "CommitTrans" : "Rollback");
            }
            break;
        }
        case kGetUniqueId:
            CSspServerObject::GetUniqueId(*this, call, result);
            break;
        case kSetErrorFile:
            SetErrorFile(call);
            break;
        case kDbType:
        case kDbVer: {
            CDataSource* source = AcquireDataSource(call.m_pPos);
            CSspServerLink& link = RequireLink(call.m_pPos);
            result = CSspValue::FromText(member->m_id == kDbType ? link.DbmsName(source)
                                                                 : link.DbmsVersion(source));
            break;
        }
        case kUseDataSource:
            UseDataSource(call, result);
            break;
        case kUrl:
            result = CSspValue::FromText(m_strUrl);
            break;
        case kUrlPath:
            result = CSspValue::FromText(m_strUrlFolder);
            break;
        case kSetVar:
            if (call.ArgCount() != 2) {
                throw CSspException(g_msg.m_wrongParamCount, call.m_pPos);
            }
            SetLocalVar(call.GetParamStr(0), call.Arg(1));
            break;
        case kVar: {
            if (call.ArgCount() < 1) {
                throw CSspException(g_msg.m_wrongParamCount, call.m_pPos);
            }
            CSspValue* var = FindLocalVar(call.GetParamStr(0));
            if (var != nullptr) {
                result = *var;
            } else if (call.ArgCount() >= 2) {
                result = CSspValue::FromText(call.GetParamStr(1));
            } else {
                throw CSspException(std::string(g_msg.m_localVarNotDefined) + call.m_strMember,
                                    call.m_pPos);
            }
            break;
        }
        default:
            break;
    }
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
