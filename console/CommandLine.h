// Brackmoor's command-line actions, which need no display: "-start", "-stop" and "-compact"
// (any case). Their outcome is the exit code; every message goes to standard error.
#pragma once

#include <ostream>
#include <string>
#include <vector>

class CServerControl;
class CServerSettings;

enum ConsoleExitCode {
    kExitOk = 0,
    kExitNoSockets = 1,
    kExitNoSettings = 2,
    kExitStartFailed = 3,
    kExitStopFailed = 4,
    kExitCompactFailed = 5,
    kExitServerRunning = 6,
};

// True when the first argument (lower-cased) is one of the three actions.
bool IsCommandLineAction(const std::vector<std::string>& arguments);

// Runs the action of arguments[0] (arguments without the program name): loads the settings
// (console rules), asks whether the service exists, then starts, stops or compacts.
int RunCommandLine(const std::vector<std::string>& arguments, CServerSettings& settings,
                   CServerControl& control, std::ostream& err);
