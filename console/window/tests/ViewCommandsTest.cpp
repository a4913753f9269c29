// The view's commands that reach outside the window: Start with its notice and Browse, View
// Log Files, Run Now against the running server, and the host-name check.
#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QTreeWidget>

#include <cerrno>

#include <gtest/gtest.h>

#include "console/ConsoleMessages.h"
#include "console/window/DataSourceDlg.h"
#include "console/window/FileChoice.h"
#include "console/window/GeneralPage.h"
#include "console/window/MainFrame.h"
#include "console/window/ServerView.h"
#include "console/window/SettingsSht.h"
#include "console/window/tests/PromptRecorder.h"
#include "console/window/tests/WindowFixture.h"
#include "engine/foundation/SystemError.h"
#include "engine/script/DesktopOpener.h"
#include "engine/testsupport/ScopedEnv.h"
#include "engine/testsupport/WholeFile.h"

namespace {

// Records what the desktop was asked to open and answers with `opens`.
class COpenerRecorder {
public:
    explicit COpenerRecorder(bool opens = true)
        : m_previous(SetDesktopOpener([this, opens](const std::string& target) {
              m_targets.push_back(target);
              return opens;
          })) {}
    ~COpenerRecorder() { SetDesktopOpener(m_previous); }
    const std::vector<std::string>& Targets() const { return m_targets; }

private:
    std::vector<std::string> m_targets;
    DesktopOpener m_previous;
};

class CChooserRecorder {
public:
    explicit CChooserRecorder(std::optional<std::string> answer)
        : m_previous(SetFileChooser([this, answer](const CFileChoice& choice) {
              m_choices.push_back(choice);
              return answer;
          })) {}
    ~CChooserRecorder() { SetFileChooser(m_previous); }
    const std::vector<CFileChoice>& Choices() const { return m_choices; }

private:
    std::vector<CFileChoice> m_choices;
    FileChooser m_previous;
};

}  // namespace

TEST(ViewCommands, StartShowsTheNoticeAndYesBrowses) {
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "yes" : "no");
        CWindowFixture fixture;
        fixture.Root().InstallServer();
        CMainFrame frame(fixture.Context(), fixture.Profile());
        CServerView& view = *frame.View();
        view.OnInitialUpdate();
        CPromptRecorder prompts;
        prompts.QueueAnswer(yes);
        COpenerRecorder opener;
        view.OnStart();
        EXPECT_TRUE(view.IsRunning());
        EXPECT_FALSE(view.Action(CServerView::kStart)->isEnabled());
        EXPECT_EQ(prompts.Texts(), std::vector<std::string>{StartNotice(fixture.Settings())});
        const std::string page = fixture.Root().Path("webroot/browse.html");
        EXPECT_EQ(opener.Targets(),
                  yes ? std::vector<std::string>{page} : std::vector<std::string>{});
        if (yes) {
            EXPECT_NE(
                ReadFile(page).find("http://127.0.0.1:" + std::to_string(fixture.Root().Port())),
                std::string::npos);
        }
    }
}

TEST(ViewCommands, BrowseSaysSoWhenNoBrowserStarts) {
    CWindowFixture fixture;
    CMainFrame frame(fixture.Context(), fixture.Profile());
    CPromptRecorder prompts;
    COpenerRecorder opener(false);
    frame.View()->OnBrowse();
    ASSERT_EQ(opener.Targets().size(), 1u);
    const std::string address = "http://127.0.0.1:" + std::to_string(fixture.Root().Port());
    EXPECT_EQ(prompts.Texts(),
              std::vector<std::string>{
                  "Failed to launch web browser. Please install a web browser then retry.\nIf a "
                  "web browser is installed, please run it then type in this address:\n" +
                  address + "or " + address});
}

TEST(ViewCommands, ViewLogFiles) {
    const struct {
        const char* label;
        std::optional<std::string> chosen;
        bool opens;
        std::vector<std::string> prompts;
        bool opened;
    } cases[] = {
        {"cancelled", std::nullopt, true, {}, false},
        {"no name", std::string(), true, {"No log file is selected."}, false},
        {"a file", std::string("/logs/day01.txt"), true, {}, true},
        {"an opener that does not start",
         std::string("/logs/day01.txt"),
         false,
         {"Failed to launch [xdg-open]:\nthe program could not be started"},
         true},
    };
    CWindowFixture fixture;
    CMainFrame frame(fixture.Context(), fixture.Profile());
    // The root's PATH holds the system's xdg-open.
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CPromptRecorder prompts;
        COpenerRecorder opener(c.opens);
        CChooserRecorder chooser(c.chosen);
        frame.View()->OnViewLogFiles();
        ASSERT_EQ(chooser.Choices().size(), 1u);
        EXPECT_EQ(chooser.Choices()[0].m_title, "Open log file");
        EXPECT_EQ(chooser.Choices()[0].m_folder, fixture.Root().Path("webroot/log"));
        EXPECT_EQ(chooser.Choices()[0].m_patterns,
                  (std::vector<std::string>{"*.*", "*.txt", "*.log"}));
        EXPECT_EQ(prompts.Texts(), c.prompts);
        EXPECT_EQ(opener.Targets(), c.opened ? std::vector<std::string>{"/logs/day01.txt"}
                                             : std::vector<std::string>{});
    }
}

