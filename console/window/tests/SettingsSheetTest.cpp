// The settings sheet over the test installation's store: what Save writes, what it refuses,
// and what it leaves alone.
#include "console/window/SettingsSht.h"

#include <cerrno>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

#include <gtest/gtest.h>

#include "console/ConsoleClient.h"
#include "console/ConsoleMessages.h"
#include "console/SystemdServiceControl.h"
#include "console/window/DbPage.h"
#include "console/window/GeneralPage.h"
#include "console/window/MainFrame.h"
#include "console/window/ServerView.h"
#include "console/window/tests/PromptRecorder.h"
#include "console/window/tests/WindowFixture.h"
#include "engine/foundation/SystemError.h"
#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/WholeFile.h"

namespace {

CGeneralPage& General(CSettingsSht& sheet) {
    return *static_cast<CGeneralPage*>(sheet.Page(CSettingsSht::kGeneral));
}

}  // namespace

TEST(SettingsSheet, AFirstStartOpensSettingsOverTheWindow) {
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "named" : "first start");
        CWindowFixture fixture(named ? std::vector<std::string>{"GeneralOrganizationName=Acme"}
                                     : std::vector<std::string>{});
        CMainFrame frame(fixture.Context(), fixture.Profile());
        std::vector<QWidget*> parents;
        frame.View()->SetSheetRunner([&parents](CSettingsSht& sheet) {
            parents.push_back(sheet.parentWidget());
            return false;
        });
        frame.Start();
        EXPECT_EQ(parents, named ? std::vector<QWidget*>{} : std::vector<QWidget*>{&frame});
    }
}

TEST(SettingsSheet, SaveWithoutAChangeLeavesTheStoreAsItWas) {
    CWindowFixture fixture({"GeneralHttpAddr=", "EmMaxEmailOut=700"});
    // A running server would be told to restart after a save.
    fixture.StartServer();
    const std::string store = fixture.Root().Path("etc/velmorin.conf");
    const std::string before = ReadFile(store);
    CPromptRecorder prompts;
    CSettingsSht sheet(nullptr, fixture.Context());
    for (int page = 0; page < CSettingsSht::kPageCount; ++page) {
        sheet.ShowPage(static_cast<CSettingsSht::EPage>(page));
    }
    EXPECT_TRUE(sheet.OnOK());
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(ReadFile(store), before);
    EXPECT_TRUE(prompts.Prompts().empty()) << prompts.Texts().front();
}

TEST(SettingsSheet, SaveWritesTheCopyAndReloadsTheProcessSettings) {
    CWindowFixture fixture({"GeneralHttpAddr=", "GeneralHttpsAddr="});
    CPromptRecorder prompts;
    CSettingsSht sheet(nullptr, fixture.Context());
    General(sheet).Organization()->setText("Acme, Inc.");
    General(sheet).SessionTimeout()->setText("45");
    EXPECT_TRUE(sheet.OnOK());
    EXPECT_EQ(fixture.Stored()->GeneralOrganizationName, "Acme, Inc.");
    EXPECT_EQ(fixture.Stored()->GeneralSessionTimeout, 45);
    EXPECT_EQ(fixture.Settings().GeneralOrganizationName, "Acme, Inc.");
    EXPECT_EQ(fixture.Settings().GeneralSessionTimeout, 45);
    // Addresses stored empty stay empty, for the server to compute them.
    EXPECT_EQ(fixture.StoredText("GeneralHttpAddr"), std::optional<std::string>(""));
    EXPECT_EQ(fixture.StoredText("GeneralHttpsAddr"), std::optional<std::string>(""));
    // A stopped server needs no restart.
    EXPECT_TRUE(prompts.Prompts().empty()) << prompts.Texts().front();
}

