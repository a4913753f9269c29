// The editor view: word selection, watch expressions, the line and column pane, case change.
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QTextBlock>

#include "studio/window/ChildFrame.h"
#include "studio/window/OutputBar.h"
#include "studio/window/SspDoc.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/VarListCtrl.h"
#include "studio/window/tests/WindowFixture.h"

namespace {

// The view point in the middle of character `column` of the 0-based `line`.
QPoint PointOf(CSspView* view, int line, int column) {
    QTextCursor cursor(view->document()->findBlockByNumber(line));
    cursor.setPosition(cursor.position() + column);
    const QRect box = view->cursorRect(cursor);
    return QPoint(box.left() + 2, box.center().y());
}

}  // namespace

TEST_F(WindowTest, DoubleClickSelectsDottedNames) {
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.NewDocument();
    CSspView* view = child->View();
    view->setPlainText(QStringLiteral("x = Request.form(a_1) + y\nshort"));
    struct Case {
        int m_line;
        int m_column;
        const char* m_selected;
    };
    for (const Case& c :
         {Case{0, 4, "Request.form"}, Case{0, 12, "Request.form"}, Case{0, 18, "a_1"},
          Case{0, 0, "x"}, Case{0, 2, ""}, Case{1, 2, "short"}}) {
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                           PointOf(view, c.m_line, c.m_column));
        EXPECT_EQ(view->textCursor().selectedText(), QString::fromLatin1(c.m_selected))
            << c.m_line << ":" << c.m_column;
    }
    // Past the end of a line nothing is selected.
    const QPoint pastEnd = PointOf(view, 1, 5) + QPoint(80, 0);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, pastEnd);
    EXPECT_EQ(view->textCursor().selectedText(), QString());
}

TEST_F(WindowTest, WatchExpressionOfASelection) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"x + ", "x"},   {"  total  ", "total"}, {"a <", "a"}, {"a >=", "a >"},
        {"i;", "i"},     {"n -", "n"},           {"", ""},     {"+", ""},
        {"x == ", "x ="}};
    for (const auto& [selection, expression] : cases) {
        EXPECT_EQ(CSspView::ExpressionOf(selection), expression) << selection.toStdString();
    }
}

TEST_F(WindowTest, LineAndColumnPane) {
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.NewDocument();
    child->View()->setPlainText(QStringLiteral("one\ntwo\nthree and more\n"));
    QTextCursor cursor(child->View()->document()->findBlockByNumber(2));
    cursor.setPosition(cursor.position() + 5);
    child->View()->setTextCursor(cursor);
    EXPECT_EQ(frame.LineColumnPane()->text(), QStringLiteral("line 3 col 6"));
}

TEST_F(WindowTest, CaseChangeIsOneUndoStepOverAsciiLetters) {
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.NewDocument();
    CSspView* view = child->View();
    const QString text = QString::fromUtf8("caf\xC3\xA9 Ab\nxY \xC3\xA9t\xC3\xA9 z");
    view->setPlainText(text);
    view->selectAll();
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    // The key, as typed into the view.
    QTest::keyClick(view, Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(view->toPlainText(), QString::fromUtf8("CAF\xC3\xA9 AB\nXY \xC3\xA9T\xC3\xA9 Z"));
    EXPECT_EQ(view->textCursor().selectedText().size(), text.size());
    frame.Execute(kCmdUndo);
    EXPECT_EQ(view->toPlainText(), text);
    // Without a selection, the word at the caret.
    QTextCursor caret(view->document());
    caret.setPosition(6);
    view->setTextCursor(caret);
    frame.Execute(kCmdLowerCase);
    EXPECT_EQ(view->toPlainText(), QString::fromUtf8("caf\xC3\xA9 ab\nxY \xC3\xA9t\xC3\xA9 z"));
}

TEST_F(WindowTest, SelectInLineFindsTheTextIgnoringCase) {
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.NewDocument();
    child->View()->setPlainText(QStringLiteral("first\nlet Total = total + 1\n"));
    child->View()->SelectInLine(1, QStringLiteral("TOTAL"));
    const QTextCursor cursor = child->View()->textCursor();
    EXPECT_EQ(cursor.selectedText(), QStringLiteral("Total"));
    EXPECT_EQ(cursor.selectionStart(), 10);
}

TEST_F(WindowTest, ContextMenuOfTheView) {
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.NewDocument();
    CSspView* view = child->View();
    view->setPlainText(QStringLiteral("total = 1\n"));
    QTextCursor cursor(view->document());
    cursor.setPosition(5, QTextCursor::KeepAnchor);
    view->setTextCursor(cursor);
    // Reads the popup's entries, then picks "Add to &Variable Window" from it.
    QStringList entries;
    QList<bool> enabled;
    auto* poll = new QTimer(&frame);
    QObject::connect(poll, &QTimer::timeout, poll, [&entries, &enabled, poll] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                entries.append(action->text());
                enabled.append(action->isEnabled());
            }
        }
        menu->setActiveAction(menu->actions().at(1));
        QTest::keyClick(menu, Qt::Key_Return);
    });
    poll->start(10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            view->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(view->viewport(), &event);
    EXPECT_EQ(entries, (QStringList{"Quick &Watch...", "Add to &Variable Window",
                                    "Insert/Remove &Breakpoint\tF9", "Cu&t\tCtrl+X",
                                    "&Copy\tCtrl+C", "&Paste\tCtrl+V"}));
    // Quick Watch waits for a pause, and a new document (no extension) takes no breakpoint, as
    // in the menu bar; the chosen entry reaches the main window.
    EXPECT_EQ(enabled, (QList<bool>{false, true, false, true, true, true}));
    CVarListCtrl* variables = frame.Output()->Variables();
    ASSERT_EQ(variables->topLevelItemCount(), 1);
    EXPECT_EQ(variables->topLevelItem(0)->text(0), QStringLiteral("total"));
}
