#include "engine/data/DataSource.h"

#include <gtest/gtest.h>

#include <thread>

#include "engine/data/DynBindSet.h"
#include "engine/foundation/SspException.h"
#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/testsupport/TestBackends.h"

namespace {

std::string RaisedText(CDataSource& ds, const char* cmd, const char* a = nullptr) {
    try {
        ds.DoCommand(cmd, a);
    } catch (const CSspException& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

int CountRows(CDataSource& ds, const std::string& sql) {
    CDynBindSet set(&ds.Connection());
    set.Open(sql);
    return set.GetColumnValue(0)->GetInteger();
}

class DataSourceTest : public ::testing::TestWithParam<CTestBackend::Kind> {
protected:
    void SetUp() override {
        std::string why;
        if (!CTestBackend::Connect(GetParam(), "zr2", &m_connect, &why)) {
            GTEST_SKIP() << why;
        }
        m_ds = std::make_unique<CDataSource>(m_connect);
        m_ds->DoCommand("Open");
        m_ds->DoCommand("ExecuteSQL", "DROP TABLE IF EXISTS t");
        m_ds->DoCommand("ExecuteSQL", "CREATE TABLE t (id INTEGER, name VARCHAR(40))");
    }

    std::string m_connect;
    std::unique_ptr<CDataSource> m_ds;
};

TEST_P(DataSourceTest, CommandNamesIgnoreCaseAndUnknownOnesAreRefused) {
    for (const char* name : {"open", "OPEN", "Open", "getdbmsinfo", "CLOSE", "oPeN"}) {
        EXPECT_EQ(m_ds->DoCommand(name), 1) << name;
    }
    EXPECT_TRUE(m_ds->IsConnected());
    EXPECT_EQ(RaisedText(*m_ds, "Opened"), "Bad datasource command: [Opened]");
    EXPECT_EQ(RaisedText(*m_ds, ""), "Bad datasource command: []");
}

TEST_P(DataSourceTest, OpenOnAConnectedSourceKeepsItsConnectionAndOpener) {
    long opener = m_ds->OpenerThread();
    SQLHDBC before = m_ds->Connection().Handle();
    std::thread other([&] { m_ds->DoCommand("Open"); });
    other.join();
    EXPECT_EQ(m_ds->OpenerThread(), opener);
    EXPECT_EQ(m_ds->Connection().Handle(), before);
    // After a close the next open reconnects and records the new opener.
    m_ds->DoCommand("Close");
    EXPECT_FALSE(m_ds->IsConnected());
    long reopener = 0;
    std::thread third([&] {
        m_ds->DoCommand("Open");
        reopener = CurrentThreadId();
    });
    third.join();
    EXPECT_TRUE(m_ds->IsConnected());
    EXPECT_EQ(m_ds->OpenerThread(), reopener);
}

TEST_P(DataSourceTest, NestedBeginTransIsRefusedUntilTheTransactionEnds) {
    m_ds->DoCommand("BeginTrans");
    EXPECT_EQ(RaisedText(*m_ds, "BeginTrans"), "Nested transactions not supported.");
    m_ds->DoCommand("Rollback");
    EXPECT_FALSE(m_ds->InTransaction());
    EXPECT_EQ(m_ds->DoCommand("BeginTrans"), 1);
    m_ds->DoCommand("CommitTrans");
    EXPECT_FALSE(m_ds->InTransaction());
}

TEST_P(DataSourceTest, RollbackDiscardsAndRestoresAutocommit) {
    m_ds->DoCommand("BeginTrans");
    m_ds->DoCommand("ExecuteSQL", "INSERT INTO t VALUES (1, 'gone')");
    m_ds->DoCommand("Rollback");
    // Outside the transaction a plain insert must commit on its own.
    m_ds->DoCommand("ExecuteSQL", "INSERT INTO t VALUES (2, 'kept')");
    m_ds->DoCommand("Close");
    m_ds->DoCommand("Open");
    EXPECT_EQ(CountRows(*m_ds, "SELECT COUNT(*) FROM t WHERE id = 1"), 0);
    EXPECT_EQ(CountRows(*m_ds, "SELECT COUNT(*) FROM t WHERE id = 2"), 1);
}

TEST_P(DataSourceTest, CommitPersistsAndRestoresAutocommit) {
    m_ds->DoCommand("BeginTrans");
    m_ds->DoCommand("ExecuteSQL", "INSERT INTO t VALUES (1, 'a')");
    m_ds->DoCommand("CommitTrans");
    m_ds->DoCommand("ExecuteSQL", "INSERT INTO t VALUES (2, 'b')");
    m_ds->DoCommand("Close");
    m_ds->DoCommand("Open");
    EXPECT_EQ(CountRows(*m_ds, "SELECT COUNT(*) FROM t"), 2);
}

TEST_P(DataSourceTest, CloseEndsAPendingTransaction) {
    m_ds->DoCommand("BeginTrans");
    m_ds->DoCommand("ExecuteSQL", "INSERT INTO t VALUES (1, 'a')");
    m_ds->DoCommand("Close");
    EXPECT_FALSE(m_ds->InTransaction());
    m_ds->DoCommand("Open");
    EXPECT_EQ(CountRows(*m_ds, "SELECT COUNT(*) FROM t"), 0);
    EXPECT_EQ(m_ds->DoCommand("BeginTrans"), 1);
    m_ds->DoCommand("Rollback");
}

TEST_P(DataSourceTest, StatementErrorsNameTheDataSource) {
    std::string text = RaisedText(*m_ds, "ExecuteSQL", "SELECT * FROM no_such_table");
    const std::string tail = " ODBC data source used: [" +
                             std::string(GetParam() == CTestBackend::kSqlite ? "zr2" : "zr2pg") +
                             "].";
    ASSERT_GT(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_NE(text.find("no_such_table"), std::string::npos) << text;
    // The failure did not cost the connection.
    EXPECT_TRUE(m_ds->IsConnected());
}

TEST_P(DataSourceTest, IdleCloseOnlyWithoutUsers) {
    m_ds->DoCommand("CloseIfNoOneUsesIt");
    EXPECT_TRUE(m_ds->IsConnected());
    m_ds->RemoveUser();
    m_ds->DoCommand("CloseIfNoOneUsesIt");
    EXPECT_FALSE(m_ds->IsConnected());
}

TEST_P(DataSourceTest, DbmsInfoConnectsFirstAndSurvivesClose) {
    m_ds->DoCommand("Close");
    std::string name = m_ds->GetDbmsName();
    EXPECT_TRUE(m_ds->IsConnected());
    EXPECT_EQ(name, GetParam() == CTestBackend::kSqlite ? "SQLite" : "PostgreSQL");
    EXPECT_FALSE(m_ds->GetDbmsVersion().empty());
    m_ds->DoCommand("Close");
    EXPECT_EQ(m_ds->GetDbmsName(), name);
}

INSTANTIATE_TEST_SUITE_P(Drivers, DataSourceTest,
                         ::testing::Values(CTestBackend::kSqlite, CTestBackend::kPostgres),
                         [](const auto& p) { return CTestBackend::Name(p.param); });

TEST(DataSourceOpen, MissingDsnSaysHowToFixItAndKeepsTheDriverText) {
    COdbcTestEnv::Dir();
    CDataSource ds("DSN=nodsn");
    std::string text = RaisedText(ds, "Open");
    const std::string head =
        "Data source [nodsn] not found. Please run Velmorin Server Console to create or select "
        "another one for Velmorin Server to store your data. ";
    ASSERT_EQ(text.substr(0, head.size()), head);
    EXPECT_GT(text.size(), head.size()) << "the driver manager's own text follows";
    EXPECT_FALSE(ds.IsConnected());
}

TEST(DataSourceOpen, UnreachableServerIsAConnectFailure) {
    if (!COdbcTestEnv::HavePostgresDriver()) {
        GTEST_SKIP() << "PostgreSQL ODBC driver not installed";
    }
    // A port nobody listens on (the probe closes it again).
    COdbcTestEnv::AddDsn("downdb", {{"Driver", "PostgreSQL"},
                                    {"Servername", "127.0.0.1"},
                                    {"Port", "1"},
                                    {"Database", "postgres"}});
    CDataSource ds("DSN=downdb");
    std::string text = RaisedText(ds, "Open");
    EXPECT_EQ(text.rfind("System failed to connect to the database. The database or network may "
                         "be down. Please retry later. ",
                         0),
              0u)
        << text;
}

TEST(DataSourceConnectString, ValueOfKey) {
    struct Case {
        const char* connect;
        const char* key;
        const char* value;
    } cases[] = {
        {"DSN=zr2", "DSN", "zr2"},
        {"DSN=zr2;UID=sa;PWD=x", "DSN", "zr2"},
        {"UID=sa;DSN=zr2", "DSN", "zr2"},
        {"UID=sa;PWD=x", "DSN", ""},
        {"dsn=zr2", "DSN", "zr2"},
        {"FILEDSN=x;DSN=y", "DSN", "y"},
        {"DSN=", "DSN", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CDataSource::GetConnectStringValue(c.connect, c.key), c.value) << c.connect;
    }
}

}  // namespace

namespace {

// Failures only a server database can produce on demand.
class DataSourcePostgresTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!CTestBackend::Connect(CTestBackend::kPostgres, "zr2", &m_connect, &why)) {
            GTEST_SKIP() << why;
        }
        m_ds = std::make_unique<CDataSource>(m_connect);
        m_ds->DoCommand("Open");
    }
    std::string m_connect;
    std::unique_ptr<CDataSource> m_ds;
};

TEST_F(DataSourcePostgresTest, LostConnectionIsReportedClosedAndReopened) {
    CDataSource killer(m_connect);
    killer.DoCommand("ExecuteSQL",
                     "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE pid <> "
                     "pg_backend_pid() AND datname = current_database()");
    std::string text = RaisedText(*m_ds, "ExecuteSQL", "SELECT 1");
    EXPECT_EQ(text,
              "System's connection to the database is broken. Please retry and the system will try "
              "to reconnect to the database. ODBC data source used: [zr2pg].");
    EXPECT_FALSE(m_ds->IsConnected());
    m_ds->DoCommand("Open");
    EXPECT_EQ(m_ds->DoCommand("ExecuteSQL", "SELECT 1"), 1);
}

TEST_F(DataSourcePostgresTest, FailedCommitRollsBackAndLeavesAutocommitOn) {
    m_ds->DoCommand("ExecuteSQL", "DROP TABLE IF EXISTS once");
    m_ds->DoCommand("ExecuteSQL",
                    "CREATE TABLE once (k INTEGER, CONSTRAINT one UNIQUE (k) DEFERRABLE "
                    "INITIALLY DEFERRED)");
    m_ds->DoCommand("BeginTrans");
    m_ds->DoCommand("ExecuteSQL", "INSERT INTO once VALUES (1)");
    m_ds->DoCommand("ExecuteSQL", "INSERT INTO once VALUES (1)");  // checked at commit
    EXPECT_EQ(RaisedText(*m_ds, "CommitTrans"), "Failed to commit transaction.");
    EXPECT_FALSE(m_ds->InTransaction());
    m_ds->DoCommand("ExecuteSQL", "INSERT INTO once VALUES (2)");
    m_ds->DoCommand("Close");
    m_ds->DoCommand("Open");
    EXPECT_EQ(CountRows(*m_ds, "SELECT COUNT(*) FROM once"), 1);
    EXPECT_EQ(CountRows(*m_ds, "SELECT COUNT(*) FROM once WHERE k = 2"), 1);
}

}  // namespace
