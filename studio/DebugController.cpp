#include "studio/DebugController.h"

#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <utility>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/CertificateInfo.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SslServer.h"
#include "engine/script/SspInterpreter.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"
#include "engine/web/ListenerThread.h"
#include "engine/web/ScriptThread.h"
#include "engine/web/ServerContext.h"
#include "engine/web/ServerThreadPool.h"
#include "studio/DebugFrontEnd.h"

CDebugController theDebugger;

namespace {

constexpr const char* kDebugAddress = "127.0.0.1";

// Set on a paused thread while it evaluates a watch: the functions a watch calls still reach
// the hooks, which must neither pause nor move the attached run.
thread_local bool t_inWatch = false;

constexpr const char* kNoInterpreter = "No SSP interpreter is active.";
constexpr const char* kEnded = "Debugger ended.";

// The port text as a number from 1 to 65535, else 0.
int ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5) {
        return 0;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
    }
    const int port = atoi(text.c_str());
    return port >= 1 && port <= 65535 ? port : 0;
}

}  // namespace

CDebugController::CDebugController()
    : m_pSettings(&g_settings), m_pContext(&g_serverContext), m_pPool(&g_serverThreadPool) {}

CDebugController::~CDebugController() {
    Stop(false);
    if (CSspDebugHooks::Current() == this) {
        CSspDebugHooks::Install(nullptr);
    }
}

void CDebugController::SetEnvironment(CServerSettings& settings, CServerContext& context,
                                      CServerThreadPool& pool, std::string rootFolder) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_pSettings = &settings;
    m_pContext = &context;
    m_pPool = &pool;
    m_rootFolder = std::move(rootFolder);
}

std::string CDebugController::RootFolder() const {
    return m_rootFolder.empty() ? g_rootDir : m_rootFolder;
}

void CDebugController::SetPort(const std::string& port) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_strPort = port;
}

std::string CDebugController::GetPort() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_strPort;
}

// --- Queries ------------------------------------------------------------------------------

bool CDebugController::CanStepOut() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return IsPaused() && m_pInterpreter != nullptr && m_pInterpreter->m_pRoot != m_pInterpreter;
}

bool CDebugController::CanBreak() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return IsRunning() && m_pInterpreter != nullptr;
}

int CDebugController::GetLineInFile(const std::string& path) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (IsRunning() || m_pInterpreter == nullptr) {
        return 0;
    }
    return m_pInterpreter->GetCurrentLine(path);
}

bool CDebugController::IsCurrentFile(const std::string& path) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (IsRunning() || m_pInterpreter == nullptr) {
        return false;
    }
    return m_pInterpreter->m_strFilePath == path;
}

bool CDebugController::IsPageFile(const std::string& path) {
    const size_t dot = path.rfind('.');
    return dot != std::string::npos && AsciiLowerCopy(std::string_view(path).substr(dot)) == ".zrp";
}

std::string CDebugController::GetValueText(const std::string& expression) {
    if (!IsPaused()) {
        return kNotPaused;
    }
    std::unique_lock<std::mutex> gate(m_gateLock);
    if (!m_bGateArmed || m_bGateOpen) {
        return kNotPaused;
    }
    const std::uint64_t id = ++m_nWatchAsked;
    m_strWatch = expression;
    m_gateChanged.notify_all();
    if (!m_gateChanged.wait_for(gate, kWatchWait, [&] { return m_nWatchAnswered == id; })) {
        return kWatchTimedOut;
    }
    return m_strWatchAnswer;
}

// --- Breakpoints ----------------------------------------------------------------------------

std::string CDebugController::BreakpointText(const std::string& path, int line) {
    return path + "?" + std::to_string(line);
}

void CDebugController::ToggleBreakpoint(const std::string& path, int line) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const std::string text = BreakpointText(path, line);
    for (auto it = m_breakpoints.begin(); it != m_breakpoints.end(); ++it) {
        if (*it == text) {
            m_breakpoints.erase(it);
            return;
        }
    }
    m_breakpoints.push_back(text);
}

bool CDebugController::HasBreakpoint(const std::string& path, int line) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const std::string text = BreakpointText(path, line);
    for (const std::string& entry : m_breakpoints) {
        if (entry == text) {
            return true;
        }
    }
    return false;
}

std::string CDebugController::GetBreakpointList() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::string list;
    for (const std::string& entry : m_breakpoints) {
        list += entry + "\n";
    }
    return list;
}

