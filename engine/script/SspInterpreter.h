#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspMemberRow.h"
#include "engine/script/SspExpressionPlan.h"
#include "engine/script/SspKeyword.h"
#include "engine/script/SspRegion.h"
#include "engine/script/SspScanner.h"
#include "engine/script/SspSourceStore.h"
#include "engine/script/SspStatement.h"
#include "engine/script/SspTokenCache.h"

class CDataSource;
class CSessionRecord;
class CSspDebugHooks;
class CSspObject;
class CSspRequestObject;
class CSspResponseObject;
class CSspValue;

// Result codes of a run and of ExecuteStatement.
enum : int {
    kSspDone = 0,        // the text (or the block) ended normally
    kSspError = 1,       // an error; m_strError holds the text
    kSspRedirected = 2,  // a Response.Redirect statement ran
    kSspStopped = 3,     // stopped from outside (debugger, shutdown)
    kSspReturned = 4,    // a return statement ran
};

// A lower-cased name with its hash worked out ahead, as compiled statements keep them.
// `m_pSite`, when set, is the compiled place that names it, shared and kept for the whole
// run: the variable it found there is remembered.
struct CSspHashedName {
    std::string_view m_name;
    std::size_t m_hash;
    const void* m_pSite = nullptr;
};

// Hashes a name as a string, a view of one or a hashed name, so that a lookup needs no copy.
struct CSspNameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
        return std::hash<std::string_view>()(name);
    }
    std::size_t operator()(const CSspHashedName& name) const { return name.m_hash; }
};

// Compares names of the kinds CSspNameHash hashes.
struct CSspNameEqual {
    using is_transparent = void;
    static std::string_view View(std::string_view name) { return name; }
    static std::string_view View(const CSspHashedName& name) { return name.m_name; }
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
        return View(a) == View(b);
    }
};

// What one pass over a statement of plain shape read, kept for the next pass of the same run:
// variables and arguments stay where they are for the whole run once they exist.
struct CSspPlainReads {
    const CSspValue* m_operands[2] = {nullptr, nullptr};
    CSspValue* m_pTarget = nullptr;
};

// Kinds of declared objects, each kept in declaration order.
enum class CSspDeclKind { Sql, File, Tokenizer, EmailIn, EmailOut, DateTime, Array, Ldap };

// One object made by a declaration statement (`array a;`, `datetime d(...)`, ...).
struct CSspDeclared {
    CSspDeclKind m_kind;
    std::string m_strName;
    const char* m_pKeyword;  // identifies the declaration when the statement runs again
    std::unique_ptr<CSspObject> m_pObject;
};

struct CSspIfRecord {
    CSspIfRecord* m_pParent = nullptr;
    const char* m_pKeyword = nullptr;
    int m_bTaken = 0;
};

struct CSspWhileRecord {
    CSspWhileRecord* m_pParent = nullptr;
    const char* m_pKeyword = nullptr;
    const char* m_pAfterEnd = nullptr;  // known once the loop has ended or a break found it
    int m_nCodeKind = 0;
    int m_nEndCodeKind = 0;  // the in-code kind just after "endwhile"
    CSspIfRecord* m_pIf = nullptr;
};

// One running page, script or called function. A run is RunPage() once, then the caller
// reads m_strError and destroys the interpreter. Function calls run in child interpreters
// that share the root (its source store and stop flag). Everything runs on one thread; only
// RequestStop() may be called from another.
class CSspInterpreter {
public:
    // A top-level interpreter when `root` is null, else a child of `root`'s chain.
    explicit CSspInterpreter(CSspInterpreter* root = nullptr);
    virtual ~CSspInterpreter();
    CSspInterpreter(const CSspInterpreter&) = delete;
    CSspInterpreter& operator=(const CSspInterpreter&) = delete;

