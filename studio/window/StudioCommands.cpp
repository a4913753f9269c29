#include "studio/window/StudioCommands.h"

#include <QDir>
#include <QMenuBar>

namespace {

struct CCommandRow {
    int m_id;
    const char* m_text;
    std::vector<QKeySequence> m_keys;
};

const std::vector<CCommandRow>& CommandRows() {
    static const std::vector<CCommandRow> rows = {
        {kCmdNew, "&New\tCtrl+N", {QKeySequence(Qt::CTRL | Qt::Key_N)}},
        {kCmdOpen, "&Open...\tCtrl+O", {QKeySequence(Qt::CTRL | Qt::Key_O)}},
        {kCmdClose, "&Close", {}},
        {kCmdSave, "&Save\tCtrl+S", {QKeySequence(Qt::CTRL | Qt::Key_S)}},
        {kCmdSaveAs, "Save &As...", {}},
        {kCmdSaveAll, "Save A&ll", {}},
        {kCmdPrint, "&Print...\tCtrl+P", {QKeySequence(Qt::CTRL | Qt::Key_P)}},
        {kCmdPrintPreview, "Print Pre&view", {}},
        {kCmdPrintSetup, "P&rint Setup...", {}},
        {kCmdExit, "E&xit", {}},
        {kCmdUndo,
         "&Undo\tCtrl+Z",
         {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}},
        {kCmdCut,
         "Cu&t\tCtrl+X",
         {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}},
        {kCmdCopy,
         "&Copy\tCtrl+C",
         {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}},
        {kCmdPaste,
         "&Paste\tCtrl+V",
         {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}},
        {kCmdFind, "&Find...\tCtrl+F", {QKeySequence(Qt::CTRL | Qt::Key_F)}},
        {kCmdFindAgain, "Find &Again\tF3", {QKeySequence(Qt::Key_F3)}},
        {kCmdReplace, "&Replace...\tCtrl+H", {QKeySequence(Qt::CTRL | Qt::Key_H)}},
        {kCmdGotoOffset, "Goto File &Offset...", {}},
        {kCmdFindInFiles, "Find &in Files...", {}},
        {kCmdStopFind, "&Stop Find in Files", {}},
        {kCmdUpperCase, "Make Selection &Upper Case\tCtrl+U", {QKeySequence(Qt::CTRL | Qt::Key_U)}},
        {kCmdLowerCase, "Make Selection &Lower Case\tCtrl+L", {QKeySequence(Qt::CTRL | Qt::Key_L)}},
        {kCmdFolderOptions, "Set Files &Root && Filter...", {}},
        {kCmdDebuggerOptions, "Set &Debugger Options...", {}},
        {kCmdSetFont, "Set &Font...", {}},
        {kCmdSetTabStops, "Set &Tab Stops...", {}},
        {kCmdSetColor, "Set &Color...", {}},
        {kCmdNextPane, "Next &Pane\tF6", {QKeySequence(Qt::Key_F6)}},
        // In no menu: the key alone.
        {kCmdPreviousPane, "Previous Pane", {QKeySequence(Qt::SHIFT | Qt::Key_F6)}},
        {kCmdNextWindowTab, "Next &Window/Tab\tCtrl+Tab", {QKeySequence(Qt::CTRL | Qt::Key_Tab)}},
        {kCmdStartContinue, "&Start/Continue\tF5", {QKeySequence(Qt::Key_F5)}},
        {kCmdSingleStep, "Single S&tep\tF10", {QKeySequence(Qt::Key_F10)}},
        {kCmdStepOut, "Step &Out\tShift-F11", {QKeySequence(Qt::SHIFT | Qt::Key_F11)}},
        {kCmdBreak, "&Break", {}},
        {kCmdStop, "Sto&p\tShift-F5", {QKeySequence(Qt::SHIFT | Qt::Key_F5)}},
        {kCmdToggleBreakpoint, "Insert/Remove Breakpoint\tF9", {QKeySequence(Qt::Key_F9)}},
        {kCmdBreakpoints, "Break&points...", {}},
        {kCmdQuickWatch, "Quick &Watch...", {}},
        {kCmdAddVariable, "Add to &Variable Window...", {}},
        {kCmdRemoveVariable, "&Remove Selected Variable", {}},
        {kCmdEditVariable, "&Edit Variable Name...", {}},
        {kCmdCascade, "&Cascade", {}},
        {kCmdTileHorizontally, "Tile &Horizontally", {}},
        {kCmdTileVertically, "&Tile Vertically", {}},
        {kCmdHelpTopics, "&Help Topics", {QKeySequence(Qt::Key_F1)}},
        {kCmdAbout, "&About...", {}},
        {kCmdBrowse, "browse", {}},
    };
    return rows;
}

constexpr int kSeparator = 0;
constexpr int kRecent = -1;

struct CMenuRow {
    const char* m_title;
    std::vector<int> m_items;
};

const std::vector<CMenuRow>& FrameMenus() {
    static const std::vector<CMenuRow> menus = {
        {"&File",
         {kCmdNew, kCmdOpen, kSeparator, kCmdPrintSetup, kSeparator, kRecent, kSeparator,
          kCmdExit}},
        {"&Edit", {kCmdFindInFiles, kCmdStopFind}},
        {"&View",
         {kCmdFolderOptions, kSeparator, kCmdDebuggerOptions, kSeparator, kCmdSetFont,
          kCmdSetTabStops, kCmdSetColor, kSeparator, kCmdNextPane, kCmdNextWindowTab}},
        {"&Debug",
         {kCmdStartContinue, kCmdStop, kCmdBreak, kSeparator, kCmdBreakpoints, kSeparator,
          kCmdQuickWatch, kCmdAddVariable, kCmdRemoveVariable, kCmdEditVariable}},
        {"&Help", {kCmdHelpTopics, kSeparator, kCmdAbout}},
    };
    return menus;
}

const std::vector<CMenuRow>& DocumentMenus() {
    static const std::vector<CMenuRow> menus = {
        {"&File",
         {kCmdNew, kCmdOpen, kCmdClose, kCmdSave, kCmdSaveAs, kCmdSaveAll, kSeparator, kCmdPrint,
          kCmdPrintPreview, kCmdPrintSetup, kSeparator, kRecent, kSeparator, kCmdExit}},
        {"&Edit",
         {kCmdUndo, kSeparator, kCmdCut, kCmdCopy, kCmdPaste, kSeparator, kCmdFind, kCmdFindAgain,
          kCmdReplace, kCmdGotoOffset, kSeparator, kCmdFindInFiles, kCmdStopFind, kSeparator,
          kCmdUpperCase, kCmdLowerCase}},
        FrameMenus()[2],
        {"&Debug",
         {kCmdStartContinue, kCmdSingleStep, kCmdStepOut, kCmdBreak, kCmdStop, kSeparator,
          kCmdToggleBreakpoint, kCmdBreakpoints, kSeparator, kCmdQuickWatch, kCmdAddVariable,
          kCmdRemoveVariable, kCmdEditVariable}},
        {"&Window", {kCmdCascade, kCmdTileHorizontally, kCmdTileVertically}},
        FrameMenus()[4],
    };
    return menus;
}

}  // namespace

