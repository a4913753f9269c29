// The pages of the settings sheet: what each stores, what each refuses, and the two small
// dialogs of the MIME map and the tasks.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "console/ConsoleMessages.h"
#include "console/window/DataSourceDlg.h"
#include "console/window/DbPage.h"
#include "console/window/EmailPage.h"
#include "console/window/FileChoice.h"
#include "console/window/GeneralPage.h"
#include "console/window/MimeTypeDlg.h"
#include "console/window/MimeTypePage.h"
#include "console/window/SettingsSht.h"
#include "console/window/TaskDlg.h"
#include "console/window/TaskPage.h"
#include "console/window/TaskTimes.h"
#include "console/window/tests/PromptRecorder.h"
#include "console/window/tests/WindowFixture.h"
#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/ScopedLocale.h"
#include "engine/testsupport/WholeFile.h"

namespace {

template <typename Page>
Page& Show(CSettingsSht& sheet, CSettingsSht::EPage page) {
    sheet.ShowPage(page);
    return *static_cast<Page*>(sheet.Page(page));
}

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

TEST(SettingsPages, TaskRowsRebuildTheirSchedule) {
    CScopedLocale locale("en_US.UTF-8");
    const struct {
        const char* every;
        std::string at;
        int32_t code;
        int64_t seconds;
    } cases[] = {
        {"Monday", TimeOfDayText(6 * 3600), 42, 21600},
        {"Day", TimeOfDayText(0), CTaskEntry::kEveryDay, 0},
        {"Sunday", TimeOfDayText(23 * 3600 + 59 * 60), CTaskEntry::kSunday, 86340},
        {"30 minute(s)", "", CTaskEntry::kInterval, 1800},
        {"Monday", "no time", 42, 0},
    };
    for (const auto& c : cases) {
        const CTaskEntry task = TaskFromRow("T", "Enabled", "/s.zrs", c.every, c.at);
        EXPECT_EQ(task.m_dayCode, c.code) << c.every << " " << c.at;
        EXPECT_EQ(task.m_interval, c.seconds) << c.every << " " << c.at;
        EXPECT_TRUE(task.m_enabled);
    }
}

TEST(SettingsPages, EveryMinuteOfTheDayPrintsAndParsesBack) {
    for (const char* name : {"en_US.UTF-8", "de_DE.UTF-8"}) {
        CScopedLocale locale(name);
        for (int64_t minute = 0; minute < 1440; ++minute) {
            int64_t seconds = -1;
            ASSERT_TRUE(ParseTimeOfDay(TimeOfDayText(minute * 60), seconds)) << name << minute;
            ASSERT_EQ(seconds, minute * 60) << name << " " << TimeOfDayText(minute * 60);
        }
        int64_t seconds = 0;
        EXPECT_FALSE(ParseTimeOfDay("", seconds));
        EXPECT_FALSE(ParseTimeOfDay("  ", seconds));
    }
}

TEST(SettingsPages, TaskDeletionSparesTheSystemTasks) {
    CWindowFixture fixture;
    CPromptRecorder prompts;
    CSettingsSht sheet(nullptr, fixture.Context());
    auto& page = Show<CTaskPage>(sheet, CSettingsSht::kTasks);
    ASSERT_EQ(page.List()->topLevelItemCount(), 6);
    page.SetDialogRunner([](CTaskDlg& dialog) {
        dialog.Name()->setText("Nightly");
        dialog.Script()->setText("/x.zrs");
        dialog.Interval()->setText("15");
        return dialog.OnOK();
    });
    page.OnNew();
    ASSERT_EQ(page.List()->topLevelItemCount(), 7);
    EXPECT_EQ(page.List()->topLevelItem(6)->text(CTaskPage::kEvery), "15 minute(s)");

    page.List()->setCurrentItem(page.List()->topLevelItem(5));
    page.OnDelete();
    EXPECT_EQ(prompts.Texts(),
              std::vector<std::string>{"Tasks 1 to 6 are system tasks and can not be deleted"});
    EXPECT_EQ(page.List()->topLevelItemCount(), 7);
    page.List()->setCurrentItem(page.List()->topLevelItem(6));
    page.OnDelete();
    EXPECT_EQ(page.List()->topLevelItemCount(), 6);
    EXPECT_EQ(page.List()->currentItem(), page.List()->topLevelItem(5));
    page.List()->setCurrentItem(nullptr);
    page.OnDelete();
    EXPECT_EQ(prompts.Texts().back(), "Please select the task to edit.");
}

TEST(SettingsPages, ANewTaskIsSavedWithItsSchedule) {
    CScopedLocale locale("en_US.UTF-8");
    CWindowFixture fixture;
    CPromptRecorder prompts;
    CSettingsSht sheet(nullptr, fixture.Context());
    auto& page = Show<CTaskPage>(sheet, CSettingsSht::kTasks);
    page.SetDialogRunner([](CTaskDlg& dialog) {
        dialog.Name()->setText("Weekly report");
        dialog.Script()->setText("/report.zrs");
        dialog.Mode()->button(CTaskFields::kDayAndTime)->click();
        dialog.Day()->setCurrentText("Monday");
        dialog.Time()->setEditText(QString::fromStdString(TimeOfDayText(0)));
        return dialog.OnOK();
    });
    page.OnNew();
    EXPECT_TRUE(sheet.OnOK()) << (prompts.Texts().empty() ? "" : prompts.Texts().front());
    const auto stored = fixture.Stored();
    ASSERT_EQ(stored->m_tasks.size(), 7u);
    EXPECT_EQ(stored->m_tasks[6].m_name, "Weekly report");
    EXPECT_EQ(stored->m_tasks[6].m_dayCode, 42);
    EXPECT_EQ(stored->m_tasks[6].m_interval, 0);
}

TEST(SettingsPages, TaskDialogRefusals) {
    CScopedLocale locale("en_US.UTF-8");
    const struct {
        const char* label;
        std::function<void(CTaskDlg&)> fill;
        std::string refusal;
    } cases[] = {
        {"no name", [](CTaskDlg& d) { d.Name()->clear(); }, "Please enter task name."},
        {"no script", [](CTaskDlg& d) { d.Script()->clear(); }, "Please enter script name."},
        {"interval 0", [](CTaskDlg& d) { d.Interval()->setText("0"); },
         "Please enter an interval between 1 and 1440 minutes."},
        {"interval 1441", [](CTaskDlg& d) { d.Interval()->setText("1441"); },
         "Please enter an interval between 1 and 1440 minutes."},
        {"interval 1440", [](CTaskDlg& d) { d.Interval()->setText("1440"); }, ""},
        {"interval 1", [](CTaskDlg& d) { d.Interval()->setText("1"); }, ""},
        {"no time",
         [](CTaskDlg& d) {
             d.Mode()->button(CTaskFields::kDayAndTime)->click();
             d.Time()->setEditText("");
         },
         "Please select or enter the time for this task to run."},
        {"an unreadable time",
         [](CTaskDlg& d) {
             d.Mode()->button(CTaskFields::kDayAndTime)->click();
             d.Time()->setEditText("half past");
         },
         "Please select or enter the time for this task to run."},
        {"midnight",
         [](CTaskDlg& d) {
             d.Mode()->button(CTaskFields::kDayAndTime)->click();
             d.Time()->setEditText(QString::fromStdString(TimeOfDayText(0)));
         },
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CPromptRecorder prompts;
        CTaskFields fields;
        fields.m_name = "Task";
        fields.m_script = "/t.zrs";
        fields.m_mode = CTaskFields::kInterval;
        fields.m_day = "Day";
        CTaskDlg dialog(nullptr, fields, "/root");
        c.fill(dialog);
        EXPECT_EQ(dialog.OnOK(), c.refusal.empty());
        EXPECT_EQ(prompts.Texts(), c.refusal.empty() ? std::vector<std::string>{}
                                                     : std::vector<std::string>{c.refusal});
        EXPECT_EQ(dialog.result(), c.refusal.empty() ? QDialog::Accepted : QDialog::Rejected);
    }
}

TEST(SettingsPages, EditingTheEmailSenderKeepsItsScriptAndDayChoiceDisabled) {
    CWindowFixture fixture;
    CSettingsSht sheet(nullptr, fixture.Context());
    auto& page = Show<CTaskPage>(sheet, CSettingsSht::kTasks);
    for (const int row : {0, 1, 13}) {
        SCOPED_TRACE(row);
        if (row == 13) {
            while (page.List()->topLevelItemCount() < 14) {
                page.SetDialogRunner([](CTaskDlg& dialog) {
                    dialog.Name()->setText("More");
                    dialog.Script()->setText("/m.zrs");
                    return dialog.OnOK();
                });
                page.OnNew();
            }
        }
        bool shown = false;
        page.SetDialogRunner([&](CTaskDlg& dialog) {
            shown = true;
            const bool sender = row == 0;
            EXPECT_EQ(dialog.windowTitle(), "Edit Background Task");
            EXPECT_EQ(dialog.Script()->isEnabled(), !sender);
            EXPECT_EQ(dialog.Browse()->isEnabled(), !sender);
            EXPECT_EQ(dialog.Mode()->button(CTaskFields::kDayAndTime)->isEnabled(), !sender);
            EXPECT_EQ(dialog.Name()->isEnabled(), row >= CTaskPage::kNamedRows);
            return false;
        });
        page.List()->setCurrentItem(page.List()->topLevelItem(row));
        page.OnEdit();
        EXPECT_TRUE(shown);
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
         "Failed to compact the database file.\n"},
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
        ASSERT_EQ(prompts.Texts().size(), 1u);
        EXPECT_EQ(prompts.Texts()[0].rfind(c.prompt, 0), 0u) << prompts.Texts()[0];
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

TEST(SettingsPages, TheTaskDialogsBrowseLooksForScriptsInTheWebRoot) {
    CTaskFields fields;
    fields.m_name = "Task";
    fields.m_script = "/old.zrs";
    CTaskDlg dialog(nullptr, fields, "/inst");
    std::vector<CFileChoice> choices;
    const FileChooser previous = SetFileChooser([&choices](const CFileChoice& choice) {
        choices.push_back(choice);
        return std::optional<std::string>("/inst/webroot/script/new.zrs");
    });
    dialog.OnBrowse();
    SetFileChooser(previous);
    ASSERT_EQ(choices.size(), 1u);
    EXPECT_EQ(choices[0].m_title, "Select a Script");
    EXPECT_EQ(choices[0].m_folder, "/inst/webroot");
    EXPECT_EQ(choices[0].m_fileName, "/old.zrs");
    EXPECT_EQ(choices[0].m_patterns, std::vector<std::string>{"*.zrs"});
    EXPECT_TRUE(choices[0].m_mustExist);
    EXPECT_EQ(dialog.Script()->text(), "/inst/webroot/script/new.zrs");
}
