// The run of a page, script or function as a whole: binding to the file, the loop of literal
// text and statements, the error text with its place, the checks at the end of a run, the
// clean-up, the debugger's queries, and files served from the database.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "engine/data/DatabaseFile.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/FileIdUrl.h"
#include "engine/script/SspContextLink.h"
#include "engine/script/SspDebugHooks.h"
#include "engine/script/SspErrorLocation.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspResponseObject.h"
#include "engine/script/SspServerLink.h"
#include "engine/script/SspSqlObject.h"
#include "engine/settings/ServerSettings.h"

namespace {

const char kCallsTooDeep[] = "Function calls are nested too deeply (more than 200 levels).";
const char kOutOfMemory[] = "Out of memory.";
const char kUnknownError[] = "Unknown server error.";
// A file error's own text is cut to what the error page was built to show.
constexpr std::size_t kMaxFileErrorText = 255;

thread_local int t_runDepth = 0;

// The last number handed out for m_nUrlStamp.
std::atomic<std::uint64_t> g_lastUrlStamp{0};

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

// The context whose run lock an outer run on this thread holds: the runs nested in it
// (functions, file objects) hold it through that one and need not take it again.
thread_local CSspContextLink* t_lockingContext = nullptr;

// The context link's run lock for one run, when the run needs one.
class CRunLock {
public:
    CRunLock() = default;
    ~CRunLock() {
        // Only a run that owns the lock can be the outermost one.
        if (m_lock.owns_lock()) {
            if (m_bOutermost) {
                t_lockingContext = nullptr;
            }
            m_lock.unlock();
        }
    }
    CRunLock(const CRunLock&) = delete;
    CRunLock& operator=(const CRunLock&) = delete;

    void Take() {
        CSspContextLink* context = CSspContextLink::Current();
        if (context == nullptr || context == t_lockingContext) {
            return;
        }
        m_lock = context->LockRun();
        if (m_lock.owns_lock() && t_lockingContext == nullptr) {
            t_lockingContext = context;
            m_bOutermost = true;
        }
    }

private:
    std::unique_lock<std::recursive_mutex> m_lock;
    bool m_bOutermost = false;
};

// The function `function` of `loaded` when `child` may run it by RunAgain for a run of
// `loaded` at the URL stamped `urlStamp`, else nullptr: its last run bound to that file by
// the same URL, nothing for a debugger to see, and room for one more run. Binding again
// would change nothing but the function then, and a function named there before is found
// without reading the file. A child between runs holds no debugger's hooks, and a URL
// stamp stands for a URL folder worked out.
const CSspFunctionDef* FunctionToRunAgain(CSspInterpreter& child, const CSspSourceFile* loaded,
                                          std::uint64_t urlStamp, const std::string& function,
                                          const CSspExpression::COperand* site) {
    if (loaded == nullptr || loaded != child.m_pPathOf || child.m_nUrlStamp != urlStamp ||
        t_runDepth > CSspInterpreter::kMaxCallDepth || CSspDebugHooks::Current() != nullptr) {
        return nullptr;
    }
    // The first definition of a name stays the first (definitions are only added), and a name
    // that found one definition of a text finds it in every run of that text: where the
    // place's last lookup landed is where the child's last function stands, that is the one.
    const CSspFunctionDef* last = child.m_pAgainDef;
    if (site != nullptr && last != nullptr && last->m_pKeyword == site->m_functionHint.Load()) {
        return last;
    }
    const CSspFunctionDef* def = loaded->FindFunction(function);
    if (def != nullptr) {
        child.m_pAgainDef = def;
        if (site != nullptr) {
            site->m_functionHint.Store(def->m_pKeyword);
        }
    }
    return def;
}

// Calls nest strictly on one thread, so the root's children serve them as a stack; making a
// child for every call cost more than most calls. Gives back the child at `m_nIndex`.
struct CLease {
    CSspInterpreter& m_root;
    std::size_t m_nIndex;
    ~CLease() { m_root.m_nCallChildrenInUse = m_nIndex; }
};

__attribute__((noinline)) void OneOwnArgument(CSspValueList& args) {
    args.resize(1);
    if (args[0] == nullptr) {
        args[0] = std::make_unique<CSspValue>();
    }
}

bool ContainsCodeOpener(const char* begin, const char* end) {
    for (const char* p = begin; p + 3 <= end; ++p) {
        if (p[0] == '-' && p[1] == '-' && p[2] == '{') {
            return true;
        }
    }
    return false;
}

}  // namespace