TEST(ViewCommands, AMissingOpenerIsNamedAsMissing) {
    CWindowFixture fixture;
    CScopedEnv path;
    path.Set("PATH", fixture.Root().FakeBin().c_str());
    CMainFrame frame(fixture.Context(), fixture.Profile());
    CPromptRecorder prompts;
    COpenerRecorder opener(false);
    CChooserRecorder chooser(std::string("/logs/day01.txt"));
    frame.View()->OnViewLogFiles();
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Failed to launch [xdg-open]:\n" +
                                                        FormatSystemError(ENOENT)});
}

TEST(ViewCommands, RunNowRefusesADisabledTaskOfTheRunningServer) {
    CWindowFixture fixture;
    fixture.StartServer();
    CMainFrame frame(fixture.Context(), fixture.Profile());
    CServerView& view = *frame.View();
    view.OnInitialUpdate();
    ASSERT_TRUE(view.IsRunning());
    ASSERT_GE(view.List()->topLevelItemCount(), 3);
    CPromptRecorder prompts;
    view.List()->setCurrentItem(view.List()->topLevelItem(2));
    view.OnRunNow();
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"The task you selected is disabled."});
}

TEST(ViewCommands, AHostNameWithAnUnderscoreIsStoredAndWarnedAbout) {
    CWindowFixture fixture;
    fixture.Context().m_resolver.m_reverse = [](const std::string&) {
        return std::string("  my_host.example");
    };
    fixture.Context().m_resolver.m_forward = [](const std::string&) {
        return std::vector<std::string>{"127.0.0.1"};
    };
    CPromptRecorder prompts;
    CMainFrame frame(fixture.Context(), fixture.Profile());
    frame.View()->OnInitialUpdate();
    EXPECT_EQ(fixture.Settings().FQDN, "my_host.example");
    EXPECT_EQ(fixture.StoredText("FQDN"), std::optional<std::string>("my_host.example"));
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{FormatMessage(
                                   ConsoleMessages().msgUnderscoreHost, {"my_host.example"})});
    EXPECT_EQ(frame.View()->List()->topLevelItem(0)->text(2).toStdString(),
              "http://my_host.example:" + std::to_string(fixture.Root().Port()));
}

TEST(ViewCommands, CreateDataSourceOpensTheDialogForAnAdditionalOne) {
    CWindowFixture fixture;
    CMainFrame frame(fixture.Context(), fixture.Profile());
    std::string title;
    bool createDefault = true;
    frame.View()->SetDataSourceRunner([&](CDataSourceDlg& dialog) {
        title = dialog.windowTitle().toStdString();
        createDefault = dialog.CreateDefaultButton()->isVisibleTo(&dialog);
        return false;
    });
    frame.View()->Action(CServerView::kCreateDataSource)->trigger();
    EXPECT_EQ(title, "Create data source");
    EXPECT_FALSE(createDefault);
}

TEST(ViewCommands, AnAddressChangedInSettingsLooksUpTheNewName) {
    CWindowFixture fixture;
    fixture.Context().m_resolver.m_reverse = [](const std::string& address) {
        return address == "127.0.0.2" ? std::string("second.example") : std::string();
    };
    fixture.Context().m_resolver.m_forward = [](const std::string&) {
        return std::vector<std::string>{"127.0.0.2"};
    };
    CMainFrame frame(fixture.Context(), fixture.Profile());
    frame.View()->OnInitialUpdate();
    EXPECT_EQ(fixture.Settings().FQDN, "127.0.0.1");
    CPromptRecorder prompts;
    frame.View()->SetSheetRunner([](CSettingsSht& sheet) {
        static_cast<CGeneralPage*>(sheet.Page(CSettingsSht::kGeneral))
            ->Address()
            ->setEditText("127.0.0.2");
        return sheet.OnOK();
    });
    frame.View()->OnSettings();
    EXPECT_EQ(fixture.Settings().GeneralTcpipAddress, "127.0.0.2");
    EXPECT_EQ(fixture.Settings().FQDN, "second.example");
    EXPECT_EQ(fixture.StoredText("FQDN"), std::optional<std::string>("second.example"));
}
