// The Create Tables dialog on a fresh SQLite database and the data-source dialog over the
// test's own ODBC ini files.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "console/DataSources.h"
#include "console/DbSetup.h"
#include "console/window/CreateTablesDlg.h"
#include "console/window/DataSourceDlg.h"
#include "console/window/DataSourceForm.h"
#include "console/window/WindowDbSetupUi.h"
#include "console/window/tests/PromptRecorder.h"
#include "engine/data/OdbcConnection.h"
#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/testsupport/TempFolder.h"

namespace {

class DatabaseDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        COdbcTestEnv::Dir();
        if (!COdbcTestEnv::HaveSqliteDriver()) {
            GTEST_SKIP() << "no SQLite ODBC driver";
        }
    }
};

bool HasTable(COdbcConnection& db, const std::string& table) {
    CWindowDbSetupUi ui(nullptr, "");
    CDbSetup setup(VELMORIN_SOURCE_ROOT, ui);
    return setup.TableExists(db, table) == 0;
}

}  // namespace

TEST_F(DatabaseDialogs, CreateTablesRunsTheSqliteScriptAndClosesWithOk) {
    const std::string connect = COdbcTestEnv::AddSqliteDsn("tables_ok");
    COdbcConnection db;
    db.Open(connect);
    CPromptRecorder prompts;
    CWindowDbSetupUi ui(nullptr, VELMORIN_SOURCE_ROOT);
    CDbSetup setup(VELMORIN_SOURCE_ROOT, ui);
    ui.SetDbSetup(&setup);
    setup.SetMode(CDbSetup::kStartupMode);
    CCreateTablesDlg dialog(nullptr, setup, db,
                            "database: default user: ", setup.ScriptFor("Sqlite"));
    EXPECT_TRUE(dialog.Script()->toPlainText().contains("zr2_registry"));
    EXPECT_TRUE(dialog.OnOK());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Status()->text(), "All done, click OK to continue.");
    EXPECT_TRUE(prompts.Prompts().empty()) << prompts.Texts().front();
    EXPECT_TRUE(HasTable(db, "zr2_registry"));
}

TEST_F(DatabaseDialogs, AFailingStatementAsksAndNoKeepsTheDialogOpen) {
    const std::string connect = COdbcTestEnv::AddSqliteDsn("tables_fail");
    COdbcConnection db;
    db.Open(connect);
    CPromptRecorder prompts(false);
    CWindowDbSetupUi ui(nullptr, VELMORIN_SOURCE_ROOT);
    CDbSetup setup(VELMORIN_SOURCE_ROOT, ui);
    ui.SetDbSetup(&setup);
    setup.SetMode(CDbSetup::kStartupMode);
    CCreateTablesDlg dialog(nullptr, setup, db, "database: default user: ", "");
    dialog.Script()->setPlainText(
        "CREATE TABLE first_one (a INTEGER);\nCREATE TABLE (;\n"
        "CREATE TABLE never_reached (a INTEGER);\n");
    EXPECT_FALSE(dialog.OnOK());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(prompts.Prompts().size(), 1u);
    EXPECT_EQ(prompts.Prompts()[0].m_kind, EPromptKind::kQuestion);
    EXPECT_TRUE(prompts.Texts()[0].ends_with("\nWould you like to continue?"))
        << prompts.Texts()[0];
    EXPECT_TRUE(HasTable(db, "first_one"));
    EXPECT_FALSE(HasTable(db, "never_reached"));
}

