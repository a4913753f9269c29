// Page runs on several threads against one server context.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspObjectRegistry.h"
#include "engine/web/tests/ContextTestSupport.h"

using context_test::ContextTest;
using context_test::PageResult;
namespace fs = std::filesystem;

namespace {

// Probe.meet() waits until a second run is inside it too: 1 when they met, 0 when the other
// never came (the wait is only a guard against hanging the suite).
class MeetingProbe : public CSspObject {
public:
    void CallMethod(CSspInterpreter&, CSspCall&, CSspValue& result) override {
        std::unique_lock lock(m_lock);
        ++m_arrived;
        m_changed.notify_all();
        bool met =
            m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_arrived >= 2; });
        result = CSspValue::FromInteger(met ? 1 : 0);
    }
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_arrived = 0;
};

// Probe.inside() counts the runs inside it at once and keeps the largest count.
class OverlapProbe : public CSspObject {
public:
    void CallMethod(CSspInterpreter&, CSspCall&, CSspValue& result) override {
        int now = ++m_active;
        int seen = m_most.load();
        while (now > seen && !m_most.compare_exchange_weak(seen, now)) {
        }
        // Long enough for another run to get in if nothing keeps it out.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        --m_active;
        result = CSspValue::FromInteger(1);
    }
    std::atomic<int> m_active{0};
    std::atomic<int> m_most{0};
};

class ContextThreadTest : public ContextTest {
protected:
    // Runs `runs` pages on each of `threads` threads; every run logs on, uses its session,
    // the application and the database. Returns the IDs the runs' sessions got.
    std::set<std::string> Hammer(int threads, int runs) {
        std::vector<std::thread> workers;
        std::mutex lock;
        std::set<std::string> ids;
        std::vector<std::string> failures;
        for (int t = 0; t < threads; ++t) {
            std::string user = "user" + std::to_string(t);
            std::string url = "/t" + std::to_string(t) + "/page.zrp";
            std::string path = m_root + "/webroot" + url;
            fs::create_directories(fs::path(path).parent_path());
            std::ofstream(path) << "<!--{ Session.logon('" << user << "'); Session.SetVar('n', "
                                << t << "); App.Init(); App.SetVar('last', '" << user
                                << "'); Server.SetVar('hits', 1); sql c = select id from t; "
                                   "c.fetch(); }-->--{ Session.n; "
                                   "}--|--{ c.id; }--|--{ Session.SessionID; }--";
            workers.emplace_back([&, t, url, path] {
                for (int i = 0; i < runs; ++i) {
                    PageResult r = RunFile(path, url);
                    std::string expected = std::to_string(t) + "|5|";
                    std::lock_guard guard(lock);
                    if (r.m_code != 0 || !r.m_output.starts_with(expected)) {
                        failures.push_back(r.m_output + " " + r.m_error);
                    } else {
                        ids.insert(r.m_output.substr(expected.size()));
                    }
                }
            });
        }
        for (std::thread& w : workers) {
            w.join();
        }
        EXPECT_TRUE(failures.empty()) << failures.size() << " failed, first: " << failures[0];
        return ids;
    }

    void MakeTable() {
        ASSERT_EQ(Run("<!--{ sql mk = 'create table t (id integer)'; mk.execute(); "
                      "sql ins = insert into t (id) values (5); ins.execute(); }-->")
                      .m_code,
                  0);
    }
};

TEST_F(ContextThreadTest, UnserialisedRunsOverlap) {
    m_settings->DbAccessSerialize = false;
    static MeetingProbe probe;
    CSspObjectRegistry::Instance().Register("Probe", &probe);
    std::string outputs[2];
    std::thread a([&] { outputs[0] = Run("--{ Probe.meet(); }--", "/a.zrp").m_output; });
    std::thread b([&] { outputs[1] = Run("--{ Probe.meet(); }--", "/b.zrp").m_output; });
    a.join();
    b.join();
    EXPECT_EQ(outputs[0], "1");
    EXPECT_EQ(outputs[1], "1");
}

TEST_F(ContextThreadTest, SerialisedRunsTakeTurns) {
    m_settings->DbAccessSerialize = true;
    static OverlapProbe probe;
    CSspObjectRegistry::Instance().Register("Overlap", &probe);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                Run("--{ Overlap.inside(); }----{ Overlap.inside(); }--",
                    "/o" + std::to_string(t) + ".zrp");
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(probe.m_most.load(), 1);
}

TEST_F(ContextThreadTest, ManyRunsWithPrivateConnections) {
    if (!HaveSqlite()) {
        GTEST_SKIP() << "SQLite3 ODBC driver (libsqliteodbc) not installed";
    }
    MakeTable();
    m_settings->DbAccessSerialize = false;
    m_settings->DbConnectionThreadOwn = true;
    std::set<std::string> ids = Hammer(8, 200);
    // Every logon made its own session, all in the same second of the fixed clock.
    EXPECT_EQ(ids.size(), 1600u);
    EXPECT_EQ(m_context->SessionCount(), 1600u);
    std::string apps = m_context->GetAppInfo();
    for (int t = 0; t < 8; ++t) {
        EXPECT_NE(apps.find("/t" + std::to_string(t) + "/; "), std::string::npos) << apps;
    }
}

TEST_F(ContextThreadTest, ManyRunsSerialisedOnOneConnection) {
    if (!HaveSqlite()) {
        GTEST_SKIP() << "SQLite3 ODBC driver (libsqliteodbc) not installed";
    }
    MakeTable();
    m_settings->DbAccessSerialize = true;
    std::set<std::string> ids = Hammer(8, 200);
    EXPECT_EQ(ids.size(), 1600u);
    EXPECT_EQ(m_context->SessionCount(), 1600u);
}

}  // namespace