CStudioCommands::CStudioCommands(QWidget* window) : QObject(window), m_window(window) {
    for (const CCommandRow& row : CommandRows()) {
        auto* action = new QAction(QString::fromLatin1(row.m_text), window);
        action->setShortcuts(QList<QKeySequence>(row.m_keys.begin(), row.m_keys.end()));
        action->setShortcutContext(Qt::WindowShortcut);
        action->setData(row.m_id);
        connect(action, &QAction::triggered, this, [this, id = row.m_id] { emit Triggered(id); });
        m_actions[row.m_id] = action;
    }
    BuildMenus(m_frameMenus, false);
    BuildMenus(m_documentMenus, true);
}

QAction* CStudioCommands::Action(int id) const {
    const auto found = m_actions.find(id);
    return found == m_actions.end() ? nullptr : found->second;
}

QList<QAction*> CStudioCommands::Actions() const {
    QList<QAction*> actions;
    for (const auto& [id, action] : m_actions) {
        actions.append(action);
    }
    return actions;
}

void CStudioCommands::BuildMenus(std::vector<QMenu*>& menus, bool document) {
    for (const CMenuRow& row : document ? DocumentMenus() : FrameMenus()) {
        auto* menu = new QMenu(QString::fromLatin1(row.m_title), m_window);
        for (int id : row.m_items) {
            if (id == kSeparator) {
                menu->addSeparator();
            } else if (id == kRecent) {
                m_fileMenus.push_back(menu);
                // Filled by SetRecentFiles; a marker keeps the place.
                menu->addAction(QStringLiteral("Recent File"))->setEnabled(false);
            } else {
                menu->addAction(m_actions.at(id));
            }
        }
        menus.push_back(menu);
    }
}

void CStudioCommands::ShowMenus(QMenuBar* bar, bool document) {
    bar->clear();
    for (QMenu* menu : document ? m_documentMenus : m_frameMenus) {
        bar->addMenu(menu);
    }
}

void CStudioCommands::SetRecentFiles(const QStringList& files) {
    m_recent = files.mid(0, kRecentFiles);
    for (QMenu* menu : m_fileMenus) {
        FillRecent(menu);
    }
}

void CStudioCommands::FillRecent(QMenu* menu) {
    // The recent entries stand between the second and the third separator from the end.
    QList<QAction*> items = menu->actions();
    int last = static_cast<int>(items.size()) - 1;
    while (last >= 0 && !items[last]->isSeparator()) {
        --last;
    }
    int first = last - 1;
    while (first >= 0 && !items[first]->isSeparator()) {
        --first;
    }
    for (int i = first + 1; i < last; ++i) {
        menu->removeAction(items[i]);
        items[i]->deleteLater();
    }
    QAction* before = items[last];
    if (m_recent.isEmpty()) {
        auto* marker = new QAction(QStringLiteral("Recent File"), menu);
        marker->setEnabled(false);
        menu->insertAction(before, marker);
        return;
    }
    for (int i = 0; i < m_recent.size(); ++i) {
        auto* entry = new QAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(m_recent[i])), menu);
        entry->setData(kCmdRecentFile + i);
        connect(entry, &QAction::triggered, this,
                [this, path = m_recent[i]] { emit RecentFileChosen(path); });
        menu->insertAction(before, entry);
    }
}
