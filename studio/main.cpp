// Wrenfold: the authors' studio. It opens nothing from its command line.
#include <clocale>
#include <memory>

#include <QApplication>
#include <QFileInfo>

#include "engine/data/OdbcEnvironment.h"
#include "engine/foundation/GroupFiles.h"
#include "engine/foundation/LocaleDates.h"
#include "engine/foundation/LogWriter.h"
#include "engine/settings/RootFolder.h"
#include "studio/window/MainFrame.h"
#include "studio/window/StudioEngine.h"
#include "studio/window/StudioProfile.h"
#include "studio/window/TerminationSignal.h"

int main(int argc, char** argv) {
    // What the program writes into the installation is for its group only.
    UseGroupUmask();
    CTerminationSignal::Block();
    LoadLocaleDateSettings();
    // The profile's root decides the program's root before any engine object reads it.
    CStudioProfile profile;
    profile.Load(*CStudioProfile::OpenSettings());
    const QString programRoot = QString::fromStdString(g_rootDir);
    if (!profile.m_rootPath.isEmpty() && QFileInfo(profile.m_rootPath).isDir()) {
        SetRootFolder(profile.m_rootPath.toStdString());
    }
    // Before any thread: the process environment is still ours alone.
    UseInstallationOdbcIni(g_rootDir);
    g_log.SetFolder(g_rootDir + "/webroot");

    QApplication app(argc, argv);
    // The application object takes the user's numeric locale; the engine's formats need "C".
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setOrganizationName(QStringLiteral("Tormalek"));
    QApplication::setApplicationName(QStringLiteral("Velmorin Studio"));

    CStudioEngine engine;
    int exitCode = 0;
    {
        CMainFrame frame(profile, programRoot, engine.Settings());
        const CTerminationSignal termination([&frame] { frame.close(); });
        frame.show();
        exitCode = QApplication::exec();
    }
    // The frame has stopped the debugger and the search; nothing runs on under the globals.
    return exitCode;
}
