#include "engine/data/SspSql.h"

#include <gtest/gtest.h>

#include "engine/data/DataSource.h"
#include "engine/data/SqlInjectionGuard.h"
#include "engine/data/tests/SqlTestHost.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/testsupport/TestBackends.h"

namespace {

class SspSqlTest : public ::testing::TestWithParam<CTestBackend::Kind> {
protected:
    void SetUp() override {
        std::string connect, why;
        if (!CTestBackend::Connect(GetParam(), "zr2", &connect, &why)) {
            GTEST_SKIP() << why;
        }
        m_ds = std::make_unique<CDataSource>(connect);
        m_ds->DoCommand("Open");
        m_host = std::make_unique<CSqlTestHost>(m_ds.get());
        for (const char* table : {"items", "t", "sales"}) {
            Exec(std::string("DROP TABLE IF EXISTS ") + table);
        }
        Exec("CREATE TABLE items (name VARCHAR(20), price INTEGER, cost DECIMAL(8,2))");
        for (const char* row :
             {"('pen', 3, 1.5)", "('ink', 9, 2.25)", "('pad', 6, NULL)", "('cap', 12, 4)"}) {
            Exec(std::string("INSERT INTO items VALUES ") + row);
        }
    }
    void Exec(const std::string& sql) { m_ds->DoCommand("ExecuteSQL", sql.c_str()); }
    CSspValue Call(CSspSql& q, const std::string& m, const std::vector<std::string>& a = {}) {
        return m_host->Call(q, m, a);
    }
    std::string Error(CSspSql& q, const std::string& m, const std::vector<std::string>& a = {}) {
        try {
            Call(q, m, a);
        } catch (const CSspException& e) {
            return e.Message();
        }
        return "(nothing raised)";
    }
    // Every row as "c0|c1|..." after fetching to the end.
    std::vector<std::string> Rows(CSspSql& q, int columns) {
        std::vector<std::string> rows;
        while (Call(q, "fetch").GetInteger() == 1) {
            std::string row;
            for (int c = 0; c < columns; ++c) {
                row += (c ? "|" : "") + Call(q, std::to_string(c)).GetText();
            }
            rows.push_back(row);
            if (rows.size() > 100) {
                break;
            }
        }
        return rows;
    }
    int Count(const std::string& where) {
        CSspSql& c = m_host->Declare("c", "select count(*) from items where " + where);
        return Call(c, "0").GetInteger();
    }

