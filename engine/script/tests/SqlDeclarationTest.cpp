// The sql declaration end to end on an embedded SQLite database, with the run's data source
// and transactions reached through a server link as the server context provides them.
#include "engine/script/tests/SqlTestLink.h"

namespace {

using sqltest::SqlDeclarationTest;

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

    // Values that would end or open a value are braced, so they cannot add keys.
    CSspRunResult late =
        RunSspText("Local.dbType; Local.UseDataSource('zr2;Database=x.db', 'b', 'p}w');", false);
    EXPECT_EQ(late.m_code, 1);
    EXPECT_EQ(m_link->m_registered, "/script/test.zrs -> DSN={zr2;Database=x.db};UID=b;PWD={p}}w}");
    EXPECT_NE(late.m_error.find("UseDataSource can only be called before all SQL related "
                                "statements."),
              std::string::npos)
        << late.m_error;

    CSspRunResult shortText = RunSspText("Local.UseDataSource('ODBC');", false);
    EXPECT_NE(shortText.m_error.find("Invalid ODBC connection string"), std::string::npos);
}

}  // namespace
