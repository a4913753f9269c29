#include "console/window/ConsoleWindow.h"

#include <QApplication>
#include <memory>

#include "console/ConsoleMessages.h"
#include "console/DbSetup.h"
#include "console/ServerControl.h"
#include "console/SystemdServiceControl.h"
#include "console/window/MainFrame.h"
#include "console/window/Prompts.h"
#include "console/window/ServerView.h"
#include "console/window/SingleInstance.h"
#include "console/window/WindowDbSetupUi.h"
#include "engine/foundation/LogWriter.h"
#include "engine/settings/ServerSettings.h"

namespace {

// Message-box mode: every log line of the console is a box.
class CMessageBoxSink : public CLogSink {
public:
    bool Deliver(const std::string& text) override {
        ShowMessage(nullptr, text, EPromptKind::kWarning);
        return true;
    }
};

}  // namespace

int RunConsoleWindow(int argc, char** argv, const std::string& root) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(CMainFrame::kTitle);
    g_log.SetMessageBox(std::make_shared<CMessageBoxSink>());
    ConsoleMessages();
    g_settings.SetBuild(SettingsBuild::kConsole);
    if (!g_settings.Load()) {
        ShowMessage(nullptr, "Failed to load settings.", EPromptKind::kError);
        return 0;
    }
    CServerControl control(root, [] { return std::make_unique<CSystemdServiceControl>(); });
    control.ProbeService();

    CMainFrame* frame = nullptr;
    CSingleInstance single;
    switch (single.Claim(root, [&frame] {
        if (frame != nullptr) {
            frame->Raise();
        }
    })) {
        case CSingleInstance::EClaim::kOtherRaised:
            return 0;
        case CSingleInstance::EClaim::kError:
            ShowMessage(nullptr, "Unknown error when creating mutex", EPromptKind::kError);
            return 0;
        case CSingleInstance::EClaim::kFirst:
            break;
    }

    CWindowDbSetupUi ui(nullptr, root);
    CDbSetup setup(root, ui);
    ui.SetDbSetup(&setup);
    if (!setup.StartupCheck(g_settings)) {
        return 0;
    }

    CConsoleContext context{root,
                            g_settings,
                            control,
                            [] { return std::make_unique<CSystemdServiceControl>(); },
                            SystemResolver(),
                            QCoreApplication::applicationFilePath().toStdString()};
    CMainFrame window(context, CViewProfile());
    frame = &window;
    window.show();
    window.Start();
    const int code = QApplication::exec();
    g_log.SetMessageBox(nullptr);
    return code;
}
