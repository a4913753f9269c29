// The menus of both states, their keys, and which commands are enabled while idle.
#include <QMenuBar>

#include "studio/window/ChildFrame.h"
#include "studio/window/SspDoc.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/tests/WindowFixture.h"

namespace {

// Each menu as its title followed by its entries; "-" is a separator.
QStringList MenuTexts(QMenuBar* bar) {
    QStringList texts;
    for (QAction* menuAction : bar->actions()) {
        QString line = menuAction->text() + QStringLiteral(": ");
        for (QAction* item : menuAction->menu()->actions()) {
            line +=
                (item->isSeparator() ? QStringLiteral("-") : item->text()) + QStringLiteral("|");
        }
        texts.append(line);
    }
    return texts;
}

const QStringList kFrameMenus = {
    "&File: &New\tCtrl+N|&Open...\tCtrl+O|-|P&rint Setup...|-|Recent File|-|E&xit|",
    "&Edit: Find &in Files...|&Stop Find in Files|",
    "&View: Set Files &Root && Filter...|-|Set &Debugger Options...|-|Set &Font...|"
    "Set &Tab Stops...|Set &Color...|-|Next &Pane\tF6|Next &Window/Tab\tCtrl+Tab|",
    "&Debug: &Start/Continue\tF5|Sto&p\tShift-F5|&Break|-|Break&points...|-|Quick &Watch...|"
    "Add to &Variable Window...|&Remove Selected Variable|&Edit Variable Name...|",
    "&Help: &Help Topics|-|&About...|",
};

const QStringList kDocumentMenus = {
    "&File: &New\tCtrl+N|&Open...\tCtrl+O|&Close|&Save\tCtrl+S|Save &As...|Save A&ll|-|"
    "&Print...\tCtrl+P|Print Pre&view|P&rint Setup...|-|Recent File|-|E&xit|",
    "&Edit: &Undo\tCtrl+Z|-|Cu&t\tCtrl+X|&Copy\tCtrl+C|&Paste\tCtrl+V|-|&Find...\tCtrl+F|"
    "Find &Again\tF3|&Replace...\tCtrl+H|Goto File &Offset...|-|Find &in Files...|"
    "&Stop Find in Files|-|Make Selection &Upper Case\tCtrl+U|Make Selection &Lower Case\tCtrl+L|",
    kFrameMenus[2],
    "&Debug: &Start/Continue\tF5|Single S&tep\tF10|Step &Out\tShift-F11|&Break|Sto&p\tShift-F5|-|"
    "Insert/Remove Breakpoint\tF9|Break&points...|-|Quick &Watch...|Add to &Variable Window...|"
    "&Remove Selected Variable|&Edit Variable Name...|",
    "&Window: &Cascade|Tile &Horizontally|&Tile Vertically|",
    kFrameMenus[4],
};

}  // namespace

TEST_F(WindowTest, MenusFollowTheDocumentCount) {
    CMainFrame& frame = Frame();
    EXPECT_EQ(MenuTexts(frame.menuBar()), kFrameMenus);
    frame.NewDocument();
    EXPECT_EQ(MenuTexts(frame.menuBar()), kDocumentMenus);
    frame.MdiArea()->closeAllSubWindows();
    QApplication::processEvents();
    EXPECT_EQ(MenuTexts(frame.menuBar()), kFrameMenus);
}

