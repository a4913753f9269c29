// The server control over a fake service manager, and the systemd manager over a fake
// systemctl that keeps the unit's state in files.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "console/ServerControl.h"
#include "console/SystemdServiceControl.h"
#include "console/tests/ConsoleTestRoot.h"
#include "engine/foundation/NamedObject.h"
#include "engine/foundation/ObjectNames.h"
#include "engine/foundation/SystemError.h"
#include "engine/foundation/UniqueFd.h"
#include "engine/testsupport/ScopedEnv.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

// The service as the tests want it; shared by every manager object the factory makes.
struct CFakeService {
    bool m_installed = true;
    bool m_running = false;
    bool m_startWorks = true;
    bool m_stopWorks = true;
    std::vector<std::string> m_calls;
};

class CFakeServiceControl : public CServiceControl {
public:
    explicit CFakeServiceControl(CFakeService& service) : m_service(service) {}
    bool IsOpened() const override { return true; }

protected:
    bool DoIsInstalled(const std::string&) override { return m_service.m_installed; }
    bool DoIsRunning(const std::string&) override { return m_service.m_running; }
    bool DoStart(const std::string& name) override {
        m_service.m_calls.push_back("start " + name);
        m_service.m_running = m_service.m_startWorks;
        return m_service.m_startWorks || Fail(1053, "The service did not respond.");
    }
    bool DoStop(const std::string& name) override {
        m_service.m_calls.push_back("stop " + name);
        m_service.m_running = !m_service.m_stopWorks;
        return m_service.m_stopWorks || Fail(1061, "The service cannot accept control messages.");
    }
    bool DoRemove(const std::string&) override { return true; }
    bool DoQueryStartType(const std::string&, int& type) override {
        type = kManual;
        return true;
    }
    bool DoChangeStartType(const std::string&, int) override { return true; }
    bool DoSetDependency(const std::string& name, const std::string& dependency) override {
        m_service.m_calls.push_back("depend " + name + " " + dependency);
        return true;
    }
    bool DoInstall(const std::string&, const std::string&, int, const std::string&) override {
        return true;
    }
    bool DoCanInstall() override { return true; }

private:
    CFakeService& m_service;
};

class ServerControlTest : public ::testing::Test {
protected:
    ServerControlTest()
        : m_control(m_root.Path(),
                    [this] { return std::make_unique<CFakeServiceControl>(m_service); }) {
        m_control.SetPolling({10, std::chrono::milliseconds(1)});
        m_control.ProbeService();
    }

    CTempFolder m_root;
    CFakeService m_service;
    CServerControl m_control;
};

TEST_F(ServerControlTest, StartAndStopAsAService) {
    ASSERT_TRUE(m_control.IsServiceInstalled());
    std::string text = "stale";
    EXPECT_TRUE(m_control.DoStopServer(text));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(m_service.m_calls.empty());

    EXPECT_TRUE(m_control.DoStartServer(text));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(m_control.IsServerRunning());

    text = "stale";
    EXPECT_TRUE(m_control.DoStartServer(text));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(m_control.DoStopServer(text));
    EXPECT_EQ(m_service.m_calls,
              (std::vector<std::string>{"start velmorinServer2", "stop velmorinServer2"}));
}

TEST_F(ServerControlTest, ServiceFailuresNameTheKind) {
    m_service.m_startWorks = false;
    std::string text;
    EXPECT_FALSE(m_control.DoStartServer(text));
    EXPECT_EQ(text,
              "Failed to start Velmorin Server NT Service Tallgrove.\nThe service did not "
              "respond.");

    m_service.m_running = true;
    m_service.m_stopWorks = false;
    EXPECT_FALSE(m_control.DoStopServer(text));
    EXPECT_EQ(text,
              "Failed to stop Velmorin ServerNT Service .\nPlease check log file for "
              "errors. The service cannot accept control messages.\n");
}

