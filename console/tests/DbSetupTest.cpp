// The data-source check and the set-up scripts on the two databases that run here.
#include "console/DbSetup.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/SqlScript.h"
#include "engine/data/DbException.h"
#include "engine/data/OdbcConnection.h"
#include "engine/data/UniqueIdGenerator.h"
#include "engine/foundation/ConnectString.h"
#include "engine/settings/ServerSettings.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/TestBackends.h"

namespace {

// Answers the dialogs from a list and records every message.
class CFakeUi : public CDbSetupUi {
public:
    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
    bool Ask(const std::string& question) override {
        m_questions.push_back(question);
        return m_answer;
    }
    bool ChooseDataSource(std::string& dsn, const std::string& message,
                          const std::string& defaultName) override {
        m_dialogMessages.push_back(message);
        m_defaultName = defaultName;
        if (m_choices.empty()) {
            return false;
        }
        dsn = m_choices.front();
        m_choices.erase(m_choices.begin());
        return true;
    }
    bool CreateTables(const std::string& info, const std::string& scriptPath,
                      COdbcConnection& db) override {
        m_info = info;
        m_script = scriptPath;
        std::string text;
        std::string error;
        if (!LoadSqlScript(scriptPath, text, error)) {
            m_messages.push_back(error);
            return false;
        }
        return m_setup->RunCreateTables(text, db, m_connect,
                                        [this](const std::string& s) { m_status.push_back(s); });
    }

    CDbSetup* m_setup = nullptr;
    std::string m_connect;
    bool m_answer = false;
    std::vector<std::string> m_questions;
    std::vector<std::string> m_status;

    std::vector<std::string> m_choices;
    std::vector<std::string> m_messages;
    std::vector<std::string> m_dialogMessages;
    std::string m_defaultName;
    std::string m_info;
    std::string m_script;
};

class DbSetupTest : public ::testing::TestWithParam<CTestBackend::Kind> {
protected:
    void SetUp() override {
        std::string why;
        if (!CTestBackend::Connect(GetParam(), "zr2setup", &m_connect, &why)) {
            GTEST_SKIP() << why;
        }
        m_dsn = ConnectStringValue(m_connect, "DSN");
        COdbcConnection db;
        db.Open(m_connect);
        for (const char* table : {"zr2_registry", "support_request", "uid_probe"}) {
            try {
                db.ExecuteSQL(std::string("DROP TABLE ") + table);
            } catch (const CDbException&) {
            }
        }
    }

    std::string Script() const {
        return std::string(VELMORIN_SOURCE_ROOT) + "/data/" +
               (GetParam() == CTestBackend::kSqlite ? "zr2sqlite.sql" : "zr2pgsql.sql");
    }

