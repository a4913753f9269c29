// Tallgrove: the server program.
#include <cstdlib>
#include <string>

#include "engine/data/OdbcEnvironment.h"
#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/LocaleDates.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SettingsStore.h"
#include "engine/mail/MailSpool.h"
#include "engine/settings/RootFolder.h"
#include "server/EngineParts.h"
#include "server/ServerApp.h"
#include "server/ServiceManager.h"

int main(int argc, char** argv) {
    // Logs, spool files and page output hold request lines and data: never for others.
    UseGroupUmask();
    // Before any thread or ODBC call: the process environment is still ours alone.
    UseInstallationOdbcIni(g_rootDir);
    LoadLocaleDateSettings();
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    g_log.SetFolder(g_rootDir + "/webroot");
    // What writers killed before this start left half-written.
    CSettingsStore(CSettingsStore::PathUnderRoot(g_rootDir)).RemoveLeftovers();
    RemoveMailSpoolLeftovers(g_rootDir);

    CEngineParts parts;
    std::unique_ptr<CServiceManager> service = MakeSystemdServiceManager();
    CServerApp app(g_rootDir, parts, *service);
    parts.InstallConsole(app.Status());
    const int exitCode = app.Run(commandLine);
    if (app.AbandonedThreads() || parts.AbandonedThreads()) {
        // A thread that would not stop may still use these objects and the engine's
        // globals: end without destroying anything under it.
        std::_Exit(exitCode);
    }
    return exitCode;
}
