// The window over the real debugger: breakpoints, pauses, arrows, Variables, the traffic pane,
// Browse and closing while paused.
#include <sys/stat.h>

#include <QImage>
#include <QTextBlock>
#include <chrono>
#include <functional>
#include <future>

#include "engine/foundation/SocketConn.h"
#include "engine/script/DesktopOpener.h"
#include "engine/settings/RootFolder.h"
#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/ReadAll.h"
#include "engine/web/ServerContext.h"
#include "engine/web/ServerContextLink.h"
#include "engine/web/ServerThreadPool.h"
#include "studio/tests/DebuggerFixture.h"
#include "studio/window/BreakpointGutter.h"
#include "studio/window/ChildFrame.h"
#include "studio/window/OutputBar.h"
#include "studio/window/OutputEdit.h"
#include "studio/window/QuickWatchDlg.h"
#include "studio/window/SspDoc.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/VarListCtrl.h"
#include "studio/window/tests/WindowFixture.h"

namespace {

// Lets the window run until `done` (a hang guard of 10 s, not a timing).
bool PumpUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        QTest::qWait(10);
    }
    return done();
}

QColor MarkColor(CChildFrame& child, int line) {
    const QImage margin = child.Gutter()->grab().toImage();
    const int top = child.View()->LineTop(line);
    const int y = child.Gutter()->mapFrom(&child, child.View()->mapTo(&child, QPoint(0, top))).y();
    return margin.pixelColor(11, y + 9);
}

}  // namespace

class DebugWindowTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        PrepareDebugRoot(m_root, m_settings);
        CServerContextLink::InstallFor(&m_link);
        theDebugger.SetEnvironment(m_settings, m_context, m_pool, m_root.Path());
        m_opened.clear();
        m_opener = SetDesktopOpener([this](const std::string& target) {
            m_opened.push_back(target);
            return m_openerWorks;
        });
    }
    void TearDown() override {
        WindowTest::TearDown();
        theDebugger.Stop(false);
        theDebugger.SetEnvironment(g_settings, g_serverContext, g_serverThreadPool, std::string());
        CServerContextLink::Uninstall();
        SetDesktopOpener(m_opener);
    }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = m_root.File(name);
        EXPECT_TRUE(WriteFile(path, text));
        return path;
    }
    bool WaitPaused() {
        return PumpUntil([] { return theDebugger.IsPaused(); });
    }
    // Writes the script `name`, opens it, sets a breakpoint on `line` and runs it (F5) until
    // it pauses there; nullptr when it does not.
    CChildFrame* RunToBreakpoint(CMainFrame& frame, const std::string& name,
                                 const std::string& text, int line) {
        const std::string path = Write(name, text);
        CChildFrame* child = frame.OpenDocument(QString::fromStdString(path));
        theDebugger.ToggleBreakpoint(path, line);
        frame.Execute(kCmdStartContinue);
        return child && WaitPaused() ? child : nullptr;
    }

    CServerContext m_context{m_settings};
    CServerContextLink m_link{m_context};
    CServerThreadPool m_pool;
    std::vector<std::string> m_opened;
    bool m_openerWorks = true;

private:
    DesktopOpener m_opener;
};

TEST_F(DebugWindowTest, BreakpointPausesTheScriptAndF5EndsIt) {
    const std::string path =
        Write("bin/run.zrs", "set Local.i = 1;\nset Local.i = 2;\nset Local.i = 3;\n");
    CMainFrame& frame = Frame();
    CChildFrame* child = frame.OpenDocument(QString::fromStdString(path));
    ASSERT_NE(child, nullptr);
    frame.Output()->Variables()->AddExpression(QStringLiteral("Local.i"));
    child->View()->GoToLine(2);
    frame.Execute(kCmdToggleBreakpoint);
    frame.Execute(kCmdStartContinue);
    ASSERT_TRUE(WaitPaused());
    ASSERT_TRUE(PumpUntil([&] {
        return frame.Output()->Variables()->topLevelItem(0)->text(1) == QStringLiteral("1");
    }));
    EXPECT_EQ(child->View()->textCursor().blockNumber(), 1);
    EXPECT_EQ(MarkColor(*child, 2), CBreakpointGutter::kCurrentColor);
    frame.UpdateCommands();
    EXPECT_TRUE(frame.Commands()->Action(kCmdQuickWatch)->isEnabled());
    EXPECT_TRUE(frame.Commands()->Action(kCmdStop)->isEnabled());
    EXPECT_FALSE(frame.Commands()->Action(kCmdBreak)->isEnabled());

    frame.Execute(kCmdStartContinue);
    ASSERT_TRUE(PumpUntil([] { return theDebugger.IsIdle(); }));
    ASSERT_TRUE(PumpUntil([&] {
        return frame.Output()->DebugEdit()->toPlainText().contains(
            QStringLiteral("Debugger ended."));
    }));
    frame.UpdateCommands();
    EXPECT_EQ(MarkColor(*child, 2), CBreakpointGutter::kBreakpointColor);
    EXPECT_FALSE(frame.Commands()->Action(kCmdQuickWatch)->isEnabled());
}

