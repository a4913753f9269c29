// The studio's commands: one action per command id, and the two menu bars' layouts (no
// document open, a document open).
#pragma once

#include <QAction>
#include <QList>
#include <QMenu>
#include <QObject>
#include <map>
#include <vector>

class QMenuBar;

enum EStudioCommand : int {
    kCmdSetFont = 32771,
    kCmdSetTabStops = 32772,
    kCmdSetColor = 32783,
    kCmdFolderOptions = 32784,
    kCmdFindInFiles = 32789,
    kCmdToggleBreakpoint = 32796,
    kCmdBreakpoints = 32797,
    kCmdStartContinue = 32799,
    kCmdSingleStep = 32801,
    kCmdStop = 32802,
    kCmdNextWindowTab = 32805,
    kCmdSaveAll = 32806,
    kCmdStopFind = 32808,
    kCmdAddVariable = 32810,
    kCmdRemoveVariable = 32811,
    kCmdQuickWatch = 32812,
    kCmdEditVariable = 32813,
    kCmdDebuggerOptions = 32814,
    kCmdBreak = 32815,
    kCmdGotoOffset = 32816,
    kCmdUpperCase = 32817,
    kCmdLowerCase = 32818,
    kCmdStepOut = 32819,
    kCmdBrowse = 32822,
    kCmdNew = 57600,
    kCmdOpen = 57601,
    kCmdClose = 57602,
    kCmdSave = 57603,
    kCmdSaveAs = 57604,
    kCmdPrintSetup = 57606,
    kCmdPrint = 57607,
    kCmdPrintPreview = 57609,
    kCmdRecentFile = 57616,
    kCmdCopy = 57634,
    kCmdCut = 57635,
    kCmdFind = 57636,
    kCmdPaste = 57637,
    kCmdFindAgain = 57638,
    kCmdReplace = 57641,
    kCmdUndo = 57643,
    kCmdCascade = 57650,
    kCmdTileHorizontally = 57651,
    kCmdTileVertically = 57652,
    kCmdAbout = 57664,
    kCmdExit = 57665,
    kCmdHelpTopics = 57667,
    kCmdNextPane = 57680,
    kCmdPreviousPane = 57681,
};

class CStudioCommands : public QObject {
    Q_OBJECT
public:
    static constexpr int kRecentFiles = 4;

    explicit CStudioCommands(QWidget* window);

    QAction* Action(int id) const;
    // Every command's action, for the window's shortcuts.
    QList<QAction*> Actions() const;
    // Puts the menus of the state (a document open or not) into `bar`.
    void ShowMenus(QMenuBar* bar, bool document);
    // The recent-file entries, newest first.
    void SetRecentFiles(const QStringList& files);
    QStringList RecentFiles() const { return m_recent; }

signals:
    void Triggered(int id);
    void RecentFileChosen(const QString& path);

private:
    void BuildMenus(std::vector<QMenu*>& menus, bool document);
    void FillRecent(QMenu* menu);

    QWidget* m_window;
    std::map<int, QAction*> m_actions;
    std::vector<QMenu*> m_frameMenus;
    std::vector<QMenu*> m_documentMenus;
    std::vector<QMenu*> m_fileMenus;  // the two File menus, which hold the recent files
    QStringList m_recent;
};