void CSspInterpreter::Clear() {
    // The file's path and URL stay until the next run names its own: a called function's
    // runs one after another name the same ones.
    m_strError.clear();
    m_nErrorOffset = -1;
    m_pSourceFile = nullptr;
    m_scanner.UseCacheOf(nullptr);
    SetFunction(nullptr);
    m_pArgs = &kNoArgs;
    m_pResult = nullptr;
    m_pResultArray = nullptr;
    m_scanner.Start(nullptr, nullptr, 0);
    m_pRequest = nullptr;
    m_pResponse = nullptr;
}

bool CSspInterpreter::LoadSource(const std::string& path, const std::string& url,
                                 const std::string& function, CSspSourceFile* loaded) {
    // A file of the root's store bears the path it was found by: a child that ran one of its
    // functions last holds that path already.
    if (loaded == nullptr || loaded != m_pPathOf) {
        if (m_strFilePath != path) {
            m_strFilePath = path;
        }
        ForgetPathOf();
        m_pPathOf = loaded != nullptr && loaded->m_strPath == path ? loaded : nullptr;
    }
    if (m_strUrl != url || m_strUrlFolder.empty()) {
        m_strUrl = url;
        m_nUrlStamp = 0;
        // Up to the last "/"; "/" when there is none.
        std::size_t slash = url.rfind('/');
        m_strUrlFolder.assign(url, 0, slash == std::string::npos ? 0 : slash + 1);
        if (m_strUrlFolder.empty()) {
            m_strUrlFolder.push_back('/');
        }
    }
    CSspSourceFile* file = loaded != nullptr ? loaded : m_pRoot->m_sourceStore.GetFile(path);
    if (file == nullptr) {
        m_strError = m_pRoot->m_sourceStore.m_strError;
        return false;
    }
    m_pSourceFile = file;
    m_scanner.UseCacheOf(file);
    const CSspFunctionDef* def = function.empty() ? nullptr : file->FindFunction(function);
    // A function already defined runs its body alone; the whole text is read otherwise.
    if (def == nullptr) {
        m_scanner.Start(file->m_pBegin, file->m_pEnd, file->IsPageFile() ? 0 : 1);
    }
    if (!function.empty()) {
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
        SetFunction(def);
        m_scanner.Start(def->m_pBodyStart, def->m_pBodyEnd, 1);
    }
    m_pDebugHooks = CSspDebugHooks::Current();
    if (m_pDebugHooks != nullptr) {
        m_pDebugHooks->AttachInterpreter(*this);
    }
    return true;
}

int CSspInterpreter::RunPage(const std::string& path, const std::string& url,
                             CSspRequestObject* request, CSspResponseObject* response,
                             const std::string& function, const CSspValueList* args,
                             CSspValue* result, CSspValueList* resultArray) {
    return Run(path, url, nullptr, request, response, function, args, result, resultArray);
}

int CSspInterpreter::Run(const std::string& path, const std::string& url, CSspSourceFile* loaded,
                         CSspRequestObject* request, CSspResponseObject* response,
                         const std::string& function, const CSspValueList* args, CSspValue* result,
                         CSspValueList* resultArray) {
    // Runs nest on one thread through functions, file objects and their functions alike;
    // counting them per thread bounds the stack whichever way a page recurses.
    CRunDepth depth;
    Clear();
    if (depth.m_depth > kMaxCallDepth + 1) {
        m_strFilePath.clear();
        ForgetPathOf();
        m_strUrl.clear();
        m_nUrlStamp = 0;
        m_strUrlFolder = "/";
        m_strError = kCallsTooDeep;
        return kSspError;
    }
    if (!LoadSource(path, url, function, loaded)) {
        return kSspError;
    }
    return RunBound(request, response, args, result, resultArray);
}

// Inline in the call: a function run again costs no frame of its own.
__attribute__((always_inline)) inline int CSspInterpreter::RunAgain(
    CSspSourceFile& file, const CSspFunctionDef& def, CSspRequestObject* request,
    CSspResponseObject* response, const CSspValueList* args, CSspValue* result,
    CSspValueList* resultArray) {
    CRunDepth depth;
    BindAgain(file, def);
    return RunBound(request, response, args, result, resultArray);
}

