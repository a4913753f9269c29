// The pages of the settings sheet: what each stores and refuses, and the MIME dialog. The
// Tasks page has tests of its own.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <cerrno>

#include <gtest/gtest.h>

#include "console/ConsoleMessages.h"
#include "console/window/DataSourceDlg.h"
#include "console/window/DbPage.h"
#include "console/window/EmailPage.h"
#include "console/window/GeneralPage.h"
#include "console/window/MimeTypeDlg.h"
#include "console/window/MimeTypePage.h"
#include "console/window/SettingsSht.h"
#include "console/window/tests/PromptRecorder.h"
#include "console/window/tests/ShowPage.h"
#include "console/window/tests/WindowFixture.h"
#include "engine/foundation/SystemError.h"
#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/WholeFile.h"

namespace {

// Answers the MIME dialog with the two texts.
CMimeTypePage::DialogRunner MimeAnswer(const char* extension, const char* type) {
    return [extension, type](CMimeTypeDlg& dialog) {
        if (dialog.Extension()->isEnabled()) {
            dialog.Extension()->setText(extension);
        }
        dialog.ContentType()->setText(type);
        return true;
    };
}

}  // namespace

TEST(SettingsPages, MimeTypeNewEditAndDelete) {
    const struct {
        const char* label;
        const char* extension;
        const char* type;
        std::string refusal;
    } cases[] = {
        {"an extension already there, typed with its dot", ".htm", "text/plain",
         "The MIME type alread exist. Please click edit button to make changes."},
        {"the same without the dot", "htm", "text/plain",
         "The MIME type alread exist. Please click edit button to make changes."},
        {"an empty extension", "  ", "text/plain", "Can not save empty MIME map"},
        {"an empty type", "abc", " ", "Can not save empty MIME map"},
        {"a new one", " .abc ", " text/x-abc ", ""},
    };
    CWindowFixture fixture;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CPromptRecorder prompts;
        CSettingsSht sheet(nullptr, fixture.Context());
        auto& page = Show<CMimeTypePage>(sheet, CSettingsSht::kMime);
        ASSERT_NE(sheet.Copy().m_mimeMap.Find("htm"), nullptr);
        const int rows = page.List()->topLevelItemCount();
        page.SetDialogRunner(MimeAnswer(c.extension, c.type));
        page.OnNew();
        if (!c.refusal.empty()) {
            EXPECT_EQ(prompts.Texts(), std::vector<std::string>{c.refusal});
            EXPECT_EQ(page.List()->topLevelItemCount(), rows);
            EXPECT_FALSE(sheet.Copy().m_mimeChanged);
            continue;
        }
        EXPECT_TRUE(prompts.Prompts().empty());
        EXPECT_EQ(page.List()->topLevelItem(0)->text(0), ".abc");
        EXPECT_EQ(page.List()->currentItem(), page.List()->topLevelItem(0));
        EXPECT_TRUE(sheet.OnOK());
        ASSERT_NE(fixture.Stored()->m_mimeMap.Find("abc"), nullptr);
        EXPECT_EQ(*fixture.Stored()->m_mimeMap.Find("abc"), "text/x-abc");
    }

    CPromptRecorder prompts;
    CSettingsSht sheet(nullptr, fixture.Context());
    auto& page = Show<CMimeTypePage>(sheet, CSettingsSht::kMime);
    page.List()->setCurrentItem(page.List()->topLevelItem(0));
    ASSERT_EQ(page.List()->currentItem()->text(0), ".abc");
    page.SetDialogRunner(MimeAnswer("ignored", "text/x-changed"));
    page.OnEdit();
    EXPECT_EQ(page.List()->topLevelItem(0)->text(1), "text/x-changed");
    prompts.QueueAnswer(true);
    page.List()->setCurrentItem(page.List()->topLevelItem(0));
    page.OnDelete();
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Are you sure you want to delete .abc"});
    EXPECT_TRUE(prompts.Prompts()[0].m_defaultNo);
    EXPECT_TRUE(sheet.OnOK());
    EXPECT_EQ(fixture.Stored()->m_mimeMap.Find("abc"), nullptr);
    EXPECT_NE(fixture.Stored()->m_mimeMap.Find("htm"), nullptr);
}

TEST(SettingsPages, EmailFieldsAsStored) {
    const struct {
        CEmailPage::EField field;
        const char* typed;
        const char* name;
        const char* stored;
    } cases[] = {
        {CEmailPage::kMaxEmailOut, "10", "EmMaxEmailOut", "50"},
        {CEmailPage::kMaxEmailOut, "50", "EmMaxEmailOut", "50"},
        {CEmailPage::kMaxEmailOut, "51", "EmMaxEmailOut", "51"},
        {CEmailPage::kAdminEmail, "  a@b", "EmAdminEmail", "a@b"},
        {CEmailPage::kHttpAddr, "host ", "GeneralHttpAddr", "http://host"},
        {CEmailPage::kHttpAddr, "", "GeneralHttpAddr", ""},
        {CEmailPage::kHttpsAddr, " secure:8443", "GeneralHttpsAddr", "https://secure:8443"},
        {CEmailPage::kHttpsAddr, "  ", "GeneralHttpsAddr", ""},
        {CEmailPage::kSmtpServer, " smtp.example ", "EmSmtpServer", "smtp.example"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " <" + c.typed + ">");
        CWindowFixture fixture(
            {"GeneralHttpAddr=http://old", "GeneralHttpsAddr=https://old", "EmMaxEmailOut=300"});
        CPromptRecorder prompts;
        CSettingsSht sheet(nullptr, fixture.Context());
        auto& page = Show<CEmailPage>(sheet, CSettingsSht::kEmail);
        EXPECT_EQ(page.Field(CEmailPage::kHttpAddr)->text(), "old");
        page.Field(c.field)->setText(c.typed);
        EXPECT_TRUE(sheet.OnOK());
        EXPECT_EQ(fixture.StoredText(c.name), std::optional<std::string>(c.stored));
    }
}

