// The Secure Server page: choosing, clearing, requesting and installing the certificate, up to
// a secure page served with it.
#include "console/window/SecurePage.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "console/tests/TestCa.h"
#include "console/window/CertRequestDlg.h"
#include "console/window/FileChoice.h"
#include "console/window/GeneralPage.h"
#include "console/window/MainFrame.h"
#include "console/window/SelectCertDlg.h"
#include "console/window/ServerView.h"
#include "console/window/SettingsSht.h"
#include "console/window/tests/PromptRecorder.h"
#include "console/window/tests/WindowFixture.h"
#include "engine/foundation/CertificateInfo.h"
#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

CSecurePage& SecurePage(CSettingsSht& sheet) {
    sheet.ShowPage(CSettingsSht::kSecure);
    return *static_cast<CSecurePage*>(sheet.Page(CSettingsSht::kSecure));
}

// Answers the file dialogs with one path while it lives.
class CFileAnswer {
public:
    explicit CFileAnswer(std::string path)
        : m_previous(SetFileChooser([path](const CFileChoice&) { return path; })) {}
    ~CFileAnswer() { SetFileChooser(m_previous); }

private:
    FileChooser m_previous;
};

std::vector<std::string> Column(const QTreeWidget& list, int column) {
    std::vector<std::string> texts;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        texts.push_back(list.topLevelItem(i)->text(column).toStdString());
    }
    return texts;
}

}  // namespace

TEST(SecurePage, TheSelectionListsNewestFirstAndPreselectsByName) {
    CWindowFixture fixture;
    const std::string certs = CertificateFolderOf(fixture.Root().Root());
    ASSERT_TRUE(CTestCa::SelfSigned(certs, "a", "Alpha", "0A"));
    ASSERT_TRUE(CTestCa::SelfSigned(certs, "b", "Beta", "0B"));
    const struct {
        const char* current;
        int selected;  // -1: none
    } cases[] = {{"", 0}, {"Alpha", 1}, {"Beta", 0}, {"Gamma", -1}, {"alpha", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.current);
        CPromptRecorder prompts;
        CSelectCertDlg dialog(nullptr, fixture.Root().Root(), c.current);
        EXPECT_EQ(Column(*dialog.List(), 0), (std::vector<std::string>{"Beta", "Alpha"}));
        EXPECT_EQ(Column(*dialog.List(), 3), (std::vector<std::string>{"0B", "0A"}));
        const QList<QTreeWidgetItem*> selected = dialog.List()->selectedItems();
        if (c.selected < 0) {
            EXPECT_TRUE(selected.isEmpty());
            EXPECT_FALSE(dialog.OnOK());
            EXPECT_EQ(prompts.Texts(),
                      std::vector<std::string>{"Please select a certificate or click Cancel."});
            continue;
        }
        ASSERT_EQ(selected.size(), 1);
        EXPECT_EQ(selected.front(), dialog.List()->topLevelItem(c.selected));
        EXPECT_TRUE(dialog.OnOK());
        EXPECT_EQ(dialog.Chosen().m_name, c.selected == 0 ? "Beta" : "Alpha");
        EXPECT_FALSE(dialog.Chosen().m_expiration.empty());
    }
}

TEST(SecurePage, DisableAndSaveTurnTheSecureServerOff) {
    CWindowFixture fixture({"SecurityCertName=host.example", "SecurityCertIssuer=CA",
                            "SecurityCertSerial=0102", "SecurityCertExpiration=x"});
    CMainFrame frame(fixture.Context(), fixture.Profile());
    frame.View()->OnInitialUpdate();
    EXPECT_EQ(frame.View()->List()->topLevelItem(1)->text(3), "Stopped");
    CPromptRecorder prompts;
    frame.View()->SetSheetRunner([](CSettingsSht& sheet) {
        CSecurePage& page = SecurePage(sheet);
        EXPECT_TRUE(page.DisableButton()->isEnabled());
        page.OnDisable();
        return sheet.OnOK();
    });
    frame.View()->OnSettings();
    EXPECT_EQ(fixture.StoredText("SecurityCertName"), std::optional<std::string>(""));
    EXPECT_EQ(fixture.StoredText("SecurityCertSerial"), std::optional<std::string>(""));
    EXPECT_EQ(frame.View()->List()->topLevelItem(1)->text(3), "Disabled");
}

