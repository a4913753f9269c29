// Find in Files from the window: rows arrive from the search thread, and a result opens its
// file at its line with the text selected.
#include <QLineEdit>
#include <QListWidget>

#include "studio/window/ChildFrame.h"
#include "studio/window/FindInFilesDlg.h"
#include "studio/window/FindResultsList.h"
#include "studio/window/OutputBar.h"
#include "studio/window/SspDoc.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/tests/WindowFixture.h"

TEST_F(WindowTest, FindResultOpensItsFileAtTheLine) {
    ASSERT_TRUE(WriteFile(m_root.File("a.zrp"), "first\nsecond Needle here\nthird\n"));
    ASSERT_TRUE(WriteFile(m_root.File("b.txt"), "needle\n"));
    CMainFrame& frame = Frame();
    CFindResultsList* results = frame.Output()->FindResults();
    ASSERT_TRUE(results->Start(QStringLiteral("needle"), QStringLiteral(".zrp"), Root()));
    frame.UpdateCommands();
    for (int i = 0; i < 1000 && !results->IsDone(); ++i) {
        QTest::qWait(10);
    }
    ASSERT_TRUE(results->IsDone());
    frame.UpdateCommands();
    EXPECT_TRUE(frame.Commands()->Action(kCmdFindInFiles)->isEnabled());
    EXPECT_FALSE(frame.Commands()->Action(kCmdStopFind)->isEnabled());
    ASSERT_EQ(results->count(), 2);
    const QString row = Root() + "/a.zrp (2): second Needle here";
    EXPECT_EQ(results->item(0)->text(), row);
    EXPECT_EQ(results->item(1)->text(), QStringLiteral("1 occurrence(s) have been found"));

    // The count row opens nothing; the result row opens the file with the text selected.
    emit results->itemDoubleClicked(results->item(1));
    EXPECT_TRUE(frame.Children().isEmpty());
    emit results->itemDoubleClicked(results->item(0));
    ASSERT_EQ(frame.Children().size(), 1);
    CSspView* view = frame.ActiveView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->Doc()->Path(), Root() + "/a.zrp");
    EXPECT_EQ(view->textCursor().selectedText(), QStringLiteral("Needle"));
    EXPECT_EQ(view->textCursor().blockNumber(), 1);
}

TEST_F(WindowTest, FindInFilesCommandSearchesTheRootWhenNoFolderIsGiven) {
    ASSERT_TRUE(WriteFile(m_root.File("a.zrp"), "needle\n"));
    ASSERT_TRUE(WriteFile(m_root.File("b.bin"), "needle\n"));
    CMainFrame& frame = Frame();
    QString fileTypes;
    AnswerNextDialog<CFindInFilesDlg>([&fileTypes](CFindInFilesDlg& dialog) {
        fileTypes = dialog.FileTypes();
        const QList<QLineEdit*> fields = dialog.findChildren<QLineEdit*>();
        fields[0]->setText(QStringLiteral("needle"));
        fields[2]->setText(QStringLiteral("   "));
        dialog.accept();
    });
    frame.Execute(kCmdFindInFiles);
    ASSERT_TRUE(m_answered);
    EXPECT_EQ(fileTypes, QStringLiteral(".zrp; .zrs; .html; .txt"));
    EXPECT_EQ(frame.Output()->currentIndex(), COutputBar::kFindTab);
    CFindResultsList* results = frame.Output()->FindResults();
    for (int i = 0; i < 1000 && !results->IsDone(); ++i) {
        QTest::qWait(10);
    }
    ASSERT_TRUE(results->IsDone());
    ASSERT_EQ(results->count(), 2);
    EXPECT_EQ(results->item(0)->text(), Root() + "/a.zrp (1): needle");
}
