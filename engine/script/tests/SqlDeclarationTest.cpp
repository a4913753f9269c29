// The sql declaration end to end on an embedded SQLite database, with the run's data source
// and transactions reached through a server link as the server context provides them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/data/DataSource.h"
#include "engine/script/SspHarness.h"
#include "engine/script/SspServerLink.h"

namespace {

namespace fs = std::filesystem;

const char kSqliteDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

class CTestLink : public CSspServerLink {
public:
    explicit CTestLink(const std::string& database)
        : m_source("DRIVER=" + std::string(kSqliteDriver) + ";Database=" + database) {}

    CDataSource* AcquireDataSource(const std::string&) override {
        ++m_acquired;
        return &m_source;
    }
    void ReleaseDataSource(CDataSource*) override { ++m_released; }
    void SetDataSource(const std::string& url, const std::string& connection) override {
        m_registered = url + " -> " + connection;
    }
    void DataSourceCommand(CDataSource* source, std::string_view command) override {
        source->DoCommand(std::string(command).c_str());
    }
    bool InTransaction(CDataSource* source) override { return source->InTransaction(); }
    std::string DbmsName(CDataSource* source) override { return source->GetDbmsName(); }
    std::string DbmsVersion(CDataSource* source) override { return source->GetDbmsVersion(); }
    int GetUniqueId(CDataSource* source, const std::string& table, const std::string& column,
                    const std::string& registry) override {
        return source->DoCommand("GetUid", table.c_str(), column.c_str(), registry.c_str());
    }
    void CallServerMember(CSspInterpreter&, CSspCall&, CSspValue&) override {}

    CDataSource m_source;
    int m_acquired = 0;
    int m_released = 0;
    std::string m_registered;
};

class SqlDeclarationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kSqliteDriver)) {
            GTEST_SKIP() << "SQLite3 ODBC driver (libsqliteodbc) not installed";
        }
        m_db = (fs::temp_directory_path() / ("ssp-sql-" + std::to_string(::getpid()) + ".db"))
                   .string();
        fs::remove(m_db);
        m_link = std::make_unique<CTestLink>(m_db);
        CSspServerLink::Install(m_link.get());
    }
    void TearDown() override {
        CSspServerLink::Install(nullptr);
        m_link.reset();
        if (!m_db.empty()) {
            fs::remove(m_db);
        }
    }

    std::string m_db;
    std::unique_ptr<CTestLink> m_link;
};

TEST_F(SqlDeclarationTest, DeclaresRunsAndReadsRowsInALoop) {
    CSspRunResult r = RunSspText(
        "sql mk = 'create table items (id integer, name varchar(20))';\n"
        "mk.execute();\n"
        "set Local.i = 0;\n"
        "while (Local.i < 3)\n"
        "  set Local.i = Local.i + 1;\n"
        "  set Local.n = 'item' || Local.i;\n"
        "  sql ins = insert into items (id, name) values (Local.i, Local.n);\n"
        "  ins.execute();\n"
        "endwhile\n"
        "set Local.min = 1;\n"
        "sql q = select name from items where id > Local.min order by id;\n"
        "while (q.fetch() == 1) write q.name || ' '; endwhile\n",
        false);
    EXPECT_EQ(r.m_code, 0) << r.m_error;
    EXPECT_EQ(r.m_output, "item2 item3 ");
    EXPECT_EQ(m_link->m_acquired, 1);
    EXPECT_EQ(m_link->m_released, 1);
}

TEST_F(SqlDeclarationTest, UncommittedTransactionIsRolledBackAndFailsTheRun) {
    CSspRunResult setup =
        RunSspText("sql mk = 'create table t (id integer)'; mk.execute();", false);
    ASSERT_EQ(setup.m_code, 0) << setup.m_error;

    CSspRunResult open = RunSspText(
        "Local.BeginTransaction();\nsql ins = insert into t (id) values (7);\nins.execute();\n",
        false);
    EXPECT_EQ(open.m_code, 1);
    EXPECT_EQ(open.m_error, "Missing CommitTransaction(). All database changes are discarded. ");

    CSspRunResult committed = RunSspText(
        "Local.BeginTransaction();\nsql ins = insert into t (id) values (8);\nins.execute();\n"
        "Local.CommitTransaction();\n",
        false);
    EXPECT_EQ(committed.m_code, 0) << committed.m_error;

    CSspRunResult count =
        RunSspText("sql c = select id from t; while (c.fetch() == 1) write c.id; endwhile", false);
    EXPECT_EQ(count.m_output, "8");
}

TEST_F(SqlDeclarationTest, DeclarationErrors) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"sql q select 1;", "Missing = in SQL definition statement."},
        {"sql q = select 1 from t", "Missing ending ;"},
        {"array q;\nsql q = select 1 from t;",
         "The variable or function name has been used. Please choose another one: q"},
    };
    for (const Case& c : cases) {
        CSspRunResult r = RunSspText(c.text, false);
        EXPECT_EQ(r.m_code, 1) << c.text;
        EXPECT_TRUE(r.m_error.size() >= std::string(c.message).size() &&
                    r.m_error.compare(r.m_error.size() - std::string(c.message).size(),
                                      std::string::npos, c.message) == 0)
            << c.text << ": " << r.m_error;
    }
}

TEST_F(SqlDeclarationTest, UseDataSourceRegistersAndRefusesAfterSql) {
    CSspRunResult early = RunSspText("write Local.UseDataSource('ODBC;DSN=x');", false);
    EXPECT_EQ(early.m_output, "1");
    EXPECT_EQ(m_link->m_registered, "/script/test.zrs -> DSN=x");

    CSspRunResult late = RunSspText("Local.dbType; Local.UseDataSource('a', 'b', 'c');", false);
    EXPECT_EQ(late.m_code, 1);
    EXPECT_EQ(m_link->m_registered, "/script/test.zrs -> DSN=a;UID=b;PWD=c");
    EXPECT_NE(late.m_error.find("UseDataSource can only be called before all SQL related "
                                "statements."),
              std::string::npos)
        << late.m_error;

    CSspRunResult shortText = RunSspText("Local.UseDataSource('ODBC');", false);
    EXPECT_NE(shortText.m_error.find("Invalid ODBC connection string"), std::string::npos);
}

}  // namespace