    std::unique_ptr<CDataSource> m_ds;
    std::unique_ptr<CSqlTestHost> m_host;
};

TEST_P(SspSqlTest, SelectIsRebuiltWithLiteralsAndFetchedOncePerRow) {
    m_host->m_locals["min"] = CSspValue::FromInteger(5);
    CSspSql& q =
        m_host->Declare("q", "select name, price from items where price > Local.min order by name");
    EXPECT_EQ(Rows(q, 2), (std::vector<std::string>{"cap|12", "ink|9", "pad|6"}));
    EXPECT_EQ(q.Sql(), "select name , price from items WHERE price > 5 order by name");
    EXPECT_EQ(Call(q, "sql").GetText(), q.Sql());
    EXPECT_EQ(Call(q, "fetch").GetInteger(), 0) << "stays at the end";
    EXPECT_EQ(Call(q, "ColumnCount").GetInteger(), 2);
}

TEST_P(SspSqlTest, WhereValuesTakeTheirColumnsTypes) {
    m_host->m_locals["none"] = CSspValue();
    m_host->m_locals["pattern"] = CSspValue::FromText("p%");
    m_host->m_locals["quoted"] = CSspValue::FromText("o'brien");
    m_host->m_locals["num"] = CSspValue::FromText("6");
    m_host->m_locals["attack"] = CSspValue::FromText("1 or 1=1");
    struct Case {
        const char* where;
        const char* rebuilt;
    } cases[] = {
        {"cost = Local.none", "cost IS NULL"},
        {"cost == Local.none", "cost IS NULL"},
        {"cost <> Local.none", "cost IS NOT NULL"},
        {"cost != Local.none", "cost IS NOT NULL"},
        {"name like Local.pattern and price > 3", "name like 'p%' and price > 3"},
        {"name = Local.quoted", "name = 'o''brien'"},
        {"price = Local.num", "price = 6"},  // text into an integer column
        {"(price > 3 or name = 'ink') and price < 10",
         "( price > 3 or name = 'ink' ) and price < 10"},
        {"not price = 6", "not price = 6"},
        {"upper(name) = 'PEN'", "upper ( name ) = 'PEN'"},  // no column: the value's own type
    };
    for (const Case& c : cases) {
        CSspSql& q = m_host->Declare("q", std::string("select name from items where ") + c.where);
        Call(q, "execute");
        EXPECT_EQ(q.Sql(), std::string("select name from items WHERE ") + c.rebuilt) << c.where;
    }
    CSspSql& bad = m_host->Declare("q", "select name from items where cost = Local.attack");
    if (GetParam() == CTestBackend::kPostgres) {
        EXPECT_EQ(Error(bad, "execute"), "Invalid token: 1 or 1=1");
    } else {
        // SQLite's catalogue does not type the column as a decimal: the
        // value stays quoted text.
        Call(bad, "execute");
        EXPECT_EQ(bad.Sql(), "select name from items WHERE cost = '1 or 1=1'");
    }
    CSspSql& noColumn = m_host->Declare("q", "select name from items where price > 1 and");
    EXPECT_EQ(Error(noColumn, "execute"), "Missing column name.");
    CSspSql& noOperand = m_host->Declare("q", "select name from items where price >");
    EXPECT_EQ(Error(noOperand, "execute"), "Missing operand.");
    CSspSql& noFrom = m_host->Declare("q", "select name");
    EXPECT_EQ(Error(noFrom, "execute"), "Missing FROM.");
}

TEST_P(SspSqlTest, WhereColumnsOfAJoinAreTypedFromTheirOwnTable) {
    Exec("DROP TABLE IF EXISTS stock");
    Exec("CREATE TABLE stock (item VARCHAR(20), qty INTEGER)");
    Exec("INSERT INTO stock VALUES ('pen', 40)");
    m_host->m_locals["q"] = CSspValue::FromText("30");
    CSspSql& q = m_host->Declare(
        "q", "select name, qty from items, stock where qty > Local.q order by name");
    EXPECT_EQ(Call(q, "fetch").GetInteger(), 1);
    EXPECT_EQ(q.Sql(), "select name , qty from items , stock WHERE qty > 30 order by name");
    EXPECT_EQ(Call(q, "qty").GetInteger(), 40);
}

// A double or decimal with more than six decimals finds its row: every digit reaches SQL.
TEST_P(SspSqlTest, WhereDoublesKeepEveryDigit) {
    Exec("DROP TABLE IF EXISTS m");
    Exec("CREATE TABLE m (id INTEGER, d DOUBLE PRECISION)");
    Exec("INSERT INTO m VALUES (1, 0.1234567)");
    const CSspValue values[] = {CSspValue::FromDouble(0.1234567),
                                CSspValue::FromText("0.1234567", kSqlNumeric)};
    for (const CSspValue& v : values) {
        m_host->m_locals["v"] = v;
        CSspSql& q = m_host->Declare("q", "select id from m where d = Local.v");
        EXPECT_EQ(Rows(q, 1), std::vector<std::string>{"1"}) << q.Sql();
        EXPECT_EQ(q.Sql(), "select id from m WHERE d = 0.1234567");
    }
    // A double written into a REAL column by an insert keeps its digits as far as a float can.
    Exec("DROP TABLE IF EXISTS m");
    Exec("CREATE TABLE m (id INTEGER, r REAL)");
    m_host->m_locals["v"] = CSspValue::FromDouble(0.1234567);
    Call(m_host->Declare("i", "insert into m (id, r) values (1, Local.v)"), "execute");
    CSspSql& r = m_host->Declare("r", "select r from m");
    ASSERT_EQ(Call(r, "fetch").GetInteger(), 1);
    EXPECT_EQ(static_cast<float>(Call(r, "r").GetDouble()), 0.1234567f);
}

TEST_P(SspSqlTest, InsertTakesOneValuePerColumn) {
    m_host->m_locals["n"] = CSspValue::FromText("mug");
    CSspSql& three =
        m_host->Declare("i", "insert into items (name, price, cost) values (Local.n, 4)");
    try {
        Call(three, "execute");
        FAIL();
    } catch (const CSspException& e) {
        EXPECT_EQ(e.Message(),
                  "Value count less than column count or may be there are duplicated column "
                  "names.");
        // Reported just after VALUES.
        std::string src = "insert into items (name, price, cost) values";
        EXPECT_EQ(e.Position(), three.Start() + src.size());
    }
    EXPECT_EQ(Count("name = 'mug'"), 0);

    CSspSql& two = m_host->Declare("i", "insert into items (name, price) values (Local.n, 4, 99)");
    Call(two, "execute");
    EXPECT_EQ(Count("name = 'mug' and price = 4"), 1);

    CSspSql& dup = m_host->Declare("i", "insert into items (name, name) values (1, 2)");
    EXPECT_EQ(Error(dup, "execute"), "duplicate column found: name");
    CSspSql& noValues = m_host->Declare("i", "insert into items (name)");
    EXPECT_EQ(Error(noValues, "execute"), "Missing VALUES clause: insert into items ( name )");
    CSspSql& other = m_host->Declare("i", "merge into items");
    EXPECT_EQ(Error(other, "execute"),
              "SQL statement not supported. Please consider using a string to construct this "
              "SQL statement if your database supports it: merge into items");
}

TEST_P(SspSqlTest, UpdateChangesOnlyTheFirstRowFound) {
    Exec("CREATE TABLE t (id INTEGER, a INTEGER, b VARCHAR(10))");
    Exec("INSERT INTO t VALUES (3, 0, 'p')");
    Exec("INSERT INTO t VALUES (3, 0, 'q')");
    Exec("INSERT INTO t VALUES (4, 0, 'r')");
    m_host->m_locals["v"] = CSspValue::FromText("new");
    CSspSql& u = m_host->Declare("u", "update t set a = 1, b = Local.v where id = 3");
    Call(u, "execute");
    CSspSql& check = m_host->Declare("c", "select count(*) from t where a = 1 and b = 'new'");
    EXPECT_EQ(Call(check, "0").GetInteger(), 1);
    CSspSql& untouched = m_host->Declare("c2", "select count(*) from t where a = 0");
    EXPECT_EQ(Call(untouched, "0").GetInteger(), 2);

    CSspSql& none = m_host->Declare("u", "update t set a = 2 where id = 99");
    EXPECT_EQ(Error(none, "execute"),
              "The record you are updating or locking is not found. It could have been updated "
              "or locked by somebody else. Please reselect it from the list to edit it or wait "
              "until it is released to lock it.");
    CSspSql& noSet = m_host->Declare("u", "update t a = 2");
    EXPECT_EQ(Error(noSet, "execute"), "missing SET keyword.");
    CSspSql& dup = m_host->Declare("u", "update t set a = 2, a = 3 where id = 4");
    EXPECT_EQ(Error(dup, "execute"), "duplicate column found: a");
}

TEST_P(SspSqlTest, DeleteWithAndWithoutWhere) {
    m_host->m_locals["n"] = CSspValue::FromText("pen");
    CSspSql& d = m_host->Declare("d", "delete from items where name = Local.n");
    Call(d, "execute");
    EXPECT_EQ(Count("price > 0"), 3);
    CSspSql& all = m_host->Declare("d", "delete items");
    Call(all, "execute");
    EXPECT_EQ(Count("price > 0"), 0);
}

TEST_P(SspSqlTest, StringStatementsAreGuardedAgainstASecondCommand) {
    Exec("CREATE TABLE t (a VARCHAR(20))");
    Exec("INSERT INTO t VALUES ('drop table')");
    m_host->m_locals["sql"] = CSspValue::FromText("select * from t where a = 'x' ; drop table t");
    CSspSql& bad = m_host->Declare("q", "Local.sql");
    EXPECT_EQ(Error(bad, "execute"),
              "SQL statement aborted due to possible SQL Injection attack. select * from t where "
              "a = 'x' ; drop table t");
    m_host->m_locals["sql"] = CSspValue::FromText("select * from t where a = 'drop table'");
    CSspSql& good = m_host->Declare("q", "Local.sql");
    EXPECT_EQ(Rows(good, 1), (std::vector<std::string>{"drop table"}));

    // The guard can be turned off, and only "1" turns it on.
    for (const char* flag : {"0", "yes"}) {
        m_host->m_locals["sql"] = CSspValue::FromText("update t set a = 'b' where a = 'x' ; ");
        CSspSql& off = m_host->Declare("q", "Local.sql");
        Call(off, "PreventSqlInjection", {flag});
        EXPECT_EQ(Call(off, "execute").GetInteger(), 1) << flag;
    }
    CSspSql& q = m_host->Declare("q", "Local.sql");
    EXPECT_EQ(Error(q, "PreventSqlInjection"), "Missing parameter.");
}

TEST(SqlInjectionGuard, Words) {
    struct Case {
        const char* sql;
        bool refused;
    } cases[] = {
        {"select * from t where a = 'x' ; drop table t", true},
        {"select * from t for update of a", true},
        {"select * from t where a = 'drop table'", false},
        {"select * from t where a = 1 -- comment", true},
        {"select * from t where a = 1;select 2 x", true},
        {"select * from t where a = 1 drop", false},  // the last word is never compared
        {"select * from t; drop", true},
        {"select * from t where a = 'open", false},
        {"SELECT * FROM t WHERE x = 1 OR 1 = 1 UNION DELETE x", true},
        {"delete from t where a = 1", false},  // the verb itself is skipped
        {"  select a from t", false},
        {"select * from t where a = 'it''s' and b = 2", false},
        {"select a from t where b = 'x'drop y", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LooksLikeSqlInjection(c.sql), c.refused) << c.sql;
    }
}

TEST_P(SspSqlTest, ColumnReadBeforeFetchRunsTheQueryAndStaysOnTheRow) {
    CSspSql& q = m_host->Declare("q", "select name, price from items order by price");
    EXPECT_EQ(Call(q, "price").GetInteger(), 3);
    EXPECT_EQ(Call(q, "fetch").GetInteger(), 1);
    EXPECT_EQ(Call(q, "name").GetText(), "pen");
    EXPECT_EQ(Call(q, "fetch").GetInteger(), 1);
    EXPECT_EQ(Call(q, "items.name").GetText(), "pad");
    EXPECT_EQ(Call(q, "Column", {"1"}).GetInteger(), 6);
    EXPECT_EQ(Error(q, "colour"), "Please add column: [colour] to q's SELECT list.");
    EXPECT_EQ(Error(q, "RowCount"), "Only crosstab queries can use RowCount.");
    EXPECT_EQ(Error(q, "Column"), "Missing parameter.");

    EXPECT_EQ(Call(q, "movefirst").GetInteger(), 1);
    EXPECT_EQ(Call(q, "fetch").GetInteger(), 1);
    EXPECT_EQ(Call(q, "name").GetText(), "pen") << "fetch after movefirst stays on row one";
    Call(q, "close");
    EXPECT_EQ(Call(q, "movefirst").GetInteger(), 0);

    m_host->m_bWatch = true;
    CSspSql& w = m_host->Declare("w", "select name from items");
    EXPECT_EQ(Call(w, "name").GetText(), "SQL statement has not been executed.");
}

TEST_P(SspSqlTest, ColumnCountBeforeTheFirstRun) {
    struct Case {
        const char* statement;
        int count;
    } cases[] = {
        {"select name, price from items", 2},
        {"select distinct name from items", 1},
        {"select count(*), max(price) from items", 2},
    };
    for (const Case& c : cases) {
        CSspSql& q = m_host->Declare("q", c.statement);
        EXPECT_EQ(Call(q, "ColumnCount").GetInteger(), c.count) << c.statement;
    }
    m_host->m_locals["s"] = CSspValue::FromText("select name, price,cost from items");
    CSspSql& s = m_host->Declare("q", "Local.s");
    EXPECT_EQ(Call(s, "ColumnCount").GetInteger(), 3);
}

TEST_P(SspSqlTest, QueryTimeoutIsHandedToTheDriver) {
    CSspSql& q = m_host->Declare("q", "select name from items order by name");
    EXPECT_EQ(Call(q, "SetQueryTimeout", {"30"}).GetInteger(), 1);
    EXPECT_EQ(q.RecordSet().m_nQueryTimeout, 30);
    EXPECT_EQ(Call(q, "name").GetText(), "cap");
    EXPECT_EQ(Error(q, "SetQueryTimeout"), "Missing parameter.");
}

TEST_P(SspSqlTest, DatabaseErrorsNameTheObjectStatementAndDsn) {
    m_host->m_locals["s"] = CSspValue::FromText("select * from nothere");
    CSspSql& q = m_host->Declare("q", "Local.s");
    std::string text = Error(q, "execute");
    EXPECT_NE(text.find("nothere"), std::string::npos) << text;
    const std::string tail = " SQL q:select * from nothere DSN:" + m_ds->Dsn();
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_P(SspSqlTest, OwnDataSourceSurvivesReExecutionUntilClose) {
    std::string other, why;
    ASSERT_TRUE(CTestBackend::Connect(CTestBackend::kSqlite, "zr2other", &other, &why));
    {
        CDataSource seed(other);
        seed.DoCommand("ExecuteSQL", "CREATE TABLE items (name VARCHAR(20))");
        seed.DoCommand("ExecuteSQL", "INSERT INTO items VALUES ('elsewhere')");
    }
    m_host->m_locals["s"] = CSspValue::FromText("select name from items order by name");
    CSspSql& q = m_host->Declare("q", "Local.s");
    Call(q, "UseDataSource", {"ODBC;" + other});
    ASSERT_NE(q.OwnSource(), nullptr);
    EXPECT_EQ(q.OwnSource()->ConnectString(), other);
    Call(q, "UseDataSource", {"ODBC;" + m_ds->ConnectString()});
    EXPECT_EQ(q.OwnSource()->ConnectString(), other) << "the first connection is kept";
    for (int run = 0; run < 2; ++run) {
        Call(q, "execute");
        EXPECT_EQ(Call(q, "name").GetText(), "elsewhere") << "run " << run;
    }
    Call(q, "close");
    EXPECT_EQ(q.OwnSource(), nullptr);
    Call(q, "execute");
    EXPECT_EQ(Call(q, "name").GetText(), "cap") << "back on the page's data source";
}

TEST_P(SspSqlTest, UseDataSourceArguments) {
    CSspSql& q = m_host->Declare("q", "select name from items");
    EXPECT_EQ(Error(q, "UseDataSource", {"ODBC"}), "Invalid ODBC connection string");
    EXPECT_EQ(Error(q, "UseDataSource"), "Missing parameter.");
    EXPECT_EQ(Error(q, "UseDataSource", {"a", "b"}), "Missing parameter.");
    Call(q, "UseDataSource", {"zr2", "me;DSN=evil", "p}w"});
    ASSERT_NE(q.OwnSource(), nullptr);
    EXPECT_EQ(q.OwnSource()->ConnectString(), "DSN=zr2;UID={me;DSN=evil};PWD={p}}w}");
    EXPECT_EQ(CDataSource::GetConnectStringValue(q.OwnSource()->ConnectString(), "DSN"), "zr2");
}

class SspSqlCrosstabTest : public SspSqlTest {
protected:
    void SetUp() override {
        SspSqlTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        Exec("CREATE TABLE sales (region VARCHAR(4), month VARCHAR(4), amount INTEGER)");
        for (const char* row :
             {"('E', 'Feb', 10)", "('E', 'Jan', 20)", "('E', 'Jan', 30)", "('W', 'Jan', 5)"}) {
            Exec(std::string("INSERT INTO sales VALUES ") + row);
        }
    }
    std::vector<std::string> Table(CSspSql& q) {
        int columns = Call(q, "ColumnCount").GetInteger();
        return Rows(q, columns);
    }
};

TEST_P(SspSqlCrosstabTest, CountsRowsPerCellWithTotals) {
    CSspSql& q = m_host->Declare("x", "crosstab region, month from sales");
    EXPECT_EQ(Table(q), (std::vector<std::string>{"Crosstab|Feb|Jan|Total", "E|1|2|3", "W|0|1|1",
                                                  "Total|1|3|4"}));
    EXPECT_EQ(Call(q, "RowCount").GetInteger(), 4);
    EXPECT_EQ(Call(q, "colTotal", {"2"}).GetInteger(), 3);
    EXPECT_EQ(Call(q, "colTotal", {"0"}).GetText(), "Total");
    EXPECT_EQ(Call(q, "colTotal", {"9"}).GetText(), "column out of bound");
    EXPECT_EQ(Call(q, "9").GetText(), "row out of bound");
}

TEST_P(SspSqlCrosstabTest, SumAndAverageUseTheArgumentColumn) {
    m_host->m_locals["s"] = CSspValue::FromText("crosstab region, month, sum(amount) from sales");
    CSspSql& sum = m_host->Declare("x", "Local.s");
    EXPECT_EQ(Table(sum), (std::vector<std::string>{"Crosstab|Feb|Jan|Total", "E|10|50|60",
                                                    "W|0|5|5", "Total|10|55|65"}));
    EXPECT_EQ(sum.Sql(), "SELECT region, month, amount FROM sales ORDER BY region ASC, month ASC");
    CSspSql& avg = m_host->Declare("x", "crosstab region, month, avg(amount) from sales");
    EXPECT_EQ(Table(avg),
              (std::vector<std::string>{"Crosstab|Feb|Jan|Total", "E|10|25|20", "W|0|5|5",
                                        "Total|10|"
                                        "18.333333|16.250000"}));
}

TEST_P(SspSqlCrosstabTest, PresetHeadersFixTheLayout) {
    CSspSql& q = m_host->Declare("x", "crosstab region, month from sales");
    EXPECT_EQ(Error(q, "addYHeader", {"E"}), "Call addXHeader first");
    Call(q, "addXHeader", {"jan"});
    Call(q, "addXHeader", {"Mar"});
    Call(q, "addYHeader", {"e"});
    Call(q, "addYHeader", {"W"});
    EXPECT_EQ(Error(q, "addXHeader"), "Missing parameter.");
    EXPECT_EQ(Table(q), (std::vector<std::string>{"Crosstab|jan|Mar|Total", "|0|0|0", "e|2|0|2",
                                                  "W|1|0|1", "Total|3|0|4"}));
    EXPECT_EQ(Error(q, "addXHeader", {"Apr"}),
              "addXHeader is valid only before the query is executed");
    EXPECT_EQ(Error(q, "addYHeader", {"N"}),
              "addYHeader is valid only before the query is executed");
    // Closed and run again, the preset layout counts afresh.
    Call(q, "close");
    EXPECT_EQ(Table(q).back(), "Total|3|0|4");
}

// Needs a server that can end a session.
class SspSqlServerTest : public SspSqlTest {};

TEST_P(SspSqlServerTest, LostConnectionClosesTheSourceForTheNextRun) {
    CSspSql& q = m_host->Declare("q", "select name from items order by name");
    EXPECT_EQ(Call(q, "name").GetText(), "cap");
    CDataSource killer(m_ds->ConnectString());
    killer.DoCommand("ExecuteSQL",
                     "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE pid <> "
                     "pg_backend_pid() AND datname = current_database()");
    std::string text = Error(q, "execute");
    EXPECT_EQ(text.rfind("System's connection to the database is broken.", 0), 0u) << text;
    EXPECT_NE(text.find(" SQL q:select name from items order by name DSN:zr2pg"), std::string::npos)
        << text;
    EXPECT_FALSE(m_ds->IsConnected());
    Call(q, "execute");
    EXPECT_EQ(Call(q, "name").GetText(), "cap");
}

INSTANTIATE_TEST_SUITE_P(Drivers, SspSqlServerTest, ::testing::Values(CTestBackend::kPostgres),
                         [](const auto& p) { return CTestBackend::Name(p.param); });
INSTANTIATE_TEST_SUITE_P(Drivers, SspSqlTest,
                         ::testing::Values(CTestBackend::kSqlite, CTestBackend::kPostgres),
                         [](const auto& p) { return CTestBackend::Name(p.param); });
INSTANTIATE_TEST_SUITE_P(Drivers, SspSqlCrosstabTest,
                         ::testing::Values(CTestBackend::kSqlite, CTestBackend::kPostgres),
                         [](const auto& p) { return CTestBackend::Name(p.param); });

TEST(SqlCrosstabRewrite, Statements) {
    struct Case {
        const char* text;
        const char* result;  // or the error
    } cases[] = {
        {"crosstab region, month, sum(amount) from sales",
         "SELECT region, month, amount FROM sales ORDER BY region ASC, month ASC"},
        {"crosstab region,month from sales where year = 2004",
         "SELECT region, month FROM sales where year = 2004 ORDER BY region ASC, month ASC"},
        {"CROSSTAB r , c , COUNT ( * ) FROM t", "SELECT r, c FROM t ORDER BY r ASC, c ASC"},
        {"SELECT a, b FROM t", "SELECT a, b FROM t"},
        {"crosstab r, c, max(x) from t",
         "Only the following 3 group functions are supported: count, sum and avg."},
        {"crosstab r from t", "Row field or column field is empty."},
        {"crosstab r, c", "Table name is empty."},
    };
    for (const Case& c : cases) {
        std::string func, got;
        try {
            got = CSqlCrosstab::Rewrite(c.text, &func);
        } catch (const CSspException& e) {
            got = e.Message();
        }
        EXPECT_EQ(got, c.result) << c.text;
    }
}

// Too few arguments are refused before any database work, at the declaration like every
// error of the object, whatever case the member is written in.
TEST(SspSqlMembers, TooFewArgumentsRaiseAtTheDeclaration) {
    CSqlTestHost host(nullptr);
    CSspSql& q = host.Declare("q", "select name from items");
    const char callSite[] = "q.member()";
    struct Case {
        const char* member;
        int args;
    } cases[] = {
        {"PreventSqlInjection", 0}, {"setquerytimeout", 0}, {"Column", 0},     {"COLTOTAL", 0},
        {"UseDataSource", 0},       {"UseDataSource", 2},   {"addXHeader", 0},
    };
    for (const Case& c : cases) {
        CSspCall call;
        call.m_strMember = c.member;
        call.m_pPos = callSite;
        for (int i = 0; i < c.args; ++i) {
            call.AddArg(CSspValue::FromText("x"));
        }
        CSspValue result;
        try {
            q.CallMethod(call, result);
            ADD_FAILURE() << c.member << " did not throw";
        } catch (const CSspException& e) {
            EXPECT_EQ(e.Message(), "Missing parameter.") << c.member;
            EXPECT_EQ(e.Position(), q.Start()) << c.member;
        }
    }
}

}  // namespace
