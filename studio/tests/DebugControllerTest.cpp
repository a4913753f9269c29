#include "studio/DebugController.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "studio/tests/DebuggerFixture.h"

namespace {

using namespace std::chrono_literals;

const char* kThreeLines =
    "set Local.i = 1;\nset Local.i = Local.i + 1;\nset Local.i = Local.i + 1;\n";

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
    const std::string path =
        Script("watch.zrs",
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
    // Running starts at line 1; give the run time to reach the loop before the break.
    std::this_thread::sleep_for(50ms);
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
    const std::string path =
        Script("race.zrs", "set Local.i = 0;\nwhile (1)\nset Local.i = 1;\nendwhile\n");
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
