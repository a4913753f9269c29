// A server context over a temporary root with SQLite data sources, a fixed clock, and pages
// run against in-memory HTTP requests and responses.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/SocketConn.h"
#include "engine/script/SspInterpreter.h"
#include "engine/settings/ServerSettings.h"
#include "engine/testsupport/OdbcTestEnv.h"
#include "engine/testsupport/ScopedTimeZone.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/web/HttpRequest.h"
#include "engine/web/HttpResponse.h"
#include "engine/web/ServerContext.h"
#include "engine/web/ServerContextLink.h"

namespace context_test {

namespace fs = std::filesystem;

// 2026-12-09 08:05:07 UTC.
inline constexpr std::time_t kStart = 1796803507;

struct PageResult {
    int m_code = -1;
    std::string m_output;
    std::string m_error;
    std::string m_cookieHeaders;
    std::vector<CCookie> m_cookies;

    std::string Cookie(const std::string& name) const {
        for (const CCookie& c : m_cookies) {
            if (c.m_name == name) {
                return c.m_value;
            }
        }
        return std::string();
    }
    // The Cookie header a browser would send back.
    std::string SessionCookies() const {
        return "sspSessionID=" + Cookie("sspSessionID") +
               "; sspSessionKey=" + Cookie("sspSessionKey");
    }
};

class ContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_root + "/webroot");
        fs::create_directories(m_root + "/tmp");
        m_settings = std::make_unique<CServerSettings>(m_root, SettingsBuild::kServer);
        m_settings->DbAccessSerialize = true;
        m_settings->DbConnectionThreadOwn = false;
        m_settings->GeneralSessionTimeout = 600;
        m_settings->DbOdbcConnectString = "ODBC;" + Connection("main");
        m_context = std::make_unique<CServerContext>(*m_settings);
        m_context->SetClock([this] { return m_now.load(); });
        m_context->InitDefaultDataSource();
        m_link = std::make_unique<CServerContextLink>(*m_context);
        CServerContextLink::InstallFor(m_link.get());
    }

    void TearDown() override {
        CServerContextLink::Uninstall();
        m_link.reset();
        m_context.reset();
        m_settings.reset();
    }

    static bool HaveSqlite() { return COdbcTestEnv::HaveSqliteDriver(); }

    // A DSN-less connection to the SQLite database `name` under the root.
    std::string Connection(const std::string& name) const {
        return "DRIVER=" + std::string(COdbcTestEnv::SqliteDriver()) + ";Database=" + m_root + "/" +
               name + ".db;Timeout=10000";
    }

    // Writes `text` as the page at `url` and runs it with the request's `cookies`.
    PageResult Run(const std::string& text, const std::string& url = "/test.zrp",
                   const std::string& cookies = std::string(), bool withRequest = true) {
        std::string path = m_root + "/webroot" + url.substr(0, url.find('?'));
        fs::create_directories(fs::path(path).parent_path());
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << text;
        }
        return RunFile(path, url, cookies, withRequest);
    }

    // Runs the page already at `path`.
    PageResult RunFile(const std::string& path, const std::string& url,
                       const std::string& cookies = std::string(), bool withRequest = true) {
        CSocketConn conn;
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_addr.s_addr = htonl(0x0A010203);  // 10.1.2.3
        conn.SetPeerAddress(peer);
        CHttpRequest request(&conn);
        request.SetRootFolder(m_root);
        request.ParseRequestLine("GET " + url + " HTTP/1.0");
        if (!cookies.empty()) {
            request.ParseCookies(cookies);
        }
        request.GetForm().Parse();
        CHttpResponse response;
        std::ostringstream name;
        name << m_root << "/tmp/out-" << std::this_thread::get_id() << ".html";
        response.SetOutputFile(name.str());
        PageResult result;
        {
            CSspInterpreter interp;
            result.m_code = interp.RunPage(path, url, withRequest ? &request : nullptr, &response);
            result.m_error = interp.m_strError;
        }
        std::ifstream in(name.str(), std::ios::binary);
        result.m_output.assign(std::istreambuf_iterator<char>(in), {});
        result.m_cookies = response.GetCookies();
        result.m_cookieHeaders = response.BuildCookieHeaders();
        return result;
    }

    CScopedTimeZone m_zone{"UTC"};
    CTempFolder m_folder;
    std::string m_root = m_folder.Path();
    std::atomic<std::time_t> m_now{kStart};
    std::unique_ptr<CServerSettings> m_settings;
    std::unique_ptr<CServerContext> m_context;
    std::unique_ptr<CServerContextLink> m_link;
};

}  // namespace context_test
