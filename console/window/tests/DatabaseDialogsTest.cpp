// The Create Tables dialog on a fresh SQLite database and the data-source dialog over the
// test's own ODBC ini files.
#include <odbcinst.h>
#include <sqlite3.h>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>

#include <gtest/gtest.h>

#include "console/DataSourceSetup.h"
#include "console/DataSources.h"
#include "console/DbSetup.h"
#include "console/tests/LiveZr2.h"
#include "console/window/CreateTablesDlg.h"
#include "console/window/DataSourceDlg.h"
#include "console/window/DataSourceForm.h"
#include "console/window/WindowDbSetupUi.h"
#include "console/window/tests/PromptRecorder.h"
#include "engine/data/OdbcConnection.h"
#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/testsupport/ScopedEnv.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

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

// The data-source dialogs over an installation's own odbc.ini that already holds the live
// data source zr2.
class LiveDataSource : public DatabaseDialogs {
protected:
    void SetUp() override {
        DatabaseDialogs::SetUp();
        std::filesystem::create_directories(m_root.File("etc"));
        m_env.Set("ODBCINI", Ini().c_str());
    }
    std::string Ini() const { return m_root.File("etc/odbc.ini"); }
    void SelectDriver(CDataSourceDlg& dialog, const char* driver) {
        const QList<QTreeWidgetItem*> found = dialog.Drivers()->findItems(driver, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        dialog.Drivers()->setCurrentItem(found.front());
    }

    CTempFolder m_root;
    CScopedEnv m_env;
};

long long RowCount(const std::string& file, const std::string& table) {
    sqlite3* db = nullptr;
    long long count = -1;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        const std::string sql = "SELECT COUNT(*) FROM " + table;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            count = sqlite3_column_int64(stmt, 0);
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return count;
}

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

TEST_F(DatabaseDialogs, CreateTablesCannotRunTwiceFromASecondClick) {
    const std::string connect = COdbcTestEnv::AddSqliteDsn("tables_twice");
    COdbcConnection db;
    db.Open(connect);
    CPromptRecorder prompts(true);
    CWindowDbSetupUi ui(nullptr, VELMORIN_SOURCE_ROOT);
    CDbSetup setup(VELMORIN_SOURCE_ROOT, ui);
    ui.SetDbSetup(&setup);
    setup.SetMode(CDbSetup::kStartupMode);
    CCreateTablesDlg dialog(nullptr, setup, db, "database: default user: ", "");
    std::string script =
        "CREATE TABLE IF NOT EXISTS zr2_registry (a INTEGER);\n"
        "CREATE TABLE IF NOT EXISTS counted (n INTEGER);\n";
    for (int i = 0; i < 20; ++i) {
        script += "INSERT INTO counted VALUES (" + std::to_string(i) + ");\n";
    }
    dialog.Script()->setPlainText(QString::fromStdString(script));
    int rejected = 0;
    QObject::connect(&dialog, &QDialog::rejected, [&rejected] { ++rejected; });
    bool clicked = false;
    bool okEnabled = true;
    bool cancelEnabled = true;
    // Fires from the status line's event pumping, while the script runs.
    QTimer::singleShot(0, &dialog, [&] {
        clicked = true;
        okEnabled = dialog.OkButton()->isEnabled();
        cancelEnabled = dialog.CancelButton()->isEnabled();
        dialog.OkButton()->click();
        dialog.CancelButton()->click();
        dialog.reject();
    });
    EXPECT_TRUE(dialog.OnOK());
    ASSERT_TRUE(clicked);
    EXPECT_FALSE(okEnabled);
    EXPECT_FALSE(cancelEnabled);
    EXPECT_EQ(rejected, 0);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.Prompts().empty()) << prompts.Texts().front();
    db.Close();
    EXPECT_EQ(RowCount(COdbcTestEnv::Dir() + "/tables_twice.db", "counted"), 20);
    EXPECT_TRUE(dialog.OkButton()->isEnabled());
    EXPECT_TRUE(dialog.CancelButton()->isEnabled());
}

TEST_F(LiveDataSource, CreateOverANameInUseAsksAndNoKeepsTheSectionWhole) {
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "yes" : "no");
        const std::string live = WriteLiveZr2(Ini(), "/srv/v/data/zr2.db");
        CPromptRecorder prompts;
        prompts.QueueAnswer(yes);
        CDataSourceDlg dialog(nullptr, m_root.Path(), "", "zr2", "why");
        SelectDriver(dialog, "SQLite3");
        std::string suggested;
        dialog.SetFormRunner([&](CDataSourceForm& form) {
            suggested = form.NameEdit()->text().toStdString();
            form.NameEdit()->setText("zr2");
            form.Field("Database")->setText(QString::fromStdString(m_root.File("empty.db")));
            return true;
        });
        dialog.OnCreate();
        EXPECT_FALSE(DataSourceExists(suggested)) << suggested;
        EXPECT_EQ(suggested.rfind("zr2", 0), 0u) << suggested;
        ASSERT_EQ(prompts.Prompts().size(), 1u);
        EXPECT_EQ(prompts.Prompts()[0].m_kind, EPromptKind::kQuestion);
        EXPECT_TRUE(prompts.Prompts()[0].m_defaultNo);
        EXPECT_EQ(prompts.Texts()[0], ReplaceDataSourceQuestion("zr2"));
        if (!yes) {
            EXPECT_EQ(ReadFile(Ini()), live);
            EXPECT_EQ(dialog.Current(), "");
            continue;
        }
        EXPECT_EQ(DataSourceAttribute("zr2", "Database"), m_root.File("empty.db"));
        EXPECT_EQ(DataSourceAttribute("zr2", "Timeout"), "10000");
        EXPECT_EQ(DataSourceAttribute("zr2", "JournalMode"), "WAL");
        EXPECT_EQ(dialog.Current(), "zr2");
    }
}

TEST_F(LiveDataSource, CreateDefaultNeverReplacesWithoutAsking) {
    const std::string ownDatabase = m_root.File("data/zr2.db");
    const struct {
        const char* label;
        std::string database;
        bool answer;
        bool asked;
        std::string databaseAfter;
    } cases[] = {
        {"another database, no", "/srv/v/data/zr2.db", false, true, "/srv/v/data/zr2.db"},
        {"another database, yes", "/srv/v/data/zr2.db", true, true, ownDatabase},
        {"already the default", ownDatabase, false, false, ownDatabase},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string live = WriteLiveZr2(Ini(), c.database);
        CPromptRecorder prompts;
        prompts.QueueAnswer(c.answer);
        CDataSourceDlg dialog(nullptr, m_root.Path(), "", "zr2", "why");
        dialog.OnCreateDefault();
        EXPECT_EQ(prompts.Texts(), c.asked
                                       ? std::vector<std::string>{ReplaceDataSourceQuestion("zr2")}
                                       : std::vector<std::string>{});
        EXPECT_EQ(DataSourceAttribute("zr2", "Database"), c.databaseAfter);
        EXPECT_EQ(DataSourceAttribute("zr2", "Timeout"), "10000");
        EXPECT_EQ(DataSourceAttribute("zr2", "JournalMode"), "WAL");
        if (!c.answer && c.asked) {
            EXPECT_EQ(ReadFile(Ini()), live);
        }
        EXPECT_EQ(dialog.Current(), c.asked && !c.answer ? "" : "zr2");
    }
}
