// Takes the README's picture of Wrenfold: the real window over an installation root, paused at
// a breakpoint of the sample application's front page, saved as a PNG.
//   WrenfoldScreenshot <root> <port> <output.png>
#include <clocale>
#include <cstdio>
#include <string>
#include <thread>

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include "engine/data/OdbcEnvironment.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SocketConn.h"
#include "engine/settings/RootFolder.h"
#include "studio/DebugController.h"
#include "studio/window/ChildFrame.h"
#include "studio/window/MainFrame.h"
#include "studio/window/OutputBar.h"
#include "studio/window/OutputEdit.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/StudioEngine.h"
#include "studio/window/StudioProfile.h"
#include "studio/window/VarListCtrl.h"

namespace {

// Lets the window run until `done`, at most `seconds`.
template <typename Done>
bool PumpUntil(Done done, int seconds) {
    for (int i = 0; i < seconds * 100 && !done(); ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: WrenfoldScreenshot <root> <port> <output.png>\n");
        return 2;
    }
    const std::string root = argv[1];
    const std::string port = argv[2];
    const QString output = QString::fromLocal8Bit(argv[3]);
    SetRootFolder(root);
    UseInstallationOdbcIni(g_rootDir);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    CStudioEngine engine;
    CStudioProfile profile;
    profile.m_port = QString::fromStdString(port);
    profile.m_rootPath = QString::fromStdString(root + "/webroot");
    CMainFrame frame(profile, QString::fromStdString(root), engine.Settings());
    frame.setGeometry(0, 0, 1280, 800);
    frame.show();
    PumpUntil([&] { return frame.isVisible(); }, 5);

    const std::string page = root + "/webroot/index.zrp";
    CChildFrame* child = frame.OpenDocument(QString::fromStdString(page));
    if (!child) {
        std::fprintf(stderr, "cannot open %s\n", page.c_str());
        return 1;
    }
    child->View()->GoToLine(12);
    frame.Execute(kCmdToggleBreakpoint);
    frame.Execute(kCmdStartContinue);
    frame.Output()->Variables()->AddExpression(QStringLiteral("Local.count"));
    frame.Output()->Variables()->AddExpression(QStringLiteral("req.title"));
    std::thread browser([&port] {
        CSocketConn conn;
        if (conn.Connect("127.0.0.1", std::stoi(port))) {
            conn.Send("GET /index.zrp HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
            char buffer[4096];
            while (conn.Receive(buffer, sizeof buffer) > 0) {
            }
        }
    });
    const bool paused = PumpUntil([] { return theDebugger.IsPaused(); }, 30);
    PumpUntil([] { return false; }, 1);
    frame.Output()->ShowTab(COutputBar::kVariablesTab);
    PumpUntil([] { return false; }, 1);
    const bool saved = paused && frame.screen()->grabWindow(frame.winId()).save(output, "PNG");
    theDebugger.Stop(false);
    browser.join();
    frame.Shutdown();
    if (!paused) {
        std::fprintf(stderr, "the page did not pause at its breakpoint:\n%s\n",
                     frame.Output()->DebugEdit()->toPlainText().toLocal8Bit().constData());
    }
    return saved ? 0 : 1;
}
