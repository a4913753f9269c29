// The engine's parts as the server program starts and stops them: g_settings,
// g_serverContext, the SSL credentials, the listeners, g_serverThreadPool and
// the console's command handler.
#pragma once

#include <memory>
#include <string>

#include "server/ServerParts.h"

class CServerStatus;
class CConsoleCommands;
class CConsoleCommandHandler;
class CConsoleConnections;
class CMailSchedulerHooks;

class CEngineParts : public CServerParts {
public:
    CEngineParts();
    // Installs the links pages and the scheduler need; the destructor removes the console
    // handler and the mail hooks it installed.
    ~CEngineParts() override;

    CServerSettings& Settings() override;
    bool LoadSettings() override;
    int InitDefaultDataSource() override;
    bool AcquireSsl() override;
    void FreeSsl() override;
    std::unique_ptr<CServerWorker> MakeListener(const std::string& address, int port,
                                                bool ssl) override;
    std::unique_ptr<CServerWorker> MakeScheduler() override;
    int StopPool() override;
    void ClearContext() override;

    // Answers console commands from status from now on. Before the listeners start.
    void InstallConsole(CServerStatus& status);
    // True when a server thread or the scheduler had to be abandoned. From then on
    // FreeSsl and ClearContext leave everything in place for it: the process must end
    // without destroying the engine (std::_Exit).
    bool AbandonedThreads() const { return m_abandoned; }

private:
    std::unique_ptr<CConsoleConnections> m_connections;
    std::unique_ptr<CConsoleCommands> m_commands;
    std::unique_ptr<CConsoleCommandHandler> m_handler;
    std::unique_ptr<CMailSchedulerHooks> m_mailHooks;
    bool m_abandoned = false;
};