    // Runs the file at `path` (or only its function `function`) and returns a result code.
    // `args` are the arguments of a function run; `result` and `resultArray`, when given,
    // receive what `return` gives. Never throws; on kSspError, m_strError holds the text:
    // "<path> (<line>,<column>): \r\n<line text>\r\n\r\n<message>" for an error at a place
    // in the text (line and column count in the file, also inside a function body), the
    // message alone otherwise. The whole run holds the context link's LockRun().
    //
    // A top-level run (no root given at construction) owns the run's data source; called
    // functions and file objects of its chain share it, so a transaction spans them. When
    // the top-level run ends with a transaction open it is rolled back, and a run that would
    // have ended done or returned fails with "Missing CommitTransaction(). All database
    // changes are discarded. ". The response's output is closed at the end of a top-level run.
    int RunPage(const std::string& path, const std::string& url, CSspRequestObject* request,
                CSspResponseObject* response, const std::string& function = std::string(),
                const CSspValueList* args = nullptr, CSspValue* result = nullptr,
                CSspValueList* resultArray = nullptr);

    // Sends the file stored in the database that `url` names (either URL form, as the
    // setting EncryptFileID says) into `response`, under LockRun() as a run is, through the
    // data source for `url`. Returns 0 when sent, 1 when not: m_strError then holds the data
    // layer's message, or "Unknown server error in <url>. Please retry. ..." for anything
    // unexpected. Never throws. `request` may be null.
    int ServeDatabaseFile(const std::string& url, CSspRequestObject* request,
                          CSspResponseObject* response);

    // Writes to the log where the chain is: "File: %s called a function at offset %d." for
    // each interpreter with a child, "File: %s hanged before offset %d." for the innermost.
    // For a thread that does not stop in time; nothing when the run has not moved yet.
    void DumpPosition() const;

    // For a debugger, on the run's thread or while it is paused. The 1-based line of this
    // interpreter's position in its file; 0 when it has none.
    int GetCurrentLine() const;
    // The line of the innermost interpreter of the chain (from the root through the child
    // links) whose file path equals `path` (ASCII case-insensitive); 0 when none.
    int GetCurrentLine(std::string_view path) const;
    // True when the line that holds the position contains a code opener ("--{", also as
    // part of "<!--{").
    bool IsAtCodeLine() const;

    // Asks the whole chain to stop before its next statement (any thread).
    void RequestStop();
    bool StopRequested() const { return m_pRoot->m_bStop.load(std::memory_order_relaxed); }

    // Hands `call` to the object it names and fills `result`.
    void CallObjectMethod(CSspCall& call, CSspValue& result);
    // Runs the function `call.m_strMember` of this file in a child interpreter.
    void CallFunction(CSspCall& call, CSspValue& result, CSspValueList* resultArray);
    // For the caller of this run (a function or a file object's), which gave `rc`: returns
    // when it is done or returned, stops the caller when it was stopped, else raises its
    // error text at the caller's `pos` with the text's "%" left doubled once, whichever path
    // the call took.
    void PassOnCallResult(int rc, const char* pos) const {
        if (rc != kSspDone && rc != kSspReturned) {
            PassOnCallFailure(rc, pos);
        }
    }

    // Local variables, by name in any case, or by a lower-cased name with its hash.
    CSspValue* FindLocalVar(std::string_view name);
    CSspValue* FindLocalVar(const CSspHashedName& name) {
        if (name.m_pSite != nullptr) {
            const CVarHit& hit = m_varHits[VarHitIndex(name.m_pSite)];
            if (hit.m_pSite == name.m_pSite) {
                return hit.m_pValue;
            }
        }
        return FindLocalVarMissed(name);
    }
    // Empties m_localVars and what is remembered of it.
    void ClearLocalVars() {
        // Only a variable found is remembered: with none there is nothing to forget.
        if (!m_localVars.empty()) {
            ClearLocalVarsFound();
        }
    }
    void SetLocalVar(std::string_view name, const CSspValue& value);
    void SetLocalVar(std::string_view name, CSspValue&& value);
    void SetLocalVar(const CSspHashedName& name, CSspValue&& value);
    // True when `member` is one of Local's own members rather than a variable or function.
    static bool IsLocalMember(std::string_view member);
    // number: ( digit | '.' | ',' )+
    static bool IsNumberToken(std::string_view token);

