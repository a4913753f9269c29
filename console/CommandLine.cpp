#include "console/CommandLine.h"

#include <cstdlib>

#include "console/ConsoleMessages.h"
#include "console/DataSources.h"
#include "console/DatabaseCompact.h"
#include "console/ServerControl.h"
#include "engine/foundation/AsciiText.h"
#include "engine/settings/ServerSettings.h"

namespace {

std::string Action(const std::vector<std::string>& arguments) {
    return arguments.empty() ? std::string() : AsciiLowerCopy(arguments[0]);
}

}  // namespace

bool IsCommandLineAction(const std::vector<std::string>& arguments) {
    const std::string action = Action(arguments);
    return action == "-start" || action == "-stop" || action == "-compact";
}

int RunCommandLine(const std::vector<std::string>& arguments, CServerSettings& settings,
                   CServerControl& control, std::ostream& err) {
    const std::string action = Action(arguments);
    settings.SetBuild(SettingsBuild::kConsole);
    if (!settings.Load()) {
        err << "Failed to load settings.\n";
        return kExitNoSettings;
    }
    control.ProbeService();
    control.SetWebServer(settings.GeneralTcpipAddress,
                         std::atoi(settings.GeneralTcpipPort.c_str()));
    std::string text;
    if (action == "-start") {
        if (!control.DoStartServer(text)) {
            err << text << "\n";
            return kExitStartFailed;
        }
        return kExitOk;
    }
    if (action == "-stop") {
        if (!control.DoStopServer(text)) {
            err << text << "\n";
            return kExitStopFailed;
        }
        return kExitOk;
    }
    if (control.IsServerRunning()) {
        err << ConsoleMessages().msgStopBeforeCompact << "\n";
        return kExitServerRunning;
    }
    const std::string source =
        arguments.size() > 1 ? arguments[1] : DataSourceFile(settings.DbOdbcConnectString);
    const std::string destination = arguments.size() > 2 ? arguments[2] : source;
    if (!CompactAccessDatabase(source, destination, text)) {
        err << text << "\n";
        return kExitCompactFailed;
    }
    return kExitOk;
}
