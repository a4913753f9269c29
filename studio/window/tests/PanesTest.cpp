// The file tree, the output edits and the Variables tab.
#include <sys/stat.h>

#include <QTreeWidgetItem>
#include <thread>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"
#include "studio/window/ChildFrame.h"
#include "studio/window/FileTreeCtrl.h"
#include "studio/window/OutputBar.h"
#include "studio/window/OutputEdit.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/VarListCtrl.h"
#include "studio/window/WorkspaceBar.h"
#include "studio/window/tests/WindowFixture.h"

namespace {

QStringList ChildTexts(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int i = 0; i < item->childCount(); ++i) {
        texts.append(item->child(i)->text(0));
    }
    return texts;
}

}  // namespace

TEST_F(WindowTest, TreeListsFoldersThenMatchingFilesByBytes) {
    for (const char* folder : {"B", "a", "a/inner"}) {
        mkdir(m_root.File(folder).c_str(), 0755);
    }
    for (const char* file : {"c.zrp", "D.zrs", "e.bin", "a/x.html"}) {
        ASSERT_TRUE(WriteFile(m_root.File(file), "x"));
    }
    CMainFrame& frame = Frame();
    CFileTreeCtrl* tree = frame.Workspace()->Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(ChildTexts(root), (QStringList{"B", "a", "D.zrs", "c.zrp"}));
    EXPECT_EQ(ChildTexts(root->child(0)), QStringList{"dummy"});
    root->child(1)->setExpanded(true);
    EXPECT_EQ(ChildTexts(root->child(1)), (QStringList{"inner", "x.html"}));
    const QString path = CFileTreeCtrl::PathOf(root->child(1)->child(1));
    EXPECT_EQ(path, Root() + "/a/x.html");
    EXPECT_FALSE(path.contains(QStringLiteral("//")));
    tree->setCurrentItem(root->child(1)->child(1));
    EXPECT_EQ(tree->SelectedFilePath(), Root() + "/a/x.html");
    EXPECT_EQ(tree->SelectedFolderPath(), Root() + "/a");

    // A root with a trailing "/" joins without doubling it.
    tree->Fill(Root() + "/");
    EXPECT_EQ(CFileTreeCtrl::PathOf(tree->topLevelItem(0)->child(0)), Root() + "/B");
}

TEST_F(WindowTest, TreeFilter) {
    CFileTreeCtrl tree;
    tree.SetFilter(QStringLiteral("zrp, ZRS, html"));
    EXPECT_EQ(tree.FilterText(), QStringLiteral(".zrp; .ZRS; .html; "));
    const std::vector<std::pair<std::string, bool>> names = {
        {"a.zrp", true}, {"A.ZRP", true},      {"b.zrs", false}, {"c.html", true},
        {"zrp", false},  {"d.zrp.bak", false}, {"e.htm", false}};
    for (const auto& [name, matches] : names) {
        EXPECT_EQ(tree.MatchesFilter(name), matches) << name;
    }
}

TEST_F(WindowTest, MissingRootLeavesTheTreeEmpty) {
    CFileTreeCtrl tree;
    EXPECT_FALSE(tree.Fill(Root() + "/none"));
    EXPECT_EQ(tree.topLevelItemCount(), 0);
    EXPECT_EQ(m_boxes, QStringList{"Root folder not found or the folder is empty."});
}

TEST_F(WindowTest, OutputLimitResetsThePane) {
    struct Case {
        long m_limit;
        int m_kilobytes;
    };
    for (const Case& c :
         {Case{COutputBar::kDebugLimit, 512}, Case{COutputBar::kTrafficLimit, 8192}}) {
        COutputEdit edit(c.m_limit);
        edit.AppendOutput(std::string(static_cast<size_t>(c.m_limit), 'a'));
        edit.AppendOutput("b");
        EXPECT_EQ(edit.Count(), c.m_limit + 1);
        edit.AppendOutput("last line\r\n");
        QString notice = QString::asprintf(g_msg.m_outputLimitReached, c.m_kilobytes);
        notice.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        EXPECT_EQ(edit.toPlainText(), notice + QStringLiteral("last line\n"));
        EXPECT_TRUE(notice.startsWith(QStringLiteral("Maximum output of %1K").arg(c.m_kilobytes)));
    }
}

