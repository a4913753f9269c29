// One interactive console per installation: a second one raises the first and ends with 0.
#include "console/window/SingleInstance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "console/window/MainFrame.h"
#include "console/window/tests/WindowFixture.h"
#include "engine/testsupport/ChildProcess.h"
#include "engine/testsupport/TempFolder.h"

TEST(SingleInstance, ASecondConsoleRaisesTheFirstAndEndsWithZero) {
    CWindowFixture fixture;
    CMainFrame frame(fixture.Context(), fixture.Profile());
    frame.showMinimized();
    int raised = 0;
    CSingleInstance first;
    ASSERT_EQ(first.Claim(fixture.Root().Root(),
                          [&] {
                              ++raised;
                              frame.Raise();
                          }),
              CSingleInstance::EClaim::kFirst);

    CChildOptions options;
    options.m_stdin = options.m_stdout = options.m_stderr = CChildStream::Null();
    CChildProcess second({fixture.Root().Path("bin/Brackmoor")}, options);
    ASSERT_TRUE(second.Started());
    std::optional<int> code;
    EXPECT_TRUE(PumpUntil([&] { return (code = second.TryWait()).has_value(); }));
    EXPECT_EQ(code, std::optional<int>(0));
    EXPECT_EQ(raised, 1);
    EXPECT_FALSE(frame.isMinimized());
    EXPECT_TRUE(frame.isVisible());
}

TEST(SingleInstance, InstallationsDoNotMeet) {
    CTempFolder temp;
    for (const char* root : {"one", "two"}) {
        ASSERT_EQ(::mkdir(temp.File(root).c_str(), 0755), 0) << root;
    }
    CSingleInstance a;
    CSingleInstance b;
    EXPECT_EQ(a.Claim(temp.File("one"), [] {}), CSingleInstance::EClaim::kFirst);
    EXPECT_EQ(b.Claim(temp.File("two"), [] {}), CSingleInstance::EClaim::kFirst);
}