TEST(SettingsSheet, NoToTheServiceRemovalKeepsNtServiceAndTheSheetOpen) {
    CWindowFixture fixture;
    fixture.Control().SetServiceInstalled(true);
    CPromptRecorder prompts;
    CSettingsSht sheet(nullptr, fixture.Context());
    QButtonGroup& runAs = *General(sheet).RunAs();
    ASSERT_EQ(runAs.checkedId(), 1);
    runAs.button(0)->click();
    EXPECT_FALSE(General(sheet).Dependency()->isEnabled());
    prompts.QueueAnswer(false);
    EXPECT_FALSE(sheet.OnOK());
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{ConsoleMessages().msgAskRemoveService});
    EXPECT_EQ(runAs.checkedId(), 1);
    EXPECT_TRUE(General(sheet).Dependency()->isEnabled());
    EXPECT_EQ(sheet.m_nRunAs, 1);
    EXPECT_NE(sheet.result(), QDialog::Accepted);
    EXPECT_TRUE(fixture.Control().IsServiceInstalled());
}

TEST(SettingsSheet, ARefusedAddressChangeNeverStopsTheServer) {
    CWindowFixture fixture;
    fixture.StartServer();
    const struct {
        const char* label;
        std::function<void(CSettingsSht&)> change;
        std::string refusal;
    } cases[] = {
        {"session time-out of 0 on the page",
         [](CSettingsSht& sheet) { General(sheet).SessionTimeout()->setText("0"); },
         "Please enter an integer between 1 and 1440."},
        {"empty connect string",
         [](CSettingsSht& sheet) {
             sheet.ShowPage(CSettingsSht::kDatabase);
             static_cast<CDbPage*>(sheet.Page(CSettingsSht::kDatabase))->ConnectString()->clear();
         },
         "ODBC connect string has not been set yet.\nPlease goto the Database page and click on "
         "the change button to set it."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CPromptRecorder prompts(true);
        CSettingsSht sheet(nullptr, fixture.Context());
        General(sheet).TcpPort()->setText(QString::number(FreeLoopbackPort()));
        c.change(sheet);
        EXPECT_FALSE(sheet.OnOK());
        EXPECT_EQ(prompts.Texts(), std::vector<std::string>{c.refusal});
        std::string text;
        std::string error;
        EXPECT_TRUE(CConsoleClient("127.0.0.1", fixture.Root().Port()).GetTaskList(text, error))
            << error;
        EXPECT_TRUE(fixture.Root().ServerRunning());
    }
}

TEST(SettingsSheet, AnAcceptedAddressChangeStopsTheServerFirst) {
    CWindowFixture fixture;
    fixture.StartServer();
    const int port = FreeLoopbackPort();
    CPromptRecorder prompts(true);
    CSettingsSht sheet(nullptr, fixture.Context());
    General(sheet).TcpPort()->setText(QString::number(port));
    EXPECT_TRUE(sheet.OnOK());
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{ConsoleMessages().msgAddressChanged});
    EXPECT_FALSE(fixture.Root().ServerRunning());
    EXPECT_EQ(fixture.Stored()->GeneralTcpipPort, std::to_string(port));
}

TEST(SettingsSheet, NtServiceInstallsTheServiceWhenTheAnswerIsYes) {
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "yes" : "no");
        CWindowFixture fixture;
        CMainFrame frame(fixture.Context(), fixture.Profile());
        CPromptRecorder prompts;
        prompts.QueueAnswer(yes);
        bool saved = false;
        frame.View()->SetSheetRunner([&saved](CSettingsSht& sheet) {
            General(sheet).RunAs()->button(1)->click();
            General(sheet).StartType()->button(0)->click();
            saved = sheet.OnOK();
            EXPECT_EQ(General(sheet).RunAs()->checkedId(), saved ? 1 : 0);
            return saved;
        });
        frame.View()->OnSettings();
        EXPECT_EQ(saved, yes);
        EXPECT_EQ(prompts.Texts(),
                  std::vector<std::string>{ConsoleMessages().msgAskInstallService});
        const std::string unit = fixture.Root().Path("units/velmorinServer2.service");
        EXPECT_EQ(Exists(unit), yes);
        if (yes) {
            EXPECT_NE(ReadFile(unit).find(fixture.Root().Path("bin/Tallgrove")), std::string::npos);
        }
        EXPECT_EQ(fixture.Control().IsServiceInstalled(), yes);
        EXPECT_EQ(frame.ServicePane()->text(), yes ? "NT Service" : "Normal App");
    }
}

