#include "server/ServerApp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/NamedObject.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/TempFolder.h"
#include "server/ServerParts.h"
#include "server/SignalLatch.h"

namespace {

using namespace std::chrono_literals;

// Every call the app makes, in order, as text.
using Trace = std::vector<std::string>;

struct CWorkerScript {
    bool m_creatable = true;
    bool m_startable = true;
    bool m_starts = true;  // the started flag comes up
    bool m_ends = true;    // ends when asked
    bool m_interpreter = false;
    std::function<void()> m_onStart;  // runs inside Start
};

class CFakeWorker : public CServerWorker {
public:
    CFakeWorker(std::string name, Trace& trace, const CWorkerScript& script)
        : m_name(std::move(name)), m_trace(trace), m_script(script) {}
    ~CFakeWorker() override {
        s_lastPolls = m_polls;
        m_trace.push_back(m_name + ".Release");
    }
    static inline int s_lastPolls = 0;

    bool Start() override {
        m_trace.push_back(m_name + ".Start");
        if (m_script.m_onStart) {
            m_script.m_onStart();
        }
        return m_script.m_startable;
    }
    bool IsStarted() const override {
        ++m_polls;
        return m_script.m_starts;
    }
    mutable int m_polls = 0;
    int64_t StartTime() const override { return 1765000000; }
    void RequestStop() override { m_trace.push_back(m_name + ".Stop"); }
    bool WaitEnded(std::chrono::milliseconds timeout) override {
        m_trace.push_back(m_name + ".Wait " + std::to_string(timeout.count()));
        return m_script.m_ends;
    }
    void Abandon() override { m_trace.push_back(m_name + ".Abandon"); }
    bool HasInterpreter() const override { return m_script.m_interpreter; }
    bool DumpPosition() override {
        m_trace.push_back(m_name + ".Dump");
        return false;
    }
    bool PostRunTask(int task) override {
        m_trace.push_back(m_name + ".Post " + std::to_string(task));
        return true;
    }

private:
    std::string m_name;
    Trace& m_trace;
    CWorkerScript m_script;
};

class CFakeParts : public CServerParts {
public:
    explicit CFakeParts(const std::string& root) : m_settings(root, SettingsBuild::kServer) {
        m_settings.GeneralTcpipAddress = "127.0.0.1";
        m_settings.GeneralTcpipPort = "8080";
        m_settings.GeneralSslPort = "8443";
        m_settings.FQDN = "srv.example";
    }

    CServerSettings& Settings() override { return m_settings; }
    bool LoadSettings() override {
        m_trace.push_back("LoadSettings");
        return m_loads;
    }
    int InitDefaultDataSource() override {
        m_trace.push_back("InitDefaultDataSource");
        return m_dataSource;
    }
    bool AcquireSsl() override {
        m_trace.push_back("AcquireSsl");
        return m_sslAcquires;
    }
    void FreeSsl() override { m_trace.push_back("FreeSsl"); }
    std::unique_ptr<CServerWorker> MakeListener(const std::string& address, int port,
                                                bool ssl) override {
        const std::string name = ssl ? "Ssl" : "Http";
        m_trace.push_back("Make" + name + " " + address + ":" + std::to_string(port));
        const CWorkerScript& script = ssl ? m_ssl : m_http;
        return script.m_creatable ? std::make_unique<CFakeWorker>(name, m_trace, script) : nullptr;
    }
    std::unique_ptr<CServerWorker> MakeScheduler() override {
        m_trace.push_back("MakeScheduler");
        if (!m_hasScheduler) {
            return nullptr;
        }
        return std::make_unique<CFakeWorker>("Scheduler", m_trace, m_scheduler);
    }
    int StopPool() override {
        m_trace.push_back("StopPool");
        return m_poolResult;
    }
    void ClearContext() override {
        m_trace.push_back("ClearContext");
        if (m_onClearContext) {
            m_onClearContext();
        }
    }