TEST_F(WindowTest, KeysReachTheirCommands) {
    CMainFrame& frame = Frame();
    const std::vector<std::pair<QKeySequence, int>> keys = {
        {QKeySequence(Qt::Key_F5), kCmdStartContinue},
        {QKeySequence(Qt::SHIFT | Qt::Key_F5), kCmdStop},
        {QKeySequence(Qt::Key_F10), kCmdSingleStep},
        {QKeySequence(Qt::SHIFT | Qt::Key_F11), kCmdStepOut},
        {QKeySequence(Qt::Key_F9), kCmdToggleBreakpoint},
        {QKeySequence(Qt::Key_F6), kCmdNextPane},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), kCmdPreviousPane},
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), kCmdNextWindowTab},
        {QKeySequence(Qt::CTRL | Qt::Key_U), kCmdUpperCase},
        {QKeySequence(Qt::CTRL | Qt::Key_L), kCmdLowerCase},
        {QKeySequence(Qt::CTRL | Qt::Key_N), kCmdNew},
        {QKeySequence(Qt::CTRL | Qt::Key_O), kCmdOpen},
        {QKeySequence(Qt::CTRL | Qt::Key_S), kCmdSave},
        {QKeySequence(Qt::CTRL | Qt::Key_P), kCmdPrint},
        {QKeySequence(Qt::CTRL | Qt::Key_Insert), kCmdCopy},
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), kCmdCut},
        {QKeySequence(Qt::SHIFT | Qt::Key_Insert), kCmdPaste},
        {QKeySequence(Qt::ALT | Qt::Key_Backspace), kCmdUndo},
        {QKeySequence(Qt::CTRL | Qt::Key_F), kCmdFind},
        {QKeySequence(Qt::Key_F3), kCmdFindAgain},
        {QKeySequence(Qt::CTRL | Qt::Key_H), kCmdReplace},
        {QKeySequence(Qt::Key_F1), kCmdHelpTopics},
    };
    for (const auto& [key, id] : keys) {
        EXPECT_TRUE(frame.Commands()->Action(id)->shortcuts().contains(key))
            << key.toString().toStdString() << " for " << id;
    }
}

TEST_F(WindowTest, IdleEnabling) {
    CMainFrame& frame = Frame();
    frame.UpdateCommands();
    auto enabled = [&](int id) { return frame.Commands()->Action(id)->isEnabled(); };
    EXPECT_TRUE(enabled(kCmdStartContinue));
    EXPECT_FALSE(enabled(kCmdStop));
    EXPECT_FALSE(enabled(kCmdBreak));
    EXPECT_FALSE(enabled(kCmdQuickWatch));
    EXPECT_FALSE(enabled(kCmdBrowse));
    EXPECT_FALSE(enabled(kCmdStopFind));
    EXPECT_TRUE(enabled(kCmdFindInFiles));
    EXPECT_FALSE(enabled(kCmdSaveAll));
    EXPECT_FALSE(enabled(kCmdPrint));
    EXPECT_FALSE(enabled(kCmdPrintPreview));
    EXPECT_TRUE(enabled(kCmdPrintSetup));

    // F10 and F9 follow the active document's extension.
    ASSERT_TRUE(WriteFile(m_root.File("run.zrs"), "x = 1\n"));
    ASSERT_TRUE(WriteFile(m_root.File("page.html"), "<p>\n"));
    ASSERT_NE(frame.OpenDocument(Root() + "/page.html"), nullptr);
    frame.UpdateCommands();
    EXPECT_FALSE(enabled(kCmdSingleStep));
    EXPECT_FALSE(enabled(kCmdToggleBreakpoint));
    EXPECT_TRUE(enabled(kCmdSaveAll));
    EXPECT_TRUE(enabled(kCmdPrint));
    EXPECT_TRUE(enabled(kCmdPrintPreview));
    EXPECT_TRUE(enabled(kCmdPrintSetup));
    ASSERT_NE(frame.OpenDocument(Root() + "/run.zrs"), nullptr);
    frame.UpdateCommands();
    EXPECT_TRUE(enabled(kCmdSingleStep));
    EXPECT_TRUE(enabled(kCmdToggleBreakpoint));
}

TEST_F(WindowTest, TitlesOfNewAndModifiedDocuments) {
    CMainFrame& frame = Frame();
    CChildFrame* first = frame.NewDocument();
    CChildFrame* second = frame.NewDocument();
    EXPECT_EQ(first->Title(), QStringLiteral("zrp1"));
    EXPECT_EQ(second->Title(), QStringLiteral("zrp2"));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Velmorin Studio - zrp2"));
    QTest::keyClicks(second->View(), QStringLiteral("a"));
    EXPECT_EQ(second->Title(), QStringLiteral("zrp2 *"));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Velmorin Studio - zrp2 *"));
    second->SetNumber(2);
    EXPECT_EQ(second->Title(), QStringLiteral("zrp2 *:2"));
}
