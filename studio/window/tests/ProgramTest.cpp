// The program itself: copied into a root of its own, started with a file on its command line
// and ended by SIGTERM.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "engine/testsupport/ChildProcess.h"
#include "studio/window/tests/WindowFixture.h"

namespace {

// Whether process `pid` has `signal` blocked (its main thread's mask), within 10 s.
bool WaitBlocked(pid_t pid, int signal) {
    for (int i = 0; i < 1000; ++i) {
        const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
        const size_t at = status.find("SigBlk:");
        if (at != std::string::npos &&
            (std::stoull(status.substr(at + 7), nullptr, 16) >> (signal - 1)) & 1) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

TEST_F(WindowTest, ProgramOpensNothingFromItsCommandLineAndSavesOnSigterm) {
    mkdir(m_root.File("bin").c_str(), 0755);
    mkdir(m_root.File("webroot").c_str(), 0755);
    const std::string program = m_root.File("bin/Wrenfold");
    ASSERT_TRUE(WriteFile(program, ReadFile(VELMORIN_WRENFOLD)));
    chmod(program.c_str(), 0755);
    const std::string page = m_root.File("webroot/x.zrp");
    ASSERT_TRUE(WriteFile(page, "x"));

    CChildOptions options;
    std::vector<std::string> environment = {"QT_QPA_PLATFORM=offscreen",
                                            "XDG_CONFIG_HOME=" + m_config.Path(),
                                            "XDG_RUNTIME_DIR=" + m_config.Path()};
    // A sanitizer build's settings go along.
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (const char* value = getenv(name)) {
            environment.push_back(std::string(name) + "=" + value);
        }
    }
    options.m_environment = environment;
    options.m_stderr = CChildStream::Null();
    chmod(m_config.Path().c_str(), 0700);
    CChildProcess child({program, page}, options);
    ASSERT_TRUE(child.Started());
    // Once the program blocks SIGTERM (its first step), a signal waits for the window.
    ASSERT_TRUE(WaitBlocked(child.Pid(), SIGTERM));
    ASSERT_EQ(kill(child.Pid(), SIGTERM), 0);
    std::optional<int> status;
    for (int i = 0; i < 3000 && !(status = child.TryWait()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    const std::string ini = ReadFile(IniPath());
    EXPECT_NE(ini.find("DebuggerIpPort=8085"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("x.zrp"), std::string::npos) << ini;
}
