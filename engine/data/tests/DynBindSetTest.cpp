#include "engine/data/DynBindSet.h"

#include <gtest/gtest.h>

#include "engine/data/DataSource.h"
#include "engine/data/DbException.h"
#include "engine/foundation/SspException.h"
#include "engine/testsupport/TestBackends.h"

namespace {

class DynBindSetTest : public ::testing::TestWithParam<CTestBackend::Kind> {
protected:
    void SetUp() override {
        std::string connect, why;
        if (!CTestBackend::Connect(GetParam(), "bindset", &connect, &why)) {
            GTEST_SKIP() << why;
        }
        m_ds = std::make_unique<CDataSource>(connect);
        m_ds->DoCommand("Open");
    }
    bool Sqlite() const { return GetParam() == CTestBackend::kSqlite; }
    void Exec(const std::string& sql) { m_ds->DoCommand("ExecuteSQL", sql.c_str()); }
    void Recreate(const std::string& table, const std::string& columns) {
        Exec("DROP TABLE IF EXISTS " + table);
        Exec("CREATE TABLE " + table + " (" + columns + ")");
    }
    // Inserts one row through the catalogue-typed insert path.
    void Insert(const std::string& table, const std::vector<std::string>& columns,
                const std::vector<CSspValue>& values) {
        CDynBindSet set(&m_ds->Connection());
        set.AddTable(table);
        for (const auto& c : columns) {
            ASSERT_TRUE(set.AddColumn(c));
        }
        ASSERT_TRUE(set.OpenForInsert(m_ds->GetDbmsName()));
        set.AddNewRow();
        for (size_t i = 0; i < values.size(); ++i) {
            ASSERT_TRUE(set.SetColumnValue(static_cast<int>(i), values[i]));
        }
        ASSERT_TRUE(set.UpdateNewRow());
    }

    std::unique_ptr<CDataSource> m_ds;
};

std::string Pattern(size_t n, bool allBytes) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        s[i] = allBytes ? static_cast<char>((i * 7 + i / 256) & 0xFF)
                        : static_cast<char>('a' + (i * 13 + i / 97) % 26);
    }
    return s;
}

TEST_P(DynBindSetTest, LongTextAndBinaryRoundTripByteForByte) {
    Recreate("blobs", std::string("id INTEGER, body TEXT, data ") + (Sqlite() ? "BLOB" : "BYTEA"));
    const std::string text = Pattern(100000, false);
    const std::string bytes = Pattern(100000, true);
    CSspValue t = CSspValue::FromText(text, kSqlLongVarChar);
    t.m_blob.Assign(text.data(), text.size());
    Insert("blobs", {"id", "body", "data"},
           {CSspValue::FromInteger(1), t, CSspValue::FromBinary(bytes)});

    CDynBindSet set(&m_ds->Connection());
    set.Open("SELECT body, data FROM blobs WHERE id = 1");
    ASSERT_FALSE(set.IsEOF());
    const CSspValue& body = *set.GetColumnValue(0);
    const CSspValue& data = *set.GetColumnValue(1);
    EXPECT_TRUE(body.IsLongText()) << body.m_type;
    EXPECT_TRUE(data.IsBinary()) << data.m_type;
    EXPECT_EQ(body.GetText().size(), text.size());
    EXPECT_TRUE(body.GetText() == text);
    EXPECT_EQ(data.m_blob.Length(), bytes.size());
    EXPECT_TRUE(data.m_blob.View() == bytes);
}

TEST_P(DynBindSetTest, TextIsReadWholeUpToTheColumnCapWhateverTheDriverReports) {
    Recreate("words", Sqlite() ? "w VARCHAR(10)" : "w VARCHAR");
    const std::string longWord(300, 'x');
    Insert("words", {"w"}, {CSspValue::FromText(longWord)});
    CDynBindSet set(&m_ds->Connection());
    set.Open("SELECT w FROM words");
    EXPECT_EQ(set.GetColumnValue(0)->GetText(), longWord);

    CDynBindSet capped(&m_ds->Connection());
    capped.m_nMaxColumnSize = 100;
    capped.Open("SELECT w FROM words");
    EXPECT_EQ(capped.GetColumnValue(0)->GetText(), longWord.substr(0, 100));
}

TEST_P(DynBindSetTest, ValuesAreNeverCutToTheReportedColumnSize) {
    Recreate("prices", "price DECIMAL(10,2), code VARCHAR(3)");
    CSspValue price;
    price.SetNumber("12345.67");
    Insert("prices", {"price", "code"}, {price, CSspValue::FromText("abc")});
    CDynBindSet set(&m_ds->Connection());
    set.Open("SELECT price, code FROM prices");
    ASSERT_FALSE(set.IsEOF());
    EXPECT_DOUBLE_EQ(set.GetColumnValue(0)->GetDouble(), 12345.67);
    EXPECT_EQ(set.GetColumnValue(1)->GetText(), "abc");
}