TEST(SecurePage, ARequestWithTheDialogsDefaults) {
    CWindowFixture fixture({"GeneralOrganizationName=Acme, Inc."});
    CPromptRecorder prompts;
    CSettingsSht sheet(nullptr, fixture.Context());
    CSecurePage& page = SecurePage(sheet);
    page.SetRequestRunner([](CCertRequestDlg& dialog) {
        EXPECT_EQ(dialog.KeyBits()->currentText(), "2048");
        EXPECT_EQ(dialog.Country()->currentText(), "United States");
        EXPECT_EQ(dialog.Organization()->text(), "Acme, Inc.");
        return true;
    });
    page.OnCreateRequest();
    const std::string file = fixture.Root().Path("cert_req.txt");
    ASSERT_EQ(prompts.Texts().size(), 1u);
    EXPECT_EQ(prompts.Texts()[0].rfind(file + " created. Please send this file to a CA.", 0), 0u)
        << prompts.Texts()[0];
    std::string shown;
    EXPECT_EQ(RunOpenssl({"req", "-verify", "-noout", "-text", "-in", file}, &shown), 0) << shown;
    EXPECT_NE(shown.find("C = US"), std::string::npos) << shown;
    EXPECT_NE(shown.find("CN = 127.0.0.1"), std::string::npos) << shown;
}

TEST(SecurePage, AnInstalledCertificateServesTheSecurePage) {
    const int sslPort = FreeLoopbackPort();
    CWindowFixture fixture({"GeneralSslPort=" + std::to_string(sslPort)});
    ASSERT_TRUE(WriteFile(fixture.Root().Path("webroot/index.html"), "secure marker page"));
    CTempFolder ca;
    CTestCa authority(ca.Path());
    ASSERT_TRUE(authority.Ready());
    CPromptRecorder prompts(true);
    {
        CSettingsSht sheet(nullptr, fixture.Context());
        CSecurePage& page = SecurePage(sheet);
        page.SetRequestRunner([](CCertRequestDlg& dialog) {
            dialog.CommonName()->setText("host.example");
            return true;
        });
        page.OnCreateRequest();
        const std::string answer =
            authority.Sign(fixture.Root().Path("cert_req.txt"), "0102", CTestCa::EForm::kPkcs7);
        ASSERT_FALSE(answer.empty());
        prompts.Clear();
        {
            CFileAnswer chosen(answer);
            page.OnInstall();
        }
        EXPECT_EQ(prompts.Texts(),
                  std::vector<std::string>{"Accepted PKCS7 from file successfully"});
        page.SetSelectRunner([](CSelectCertDlg& dialog) {
            EXPECT_EQ(Column(*dialog.List(), 0), std::vector<std::string>{"host.example"});
            return dialog.OnOK();
        });
        page.OnSelect();
        EXPECT_EQ(page.Name()->text(), "host.example");
        EXPECT_EQ(page.Serial()->text(), "0102");
        EXPECT_TRUE(sheet.OnOK());
    }
    EXPECT_EQ(fixture.StoredText("SecurityCertName"), std::optional<std::string>("host.example"));
    EXPECT_EQ(fixture.StoredText("SecurityCertIssuer"),
              std::optional<std::string>("Velmorin Test CA"));

    fixture.StartServer();
    CTempFolder out;
    CChildOptions options;
    options.m_searchPath = true;
    options.m_stdout = CChildStream::Truncate(out.File("page"));
    options.m_stderr = CChildStream::Truncate(out.File("errors"));
    // The secure listener may come up a moment after the start is reported (slow under the
    // sanitizers): a refused connection is tried again.
    const int code =
        CChildProcess::Run({"curl", "-s", "-S", "-k", "--tlsv1.2", "--max-time", "20", "--retry",
                            "20", "--retry-connrefused", "--retry-delay", "1",
                            "https://127.0.0.1:" + std::to_string(sslPort) + "/index.html"},
                           options);
    EXPECT_EQ(code, 0) << ReadFile(out.File("errors"));
    EXPECT_EQ(ReadFile(out.File("page")), "secure marker page");
}

TEST(SecurePage, AChosenCertificateEnablesTheSslPortOnTheGeneralPage) {
    CWindowFixture fixture;
    ASSERT_TRUE(
        CTestCa::SelfSigned(CertificateFolderOf(fixture.Root().Root()), "a", "Alpha", "0A"));
    CPromptRecorder prompts;
    CSettingsSht sheet(nullptr, fixture.Context());
    CGeneralPage& general = *static_cast<CGeneralPage*>(sheet.Page(CSettingsSht::kGeneral));
    EXPECT_FALSE(general.SslPort()->isEnabled());
    CSecurePage& page = SecurePage(sheet);
    page.SetSelectRunner([](CSelectCertDlg& dialog) { return dialog.OnOK(); });
    page.OnSelect();
    sheet.Tabs()->setCurrentIndex(CSettingsSht::kGeneral);
    EXPECT_EQ(sheet.Copy().SecurityCertName, "Alpha");
    EXPECT_TRUE(general.SslPort()->isEnabled());

    // A page that refuses its data keeps the user on it.
    general.MaxUpload()->setText("0");
    sheet.Tabs()->setCurrentIndex(CSettingsSht::kTasks);
    EXPECT_EQ(sheet.Tabs()->currentIndex(), CSettingsSht::kGeneral);
    EXPECT_EQ(prompts.Texts(),
              std::vector<std::string>{"Please enter an integer between 1 and 1000."});
}