TEST(SettingsPages, CompactSaysWhatHappened) {
    CWindowFixture fixture;
    const std::string database = fixture.Root().Path("data/zr2.db");
    const struct {
        const char* label;
        const char* connect;
        std::function<void()> prepare;
        std::string prompt;
    } cases[] = {
        {"not a database file", "ODBC;DSN=other;", [] {},
         "You can only compact MS Access database files."},
        {"a file that is not there", "ODBC;DSN=zr2;", [] {},
         "Failed to compact the database file.\n" + database + ": " + FormatSystemError(ENOENT)},
        {"a database", "ODBC;DSN=zr2;",
         [&database] {
             CChildOptions options;
             options.m_searchPath = true;
             options.m_stdin = CChildStream::Null();
             CChildProcess::Run({"sqlite3", database, "CREATE TABLE t (a INTEGER);"}, options);
         },
         "Database file has been compacted."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        c.prepare();
        CPromptRecorder prompts;
        CSettingsSht sheet(nullptr, fixture.Context());
        auto& page = Show<CDbPage>(sheet, CSettingsSht::kDatabase);
        page.ConnectString()->setText(c.connect);
        page.WriteSettings();
        page.OnCompact();
        EXPECT_EQ(prompts.Texts(), std::vector<std::string>{c.prompt});
    }
}

TEST(SettingsPages, CompactRefusesWhileTheServerRuns) {
    CWindowFixture fixture;
    fixture.StartServer();
    CPromptRecorder prompts;
    CSettingsSht sheet(nullptr, fixture.Context());
    auto& page = Show<CDbPage>(sheet, CSettingsSht::kDatabase);
    page.OnCompact();
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{ConsoleMessages().msgStopBeforeCompact});
}

TEST(SettingsPages, SerializedAccessDecidesTheSharing) {
    CWindowFixture fixture;
    CSettingsSht sheet(nullptr, fixture.Context());
    auto& page = Show<CDbPage>(sheet, CSettingsSht::kDatabase);
    ASSERT_TRUE(page.Serialize()->isChecked());
    page.Serialize()->click();
    EXPECT_TRUE(page.ThreadOwn()->isChecked());
    EXPECT_FALSE(page.ThreadOwn()->isEnabled());
    page.Serialize()->click();
    EXPECT_FALSE(page.ThreadOwn()->isChecked());
    EXPECT_TRUE(page.ThreadOwn()->isEnabled());
}

TEST(SettingsPages, TheAddressListOffersTheHostsAddressesWithLoopback) {
    const struct {
        const char* configured;
        bool added;
    } cases[] = {{"127.0.0.1", false}, {"10.250.250.250", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.configured);
        CWindowFixture fixture({std::string("GeneralTcpipAddress=") + c.configured});
        CSettingsSht sheet(nullptr, fixture.Context());
        auto& page = Show<CGeneralPage>(sheet, CSettingsSht::kGeneral);
        QComboBox& list = *page.Address();
        std::vector<std::string> host;
        ASSERT_EQ(ListHostAddresses(host, HostLoopback::kInclude),
                  CServerSettings::HostListing::kListed);
        EXPECT_EQ(list.count(), static_cast<int>(host.size()) + (c.added ? 1 : 0));
        EXPECT_GE(list.findText("127.0.0.1"), 0);
        EXPECT_EQ(list.currentText(), c.configured);
        EXPECT_FALSE(page.SslPort()->isEnabled());
    }
}

TEST(SettingsPages, ChangeTakesTheChosenDataSourceWithItsTables) {
    CWindowFixture fixture;
    CChildOptions options;
    options.m_searchPath = true;
    options.m_stdin = CChildStream::Null();
    ASSERT_EQ(
        CChildProcess::Run({"sqlite3", fixture.Root().Path("data/zr2.db"),
                            std::string(".read ") + VELMORIN_SOURCE_ROOT + "/data/zr2sqlite.sql"},
                           options),
        0);

    CPromptRecorder prompts;
    CSettingsSht sheet(nullptr, fixture.Context());
    auto& page = Show<CDbPage>(sheet, CSettingsSht::kDatabase);
    std::string title;
    page.SetDialogRunner([&title](CDataSourceDlg& dialog) {
        title = dialog.windowTitle().toStdString();
        const QList<QTreeWidgetItem*> zr2 = dialog.Sources()->findItems("zr2", Qt::MatchExactly);
        EXPECT_EQ(zr2.size(), 1);
        if (zr2.isEmpty()) {
            return false;
        }
        dialog.Sources()->setCurrentItem(zr2.front());
        dialog.OnSelect();
        return true;
    });
    page.OnChange();
    EXPECT_EQ(title, "Change data source");
    EXPECT_TRUE(prompts.Prompts().empty()) << prompts.Texts().front();
    const std::string connect = page.ConnectString()->text().toStdString();
    EXPECT_EQ(connect.rfind("ODBC;DSN=zr2;", 0), 0u) << connect;
    EXPECT_NE(connect.find(fixture.Root().Path("data/zr2.db")), std::string::npos) << connect;
    EXPECT_TRUE(sheet.OnOK());
    EXPECT_EQ(fixture.Stored()->DbOdbcConnectString, connect);
}