TEST_P(DynBindSetTest, ResultColumnsTakeTheirTypesAndNulls) {
    Recreate("typed",
             "i INTEGER, b BIGINT, d DOUBLE PRECISION, n NUMERIC(8,3), s VARCHAR(20), "
             "dt DATE, tm TIME");
    Exec("INSERT INTO typed VALUES (42, 7, 2.5, 1.250, 'it''s', '2004-01-31', '01:02:03')");
    Exec("INSERT INTO typed VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
    CDynBindSet set(&m_ds->Connection());
    set.Open("SELECT i, b, d, n, s, dt, tm FROM typed ORDER BY i");
    ASSERT_EQ(set.GetColumnCount(), 7);
    // Postgres sorts NULL last, SQLite first; find the full row either way.
    if (set.GetColumnValue(0)->IsNull()) {
        set.MoveNext();
    }
    ASSERT_FALSE(set.IsEOF());
    struct Expect {
        int column;
        bool (CSspValue::*group)() const;
        const char* text;
    } expects[] = {
        {0, &CSspValue::IsInteger, "42"},
        {1, &CSspValue::IsInteger, "7"},
        {2, &CSspValue::IsDouble, nullptr},
        {3, &CSspValue::IsNumber, nullptr},  // SQLite: double
        {4, &CSspValue::IsText, "it's"},
        {5, &CSspValue::IsDateTime, nullptr},
        {6, &CSspValue::IsTimeSpan, "0 1:2:3"},
    };
    for (const Expect& e : expects) {
        const CSspValue& v = *set.GetColumnValue(e.column);
        EXPECT_TRUE((v.*e.group)()) << "column " << e.column << " type " << v.m_type;
        if (e.text) {
            EXPECT_EQ(v.GetText(), e.text) << "column " << e.column;
        }
    }
    EXPECT_DOUBLE_EQ(set.GetColumnValue(2)->GetDouble(), 2.5);
    EXPECT_DOUBLE_EQ(set.GetColumnValue(3)->GetDouble(), 1.25);
    EXPECT_EQ(set.GetColumnValue(6)->m_timeSpan, 3723);
    EXPECT_GT(set.GetColumnValue(5)->m_dateTime, 0);

    set.MoveFirst();
    if (!set.GetColumnValue(0)->IsNull()) {
        set.MoveNext();
    }
    ASSERT_FALSE(set.IsEOF());
    for (int c = 0; c < 6; ++c) {
        EXPECT_TRUE(set.GetColumnValue(c)->IsNull()) << "column " << c;
    }
}

TEST_P(DynBindSetTest, SearchedUpdateMissesARowChangedSinceItWasRead) {
    Recreate("reg", "k VARCHAR(10), v VARCHAR(10)");
    Exec("INSERT INTO reg VALUES ('a', '1')");
    CDynBindSet set(&m_ds->Connection());
    set.AddTable("reg");
    set.AddColumn("k");
    set.AddColumn("v");
    set.m_strFilter = "k = 'a'";
    ASSERT_TRUE(set.OpenDefault());
    ASSERT_FALSE(set.IsEOF());
    set.Edit();
    Exec("UPDATE reg SET v = '5'");  // another writer
    set.SetColumnValue(1, CSspValue::FromText("2"));
    try {
        set.Update();
        FAIL() << "the update matched a row that had changed";
    } catch (const CDbException& e) {
        EXPECT_EQ(e.m_nRetCode, CDbException::kNoRowsAffected);
    }
    // Unchanged since the read, the same update goes through.
    set.MoveFirst();
    set.Edit();
    set.SetColumnValue(1, CSspValue::FromText("6"));
    EXPECT_TRUE(set.Update());
    CDynBindSet check(&m_ds->Connection());
    check.Open("SELECT v FROM reg");
    EXPECT_EQ(check.GetColumnValue(0)->GetText(), "6");
}

TEST_P(DynBindSetTest, RowWhoseTextReadsEmptyIsUpdated) {
    // Empty text and NULL read alike; the update must find either.
    for (const char* stored : {"''", "NULL"}) {
        Recreate("reg", "k VARCHAR(10), v VARCHAR(10)");
        Exec(std::string("INSERT INTO reg VALUES ('a', ") + stored + ")");
        CDynBindSet set(&m_ds->Connection());
        set.AddTable("reg");
        set.AddColumn("k");
        set.AddColumn("v");
        ASSERT_TRUE(set.OpenDefault());
        ASSERT_FALSE(set.IsEOF());
        set.Edit();
        set.SetColumnValue(1, CSspValue::FromText("2"));
        EXPECT_NO_THROW(set.Update()) << stored;
        CDynBindSet check(&m_ds->Connection());
        check.Open("SELECT v FROM reg");
        EXPECT_EQ(check.GetColumnValue(0)->GetText(), "2") << stored;
    }
}

TEST_P(DynBindSetTest, UpdateOfARowNothingIdentifiesIsRefused) {
    Recreate("docs", std::string("data ") + (Sqlite() ? "BLOB" : "BYTEA"));
    Insert("docs", {"data"}, {CSspValue::FromBinary("one")});
    Insert("docs", {"data"}, {CSspValue::FromBinary("two")});
    CDynBindSet set(&m_ds->Connection());
    set.AddTable("docs");
    set.AddColumn("data");
    ASSERT_TRUE(set.OpenDefault());
    set.Edit();
    set.SetColumnValue(0, CSspValue::FromBinary("three"));
    EXPECT_THROW(set.Update(), CSspException);
    CDynBindSet check(&m_ds->Connection());
    check.Open("SELECT COUNT(*) FROM docs WHERE data IS NOT NULL");
    EXPECT_EQ(check.GetColumnValue(0)->GetInteger(), 2);
    CDynBindSet changed(&m_ds->Connection());
    changed.Open(Sqlite() ? "SELECT COUNT(*) FROM docs WHERE data = X'7468726565'"
                          : "SELECT COUNT(*) FROM docs WHERE data = 'three'::bytea");
    EXPECT_EQ(changed.GetColumnValue(0)->GetInteger(), 0);
}

TEST_P(DynBindSetTest, InsertLayoutComesFromTheCatalogue) {
    Recreate("items", "name VARCHAR(20), price INTEGER");
    CDynBindSet set(&m_ds->Connection());
    set.AddTable("items");
    set.AddColumn("price");
    ASSERT_TRUE(set.OpenForInsert(m_ds->GetDbmsName()));
    EXPECT_TRUE(set.m_bLayoutOnly);
    EXPECT_TRUE(set.GetColumnValue(0)->IsInteger());

    CDynBindSet missing(&m_ds->Connection());
    missing.AddTable("items");
    missing.AddColumn("name");
    missing.AddColumn("colour");
    try {
        missing.OpenForInsert(m_ds->GetDbmsName());
        FAIL() << "an unknown column passed";
    } catch (const CSspException& e) {
        EXPECT_EQ(e.Message(), "Column colour does not exist in table items");
    }
    CDynBindSet none(&m_ds->Connection());
    none.AddTable("items");
    EXPECT_FALSE(none.OpenForInsert(m_ds->GetDbmsName()));
}

INSTANTIATE_TEST_SUITE_P(Drivers, DynBindSetTest,
                         ::testing::Values(CTestBackend::kSqlite, CTestBackend::kPostgres),
                         [](const auto& p) { return CTestBackend::Name(p.param); });

TEST(DynBindSetColumns, NamesAreStoredUnqualifiedAndFoundEitherWay) {
    CDynBindSet set;
    EXPECT_TRUE(set.AddColumn("t.name"));
    EXPECT_FALSE(set.AddColumn("name"));
    EXPECT_FALSE(set.AddColumn("u.name"));
    EXPECT_FALSE(set.AddColumn(""));
    EXPECT_FALSE(set.AddColumn("t."));
    EXPECT_TRUE(set.AddColumn("price"));
    EXPECT_TRUE(set.AddColumn("MAX(id)"));
    EXPECT_EQ(set.GetColumnName(0), "name");
    struct Case {
        const char* lookup;
        int index;
    } cases[] = {{"NAME", 0}, {"x.price", 1}, {"max(ID)", 2}, {"other", -1}, {"x.other", -1}};
    for (const Case& c : cases) {
        CBoundColumn* found = set.FindColumn(c.lookup);
        if (c.index < 0) {
            EXPECT_EQ(found, nullptr) << c.lookup;
        } else {
            EXPECT_EQ(found, set.FindColumn(set.GetColumnName(c.index))) << c.lookup;
        }
    }
    EXPECT_EQ(set.FindColumnIndex("PRICE"), 1);
    EXPECT_EQ(set.FindColumnIndex("x.price"), -1);
    EXPECT_EQ(set.GetColumnValue(3), nullptr);
    EXPECT_FALSE(set.SetColumnValue(3, CSspValue()));
    // Nothing to select and no text: refused without a connection.
    CDynBindSet empty;
    EXPECT_FALSE(empty.Open());
}

}  // namespace
