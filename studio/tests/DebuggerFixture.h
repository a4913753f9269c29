// The debugger's tests: a front end that records what it is told, and a fixture with the
// controller over its own root folder, settings, server context and pool.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/foundation/LogWriter.h"
#include "engine/settings/ServerSettings.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"
#include "engine/web/ServerContext.h"
#include "engine/web/ServerContextLink.h"
#include "engine/web/ServerThreadPool.h"
#include "studio/DebugController.h"
#include "studio/DebugFrontEnd.h"

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
        return m_changed.wait_for(guard, std::chrono::seconds(10),
                                  [&] { return m_breaks.size() >= count; });
    }
    std::vector<std::pair<int, std::string>> Breaks() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_breaks;
    }
    std::string HttpText() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_http;
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

// Lays out a root for debugger runs: its folders, and settings with a SQLite data source of
// its own and the debugging web server on 127.0.0.1 only.
inline void PrepareDebugRoot(const CTempFolder& root, CServerSettings& settings) {
    for (const char* folder : {"tmp", "bin", "webroot"}) {
        mkdir(root.File(folder).c_str(), 0755);
    }
    settings.DbOdbcConnectString = std::string("ODBC;DRIVER=") + COdbcTestEnv::SqliteDriver() +
                                   ";Database=" + root.File("data.db");
    settings.GeneralTcpipAddress = "127.0.0.1";
    ASSERT_TRUE(settings.Save());
}

class DebugControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareDebugRoot(m_root, m_settings);
        CServerContextLink::InstallFor(&m_link);
        m_debugger = std::make_unique<CDebugController>();
        m_debugger->SetEnvironment(m_settings, m_context, m_pool, m_root.Path());
        m_debugger->SetFrontEnd(&m_front);
    }
    void TearDown() override {
        m_debugger.reset();
        CServerContextLink::Uninstall();
    }

    // Writes <root>/bin/<name> (a script) or, for "webroot/<name>", a page.
    std::string Script(const std::string& name, const std::string& text) {
        const std::string path = m_root.File(name.starts_with("webroot/") ? name : "bin/" + name);
        EXPECT_TRUE(WriteFile(path, text));
        return path;
    }
    // Waits (a hang guard only) until the debugger is idle again.
    bool WaitIdle() {
        for (int i = 0; i < 1000 && !m_debugger->IsIdle(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return m_debugger->IsIdle();
    }
    // Waits for `count` breaks and for the paused state that follows the notice.
    bool WaitPaused(size_t count) {
        if (!m_front.WaitBreaks(count)) {
            return false;
        }
        for (int i = 0; i < 1000 && !m_debugger->IsPaused(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