std::vector<int> CDebugController::GetBreakpointLines(const std::string& path, int max) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::vector<int> lines;
    for (const std::string& entry : m_breakpoints) {
        if (static_cast<int>(lines.size()) >= max) {
            break;
        }
        // Paths may hold "?": the line follows the last one.
        const size_t mark = entry.rfind('?');
        if (mark != std::string::npos && entry.compare(0, mark, path) == 0 && mark == path.size()) {
            lines.push_back(atoi(entry.c_str() + mark + 1));
        }
    }
    return lines;
}

void CDebugController::ClearAllBreakpoints() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_breakpoints.clear();
}

// --- Commands -------------------------------------------------------------------------------

void CDebugController::OpenGate() {
    std::lock_guard<std::mutex> gate(m_gateLock);
    m_bGateOpen = true;
    m_gateChanged.notify_all();
}

void CDebugController::Resume() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_pInterpreter == nullptr) {
        g_log.Log("%s", kNoInterpreter);
        return;
    }
    OpenGate();
}

bool CDebugController::ClaimStart(int runMode) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_nRunMode = runMode;
    // A run starting, started but not yet attached, or still ending after a stop counts as
    // under way: a second start would leave the first run to itself, or load the settings
    // under a run that still reads them.
    if (!IsIdle() || m_bStarting || m_bStopping.load() || m_pScriptThread != nullptr ||
        m_pListener != nullptr) {
        Resume();
        return false;
    }
    m_bStarting = true;
    return true;
}

void CDebugController::EndStart() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_bStarting = false;
}

// The start itself runs without m_lock: it takes the server context's lock, which a run
// holds while it calls the hooks.
void CDebugController::StartOrContinue(const std::string& path) {
    if (!ClaimStart(DBG_GO)) {
        return;
    }
    if (path.empty() || IsPageFile(path)) {
        StartDebugServer();
    } else {
        RunScript(path);
    }
    EndStart();
}

void CDebugController::SingleStep(const std::string& path) {
    if (!ClaimStart(DBG_STEP)) {
        return;
    }
    if (path.empty() || IsPageFile(path)) {
        g_log.Log("%s", g_msg.m_internalError);
    } else {
        RunScript(path);
    }
    EndStart();
}

void CDebugController::StepOut() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_nRunMode = DBG_STEPOUT;
    // Depth, not the context: call contexts live on the stack and their addresses repeat.
    m_nStepOutDepth = m_pInterpreter != nullptr ? m_pInterpreter->m_nDepth : 0;
    Resume();
}

void CDebugController::Break() {
    m_nRunMode = DBG_BREAK;
}

void CDebugController::Stop(bool logEnd) {
    std::unique_lock<std::recursive_mutex> guard(m_lock);
    // A command that races the stop may change the run mode; the stop still holds.
    m_bStopping = true;
    m_nRunMode = DBG_STOP;
    if (m_pInterpreter != nullptr) {
        m_pInterpreter->RequestStop();  // ends a watch that runs away
    }
    OpenGate();
    m_attachChanged.notify_all();
    const bool server = m_pListener != nullptr;
    guard.unlock();
    if (server) {
        StopDebugServer(logEnd);
    } else {
        StopScriptRun();
    }
    m_bStopping = false;
}

void CDebugController::StartDebugServer() {
    if (!m_pSettings->Load()) {
        g_log.Log("Failed to load settings.");
        return;
    }
    const bool ssl = m_bSsl.load();
    if (ssl) {
        ServerSsl().SetPlainRequestHint(true);
        if (!AcquireServerCredentials(
                CertificateFolderOf(RootFolder()), m_pSettings->SecurityCertName,
                m_pSettings->SecurityCertIssuer, m_pSettings->SecurityCertSerial)) {
            g_log.Log("Failed to initialized SSL.");
            return;
        }
    }
    if (!OpenDefaultDataSource()) {
        return;
    }
    const std::string portText = GetPort();
    const int port = ParsePort(portText);
    if (port == 0) {
        // Port 0 would bind wherever the system likes, where no browser would look.
        g_log.Log("%s", g_msg.m_studioPortHint);
        return;
    }
    CSspDebugHooks::Install(this);
    m_pPool->SetRootFolder(RootFolder());
    std::shared_ptr<CListenerThread> listener = CListenerThread::Create(m_pPool);
    // The debug server runs the author's pages as the author under breakpoints: it answers this
    // host only, whatever address the installation's own server is given.
    listener->m_strAddress = kDebugAddress;
    listener->m_nPort = port;
    listener->m_bSsl = ssl;
    if (!listener->Start()) {
        g_log.Log("Failed to create web server");
        return;
    }
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_pListener = listener;
    }
    if (listener->WaitStarted(50, std::chrono::milliseconds(100))) {
        m_nState = DBG_RUNNING;
        g_log.Log(ssl ? g_msg.m_debugSecureServerStarted : g_msg.m_debugServerStarted,
                  kDebugAddress, portText.c_str());
        return;
    }
    g_log.Log("%s", g_msg.m_studioPortHint);
    listener->Stop();
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_pListener.reset();
}

