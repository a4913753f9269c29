// Commands of the main window that reach dialogs, the MDI area and the profile.
#include <sys/stat.h>

#include <QFileDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QRadioButton>
#include <QUrl>

#include "engine/foundation/EngineMessages.h"

#include "studio/window/AboutDlg.h"
#include "studio/window/BreakpointsDlg.h"
#include "studio/window/BrowsePage.h"
#include "studio/window/ChildFrame.h"
#include "studio/window/ColorListBox.h"
#include "studio/window/DebuggerOptionsDlg.h"
#include "studio/window/FileTreeCtrl.h"
#include "studio/window/FindReplaceDlg.h"
#include "studio/window/FindResultsList.h"
#include "studio/window/FolderOptionsDlg.h"
#include "studio/window/OutputBar.h"
#include "studio/window/OutputEdit.h"
#include "studio/window/QuickWatchDlg.h"
#include "studio/window/SetColorDlg.h"
#include "studio/window/SetTabStops.h"
#include "studio/window/SspDoc.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/VarListCtrl.h"
#include "studio/window/WatchVarDlg.h"
#include "studio/window/WorkspaceBar.h"
#include "studio/window/tests/WindowFixture.h"

TEST_F(WindowTest, CtrlTabInTheOutputPaneSelectsTheNextTab) {
    CMainFrame& frame = Frame();
    frame.NewDocument();
    frame.activateWindow();
    frame.Output()->ShowTab(COutputBar::kVariablesTab);
    QApplication::processEvents();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(frame.Output()->currentIndex(), COutputBar::kFindTab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(frame.Output()->currentIndex(), COutputBar::kDebugTab);
}

TEST_F(WindowTest, TilesStackOrStandSideBySide) {
    CMainFrame& frame = Frame();
    frame.NewDocument();
    frame.NewDocument();
    const QSize area = frame.MdiArea()->viewport()->size();
    struct Case {
        int m_command;
        bool m_stacked;
    };
    for (const Case& c : {Case{kCmdTileHorizontally, true}, Case{kCmdTileVertically, false}}) {
        frame.Execute(c.m_command);
        const QList<QMdiSubWindow*> windows = frame.MdiArea()->subWindowList();
        ASSERT_EQ(windows.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QRect placed = windows[i]->geometry();
            if (c.m_stacked) {
                EXPECT_EQ(placed,
                          QRect(0, i * (area.height() / 2), area.width(), area.height() / 2));
            } else {
                EXPECT_EQ(placed,
                          QRect(i * (area.width() / 2), 0, area.width() / 2, area.height()));
            }
        }
    }
}

TEST_F(WindowTest, RecentFilesKeepTheLastFour) {
    CMainFrame& frame = Frame();
    for (int i = 1; i <= 5; ++i) {
        const std::string path = m_root.File("f" + std::to_string(i) + ".zrp");
        ASSERT_TRUE(WriteFile(path, "x"));
        ASSERT_NE(frame.OpenDocument(QString::fromStdString(path)), nullptr);
    }
    CloseFrame();
    CStudioProfile profile;
    profile.Load(*CStudioProfile::OpenSettings());
    EXPECT_EQ(profile.m_recentFiles, (QStringList{Root() + "/f5.zrp", Root() + "/f4.zrp",
                                                  Root() + "/f3.zrp", Root() + "/f2.zrp"}));
}

TEST_F(WindowTest, FolderOptionsRule) {
    mkdir(m_root.File("site").c_str(), 0755);
    ASSERT_TRUE(WriteFile(m_root.File("site/a.zrp"), "x"));
    ASSERT_TRUE(WriteFile(m_root.File("site/b.css"), "x"));
    CMainFrame& frame = Frame();
    struct Case {
        QString m_root;
        QString m_filter;
        QString m_treeRoot;
        QString m_storedFilter;
    };
    const std::vector<Case> cases = {
        {"  " + Root() + "/site/  ", " css ", Root() + "/site", ".css; "},
        {"   ", "", Root(), ".zrp; .zrs; .html; .txt; "},
    };
    for (const Case& c : cases) {
        AnswerNextDialog<CFolderOptionsDlg>([&](CFolderOptionsDlg& dialog) {
            dialog.findChildren<QLineEdit*>()[0]->setText(c.m_root);
            dialog.findChildren<QLineEdit*>()[1]->setText(c.m_filter);
            dialog.accept();
        });
        frame.Execute(kCmdFolderOptions);
        ASSERT_TRUE(m_answered);
        EXPECT_EQ(frame.RootPath(), c.m_treeRoot);
        EXPECT_EQ(frame.Workspace()->Tree()->topLevelItem(0)->text(0), c.m_treeRoot);
        EXPECT_EQ(frame.Profile().m_fileFilter, c.m_storedFilter);
    }
    EXPECT_TRUE(m_boxes.isEmpty());
}

TEST_F(WindowTest, TabStopsReachTheViews) {
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.NewDocument();
    const qreal four = child->View()->tabStopDistance();
    AnswerNextDialog<CSetTabStops>([](CSetTabStops& dialog) {
        dialog.Field()->setText(QStringLiteral("8"));
        dialog.accept();
    });
    frame.Execute(kCmdSetTabStops);
    ASSERT_TRUE(m_answered);
    EXPECT_EQ(frame.Profile().m_tabStops, 8);
    EXPECT_DOUBLE_EQ(child->View()->tabStopDistance(), four * 2);
}

TEST_F(WindowTest, FindAndReplaceInTheActiveView) {
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.NewDocument();
    CSspView* view = child->View();
    view->setPlainText(QStringLiteral("cat Cat category cat"));
    CFindReplaceDlg dialog;
    dialog.Run(kCmdFind, view);
    dialog.FindField()->setText(QStringLiteral("cat"));
    struct Case {
        bool m_matchCase;
        bool m_wholeWord;
        bool m_up;
        int m_start;  // where the caret is before the search
        int m_found;  // where the found text starts; -1: none
    };
    for (const Case& c : {Case{false, false, false, 3, 4}, Case{true, false, false, 1, 8},
                          Case{false, true, false, 5, 17}, Case{true, true, true, 17, 0},
                          Case{true, true, false, 20, -1}}) {
        dialog.MatchCase()->setChecked(c.m_matchCase);
        dialog.WholeWord()->setChecked(c.m_wholeWord);
        (c.m_up ? dialog.Up() : dialog.Down())->setChecked(true);
        QTextCursor caret(view->document());
        caret.setPosition(c.m_start);
        view->setTextCursor(caret);
        m_boxes.clear();
        const bool found = dialog.FindNext();
        EXPECT_EQ(found, c.m_found >= 0) << c.m_start;
        if (found) {
            EXPECT_EQ(view->textCursor().selectionStart(), c.m_found) << c.m_start;
        } else {
            EXPECT_EQ(m_boxes, QStringList{"Cannot find the string 'cat'."});
        }
    }
    // Find Again repeats the last search.
    QTextCursor caret(view->document());
    view->setTextCursor(caret);
    dialog.MatchCase()->setChecked(false);
    dialog.WholeWord()->setChecked(false);
    dialog.Down()->setChecked(true);
    dialog.Run(kCmdFindAgain, view);
    EXPECT_EQ(view->textCursor().selectionStart(), 0);

    dialog.Run(kCmdReplace, view);
    dialog.ReplaceField()->setText(QStringLiteral("dog"));
    dialog.WholeWord()->setChecked(true);
    EXPECT_EQ(dialog.ReplaceAll(), 3);
    EXPECT_EQ(view->toPlainText(), QStringLiteral("dog dog category dog"));
    view->undo();
    EXPECT_EQ(view->toPlainText(), QStringLiteral("cat Cat category cat"));
}

TEST_F(WindowTest, DroppedFilesOpen) {
    ASSERT_TRUE(WriteFile(m_root.File("dropped.zrp"), "x"));
    CMainFrame& frame = Frame();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Root() + "/dropped.zrp")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // Straight to the window's handlers: offscreen there is no drag to deliver them.
    QObject& window = frame;
    window.event(&enter);
    EXPECT_TRUE(enter.isAccepted());
    window.event(&drop);
    ASSERT_EQ(frame.Children().size(), 1);
    EXPECT_EQ(frame.Children().front()->Doc()->Path(), Root() + "/dropped.zrp");
}