TEST_F(DebugWindowTest, CallerFileShowsATealArrow) {
    // The called file lies under the process's root, where server paths lead.
    const std::string lib = g_rootDir + "/webroot/called.zrs";
    ASSERT_TRUE(WriteFile(lib, "function g()\nset Local.x = 1;\nreturn 2; endfunction\n"));
    const std::string main =
        Write("bin/main.zrs", "file f('/called.zrs');\nset Local.a = f.g();\nset Local.b = 3;\n");
    CMainFrame& frame = Frame();
    CChildFrame* caller = frame.OpenDocument(QString::fromStdString(main));
    CChildFrame* callee = frame.OpenDocument(QString::fromStdString(lib));
    ASSERT_TRUE(caller && callee);
    theDebugger.ToggleBreakpoint(lib, 2);
    frame.MdiArea()->setActiveSubWindow(frame.MdiArea()->subWindowList().front());
    frame.Execute(kCmdStartContinue);
    ASSERT_TRUE(WaitPaused()) << frame.Output()->DebugEdit()->toPlainText().toStdString();
    QApplication::processEvents();
    EXPECT_EQ(MarkColor(*callee, 2), CBreakpointGutter::kCurrentColor);
    EXPECT_EQ(MarkColor(*caller, 2), CBreakpointGutter::kCallerColor);
    // Running, no arrow: the continued run ends and the margins are redrawn.
    frame.Execute(kCmdStartContinue);
    ASSERT_TRUE(PumpUntil([] { return theDebugger.IsIdle(); }));
    frame.UpdateCommands();
    EXPECT_NE(MarkColor(*caller, 2), CBreakpointGutter::kCallerColor);
    EXPECT_EQ(MarkColor(*callee, 2), CBreakpointGutter::kBreakpointColor);
}