TEST(SettingsSheet, AChangeSavedWhileTheServerRunsAsksForARestart) {
    CWindowFixture fixture;
    fixture.StartServer();
    CPromptRecorder prompts;
    CSettingsSht sheet(nullptr, fixture.Context());
    General(sheet).Organization()->setText("Running Org");
    EXPECT_TRUE(sheet.OnOK());
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{ConsoleMessages().msgStopAndRestart});
    EXPECT_TRUE(fixture.Root().ServerRunning());
    EXPECT_EQ(fixture.Stored()->GeneralOrganizationName, "Running Org");
}

TEST(SettingsSheet, TheCertificateNoticeNamesTheHostWhenItDiffers) {
    const struct {
        const char* hostName;
        bool notice;
    } cases[] = {{"other.example", true}, {"HOST.example", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hostName);
        CWindowFixture fixture({"SecurityCertName=host.example"});
        const std::string name = c.hostName;
        fixture.Context().m_resolver.m_reverse = [name](const std::string&) { return name; };
        fixture.Context().m_resolver.m_forward = [](const std::string&) {
            return std::vector<std::string>{"127.0.0.1"};
        };
        CPromptRecorder prompts;
        CSettingsSht sheet(nullptr, fixture.Context());
        EXPECT_TRUE(sheet.OnOK());
        const std::string text = FormatMessage(
            "The certificate you selected was not issued to %s.\nWhen a user access this secure "
            "website using https, he/she\nwill be asked by the web browser whether to accept the "
            "certificate.",
            {c.hostName});
        EXPECT_EQ(prompts.Texts(),
                  c.notice ? std::vector<std::string>{text} : std::vector<std::string>{});
    }
}

TEST(SettingsSheet, NtServiceOnAHostThatCannotTakeItKeepsTheServerRunning) {
    CWindowFixture fixture;
    fixture.StartServer();
    const std::string root = fixture.Root().Root();
    ASSERT_TRUE(WriteFile(root + "/not-a-folder", "x"));
    const struct {
        const char* label;
        bool hostRunsSystemd;
        std::string unitFolder;
        std::string reason;
    } cases[] = {
        {"no systemd", false, root + "/units",
         "The service manager is not available on this host."},
        {"unit folder under a file", true, root + "/not-a-folder/units",
         FormatSystemError(ENOTDIR)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fixture.Context().m_serviceFactory = [&c, root] {
            CSystemdServiceControl::Config config;
            config.m_unitFolder = c.unitFolder;
            config.m_maskFolder = root + "/masks";
            config.m_hostRunsSystemd = [&c] { return c.hostRunsSystemd; };
            return std::make_unique<CSystemdServiceControl>(config);
        };
        // Yes to every question: only the check may keep the server from being stopped.
        CPromptRecorder prompts(true);
        CSettingsSht sheet(nullptr, fixture.Context());
        General(sheet).RunAs()->button(1)->click();
        EXPECT_FALSE(sheet.OnOK());
        EXPECT_EQ(prompts.Texts(),
                  std::vector<std::string>{ConsoleMessages().msgInstallServiceFailed + c.reason});
        std::string text;
        std::string error;
        EXPECT_TRUE(CConsoleClient("127.0.0.1", fixture.Root().Port()).GetTaskList(text, error))
            << error;
        EXPECT_TRUE(fixture.Root().ServerRunning());
        EXPECT_FALSE(fixture.Control().IsServiceInstalled());
    }
}
