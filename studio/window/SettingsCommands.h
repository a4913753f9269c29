// The View menu's settings: the file tree's root and filter, the debugger's port and type, the
// font, the tab stops and the colours. They change the main window's profile in memory.
#pragma once

#include <QObject>

class CMainFrame;
class CStudioProfile;

class CSettingsCommands : public QObject {
    Q_OBJECT
public:
    CSettingsCommands(CMainFrame& frame, CStudioProfile& profile);

    void Run(int id);

private:
    void FolderOptions();

    CMainFrame& m_frame;
    CStudioProfile& m_profile;
};