TEST_F(ServerControlTest, WithoutTheServiceTheStopEventDecides) {
    m_service.m_installed = false;
    m_control.ProbeService();
    EXPECT_FALSE(m_control.IsServiceInstalled());
    EXPECT_EQ(m_control.Kind(), "");
    m_service.m_running = true;  // the service's state no longer counts
    EXPECT_FALSE(m_control.IsServerRunning());
    std::string text = "stale";
    EXPECT_TRUE(m_control.DoStopServer(text));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(m_service.m_calls.empty());
}

TEST_F(ServerControlTest, AnotherUsersConsoleIsToldWhyItCannotStop) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    m_service.m_installed = false;
    m_control.ProbeService();
    CNamedEvent event;
    ASSERT_TRUE(event.Create(m_root.Path(), kServerStopEventName));
    // The other user is of the root's group, an administrator who is not the server's user.
    ASSERT_EQ(::chmod(m_root.Path().c_str(), 0755), 0);
    for (const std::string& path : {m_root.Path(), m_root.File("tmp")}) {
        ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), 65534), 0);
    }
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(2);
        }
        std::string text;
        const bool stopped = m_control.DoStopServer(text);
        (void)!::write(pipeFds[1], text.data(), text.size());
        ::_exit(stopped ? 1 : 0);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof(buffer))) > 0;) {
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(text,
              "Failed to stop Velmorin Server.\nPlease check log file for errors. Velmorin "
              "Server runs as user 0; only that user or root can stop it.\n");
    EXPECT_TRUE(CNamedEvent::Exists(m_root.Path(), kServerStopEventName));
}

TEST_F(ServerControlTest, AStopEventThatVanishesBeforeTheSignalStillStops) {
    m_service.m_installed = false;
    m_control.ProbeService();
    // A server's stop event that ends as soon as the console first looks at it.
    ASSERT_EQ(::mkdir(m_root.File("tmp").c_str(), 0770), 0);
    const std::string name = m_root.File("tmp") + "/" + kServerStopEventName;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(name.size(), sizeof(address.sun_path));
    std::memcpy(address.sun_path, name.data(), name.size());
    const socklen_t length = sizeof(address);
    CUniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener.Get(), 4), 0);
    std::thread server([&listener] {
        CUniqueFd first(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        ::close(listener.Release());
    });
    std::string text = "stale";
    EXPECT_TRUE(m_control.DoStopServer(text));
    EXPECT_EQ(text, "");
    server.join();
    EXPECT_FALSE(m_control.IsServerRunning());
}

TEST_F(ServerControlTest, DependencyOfFiftyCharactersAtMost) {
    CFakeServiceControl control(m_service);
    EXPECT_TRUE(control.SetDependency("velmorinServer2", std::string(50, 'd')));
    EXPECT_EQ(control.Error(), "");
    EXPECT_FALSE(control.SetDependency("velmorinServer2", std::string(51, 'd')));
    EXPECT_EQ(control.Error(), "Service dependency can not longer than 50 charaters.");
    EXPECT_EQ(m_service.m_calls.size(), 1u);
}

// The systemd manager against a systemctl that records its calls and keeps the unit's
// state: "active" while started.
class SystemdTest : public ::testing::Test {
protected:
    SystemdTest() {
        m_units = m_temp.File("units");
        m_masks = m_temp.File("masks");
        WriteExecutable(m_temp.File("systemctl"),
                        "#!/bin/sh\n"
                        "cd '" +
                            m_temp.Path() +
                            "'\n"
                            "echo \"$*\" >> calls\n"
                            "[ \"$1\" = --no-ask-password ] || exit 9\n"
                            "case \"$2\" in\n"
                            "  status) [ -e 'units/'\"$3\" ] || exit 4; [ -e active ] || exit 3;;\n"
                            "  is-active) [ -e active ] || exit 3;;\n"
                            "  is-enabled) [ -e enabled ] || exit 1;;\n"
                            "  start) [ -e startfails ] && exit 1; touch active;;\n"
                            "  stop) rm -f active;;\n"
                            "esac\nexit 0\n");
        m_env.Set("PATH", (m_temp.Path() + ":/usr/bin:/bin").c_str());
    }

