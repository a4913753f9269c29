#include "engine/script/SspInterpreter.h"

#include <mutex>
#include <new>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspContextLink.h"
#include "engine/script/SspErrorLocation.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspObjectRegistry.h"
#include "engine/script/SspRequestObject.h"
#include "engine/script/SspResponseObject.h"
#include "engine/script/SspServerLink.h"
#include "engine/script/SspSqlObject.h"

namespace {

const char kCallsTooDeep[] = "Function calls are nested too deeply (more than 200 levels).";

thread_local int t_runDepth = 0;

// The number of runs active on this thread, this one included.
struct CRunDepth {
    int m_depth;
    CRunDepth() : m_depth(++t_runDepth) {}
    ~CRunDepth() { --t_runDepth; }
    CRunDepth(const CRunDepth&) = delete;
    CRunDepth& operator=(const CRunDepth&) = delete;
};

// Thrown through a caller's frames when a called function was stopped from outside.
struct CSspStopSignal {};

// A called function's whole error text, raised at the call: its "%" are doubled already.
class CSspChildError : public CSspException {
public:
    using CSspException::CSspException;
};

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

}  // namespace

CSspInterpreter::CSspInterpreter(CSspInterpreter* root) : m_pRoot(root ? root : this) {
    Clear();
}

CSspInterpreter::~CSspInterpreter() {
    try {
        ReleaseObjects();
    } catch (...) {
        // A run reports its cleanup failures; an interpreter destroyed without one has none
        // to report to.
    }
    m_sourceStore.RemoveAll();
}

void CSspInterpreter::Clear() {
    m_strFilePath.clear();
    m_strUrl.clear();
    m_strUrlFolder = "/";
    m_strError.clear();
    m_nErrorOffset = -1;
    m_pSourceFile = nullptr;
    m_pFunction = nullptr;
    m_pArgs = nullptr;
    m_pResult = nullptr;
    m_pResultArray = nullptr;
    m_pBegin = m_pEnd = m_pPos = nullptr;
    m_nCodeKind = 0;
    m_pRequest = nullptr;
    m_pResponse = nullptr;
}

void CSspInterpreter::DumpPosition() const {
    const CSspInterpreter* root = m_pRoot;
    if (root->m_pPos == nullptr || root->m_pPos == root->m_pBegin) {
        return;
    }
    for (const CSspInterpreter* interp = root; interp != nullptr; interp = interp->m_pChild) {
        int offset = static_cast<int>(interp->m_pPos - interp->m_pBegin);
        if (interp->m_pChild != nullptr) {
            g_log.Log("File: %s called a function at offset %d.", interp->m_strFilePath.c_str(),
                      offset);
        } else {
            g_log.Log("File: %s hanged before offset %d.", interp->m_strFilePath.c_str(), offset);
        }
    }
}

void CSspInterpreter::RequestStop() {
    m_pRoot->m_bStop.store(true, std::memory_order_relaxed);
}

bool CSspInterpreter::StopRequested() const {
    return m_pRoot->m_bStop.load(std::memory_order_relaxed);
}

bool CSspInterpreter::LoadSource(const std::string& path, const std::string& url,
                                 const std::string& function) {
    m_strFilePath = path;
    m_strUrl = url;
    std::size_t slash = url.rfind('/');
    m_strUrlFolder = slash == std::string::npos ? "/" : url.substr(0, slash + 1);
    CSspSourceFile* file = m_pRoot->m_sourceStore.GetFile(path);
    if (file == nullptr) {
        m_strError = m_pRoot->m_sourceStore.m_strError;
        return false;
    }
    m_pSourceFile = file;
    m_pBegin = m_pPos = file->m_pBegin;
    m_pEnd = file->m_pEnd;
    m_nCodeKind = file->IsPageFile() ? 0 : 1;
    if (function.empty()) {
        return true;
    }
    const CSspFunctionDef* def = file->FindFunction(function);
    if (def == nullptr) {
        try {
            def = CollectFunctions(function);
        } catch (const CSspException& e) {
            SetError(e.Message(), e.Position());
            Reset();
            return false;
        }
    }
    if (def == nullptr) {
        m_strError = "Function " + function + " not found in file " + path;
        Reset();
        return false;
    }
    m_pFunction = def;
    m_pBegin = m_pPos = def->m_pBodyStart;
    m_pEnd = def->m_pBodyEnd;
    m_nCodeKind = 1;
    return true;
}

