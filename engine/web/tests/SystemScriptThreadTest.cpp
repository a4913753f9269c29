#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/data/DataSource.h"
#include "engine/foundation/LogWriter.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/web/SchedulerMailHooks.h"
#include "engine/web/ScriptThread.h"
#include "engine/web/tests/ContextTestSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct QueuedMail {
    std::string m_subject;
    std::string m_content;
};

// Mail hooks that record what the thread asks of them; `m_onSend` runs inside each Email
// Sender run.
class FakeMailHooks : public CSchedulerMailHooks {
public:
    void RunEmailSender() override {
        int call = ++m_sends;
        if (m_onSend) {
            m_onSend(call);
        }
    }
    void QueueAdminMail(const std::string& subject, const std::string& content) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_mails.push_back({subject, content});
    }
    std::vector<QueuedMail> Mails() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_mails;
    }

    std::atomic<int> m_sends{0};
    std::function<void(int)> m_onSend;

private:
    std::mutex m_mutex;
    std::vector<QueuedMail> m_mails;
};

class SystemScriptThreadTest : public context_test::ContextTest {
protected:
    void SetUp() override {
        ContextTest::SetUp();
        m_settings->SetClock([this] { return m_now.load(); });
        m_settings->ClearTasks();
        AddTask("Email Sender", "none", 600);
        m_oldLogFolder = g_log.GetFolder();
        m_log = std::make_unique<CCapturedLog>(g_log);
        CSchedulerMailHooks::Install(&m_hooks);
    }

    void TearDown() override {
        // A failed assertion may leave a thread running: end it before what it uses goes.
        for (auto& thread : m_threads) {
            thread->Abandon();
            EXPECT_TRUE(thread->WaitForEnd(10s));
        }
        m_threads.clear();
        CSchedulerMailHooks::Install(nullptr);
        m_log.reset();
        g_log.SetFolder(m_oldLogFolder);
        ContextTest::TearDown();
    }

    // Appends an enabled row run every `interval` seconds, its next run computed now.
    CTaskEntry& AddTask(const std::string& name, const std::string& script, int64_t interval,
                        bool enabled = true) {
        CTaskEntry task;
        task.m_name = name;
        task.m_enabled = enabled;
        task.m_scriptPath = script;
        task.m_dayCode = CTaskEntry::kInterval;
        task.m_interval = interval;
        task.ComputeNextRun(m_now.load());
        m_settings->m_tasks.push_back(std::move(task));
        return m_settings->m_tasks.back();
    }

    // Writes a script under the root and gives its full path.
    std::string WriteScript(const std::string& relative, const std::string& text) {
        std::string path = m_root + "/" + relative;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::shared_ptr<CScriptThread> MakeThread() {
        m_threads.push_back(CScriptThread::Create(*m_settings, *m_context, m_root));
        return m_threads.back();
    }

    // Waits (boundedly) until `done` holds.
    static bool Eventually(const std::function<bool()>& done) {
        for (int i = 0; i < 1000 && !done(); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return done();
    }

    FakeMailHooks m_hooks;
    std::vector<std::shared_ptr<CScriptThread>> m_threads;
    std::unique_ptr<CCapturedLog> m_log;
    std::string m_oldLogFolder;
};

TEST_F(SystemScriptThreadTest, ScriptPathsAndUrls) {
    auto thread = MakeThread();
    struct Case {
        std::string path;
        std::string bin;
        std::string url;
    };
    const Case cases[] = {
        {"script/x.zrs", m_root + "/bin/script/x.zrs", "/script/x.zrs"},
        {"x.zrs", m_root + "/bin/x.zrs", "/x.zrs"},
        {"/s/x.zrs", "/s/x.zrs", "/s/x.zrs"},
        {m_root + "/webroot/script/dueRem.zrs", m_root + "/webroot/script/dueRem.zrs",
         "/script/dueRem.zrs"},
        {m_root + "/WEBROOT/Script/a.zrs", m_root + "/WEBROOT/Script/a.zrs", "/Script/a.zrs"},
        {m_root + "/webrootx/a.zrs", m_root + "/webrootx/a.zrs", m_root + "/webrootx/a.zrs"},
        {"sub\\y.zrs", m_root + "/bin/sub\\y.zrs", "/sub/y.zrs"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(thread->GetBinScriptPath(c.path), c.bin) << c.path;
        EXPECT_EQ(thread->GetWebrootScriptPath(c.path), c.url) << c.path;
    }
}

TEST_F(SystemScriptThreadTest, FailingTaskLogsAndMailsItsError) {
    WriteScript("bin/script/fail.zrs", "Server.Log('before');\nset Local.x = 7 / 0;\n");
    AddTask("Nightly", "script/fail.zrs", 3600);
    auto thread = MakeThread();
    thread->OnRunTask(3);

    const std::string path = m_root + "/bin/script/fail.zrs";
    std::vector<std::string> log = m_log->Entries();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "Nightly (" + path + ") started running.\r\n");
    EXPECT_EQ(log[1], "before\r\n");
    EXPECT_TRUE(log[2].starts_with(path + " (2,")) << log[2];
    EXPECT_NE(log[2].find("Operation not allowed on these operands."), std::string::npos);
    EXPECT_EQ(log[3], "Nightly ended.\r\n");

    std::vector<QueuedMail> mails = m_hooks.Mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].m_subject, "Nightly error");
    EXPECT_EQ(mails[0].m_content + "\r\n", log[2]);
    EXPECT_FALSE(thread->HasInterpreter());
}