bool CDebugController::OpenDefaultDataSource() {
    m_pContext->Clear();
    if (m_pContext->InitDefaultDataSource() < 0) {
        g_log.Log("%s", g_msg.m_setUpDatabaseFirst);
        return false;
    }
    return true;
}

void CDebugController::RunScript(const std::string& path) {
    if (!m_pSettings->Load()) {
        g_log.Log("Failed to load settings");
        return;
    }
    if (!OpenDefaultDataSource()) {
        return;
    }
    CSspDebugHooks::Install(this);
    std::shared_ptr<CScriptThread> thread =
        CScriptThread::Create(*m_pSettings, *m_pContext, RootFolder());
    thread->SetScriptPath(path);
    CScriptThread* raw = thread.get();
    thread->SetOneShotEndHandler([this, raw] { OnScriptThreadEnded(raw); });
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_pScriptThread = thread;
    g_log.Log("Debugger started.");
    if (!thread->Start()) {
        g_log.Log("Failed to execute the %s", path.c_str());
        m_pScriptThread.reset();
    }
}

void CDebugController::StopDebugServer(bool logEnd) {
    std::shared_ptr<CListenerThread> listener;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        listener = m_pListener;
        if (listener == nullptr) {
            return;
        }
        OpenGate();
    }
    listener->Stop();
    if (!listener->WaitForEnd(kStopWait)) {
        g_log.Log("Failed to wait for listener to terminate.");
    }
    if (logEnd) {
        g_log.Log("%s", kEnded);
    }
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_pListener.reset();
    }
    // Without the lock: a serving thread may be waiting for it to attach.
    m_pPool->StopAll();
    m_nState = DBG_IDLE;
    if (m_bSsl.load()) {
        FreeServerCredentials();
    }
}

void CDebugController::StopScriptRun() {
    std::shared_ptr<CScriptThread> ending;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        ending = std::move(m_pEndingThread);
    }
    if (ending != nullptr) {
        ending->WaitForEnd(kStopWait);
    }
    std::shared_ptr<CScriptThread> thread;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        thread = std::move(m_pScriptThread);
        m_pScriptThread.reset();
        if (thread == nullptr) {
            return;
        }
        OpenGate();
    }
    if (!thread->WaitForEnd(kStopWait)) {
        g_log.Log("Failed to wait for script thread to terminate.");
        if (thread->HasInterpreter() && !thread->DumpPosition()) {
            g_log.Log("Failed to dump debug information.");
        }
        thread->Abandon();
    }
    g_log.Log("%s", kEnded);
    m_nState = DBG_IDLE;
}

void CDebugController::OnScriptThreadEnded(CScriptThread* thread) {
    m_nLastRunResult = thread->GetRunResult();
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    // Still ours only when the run never attached (its script did not load): nothing else
    // would end the debugging.
    if (m_pScriptThread.get() != thread) {
        return;
    }
    g_log.Log("%s", kEnded);
    m_pScriptThread.reset();
    m_nState = DBG_IDLE;
}

// --- Hooks ----------------------------------------------------------------------------------

void CDebugController::AttachInterpreter(CSspInterpreter& interp) {
    if (t_inWatch) {
        return;
    }
    std::unique_lock<std::recursive_mutex> guard(m_lock);
    // One run at a time: another thread's request waits until the attached run has ended.
    while (m_pInterpreter != nullptr && m_pInterpreter->m_winThread != interp.m_winThread &&
           !IsIdle() && !StopWanted()) {
        g_log.Log("Waiting for last .zrp/.zrs to finish.");
        m_attachChanged.wait_for(guard, std::chrono::seconds(1));
    }
    m_pInterpreter = &interp;
    if (CDebugFrontEnd* frontEnd = m_pFrontEnd.load()) {
        frontEnd->OnAttached();
    }
    m_nState = DBG_RUNNING;
}