TEST_F(WindowTest, DoubleClickedVariableOpensItsNameForEditing) {
    CMainFrame& frame = Frame();
    CVarListCtrl* variables = frame.Output()->Variables();
    variables->AddExpression(QStringLiteral("old"));
    QString shownTitle;
    AnswerNextDialog<CQuickWatchDlg>([&](CQuickWatchDlg& dialog) {
        shownTitle = dialog.windowTitle();
        dialog.ExpressionField()->setText(QStringLiteral("renamed"));
        dialog.accept();
    });
    emit variables->itemDoubleClicked(variables->topLevelItem(0), 0);
    ASSERT_TRUE(m_answered);
    EXPECT_EQ(shownTitle, QStringLiteral("Edit Variable Name"));
    EXPECT_EQ(variables->topLevelItem(0)->text(0), QStringLiteral("renamed"));
    // Not paused: the new name cannot be evaluated, so the value stays as it was.
    EXPECT_EQ(variables->topLevelItem(0)->text(1),
              QString::fromLatin1(CDebugController::kNotPaused));
}

TEST_F(WindowTest, DebuggerNoticesOnTheWindow) {
    const std::string path = m_root.File("edited.zrs");
    ASSERT_TRUE(WriteFile(path, "a = 1\nb = 2\n"));
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.OpenDocument(QString::fromStdString(path));
    ASSERT_NE(child, nullptr);
    QTest::keyClicks(child->View(), QStringLiteral("x"));
    frame.Output()->ShowTab(COutputBar::kFindTab);

    // A break in a file edited since: the caret goes to the line, the log says so.
    frame.OnDebugBreak(2, QString::fromStdString(path));
    EXPECT_EQ(child->View()->textCursor().blockNumber(), 1);
    QApplication::processEvents();
    EXPECT_TRUE(frame.Output()->DebugEdit()->toPlainText().contains(
        QString::fromLatin1(g_msg.m_debugFileModified)));
    EXPECT_EQ(frame.Output()->currentIndex(), COutputBar::kDebugTab);

    // An error in a file that cannot be opened.
    frame.OnDebugShowError(3, Root() + "/gone.zrs");
    EXPECT_EQ(m_boxes, QStringList{"Failed to open " + Root() + "/gone.zrs"});
}