TEST_F(SystemScriptThreadTest, TaskThatRunsWellSendsNoMail) {
    const std::string path = WriteScript("webroot/script/ok.zrs", "Server.Log('fine');");
    AddTask("Good", path, 3600);
    auto thread = MakeThread();
    thread->OnRunTask(3);
    EXPECT_EQ(m_log->Count("Good (" + path + ") started running."), 1);
    EXPECT_EQ(m_log->Count("fine"), 1);
    EXPECT_EQ(m_log->Count("Good ended."), 1);
    EXPECT_TRUE(m_hooks.Mails().empty());
}

TEST_F(SystemScriptThreadTest, RunNowOfMissingOrDisabledRowsDoesNothing) {
    const std::string path = WriteScript("webroot/script/ok.zrs", "Server.Log('ran');");
    AddTask("Off", path, 3600, false);
    AddTask("On", path, 3600);
    auto thread = MakeThread();
    for (int number : {-5, 0, 1, 3, 5, 99}) {
        thread->OnRunTask(number);
    }
    EXPECT_TRUE(m_log->Entries().empty());
    EXPECT_EQ(m_hooks.m_sends.load(), 0);

    m_settings->m_tasks[0].m_enabled = false;
    thread->OnRunTask(2);
    EXPECT_EQ(m_hooks.m_sends.load(), 0);
    m_settings->m_tasks[0].m_enabled = true;
    thread->OnRunTask(2);
    EXPECT_EQ(m_hooks.m_sends.load(), 1);
    thread->OnRunTask(4);
    EXPECT_EQ(m_log->Count("ran"), 1);
}

TEST_F(SystemScriptThreadTest, TickRunsDueRowsLastFirstWithNextRunComputedBefore) {
    const std::string a = WriteScript("webroot/script/a.zrs", "Server.Log('run a');");
    const std::string b = WriteScript("webroot/script/b.zrs", "Server.Log('run b');");
    AddTask("A", a, 60);
    AddTask("Off", b, 60, false);
    AddTask("B", b, 60);
    AddTask("Later", a, 3600);
    std::vector<int64_t> nextRunSeen;
    m_hooks.m_onSend = [&](int) { nextRunSeen.push_back(m_settings->m_tasks[0].m_nextRun); };
    auto thread = MakeThread();

    thread->OnSchedulerTick();  // nothing is due yet
    EXPECT_TRUE(m_log->Entries().empty());

    m_now += 600;
    thread->OnSchedulerTick();
    std::vector<std::string> log = m_log->Entries();
    std::vector<std::string> ran;
    for (const std::string& e : log) {
        if (e.starts_with("run ")) {
            ran.push_back(e);
        }
    }
    EXPECT_EQ(ran, (std::vector<std::string>{"run b\r\n", "run a\r\n"}));
    ASSERT_EQ(nextRunSeen.size(), 1u);
    // The Email Sender saw its own next run already moved on from this tick.
    EXPECT_GT(nextRunSeen[0], m_now.load());
    EXPECT_EQ(m_log->Count("Later"), 0);
    EXPECT_EQ(m_log->Count("Off"), 0);
}