    std::string m_connect;
    std::string m_dsn;
    CFakeUi m_ui;
};

TEST_P(DbSetupTest, MissingTableScriptAndUniqueIds) {
    CDbSetup setup(VELMORIN_SOURCE_ROOT, m_ui);
    COdbcConnection db;
    db.Open(m_connect);
    EXPECT_EQ(setup.TableExists(db, "zr2_registry"), 1);
    EXPECT_TRUE(m_ui.m_messages.empty());
    EXPECT_EQ(setup.CheckRegistryTable(db, m_connect), 2);  // no table is required outside start-up

    std::string text;
    std::string error;
    ASSERT_TRUE(LoadSqlScript(Script(), text, error)) << error;
    std::vector<std::string> ran;
    ASSERT_TRUE(RunSqlScript(
        text, db, [&](const std::string& statement) { ran.push_back(statement); },
        [&](const std::string& failure) {
            ADD_FAILURE() << failure;
            return false;
        }));
    EXPECT_EQ(ran.size(), 3u);
    EXPECT_EQ(setup.TableExists(db, "zr2_registry"), 0);
    setup.SetMode(CDbSetup::kStartupMode);
    EXPECT_EQ(setup.CheckRegistryTable(db, m_connect), 0);

    // The script may run again on its tables.
    EXPECT_TRUE(RunSqlScript(
        text, db, [](const std::string&) {}, [](const std::string&) { return false; }));

    db.ExecuteSQL("CREATE TABLE uid_probe (id INTEGER)");
    CUniqueIdGenerator ids(db);
    EXPECT_EQ(ids.GetUid("uid_probe", "id", "zr2_registry"), 100);
    // The counter is read back as a number: a long-text value column would restart it.
    EXPECT_EQ(ids.GetUid("uid_probe", "id", "zr2_registry"), 101);

    // The sample's task scripts keep their last run this way on either database.
    for (const char* when : {"2026-12-10 10:00:00", "2026-12-10 11:00:00"}) {
        db.ExecuteSQL(
            "delete from zr2_registry where reg_user = 'System' and reg_section = "
            "'Tasks' and reg_key = 'SystemLastRun'");
        db.ExecuteSQL(std::string("insert into zr2_registry (reg_user, reg_section, reg_key, "
                                  "reg_value) values ('System', 'Tasks', 'SystemLastRun', '") +
                      when + "')");
    }
    EXPECT_TRUE(m_ui.m_messages.empty());
}

TEST_P(DbSetupTest, CreateTablesAsksAboutFailuresAndAMissingTable) {
    CDbSetup setup(VELMORIN_SOURCE_ROOT, m_ui);
    setup.SetMode(CDbSetup::kStartupMode);
    COdbcConnection closed;
    EXPECT_FALSE(setup.RunCreateTables("SELECT 1;", closed, m_connect, [](const std::string&) {}));
    EXPECT_EQ(m_ui.m_messages,
              (std::vector<std::string>{"Not yet connected to the database. Please cancel."}));

    COdbcConnection db;
    db.Open(m_connect);
    std::vector<std::string> status;
    auto record = [&](const std::string& s) { status.push_back(s); };
    // A failing statement: No stops there, the table stays missing.
    m_ui.m_answer = false;
    EXPECT_FALSE(setup.RunCreateTables(
        "CREATE TABLE no_such_syntax (;\r\nCREATE TABLE zr2_registry (reg_user VARCHAR(50));", db,
        m_connect, record));
    ASSERT_EQ(m_ui.m_questions.size(), 1u);
    EXPECT_TRUE(m_ui.m_questions[0].ends_with("\nWould you like to continue?"))
        << m_ui.m_questions[0];
    EXPECT_EQ(setup.TableExists(db, "zr2_registry"), 1);
    // A script that runs but makes no registry table: the question, Yes closes all the same.
    m_ui.m_answer = true;
    EXPECT_TRUE(
        setup.RunCreateTables("CREATE TABLE uid_probe (id INTEGER);", db, m_connect, record));
    EXPECT_EQ(m_ui.m_questions.back(),
              "Table: zr2_registry is still not found. \nThe Velmorin Server will not work. "
              "\n\nAre you sure you want to continue?");
    EXPECT_EQ(status.back(), "All done, click OK to continue.");
    m_ui.m_answer = false;
    EXPECT_FALSE(setup.RunCreateTables("SELECT 1 FROM uid_probe;", db, m_connect, record));
}

TEST_P(DbSetupTest, StartupCheckSavesTheCompletedString) {
    CTempFolder root;
    CServerSettings settings(root.Path(), SettingsBuild::kConsole);
    settings.DbOdbcConnectString = "ODBC;DSN=" + m_dsn + ";FRL=F";
    CDbSetup setup(VELMORIN_SOURCE_ROOT, m_ui);
    m_ui.m_setup = &setup;
    m_ui.m_connect = "DSN=" + m_dsn;
    ASSERT_TRUE(setup.StartupCheck(settings))
        << (m_ui.m_messages.empty() ? "" : m_ui.m_messages[0]);
    EXPECT_EQ(setup.Mode(), CDbSetup::kStartupMode);
    EXPECT_TRUE(m_ui.m_dialogMessages.empty());
    CServerSettings reloaded(root.Path(), SettingsBuild::kConsole);
    ASSERT_TRUE(reloaded.Load());
    EXPECT_EQ(reloaded.DbOdbcConnectString, settings.DbOdbcConnectString);
    EXPECT_TRUE(reloaded.DbOdbcConnectString.starts_with("ODBC;")) << reloaded.DbOdbcConnectString;
    EXPECT_EQ(ConnectStringValue(reloaded.DbOdbcConnectString, "DSN"), m_dsn);

    // Cancelled: the console says the data source is missing and ends.
    settings.DbOdbcConnectString = "ODBC;";
    EXPECT_FALSE(setup.StartupCheck(settings));
    EXPECT_EQ(m_ui.m_messages.back(),
              "You have not set up the data source needed by this program.\r\nPlease run this "
              "program again to set it up.");
}

TEST_P(DbSetupTest, EnsureDataSourceUntilOneOpensWithItsTables) {
    CDbSetup setup(VELMORIN_SOURCE_ROOT, m_ui);
    m_ui.m_setup = &setup;
    m_ui.m_connect = "DSN=" + m_dsn;
    setup.SetMode(CDbSetup::kStartupMode);
    m_ui.m_choices = {"nosuch", m_dsn};
    std::string connect = "DSN=nosuch";
    ASSERT_TRUE(setup.EnsureDataSource(connect));
    ASSERT_EQ(m_ui.m_dialogMessages.size(), 2u);
    EXPECT_EQ(m_ui.m_dialogMessages[0],
              "Data source nosuch not found. Please create or select another one for this "
              "program to store your data.");
    EXPECT_EQ(m_ui.m_dialogMessages[1], m_ui.m_dialogMessages[0]);
    EXPECT_EQ(m_ui.m_defaultName, "zr2");
    // The tables were missing: the kind's script ran through the Create Tables dialog.
    EXPECT_EQ(m_ui.m_script, Script());
    EXPECT_EQ(m_ui.m_info.rfind("database: ", 0), 0u) << m_ui.m_info;
    // The driver's completed string, which names the data source and more.
    EXPECT_EQ(ConnectStringValue(connect, "DSN"), m_dsn) << connect;
    EXPECT_NE(connect, "DSN=" + m_dsn);
    COdbcConnection db;
    db.Open(connect);
    EXPECT_EQ(setup.TableExists(db, "zr2_registry"), 0);

    // Cancelling ends the check.
    m_ui.m_choices.clear();
    std::string none;
    EXPECT_FALSE(setup.EnsureDataSource(none));
    EXPECT_TRUE(m_ui.m_dialogMessages.back().starts_with("Specify a data source"));
}

INSTANTIATE_TEST_SUITE_P(Backends, DbSetupTest,
                         ::testing::Values(CTestBackend::kSqlite, CTestBackend::kPostgres),
                         [](const auto& param) { return CTestBackend::Name(param.param); });

}  // namespace