// A function run again whose body is one straight region: RunAgain without the checks that
// only a run which starts by reading statements needs. Inline in the call, as RunAgain is.
__attribute__((always_inline)) inline int CSspInterpreter::RunStraightAgain(
    CSspSourceFile& file, const CSspFunctionDef& def, const CSspRegion& body,
    CSspRequestObject* request, CSspResponseObject* response, const CSspValueList* args,
    CSspValue* result, CSspValueList* resultArray) {
    CRunDepth depth;
    BindAgain(file, def);
    BindRun(request, response, args, result, resultArray);
    int rc = kSspDone;
    // No run lock of its own: a call runs on its caller's thread inside the caller's run,
    // which holds the lock whenever one is to be held.
    try {
        // A run ends with no open if, so the region starts as RunBody would start it.
        rc = StopRequested() ? kSspStopped : RunStraight(body);
        if (rc <= kSspDone) {
            rc = ReadStatements(kSspDone);
        }
    } catch (...) {
        rc = RunFailed();
    }
    return EndChildRun(rc);
}

__attribute__((always_inline)) inline void CSspInterpreter::BindAgain(CSspSourceFile& file,
                                                                      const CSspFunctionDef& def) {
    m_strError.clear();
    m_nErrorOffset = -1;
    m_pSourceFile = &file;
    m_scanner.UseCacheOf(&file);
    SetFunction(&def);
    m_scanner.Start(def.m_pBodyStart, def.m_pBodyEnd, 1);
}

// Inline in its two callers, for the same reason.
__attribute__((always_inline)) inline int CSspInterpreter::RunBound(CSspRequestObject* request,
                                                                    CSspResponseObject* response,
                                                                    const CSspValueList* args,
                                                                    CSspValue* result,
                                                                    CSspValueList* resultArray) {
    BindRun(request, response, args, result, resultArray);
    int rc = kSspDone;
    CRunLock runLock;
    try {
        // With serialised database access a whole run holds the server context's lock.
        runLock.Take();
        // A function body run before goes on over its region without the statement loop,
        // which takes over only where the region hands on.
        const int first =
            AtKnownBody() && !StopRequested() ? RunBody(*m_pFunction->m_pBodyRegion) : -1;
        rc = ReadStatements(first > kSspDone ? first : kSspDone);
    } catch (...) {
        rc = RunFailed();
    }
    return EndRun(rc);
}

__attribute__((always_inline)) inline void CSspInterpreter::BindRun(CSspRequestObject* request,
                                                                    CSspResponseObject* response,
                                                                    const CSspValueList* args,
                                                                    CSspValue* result,
                                                                    CSspValueList* resultArray) {
    if (m_pRecordsOf != m_pFunction || m_pFunction == nullptr) {
        ForgetRecords();
    }
    m_pRecordsOf = nullptr;
    m_pRequest = request;
    m_pResponse = response;
    m_pArgs = args != nullptr ? args : &kNoArgs;
    m_pResult = result;
    m_pResultArray = resultArray;
    if (m_pRoot != this) {
        m_pDataSource = m_pRoot->m_pDataSource;
    }
}

int CSspInterpreter::ReadStatements(int rc) {
    while (rc == kSspDone && m_scanner.Position() < m_scanner.End()) {
        if (m_scanner.CodeKind() == 0) {
            if (!WriteLiteralText()) {
                return kSspStopped;
            }
            continue;
        }
        int r = ExecuteStatement();
        if (r >= kSspError && r <= kSspReturned) {
            return r;
        }
    }
    return rc;
}

// Called in a catch block: what the run's failure gives, with its error text set.
int CSspInterpreter::RunFailed() {
    try {
        throw;
    } catch (const CSspChildError& e) {
        SetError(e.Message(), e.Position(), true);
    } catch (const CSspException& e) {
        SetError(e.Message(), e.Position());
    } catch (const CSspStopSignal&) {
        return kSspStopped;
    } catch (const std::bad_alloc&) {
        SetError(kOutOfMemory, m_scanner.Position());
    } catch (const std::system_error& e) {
        // File and stream failures carry the system's own words.
        SetError(std::string(e.what()).substr(0, kMaxFileErrorText), m_scanner.Position());
    } catch (...) {
        SetError(kUnknownError, m_scanner.Position());
    }
    return kSspError;
}

