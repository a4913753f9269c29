#include "studio/DebugController.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/foundation/LogWriter.h"
#include "engine/settings/ServerSettings.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/web/ServerContext.h"
#include "engine/web/ServerContextLink.h"
#include "engine/web/ServerThreadPool.h"
#include "studio/DebugFrontEnd.h"

namespace {

using namespace std::chrono_literals;

// Records what the debugger tells the window.
class CFakeFrontEnd : public CDebugFrontEnd {
public:
    void OnAttached() override {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_attached;
    }
    void OnBreak(int line, const std::string& path) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_breaks.emplace_back(line, path);
        m_changed.notify_all();
    }
    void OnShowError(int offset, const std::string& path) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_errors.emplace_back(offset, path);
    }
    void OnHttpText(const std::string& text) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_http += text;
    }
    // Waits (a hang guard only) until `count` breaks have arrived.
    bool WaitBreaks(size_t count) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, 10s, [&] { return m_breaks.size() >= count; });
    }
    std::vector<std::pair<int, std::string>> Breaks() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_breaks;
    }
    std::vector<std::pair<int, std::string>> Errors() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_errors;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_attached = 0;
    std::vector<std::pair<int, std::string>> m_breaks;
    std::vector<std::pair<int, std::string>> m_errors;
    std::string m_http;
};

class DebugControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir(m_root.File("tmp").c_str(), 0755);
        mkdir(m_root.File("bin").c_str(), 0755);
        m_settings.DbOdbcConnectString = std::string("ODBC;DRIVER=") +
                                         COdbcTestEnv::SqliteDriver() +
                                         ";Database=" + m_root.File("data.db");
        ASSERT_TRUE(m_settings.SaveConnectString());
        CServerContextLink::InstallFor(&m_link);
        m_debugger = std::make_unique<CDebugController>();
        m_debugger->SetEnvironment(m_settings, m_context, m_pool, m_root.Path());
        m_debugger->SetFrontEnd(&m_front);
    }
    void TearDown() override {
        m_debugger.reset();
        CServerContextLink::Uninstall();
    }

    std::string Script(const std::string& name, const std::string& text) {
        const std::string path = m_root.File("bin/" + name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // Waits (a hang guard only) until the debugger is idle again.
    bool WaitIdle() {
        for (int i = 0; i < 1000 && !m_debugger->IsIdle(); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return m_debugger->IsIdle();
    }
    // Waits for `count` breaks and for the paused state that follows the notice.
    bool WaitPaused(size_t count) {
        if (!m_front.WaitBreaks(count)) {
            return false;
        }
        for (int i = 0; i < 1000 && !m_debugger->IsPaused(); ++i) {
            std::this_thread::sleep_for(1ms);
        }
        return m_debugger->IsPaused();
    }

    CTempFolder m_root;
    CCapturedLog m_log{g_log};
    CServerSettings m_settings{m_root.Path(), SettingsBuild::kServer};
    CServerContext m_context{m_settings};
    CServerContextLink m_link{m_context};
    CServerThreadPool m_pool;
    CFakeFrontEnd m_front;
    std::unique_ptr<CDebugController> m_debugger;
};

const char* kThreeLines = "set Local.i = 1;\nset Local.i = Local.i + 1;\nset Local.i = Local.i + 1;\n";

TEST_F(DebugControllerTest, BreakpointPausesOnceAndWatchReadsTheValue) {
    const std::string path = Script("three.zrs", kThreeLines);
    m_debugger->ToggleBreakpoint(path, 2);
    EXPECT_EQ(m_debugger->GetValueText("Local.i"), CDebugController::kNotPaused);
    m_debugger->StartOrContinue(path);
    ASSERT_TRUE(WaitPaused(1));
    EXPECT_EQ(m_front.Breaks(), (std::vector<std::pair<int, std::string>>{{2, path}}));
    EXPECT_EQ(m_debugger->GetValueText("Local.i"), "1");
    EXPECT_EQ(m_debugger->GetLineInFile(path), 2);
    EXPECT_TRUE(m_debugger->IsCurrentFile(path));
    EXPECT_FALSE(m_debugger->CanStepOut());
    m_debugger->StartOrContinue(path);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(m_front.Breaks().size(), 1u);
    EXPECT_EQ(m_log.Count("Debugger ended."), 1);
    EXPECT_EQ(m_debugger->GetValueText("Local.i"), CDebugController::kNotPaused);
}

TEST_F(DebugControllerTest, SingleStepPausesAtEveryLine) {
    for (const char* text : {kThreeLines, "set Local.i = 1;\nset Local.i = 2;\nset Local.i = 3;"}) {
        CFakeFrontEnd front;
        m_debugger->SetFrontEnd(&front);
        m_front.Breaks();
        const std::string path = Script("step.zrs", text);
        m_debugger->SingleStep(path);
        for (size_t line = 1; line <= 3; ++line) {
            ASSERT_TRUE(front.WaitBreaks(line));
            for (int i = 0; i < 1000 && !m_debugger->IsPaused(); ++i) {
                std::this_thread::sleep_for(1ms);
            }
            EXPECT_EQ(front.Breaks().back(), std::make_pair(static_cast<int>(line), path));
            m_debugger->SingleStep(path);
        }
        ASSERT_TRUE(WaitIdle());
        EXPECT_EQ(front.Breaks().size(), 3u);
        m_debugger->SetFrontEnd(&m_front);
    }
}

TEST_F(DebugControllerTest, BreakpointOnUnterminatedLastLineAndPathWithQuestionMark) {
    const std::string path = Script("odd?name.zrs", "set Local.i = 1;\nset Local.i = 2;");
    m_debugger->ToggleBreakpoint(path, 2);
    EXPECT_EQ(m_debugger->GetBreakpointLines(path, 128), std::vector<int>{2});
    m_debugger->StartOrContinue(path);
    ASSERT_TRUE(WaitPaused(1));
    EXPECT_EQ(m_front.Breaks().back(), std::make_pair(2, path));
    m_debugger->StartOrContinue(path);
    ASSERT_TRUE(WaitIdle());
}

TEST_F(DebugControllerTest, BreakpointList) {
    m_debugger->ToggleBreakpoint("p", 2);
    m_debugger->ToggleBreakpoint("p", 2);
    EXPECT_EQ(m_debugger->GetBreakpointList(), "");
    m_debugger->ToggleBreakpoint("p", 2);
    EXPECT_EQ(m_debugger->GetBreakpointList(), "p?2\n");
    EXPECT_TRUE(m_debugger->HasBreakpoint("p", 2));
    EXPECT_FALSE(m_debugger->HasBreakpoint("P", 2));
    m_debugger->ClearAllBreakpoints();
    for (int line = 1; line <= 130; ++line) {
        m_debugger->ToggleBreakpoint("/d/a.zrp", line);
    }
    EXPECT_EQ(m_debugger->GetBreakpointLines("/d/a.zrp", 128).size(), 128u);
    m_debugger->ClearAllBreakpoints();
    m_debugger->ToggleBreakpoint("/d/a.zrp.bak", 3);
    m_debugger->ToggleBreakpoint("/d/A.zrp", 4);
    EXPECT_TRUE(m_debugger->GetBreakpointLines("/d/a.zrp", 128).empty());
    EXPECT_TRUE(CDebugController::IsPageFile("/d/x.ZRP"));
    EXPECT_FALSE(CDebugController::IsPageFile("/d/x.zrs"));
    EXPECT_FALSE(CDebugController::IsPageFile("/d/zrp"));
}

TEST_F(DebugControllerTest, WatchesDoNotPauseAndRunawayWatchTimesOut) {
    const std::string path = Script(
        "watch.zrs",
        "set Local.i = 5;\nset Local.i = Local.i + 1;\n"
        "function f() return 7;\nendfunction\n"
        "function spin() while (1) set Local.k = 1; endwhile return 0; endfunction\n");
    m_debugger->ToggleBreakpoint(path, 2);
    m_debugger->ToggleBreakpoint(path, 3);
    m_debugger->StartOrContinue(path);
    ASSERT_TRUE(WaitPaused(1));
    EXPECT_EQ(m_debugger->GetValueText("Local.f()"), "7");
    EXPECT_EQ(m_front.Breaks().size(), 1u);
    EXPECT_EQ(m_debugger->GetValueText("Local.spin()"), CDebugController::kWatchTimedOut);
    m_debugger->Stop();
    EXPECT_TRUE(m_debugger->IsIdle());
    EXPECT_EQ(m_debugger->GetLastRunResult(), 3);
    EXPECT_EQ(m_log.Count("Debugger ended."), 1);
}

TEST_F(DebugControllerTest, StopWhilePausedEndsTheRunAsStopped) {
    const std::string path = Script("stop.zrs", kThreeLines);
    m_debugger->ToggleBreakpoint(path, 2);
    m_debugger->StartOrContinue(path);
    ASSERT_TRUE(WaitPaused(1));
    const auto start = std::chrono::steady_clock::now();
    m_debugger->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, CDebugController::kStopWait);
    EXPECT_TRUE(m_debugger->IsIdle());
    EXPECT_EQ(m_debugger->GetLastRunResult(), 3);
    EXPECT_EQ(m_log.Count("Debugger ended."), 1);
}

TEST_F(DebugControllerTest, StepOutPausesAtTheCallersNextStatement) {
    const std::string path = Script("out.zrs",
                                    "set Local.a = Local.f();\n"
                                    "set Local.b = 2;\n"
                                    "function f() set Local.x = Local.g();\n"
                                    "set Local.y = Local.g();\nreturn 1; endfunction\n"
                                    "function g() return 3; endfunction\n");
    m_debugger->ToggleBreakpoint(path, 4);
    m_debugger->StartOrContinue(path);
    ASSERT_TRUE(WaitPaused(1));
    EXPECT_EQ(m_front.Breaks().back(), std::make_pair(4, path));
    EXPECT_TRUE(m_debugger->CanStepOut());
    m_debugger->StepOut();
    ASSERT_TRUE(WaitPaused(2));
    EXPECT_EQ(m_front.Breaks().back(), std::make_pair(2, path));
    m_debugger->StartOrContinue(path);
    ASSERT_TRUE(WaitIdle());
}

TEST_F(DebugControllerTest, BreakPausesALongLoop) {
    const std::string path = Script("loop.zrs",
                                    "set Local.i = 0;\nwhile (1)\nset Local.i = Local.i + 1;\n"
                                    "endwhile\n");
    m_debugger->StartOrContinue(path);
    for (int i = 0; i < 1000 && !m_debugger->IsRunning(); ++i) {
        std::this_thread::sleep_for(1ms);
    }
    m_debugger->Break();
    ASSERT_TRUE(WaitPaused(1));
    EXPECT_GE(m_front.Breaks().back().first, 2);
    m_debugger->Stop();
    EXPECT_TRUE(m_debugger->IsIdle());
}

TEST_F(DebugControllerTest, ErrorInsideAFunctionShowsItsFileOffset) {
    const std::string text = "set Local.a = Local.f();\nfunction f() return bar.x; endfunction\n";
    const std::string path = Script("err.zrs", text);
    m_debugger->StartOrContinue(path);
    ASSERT_TRUE(WaitIdle());
    for (int i = 0; i < 1000 && m_front.Errors().empty(); ++i) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(m_front.Errors().size(), 1u);
    EXPECT_EQ(m_front.Errors()[0].first, static_cast<int>(text.find("bar.x")));
    EXPECT_EQ(m_front.Errors()[0].second, path);
}

TEST_F(DebugControllerTest, ScriptThatDoesNotLoadEndsTheDebugging) {
    m_debugger->StartOrContinue(m_root.File("bin/missing.zrs"));
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(m_front.Breaks().empty());
    for (int i = 0; i < 1000 && m_log.Count("Debugger ended.") == 0; ++i) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(m_log.Count("Debugger ended."), 1);
}

TEST_F(DebugControllerTest, IdleCommandsThatStartNothing) {
    m_debugger->SingleStep(m_root.File("page.zrp"));
    EXPECT_TRUE(m_log.Has("Internal Error."));
    EXPECT_TRUE(m_debugger->IsIdle());
    m_debugger->SetPort("abc");
    m_debugger->StartOrContinue("");
    EXPECT_TRUE(m_log.Has("Make sure the TCP port for Velmorin Studio is available"));
    EXPECT_TRUE(m_debugger->IsIdle());
    m_debugger->StepOut();
    EXPECT_TRUE(m_log.Has("No SSP interpreter is active."));
}

TEST_F(DebugControllerTest, ContinueAndStopRacingAPause) {
    const std::string path = Script("race.zrs", "set Local.i = 0;\nwhile (1)\nset Local.i = 1;\nendwhile\n");
    m_debugger->ToggleBreakpoint(path, 3);
    for (int round = 0; round < 1000; ++round) {
        m_debugger->StartOrContinue(path);
        std::thread racer([&] { m_debugger->StartOrContinue(path); });
        m_debugger->Stop(false);
        racer.join();
        m_debugger->Stop(false);
        ASSERT_TRUE(m_debugger->IsIdle()) << round;
    }
}

}  // namespace