    // The declared object of `kind` named `name` (ASCII case-insensitive), or nullptr.
    CSspObject* FindDeclared(CSspDeclKind kind, std::string_view name) const {
        for (const CSspDeclared& decl : m_declared) {
            if (decl.m_kind == kind && SspNameEquals(decl.m_strName, name)) {
                return decl.m_pObject.get();
            }
        }
        return nullptr;
    }

    // The data source of the run, acquired through the server link on first need.
    // Throws CSspException at `pos` when there is none.
    CDataSource* AcquireDataSource(const char* pos);

    // Local.setErrorFile: the page shown in place of an error text.
    void SetErrorFile(CSspCall& call);

    // Local.UseDataSource: registers the page's connection (one "ODBC;..." argument, or data
    // source name, user and password) and gives the text "1".
    void UseDataSource(CSspCall& call, CSspValue& result);

    // The tokens of the source [start, end) as (start, end) positions, string literals and
    // operators each alone. For objects that read statements of their own (sql).
    std::vector<std::pair<const char*, const char*>> ScanTokens(const char* start, const char* end);
    // The value of the source [start, end) as one expression. Throws CSspException.
    CSspValue EvaluateText(const char* start, const char* end);

    // The studio's watch: the value of `expression` as text, or the message of the error it
    // raises. The position and error text of the run stay as they were.
    std::string EvaluateWatch(const std::string& expression);
    bool EvaluatingWatch() const { return m_bEvaluatingWatch; }

    // Deepest chain of function calls; one more raises a script error.
    static constexpr int kMaxCallDepth = 200;
    // Argument lists being evaluated on this thread, one inside another: each holds stack, so
    // their nesting is bounded as function runs are.
    static inline thread_local int s_nArgumentDepth = 0;
    struct CArgumentDepth {
        CArgumentDepth() { ++s_nArgumentDepth; }
        ~CArgumentDepth() { --s_nArgumentDepth; }
        CArgumentDepth(const CArgumentDepth&) = delete;
        CArgumentDepth& operator=(const CArgumentDepth&) = delete;
    };