int CSspInterpreter::CheckRunEnd() {
    int rc = kSspDone;
    if (m_pFunction == nullptr && m_pSourceFile->IsPageFile() && m_scanner.CodeKind() != 0) {
        rc = kSspError;
        SetError(g_msg.m_missingCloseDashes, m_scanner.Position());
    }
    if (m_pCurrentIf != nullptr) {
        rc = kSspError;
        SetError(g_msg.m_missingEndif, m_pCurrentIf->m_pKeyword);
    }
    if (m_pCurrentWhile != nullptr) {
        rc = kSspError;
        SetError(g_msg.m_missingEndwhile, m_pCurrentWhile->m_pKeyword);
    }
    return rc;
}

// EndRun of a child's run: it owns no connection and closes no output.
__attribute__((always_inline)) inline int CSspInterpreter::EndChildRun(int rc) {
    if (rc == kSspDone) {
        rc = CheckRunEnd();
    }
    try {
        ReleaseObjectsInline();
    } catch (...) {
        m_strError += g_msg.m_rollbackErrors;
        rc = kSspError;
    }
    try {
        ResetInline();
    } catch (...) {
        m_strError += g_msg.m_rollbackErrors;
        rc = kSspError;
    }
    return rc;
}

__attribute__((always_inline)) inline int CSspInterpreter::EndRun(int rc) {
    if (rc == kSspDone) {
        rc = CheckRunEnd();
    }
    bool cleanupFailed = false;
    // Only the top-level run owns the connection: a function may leave a transaction open
    // for its caller to commit.
    if (m_pRoot == this) {
        try {
            CSspServerLink* link = CSspServerLink::Current();
            if (m_pDataSource != nullptr && link != nullptr && link->InTransaction(m_pDataSource)) {
                // A top-level return is no commit either: the page must not look done.
                if (rc == kSspDone || rc == kSspReturned) {
                    rc = kSspError;
                    m_strError = g_msg.m_missingCommit;
                }
                link->DataSourceCommand(m_pDataSource, "Rollback");
            }
        } catch (...) {
            cleanupFailed = true;
        }
    }
    try {
        ReleaseObjectsInline();
    } catch (...) {
        cleanupFailed = true;
    }
    if (cleanupFailed) {
        m_strError += g_msg.m_rollbackErrors;
        rc = kSspError;
    }
    try {
        ResetInline();
        if (m_pRoot == this && m_pResponse != nullptr) {
            m_pResponse->CloseOutput();
        }
    } catch (...) {
        m_strError += g_msg.m_rollbackErrors;
        rc = kSspError;
    }
    return rc;
}

bool CSspInterpreter::WriteLiteralText() {
    std::string literal;
    int kind = 0;
    if (m_pDebugHooks != nullptr) {
        if (m_pDebugHooks->BeforeLiteralText(*this)) {
            return false;
        }
        kind = m_scanner.FindCodeStartByLine(literal);
    } else {
        kind = m_scanner.FindCodeStart(literal);
    }
    if (!literal.empty() && m_pResponse != nullptr) {
        m_pResponse->WriteText(literal);
    }
    m_scanner.SetCodeKind(kind);
    return true;
}

