#include "engine/web/ScriptThread.h"

#include <unistd.h>

#include <ctime>
#include <exception>
#include <system_error>
#include <utility>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/JoinOrDetach.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/script/SspInterpreter.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/HttpRequest.h"
#include "engine/web/HttpResponse.h"
#include "engine/web/SchedulerMailHooks.h"
#include "engine/web/ServerContext.h"

std::shared_ptr<CScriptThread> CScriptThread::Create(CServerSettings& settings,
                                                     CServerContext& context,
                                                     std::string rootFolder) {
    return std::shared_ptr<CScriptThread>(
        new CScriptThread(settings, context, std::move(rootFolder)));
}

std::shared_ptr<CScriptThread> CScriptThread::Create() {
    return Create(g_settings, g_serverContext, g_rootDir);
}

CScriptThread::CScriptThread(CServerSettings& settings, CServerContext& context,
                             std::string rootFolder)
    : m_settings(settings),
      m_context(context),
      m_rootFolder(std::move(rootFolder)),
      m_timeStart(CSspDateTime::Now()) {}

CScriptThread::~CScriptThread() {
    // The last reference may be the thread's own.
    JoinOrDetach(m_thread);
}

bool CScriptThread::Start() {
    std::shared_ptr<CScriptThread> self = shared_from_this();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_bLaunched) {
            return false;
        }
        m_bLaunched = true;
    }
    try {
        m_thread = std::thread([self] { self->Run(); });
    } catch (const std::system_error&) {
        MarkEnded();
        return false;
    }
    return true;
}

bool CScriptThread::WaitStarted(int polls, std::chrono::milliseconds interval) {
    for (int i = 0; i < polls && !m_bStarted.load(); ++i) {
        std::this_thread::sleep_for(interval);
    }
    return m_bStarted.load();
}

bool CScriptThread::Post(unsigned id, std::uintptr_t wParam, std::intptr_t lParam) {
    return m_queue.Post(id, wParam, lParam);
}

bool CScriptThread::PostRunTask(int taskNumber) {
    if (taskNumber < 0) {
        return false;  // no row has a negative number; nothing to carry in wParam
    }
    return Post(WM_RUN_TASK, static_cast<std::uintptr_t>(taskNumber), 0);
}

bool CScriptThread::PostQuit() {
    return Post(WM_QUIT);
}

bool CScriptThread::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, timeout, [this] { return m_bEnded || !m_bLaunched; });
}

bool CScriptThread::Quit(std::chrono::milliseconds timeout) {
    PostQuit();
    if (WaitForEnd(timeout)) {
        return true;
    }
    g_log.Log("Background thread failed to terminate.");
    if (HasInterpreter() && !DumpPosition()) {
        g_log.Log("Failed to dump debug information.");
    }
    return false;
}

bool CScriptThread::HasInterpreter() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pInterpreter != nullptr;
}

bool CScriptThread::DumpPosition() {
    // Under the lock: the run cannot end (and free its interpreter) while it is read.
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_pInterpreter == nullptr) {
        return false;
    }
    m_pInterpreter->DumpPosition();
    return true;
}

void CScriptThread::Abandon() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bAbandoned = true;
        if (m_pInterpreter != nullptr) {
            m_pInterpreter->RequestStop();
        }
    }
    PostQuit();
}

void CScriptThread::SetInterpreter(CSspInterpreter* interp) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pInterpreter = interp;
    if (interp != nullptr && m_bAbandoned) {
        interp->RequestStop();
    }
}

void CScriptThread::MarkEnded() {
    m_bStarted = false;
    m_queue.Close();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bEnded = true;
    }
    m_changed.notify_all();
}

void CScriptThread::Run() {
    m_threadId = static_cast<int>(gettid());
    try {
        if (m_strScript.empty()) {
            RunScheduler();
        } else {
            RunOneShot();
        }
    } catch (const std::exception& e) {
        g_log.Log("System-script thread: %s", e.what());
    } catch (...) {
        g_log.Log("System-script thread: unknown error.");
    }
    MarkEnded();
}

void CScriptThread::RunScheduler() {
    using Clock = std::chrono::steady_clock;
    const Clock::duration period =
        m_tickPeriod.count() > 0 ? Clock::duration(m_tickPeriod) : Clock::duration(1);
    Clock::time_point next = Clock::now() + period;
    m_bStarted = true;
    for (;;) {
        CThreadMessage message;
        // Messages come first, as timer messages do: a quit is never kept waiting by a tick.
        if (!m_queue.GetUntil(message, next)) {
            try {
                OnSchedulerTick();
            } catch (const std::exception& e) {
                g_log.Log("System-script thread: %s", e.what());
            }
            // The next slot after now: ticks missed meanwhile are dropped, not made up.
            const Clock::duration behind = Clock::now() - next;
            next += period * ((behind.count() > 0 ? behind / period : 0) + 1);
            continue;
        }
        if (message.m_id == WM_QUIT) {
            break;
        }
        try {
            if (message.m_id == WM_RUN_TASK) {
                OnRunTask(static_cast<int>(message.m_wParam));
            } else if (message.m_id == WM_SCHEDULER_TICK) {
                OnSchedulerTick();
            }
        } catch (const std::exception& e) {
            g_log.Log("System-script thread: %s", e.what());
        }
    }
}

