// The interactive console: one per installation, the log in message boxes, the data-source
// check, then the main window (with Settings over it on a first start).
#pragma once

#include <string>

// Runs the window until the user ends it; the process exit code.
int RunConsoleWindow(int argc, char** argv, const std::string& root);