int CSspInterpreter::ServeDatabaseFile(const std::string& url, CSspRequestObject* request,
                                       CSspResponseObject* response) {
    m_strError.clear();
    m_nErrorOffset = -1;
    m_strUrl = url;
    m_nUrlStamp = 0;
    m_strUrlFolder.clear();  // worked out again by the next run
    m_pRequest = request;
    m_pResponse = response;
    CRunLock runLock;
    bool failed = true;
    try {
        runLock.Take();
        CDataSource* source = AcquireDataSource(nullptr);
        auto write = [response](const void* data, std::size_t length) {
            if (response != nullptr) {
                response->WriteText(std::string_view(static_cast<const char*>(data), length));
            }
        };
        auto decode = [](const std::string& token, DatabaseFile::CTokenRow& row) {
            CFileIdToken fields;
            const int id = DecodeFileIdToken(token, fields);
            row = {fields.m_table, fields.m_keyColumn, fields.m_dataColumn, id};
            // Only a token whose mac verifies can be of an earlier run or too old.
            if (id == kFileIdOtherServer || id == kFileIdExpired) {
                return DatabaseFile::ETokenCheck::kStale;
            }
            return id < 0 ? DatabaseFile::ETokenCheck::kForged
                          : DatabaseFile::ETokenCheck::kGenuine;
        };
        DatabaseFile::SendFileFromUrl(*source, url, g_settings.EncryptFileID, write, decode);
        failed = false;
    } catch (const CSspException& e) {
        m_strError = e.Message();
    } catch (const std::system_error& e) {
        m_strError = std::string(e.what()).substr(0, kMaxFileErrorText);
    } catch (...) {
        // Worded below.
    }
    if (failed && m_strError.empty()) {
        m_strError = "Unknown server error in " + url +
                     ". Please retry. If problem persists, please contact administrator.";
    }
    try {
        ReleaseObjects();
    } catch (...) {
        m_strError += g_msg.m_rollbackErrors;
    }
    if (response != nullptr) {
        response->CloseOutput();
    }
    m_pRequest = nullptr;
    m_pResponse = nullptr;
    return m_strError.empty() ? kSspDone : kSspError;
}

void CSspInterpreter::SetError(const std::string& message, const char* pos, bool escaped) {
    if (pos == nullptr || m_scanner.Begin() == nullptr || pos < m_scanner.Begin() ||
        pos > m_scanner.End()) {
        m_strError = message;
        return;
    }
    // Lines, columns and the offset count in the file even inside a function body: that is
    // where the author looks for them.
    const char* fileBegin = m_pSourceFile != nullptr ? m_pSourceFile->m_pBegin : m_scanner.Begin();
    const char* fileEnd = m_pSourceFile != nullptr ? m_pSourceFile->m_pEnd : m_scanner.End();
    m_nErrorOffset = static_cast<int>(pos - fileBegin);
    m_strError = FormatSspError(m_strFilePath, fileBegin, fileEnd, pos, message, escaped);
}

void CSspInterpreter::ReleaseObjects() {
    ReleaseObjectsInline();
}

void CSspInterpreter::ReleaseObjectsInline() {
    m_pChild = nullptr;
    m_pCurrentIf = nullptr;
    m_pCurrentWhile = nullptr;
    // A function's records serve its next call as they serve the next pass of a loop: they
    // stand for places in its text, which stays loaded until the root's run ends.
    if (m_pRoot != this && m_pFunction != nullptr) {
        m_pRecordsOf = m_pFunction;
    } else {
        RecycleRecords();
    }
    m_pSession = nullptr;
    // An sql object's failure to close is reported by the run, after everything else has been
    // released.
    const bool closeFailed = !m_declared.empty() && ReleaseDeclared();
    ClearLocalVars();
    if (m_pDataSource != nullptr) {
        CDataSource* source = m_pDataSource;
        m_pDataSource = nullptr;
        // A child's is its root's, given back by the root.
        CSspServerLink* link = CSspServerLink::Current();
        if (m_pRoot == this && link != nullptr) {
            link->ReleaseDataSource(source);
        }
    }
    if (closeFailed) {
        throw CSspException(g_msg.m_rollbackErrors);
    }
}

bool CSspInterpreter::ReleaseDeclared() {
    // Later declarations may refer to earlier ones: release in reverse order. An sql object
    // closes its own statement before the data source under it is given back.
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
    return closeFailed;
}

void CSspInterpreter::Reset() {
    ResetInline();
}

void CSspInterpreter::DropRootFiles() {
    // What its children kept of files about to be dropped: records of places in them, the
    // file whose path they hold.
    for (const std::unique_ptr<CSspInterpreter>& child : m_callChildren) {
        child->ForgetRecords();
        child->ForgetPathOf();
    }
    // Only a root's store ever holds files.
    if (!m_sourceStore.m_files.empty()) {
        m_sourceStore.RemoveAll();
    }
}

void CSspInterpreter::ResetInline() {
    if (m_pRoot == this) {
        DropRootFiles();
    }
    if (m_pDebugHooks != nullptr) {
        CSspDebugHooks* hooks = m_pDebugHooks;
        m_pDebugHooks = nullptr;
        hooks->DetachInterpreter(*this);
    }
    m_scanner.Start(nullptr, nullptr, m_scanner.CodeKind());
    m_pSourceFile = nullptr;
    m_scanner.UseCacheOf(nullptr);
    SetFunction(nullptr);
}

