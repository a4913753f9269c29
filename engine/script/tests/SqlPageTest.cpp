// The sql object as pages use it: rebuilt statements, value counts, the injection guard in
// string mode and cross tables, each run through the interpreter on a real SQLite database.
#include "engine/script/tests/SqlTestLink.h"

namespace {

class SqlPageTest : public sqltest::SqlDeclarationTest {
protected:
    void SetUp() override {
        sqltest::SqlDeclarationTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        CSspRunResult seeded = RunSspText(
            "sql mk = 'create table items (name varchar(20), price integer)'; mk.execute();\n"
            "sql a = 'insert into items values (\\'pad\\', 6)'; a.execute();\n"
            "sql b = 'insert into items values (\\'ink\\', 9)'; b.execute();\n"
            "sql c = 'insert into items values (\\'pen\\', 3)'; c.execute();\n",
            false);
        ASSERT_EQ(seeded.m_code, 0) << seeded.m_error;
    }

    static CSspRunResult Run(const std::string& body) { return RunSspText(body, false); }
};

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST_F(SqlPageTest, SelectIsRebuiltWithTheValuesOfItsExpressions) {
    CSspRunResult r =
        Run("set Local.min = 5;\n"
            "sql q = select name, price from items where price > Local.min order by name;\n"
            "while (q.fetch() == 1) write q.name || '=' || q.price || ' '; endwhile\n"
            "write '|' || q.sql;\n");
    ASSERT_EQ(r.m_code, 0) << r.m_error;
    EXPECT_EQ(r.m_output,
              "ink=9 pad=6 |select name , price from items WHERE price > 5 order by name");
}

TEST_F(SqlPageTest, StatementErrorsAndTheInjectionGuard) {
    struct Case {
        const char* body;
        const char* error;  // empty: the page must run cleanly
    } cases[] = {
        {"sql i = insert into items (name, price) values ('x'); i.execute();",
         "Value count less than column count or may be there are duplicated column names."},
        {"set Local.t = 'select * from items where name = \\'x\\' ; drop table items';\n"
         "sql q = Local.t; q.execute();",
         "SQL statement aborted due to possible SQL Injection attack. select * from items where "
         "name = 'x' ; drop table items"},
        {"set Local.t = 'select * from items where name = \\'drop table\\'';\n"
         "sql q = Local.t; q.execute(); write q.fetch();",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        CSspRunResult r = Run(c.body);
        if (*c.error == '\0') {
            EXPECT_EQ(r.m_code, 0) << r.m_error;
            EXPECT_EQ(r.m_output, "0") << "a quoted keyword is data, and no row matches it";
        } else {
            EXPECT_EQ(r.m_code, 1);
            EXPECT_TRUE(EndsWith(r.m_error, c.error)) << r.m_error;
        }
    }
    CSspRunResult still =
        Run("sql n = 'select count(*) from items'; n.execute(); write n.Column(0);");
    EXPECT_EQ(still.m_code, 0) << still.m_error;
}

TEST_F(SqlPageTest, CrosstabCountsRowsByTheirTwoFields) {
    CSspRunResult r = RunSspText(
        "sql mk = 'create table sales (region varchar(4), month varchar(4))'; mk.execute();\n"
        "sql a = 'insert into sales values (\\'E\\', \\'Feb\\')'; a.execute();\n"
        "sql b = 'insert into sales values (\\'E\\', \\'Jan\\')'; b.execute();\n"
        "sql c = 'insert into sales values (\\'E\\', \\'Jan\\')'; c.execute();\n"
        "sql d = 'insert into sales values (\\'W\\', \\'Jan\\')'; d.execute();\n"
        "sql x = 'crosstab region, month from sales';\n"
        "while (x.fetch() == 1)\n"
        "  write x.Column(0) || '|' || x.Column(1) || '|' || x.Column(2) || '|' || x.Column(3) || "
        "' ';\n"
        "endwhile\n",
        false);
    ASSERT_EQ(r.m_code, 0) << r.m_error;
    EXPECT_EQ(r.m_output, "Crosstab|Feb|Jan|Total E|1|2|3 W|0|1|1 Total|1|3|4 ");
}

}  // namespace
