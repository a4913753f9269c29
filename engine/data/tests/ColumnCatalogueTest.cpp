#include "engine/data/ColumnCatalogue.h"

#include <gtest/gtest.h>

#include <functional>

#include "engine/data/DataSource.h"
#include "engine/data/DynBindSet.h"
#include "engine/testsupport/TestBackends.h"

namespace {

class ColumnCatalogueTest : public ::testing::TestWithParam<CTestBackend::Kind> {
protected:
    void SetUp() override {
        std::string why;
        if (!CTestBackend::Connect(GetParam(), "catalogue", &m_connect, &why)) {
            GTEST_SKIP() << why;
        }
        m_ds = std::make_unique<CDataSource>(m_connect);
        m_other = std::make_unique<CDataSource>(m_connect);
        m_ds->DoCommand("Open");
        m_other->DoCommand("Open");
        Exec(*m_ds, "DROP TABLE IF EXISTS cat_t");
        Exec(*m_ds, "CREATE TABLE cat_t (id INTEGER, name VARCHAR(40))");
    }
    static void Exec(CDataSource& ds, const std::string& sql) {
        ds.DoCommand("ExecuteSQL", sql.c_str());
    }
    // Whether the rows of cat_t came from what the connection kept; their names joined.
    bool Kept(std::string* names = nullptr) {
        bool kept = false;
        const auto& rows =
            m_ds->Connection().Catalogue().Columns(m_ds->Connection(), "", "cat_t", &kept);
        if (names != nullptr) {
            names->clear();
            for (const COdbcColumnDesc& row : rows) {
                *names += row.m_strName + ";";
            }
        }
        return kept;
    }

    std::string m_connect;
    std::unique_ptr<CDataSource> m_ds;
    std::unique_ptr<CDataSource> m_other;
};

TEST_P(ColumnCatalogueTest, KeptUntilASchemaMayHaveChanged) {
    std::string names;
    EXPECT_FALSE(Kept(&names));
    EXPECT_EQ(names, "id;name;");
    EXPECT_TRUE(Kept(&names));
    EXPECT_EQ(names, "id;name;");

    struct Case {
        const char* what;
        std::function<void()> action;
        bool kept;
    };
    const Case cases[] = {
        {"plain statements",
         [&] {
             Exec(*m_ds, "INSERT INTO cat_t VALUES (1, 'a')");
             Exec(*m_ds, " update cat_t SET name = 'b'");
             Exec(*m_other, "DELETE FROM cat_t");
             CDynBindSet set(&m_other->Connection());
             set.Open("SELECT id FROM cat_t");
         },
         true},
        {"DDL on this connection", [&] { Exec(*m_ds, "CREATE TABLE cat_u (x INTEGER)"); }, false},
        {"DDL on another connection", [&] { Exec(*m_other, "DROP TABLE cat_u"); }, false},
        {"a commit elsewhere",
         [&] {
             m_other->DoCommand("BeginTrans");
             m_other->DoCommand("CommitTrans");
         },
         false},
        {"a rollback",
         [&] {
             m_ds->DoCommand("BeginTrans");
             m_ds->DoCommand("Rollback");
         },
         false},
        {"a reconnect",
         [&] {
             m_ds->DoCommand("Close");
             m_ds->DoCommand("Open");
         },
         false},
    };
    for (const Case& c : cases) {
        Kept();  // reads again what the case before made it forget
        ASSERT_TRUE(Kept()) << c.what;
        c.action();
        EXPECT_EQ(Kept(), c.kept) << c.what;
    }
}

TEST_P(ColumnCatalogueTest, AColumnTheKeptRowsLackIsLookedUpAgain) {
    CDynBindSet first(&m_ds->Connection());
    first.AddTable("cat_t");
    first.AddColumn("id");
    first.m_bTolerateUnknownColumns = first.m_bKeptCatalogue = true;
    ASSERT_TRUE(first.OpenForInsert(m_ds->GetDbmsName()));
    ASSERT_TRUE(Kept());

    // Changed behind the engine's back, as another program would.
    COdbcHandle stmt(SQL_HANDLE_STMT, m_other->Connection().Handle());
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt.Get(),
                                            const_cast<SQLCHAR*>(reinterpret_cast<const SQLCHAR*>(
                                                "ALTER TABLE cat_t ADD COLUMN added INTEGER")),
                                            SQL_NTS)));

    CDynBindSet set(&m_ds->Connection());
    set.AddTable("cat_t");
    set.AddColumn("name");
    set.AddColumn("added");
    set.AddColumn("lower");  // no column: the catalogue cannot help
    set.m_bTolerateUnknownColumns = set.m_bKeptCatalogue = true;
    ASSERT_TRUE(set.OpenForInsert(m_ds->GetDbmsName()));
    EXPECT_EQ(set.FindColumn("name")->m_value.m_type, kSqlVarChar);
    EXPECT_EQ(set.FindColumn("added")->m_value.m_type, kSqlInteger);
    EXPECT_EQ(set.FindColumn("lower")->m_value.m_type, kSqlNoType);
    std::string names;
    EXPECT_TRUE(Kept(&names));
    EXPECT_EQ(names, "id;name;added;");
}

INSTANTIATE_TEST_SUITE_P(Drivers, ColumnCatalogueTest,
                         ::testing::Values(CTestBackend::kSqlite, CTestBackend::kPostgres),
                         [](const auto& p) { return CTestBackend::Name(p.param); });

}  // namespace
