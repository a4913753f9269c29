// The system-script thread: runs ".zrs" scripts away from the web server's threads.
//
// Scheduler mode (no script path): the server's one scheduler. A one-minute timer ticks it;
// at each tick it runs, one after another on this thread, every enabled row of the task
// table whose next run has come, and at minute 0 of the hour it closes idle data sources.
// WM_RUN_TASK (task number = row + 2) runs one row at once; WM_QUIT ends the thread. The
// timer is a timed wait on the steady clock: ticks missed while a task runs are dropped,
// never queued, so a long task is followed by one tick, not a burst. The schedule itself
// reads the settings' clock (CServerSettings::Now), which tests replace.
//
// One-shot mode (SetScriptPath before Start): runs that one script and ends (the studio's
// debugger).
//
// Task row 0 is the Email Sender and a failed script mails its error to the administrator,
// both through the installed CSchedulerMailHooks; without hooks neither happens.
//
// Made by Create(): the thread holds a reference of its own, so the object lives until the
// owner has dropped its reference and the thread has ended. Configure before Start; every
// other public member may be called from any thread, except the handlers, which belong to
// the thread (or to a test that has not started it).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "engine/web/ThreadMessageQueue.h"

class CServerContext;
class CServerSettings;
class CSspInterpreter;

class CScriptThread : public std::enable_shared_from_this<CScriptThread> {
public:
    // How the server starts and stops it: the started flag is polled kStartPolls times
    // kStartPoll apart; a quit is awaited kQuitWait.
    static constexpr int kStartPolls = 20;
    static constexpr std::chrono::milliseconds kStartPoll{100};
    static constexpr std::chrono::milliseconds kQuitWait{5000};

    // Over the task table and switches of `settings`, the data sources of `context` and the
    // folders under `rootFolder`. Nothing runs before Start.
    static std::shared_ptr<CScriptThread> Create(CServerSettings& settings, CServerContext& context,
                                                 std::string rootFolder);
    // Over g_settings, g_serverContext and g_rootDir.
    static std::shared_ptr<CScriptThread> Create();
    ~CScriptThread();
    CScriptThread(const CScriptThread&) = delete;
    CScriptThread& operator=(const CScriptThread&) = delete;

    // One-shot mode: the script to run (resolved by GetBinScriptPath). Before Start.
    void SetScriptPath(const std::string& path) { m_strScript = path; }
    // One-shot mode: called on the thread once the script's run is over, before the thread
    // counts as ended (the studio's debugger learns of a script that never started). Before
    // Start.
    void SetOneShotEndHandler(std::function<void()> handler) { m_oneShotEnd = std::move(handler); }
    // The timer's period; one minute unless a test shortens it. Before Start.
    void SetTickPeriod(std::chrono::milliseconds period) { m_tickPeriod = period; }

    // Starts the thread; false when none could be made.
    bool Start();
    // Polls the started flag every `interval`, at most `polls` times; true once it is set.
    bool WaitStarted(int polls = kStartPolls, std::chrono::milliseconds interval = kStartPoll);
    bool IsStarted() const { return m_bStarted.load(); }

    // Queues a message for the thread; false once the thread has ended.
    bool Post(unsigned id, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    // Posts WM_RUN_TASK with `taskNumber` (the console's "run now").
    bool PostRunTask(int taskNumber);
    // Posts WM_QUIT: the thread ends once the task it runs, if any, is over.
    bool PostQuit();
    // Waits up to `timeout` for the thread to end; true when it has (or never started).
    bool WaitForEnd(std::chrono::milliseconds timeout);
    // The server's stop: PostQuit, then wait `timeout`. On a time-out logs "Background
    // thread failed to terminate." and where the running script stands, and returns false.
    bool Quit(std::chrono::milliseconds timeout = kQuitWait);

    // Whether a script runs now.
    bool HasInterpreter();
    // The result code of the last script run (kSspDone, kSspError, kSspStopped, ...); -1
    // before the first run ends.
    int GetRunResult() const { return m_nRunResult.load(); }
    // Writes where the running script stands to the log; false when none runs.
    bool DumpPosition();
    // Gives the thread up: it is asked to stop its script before the next statement and
    // left to end by itself, holding its own reference.
    void Abandon();

    // The seconds since 1970 at which the thread was made (the console shows it).
    std::int64_t StartTime() const { return m_timeStart; }
    // The kernel thread id (gettid) once the thread runs, else 0.
    int GetThreadId() const { return m_threadId.load(); }

    // --- Handlers, on the thread --------------------------------------------------------
    // WM_RUN_TASK: runs row taskNumber - 2 when it exists and is enabled; else nothing.
    void OnRunTask(int taskNumber);
    // WM_SCHEDULER_TICK: with the clock read once, from the last row to the first, each
    // enabled row that is due gets its next run computed and then runs; at minute 0, with an
    // idle time-out, idle data sources (shared or kept by a thread) are closed.
    void OnSchedulerTick();

    // A path that begins with '/' stays; any other is taken under <root>/bin/.
    std::string GetBinScriptPath(const std::string& path) const;
    // The URL a script runs under: for a path under <root>/webroot/ (ASCII case ignored)
    // "/" and the rest, else the path itself behind one '/'; every '\' becomes '/'.
    std::string GetWebrootScriptPath(const std::string& path) const;

private:
    CScriptThread(CServerSettings& settings, CServerContext& context, std::string rootFolder);

    void Run();
    void RunScheduler();
    void RunOneShot();
    // Runs the script at `path` (resolved) with a request and a response that have no
    // connection; kSspError leaves the error text in `error`.
    int RunScript(const std::string& path, std::string& error);
    void SetInterpreter(CSspInterpreter* interp);
    void MarkEnded();

    CServerSettings& m_settings;
    CServerContext& m_context;
    const std::string m_rootFolder;
    const std::int64_t m_timeStart;
    std::string m_strScript;
    std::function<void()> m_oneShotEnd;
    std::chrono::milliseconds m_tickPeriod{std::chrono::minutes(1)};
    CThreadMessageQueue m_queue;
    std::atomic<bool> m_bStarted{false};
    std::atomic<int> m_threadId{0};
    std::atomic<int> m_nRunResult{-1};
    std::thread m_thread;

    std::mutex m_lock;  // guards every member below
    std::condition_variable m_changed;
    CSspInterpreter* m_pInterpreter = nullptr;  // the running script, null between runs
    bool m_bLaunched = false;
    bool m_bEnded = false;
    bool m_bAbandoned = false;
};
