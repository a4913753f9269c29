#include "studio/window/StudioEngine.h"

#include "engine/settings/RootFolder.h"
#include "studio/DebugController.h"

CStudioEngine::CStudioEngine() : m_settings(g_rootDir, SettingsBuild::kServer) {
    m_pool.SetRootFolder(g_rootDir);
    CServerContextLink::InstallFor(&m_link);
    theDebugger.SetEnvironment(m_settings, m_context, m_pool, g_rootDir);
}

CStudioEngine::~CStudioEngine() {
    theDebugger.Stop(false);
    theDebugger.SetEnvironment(g_settings, g_serverContext, g_serverThreadPool, std::string());
    CServerContextLink::Uninstall();
}