TEST_F(SystemScriptThreadTest, TaskMissedFiveTimesRunsOnce) {
    const std::string path = WriteScript("webroot/script/tick.zrs", "Server.Log('ran it');");
    AddTask("Every minute", path, 60);
    auto thread = MakeThread();
    auto Runs = [this] {
        std::vector<std::string> log = m_log->Entries();
        return std::count(log.begin(), log.end(), "ran it\r\n");
    };

    m_now += 5 * 60 + 30;  // five runs missed while the thread was busy
    thread->OnSchedulerTick();
    EXPECT_EQ(Runs(), 1);
    thread->OnSchedulerTick();
    EXPECT_EQ(Runs(), 1);
    m_now += 60;
    thread->OnSchedulerTick();
    EXPECT_EQ(Runs(), 2);
}

TEST_F(SystemScriptThreadTest, IdleDataSourcesCloseAtMinuteZeroOnly) {
    if (!HaveSqlite()) {
        GTEST_SKIP() << "SQLite3 ODBC driver (libsqliteodbc) not installed";
    }
    m_settings->m_tasks[0].m_enabled = false;
    struct Case {
        const char* at;  // UTC time of day on the start's date
        bool threadOwn;
        int idleTimeout;
        bool closed;
    };
    const Case cases[] = {
        {"11:00:00", false, 30, true},  {"11:00:59", false, 30, true},
        {"11:01:00", false, 30, false}, {"11:00:00", true, 30, true},
        {"11:00:00", false, 0, false},
    };
    const std::time_t midnight = context_test::kStart - context_test::kStart % 86400;
    for (const Case& c : cases) {
        m_now = context_test::kStart;  // the data source's last use, hours before
        CDataSource* source = m_context->AcquireDataSource("/script/x.zrs");
        ASSERT_NE(source, nullptr);
        m_context->ReleaseDataSource(source);
        ASSERT_TRUE(m_context->GetDataSourceInfo().ends_with("\topen\r\n"));

        int h = 0, m = 0, s = 0;
        ASSERT_EQ(std::sscanf(c.at, "%d:%d:%d", &h, &m, &s), 3);
        m_now = midnight + h * 3600 + m * 60 + s;
        m_settings->DbConnectionThreadOwn = c.threadOwn;
        m_settings->DbConnectionIdleTimeout = c.idleTimeout;
        MakeThread()->OnSchedulerTick();
        EXPECT_EQ(m_context->GetDataSourceInfo().ends_with("\tclosed\r\n"), c.closed)
            << c.at << " own " << c.threadOwn << " timeout " << c.idleTimeout;
    }
}

TEST_F(SystemScriptThreadTest, ThreadRunsPostedTasksInOrderAndQuits) {
    const std::string a = WriteScript("webroot/script/a.zrs", "Server.Log('run a');");
    const std::string b = WriteScript("webroot/script/b.zrs", "Server.Log('run b');");
    AddTask("A", a, 3600);
    AddTask("B", b, 3600);
    auto thread = MakeThread();
    // Posted before the start, as to a thread created suspended: kept for it.
    ASSERT_TRUE(thread->PostRunTask(4));
    ASSERT_TRUE(thread->Start());
    ASSERT_TRUE(thread->WaitStarted());
    EXPECT_NE(thread->GetThreadId(), 0);
    ASSERT_TRUE(thread->PostRunTask(3));
    ASSERT_TRUE(thread->PostRunTask(2));
    ASSERT_TRUE(thread->Quit());
    EXPECT_FALSE(thread->IsStarted());
    EXPECT_FALSE(thread->PostRunTask(3));  // an ended thread takes no more work

    std::vector<std::string> ran;
    for (const std::string& e : m_log->Entries()) {
        if (e.starts_with("run ")) {
            ran.push_back(e);
        }
    }
    EXPECT_EQ(ran, (std::vector<std::string>{"run b\r\n", "run a\r\n"}));
    EXPECT_EQ(m_hooks.m_sends.load(), 1);
    EXPECT_EQ(m_log->Count("Background thread failed to terminate."), 0);
}