TEST_F(WindowTest, AboutBox) {
    CMainFrame& frame = Frame();
    QString title;
    QStringList lines;
    AnswerNextDialog<CAboutDlg>([&](CAboutDlg& dialog) {
        title = dialog.windowTitle();
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            lines.append(label->text());
        }
        dialog.accept();
    });
    frame.Execute(kCmdAbout);
    ASSERT_TRUE(m_answered);
    EXPECT_EQ(title, QStringLiteral("About Velmorin Studio"));
    EXPECT_TRUE(lines.contains(QStringLiteral("Velmorin Studio Version 2")));
}

TEST_F(WindowTest, ColoursReachTheViewsAndThePanesAndTheProfile) {
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.NewDocument();
    AnswerNextDialog<CSetColorDlg>([](CSetColorDlg& dialog) {
        EXPECT_EQ(dialog.TextIndex(), 16);
        dialog.TextList()->setCurrentRow(9);
        dialog.BackgroundList()->setCurrentRow(14);
        dialog.accept();
    });
    frame.Execute(kCmdSetColor);
    ASSERT_TRUE(m_answered);
    for (QWidget* shown :
         std::initializer_list<QWidget*>{child->View(), frame.Output()->DebugEdit()}) {
        EXPECT_EQ(shown->palette().color(QPalette::Text), QColor(255, 0, 0));
        EXPECT_EQ(shown->palette().color(QPalette::Base), QColor(0, 255, 255));
    }
    CloseFrame();
    const std::string ini = ReadFile(IniPath());
    EXPECT_NE(ini.find("TextColor=9"), std::string::npos) << ini;
    EXPECT_NE(ini.find("BkColor=14"), std::string::npos) << ini;
}

