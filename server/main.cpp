// Tallgrove: the server program.
#include <cstdlib>
#include <string>

#include "engine/foundation/LogWriter.h"
#include "engine/settings/RootFolder.h"
#include "server/EngineParts.h"
#include "server/ServerApp.h"
#include "server/ServiceManager.h"

int main(int argc, char** argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    g_log.SetFolder(g_rootDir + "/webroot");

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