TEST_F(WindowTest, LogBurstReachesTheDebugPaneInOrder) {
    CMainFrame& frame = Frame();
    constexpr int kLines = 20000;
    std::thread writer([] {
        for (int i = 0; i < kLines; ++i) {
            g_log.Log("line %d", i);
        }
    });
    writer.join();
    QApplication::processEvents();
    const QStringList lines =
        frame.Output()->DebugEdit()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), kLines);
    for (int i = 0; i < kLines; ++i) {
        ASSERT_EQ(lines[i], QStringLiteral("line %1").arg(i));
    }
}

TEST_F(WindowTest, VariablesRows) {
    CMainFrame& frame = Frame();
    CVarListCtrl* variables = frame.Output()->Variables();
    variables->AddExpression(QStringLiteral("x"));
    variables->AddExpression(QStringLiteral("y"));
    variables->AddExpression(QStringLiteral("x"));
    ASSERT_EQ(variables->topLevelItemCount(), 2);
    EXPECT_EQ(variables->topLevelItem(0)->text(0), QStringLiteral("x"));
    EXPECT_EQ(variables->topLevelItem(0)->text(1),
              QString::fromLatin1(CDebugController::kNotPaused));
    EXPECT_EQ(variables->currentItem(), variables->topLevelItem(0));

    // Delete removes the selected row; with none selected, Remove asks for one.
    variables->setFocus();
    QTest::keyClick(variables, Qt::Key_Delete);
    ASSERT_EQ(variables->topLevelItemCount(), 1);
    EXPECT_EQ(variables->topLevelItem(0)->text(0), QStringLiteral("y"));
    variables->clearSelection();
    frame.Execute(kCmdRemoveVariable);
    EXPECT_EQ(m_boxes, QStringList{"Please select an item first"});
    frame.Execute(kCmdEditVariable);
    EXPECT_EQ(m_boxes.back(), QStringLiteral("Please select an itme first"));
    EXPECT_EQ(variables->topLevelItemCount(), 1);
}

TEST_F(WindowTest, NextWindowOrTabCyclesTheOutputTabs) {
    CMainFrame& frame = Frame();
    frame.activateWindow();
    frame.Output()->ShowTab(COutputBar::kFindTab);
    QApplication::processEvents();
    frame.Execute(kCmdNextWindowTab);
    EXPECT_EQ(frame.Output()->currentIndex(), COutputBar::kDebugTab);
    frame.Execute(kCmdNextWindowTab);
    EXPECT_EQ(frame.Output()->currentIndex(), COutputBar::kTrafficTab);
    // F6 from the output pane goes to the file tree, and from there to the output pane again.
    frame.Execute(kCmdNextPane);
    EXPECT_EQ(QApplication::focusWidget(), frame.Workspace()->Tree());
    frame.Execute(kCmdNextPane);
    EXPECT_EQ(QApplication::focusWidget(), frame.Output()->TrafficEdit());

    // With an editor: tree, editor, output, and back the other way.
    CChildFrame* child = frame.NewDocument();
    struct Step {
        int m_command;
        QWidget* m_focus;
    };
    frame.Workspace()->Tree()->setFocus();
    for (const Step& step :
         {Step{kCmdNextPane, child->View()}, Step{kCmdNextPane, frame.Output()->TrafficEdit()},
          Step{kCmdNextPane, frame.Workspace()->Tree()},
          Step{kCmdPreviousPane, frame.Output()->TrafficEdit()},
          Step{kCmdPreviousPane, child->View()},
          Step{kCmdPreviousPane, frame.Workspace()->Tree()}}) {
        frame.Execute(step.m_command);
        EXPECT_EQ(QApplication::focusWidget(), step.m_focus) << step.m_command;
    }
}