void CDebugController::DetachInterpreter(CSspInterpreter& interp) {
    if (t_inWatch) {
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_nRunMode.load() == DBG_STEPOUT && interp.m_nDepth <= m_nStepOutDepth) {
        m_nRunMode = DBG_STEP;
    }
    m_pInterpreter = &interp;
    if (interp.m_nErrorOffset >= 0) {
        g_log.Log("%s", ("\r\n" + interp.m_strError).c_str());
        if (!m_bErrorShown) {
            m_bErrorShown = true;
            if (CDebugFrontEnd* frontEnd = m_pFrontEnd.load()) {
                frontEnd->OnShowError(interp.m_nErrorOffset, interp.m_strFilePath);
            }
        }
    }
    if (interp.m_pRoot != &interp) {
        m_pInterpreter = interp.m_pRoot;
        return;
    }
    m_pInterpreter = nullptr;
    m_bErrorShown = false;
    m_attachChanged.notify_all();
    // Only the debugged script's own run ends the debugging, not one that a stop left behind.
    if (m_pScriptThread != nullptr && m_pScriptThread->GetThreadId() == gettid() &&
        m_nRunMode.load() != DBG_STOP) {
        g_log.Log("%s", kEnded);
        // Its end handler still runs on that thread and calls back into this object.
        m_pEndingThread = std::move(m_pScriptThread);
        m_nState = DBG_IDLE;
    }
}

bool CDebugController::BeforeStatement(CSspInterpreter& interp) {
    return BeforeStep(interp, false);
}

bool CDebugController::BeforeLiteralText(CSspInterpreter& interp) {
    return BeforeStep(interp, true);
}

bool CDebugController::BeforeStep(CSspInterpreter& interp, bool literal) {
    if (StopWanted()) {
        return true;
    }
    if (t_inWatch) {
        return false;
    }
    bool pause = false;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_pInterpreter = &interp;
        // A line that opens code pauses before its statement instead.
        if (!literal || !interp.IsAtCodeLine()) {
            const int mode = m_nRunMode.load();
            pause = (mode == DBG_GO || mode == DBG_STEPOUT)
                        ? HasBreakpoint(interp.m_strFilePath, interp.GetCurrentLine())
                        : true;
        }
    }
    if (pause) {
        PauseHere(interp);
    }
    return StopWanted();
}

void CDebugController::PauseHere(CSspInterpreter& interp) {
    int line = 0;
    std::string path;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        line = interp.GetCurrentLine();
        path = interp.m_strFilePath;
        {
            // Armed before anyone can hear of the pause, so no resume is lost.
            std::lock_guard<std::mutex> gate(m_gateLock);
            if (StopWanted()) {
                return;
            }
            m_bGateArmed = true;
            m_bGateOpen = false;
        }
        m_nState = DBG_PAUSED;
    }
    if (CDebugFrontEnd* frontEnd = m_pFrontEnd.load()) {
        frontEnd->OnBreak(line, path);
    }
    std::unique_lock<std::mutex> gate(m_gateLock);
    for (;;) {
        m_gateChanged.wait(
            gate, [&] { return m_bGateOpen || StopWanted() || m_nWatchAsked != m_nWatchTaken; });
        if (m_bGateOpen || StopWanted()) {
            break;
        }
        const std::uint64_t id = m_nWatchAsked;
        m_nWatchTaken = id;
        const std::string expression = m_strWatch;
        gate.unlock();
        t_inWatch = true;
        std::string value = interp.EvaluateWatch(expression);
        t_inWatch = false;
        gate.lock();
        m_strWatchAnswer = std::move(value);
        m_nWatchAnswered = id;
        m_gateChanged.notify_all();
    }
    m_bGateArmed = false;
    gate.unlock();
    int paused = DBG_PAUSED;
    m_nState.compare_exchange_strong(paused, DBG_RUNNING);
}

void CDebugController::EchoHttpText(std::string_view text) {
    CDebugFrontEnd* frontEnd = m_pFrontEnd.load();
    if (frontEnd != nullptr && !text.empty()) {
        frontEnd->OnHttpText(std::string(text));
    }
}