void CScriptThread::RunOneShot() {
    const std::string path = GetBinScriptPath(m_strScript);
    g_log.Log("%s started running.", path.c_str());
    m_bStarted = true;
    std::string error;
    if (RunScript(path, error) == kSspError) {
        g_log.Log("%s", error.c_str());
    }
    g_log.Log("%s ended.", path.c_str());
    if (m_oneShotEnd) {
        m_oneShotEnd();
    }
}

int CScriptThread::RunScript(const std::string& path, std::string& error) {
    CHttpRequest request;
    request.SetRootFolder(m_rootFolder);
    CHttpResponse response;
    response.SetOutputFile(m_rootFolder + "/tmp/dyn" + std::to_string(gettid()) + ".html");
    CSspInterpreter interp;
    SetInterpreter(&interp);
    const int result = interp.RunPage(path, GetWebrootScriptPath(path), &request, &response);
    SetInterpreter(nullptr);
    m_nRunResult = result;
    if (result == kSspError) {
        error = interp.m_strError;
    }
    return result;
}

void CScriptThread::OnRunTask(int taskNumber) {
    std::string name;
    std::string script;
    {
        std::lock_guard<std::recursive_mutex> guard(m_settings.TaskLock());
        const int row = taskNumber - 2;
        if (row < 0 || static_cast<size_t>(row) >= m_settings.m_tasks.size() ||
            !m_settings.m_tasks[row].m_enabled) {
            return;
        }
        name = m_settings.m_tasks[row].m_name;
        script = m_settings.m_tasks[row].m_scriptPath;
    }
    // The task lock is not held while the task runs: a script may reach the server
    // context, whose lock comes before it.
    CSchedulerMailHooks* hooks = CSchedulerMailHooks::Current();
    if (taskNumber == 2) {
        if (hooks != nullptr) {
            hooks->RunEmailSender();
        }
        return;
    }
    const std::string path = GetBinScriptPath(script);
    g_log.Log("%s (%s) started running.", name.c_str(), path.c_str());
    std::string error;
    if (RunScript(path, error) == kSspError) {
        g_log.Log("%s", error.c_str());
        if (hooks != nullptr) {
            hooks->QueueAdminMail(name + " error", error);
        }
    }
    g_log.Log("%s ended.", name.c_str());
}

void CScriptThread::OnSchedulerTick() {
    const std::time_t now = m_settings.Now();
    size_t rows = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(m_settings.TaskLock());
        rows = m_settings.m_tasks.size();
    }
    for (size_t row = rows; row-- > 0;) {
        bool due = false;
        {
            std::lock_guard<std::recursive_mutex> guard(m_settings.TaskLock());
            // The table may have shrunk while an earlier task ran.
            if (row < m_settings.m_tasks.size()) {
                CTaskEntry& task = m_settings.m_tasks[row];
                if (task.m_enabled && now >= task.m_nextRun) {
                    // Before the run: a run that takes longer than the interval is not
                    // followed by one run for every interval it missed.
                    m_settings.ComputeNextRun(task);
                    due = true;
                }
            }
        }
        if (due) {
            OnRunTask(static_cast<int>(row) + 2);
        }
    }

    std::tm local{};
    localtime_r(&now, &local);
    // Threads keep their own connections between runs, so those idle too.
    if (m_settings.DbConnectionIdleTimeout > 0 && local.tm_min == 0) {
        m_context.CloseIdleDataSources();
    }
}

std::string CScriptThread::GetBinScriptPath(const std::string& path) const {
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    return m_rootFolder + "/bin/" + path;
}

std::string CScriptThread::GetWebrootScriptPath(const std::string& path) const {
    const std::string webroot = m_rootFolder + "/webroot/";
    std::string url;
    if (AsciiStartsWithNoCase(path, webroot)) {
        url = "/" + path.substr(webroot.size());
    } else {
        // An absolute path already has its '/'; doubling it would make "//", which no
        // application prefix is written as.
        url = (!path.empty() && path[0] == '/') ? path : "/" + path;
    }
    for (char& c : url) {
        if (c == '\\') {
            c = '/';
        }
    }
    return url;
}