TEST_F(DebugWindowTest, PagesShowTheirTrafficAndBrowseWritesTheLink) {
    const int port = FreeLoopbackPort();
    ASSERT_NE(port, 0);
    Write("webroot/a.zrp", "<html>\n<!--{ write 'x'; }-->\n</html>\n");
    WriteIni("[Settings]\nDebuggerIpPort=" + std::to_string(port) + "\n");
    CMainFrame& frame = Frame();
    frame.Execute(kCmdStartContinue);
    ASSERT_TRUE(theDebugger.IsRunning());
    std::future<std::string> body = std::async(std::launch::async, [port] {
        CSocketConn conn;
        if (!conn.Connect("127.0.0.1", port)) {
            return std::string();
        }
        conn.Send("GET /a.zrp HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
        return ReadAll(conn);
    });
    ASSERT_TRUE(PumpUntil([&] {
        return frame.Output()->TrafficEdit()->toPlainText().contains(QStringLiteral("GET /a.zrp"));
    }));
    body.wait();

    frame.Execute(kCmdBrowse);
    const std::string page = m_root.File("webroot/browse.html");
    ASSERT_EQ(m_opened, std::vector<std::string>{page});
    const std::string link = "http://127.0.0.1:" + std::to_string(port);
    EXPECT_NE(ReadFile(page).find("<a href=\"" + link + "\">" + link + "</a>"), std::string::npos);
    EXPECT_TRUE(m_boxes.isEmpty());

    m_openerWorks = false;
    frame.Execute(kCmdBrowse);
    ASSERT_EQ(m_boxes.size(), 1);
    EXPECT_EQ(m_boxes[0].toStdString(),
              "Failed to launch web browser. Please install a web browser then retry.\n"
              "If a web browser is installed, please run it then type in this address:\n" +
                  page + " or " + link);
}

TEST_F(DebugWindowTest, ClosingWhilePausedEndsAtOnceAndSavesTheProfile) {
    CMainFrame& frame = Frame();
    ASSERT_NE(RunToBreakpoint(frame, "bin/wait.zrs", "set Local.i = 1;\nset Local.i = 2;\n", 2),
              nullptr);
    const auto started = std::chrono::steady_clock::now();
    CloseFrame();
    // Far below the debugger's 30 s stop wait.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    EXPECT_TRUE(theDebugger.IsIdle());
    EXPECT_NE(ReadFile(IniPath()).find("DebuggerIpPort=8085"), std::string::npos);
}

TEST_F(DebugWindowTest, QuickWatchAsksForTheTrimmedSelection) {
    CMainFrame& frame = Frame();
    CChildFrame* child = RunToBreakpoint(frame, "bin/watch.zrs",
                                         "set Local.i = 7;\nset Local.j = Local.i + 1;\n", 2);
    ASSERT_NE(child, nullptr);
    // "Local.i + " on line 2.
    QTextCursor cursor(child->View()->document()->findBlockByNumber(1));
    cursor.setPosition(cursor.position() + 14);
    cursor.setPosition(cursor.position() + 10, QTextCursor::KeepAnchor);
    child->View()->setTextCursor(cursor);
    ASSERT_EQ(cursor.selectedText(), QStringLiteral("Local.i + "));
    QString expression;
    QString value;
    AnswerNextDialog<CQuickWatchDlg>([&](CQuickWatchDlg& dialog) {
        expression = dialog.Expression();
        value = dialog.Value();
        dialog.reject();
    });
    frame.Execute(kCmdQuickWatch);
    EXPECT_TRUE(m_answered);
    EXPECT_EQ(expression, QStringLiteral("Local.i"));
    EXPECT_EQ(value, QStringLiteral("7"));
}

TEST_F(DebugWindowTest, RunErrorPutsTheCaretAtItsOffset) {
    const std::string text = "set Local.a = 1;\r\nset Local.b = bar.x;\r\n";
    const std::string path = Write("bin/error.zrs", text);
    CMainFrame& frame = Frame();
    ASSERT_NE(frame.OpenDocument(QString::fromStdString(path)), nullptr);
    frame.Execute(kCmdStartContinue);
    ASSERT_TRUE(PumpUntil([&] { return frame.ActiveView()->textCursor().blockNumber() == 1; }));
    // The byte offset of "bar.x" lands on it, past the CR LF of the first line.
    EXPECT_EQ(frame.ActiveView()->textCursor().positionInBlock(), 14);
    EXPECT_EQ(frame.Output()->currentIndex(), COutputBar::kDebugTab);
}

TEST_F(DebugWindowTest, HelpTopicsOpensTheInstalledPage) {
    CMainFrame& frame = Frame();
    frame.Execute(kCmdHelpTopics);
    EXPECT_EQ(m_opened, std::vector<std::string>{m_root.File("help/wrenfold.html")});
}

TEST_F(DebugWindowTest, RunningShowsNoArrow) {
    CMainFrame& frame = Frame();
    CChildFrame* child =
        RunToBreakpoint(frame, "bin/loop.zrs",
                        "set Local.i = 0;\nwhile (1)\nset Local.i = Local.i + 1;\nendwhile\n", 3);
    ASSERT_NE(child, nullptr);
    const std::string path = child->Doc()->Path().toStdString();
    QApplication::processEvents();
    EXPECT_EQ(MarkColor(*child, 3), CBreakpointGutter::kCurrentColor);
    theDebugger.ToggleBreakpoint(path, 3);
    frame.Execute(kCmdStartContinue);
    ASSERT_TRUE(PumpUntil([] { return theDebugger.IsRunning(); }));
    frame.UpdateCommands();
    EXPECT_TRUE(frame.Commands()->Action(kCmdBreak)->isEnabled());
    const QColor running = MarkColor(*child, 3);
    EXPECT_NE(running, CBreakpointGutter::kCurrentColor);
    EXPECT_NE(running, CBreakpointGutter::kBreakpointColor);
    frame.Execute(kCmdStop);
    ASSERT_TRUE(PumpUntil([] { return theDebugger.IsIdle(); }));
}
