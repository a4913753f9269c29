#include "engine/data/UniqueIdGenerator.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include "engine/data/DataSource.h"
#include "engine/data/DynBindSet.h"
#include "engine/foundation/SspException.h"
#include "engine/testsupport/TestBackends.h"

namespace {

// The back end, and how the registry declares its value column: TEXT is a
// long column to ODBC, read in pieces rather than as text.
using UniqueIdParam = std::tuple<CTestBackend::Kind, const char*>;

class UniqueIdTest : public ::testing::TestWithParam<UniqueIdParam> {
protected:
    void SetUp() override {
        std::string why;
        if (!CTestBackend::Connect(std::get<0>(GetParam()), "uid", &m_connect, &why)) {
            GTEST_SKIP() << why;
        }
        m_ds = std::make_unique<CDataSource>(m_connect);
        m_ds->DoCommand("Open");
        for (const char* reg : {"zr2_registry", "kx30_registry"}) {
            Exec(std::string("DROP TABLE IF EXISTS ") + reg);
            Exec(std::string("CREATE TABLE ") + reg +
                 " (reg_user VARCHAR(40), reg_section VARCHAR(40), reg_key VARCHAR(80), "
                 "reg_value " +
                 std::get<1>(GetParam()) + ", PRIMARY KEY (reg_user, reg_section, reg_key))");
        }
        Exec("DROP TABLE IF EXISTS orders");
        Exec("CREATE TABLE orders (id INTEGER)");
    }
    void Exec(const std::string& sql) { m_ds->DoCommand("ExecuteSQL", sql.c_str()); }
    int Uid(const char* table, const char* registry = "zr2_registry") {
        return m_ds->DoCommand("GetUid", table, "id", registry);
    }
    std::string Stored(const std::string& key, const char* registry = "zr2_registry") {
        CDynBindSet set(&m_ds->Connection());
        set.Open(std::string("SELECT reg_value FROM ") + registry + " WHERE reg_key = '" +
                 CSspValue::EscapeSqlQuotes(key) + "'");
        return set.IsEOF() ? "(no row)" : set.GetColumnValue(0)->GetText();
    }