    CSspInterpreter* m_pRoot;
    std::thread::id m_winThread;  // the thread that made the interpreter (a debugger pauses it)
    std::string m_strFilePath;
    std::string m_strUrl;
    std::string m_strUrlFolder = "/";
    // 0, or a number that stands for the text of m_strUrl: interpreters that bear the same
    // one hold the same URL. Whatever changes m_strUrl sets it to 0.
    std::uint64_t m_nUrlStamp = 0;
    std::string m_strError;
    std::string m_strErrorUrl;   // set by Local.setErrorFile
    std::string m_strErrorPath;  // set by Local.setErrorFile
    int m_nErrorOffset = -1;     // byte offset of the error's place in the file; -1 for none
    CSspSourceStore m_sourceStore;
    CSspInterpreter* m_pChild = nullptr;
    CSspSourceFile* m_pSourceFile = nullptr;
    const CSspFunctionDef* m_pFunction = nullptr;
    // Where m_pFunction's body starts and ends as numbers, both 0 without a function: set
    // with it by SetFunction, for InRunningBody.
    std::uintptr_t m_nRunBodyStart = 0;
    std::uintptr_t m_nRunBodyEnd = 0;
    // Never null: a run without arguments reads an empty list.
    const CSspValueList* m_pArgs = &kNoArgs;
    static const CSspValueList kNoArgs;
    CSspValue* m_pResult = nullptr;
    CSspValueList* m_pResultArray = nullptr;
    int m_nDepth = 0;  // 0 for the root, +1 per function call
    CSessionRecord* m_pSession = nullptr;
    CSspRequestObject* m_pRequest = nullptr;
    CSspResponseObject* m_pResponse = nullptr;
    CDataSource* m_pDataSource = nullptr;     // the root's own; a child's is borrowed from it
    CSspDebugHooks* m_pDebugHooks = nullptr;  // taken when the run binds to its file
    CSspIfRecord* m_pCurrentIf = nullptr;
    CSspWhileRecord* m_pCurrentWhile = nullptr;
    // Ordered by keyword position, so a statement that runs again finds its record quickly.
    std::vector<std::unique_ptr<CSspIfRecord>> m_ifs;
    std::vector<std::unique_ptr<CSspWhileRecord>> m_whiles;
    std::size_t m_nWhileHint = 0;  // where in m_whiles the last loop head found its record
    // The file of the root's store whose path m_strFilePath holds, or nullptr.
    const CSspSourceFile* m_pPathOf = nullptr;
    // The function of that file this interpreter ran again last, found by its name.
    const CSspFunctionDef* m_pAgainDef = nullptr;
    void ForgetPathOf() {
        m_pPathOf = nullptr;
        m_pAgainDef = nullptr;
    }
    // The function whose last call left m_ifs and m_whiles for its next call, or nullptr.
    const CSspFunctionDef* m_pRecordsOf = nullptr;
    // Records of ended runs, for the next run of this interpreter (a called function's runs
    // one after another).
    std::vector<std::unique_ptr<CSspIfRecord>> m_spareIfs;
    std::vector<std::unique_ptr<CSspWhileRecord>> m_spareWhiles;
    std::vector<CSspDeclared> m_declared;
    // By lower-cased name.
    std::unordered_map<std::string, std::unique_ptr<CSspValue>, CSspNameHash, CSspNameEqual>
        m_localVars;
    // Variables by the compiled place that named them, in front of m_localVars; emptied with
    // it (variables are never removed one by one).
    struct CVarHit {
        const void* m_pSite = nullptr;
        CSspValue* m_pValue = nullptr;
    };
    std::array<CVarHit, 64> m_varHits{};
    // ClearLocalVars of variables there are.
    [[gnu::noinline]] void ClearLocalVarsFound();
    // FindLocalVar past the remembered places.
    CSspValue* FindLocalVarMissed(const CSspHashedName& name);
    // Sites lie in arrays of a fixed stride: a multiplicative hash spreads them.
    static std::size_t VarHitIndex(const void* site) {
        return static_cast<std::size_t>(
            (reinterpret_cast<std::uintptr_t>(site) * 0x9E3779B97F4A7C15ull) >> 58);
    }
    // The root's value slots of the expression evaluations under way in its chain.
    std::vector<std::unique_ptr<std::vector<CSspValue>>> m_planSlots;
    int m_nPlanDepth = 0;
    // The root's children for function calls, used as a stack: the first
    // m_nCallChildrenInUse are running, the rest wait for the next call.
    std::vector<std::unique_ptr<CSspInterpreter>> m_callChildren;
    std::size_t m_nCallChildrenInUse = 0;
    // The argument of a call that CallStraightAgain runs in this interpreter.
    CSspValueList m_ownArgs;
    // The root's calls of the file's own functions in its chain, used as a stack: the first
    // m_nLentCallsInUse are lent, the rest keep their argument values (emptied) for later
    // calls.
    std::vector<std::unique_ptr<CSspCall>> m_lentCalls;
    std::size_t m_nLentCallsInUse = 0;

private:
    friend class CSspScannerTestPeer;  // the scanner's own tests