    CServerSettings m_settings;
    Trace m_trace;
    bool m_loads = true;
    int m_dataSource = 0;
    bool m_sslAcquires = true;
    bool m_hasScheduler = true;
    int m_poolResult = 0;
    CWorkerScript m_http, m_ssl, m_scheduler;
    std::function<void()> m_onClearContext;  // the last step of the stop
};

class CFakeService : public CServiceManager {
public:
    bool IsPresent() const override { return m_present; }
    bool Report(const CServiceStatus& status) override {
        m_reports.push_back(status);
        return true;
    }
    bool m_present = false;
    std::vector<CServiceStatus> m_reports;
};

class ServerAppTest : public ::testing::Test {
protected:
    ServerAppTest() : m_parts(m_root.Path()), m_app(m_root.Path(), m_parts, m_service) {
        SignalLatch::Clear();
        CServerApp::Timing fast;
        fast.m_poll = 1ms;
        m_app.SetTiming(fast);
    }
    ~ServerAppTest() override { SignalLatch::Clear(); }

    // Runs the app on a thread of its own; the future gives its exit code.
    std::future<int> RunAsync(const std::string& commandLine) {
        return std::async(std::launch::async,
                          [this, commandLine] { return m_app.Run(commandLine); });
    }

    // Waits until the stop event of the root exists; false after 10 s.
    bool WaitForStopEvent() {
        for (int i = 0; i < 1000; ++i) {
            if (CNamedEvent::Exists(m_root.Path(), kServerStopEventName)) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    CTempFolder m_root;
    CCapturedLog m_log{g_log};
    CFakeParts m_parts;
    CFakeService m_service;
    CServerApp m_app;
};

TEST_F(ServerAppTest, StartRunsEveryPartInOrderAndLogsTheStartLines) {
    m_parts.m_settings.SecurityCertName = "www.example";
    m_parts.m_settings.DbAccessSerialize = true;
    m_parts.m_settings.DbConnectionThreadOwn = false;
    m_parts.m_settings.DbConnectionIdleTimeout = 30;
    ASSERT_TRUE(m_app.StartServer());
    EXPECT_EQ(m_parts.m_trace,
              (Trace{"LoadSettings", "InitDefaultDataSource", "AcquireSsl",
                     "MakeHttp 127.0.0.1:8080", "Http.Start", "MakeSsl 127.0.0.1:8443", "Ssl.Start",
                     "MakeScheduler", "Scheduler.Start"}));
    EXPECT_TRUE(m_log.HasLine("Version=2;Root=" + m_root.Path() +
                              ";SerializeDB=yes;ThreadOwnConn=no;DsIdleClose=yes"));
    EXPECT_TRUE(m_log.HasLine("http://127.0.0.1:8080; domain name=srv.example"));
    EXPECT_TRUE(m_log.HasLine("https://127.0.0.1:8443; certificate=www.example"));
    const CServerStatus::Snapshot state = m_app.Status().Get();
    EXPECT_TRUE(state.m_webRunning);
    EXPECT_TRUE(state.m_secureRunning);
    EXPECT_TRUE(state.m_schedulerRunning);

    m_parts.m_trace.clear();
    EXPECT_EQ(m_app.Status().PostRunTask(3), CServerStatus::PostResult::kPosted);
    m_app.StopServer();
    EXPECT_EQ(m_parts.m_trace, (Trace{"Scheduler.Post 3", "Scheduler.Stop", "Scheduler.Wait 5000",
                                      "Scheduler.Release", "Http.Stop", "Http.Wait 30000",
                                      "Http.Release", "Ssl.Stop", "Ssl.Wait 30000", "Ssl.Release",
                                      "StopPool", "FreeSsl", "ClearContext"}));
    EXPECT_FALSE(m_app.AbandonedThreads());
    EXPECT_FALSE(m_app.Status().Get().m_schedulerRunning);
    EXPECT_EQ(m_app.Status().PostRunTask(3), CServerStatus::PostResult::kNotRunning);
}

TEST_F(ServerAppTest, WithoutACertificateThereIsNoSecureListener) {
    ASSERT_TRUE(m_app.StartServer());
    EXPECT_EQ(m_parts.m_trace,
              (Trace{"LoadSettings", "InitDefaultDataSource", "MakeHttp 127.0.0.1:8080",
                     "Http.Start", "MakeScheduler", "Scheduler.Start"}));
    EXPECT_FALSE(m_log.Has("https://"));
    EXPECT_FALSE(m_app.Status().Get().m_secureRunning);
    m_app.StopServer();
}

TEST_F(ServerAppTest, EachFailedStepEndsTheStartWithItsText) {
    struct Case {
        const char* name;
        std::function<void(CFakeParts&)> arrange;
        const char* text;  // nullptr: the failing part logs for itself
        std::string lastCall;
    } cases[] = {
        {"settings", [](CFakeParts& p) { p.m_loads = false; }, "Failed to load settings",
         "LoadSettings"},
        {"data source", [](CFakeParts& p) { p.m_dataSource = -1; },
         "Please run Velmorin Server Console to set up the database connection first.",
         "InitDefaultDataSource"},
        {"ssl", [](CFakeParts& p) { p.m_sslAcquires = false; }, "Failed to initialize SSL.",
         "AcquireSsl"},
        {"http made", [](CFakeParts& p) { p.m_http.m_creatable = false; },
         "Failed to create web server", "MakeHttp 127.0.0.1:8080"},
        {"http thread", [](CFakeParts& p) { p.m_http.m_startable = false; },
         "Failed to create web server", "Http.Release"},
        {"http listens", [](CFakeParts& p) { p.m_http.m_starts = false; }, nullptr, "Http.Release"},
        {"https made", [](CFakeParts& p) { p.m_ssl.m_creatable = false; },
         "Failed to create secure web server", "MakeSsl 127.0.0.1:8443"},
        {"https listens", [](CFakeParts& p) { p.m_ssl.m_starts = false; }, nullptr, "Ssl.Release"},
        {"scheduler thread", [](CFakeParts& p) { p.m_scheduler.m_startable = false; },
         "Failed to create background thread. ", "Scheduler.Release"},
        {"scheduler starts", [](CFakeParts& p) { p.m_scheduler.m_starts = false; }, nullptr,
         "Scheduler.Release"},
    };
    for (const Case& c : cases) {
        CTempFolder root;
        CFakeParts parts(root.Path());
        parts.m_settings.SecurityCertName = "www.example";
        c.arrange(parts);
        CServerApp app(root.Path(), parts, m_service);
        CServerApp::Timing fast;
        fast.m_poll = 1ms;
        app.SetTiming(fast);
        CCapturedLog log(g_log);

        EXPECT_FALSE(app.StartServer()) << c.name;
        if (c.text != nullptr) {
            EXPECT_TRUE(log.HasLine(c.text)) << c.name;
        }
        ASSERT_FALSE(parts.m_trace.empty());
        EXPECT_EQ(parts.m_trace.back(), c.lastCall) << c.name;
        // What did start still stops in order.
        parts.m_trace.clear();
        app.StopServer();
        const Trace tail = {"StopPool", "FreeSsl", "ClearContext"};
        ASSERT_GE(parts.m_trace.size(), 3u) << c.name;
        EXPECT_EQ(Trace(parts.m_trace.end() - 3, parts.m_trace.end()), tail) << c.name;
    }
}

TEST_F(ServerAppTest, WorkersThatNeverStartArePolledTheirFullCounts) {
    struct Case {
        bool listenerStarts;
        int expectedPolls;
    } cases[] = {{false, 50}, {true, 20}};
    for (const Case& c : cases) {
        CTempFolder root;
        CFakeParts parts(root.Path());
        parts.m_http.m_starts = c.listenerStarts;
        parts.m_scheduler.m_starts = false;
        CServerApp app(root.Path(), parts, m_service);
        CServerApp::Timing fast;
        fast.m_poll = 1ms;
        app.SetTiming(fast);
        EXPECT_FALSE(app.StartServer());
        // The failed worker is released at once: its polls, and one last look.
        EXPECT_EQ(CFakeWorker::s_lastPolls, c.expectedPolls + 1) << c.expectedPolls;
        app.StopServer();
    }
}

TEST_F(ServerAppTest, ThreadsThatDoNotEndAreLoggedAndAbandoned) {
    m_parts.m_settings.SecurityCertName = "www.example";
    m_parts.m_scheduler.m_ends = false;
    m_parts.m_scheduler.m_interpreter = true;
    m_parts.m_http.m_ends = false;
    m_parts.m_ssl.m_ends = false;
    ASSERT_TRUE(m_app.StartServer());
    m_parts.m_trace.clear();
    m_app.StopServer();
    for (const char* text :
         {"Background thread failed to terminate.", "Failed to dump debug information.",
          "Failed to wait for listener to terminate.",
          "Failed to wait for SSL listener to terminate."}) {
        EXPECT_TRUE(m_log.HasLine(text)) << text;
    }
    EXPECT_EQ(m_parts.m_trace,
              (Trace{"Scheduler.Stop", "Scheduler.Wait 5000", "Scheduler.Dump", "Scheduler.Abandon",
                     "Scheduler.Release", "Http.Stop", "Http.Wait 30000", "Http.Abandon",
                     "Http.Release", "Ssl.Stop", "Ssl.Wait 30000", "Ssl.Abandon", "Ssl.Release",
                     "StopPool", "FreeSsl", "ClearContext"}));
    EXPECT_TRUE(m_app.AbandonedThreads());
}

TEST_F(ServerAppTest, AServerThreadAbandonedByThePoolIsReported) {
    m_parts.m_poolResult = -1;
    ASSERT_TRUE(m_app.StartServer());
    m_app.StopServer();
    EXPECT_TRUE(m_app.AbandonedThreads());
}

TEST_F(ServerAppTest, NormalAppRunsUntilTheStopEventIsSetInAnyCase) {
    for (const char* commandLine : {"-NormalApp", "-normalapp", "x -NORMALAPP y"}) {
        CTempFolder root;
        CFakeParts parts(root.Path());
        CServerApp app(root.Path(), parts, m_service);
        CCapturedLog log(g_log);
        std::future<int> run =
            std::async(std::launch::async, [&app, commandLine] { return app.Run(commandLine); });
        bool exists = false;
        for (int i = 0; i < 1000 && !exists; ++i) {
            exists = CNamedEvent::Exists(root.Path(), kServerStopEventName);
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(exists) << commandLine;
        EXPECT_TRUE(CNamedEvent::Signal(root.Path(), kServerStopEventName));
        ASSERT_EQ(run.wait_for(10s), std::future_status::ready) << commandLine;
        EXPECT_EQ(run.get(), 0) << commandLine;
        EXPECT_FALSE(CNamedEvent::Exists(root.Path(), kServerStopEventName));
        EXPECT_TRUE(log.HasLine("Velmorin Server starting up...")) << commandLine;
        ASSERT_FALSE(log.Lines().empty());
        EXPECT_EQ(log.Lines().back(), "Velmorin Server ended.") << commandLine;
        EXPECT_EQ(parts.m_trace.back(), "ClearContext") << commandLine;
    }
}

// The event covers the whole run: a stop sent as the first listener opens is taken, and
// the event is still there while the last part stops, as a client of serve.sh --stop sees it.
TEST_F(ServerAppTest, TheStopEventLivesFromBeforeTheFirstListenerUntilEverythingStopped) {
    for (const bool service : {false, true}) {
        SCOPED_TRACE(service ? "service" : "-NormalApp");
        CTempFolder root;
        CFakeParts parts(root.Path());
        CFakeService manager;
        manager.m_present = service;
        CServerApp app(root.Path(), parts, manager);
        bool sent = false;
        bool existedAtTheEnd = false;
        parts.m_http.m_onStart = [&] {
            sent = CNamedEvent::Signal(root.Path(), kServerStopEventName);
        };
        parts.m_onClearContext = [&] {
            existedAtTheEnd = CNamedEvent::Exists(root.Path(), kServerStopEventName);
        };
        std::future<int> run =
            std::async(std::launch::async, [&] { return app.Run(service ? "" : "-NormalApp"); });
        ASSERT_EQ(run.wait_for(10s), std::future_status::ready) << "the early stop was lost";
        EXPECT_EQ(run.get(), 0);
        EXPECT_TRUE(sent);
        EXPECT_TRUE(existedAtTheEnd);
        EXPECT_EQ(parts.m_trace.back(), "ClearContext");
        EXPECT_FALSE(CNamedEvent::Exists(root.Path(), kServerStopEventName));
    }
}

TEST_F(ServerAppTest, ASecondServerOfTheSameRootEndsAtOnce) {
    CNamedMutex first;
    ASSERT_EQ(first.Create(m_root.Path(), kServerSingleName), CNamedMutex::Result::kCreated);
    EXPECT_EQ(m_app.Run("-NormalApp"), 1);
    EXPECT_TRUE(m_log.HasLine("A Velmorin Server 2 is already running."));
    EXPECT_TRUE(m_parts.m_trace.empty());
}

TEST_F(ServerAppTest, AFailedStartExitsNonZeroWithoutAStopEvent) {
    m_parts.m_http.m_starts = false;
    EXPECT_EQ(m_app.Run("-NormalApp"), 1);
    EXPECT_FALSE(CNamedEvent::Exists(m_root.Path(), kServerStopEventName));
    EXPECT_EQ(m_log.Lines().back(), "Velmorin Server ended.");
}

TEST_F(ServerAppTest, AStopSignalDuringTheStartStopsTheServerOnceStarted) {
    for (int signalNumber : {SIGTERM, SIGINT}) {
        m_parts.m_trace.clear();
        m_parts.m_http.m_onStart = [signalNumber] { SignalLatch::Raise(signalNumber); };
        std::future<int> run = RunAsync("-NormalApp");
        ASSERT_EQ(run.wait_for(10s), std::future_status::ready) << signalNumber;
        EXPECT_EQ(run.get(), 0);
        EXPECT_EQ(m_parts.m_trace.back(), "ClearContext");
        EXPECT_EQ(SignalLatch::Latched(), 0) << "a handled stop stays latched";
    }
}

TEST_F(ServerAppTest, ASignalWhileRunningStopsTheServer) {
    std::future<int> run = RunAsync("-NormalApp");
    ASSERT_TRUE(WaitForStopEvent());
    SignalLatch::Raise(SIGINT);
    ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(run.get(), 0);
    EXPECT_EQ(m_parts.m_trace.back(), "ClearContext");
}

TEST_F(ServerAppTest, WithoutNormalAppOrAServiceManagerItPrintsTheHintAndFails) {
    m_service.m_present = false;
    EXPECT_EQ(m_app.Run(""), 1);
    EXPECT_TRUE(m_log.HasLine("Velmorin Server NT Service starting up..."));
    EXPECT_TRUE(m_log.Has("Please use Velmorin Server Console to start Velmorin Server."));
    EXPECT_TRUE(m_parts.m_trace.empty());
    EXPECT_TRUE(m_service.m_reports.empty());
}

TEST_F(ServerAppTest, AsAServiceItReportsEachStateAndStopsOnSigterm) {
    m_service.m_present = true;
    m_parts.m_scheduler.m_onStart = [] { SignalLatch::Raise(SIGTERM); };
    std::future<int> run = RunAsync("");
    ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(run.get(), 0);

    struct Expected {
        uint32_t state, controls, checkPoint, waitHint;
    } expected[] = {
        {CServiceStatus::kStartPending, 0, 0, 5000},
        {CServiceStatus::kRunning, 5, 0, 0},
        {CServiceStatus::kStopPending, 5, 1, 30000},
        {CServiceStatus::kStopped, 0, 0, 0},
    };
    ASSERT_EQ(m_service.m_reports.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const CServiceStatus& r = m_service.m_reports[i];
        EXPECT_EQ(r.m_serviceType, 16u) << i;
        EXPECT_EQ(r.m_currentState, expected[i].state) << i;
        EXPECT_EQ(r.m_controlsAccepted, expected[i].controls) << i;
        EXPECT_EQ(r.m_checkPoint, expected[i].checkPoint) << i;
        EXPECT_EQ(r.m_waitHint, expected[i].waitHint) << i;
    }
    EXPECT_TRUE(m_log.HasLine("Service state: stop pending (wait hint 30000 ms)."));
    EXPECT_EQ(m_parts.m_trace.back(), "ClearContext");
}

TEST_F(ServerAppTest, AServiceWhoseStartFailsReportsStoppedAndExitsNonZero) {
    m_service.m_present = true;
    m_parts.m_http.m_creatable = false;
    EXPECT_EQ(m_app.Run(""), 1);
    ASSERT_EQ(m_service.m_reports.size(), 2u);
    EXPECT_EQ(m_service.m_reports[0].m_currentState, CServiceStatus::kStartPending);
    EXPECT_EQ(m_service.m_reports[1].m_currentState, CServiceStatus::kStopped);
}

TEST_F(ServerAppTest, OtherControlsOnlyReportAndCountCheckPointsWhilePending) {
    m_service.m_present = true;
    m_app.ServiceCtrlHandler(5);  // shutdown: nothing but a report
    ASSERT_EQ(m_service.m_reports.size(), 1u);
    EXPECT_EQ(m_service.m_reports[0].m_currentState, CServiceStatus::kStopped);
    EXPECT_EQ(m_service.m_reports[0].m_checkPoint, 0u);
    m_app.ServiceCtrlHandler(1);
    m_app.ServiceCtrlHandler(1);
    EXPECT_EQ(m_service.m_reports[2].m_currentState, CServiceStatus::kStopPending);
    EXPECT_EQ(m_service.m_reports[2].m_checkPoint, 2u);
}

}  // namespace