TEST_F(DatabaseDialogs, TitlesAndButtonsFollowWhyTheDialogOpens) {
    const struct {
        const char* current;
        const char* defaultName;
        const char* title;
        bool createDefault;
        bool ok;
    } cases[] = {
        {"", "", "Create data source", false, false},
        {"zr2", "zr2", "Change data source", true, true},
        {"", "zr2", "Set up data source", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        CTempFolder root;
        CPromptRecorder prompts;
        CDataSourceDlg dialog(nullptr, root.Path(), c.current, c.defaultName, "why");
        EXPECT_EQ(dialog.windowTitle(), c.title);
        EXPECT_EQ(dialog.CreateDefaultButton()->isVisibleTo(&dialog), c.createDefault);
        EXPECT_EQ(dialog.CurrentGroup()->title(),
                  c.createDefault ? "Current data source" : "New data source");
        EXPECT_EQ(dialog.OkButton()->isEnabled(), c.ok);
        EXPECT_GT(dialog.Drivers()->topLevelItemCount(), 0);
    }
}

TEST_F(DatabaseDialogs, CreateDefaultMakesTheConsolesDataSource) {
    CTempFolder root;
    CPromptRecorder prompts;
    CDataSourceDlg dialog(nullptr, root.Path(), "", "zr2", "why");
    dialog.OnCreateDefault();
    EXPECT_TRUE(prompts.Prompts().empty()) << prompts.Texts().front();
    EXPECT_EQ(dialog.Current(), "zr2");
    EXPECT_TRUE(dialog.OkButton()->isEnabled());
    EXPECT_EQ(GetDsnKind("zr2"), "Sqlite");
    EXPECT_EQ(DataSourceAttribute("zr2", "Database"), root.Path() + "/data/zr2.db");
}

TEST_F(DatabaseDialogs, CreateWithOurFormAndSelect) {
    CTempFolder root;
    CPromptRecorder prompts;
    CDataSourceDlg dialog(nullptr, root.Path(), "", "", "why");
    QTreeWidget& drivers = *dialog.Drivers();
    const QList<QTreeWidgetItem*> sqlite = drivers.findItems("SQLite3", Qt::MatchExactly);
    ASSERT_EQ(sqlite.size(), 1);
    drivers.setCurrentItem(sqlite.front());
    dialog.SetFormRunner([&root](CDataSourceForm& form) {
        EXPECT_NE(form.Field("Database"), nullptr);
        EXPECT_EQ(form.Field("Servername"), nullptr);
        form.NameEdit()->setText("mine");
        form.Field("Database")->setText(QString::fromStdString(root.File("mine.db")));
        return true;
    });
    dialog.OnCreate();
    EXPECT_TRUE(prompts.Prompts().empty()) << prompts.Texts().front();
    EXPECT_EQ(dialog.Current(), "mine");
    EXPECT_EQ(DataSourceAttribute("mine", "Database"), root.File("mine.db"));
    EXPECT_FALSE(dialog.Sources()->findItems("mine", Qt::MatchExactly).isEmpty());

    dialog.Sources()->setCurrentItem(nullptr);
    dialog.OnSelect();
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Please select driver type first."});
    dialog.Sources()->setCurrentItem(dialog.Sources()->findItems("mine", Qt::MatchExactly).front());
    dialog.OnSelect();
    EXPECT_EQ(dialog.Current(), "mine");
}

TEST(DataSourceForm, FieldsByDriverKind) {
    EXPECT_EQ(CDataSourceForm::FieldsFor("Sqlite"), std::vector<std::string>{"Database"});
    EXPECT_EQ(CDataSourceForm::FieldsFor("Postgres"),
              (std::vector<std::string>{"Servername", "Port", "Database", "Username", "Password"}));
    CDataSourceForm form(nullptr, "Oracle", "ora", true, {{"Server", "db1"}});
    EXPECT_FALSE(form.NameEdit()->isEnabled());
    ASSERT_NE(form.Rows(), nullptr);
    form.Rows()->setPlainText("Server = db2\nno equals sign\nUser=scott\n");
    EXPECT_EQ(form.Attributes(),
              (std::map<std::string, std::string>{{"Server", "db2"}, {"User", "scott"}}));
}

TEST_F(DatabaseDialogs, ConfigureEditsTheChosenDataSource) {
    CTempFolder root;
    COdbcTestEnv::AddDsn("conf_me", {{"Driver", "SQLite3"}, {"Database", root.File("old.db")}});
    CPromptRecorder prompts;
    CDataSourceDlg dialog(nullptr, root.Path(), "conf_me", "zr2", "why");
    dialog.SetFormRunner([&root](CDataSourceForm& form) {
        EXPECT_FALSE(form.NameEdit()->isEnabled());
        EXPECT_EQ(form.Field("Database")->text().toStdString(), root.File("old.db"));
        form.Field("Database")->setText(QString::fromStdString(root.File("new.db")));
        return true;
    });
    dialog.OnConfigure();
    EXPECT_TRUE(prompts.Prompts().empty()) << prompts.Texts().front();
    EXPECT_EQ(DataSourceAttribute("conf_me", "Database"), root.File("new.db"));

    CDataSourceDlg unknown(nullptr, root.Path(), "nowhere", "zr2", "why");
    unknown.OnConfigure();
    ASSERT_EQ(prompts.Texts().size(), 1u);
    EXPECT_EQ(prompts.Texts()[0].rfind("System did not find nowhere", 0), 0u) << prompts.Texts()[0];
}