    void Clear();
    // `loaded`, when given, is the file `path` names in the root's store.
    bool LoadSource(const std::string& path, const std::string& url, const std::string& function,
                    CSspSourceFile* loaded = nullptr);
    // RunPage with the file `path` names in the root's store when `loaded` is given.
    int Run(const std::string& path, const std::string& url, CSspSourceFile* loaded,
            CSspRequestObject* request, CSspResponseObject* response, const std::string& function,
            const CSspValueList* args, CSspValue* result, CSspValueList* resultArray);
    // Run of `def` of `file` as Run would run it, for a child whose last run bound to that
    // file at its caller's URL and left nothing else for Run to bind.
    int RunAgain(CSspSourceFile& file, const CSspFunctionDef& def, CSspRequestObject* request,
                 CSspResponseObject* response, const CSspValueList* args, CSspValue* result,
                 CSspValueList* resultArray);
    // The call of this file's function that operand `index` of `expr` makes, when its lone
    // argument of two plain sides can be worked straight into a child that runs the function
    // again over its straight body: false, with nothing done, when the usual call must run.
    bool CallStraightAgain(const CSspExpression& expr, int index, CSspValue& result);
    // RunAgain of a function whose body is the straight region `body`.
    int RunStraightAgain(CSspSourceFile& file, const CSspFunctionDef& def, const CSspRegion& body,
                         CSspRequestObject* request, CSspResponseObject* response,
                         const CSspValueList* args, CSspValue* result, CSspValueList* resultArray);
    // Run past the binding to its file: the records of the last call, the statement loop, the
    // checks at its end and the clean-up.
    int RunBound(CSspRequestObject* request, CSspResponseObject* response,
                 const CSspValueList* args, CSspValue* result, CSspValueList* resultArray);
    // The binding RunAgain starts with: `def`'s body of `file`, nothing of an earlier error.
    void BindAgain(CSspSourceFile& file, const CSspFunctionDef& def);
    // The records of the last call and what the run is given.
    void BindRun(CSspRequestObject* request, CSspResponseObject* response,
                 const CSspValueList* args, CSspValue* result, CSspValueList* resultArray);
    // The statement loop from the position while `rc` is kSspDone: the run's result code.
    int ReadStatements(int rc);
    // The result code of a run that threw, its error text set; call in a catch block only.
    [[gnu::noinline]] int RunFailed();
    // kSspDone when a run that went to its end left nothing open, else kSspError with its text.
    [[gnu::noinline]] int CheckRunEnd();
    // The checks at the end of a run that gave `rc`, and the clean-up: the run's result code.
    int EndRun(int rc);
    // EndRun of a child's run.
    int EndChildRun(int rc);
    // The literal text from the position up to the next code, written to the response; false
    // when the debugger stopped the run before it.
    [[gnu::noinline]] bool WriteLiteralText();
    void PrepareForCall(int depth);
    // PassOnCallResult for a run that neither ended nor returned.
    [[noreturn]] void PassOnCallFailure(int rc, const char* pos) const;
    void SetError(const std::string& message, const char* pos, bool escaped = false);
    void ReleaseObjects();
    // ReleaseObjects inline in the end of every run.
    [[gnu::always_inline]] inline void ReleaseObjectsInline();
    // ReleaseObjects of m_declared; true when an sql object failed to close.
    [[gnu::noinline]] bool ReleaseDeclared();
    // Empties m_ifs and m_whiles into the spares.
    void RecycleRecords();
    // RecycleRecords, and no function's records are kept any more.
    void ForgetRecords();
    // A record as new, from the spares when there is one.
    std::unique_ptr<CSspIfRecord> NewIfRecord();
    std::unique_ptr<CSspWhileRecord> NewWhileRecord();
    void Reset();
    // Reset inline in the end of every run.
    [[gnu::always_inline]] inline void ResetInline();
    // The part of Reset only a root has: its store's files and what its children kept of them.
    [[gnu::noinline]] void DropRootFiles();