TEST_F(SystemScriptThreadTest, TicksMissedDuringALongTaskAreNotMadeUp) {
    // The Email Sender row is due at every tick; its first run blocks for many periods.
    m_settings->m_tasks[0].m_interval = 0;
    m_settings->m_tasks[0].m_nextRun = 0;
    constexpr auto kPeriod = 20ms;
    auto thread = MakeThread();
    thread->SetTickPeriod(kPeriod);
    std::mutex mutex;
    std::condition_variable cv;
    bool firstBegan = false;
    bool released = false;
    m_hooks.m_onSend = [&](int call) {
        if (call == 1) {
            std::unique_lock<std::mutex> guard(mutex);
            firstBegan = true;
            cv.notify_all();
            cv.wait(guard, [&] { return released; });
        }
    };
    auto release = [&] {
        {
            std::lock_guard<std::mutex> guard(mutex);
            released = true;
        }
        cv.notify_all();
    };
    struct ReleaseOnExit {
        std::function<void()> m_release;
        ~ReleaseOnExit() { m_release(); }
    } releaseOnExit{release};
    ASSERT_TRUE(thread->Start());
    {
        std::unique_lock<std::mutex> guard(mutex);
        ASSERT_TRUE(cv.wait_for(guard, 10s, [&] { return firstBegan; }));
    }
    std::this_thread::sleep_for(kPeriod * 20);  // twenty ticks are missed

    const auto releasedAt = std::chrono::steady_clock::now();
    release();
    std::this_thread::sleep_for(kPeriod * 5);
    ASSERT_TRUE(thread->Quit(10s));
    const auto free = std::chrono::steady_clock::now() - releasedAt;

    // After the long run the timer goes on ticking, but at most once for what it missed
    // and once per period since: never a burst of the twenty missed ticks.
    const int sends = m_hooks.m_sends.load();
    EXPECT_GE(sends, 2);
    EXPECT_LE(sends, 3 + static_cast<int>(free / kPeriod)) << "free for " << free.count();
}

TEST_F(SystemScriptThreadTest, QuitOfAHungScriptLogsWhereItStands) {
    const std::string path = WriteScript("webroot/script/spin.zrs",
                                         "set Local.i = 0;\nwhile (1 == 1) set Local.i = 1; "
                                         "endwhile\n");
    AddTask("Spin", path, 3600);
    auto thread = MakeThread();
    ASSERT_TRUE(thread->Start());
    ASSERT_TRUE(thread->WaitStarted());
    ASSERT_TRUE(thread->PostRunTask(3));
    ASSERT_TRUE(Eventually([&] { return thread->HasInterpreter(); }));

    EXPECT_FALSE(thread->Quit(200ms));
    EXPECT_EQ(m_log->Count("Background thread failed to terminate."), 1);
    EXPECT_EQ(m_log->Count("File: " + path + " hanged before offset "), 1);

    // Given up, the script stops before its next statement and the thread ends.
    thread->Abandon();
    EXPECT_TRUE(thread->WaitForEnd(10s));
    EXPECT_TRUE(Eventually([&] { return m_log->Count("Spin ended.") == 1; }));
    EXPECT_FALSE(thread->HasInterpreter());
    EXPECT_FALSE(thread->DumpPosition());
}

TEST_F(SystemScriptThreadTest, OneShotRunsItsScriptAndEnds) {
    WriteScript("bin/once.zrs", "Server.Log('once');\nset Local.x = 1 / 0;\n");
    auto thread = MakeThread();
    thread->SetScriptPath("once.zrs");
    ASSERT_TRUE(thread->Start());
    ASSERT_TRUE(thread->WaitForEnd(10s));

    const std::string path = m_root + "/bin/once.zrs";
    std::vector<std::string> log = m_log->Entries();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], path + " started running.\r\n");
    EXPECT_EQ(log[1], "once\r\n");
    EXPECT_NE(log[2].find("Operation not allowed on these operands."), std::string::npos);
    EXPECT_EQ(log[3], path + " ended.\r\n");
    EXPECT_TRUE(m_hooks.Mails().empty());  // only scheduled tasks mail their errors
    EXPECT_FALSE(thread->PostRunTask(3));
}

}  // namespace
