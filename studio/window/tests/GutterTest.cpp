// The breakpoint margin, read back from grabs of the window.
#include <QImage>
#include <QScrollBar>

#include "studio/window/BreakpointGutter.h"
#include "studio/window/ChildFrame.h"
#include "studio/window/DebugCommands.h"
#include "studio/window/SspDoc.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/tests/WindowFixture.h"

namespace {

std::string Lines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        text += "x = " + std::to_string(i) + "\n";
    }
    return text;
}

// The margin's colour where the mark of `line` has its middle.
QColor MarkColor(CChildFrame& child, int line) {
    const QImage margin = child.Gutter()->grab().toImage();
    const int top = child.View()->LineTop(line);
    if (top < 0) {
        return QColor();
    }
    const int y = child.Gutter()->mapFrom(&child, child.View()->mapTo(&child, QPoint(0, top))).y();
    return margin.pixelColor(11, y + 9);
}

}  // namespace

TEST_F(WindowTest, BreakpointSquaresInTheMargin) {
    const std::string path = m_root.File("marks.zrp");
    ASSERT_TRUE(WriteFile(path, Lines(200)));
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.OpenDocument(QString::fromStdString(path));
    ASSERT_NE(child, nullptr);
    const QColor before = MarkColor(*child, 3);
    EXPECT_NE(before, CBreakpointGutter::kBreakpointColor);
    child->View()->GoToLine(3);
    frame.Execute(kCmdToggleBreakpoint);
    EXPECT_EQ(MarkColor(*child, 3), CBreakpointGutter::kBreakpointColor);
    EXPECT_NE(MarkColor(*child, 2), CBreakpointGutter::kBreakpointColor);
    EXPECT_NE(MarkColor(*child, 4), CBreakpointGutter::kBreakpointColor);
    // Toggled again, it goes.
    frame.Execute(kCmdToggleBreakpoint);
    EXPECT_EQ(MarkColor(*child, 3), before);
    EXPECT_TRUE(theDebugger.GetBreakpointList().empty());
    // With the line's start scrolled out above the view, F9 does nothing.
    child->View()->verticalScrollBar()->setValue(100);
    ASSERT_LT(child->View()->LineTop(3), 0);
    frame.Execute(kCmdToggleBreakpoint);
    EXPECT_TRUE(theDebugger.GetBreakpointList().empty());
    EXPECT_TRUE(m_boxes.isEmpty());
}

TEST_F(WindowTest, AtMost128Squares) {
    const std::string path = m_root.File("many.zrp");
    ASSERT_TRUE(WriteFile(path, Lines(140)));
    auto* doc = new CSspDoc;
    QString error;
    ASSERT_TRUE(doc->Load(QString::fromStdString(path), error));
    CChildFrame child(doc);
    QFont small = child.View()->font();
    small.setPixelSize(8);
    child.View()->setFont(small);
    child.resize(300, 2600);
    child.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&child));
    for (int line = 1; line <= 129; ++line) {
        theDebugger.ToggleBreakpoint(path, line);
    }
    ASSERT_GT(child.View()->LineTop(130), 0);
    for (int line = 1; line <= 128; ++line) {
        ASSERT_EQ(MarkColor(child, line), CBreakpointGutter::kBreakpointColor) << line;
    }
    EXPECT_NE(MarkColor(child, 129), CBreakpointGutter::kBreakpointColor);
}

TEST_F(WindowTest, BreakpointRefusals) {
    CMainFrame& frame = Frame();
    struct Case {
        const char* m_text;
        bool m_saved;
        int m_line;
        const char* m_box;
    };
    const std::vector<Case> cases = {
        {"x = 1\n", false, 1, "You must save this file first before you can set break point"},
        {"x = 1\n \t \ny = 2\n", true, 2, "Break point can not be set on an empty line."},
        {"x = 1\n\ny = 2\n", true, 2, "Break point can not be set on an empty line."},
    };
    for (const Case& c : cases) {
        m_boxes.clear();
        CChildFrame* child = nullptr;
        if (c.m_saved) {
            const std::string path = m_root.File("refuse.zrs");
            ASSERT_TRUE(WriteFile(path, c.m_text));
            child = frame.OpenDocument(QString::fromStdString(path));
        } else {
            child = frame.NewDocument();
            child->View()->setPlainText(QString::fromLatin1(c.m_text));
        }
        ASSERT_NE(child, nullptr);
        child->View()->GoToLine(c.m_line);
        // A new document has no extension, so F9 is disabled there; the step still refuses.
        frame.UpdateCommands();
        EXPECT_EQ(frame.Commands()->Action(kCmdToggleBreakpoint)->isEnabled(), c.m_saved);
        frame.Debugging()->ToggleBreakpoint();
        EXPECT_EQ(m_boxes, QStringList{QString::fromLatin1(c.m_box)});
        EXPECT_TRUE(theDebugger.GetBreakpointList().empty());
        frame.MdiArea()->closeAllSubWindows();
    }
}
