// Wrenfold's main window: the file tree on the left, the editor windows beside it and the
// output pane across the bottom; it owns the user's settings and routes every command.
#pragma once

#include <QMainWindow>
#include <QMdiArea>
#include <QSplitter>
#include <memory>
#include <string>

#include "studio/window/StudioProfile.h"

class CChildFrame;
class CDebugCommands;
class CDocumentCommands;
class CFindReplaceDlg;
class CLogPaneSink;
class COutputBar;
class CServerSettings;
class CSettingsCommands;
class CSspView;
class CStudioCommands;
class CStudioFrontEnd;
class CWorkspaceBar;
class QLabel;
class QMdiSubWindow;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // `programRoot` is the installation's root; `settings` the server settings the debugger
    // serves with (the browse address).
    CMainFrame(const CStudioProfile& profile, const QString& programRoot, CServerSettings& settings,
               QWidget* parent = nullptr);
    // Shuts down (see Shutdown) when that has not happened yet.
    ~CMainFrame() override;

    // Stops the debugger and the search and waits for both, hands the log back to its day
    // files and writes the settings; once. The window then takes no more notices.
    void Shutdown();

    // Runs a command as its menu entry or key would.
    void Execute(int id);
    // Enables the commands by the current state.
    void UpdateCommands();

    // Opens (or activates) the file at `path`; nullptr, after a message box, when it fails.
    CChildFrame* OpenDocument(const QString& path, bool report = true);
    CChildFrame* NewDocument();
    CChildFrame* ActiveChild() const;
    CSspView* ActiveView() const;
    QList<CChildFrame*> Children() const;

    CStudioCommands* Commands() const { return m_commands; }
    CWorkspaceBar* Workspace() const { return m_workspace; }
    COutputBar* Output() const { return m_output; }
    QMdiArea* MdiArea() const { return m_mdi; }
    QLabel* LineColumnPane() const { return m_lineColumn; }
    const CStudioProfile& Profile() const { return m_profile; }
    const QString& RootPath() const { return m_rootPath; }
    // The file tree's root for the rest of the run (the tree is filled by the caller).
    void SetRootPath(const QString& root) { m_rootPath = root; }
    const QString& ProgramRoot() const { return m_programRoot; }
    CDocumentCommands* Documents() const { return m_documents; }
    CDebugCommands* Debugging() const { return m_debugging; }
    // The font, tab stops and colours to every editor and output pane.
    void ApplyLookEverywhere();
    // Redraws every editor window's breakpoint margin.
    void RedrawMargins();
    // Puts `path` first in the recent-file list.
    void AddRecentFile(const QString& path);

    // The debugger's notices, on this window's thread.
    void OnDebugBreak(int line, const QString& path);
    void OnDebugShowError(int offset, const QString& path);
    void OnHttpText(const std::string& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    // Files dropped on the window are opened.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreatePanes();
    void CreateToolBar();
    void ApplyPaneSizes();
    void ApplyViewSettings(CSspView* view);
    void ApplyOutputSettings();
    QMdiSubWindow* AddChild(CChildFrame* child);
    void OnActiveChildChanged();
    QColor TextColor() const;
    QColor BackgroundColor() const;

    // Commands grouped by the menus they come from.
    void EditCommand(int id);
    void ViewCommand(int id);
    void WindowCommand(int id);
    // F6 and Shift+F6: the focus to the next or the previous pane.
    void FocusPane(bool forward);
    void NextWindowOrTab();
    void FindInFiles();
    void OpenFindResult(const QString& path, int line, const QString& text);

    CStudioProfile m_profile;
    QString m_programRoot;
    QString m_rootPath;
    QString m_findText;
    QString m_findFileTypes;
    QString m_findFolder;
    CStudioCommands* m_commands;
    CFindReplaceDlg* m_findReplace;
    CDocumentCommands* m_documents;
    CDebugCommands* m_debugging;
    CSettingsCommands* m_settingsCommands;
    CWorkspaceBar* m_workspace = nullptr;
    COutputBar* m_output = nullptr;
    QMdiArea* m_mdi = nullptr;
    QSplitter* m_outer = nullptr;
    QSplitter* m_inner = nullptr;
    QLabel* m_message = nullptr;
    QLabel* m_lineColumn = nullptr;
    std::shared_ptr<CLogPaneSink> m_logSink;
    std::unique_ptr<CStudioFrontEnd> m_frontEnd;
    QTimer* m_idleTimer = nullptr;
    int m_untitled = 0;
    int m_lastState = 0;
    bool m_bPanesSized = false;
    bool m_bShutDown = false;
    bool m_bLastDocument = false;
};
