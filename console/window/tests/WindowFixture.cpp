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

std::unique_ptr<CServerSettings> LoadStore(const std::string& root) {
    auto settings = std::make_unique<CServerSettings>(root, SettingsBuild::kConsole);
    EXPECT_TRUE(settings->Load());
    return settings;
}

}  // namespace

CWindowFixture::CWindowFixture(const std::vector<std::string>& settings)
    : m_settings((m_root.WriteSettings(settings), LoadStore(m_root.Root()))),
      m_control(m_root.Root(), [] { return std::make_unique<CSystemdServiceControl>(); }),
      m_context{m_root.Root(), *m_settings,
                m_control,     [] { return std::make_unique<CSystemdServiceControl>(); },
                NoNames(),     m_root.Path("bin/Brackmoor")} {
    m_control.SetPolling({40, std::chrono::milliseconds(250)});
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
