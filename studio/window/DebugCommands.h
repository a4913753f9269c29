// The Debug menu's commands and the breakpoint toggle: they drive the debugger, its dialogs
// and the Variables tab for the main window.
#pragma once

#include <QObject>

class CMainFrame;
class CServerSettings;

class CDebugCommands : public QObject {
    Q_OBJECT
public:
    // `settings` give the debugging web server's address for Browse.
    CDebugCommands(CMainFrame& frame, CServerSettings& settings);

    void Run(int id);
    // Before the first run: offers modified documents for saving, empties the Debug and
    // Request/Response panes and shows the Debug tab.
    void StartStep();
    // The breakpoint toggle on the active view's line.
    void ToggleBreakpoint();

private:
    void BrowseStep();
    void ShowBreakpoints();
    void QuickWatch();
    void AddVariable();
    void EditVariable();

    CMainFrame& m_frame;
    CServerSettings& m_settings;
};