int CSspInterpreter::RunPage(const std::string& path, const std::string& url,
                             CSspRequestObject* request, CSspResponseObject* response,
                             const std::string& function, const CSspValueList* args,
                             CSspValue* result, CSspValueList* resultArray) {
    // Runs nest on one thread through functions, file objects and their functions alike;
    // counting them per thread bounds the stack whichever way a page recurses.
    CRunDepth depth;
    Clear();
    if (depth.m_depth > kMaxCallDepth + 1) {
        m_strError = kCallsTooDeep;
        return kSspError;
    }
    if (!LoadSource(path, url, function)) {
        return kSspError;
    }
    m_pRequest = request;
    m_pResponse = response;
    m_pArgs = args;
    m_pResult = result;
    m_pResultArray = resultArray;
    // With serialised database access a whole run holds the server context's lock; nested
    // runs on this thread take it again.
    std::unique_lock<std::recursive_mutex> runLock;
    if (CSspContextLink* context = CSspContextLink::Current()) {
        runLock = context->LockRun();
    }

    int rc = kSspDone;
    try {
        while (m_pPos < m_pEnd) {
            if (m_nCodeKind == 0) {
                std::string literal;
                int kind = FindCodeStart(literal);
                if (!literal.empty() && m_pResponse != nullptr) {
                    m_pResponse->WriteText(literal);
                }
                m_nCodeKind = kind;
                continue;
            }
            int r = ExecuteStatement();
            if (r >= kSspError && r <= kSspReturned) {
                rc = r;
                break;
            }
        }
    } catch (const CSspChildError& e) {
        rc = kSspError;
        SetError(e.Message(), e.Position(), true);
    } catch (const CSspException& e) {
        rc = kSspError;
        SetError(e.Message(), e.Position());
    } catch (const CSspStopSignal&) {
        rc = kSspStopped;
    } catch (const std::bad_alloc&) {
        rc = kSspError;
        SetError("Out of memory.", m_pPos);
    } catch (...) {
        rc = kSspError;
        SetError("Unknown server error.", m_pPos);
    }

    if (rc == kSspDone) {
        if (m_pFunction == nullptr && m_pSourceFile->IsPageFile() && m_nCodeKind != 0) {
            rc = kSspError;
            SetError(g_msg.m_missingCloseDashes, m_pPos);
        }
        if (m_pCurrentIf != nullptr) {
            rc = kSspError;
            SetError(g_msg.m_missingEndif, m_pCurrentIf->m_pKeyword);
        }
        if (m_pCurrentWhile != nullptr) {
            rc = kSspError;
            SetError(g_msg.m_missingEndwhile, m_pCurrentWhile->m_pKeyword);
        }
    }

    bool cleanupFailed = false;
    try {
        CSspServerLink* link = CSspServerLink::Current();
        if (m_pDataSource != nullptr && link != nullptr && link->InTransaction(m_pDataSource)) {
            link->DataSourceCommand(m_pDataSource, "Rollback");
            if (rc == kSspDone) {
                rc = kSspError;
                m_strError = g_msg.m_missingCommit;
            }
        }
    } catch (...) {
        cleanupFailed = true;
    }
    try {
        ReleaseObjects();
        Reset();
        if (m_pRoot == this && m_pResponse != nullptr) {
            m_pResponse->CloseOutput();
        }
    } catch (...) {
        cleanupFailed = true;
    }
    if (cleanupFailed) {
        m_strError += g_msg.m_rollbackErrors;
        rc = kSspError;
    }
    return rc;
}

void CSspInterpreter::SetError(const std::string& message, const char* pos, bool escaped) {
    if (pos != nullptr && m_pBegin != nullptr && pos >= m_pBegin && pos <= m_pEnd) {
        m_nErrorOffset = static_cast<int>(pos - m_pBegin);
    }
    m_strError = FormatSspError(m_strFilePath, m_pBegin, m_pEnd, pos, message, escaped,
                                m_pSourceFile != nullptr ? m_pSourceFile->m_pEnd : nullptr);
}

void CSspInterpreter::ReleaseObjects() {
    m_pChild = nullptr;
    m_pCurrentIf = nullptr;
    m_pCurrentWhile = nullptr;
    m_ifs.clear();
    m_whiles.clear();
    m_pSession = nullptr;
    // Later declarations may refer to earlier ones: release in reverse order. An sql object
    // closes its own connection and record set first; a failure there is reported by the
    // run, after everything else has been released.
    bool closeFailed = false;
    while (!m_declared.empty()) {
        if (m_declared.back().m_kind == CSspDeclKind::Sql) {
            try {
                static_cast<CSspSqlObject&>(*m_declared.back().m_pObject).m_sql.Close();
            } catch (...) {
                closeFailed = true;
            }
        }
        m_declared.pop_back();
    }
    m_localVars.clear();
    if (m_pDataSource != nullptr) {
        CDataSource* source = m_pDataSource;
        m_pDataSource = nullptr;
        if (CSspServerLink* link = CSspServerLink::Current()) {
            link->ReleaseDataSource(source);
        }
    }
    if (closeFailed) {
        throw CSspException(g_msg.m_rollbackErrors);
    }
}

void CSspInterpreter::Reset() {
    m_sourceStore.RemoveAll();
    m_pBegin = m_pEnd = m_pPos = nullptr;
    m_pSourceFile = nullptr;
    m_pFunction = nullptr;
}