    std::string m_connect;
    std::unique_ptr<CDataSource> m_ds;
};

TEST_P(UniqueIdTest, EmptyTableStartsAtOneHundred) {
    EXPECT_EQ(Uid("orders"), 100);
    EXPECT_EQ(Stored("orders"), "101");
    EXPECT_EQ(Uid("orders"), 101);
    EXPECT_EQ(Stored("orders"), "102");
    EXPECT_EQ(Uid("orders"), 102);
    EXPECT_EQ(Stored("orders"), "103");
}

TEST_P(UniqueIdTest, FirstIdFollowsTheLargestInUse) {
    Exec("INSERT INTO orders VALUES (3)");
    Exec("INSERT INTO orders VALUES (7)");
    EXPECT_EQ(Uid("orders"), 8);
    EXPECT_EQ(Stored("orders"), "9");
}

TEST_P(UniqueIdTest, DamagedCounterRestartsAboveExistingIds) {
    struct Case {
        const char* stored;
        int largestInUse;  // 0: table empty
        int expected;
    } cases[] = {
        {"0", 0, 100},
        {"-5", 0, 100},
        {"1000000001", 0, 100},
        {"abc", 0, 100},
        {"0", 7, 100},
        {"-5", 500, 501},
        {"abc", 2000, 2001},
        {"", 0, 100},
        {" ", 0, 100},
        // Not damaged: leading digits count, and the rest must not act as a pattern.
        {"1_0%", 0, 1},
    };
    for (const Case& c : cases) {
        Exec("DELETE FROM orders");
        Exec("DELETE FROM zr2_registry");
        if (c.largestInUse) {
            Exec("INSERT INTO orders VALUES (" + std::to_string(c.largestInUse) + ")");
        }
        Exec(std::string("INSERT INTO zr2_registry VALUES ('System', 'UniqueID', 'orders', '") +
             c.stored + "')");
        EXPECT_EQ(Uid("orders"), c.expected) << c.stored << " with " << c.largestInUse;
        EXPECT_EQ(Stored("orders"), std::to_string(c.expected + 1)) << c.stored;
    }
}

TEST_P(UniqueIdTest, UpperCasePrefixedRegistryWorks) {
    EXPECT_EQ(Uid("orders", "kx30_registry"), 100);
    EXPECT_EQ(Uid("orders", "kx30_registry"), 101);
    EXPECT_EQ(Stored("orders", "kx30_registry"), "102");
    EXPECT_EQ(Stored("orders"), "(no row)");
}

TEST_P(UniqueIdTest, QuotesInTheTableNameCannotReachTheSql) {
    // An existing counter row is found with the quote doubled in the filter.
    Exec("INSERT INTO zr2_registry VALUES ('System', 'UniqueID', 'o''brien', '42')");
    EXPECT_EQ(Uid("o'brien"), 42);
    EXPECT_EQ(Stored("o'brien"), "43");
    // A new counter needs the table's largest id: a name that is no
    // identifier is refused before any statement runs.
    try {
        Uid("orders; DROP TABLE orders");
        FAIL() << "a non-identifier table name was accepted";
    } catch (const CSspException& e) {
        EXPECT_NE(e.Message().find("orders; DROP TABLE orders"), std::string::npos);
    }
    EXPECT_EQ(Uid("orders"), 100) << "the orders table survived";
}

TEST_P(UniqueIdTest, MissingRegistryTableNamesTheTableAndTheDataSource) {
    try {
        Uid("orders", "no_registry");
        FAIL();
    } catch (const CSspException& e) {
        const std::string& m = e.Message();
        EXPECT_NE(m.find("Failed to get a unique ID for table: orders."), std::string::npos) << m;
        EXPECT_NE(m.find(" ODBC data source used: [" + m_ds->Dsn() + "]."), std::string::npos) << m;
    }
}

TEST_P(UniqueIdTest, ThreadsSharingOneSourceGetDistinctIds) {
    std::vector<int> a, b;
    auto draw = [this](std::vector<int>* out) {
        for (int i = 0; i < 50; ++i) {
            out->push_back(Uid("orders"));
        }
    };
    std::thread t1(draw, &a), t2(draw, &b);
    t1.join();
    t2.join();
    std::set<int> all(a.begin(), a.end());
    all.insert(b.begin(), b.end());
    EXPECT_EQ(all.size(), 100u);
    EXPECT_EQ(*all.begin(), 100);
    EXPECT_EQ(*all.rbegin(), 199);
}

TEST_P(UniqueIdTest, SeparateConnectionsRacingGetDistinctIds) {
    // Two servers on one database: the loser of a race retries.
    CDataSource other(m_connect);
    other.DoCommand("Open");
    std::vector<int> a, b;
    std::string errors;
    std::mutex lock;
    auto draw = [&](CDataSource* ds, std::vector<int>* out) {
        try {
            for (int i = 0; i < 25; ++i) {
                out->push_back(ds->DoCommand("GetUid", "orders", "id", "zr2_registry"));
            }
        } catch (const CSspException& e) {
            std::lock_guard g(lock);
            errors += e.Message() + "\n";
        }
    };
    std::thread t1(draw, m_ds.get(), &a), t2(draw, &other, &b);
    t1.join();
    t2.join();
    EXPECT_EQ(errors, "");
    std::set<int> all(a.begin(), a.end());
    all.insert(b.begin(), b.end());
    EXPECT_EQ(all.count(-1), 0u);
    EXPECT_EQ(all.size(), 50u);
}

INSTANTIATE_TEST_SUITE_P(Drivers, UniqueIdTest,
                         ::testing::Combine(::testing::Values(CTestBackend::kSqlite,
                                                              CTestBackend::kPostgres),
                                            ::testing::Values("VARCHAR(80)", "TEXT")),
                         [](const auto& p) {
                             return std::string(CTestBackend::Name(std::get<0>(p.param))) +
                                    (std::string(std::get<1>(p.param)) == "TEXT" ? "Text"
                                                                                 : "Varchar");
                         });

TEST(UniqueIdRegistry, UpperCaseColumnsByPrefix) {
    struct Case {
        const char* registry;
        bool upper;
    } cases[] = {
        {"KX30_REGISTRY", true}, {"kx30_registry", true}, {"Kx40_reg", true}, {"kx5", true},
        {"kx6_registry", false}, {"zr2_registry", false}, {"kx", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(CUniqueIdGenerator::UsesUpperCaseColumns(c.registry), c.upper) << c.registry;
    }
}

}  // namespace
