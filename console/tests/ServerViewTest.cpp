#include "console/ServerView.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/ConsoleClient.h"
#include "engine/settings/ServerSettings.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

class ServerViewTest : public ::testing::Test {
protected:
    ServerViewTest() : m_settings(m_root.Path(), SettingsBuild::kConsole) {
        m_settings.GeneralTcpipAddress = "10.0.0.5";
        m_settings.FQDN = "host.example.org";
        m_settings.SetDefaultTasks();
    }

    CTempFolder m_root;
    CServerSettings m_settings;
};

TEST_F(ServerViewTest, StoppedRowsLeaveOutOnlyTheDefaultPorts) {
    struct Case {
        const char* port;
        const char* sslPort;
        const char* cert;
        const char* web;
        const char* secure;
        const char* secureState;
    } cases[] = {
        {"80", "443", "", "http://host.example.org", "https://host.example.org", "Disabled"},
        {"8080", "443", "server", "http://host.example.org:8080", "https://host.example.org",
         "Stopped"},
        {"080", "0443", "", "http://host.example.org:080", "https://host.example.org:0443",
         "Disabled"},
    };
    for (const Case& c : cases) {
        m_settings.GeneralTcpipPort = c.port;
        m_settings.GeneralSslPort = c.sslPort;
        m_settings.SecurityCertName = c.cert;
        const std::string text = StoppedServerText(m_settings);
        const std::vector<CServerRow> rows = ParseServerRows(text);
        ASSERT_GE(rows.size(), 2u);
        EXPECT_EQ(rows[0].m_itemData, 0);
        EXPECT_EQ(rows[0].m_columns[1], "Web Server");
        EXPECT_EQ(rows[0].m_columns[2], c.web);
        EXPECT_EQ(rows[0].m_columns[3], "Stopped");
        EXPECT_EQ(rows[1].m_itemData, 1);
        EXPECT_EQ(rows[1].m_columns[1], "Secure Web Server");
        EXPECT_EQ(rows[1].m_columns[2], c.secure);
        EXPECT_EQ(rows[1].m_columns[3], c.secureState);
        // The task rows follow, as the settings list them for a stopped server.
        EXPECT_TRUE(text.ends_with(m_settings.GetTaskStatusLines(false)));
        EXPECT_EQ(rows.size(), 2 + m_settings.m_tasks.size());
    }
}

TEST_F(ServerViewTest, StartNoticeAndBrowsePage) {
    m_settings.GeneralTcpipPort = "8080";
    m_settings.GeneralSslPort = "443";
    m_settings.SecurityCertName = "";
    std::string notice = StartNotice(m_settings);
    EXPECT_TRUE(
        notice.starts_with("The web server has been started. Users can now point their\nweb "
                           "browsers to http://10.0.0.5:8080 or "
                           "http://host.example.org:8080\nfrom their computers.\n\nWould "
                           "you like"))
        << notice;
    m_settings.SecurityCertName = "server";
    notice = StartNotice(m_settings);
    EXPECT_NE(notice.find("\n\nThe secure web server has been also started. Users can point "
                          "their\nweb browsers to https://host.example.org from their "
                          "computers.\n\nWould you like"),
              std::string::npos)
        << notice;

    std::filesystem::create_directories(m_root.File("webroot"));
    std::string error;
    ASSERT_TRUE(WriteBrowsePage(m_root.Path(), m_settings, error)) << error;
    const std::string page = ReadFile(m_root.File("webroot/browse.html"));
    EXPECT_NE(page.find("<title>Velmorin Server : Connect</title>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"http://10.0.0.5:8080\">http://10.0.0.5:8080</a> or <a "
                        "href=\"http://host.example.org:8080\">http://host.example.org:8080</a>"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<a href=\"https://host.example.org\">https://host.example.org</a>"),
              std::string::npos);
    EXPECT_NE(page.find("width=\"80%\""), std::string::npos);

    std::filesystem::remove_all(m_root.File("webroot"));
    EXPECT_FALSE(WriteBrowsePage(m_root.Path(), m_settings, error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST(ResolveDomainName, TheNameMustHoldADotAndResolveBack) {
    struct Case {
        const char* reverse;
        std::vector<std::string> forward;
        const char* result;
    } cases[] = {
        {"host.example.org", {"10.0.0.5"}, "host.example.org"},
        {"  host.example.org", {"10.0.0.9", "10.0.0.5"}, "host.example.org"},
        {"host", {"10.0.0.5"}, "10.0.0.5"},
        {"host.example.org", {"10.0.0.9"}, "10.0.0.5"},
        {"", {}, "10.0.0.5"},
    };
    for (const Case& c : cases) {
        CHostResolver resolver;
        std::string asked;
        resolver.m_reverse = [&](const std::string& address) {
            asked = address;
            return std::string(c.reverse);
        };
        resolver.m_forward = [&](const std::string&) { return c.forward; };
        EXPECT_EQ(ResolveDomainName("10.0.0.5", resolver), c.result) << c.reverse;
        EXPECT_EQ(asked, "10.0.0.5");
    }
}

}  // namespace