    CSystemdServiceControl Manager(bool hostRunsSystemd = true) {
        CSystemdServiceControl::Config config;
        config.m_unitFolder = m_units;
        config.m_maskFolder = m_masks;
        config.m_hostRunsSystemd = [hostRunsSystemd] { return hostRunsSystemd; };
        return CSystemdServiceControl(config);
    }
    std::vector<std::string> Calls() {
        std::vector<std::string> calls;
        std::string text = ReadFile(m_temp.File("calls"));
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            calls.push_back(text.substr(at, end - at));
        }
        WriteFile(m_temp.File("calls"), "");
        return calls;
    }

    CTempFolder m_temp;
    CScopedEnv m_env;
    std::string m_units;
    std::string m_masks;
};

TEST_F(SystemdTest, InstallWritesTheUnitAndItsStartType) {
    CSystemdServiceControl manager = Manager();
    const std::string program = m_temp.File("my root") + "/bin/Tallgrove";
    ASSERT_TRUE(manager.Install(program, "velmorinServer2", CServiceControl::kAutomatic, ""))
        << manager.Error();
    const std::string unit = ReadFile(m_units + "/velmorinServer2.service");
    EXPECT_NE(unit.find("\nType=notify\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nExecStart=\"" + program + "\"\n"), std::string::npos) << unit;
    EXPECT_EQ(unit.find("User="), std::string::npos) << unit;
    EXPECT_EQ(Calls(),
              (std::vector<std::string>{"--no-ask-password daemon-reload",
                                        "--no-ask-password unmask velmorinServer2.service",
                                        "--no-ask-password enable velmorinServer2.service"}));
    EXPECT_TRUE(manager.IsInstalled("velmorinServer2"));
    EXPECT_FALSE(manager.IsRunning("velmorinServer2"));

    // A path without a blank stands unquoted.
    ASSERT_TRUE(
        manager.Install("/opt/v/bin/Tallgrove", "velmorinServer2", CServiceControl::kManual, ""));
    EXPECT_NE(
        ReadFile(m_units + "/velmorinServer2.service").find("\nExecStart=/opt/v/bin/Tallgrove\n"),
        std::string::npos);
}