TEST_F(WindowTest, FontReachesTheViewsAndThePanesAndTheProfile) {
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.NewDocument();
    QFont chosen(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    chosen.setPointSize(17);
    AnswerNextDialog<QFontDialog>([&](QFontDialog& dialog) {
        dialog.setCurrentFont(chosen);
        chosen = dialog.currentFont();
        dialog.accept();
    });
    frame.Execute(kCmdSetFont);
    ASSERT_TRUE(m_answered);
    const int pixels = QFontInfo(chosen).pixelSize();
    ASSERT_GT(pixels, 0);
    for (QWidget* shown : std::initializer_list<QWidget*>{
             child->View(), frame.Output()->DebugEdit(), frame.Output()->TrafficEdit(),
             frame.Output()->FindResults()}) {
        EXPECT_EQ(shown->font().pixelSize(), pixels) << shown->metaObject()->className();
        EXPECT_EQ(shown->font().weight(), chosen.weight()) << shown->metaObject()->className();
    }
    CloseFrame();
    const std::string ini = ReadFile(IniPath());
    const std::string face = chosen.family().left(31).toStdString();
    for (const std::string& line :
         {std::string("[Font]"), "Height=-" + std::to_string(pixels),
          "Weight=" + std::to_string(chosen.weight()), std::string("Italic=0"),
          std::string("CharSet=1"), "FaceName=" + face}) {
        EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;
    }
}

TEST_F(WindowTest, PrintAndPrintPreviewOfTheActiveView) {
    std::string text;
    for (int i = 1; i <= 200; ++i) {
        text += "line " + std::to_string(i) + "\n";
    }
    ASSERT_TRUE(WriteFile(m_root.File("long.zrp"), text));
    CMainFrame& frame = Frame();
    ASSERT_NE(frame.OpenDocument(Root() + "/long.zrp"), nullptr);
    int pages = 0;
    AnswerNextDialog<QPrintPreviewDialog>([&](QPrintPreviewDialog& dialog) {
        if (auto* preview = dialog.findChild<QPrintPreviewWidget*>()) {
            pages = preview->pageCount();
        }
        dialog.reject();
    });
    frame.Execute(kCmdPrintPreview);
    ASSERT_TRUE(m_answered);
    // Two hundred lines do not fit on one page: the whole text is laid out.
    EXPECT_GT(pages, 1);

    AnswerNextDialog<QPrintDialog>([](QPrintDialog& dialog) { dialog.reject(); });
    frame.Execute(kCmdPrint);
    EXPECT_TRUE(m_answered);
}

TEST_F(WindowTest, BreakpointsDialogGoesToAnEntryAndClearsAll) {
    const std::string path = m_root.File("marks.zrs");
    ASSERT_TRUE(WriteFile(path, "a\nb\nc\nd\n"));
    theDebugger.ToggleBreakpoint(path, 2);
    theDebugger.ToggleBreakpoint(path, 4);
    CMainFrame& frame = Frame();
    AnswerNextDialog<CBreakpointsDlg>([](CBreakpointsDlg& dialog) {
        dialog.List()->setCurrentRow(1);
        dialog.GoToButton()->click();
    });
    frame.Execute(kCmdBreakpoints);
    ASSERT_TRUE(m_answered);
    ASSERT_NE(frame.ActiveView(), nullptr);
    EXPECT_EQ(frame.ActiveView()->Doc()->Path(), QString::fromStdString(path));
    EXPECT_EQ(frame.ActiveView()->textCursor().blockNumber(), 3);

    AnswerNextDialog<CBreakpointsDlg>(
        [](CBreakpointsDlg& dialog) { dialog.ClearAllButton()->click(); });
    frame.Execute(kCmdBreakpoints);
    ASSERT_TRUE(m_answered);
    EXPECT_TRUE(theDebugger.GetBreakpointList().empty());
    EXPECT_TRUE(m_boxes.isEmpty());
}

TEST_F(WindowTest, VariableAskedForWithoutASelection) {
    CMainFrame& frame = Frame();
    struct Case {
        bool m_accept;
        int m_rows;
    };
    for (const Case& c : {Case{false, 0}, Case{true, 1}}) {
        AnswerNextDialog<CWatchVarDlg>([&c](CWatchVarDlg& dialog) {
            dialog.Field()->setText(QStringLiteral("Request.form"));
            c.m_accept ? dialog.accept() : dialog.reject();
        });
        frame.Execute(kCmdAddVariable);
        ASSERT_TRUE(m_answered);
        ASSERT_EQ(frame.Output()->Variables()->topLevelItemCount(), c.m_rows);
    }
    EXPECT_EQ(frame.Output()->Variables()->topLevelItem(0)->text(0),
              QStringLiteral("Request.form"));
    EXPECT_EQ(frame.Output()->currentIndex(), COutputBar::kVariablesTab);
}

TEST_F(WindowTest, DebuggerOptionsReachTheProfile) {
    CMainFrame& frame = Frame();
    AnswerNextDialog<CDebuggerOptionsDlg>([](CDebuggerOptionsDlg& dialog) {
        EXPECT_EQ(dialog.Port(), QStringLiteral("8085"));
        EXPECT_FALSE(dialog.IsSsl());
        dialog.findChild<QLineEdit*>()->setText(QStringLiteral("9090"));
        dialog.findChildren<QRadioButton*>().back()->setChecked(true);
        dialog.accept();
    });
    frame.Execute(kCmdDebuggerOptions);
    ASSERT_TRUE(m_answered);
    CloseFrame();
    const std::string ini = ReadFile(IniPath());
    for (const char* line : {"DebuggerIpPort=9090", "DebuggerIsSSL=1"}) {
        EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;
    }
}

TEST_F(WindowTest, BrowseAddresses) {
    struct Case {
        bool m_ssl;
        const char* m_port;
        const char* m_address;
    };
    for (const Case& c :
         {Case{false, "8085", "http://127.0.0.1:8085"}, Case{false, "80", "http://127.0.0.1"},
          Case{false, "443", "http://127.0.0.1:443"}, Case{true, "443", "https://host.example"},
          Case{true, "8443", "https://host.example:8443"},
          Case{true, "80", "https://host.example:80"}}) {
        EXPECT_EQ(CBrowsePage::Address(c.m_ssl, "host.example", "127.0.0.1", c.m_port),
                  c.m_address);
    }
}

namespace {

// Types `path` into the dialog's file name: its own selection of the starting file may still
// arrive (the folder is read on a thread), so the text goes in just before the dialog closes.
void ChooseFile(QFileDialog& dialog, const QString& path) {
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(path);
}

}  // namespace

TEST_F(WindowTest, OpenAndSaveAsDialogs) {
    mkdir(m_root.File("site").c_str(), 0755);
    ASSERT_TRUE(WriteFile(m_root.File("site/a.zrp"), "a\r\n"));
    CMainFrame& frame = Frame();
    frame.Workspace()->Tree()->Fill(Root() + "/site");
    frame.Workspace()->Tree()->setCurrentItem(frame.Workspace()->Tree()->topLevelItem(0)->child(0));
    QStringList filters;
    QString folder;
    AnswerNextDialog<QFileDialog>([&](QFileDialog& dialog) {
        filters = dialog.nameFilters();
        folder = dialog.directory().absolutePath();
        ChooseFile(dialog, Root() + "/site/a.zrp");
        static_cast<QDialog&>(dialog).accept();
    });
    frame.Execute(kCmdOpen);
    ASSERT_TRUE(m_answered);
    EXPECT_EQ(filters, (QStringList{"Velmorin Server Files (.zrp;.zrs;.html) (*.zrp *.zrs *.html)",
                                    "All Files (*.*) (*)"}));
    EXPECT_EQ(folder, Root() + "/site");
    ASSERT_EQ(frame.Children().size(), 1);

    AnswerNextDialog<QFileDialog>([&](QFileDialog& dialog) {
        filters = dialog.nameFilters();
        ChooseFile(dialog, Root() + "/site/b.zrs");
        static_cast<QDialog&>(dialog).accept();
    });
    frame.Execute(kCmdSaveAs);
    ASSERT_TRUE(m_answered);
    EXPECT_EQ(filters.front(), QStringLiteral("Velmorin Server Files (.zrp;.zrs;.html;.css;.sql;"
                                              ".txt) (*.zrp *.zrs *.html *.css *.sql *.txt)"));
    EXPECT_EQ(ReadFile(m_root.File("site/b.zrs")), "a\r\n");
    EXPECT_EQ(frame.ActiveChild()->Doc()->Path(), Root() + "/site/b.zrs");
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Velmorin Studio - b.zrs"));
}