CDataSource* CSspInterpreter::AcquireDataSource(const char* pos) {
    if (m_pDataSource != nullptr) {
        return m_pDataSource;
    }
    // One connection per run: functions and file objects share their root's, so that a
    // transaction spans them and a private connection cannot wait on the run's own lock.
    if (m_pRoot != this) {
        m_pDataSource = m_pRoot->AcquireDataSource(pos);
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

__attribute__((flatten)) bool CSspInterpreter::CallStraightAgain(const CSspExpression& expr,
                                                                 int index, CSspValue& result) {
    const CSspExpression::COperand& operand = expr.m_operands[static_cast<std::size_t>(index)];
    // Only hints of shared places hold, and only a list read before and whole in the range.
    const CSspCallArgs* list = operand.m_callArgsHint.Load();
    const char* pos = expr.m_stmt.m_starts[static_cast<std::size_t>(index)];
    CSspSourceFile* file = m_pSourceFile;
    if (!expr.m_bShared || list == nullptr || !list->m_bLonePlain || file == nullptr ||
        file != m_scanner.CacheFile() || !file->IsLoaded() ||
        reinterpret_cast<std::uintptr_t>(pos) - reinterpret_cast<std::uintptr_t>(file->m_pBegin) >=
            file->m_nSize ||
        list->m_pAfter > m_scanner.End() || m_nUrlStamp == 0) {
        return false;
    }
    CSspInterpreter& root = *m_pRoot;
    const std::size_t next = root.m_nCallChildrenInUse;
    if (next == root.m_callChildren.size()) {
        return false;
    }
    CSspInterpreter& child = *root.m_callChildren[next];
    const CSspFunctionDef* def = child.m_pAgainDef;
    if (child.m_pPathOf != file || child.m_nUrlStamp != m_nUrlStamp || def == nullptr ||
        def->m_pKeyword != operand.m_functionHint.Load() || t_runDepth > kMaxCallDepth ||
        s_nArgumentDepth >= kMaxCallDepth || CSspDebugHooks::Current() != nullptr) {
        return false;
    }
    const CSspRegion* body = def->m_pStraightBody;
    if (body == nullptr) {
        return false;
    }
    // Two plain sides call nothing, so the child cannot run before its argument is worked,
    // and they assign it whole.
    CSspValueList& args = child.m_ownArgs;
    if (args.size() != 1) {
        OneOwnArgument(args);
    }
    {
        CArgumentDepth depth;
        EvaluateFast(*list->m_pExpr, *args[0]);
    }
    CLease lease{root, next};
    root.m_nCallChildrenInUse = next + 1;
    child.PrepareForCall(m_nDepth + 1);
    m_pChild = &child;
    const int rc = child.RunStraightAgain(*file, *def, *body, m_pRequest, m_pResponse, &args,
                                          &result, nullptr);
    m_pChild = nullptr;
    // A large argument is not kept until some later call.
    args[0]->ReleaseStorage();
    child.PassOnCallResult(rc, pos);
    return true;
}

void CSspInterpreter::CallFunction(CSspCall& call, CSspValue& result, CSspValueList* resultArray) {
    CallFunction(call.m_strMember, call, result, resultArray);
}

void CSspInterpreter::CallFunction(const std::string& function, CSspCall& call, CSspValue& result,
                                   CSspValueList* resultArray,
                                   const CSspExpression::COperand* site) {
    CSspInterpreter& root = *m_pRoot;
    CLease lease{root, root.m_nCallChildrenInUse};
    if (lease.m_nIndex == root.m_callChildren.size()) {
        root.m_callChildren.push_back(std::make_unique<CSspInterpreter>(&root));
    }
    CSspInterpreter& child = *root.m_callChildren[lease.m_nIndex];
    root.m_nCallChildrenInUse = lease.m_nIndex + 1;
    child.PrepareForCall(m_nDepth + 1);
    m_pChild = &child;
    // This run's file is the one its path names in the root's store: no need to look it up.
    CSspSourceFile* loaded =
        m_pSourceFile != nullptr && m_pSourceFile->IsLoaded() ? m_pSourceFile : nullptr;
    if (m_nUrlStamp == 0) {
        m_nUrlStamp = g_lastUrlStamp.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    int rc = 0;
    if (const CSspFunctionDef* again =
            FunctionToRunAgain(child, loaded, m_nUrlStamp, function, site)) {
        const CSspRegion* body = again->m_pStraightBody;
        rc = body != nullptr
                 ? child.RunStraightAgain(*loaded, *again, *body, m_pRequest, m_pResponse,
                                          &call.m_args, &result, resultArray)
                 : child.RunAgain(*loaded, *again, m_pRequest, m_pResponse, &call.m_args, &result,
                                  resultArray);
    } else {
        // A run again is on the thread of the run that bound the child: its root's.
        child.m_winThread = std::this_thread::get_id();
        rc = child.Run(m_strFilePath, m_strUrl, loaded, m_pRequest, m_pResponse, function,
                       &call.m_args, &result, resultArray);
        // The child's URL is this run's unless binding to it failed.
        if (child.m_strUrl == m_strUrl) {
            child.m_nUrlStamp = m_nUrlStamp;
        }
    }
    m_pChild = nullptr;
    child.PassOnCallResult(rc, call.m_pPos);
}

void CSspInterpreter::PrepareForCall(int depth) {
    // What a run leaves behind and its start does not reset, as a new child has it. Its end
    // leaves no child or session, a stop is asked of the root and a watch puts back what it
    // changed.
    m_nDepth = depth;
    // Set only by Local.setErrorFile, which few runs call.
    if (!m_strErrorUrl.empty() || !m_strErrorPath.empty()) {
        m_strErrorUrl.clear();
        m_strErrorPath.clear();
    }
}

void CSspInterpreter::PassOnCallFailure(int rc, const char* pos) const {
    if (rc == kSspStopped) {
        throw CSspStopSignal{};
    }
    throw CSspChildError(m_strError, pos);
}

void CSspInterpreter::DumpPosition() const {
    const CSspInterpreter* root = m_pRoot;
    const CSspScanner& rootScanner = root->m_scanner;
    if (rootScanner.Position() == nullptr || rootScanner.Position() == rootScanner.Begin()) {
        return;
    }
    for (const CSspInterpreter* interp = root; interp != nullptr; interp = interp->m_pChild) {
        int offset = static_cast<int>(interp->m_scanner.Position() - interp->m_scanner.Begin());
        if (interp->m_pChild != nullptr) {
            g_log.Log("File: %s called a function at offset %d.", interp->m_strFilePath.c_str(),
                      offset);
        } else {
            g_log.Log("File: %s hanged before offset %d.", interp->m_strFilePath.c_str(), offset);
        }
    }
}

int CSspInterpreter::GetCurrentLine() const {
    const CSspSourceFile* file = m_pSourceFile;
    if (file == nullptr || m_scanner.Position() == nullptr ||
        m_scanner.Position() < file->m_pBegin || m_scanner.Position() > file->m_pEnd) {
        return 0;
    }
    int line = file->GetLineOfPosition(m_scanner.Position());
    // The index has no entry for a last line without its line feed.
    if (line == 0) {
        line = static_cast<int>(file->LineCount()) + 1;
    }
    return line;
}

int CSspInterpreter::GetCurrentLine(std::string_view path) const {
    const CSspInterpreter* found = nullptr;
    for (const CSspInterpreter* interp = m_pRoot; interp != nullptr; interp = interp->m_pChild) {
        if (SspNameEquals(interp->m_strFilePath, path)) {
            found = interp;
        }
    }
    return found != nullptr ? found->GetCurrentLine() : 0;
}

bool CSspInterpreter::IsAtCodeLine() const {
    const CSspSourceFile* file = m_pSourceFile;
    if (file == nullptr || m_scanner.Position() == nullptr ||
        m_scanner.Position() < file->m_pBegin || m_scanner.Position() > file->m_pEnd) {
        return false;
    }
    const char* start = m_scanner.Position();
    while (start > file->m_pBegin && start[-1] != '\n') {
        --start;
    }
    const char* end = m_scanner.Position();
    while (end < file->m_pEnd && *end != '\n') {
        ++end;
    }
    return ContainsCodeOpener(start, end);
}
