#include "server/EngineParts.h"

#include "engine/foundation/CertificateInfo.h"
#include "engine/foundation/SslServer.h"
#include "engine/mail/MailEngineSetup.h"
#include "engine/mail/MailSchedulerHooks.h"
#include "engine/settings/RootFolder.h"
#include "engine/web/ConsoleCommandHandler.h"
#include "engine/web/ListenerThread.h"
#include "engine/web/ScriptThread.h"
#include "engine/web/ServerContext.h"
#include "engine/web/ServerContextLink.h"
#include "engine/web/ServerThread.h"
#include "engine/web/ServerThreadPool.h"
#include "server/ConsoleCommands.h"

namespace {

// Console commands on the thread that took the connection.
class CConsoleHandler : public CConsoleCommandHandler {
public:
    explicit CConsoleHandler(CConsoleCommands& commands) : m_commands(commands) {}
    void HandleCommand(CServerThread& thread, const std::string& command,
                       const std::string& argument) override {
        m_commands.Serve(thread.Connection(), command, argument, thread.GetThreadId());
    }

private:
    CConsoleCommands& m_commands;
};

// The pool's listing, taken apart so that the console's rules for its fields apply.
class CPoolConnections : public CConsoleConnections {
public:
    int List(long askingThread, std::vector<CConsoleConnection>& busy) override {
        busy.clear();
        return ParseConnectionList(g_serverThreadPool.ListConnections(askingThread), busy);
    }
    void Disconnect(long threadId) override { g_serverThreadPool.DisconnectConnection(threadId); }
};

// The scheduler: the system-script thread over g_settings and g_serverContext.
class CSchedulerWorker : public CServerWorker {
public:
    explicit CSchedulerWorker(bool& abandoned)
        : m_thread(CScriptThread::Create()), m_abandoned(abandoned) {}
    bool Start() override { return m_thread->Start(); }
    bool IsStarted() const override { return m_thread->IsStarted(); }
    int64_t StartTime() const override { return m_thread->StartTime(); }
    void RequestStop() override { m_thread->PostQuit(); }
    bool WaitEnded(std::chrono::milliseconds timeout) override {
        return m_thread->WaitForEnd(timeout);
    }
    void Abandon() override {
        m_thread->Abandon();
        m_abandoned = true;
    }
    bool HasInterpreter() const override { return m_thread->HasInterpreter(); }
    bool DumpPosition() override { return m_thread->DumpPosition(); }
    bool PostRunTask(int taskNumber) override { return m_thread->PostRunTask(taskNumber); }

private:
    std::shared_ptr<CScriptThread> m_thread;
    bool& m_abandoned;
};

// The HTTP or HTTPS listener.
class CListenerWorker : public CServerWorker {
public:
    CListenerWorker(const std::string& address, int port, bool ssl)
        : m_listener(CListenerThread::Create(&g_serverThreadPool)) {
        m_listener->m_strAddress = address;
        m_listener->m_nPort = port;
        m_listener->m_bSsl = ssl;
    }
    bool Start() override { return m_listener->Start(); }
    bool IsStarted() const override { return m_listener->m_bStarted.load(); }
    int64_t StartTime() const override { return m_listener->m_timeStart; }
    void RequestStop() override { m_listener->Stop(); }
    bool WaitEnded(std::chrono::milliseconds timeout) override {
        return m_listener->WaitForEnd(timeout);
    }
    // The thread holds a reference of its own: dropping ours leaves it valid.
    void Abandon() override {}

private:
    std::shared_ptr<CListenerThread> m_listener;
};

}  // namespace

CEngineParts::CEngineParts() {
    // The pool may have been built before the root folder text: name it now.
    g_serverThreadPool.SetRootFolder(g_rootDir);
    // What pages reach beyond the script library, plugged in before any page runs.
    CServerContextLink::InstallProcessLink();
    InstallMailEngine();
    // The Email Sender task and the error mail of failed tasks, for the scheduler.
    m_mailHooks = std::make_unique<CMailSchedulerHooks>();
    CSchedulerMailHooks::Install(m_mailHooks.get());
}

CEngineParts::~CEngineParts() {
    if (m_mailHooks && CSchedulerMailHooks::Current() == m_mailHooks.get()) {
        CSchedulerMailHooks::Install(nullptr);
    }
    if (m_handler && CConsoleCommandHandler::Current() == m_handler.get()) {
        CConsoleCommandHandler::Install(nullptr);
    }
}

CServerSettings& CEngineParts::Settings() {
    return g_settings;
}

bool CEngineParts::LoadSettings() {
    return g_settings.Load();
}

int CEngineParts::InitDefaultDataSource() {
    return g_serverContext.InitDefaultDataSource();
}

bool CEngineParts::AcquireSsl() {
    return AcquireServerCredentials(CertificateFolderOf(g_rootDir), g_settings.SecurityCertName,
                                    g_settings.SecurityCertIssuer, g_settings.SecurityCertSerial);
}

void CEngineParts::FreeSsl() {
    // A server thread that would not stop may still be inside a TLS exchange.
    if (!m_abandoned) {
        FreeServerCredentials();
    }
}

std::unique_ptr<CServerWorker> CEngineParts::MakeListener(const std::string& address, int port,
                                                          bool ssl) {
    return std::make_unique<CListenerWorker>(address, port, ssl);
}

std::unique_ptr<CServerWorker> CEngineParts::MakeScheduler() {
    return std::make_unique<CSchedulerWorker>(m_abandoned);
}

int CEngineParts::StopPool() {
    const int result = g_serverThreadPool.StopAll();
    if (result < 0) {
        m_abandoned = true;
    }
    return result;
}

void CEngineParts::ClearContext() {
    // A page or task still running on an abandoned thread uses the sessions and data sources.
    if (!m_abandoned) {
        g_serverContext.Clear();
    }
}

void CEngineParts::InstallConsole(CServerStatus& status) {
    m_connections = std::make_unique<CPoolConnections>();
    m_commands = std::make_unique<CConsoleCommands>(g_settings, status, *m_connections);
    m_handler = std::make_unique<CConsoleHandler>(*m_commands);
    CConsoleCommandHandler::Install(m_handler.get());
}