    // Evaluator.
    // Only a dispatch, so that the common shapes pay for no frame of the plan's.
    void Evaluate(const CSspExpression& expr, int from, int to, CSspValue& result) {
        // expression: [ '-' ] factor ( op factor )*; factor: operand | '(' expression ')'
        if (from == to) {
            // The plan of a lone unevaluated slot is reading it.
            if (expr.IsPureOperand(from)) {
                result = PureOperandValue(expr, from);
                return;
            }
            ReadOperand(expr, from, result);
            return;
        }
        if (expr.TakesFastShape(from, to)) {
            EvaluateFast(expr, result);
            return;
        }
        EvaluatePlanned(expr, from, to, result);
    }
    // Evaluate by the range's plan.
    [[gnu::noinline]] void EvaluatePlanned(const CSspExpression& expr, int from, int to,
                                           CSspValue& result);
    void RunPlan(const CSspExpression& expr, const CSspExpressionPlan& plan, CSspValue& result);
    void EvaluateOperand(const CSspExpression& expr, int index, CSspValue& result);
    // The operand's value where it lies when reading it has no side effect (a literal, a
    // variable, an argument), else read into `scratch`. Valid until the next statement part
    // runs.
    const CSspValue& OperandValue(const CSspExpression& expr, int index, CSspValue& scratch) {
        if (expr.IsPureOperand(index)) {
            return PureOperandValue(expr, index);
        }
        ReadOperand(expr, index, scratch);
        return scratch;
    }
    // EvaluateOperand, with a call that CallStraightAgain runs made without its frame.
    void ReadOperand(const CSspExpression& expr, int index, CSspValue& result) {
        if (expr.m_operands[static_cast<std::size_t>(index)].m_target ==
                CSspExpression::COperand::ETarget::LocalFunction &&
            CallStraightAgain(expr, index, result)) {
            return;
        }
        EvaluateOperand(expr, index, result);
    }
    // OperandValue of an operand that IsPureOperand.
    const CSspValue& PureOperandValue(const CSspExpression& expr, int index) {
        using COperand = CSspExpression::COperand;
        const COperand& operand = expr.m_operands[static_cast<std::size_t>(index)];
        if (operand.m_kind == COperand::EKind::Value) {
            return operand.m_value;
        }
        if (operand.m_target == COperand::ETarget::LocalVar) {
            const CSspValue* var =
                FindLocalVar(CSspHashedName{operand.m_strLocalVar, operand.m_nLocalVarHash,
                                            expr.m_bShared ? &operand : nullptr});
            if (var == nullptr) {
                ThrowLocalVarNotDefined(expr, index);
            }
            return *var;
        }
        return ArgValue(operand, expr.m_stmt.m_starts[static_cast<std::size_t>(index)]);
    }
    [[noreturn]] void ThrowLocalVarNotDefined(const CSspExpression& expr, int index) const;
    // The whole of `expr` by its fast shape: its value, its comparison's outcome.
    void EvaluateFast(const CSspExpression& expr, CSspValue& result) {
        // The plan would read the left side, then the right, then apply the operator.
        using CFast = CSspFastExpression;
        if (expr.m_fastValue.Shape() == CFast::EShape::Arithmetic) {
            // Read in the plan's order: of two undefined sides, the left is the one named.
            const CSspValue& left = PureOperandValue(expr, CFast::kLeft);
            ApplyFast(expr, left, PureOperandValue(expr, CFast::kRight), result);
            return;
        }
        EvaluateFastOperands(expr, result);
    }
    // EvaluateFast of a shape with a side read by a call.
    [[gnu::noinline]] void EvaluateFastOperands(const CSspExpression& expr, CSspValue& result);
    // The operator of a fast shape applied to its read sides.
    void ApplyFast(const CSspExpression& expr, const CSspValue& left, const CSspValue& right,
                   CSspValue& result) {
        std::int32_t integer = 0;
        int type = 0;
        if (expr.m_fastValue.Integers(left, right, integer, type)) {
            result.AssignInteger(integer, type);
            return;
        }
        ApplyByValues(expr, left, right, result);
    }
    // ApplyFast of a pair the value's own operator decides.
    [[gnu::noinline]] void ApplyByValues(const CSspExpression& expr, const CSspValue& left,
                                         const CSspValue& right, CSspValue& result);
    int CompareFast(const CSspExpression& expr, CSspPlainReads* reads = nullptr);
    // The local variable `assignment` names = expr by its fast shape when both sides are
    // integers; false, having changed nothing, when the value's operators must decide.
    bool AssignFast(const CSspExpression& expr, const CSspTokenCache::CAssignment& assignment,
                    CSspPlainReads* reads = nullptr);
    // PureOperandValue, kept in `slot` (when given) for the next pass over the same place.
    const CSspValue& PlainOperand(const CSspExpression& expr, int index, const CSspValue** slot) {
        if (slot == nullptr) {
            return PureOperandValue(expr, index);
        }
        if (*slot == nullptr) {
            *slot = &PureOperandValue(expr, index);
        }
        return **slot;
    }
    void BuildCall(const CSspExpression& expr, int index, CSspCall& call);
    // BuildCall without the names: position, end and arguments.
    void ReadCallArguments(const CSspExpression& expr, int index, CSspCall& call);
    // ReadCallArguments of a list the cache does not hold yet, or not whole in the range.
    void ReadCallArgumentsFromText(const CSspExpression& expr,
                                   const CSspExpression::COperand& operand, CSspCall& call,
                                   CSspTokenCache* cache);
    // `site`, when given, is the call's operand in a shared expression of this run's file.
    void CallFunction(const std::string& function, CSspCall& call, CSspValue& result,
                      CSspValueList* resultArray, const CSspExpression::COperand* site = nullptr);
    // `raw`: the items are passed as written, not evaluated.
    void EvaluateArguments(const CSspExpression& expr, CSspCall& call, bool raw = false);
    // A call's arguments by EvaluateArgumentItems, as nested argument lists are bounded.
    void EvaluateCallArguments(const CSspCallArgs& list, CSspCall& call, bool raw);
    // The arguments of `expr` at the token ranges `items`, appended to `call`.
    void EvaluateArgumentItems(const CSspExpression& expr,
                               const std::vector<std::pair<int, int>>& items, CSspCall& call,
                               bool raw);
    // The condition read from the position, or `known`: the one the cache holds there.
    int EvaluateCondition(const CSspTokenCache::CStatement* known = nullptr,
                          CSspPlainReads* reads = nullptr);
    int EvaluateConditionOf(const CSspExpression& expr, CSspPlainReads* reads);
    int EvaluateAndOr(const CSspExpression& expr, int from, int to);
    int EvaluateComparison(const CSspExpression& expr, int from, int to);
    // Applies the step's operator to its operands and keeps the value in its slot.
    void ApplyAt(const CSspExpression& expr, const CSspExpressionPlan::CStep& step,
                 std::vector<CSspValue>& kept);

