// Brackmoor: the console. The command-line actions run without a display; anything else
// is the window.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "console/CommandLine.h"
#include "console/ConsoleMessages.h"
#include "console/PrivateOdbcIni.h"
#include "console/ServerControl.h"
#include "console/SystemdServiceControl.h"
#include "engine/data/OdbcEnvironment.h"
#ifdef VELMORIN_CONSOLE_WINDOW
#include "console/window/ConsoleWindow.h"
#endif
#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/LogWriter.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"

int main(int argc, char** argv) {
    // What the program writes into the installation is for its group only.
    UseGroupUmask();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    UseInstallationOdbcIni(g_rootDir);
    // The driver manager creates a missing odbc.ini with the umask's mode on its first read;
    // one that cannot be made here is left to the writes, which say why.
    std::string iniError;
    EnsurePrivateOdbcIni(iniError);
    // The command line decides before anything that would need a display exists.
    if (!IsCommandLineAction(arguments)) {
#ifdef VELMORIN_CONSOLE_WINDOW
        return RunConsoleWindow(argc, argv, g_rootDir);
#else
        std::cerr << "Brackmoor: this build has no console window; use -start, -stop or "
                     "-compact.\n";
        return 1;
#endif
    }
    // An unattended run must never wait on a message box: log lines go to stderr.
    g_log.SetMessageBox(nullptr);
    ConsoleMessages();
    CServerControl control(g_rootDir, [] { return std::make_unique<CSystemdServiceControl>(); });
    return RunCommandLine(arguments, g_settings, control, std::cerr);
}
