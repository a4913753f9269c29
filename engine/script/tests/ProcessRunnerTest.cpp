#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/script/DesktopOpener.h"
#include "engine/script/ProcessRunner.h"
#include "engine/testsupport/ScopedEnv.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

namespace fs = std::filesystem;

class ProcessRunner : public ::testing::Test {
protected:
    // An executable shell script in the test folder.
    std::string Script(const std::string& name, const std::string& body) {
        std::string path = m_dir + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        chmod(path.c_str(), 0755);
        return path;
    }
    static std::string RunText(const std::string& program, const std::string& arguments,
                               std::int64_t waitMs = 30000) {
        return RunOutcomeText(RunProgram(program, SplitCommandArguments(arguments), waitMs));
    }

    CTempFolder m_folder;
    std::string m_dir = m_folder.Path();
};

TEST(CommandArguments, SplitAtBlanksWithQuotes) {
    struct Case {
        const char* text;
        std::vector<std::string> args;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"a b\tc", {"a", "b", "c"}},
        {"  a   b  ", {"a", "b"}},
        {"\"a b\" c", {"a b", "c"}},
        {"x\"y z\"w", {"xy zw"}},
        {"\"\" a", {"", "a"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"a\\\"b", {"a\"b"}},
        {"C:\\dir\\file", {"C:\\dir\\file"}},
        {"\"unclosed group", {"unclosed group"}},
        {"; rm -rf /", {";", "rm", "-rf", "/"}},
        {"$(id) `id` | & > <", {"$(id)", "`id`", "|", "&", ">", "<"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitCommandArguments(c.text), c.args) << c.text;
    }
}

TEST(CommandArguments, WaitInMilliseconds) {
    struct Case {
        std::int64_t seconds;
        std::int64_t ms;
    } cases[] = {{-5, 0},
                 {0, 0},
                 {3, 3000},
                 {2147483, 2147483000},
                 {2147484, kMaxRunWaitMs},
                 {INT64_MAX, kMaxRunWaitMs}};
    for (const Case& c : cases) {
        EXPECT_EQ(RunWaitMs(c.seconds), c.ms) << c.seconds;
    }
}

TEST_F(ProcessRunner, ExitCodesAndSignals) {
    EXPECT_EQ(RunText(Script("three", "exit 3"), ""), "3");
    EXPECT_EQ(RunText(Script("zero", "exit 0"), ""), "0");
    EXPECT_EQ(RunText(Script("args", "exit $#"), "a \"b c\" d"), "3");
    EXPECT_EQ(RunText(Script("term", "kill -TERM $$\nsleep 5"), ""), "143");
    EXPECT_EQ(RunText(Script("kill", "kill -KILL $$\nsleep 5"), ""), "137");
}

TEST_F(ProcessRunner, ArgumentsReachTheChildAsTheyAre) {
    std::string out = m_dir + "/args.txt";
    std::string program =
        Script("echo-args", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > " + out);
    std::string marker = m_dir + "/pwned";
    std::string value = "; touch " + marker;
    ASSERT_EQ(RunText(program, "\"" + value + "\""), "0");
    EXPECT_EQ(ReadFile(out), "[" + value + "]\n");
    ASSERT_EQ(RunText(program, value + " $(touch " + marker + ") `touch " + marker + "`"), "0");
    EXPECT_EQ(ReadFile(out), "[;]\n[touch]\n[" + marker + "]\n[$(touch]\n[" + marker +
                                 ")]\n[`touch]\n[" + marker + "`]\n");
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(ProcessRunner, ChildGetsNullStdioAndNoOtherDescriptors) {
    // A descriptor of ours without close-on-exec, as a careless library might leave one.
    int leaked = open((m_dir + "/held").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(leaked, 3);
    std::string out = m_dir + "/fds.txt";
    std::string program = Script("fds",
                                 "links=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
                                 "if [ -e /proc/$$/fd/" +
                                     std::to_string(leaked) +
                                     " ]; then state=inherited; else state=closed; fi\n"
                                     "printf '%s\\n%s\\n' \"$links\" $state > " +
                                     out);
    EXPECT_EQ(RunText(program, ""), "0");
    close(leaked);
    EXPECT_EQ(ReadFile(out), "/dev/null\n/dev/null\n/dev/null\nclosed\n");
}

TEST_F(ProcessRunner, OptionsNameSessionAndFolder) {
    std::string out = m_dir + "/out.txt";
    fs::create_directory(m_dir + "/work");
    // Field 6 of /proc/<pid>/stat is the session: a session leader's is its own pid.
    std::string script =
        "tr '\\0' ' ' < /proc/$$/cmdline > " + out + "; echo >> " + out + "; pwd >> " + out +
        "; read -r l < /proc/$$/stat; set -- $l; [ \"$6\" = \"$$\" ] && echo leader >> " + out +
        " || echo member >> " + out;
    CRunOptions options;
    options.m_argv0 = "Named";
    options.m_searchPath = true;
    options.m_newSession = true;
    options.m_workFolder = m_dir + "/work";
    EXPECT_EQ(RunOutcomeText(RunProgram("sh", {"-c", script}, 30000, options)), "0");
    EXPECT_EQ(ReadFile(out), "Named -c " + script + " \n" + m_dir + "/work\nleader\n");

    ASSERT_EQ(RunOutcomeText(RunProgram("/bin/sh", {"-c", script}, 30000)), "0");
    EXPECT_EQ(ReadFile(out),
              "/bin/sh -c " + script + " \n" + fs::current_path().string() + "\nmember\n");

    // Without the search a bare name is a path relative to the working folder.
    CRunOutcome missing = RunProgram("sh", {"-c", "exit 0"}, 30000);
    EXPECT_EQ(missing.m_kind, CRunOutcome::kNotStarted);
    EXPECT_EQ(missing.m_error, ENOENT);
}

TEST_F(ProcessRunner, TimeoutLeavesTheChildRunningAndReapsItLater) {
    std::string pidFile = m_dir + "/pid";
    std::string program = Script("sleeper", "echo $$ > " + pidFile + "\nsleep 2");
    EXPECT_EQ(RunText(program, "", 500), "timeout");
    // Still running right after the wait.
    pid_t pid = 0;
    for (int i = 0; i < 200 && pid == 0; ++i) {
        std::ifstream(pidFile) >> pid;
        if (pid == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_GT(pid, 0);
    EXPECT_EQ(kill(pid, 0), 0);
    EXPECT_GE(PendingRunChildren(), 1u);
    // Reaped once it ends: no zombie is left (a zombie would still answer kill).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (PendingRunChildren() != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(PendingRunChildren(), 0u);
    errno = 0;
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST_F(ProcessRunner, ProgramsThatCannotStart) {
    std::string plain = m_dir + "/not-executable";
    std::ofstream(plain) << "exit 3\n";
    chmod(plain.c_str(), 0644);
    struct Case {
        std::string program;
        std::string prefix;
    } cases[] = {
        {m_dir + "/missing", "Error [2]: "},
        {plain, "Error [13]: "},
        {m_dir, "Error [13]: "},
    };
    for (const Case& c : cases) {
        CRunOutcome outcome = RunProgram(c.program, {}, 1000);
        EXPECT_EQ(outcome.m_kind, CRunOutcome::kNotStarted) << c.program;
        EXPECT_EQ(RunOutcomeText(outcome).rfind(c.prefix, 0), 0u) << RunOutcomeText(outcome);
    }
}

}  // namespace

TEST(DesktopOpener, StartsXdgOpenFromPathOrTheReplacement) {
    CTempFolder folder;
    std::string seen = folder.Path() + "/seen.txt";
    std::string fake = folder.Path() + "/xdg-open";
    std::ofstream(fake) << "#!/bin/sh\nprintf '%s' \"$1\" > " << seen << ".part && mv " << seen
                        << ".part " << seen << "\n";
    chmod(fake.c_str(), 0755);
    CScopedEnv env;
    env.Set("PATH", (folder.Path() + ":/usr/bin:/bin").c_str());
    ASSERT_TRUE(OpenWithDesktop("http://127.0.0.1:8085"));
    for (int i = 0; i < 500 && !Exists(seen); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ReadFile(seen), "http://127.0.0.1:8085");

    std::vector<std::string> targets;
    DesktopOpener old = SetDesktopOpener([&](const std::string& target) {
        targets.push_back(target);
        return false;
    });
    EXPECT_FALSE(old);
    EXPECT_FALSE(OpenWithDesktop("/root/help.html"));
    EXPECT_EQ(targets, std::vector<std::string>{"/root/help.html"});
    SetDesktopOpener({});

    env.Set("PATH", folder.Path().c_str());
    fs::remove(fake);
    EXPECT_FALSE(OpenWithDesktop("http://127.0.0.1:8085"));
}
