#include "engine/data/DataSourcePool.h"

#include <gtest/gtest.h>

#include <thread>

#include "engine/data/DataSource.h"
#include "engine/foundation/SspException.h"
#include "engine/testsupport/TestBackends.h"

namespace {

constexpr int64_t kStart = 1796803507;

class DataSourcePoolTest : public ::testing::TestWithParam<CTestBackend::Kind> {
protected:
    void SetUp() override {
        std::string why;
        if (!CTestBackend::Connect(GetParam(), "pool", &m_connect, &why)) {
            GTEST_SKIP() << why;
        }
    }

    // Acquires and releases a private data source on a thread of its own.
    CDataSource* OnOtherThread() {
        CDataSource* source = nullptr;
        std::thread other([&] {
            source = m_pool.AcquireOwn(m_connect, kStart);
            m_pool.Release(source);
        });
        other.join();
        return source;
    }

    std::string m_connect;
    CDataSourcePool m_pool;
};

TEST_P(DataSourcePoolTest, ThreadKeepsItsConnectionBetweenRuns) {
    CDataSource* first = m_pool.AcquireOwn(m_connect, kStart);
    EXPECT_TRUE(first->m_bPrivate);
    EXPECT_EQ(first->Users(), 1);
    m_pool.Release(first);
    EXPECT_EQ(first->Users(), 0);
    EXPECT_TRUE(first->IsConnected());

    CDataSource* second = m_pool.AcquireOwn(m_connect, kStart + 60);
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->ConnectCount(), 1);
    EXPECT_EQ(second->GetLastUse(), kStart + 60);
    // A run nested in a run of the same thread gets a connection of its own.
    CDataSource* nested = m_pool.AcquireOwn(m_connect, kStart + 60);
    EXPECT_NE(nested, second);
    m_pool.Release(nested);
    m_pool.Release(second);
    // The thread keeps one unused connection, not one per nesting level.
    EXPECT_EQ(m_pool.Size(), 1u);
    CDataSource* kept = m_pool.AcquireOwn(m_connect, kStart);
    EXPECT_EQ(m_pool.Size(), 1u);
    EXPECT_EQ(kept->ConnectCount(), 1);
    m_pool.Release(kept);

    // Another thread has its own, which goes when the thread has ended.
    CDataSource* other = OnOtherThread();
    EXPECT_NE(other, kept);
    EXPECT_EQ(m_pool.Size(), 2u);
    m_pool.CloseIdle(kStart, 120);
    EXPECT_EQ(m_pool.Size(), 1u);
    EXPECT_EQ(m_pool.AcquireOwn(m_connect, kStart), kept);
    m_pool.Release(kept);
}

TEST_P(DataSourcePoolTest, IdleCloseClosesAKeptConnectionAndTheNextRunReconnects) {
    CDataSource* own = m_pool.AcquireOwn(m_connect, kStart);
    m_pool.Release(own);
    m_pool.CloseIdle(kStart + 120 * 60 + 59, 120);
    EXPECT_TRUE(own->IsConnected());
    m_pool.CloseIdle(kStart + 121 * 60, 120);
    EXPECT_FALSE(own->IsConnected());

    EXPECT_EQ(m_pool.AcquireOwn(m_connect, kStart + 121 * 60), own);
    EXPECT_TRUE(own->IsConnected());
    EXPECT_EQ(own->ConnectCount(), 2);
    // In use, it stays open however old its last use.
    m_pool.CloseIdle(kStart + 1000 * 60, 120);
    EXPECT_TRUE(own->IsConnected());
    m_pool.Release(own);
}

TEST_P(DataSourcePoolTest, AConnectionLeftInATransactionIsNotKept) {
    CDataSource* own = m_pool.AcquireOwn(m_connect, kStart);
    own->DoCommand("BeginTrans");
    m_pool.Release(own);
    EXPECT_EQ(m_pool.Size(), 0u);
    CDataSource* next = m_pool.AcquireOwn(m_connect, kStart);
    EXPECT_FALSE(next->InTransaction());
    m_pool.Release(next);
}

TEST_P(DataSourcePoolTest, ListedAreSharedOnesAndPrivateOnesInUseInTheOrderHandedOut) {
    const std::string other = m_connect + ";";
    CDataSource* shared = m_pool.AcquireShared(m_connect, kStart);
    EXPECT_EQ(m_pool.AcquireShared(m_connect, kStart), shared);
    EXPECT_EQ(shared->Users(), 2);
    CDataSource* own = m_pool.AcquireOwn(m_connect, kStart);
    CDataSource* later = m_pool.AcquireShared(other, kStart);
    EXPECT_EQ(m_pool.Listed(), (std::vector<CDataSource*>{shared, own, later}));
    m_pool.Release(own);
    EXPECT_EQ(m_pool.Listed(), (std::vector<CDataSource*>{shared, later}));
    EXPECT_EQ(m_pool.AcquireOwn(m_connect, kStart), own);
    EXPECT_EQ(m_pool.Listed(), (std::vector<CDataSource*>{shared, later, own}));
    m_pool.Release(own);
    m_pool.Release(later);
    m_pool.Release(shared);
    m_pool.Release(shared);
    EXPECT_EQ(shared->Users(), 0);
    EXPECT_TRUE(shared->IsConnected());
}

INSTANTIATE_TEST_SUITE_P(Drivers, DataSourcePoolTest,
                         ::testing::Values(CTestBackend::kSqlite, CTestBackend::kPostgres),
                         [](const auto& p) { return CTestBackend::Name(p.param); });

TEST(DataSourcePoolPostgres, ALostKeptConnectionIsClosedAndTheNextRunReconnects) {
    std::string connect, why;
    if (!CTestBackend::Connect(CTestBackend::kPostgres, "pool", &connect, &why)) {
        GTEST_SKIP() << why;
    }
    CDataSourcePool pool;
    CDataSource* own = pool.AcquireOwn(connect, kStart);
    pool.Release(own);
    CDataSource killer(connect);
    killer.DoCommand("ExecuteSQL",
                     "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE pid <> "
                     "pg_backend_pid() AND datname = current_database()");

    ASSERT_EQ(pool.AcquireOwn(connect, kStart), own);
    try {
        own->DoCommand("ExecuteSQL", "SELECT 1");
        ADD_FAILURE() << "the lost connection raised nothing";
    } catch (const CSspException& e) {
        EXPECT_TRUE(e.Message().starts_with("System's connection to the database is broken."))
            << e.Message();
    }
    EXPECT_FALSE(own->IsConnected());
    pool.Release(own);

    ASSERT_EQ(pool.AcquireOwn(connect, kStart), own);
    EXPECT_TRUE(own->IsConnected());
    EXPECT_EQ(own->ConnectCount(), 2);
    EXPECT_EQ(own->DoCommand("ExecuteSQL", "SELECT 1"), 1);
    pool.Release(own);
}

}  // namespace
