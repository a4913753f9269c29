#include "server/EngineParts.h"

#include "engine/foundation/CertificateInfo.h"
#include "engine/foundation/SslServer.h"
#include "engine/settings/RootFolder.h"
#include "engine/web/ConsoleCommandHandler.h"
#include "engine/web/ServerContext.h"
#include "engine/web/ServerThread.h"
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

class CPoolConnections : public CConsoleConnections {
public:
    int List(long /*askingThread*/, std::vector<CConsoleConnection>& busy) override {
        busy.clear();
        return 0;
    }
    void Disconnect(long /*threadId*/) override {}
};

}  // namespace

CEngineParts::CEngineParts() = default;

CEngineParts::~CEngineParts() {
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
    FreeServerCredentials();
}

std::unique_ptr<CServerWorker> CEngineParts::MakeListener(const std::string& /*address*/,
                                                          int /*port*/, bool /*ssl*/) {
    return nullptr;
}

std::unique_ptr<CServerWorker> CEngineParts::MakeScheduler() {
    return nullptr;
}

int CEngineParts::StopPool() {
    return 0;
}

void CEngineParts::ClearContext() {
    g_serverContext.Clear();
}

void CEngineParts::InstallConsole(CServerStatus& status) {
    m_connections = std::make_unique<CPoolConnections>();
    m_commands = std::make_unique<CConsoleCommands>(g_settings, status, *m_connections);
    m_handler = std::make_unique<CConsoleHandler>(*m_commands);
    CConsoleCommandHandler::Install(m_handler.get());
}