TEST_F(SystemdTest, StartTypesAreEnableDisableAndMask) {
    CSystemdServiceControl manager = Manager();
    struct Case {
        int type;
        std::vector<std::string> calls;
    } cases[] = {
        {CServiceControl::kAutomatic, {"unmask", "enable"}},
        {CServiceControl::kManual, {"unmask", "disable"}},
        {CServiceControl::kDisabled, {"mask"}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(manager.ChangeStartType("velmorinServer2", c.type)) << manager.Error();
        std::vector<std::string> expected;
        for (const std::string& verb : c.calls) {
            expected.push_back("--no-ask-password " + verb + " velmorinServer2.service");
        }
        EXPECT_EQ(Calls(), expected) << c.type;
    }
}

TEST_F(SystemdTest, StartTypeIsReadBack) {
    CSystemdServiceControl manager = Manager();
    int type = -1;
    ASSERT_TRUE(manager.QueryStartType("velmorinServer2", type));
    EXPECT_EQ(type, CServiceControl::kManual);
    WriteFile(m_temp.File("enabled"), "");
    ASSERT_TRUE(manager.QueryStartType("velmorinServer2", type));
    EXPECT_EQ(type, CServiceControl::kAutomatic);
    std::filesystem::create_directories(m_masks);
    std::filesystem::create_symlink("/dev/null", m_masks + "/velmorinServer2.service");
    ASSERT_TRUE(manager.QueryStartType("velmorinServer2", type));
    EXPECT_EQ(type, CServiceControl::kDisabled);
}

TEST_F(SystemdTest, DependencyIsADropIn) {
    CSystemdServiceControl manager = Manager();
    const std::string dropIn = m_units + "/velmorinServer2.service.d/dependency.conf";
    ASSERT_TRUE(manager.SetDependency("velmorinServer2", "postgresql")) << manager.Error();
    EXPECT_EQ(ReadFile(dropIn), "[Unit]\nRequires=postgresql.service\nAfter=postgresql.service\n");
    ASSERT_TRUE(manager.SetDependency("velmorinServer2", "db.socket"));
    EXPECT_EQ(ReadFile(dropIn), "[Unit]\nRequires=db.socket\nAfter=db.socket\n");
    ASSERT_TRUE(manager.SetDependency("velmorinServer2", ""));
    EXPECT_FALSE(Exists(dropIn));
    EXPECT_EQ(Calls(), std::vector<std::string>(3, "--no-ask-password daemon-reload"));
}

TEST_F(SystemdTest, StartStopAndRemove) {
    CSystemdServiceControl manager = Manager();
    ASSERT_TRUE(manager.Install("/opt/v/bin/Tallgrove", "velmorinServer2", CServiceControl::kManual,
                                "postgresql"));
    Calls();
    ASSERT_TRUE(manager.Start("velmorinServer2")) << manager.Error();
    EXPECT_TRUE(manager.IsRunning("velmorinServer2"));
    Calls();

    ASSERT_TRUE(manager.Remove("velmorinServer2")) << manager.Error();
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "--no-ask-password is-active --quiet velmorinServer2.service",
                           "--no-ask-password stop velmorinServer2.service",
                           "--no-ask-password is-active --quiet velmorinServer2.service",
                           "--no-ask-password disable velmorinServer2.service",
                           "--no-ask-password unmask velmorinServer2.service",
                           "--no-ask-password daemon-reload"}));
    EXPECT_FALSE(Exists(m_units + "/velmorinServer2.service"));
    EXPECT_FALSE(Exists(m_units + "/velmorinServer2.service.d"));
    EXPECT_FALSE(manager.IsInstalled("velmorinServer2"));

    WriteFile(m_temp.File("startfails"), "");
    EXPECT_FALSE(manager.Start("velmorinServer2"));
    EXPECT_EQ(manager.Error(), "systemctl start velmorinServer2.service ended with exit code 1.");
    EXPECT_EQ(manager.ErrorCode(), 1);
}

TEST_F(SystemdTest, WithoutSystemdNothingRuns) {
    CSystemdServiceControl manager = Manager(false);
    EXPECT_FALSE(manager.IsOpened());
    EXPECT_FALSE(manager.IsInstalled("velmorinServer2"));
    EXPECT_FALSE(manager.Install("/opt/v/bin/Tallgrove", "velmorinServer2", 0, ""));
    EXPECT_EQ(manager.Error(), "The service manager is not available on this host.");
    EXPECT_FALSE(Exists(m_units));
    EXPECT_TRUE(Calls().empty());
}

TEST_F(SystemdTest, ARefusedWriteGivesTheSystemsReason) {
    WriteFile(m_units, "a file where the folder should be");
    CSystemdServiceControl manager = Manager();
    EXPECT_FALSE(manager.Install("/opt/v/bin/Tallgrove", "velmorinServer2", 0, ""));
    EXPECT_EQ(manager.Error(), FormatSystemError(ENOTDIR));
}

}  // namespace

namespace {

TEST(SystemdHost, TheRealManagerKnowsNoSuchUnit) {
    CSystemdServiceControl manager;
    if (!manager.IsOpened()) {
        GTEST_SKIP() << "this host does not run systemd";
    }
    EXPECT_FALSE(manager.IsInstalled("velmorinServer2-never-installed"));
    EXPECT_FALSE(manager.IsRunning("velmorinServer2-never-installed"));
}

}  // namespace