    // Executor.
    int ExecuteStatement();
    // The statement read at the position, past a function body's known region: -1 to go on,
    // else a result code as ExecuteStatement gives.
    [[gnu::noinline]] int ReadAndExecuteStatement();
    // True when the position is the start of the running function's body and its region may
    // run there.
    bool AtKnownBody() const {
        return m_pFunction != nullptr && m_scanner.Position() == m_pFunction->m_pBodyStart &&
               m_pFunction->m_pBodyRegion != nullptr && m_pDebugHooks == nullptr &&
               m_pFunction->m_pBodyRegion->Fits(m_scanner.End(), m_scanner.CodeKind());
    }
    // The statement of `keyword` whose first token is at `start`, read past that token: -1
    // to go on, else the run's result code.
    int ExecuteKeyword(CSspKeyword keyword, const char* start);
    // The statement loop over `region`, from its first statement: -1 once the position
    // leaves it, else the run's result code.
    int RunRegion(const CSspRegion& region);
    // RunRegion of a function body's region, straight when it may be.
    int RunBody(const CSspRegion& region) {
        return region.Straight() && m_pCurrentIf == nullptr ? RunStraight(region)
                                                            : RunRegion(region);
    }
    // RunRegion of a straight region from no open if: the ifs it opens are kept on the stack
    // and become records only where it hands on to the reading.
    int RunStraight(const CSspRegion& region);
    // The record of the if whose keyword is at `keyword`, made the current one, as the if's
    // head makes it.
    CSspIfRecord* EnterIfRecord(const char* keyword);
    // How many of a region's first ops keep what they read over the passes of one run.
    static constexpr int kKeptOps = 24;
    // From the op at `index`, while it is one whose fast form ran earlier in this run of
    // `region` (what it read in `kept`) or the end of the region's loop coming round: moves
    // `index` to the first op that must go the usual way. kSspStopped when a stop was asked.
    int RunKeptOps(const CSspRegion& region, CSspPlainReads* kept, int& index);
    // `cond`, when given: the condition the cache holds after the keyword.
    // `reads`, when given: where a plain condition's operands are kept between passes.
    // `skip`, when given: where a failed condition goes on, as the cache holds it.
    void ExecIf(const char* keyword, const CSspTokenCache::CStatement* cond = nullptr,
                CSspPlainReads* reads = nullptr, const CSspTokenCache::CSkip* skip = nullptr);
    void ExecElseIf(const CSspTokenCache::CStatement* cond = nullptr,
                    CSspPlainReads* reads = nullptr, const CSspTokenCache::CSkip* skip = nullptr);
    // Past the branch whose condition failed.
    void SkipFailedBranch(const CSspTokenCache::CSkip* skip) {
        if (skip != nullptr) {
            m_scanner.MoveTo(skip->m_pAfter);
            m_scanner.SetCodeKind(skip->m_nEndKind);
        } else {
            m_scanner.SkipToNextBranch();
        }
    }
    void ExecElse();
    void ExecEndIf();
    void ExecWhile(const char* keyword, const CSspTokenCache::CStatement* cond = nullptr,
                   CSspPlainReads* reads = nullptr);
    void ExecEndWhile(const char* keyword);
    void ExecBreak();
    void ExecContinue();
    // `known`, when given: the assignment the cache holds after the keyword.
    void ExecSet(const CSspTokenCache::CAssignment* known = nullptr,
                 CSspPlainReads* reads = nullptr);
    // Returns the statement's cache entry when it has one and the target took "=".
    const CSspTokenCache::CStatement* ExecAssignment(const std::string& target,
                                                     const char* targetStart, bool isSet);
    void AssignTarget(const std::string& target, const char* targetStart, CSspValue&& value);
    void ExecExpression(const char* start, CSspValue& value);
    // `known`, when given: the statement the cache holds after the keyword.
    void ExecReturn(const CSspTokenCache::CStatement* known = nullptr);
    void ReturnValueOf(const CSspExpression& stmt);
    void ExecFunctionDef(const char* keyword);
    const CSspFunctionDef* DefineFunction(const char* keyword);
    const CSspFunctionDef* CollectFunctions(const std::string& name);
    void ExecArrayDecl(const char* keyword);
    void ExecDateTimeDecl(const char* keyword);
    void ExecTokenizerDecl(const char* keyword);
    void ExecSqlDecl(const char* keyword);
    void ExecFileDecl(const char* keyword, bool upload);
    void ExecLdapDecl(const char* keyword);
    void ExecMailDecl(const char* keyword, CSspDeclKind kind, const std::string& keywordText);
    void ReturnArray(CSspObject& array);
    CSspDeclared* FindDeclaredAt(CSspDeclKind kind, const char* keyword);
    bool IsNameDeclared(std::string_view name) const;
    void CheckNameFree(const std::string& name, const char* pos) const;

