// The engine objects the studio's debugger serves and runs with, over the program's root
// folder: settings, server context (the process's link for runs) and thread pool. Made once
// the root is settled; the window must be gone (the debugger stopped) before they go.
#pragma once

#include "engine/settings/ServerSettings.h"
#include "engine/web/ServerContext.h"
#include "engine/web/ServerContextLink.h"
#include "engine/web/ServerThreadPool.h"

class CStudioEngine {
public:
    CStudioEngine();
    ~CStudioEngine();
    CStudioEngine(const CStudioEngine&) = delete;
    CStudioEngine& operator=(const CStudioEngine&) = delete;

    CServerSettings& Settings() { return m_settings; }

private:
    CServerSettings m_settings;
    CServerContext m_context{m_settings};
    CServerContextLink m_link{m_context};
    CServerThreadPool m_pool;
};
