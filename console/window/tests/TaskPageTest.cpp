// The Tasks page and the task dialog: the rows and what they rebuild, deletion, the dialog's
// refusals, and the Email Sender's row.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "console/window/FileChoice.h"
#include "console/window/SettingsSht.h"
#include "console/window/TaskDlg.h"
#include "console/window/TaskPage.h"
#include "console/window/TaskTimes.h"
#include "console/window/tests/PromptRecorder.h"
#include "console/window/tests/ShowPage.h"
#include "console/window/tests/WindowFixture.h"
#include "engine/testsupport/ScopedLocale.h"

TEST(TaskPage, RowsRebuildTheirSchedule) {
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

TEST(TaskPage, EveryMinuteOfTheDayPrintsAndParsesBack) {
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

TEST(TaskPage, DeletionSparesTheSystemTasks) {
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

TEST(TaskPage, ANewTaskIsSavedWithItsSchedule) {
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

TEST(TaskPage, DialogRefusals) {
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

TEST(TaskPage, EditingTheEmailSenderKeepsItsScriptAndDayChoiceDisabled) {
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

TEST(TaskPage, TheDialogsBrowseLooksForScriptsInTheWebRoot) {
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