    // Built-in objects of the interpreter itself.
    void CallArg(CSspCall& call, CSspValue& result);
    // arg.name: the argument of the running function named `name`; errors at `pos`.
    // `index`, when given, receives the parameter's index when its name matched byte for
    // byte, else -1.
    const CSspValue& ArgValue(std::string_view name, const char* pos, int* index = nullptr) const;
    // ArgValue of an `arg.name` operand, by its hint when the hint still holds.
    const CSspValue& ArgValue(const CSspExpression::COperand& operand, const char* pos) const {
        // An operand lies in one function's body, whose parameters every run reads alike
        // from the same text: the index found there once holds for every call that reads it
        // there. Two texts alive at once never overlap, so a place inside the running body is
        // a place of that body's own text.
        const auto hint = static_cast<std::size_t>(operand.m_paramHint.Load());
        if (InRunningBody(pos) && hint < m_pArgs->size()) {
            return *(*m_pArgs)[hint];
        }
        return ArgValueFinding(operand, pos);
    }
    // True when `pos` lies in the body of the function this interpreter runs.
    bool InRunningBody(const char* pos) const {
        const auto at = reinterpret_cast<std::uintptr_t>(pos);
        return at >= m_nRunBodyStart && at < m_nRunBodyEnd;
    }
    void SetFunction(const CSspFunctionDef* def) {
        m_pFunction = def;
        m_nRunBodyStart = def != nullptr ? reinterpret_cast<std::uintptr_t>(def->m_pBodyStart) : 0;
        m_nRunBodyEnd = def != nullptr ? reinterpret_cast<std::uintptr_t>(def->m_pBodyEnd) : 0;
    }
    // ArgValue of an operand whose hint does not hold, which it then sets.
    const CSspValue& ArgValueFinding(const CSspExpression::COperand& operand,
                                     const char* pos) const;
    void CallLocal(CSspCall& call, CSspValue& result);

    std::atomic<bool> m_bStop{false};
    bool m_bEvaluatingWatch = false;
    // The text being run, the position in it and the reading of it.
    CSspScanner m_scanner;
};
