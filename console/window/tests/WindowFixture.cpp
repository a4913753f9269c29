#include "console/window/tests/WindowFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include "console/SystemdServiceControl.h"
#include "engine/data/OdbcEnvironment.h"
#include "engine/foundation/SettingsStore.h"

namespace {

CHostResolver NoNames() {
    CHostResolver resolver;
    resolver.m_reverse = [](const std::string&) { return std::string(); };
    resolver.m_forward = [](const std::string&) { return std::vector<std::string>(); };
    return resolver;
}

// The fake systemctl of the root over unit folders of the root's own.
ServiceControlFactory FakeServiceManager(const std::string& root) {
    return [root] {
        CSystemdServiceControl::Config config;
        config.m_unitFolder = root + "/units";
        config.m_maskFolder = root + "/masks";
        config.m_hostRunsSystemd = [] { return true; };
        return std::make_unique<CSystemdServiceControl>(config);
    };
}

std::unique_ptr<CServerSettings> LoadStore(const std::string& root) {
    auto settings = std::make_unique<CServerSettings>(root, SettingsBuild::kConsole);
    EXPECT_TRUE(settings->Load());
    return settings;
}

}  // namespace

CWindowFixture::CWindowFixture(const std::vector<std::string>& settings)
    : m_settings((m_root.WriteSettings(settings), LoadStore(m_root.Root()))),
      m_control(m_root.Root(), FakeServiceManager(m_root.Root())),
      m_context{m_root.Root(), *m_settings,
                m_control,     FakeServiceManager(m_root.Root()),
                NoNames(),     m_root.Path("bin/Brackmoor")} {
    m_control.SetPolling({40, std::chrono::milliseconds(250)});
    // Like the root's fake, but an installed service is not active: the server's own state
    // comes from the program, not from the fake.
    WriteExecutable(m_root.FakeBin() + "/systemctl",
                    "#!/bin/sh\necho \"$*\" >> '" + m_root.FakeBin() +
                        "/calls'\n"
                        "case \"$*\" in *\" status \"*) exit 4;; *is-active*) exit 3;; esac\n"
                        "exit 0\n");
    // As the program does: the installation's own data sources (the root restores ODBCINI).
    UseInstallationOdbcIni(m_root.Root());
}

std::unique_ptr<CServerSettings> CWindowFixture::Stored() const {
    return LoadStore(m_root.Root());
}

std::optional<std::string> CWindowFixture::StoredText(const std::string& name) const {
    CSettingsValues values;
    std::string error;
    EXPECT_TRUE(CSettingsStore(CSettingsStore::PathUnderRoot(m_root.Root())).Read(values, error))
        << error;
    const std::string* value = values.Find(name);
    return value != nullptr ? std::optional<std::string>(*value) : std::nullopt;
}

void CWindowFixture::StartServer() {
    m_root.InstallServer();
    std::string text;
    ASSERT_TRUE(m_control.DoStartServer(text)) << text;
}

bool PumpUntil(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}
