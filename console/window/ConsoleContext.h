// What the window's objects share: the installation, the process's settings, the server's
// control and the collaborators tests replace.
#pragma once

#include <string>

#include "console/ServerView.h"
#include "console/ServiceControl.h"

class CServerControl;
class CServerSettings;

struct CConsoleContext {
    std::string m_root;
    CServerSettings& m_settings;
    CServerControl& m_control;
    ServiceControlFactory m_serviceFactory;
    CHostResolver m_resolver;
    // The console's own program file; the service runs Tallgrove beside it.
    std::string m_programPath;
};
