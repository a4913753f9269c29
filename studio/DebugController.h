// The studio's debugger: pauses pages of its own web server and one-shot scripts at
// breakpoints, steps through them and reads values while they are paused.
//
// Two sides reach it: the user-interface thread (queries, breakpoints, commands) and the
// interpreter's thread (the CSspDebugHooks it installs). A pause parks the interpreter's
// thread at a gate of its own, apart from m_lock, so the user-interface thread can take
// the lock meanwhile; every resume opens the gate. Watches are handed through the gate and
// evaluated on the paused thread, which alone may run its interpreter.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/script/SspDebugHooks.h"

class CDebugFrontEnd;
class CListenerThread;
class CScriptThread;
class CServerContext;
class CServerSettings;
class CServerThreadPool;

class CDebugController : public CSspDebugHooks {
public:
    enum { DBG_IDLE = 1, DBG_RUNNING = 2, DBG_PAUSED = 3 };
    enum { DBG_GO = 1, DBG_STEP = 2, DBG_STEPOUT = 3, DBG_STOP = 4, DBG_BREAK = 5 };

    // How long Stop waits for the listener or the script thread to end.
    static constexpr std::chrono::seconds kStopWait{30};
    // How long a watch may take before its value reads kWatchTimedOut.
    static constexpr std::chrono::seconds kWatchWait{5};
    static constexpr const char* kNotPaused =
        "Value can only be obtained when the debugger is paused.";
    static constexpr const char* kWatchTimedOut = "Evaluation did not finish in 5 seconds.";

    // Over g_settings, g_serverContext, g_serverThreadPool and the program's root folder.
    CDebugController();
    // Ends a run that is still under way and uninstalls the hooks.
    ~CDebugController() override;
    CDebugController(const CDebugController&) = delete;
    CDebugController& operator=(const CDebugController&) = delete;

    // What runs use in place of the process's own objects (tests). While idle.
    void SetEnvironment(CServerSettings& settings, CServerContext& context, CServerThreadPool& pool,
                        std::string rootFolder);
    // Where attach, break, error and traffic notices go; nullptr for none.
    void SetFrontEnd(CDebugFrontEnd* frontEnd) { m_pFrontEnd.store(frontEnd); }

    // The debugging web server's port as text ("8085" by default) and its https switch.
    void SetPort(const std::string& port);
    std::string GetPort();
    void SetSsl(bool ssl) { m_bSsl.store(ssl); }
    bool IsSsl() const { return m_bSsl.load(); }

    // --- Queries ------------------------------------------------------------------------
    bool IsIdle() const { return m_nState.load() == DBG_IDLE; }
    bool IsRunning() const { return m_nState.load() == DBG_RUNNING; }
    bool IsPaused() const { return m_nState.load() == DBG_PAUSED; }
    int GetRunMode() const { return m_nRunMode.load(); }
    // Paused inside a called function or an included file.
    bool CanStepOut();
    bool CanBreak();
    // The paused run's line in the file at `path`; 0 while running or with no run attached.
    int GetLineInFile(const std::string& path);
    // Whether the paused run is in the file at exactly `path`.
    bool IsCurrentFile(const std::string& path);
    // Whether `path` ends in ".zrp" (any case).
    static bool IsPageFile(const std::string& path);
    // The watch value of `expression` while paused, else kNotPaused.
    std::string GetValueText(const std::string& expression);
    // The result code of the last one-shot script run; -1 before any has ended.
    int GetLastRunResult() const { return m_nLastRunResult.load(); }

    // --- Breakpoints: "<path>?<line>" texts in the order set ----------------------------
    void ToggleBreakpoint(const std::string& path, int line);
    bool HasBreakpoint(const std::string& path, int line);
    // Every entry followed by "\n".
    std::string GetBreakpointList();
    // The lines of the entries whose path is exactly `path`, at most `max` of them.
    std::vector<int> GetBreakpointLines(const std::string& path, int max);
    void ClearAllBreakpoints();