CDataSource* CSspInterpreter::AcquireDataSource(const char* pos) {
    if (m_pDataSource != nullptr) {
        return m_pDataSource;
    }
    CSspServerLink* link = CSspServerLink::Current();
    CDataSource* source = link != nullptr ? link->AcquireDataSource(m_strUrl) : nullptr;
    if (source == nullptr) {
        throw CSspException(g_msg.m_noDataSourceDefined, pos);
    }
    m_pDataSource = source;
    return source;
}

CSspValue* CSspInterpreter::FindLocalVar(std::string_view name) {
    auto it = m_localVars.find(LowerAscii(name));
    return it == m_localVars.end() ? nullptr : it->second.get();
}

void CSspInterpreter::SetLocalVar(std::string_view name, const CSspValue& value) {
    auto& slot = m_localVars[LowerAscii(name)];
    if (slot) {
        *slot = value;
    } else {
        slot = std::make_unique<CSspValue>(value);
    }
}

CSspObject* CSspInterpreter::FindDeclared(CSspDeclKind kind, std::string_view name) const {
    for (const CSspDeclared& decl : m_declared) {
        if (decl.m_kind == kind && SspNameEquals(decl.m_strName, name)) {
            return decl.m_pObject.get();
        }
    }
    return nullptr;
}

CSspDeclared* CSspInterpreter::FindDeclaredAt(CSspDeclKind kind, const char* keyword) {
    for (CSspDeclared& decl : m_declared) {
        if (decl.m_kind == kind && decl.m_pKeyword == keyword) {
            return &decl;
        }
    }
    return nullptr;
}

bool CSspInterpreter::IsNameDeclared(std::string_view name) const {
    for (const CSspDeclared& decl : m_declared) {
        if (decl.m_kind != CSspDeclKind::Ldap && SspNameEquals(decl.m_strName, name)) {
            return true;
        }
    }
    return false;
}

void CSspInterpreter::CheckNameFree(const std::string& name, const char* pos) const {
    if (IsNameDeclared(name)) {
        throw CSspException(std::string(g_msg.m_nameInUse) + name, pos);
    }
}

void CSspInterpreter::CallObjectMethod(CSspCall& call, CSspValue& result) {
    const std::string& object = call.m_strObject;
    CSspObjectRegistry& registry = CSspObjectRegistry::Instance();
    if (call.m_strMember.empty()) {
        if (CSspObject* date = FindDeclared(CSspDeclKind::DateTime, object)) {
            date->CallMethod(*this, call, result);
            return;
        }
        if (CSspObject* globals = registry.Find("")) {
            globals->CallMethod(*this, call, result);
            return;
        }
        throw CSspException(std::string(g_msg.m_unknownGlobalFunction) + object, call.m_pPos);
    }
    if (SspNameEquals(object, "arg")) {
        CallArg(call, result);
        return;
    }
    if (SspNameEquals(object, "Local")) {
        CallLocal(call, result);
        return;
    }
    if (SspNameEquals(object, "Request")) {
        if (m_pRequest == nullptr) {
            throw CSspException(g_msg.m_noRequestObject, call.m_pPos);
        }
        m_pRequest->CallMethod(*this, call, result);
        return;
    }
    if (SspNameEquals(object, "Response")) {
        if (m_pResponse == nullptr) {
            throw CSspException(g_msg.m_noResponseObject, call.m_pPos);
        }
        m_pResponse->CallMethod(*this, call, result);
        return;
    }
    if (!object.empty()) {
        if (CSspObject* builtin = registry.Find(object)) {
            builtin->CallMethod(*this, call, result);
            return;
        }
    }
    static constexpr CSspDeclKind kOrder[] = {CSspDeclKind::Sql,       CSspDeclKind::File,
                                              CSspDeclKind::Array,     CSspDeclKind::EmailIn,
                                              CSspDeclKind::EmailOut,  CSspDeclKind::DateTime,
                                              CSspDeclKind::Tokenizer, CSspDeclKind::Ldap};
    for (CSspDeclKind kind : kOrder) {
        if (CSspObject* declared = FindDeclared(kind, object)) {
            declared->CallMethod(*this, call, result);
            return;
        }
    }
    throw CSspException(std::string(g_msg.m_unknownObject) + object, call.m_pPos);
}

void CSspInterpreter::CallFunction(CSspCall& call, CSspValue& result, CSspValueList* resultArray) {
    CSspInterpreter child(m_pRoot);
    child.m_nDepth = m_nDepth + 1;
    m_pChild = &child;
    int rc = child.RunPage(m_strFilePath, m_strUrl, m_pRequest, m_pResponse, call.m_strMember,
                           &call.m_args, &result, resultArray);
    m_pChild = nullptr;
    if (rc == kSspStopped) {
        throw CSspStopSignal{};
    }
    if (rc != kSspDone && rc != kSspReturned) {
        throw CSspChildError(child.m_strError, call.m_pPos);
    }
}