    // --- Commands (user-interface thread) -----------------------------------------------
    // Idle: an empty path or a page starts the web server, another path runs as a script.
    // Otherwise resumes the paused run.
    void StartOrContinue(const std::string& path);
    // Idle: runs the script at `path`, pausing before its first statement (a page logs
    // "Internal Error."). Otherwise resumes the paused run for one step.
    void SingleStep(const std::string& path);
    // Resumes the paused run until the function or file it is in has ended.
    void StepOut();
    // The next statement or line of text pauses.
    void Break();
    // Ends the run: the web server (logging "Debugger ended." with `logEnd`) or the script.
    void Stop(bool logEnd = true);

    // The starts behind StartOrContinue and SingleStep; they run without m_lock, which a run
    // may hold against the server context's lock.
    void StartDebugServer();
    void RunScript(const std::string& path);
    void StopDebugServer(bool logEnd);
    void StopScriptRun();

    // --- Hooks (interpreter's thread) ---------------------------------------------------
    void AttachInterpreter(CSspInterpreter& interp) override;
    void DetachInterpreter(CSspInterpreter& interp) override;
    bool BeforeStatement(CSspInterpreter& interp) override;
    bool BeforeLiteralText(CSspInterpreter& interp) override;
    void EchoHttpText(std::string_view text) override;

private:
    // Under the lock: sets the run mode and, when no run is under way, marks one starting
    // (true); otherwise resumes the paused run (false).
    bool ClaimStart(int runMode);
    void EndStart();
    // A fresh server context with the settings' default data source; false after logging.
    bool OpenDefaultDataSource();
    bool StopWanted() const { return m_bStopping.load() || m_nRunMode.load() == DBG_STOP; }
    bool BeforeStep(CSspInterpreter& interp, bool literal);
    void PauseHere(CSspInterpreter& interp);
    // Lets a paused run go on; logs when none is attached.
    void Resume();
    void OpenGate();
    void OnScriptThreadEnded(CScriptThread* thread);
    std::string RootFolder() const;
    static std::string BreakpointText(const std::string& path, int line);

    std::atomic<int> m_nState{DBG_IDLE};
    std::atomic<int> m_nRunMode{0};
    std::atomic<bool> m_bSsl{false};
    std::atomic<CDebugFrontEnd*> m_pFrontEnd{nullptr};
    std::atomic<int> m_nLastRunResult{-1};
    std::atomic<bool> m_bStopping{false};  // a Stop is under way: no run may go on

    std::recursive_mutex m_lock;  // guards every member below
    std::condition_variable_any m_attachChanged;
    std::string m_strPort = "8085";
    CSspInterpreter* m_pInterpreter = nullptr;
    std::vector<std::string> m_breakpoints;
    std::shared_ptr<CScriptThread> m_pScriptThread;
    // A debugged run that has ended but whose thread may still be calling back.
    std::shared_ptr<CScriptThread> m_pEndingThread;
    std::shared_ptr<CListenerThread> m_pListener;
    bool m_bStarting = false;
    int m_nStepOutDepth = 0;
    bool m_bErrorShown = false;  // once per run, for the innermost error
    CServerSettings* m_pSettings;
    CServerContext* m_pContext;
    CServerThreadPool* m_pPool;
    std::string m_rootFolder;  // empty: the program's

    std::mutex m_gateLock;  // guards the gate and the watch hand-over below
    std::condition_variable m_gateChanged;
    bool m_bGateArmed = false;  // a run waits at the gate
    bool m_bGateOpen = false;
    std::uint64_t m_nWatchAsked = 0;
    std::uint64_t m_nWatchTaken = 0;
    std::uint64_t m_nWatchAnswered = 0;
    std::string m_strWatch;
    std::string m_strWatchAnswer;
};

// The studio's one debugger.
extern CDebugController theDebugger;
