#include "engine/settings/ServerSettings.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "engine/settings/tests/SettingsTestSupport.h"

namespace {

using Values = std::vector<CSettingsValues::Entry>;

struct LoadCase {
    const char* label;
    SettingsBuild build;
    Values stored;
    std::function<void(const CServerSettings&)> check;
};

}  // namespace

TEST(ServerSettingsTest, LoadAppliesDefaultsAndCorrections) {
    const std::vector<LoadCase> cases = {
        {"empty store",
         SettingsBuild::kServer,
         {},
         [](const CServerSettings& s) {
             EXPECT_TRUE(s.m_loaded);
             EXPECT_EQ(s.GeneralTcpipAddress, "127.0.0.1");
             EXPECT_EQ(s.FQDN, "127.0.0.1");
             EXPECT_EQ(s.GeneralTcpipPort, "80");
             EXPECT_EQ(s.GeneralSslPort, "443");
             EXPECT_EQ(s.EmSmtpPort, "25");
             EXPECT_EQ(s.EmPop3Port, "110");
             EXPECT_EQ(s.GeneralSessionTimeout, 600);
             EXPECT_EQ(s.GeneralMaxUpload, 10);
             EXPECT_EQ(s.GeneralHeaderTimeout, 10);
             EXPECT_EQ(s.GeneralMaxPendingConnections, 4096);
             EXPECT_EQ(s.EmMaxEmailOut, 500);
             EXPECT_EQ(s.SmtpTimeout, 60);
             EXPECT_EQ(s.Pop3Timeout, 30);
             EXPECT_TRUE(s.EncryptFileID);
             EXPECT_TRUE(s.DbAccessSerialize);
             EXPECT_FALSE(s.DbConnectionThreadOwn);
             EXPECT_EQ(s.DbConnectionIdleTimeout, 0);
             EXPECT_FALSE(s.LogHttp || s.LogSmtp || s.LogPop3 || s.EmKeepSentMail);
             EXPECT_EQ(s.GeneralHttpAddr, "http://127.0.0.1");
             EXPECT_EQ(s.GeneralHttpsAddr, "https://127.0.0.1");
             ASSERT_NE(s.m_mimeMap.Find("*"), nullptr);
             EXPECT_EQ(*s.m_mimeMap.Find("*"), "application/octet-stream");
             EXPECT_EQ(s.m_mimeMap.Size(), 124u);
             EXPECT_EQ(s.m_tasks.size(), 6u);
             EXPECT_EQ(s.m_addressNumber, inet_addr("127.0.0.1"));
         }},
        {"mail counts and time-outs",
         SettingsBuild::kServer,
         {{"EmMaxEmailOut", "50"}, {"SmtpTimeout", "601"}, {"Pop3Timeout", "3"}},
         [](const CServerSettings& s) {
             EXPECT_EQ(s.EmMaxEmailOut, 100);
             EXPECT_EQ(s.SmtpTimeout, 60);
             EXPECT_EQ(s.Pop3Timeout, 30);
         }},
        {"values at the edges of their ranges",
         SettingsBuild::kServer,
         {{"EmMaxEmailOut", "100"}, {"SmtpTimeout", "5"}, {"Pop3Timeout", "600"}},
         [](const CServerSettings& s) {
             EXPECT_EQ(s.EmMaxEmailOut, 100);
             EXPECT_EQ(s.SmtpTimeout, 5);
             EXPECT_EQ(s.Pop3Timeout, 600);
         }},
        {"the console reads no server-only values",
         SettingsBuild::kConsole,
         {{"GeneralTcpipPort", "80"},
          {"SmtpTimeout", "300"},
          {"EncryptFileID", "no"},
          {"EmKeepSentMail", "yes"}},
         [](const CServerSettings& s) {
             EXPECT_EQ(s.SmtpTimeout, 60);
             EXPECT_TRUE(s.EncryptFileID);
             EXPECT_FALSE(s.EmKeepSentMail);
         }},
        {"unserialised access forces per-thread connections",
         SettingsBuild::kServer,
         {{"DbAccessSerialize", "no"}, {"DbConnectionThreadOwn", "no"}},
         [](const CServerSettings& s) {
             EXPECT_FALSE(s.DbAccessSerialize);
             EXPECT_TRUE(s.DbConnectionThreadOwn);
         }},
        {"serialised access keeps the stored choice",
         SettingsBuild::kServer,
         {{"DbAccessSerialize", "whatever"}, {"DbConnectionThreadOwn", "Yes"}},
         [](const CServerSettings& s) {
             EXPECT_TRUE(s.DbAccessSerialize);
             EXPECT_FALSE(s.DbConnectionThreadOwn);  // only "yes" exactly
         }},
        {"address and ports shape the web addresses",
         SettingsBuild::kServer,
         {{"GeneralTcpipAddress", "10.0.0.5"},
          {"GeneralTcpipPort", "8080"},
          {"GeneralSslPort", "8443"}},
         [](const CServerSettings& s) {
             EXPECT_EQ(s.GeneralHttpAddr, "http://10.0.0.5:8080");
             EXPECT_EQ(s.GeneralHttpsAddr, "https://10.0.0.5:8443");
             EXPECT_EQ(s.FQDN, "10.0.0.5");
             EXPECT_EQ(s.m_addressNumber, inet_addr("10.0.0.5"));
         }},
        {"texts are trimmed where the rules say",
         SettingsBuild::kServer,
         {{"GeneralHttpAddr", "  http://web.example/  "},
          {"DbOdbcConnectString", "  DSN=zr2;\t "},
          {"MimeTextEncoding", " iso-8859-2 "},
          {"FQDN", "host.example"},
          {"LogHttp", "yes"},
          {"LogSmtp", "YES"}},
         [](const CServerSettings& s) {
             EXPECT_EQ(s.GeneralHttpAddr, "http://web.example/");
             EXPECT_EQ(s.DbOdbcConnectString, "  DSN=zr2;");
             EXPECT_EQ(s.MimeTextEncoding, "iso-8859-2");
             EXPECT_EQ(s.FQDN, "host.example");
             EXPECT_TRUE(s.LogHttp);
             EXPECT_FALSE(s.LogSmtp);
         }},
        {"stored MIME rows need both texts",
         SettingsBuild::kServer,
         {{"MimeCount", "2"},
          {"Mime001FileExtension", "svg"},
          {"Mime001ContentType", "image/svg+xml"},
          {"Mime002FileExtension", "png"},
          {"Mime002ContentType", ""}},
         [](const CServerSettings& s) {
             ASSERT_EQ(s.m_mimeMap.Size(), 1u);
             EXPECT_EQ(s.GetContentType("SVG"), "image/svg+xml");
             EXPECT_EQ(s.GetContentType("png"), "application/octet-stream");
         }},
        {"a MIME count of 0 gives the built-in table",
         SettingsBuild::kServer,
         {{"MimeCount", "0"}, {"Mime001FileExtension", "svg"}, {"Mime001ContentType", "x/y"}},
         [](const CServerSettings& s) {
             EXPECT_EQ(s.m_mimeMap.Size(), 124u);
             EXPECT_EQ(s.GetContentType("svg"), "application/octet-stream");
             EXPECT_EQ(s.GetContentType("html"), "text/html");
         }},
        {"numbers read as atoi reads them",
         SettingsBuild::kServer,
         {{"GeneralSessionTimeout", "45 minutes"},
          {"GeneralMaxUpload", "x"},
          {"DbConnectionIdleTimeout", "30"}},
         [](const CServerSettings& s) {
             EXPECT_EQ(s.GeneralSessionTimeout, 45);
             EXPECT_EQ(s.GeneralMaxUpload, 0);
             EXPECT_EQ(s.DbConnectionIdleTimeout, 30);
         }},
        {"header time-out and pending cap: stored, or the default when not above 0",
         SettingsBuild::kServer,
         {{"GeneralHeaderTimeout", "3"}, {"GeneralMaxPendingConnections", "0"}},
         [](const CServerSettings& s) {
             EXPECT_EQ(s.GeneralHeaderTimeout, 3);
             EXPECT_EQ(s.GeneralMaxPendingConnections, 4096);
         }},
        {"header time-out of 0 and a pending cap stored",
         SettingsBuild::kServer,
         {{"GeneralHeaderTimeout", "0"}, {"GeneralMaxPendingConnections", "100"}},
         [](const CServerSettings& s) {
             EXPECT_EQ(s.GeneralHeaderTimeout, 10);
             EXPECT_EQ(s.GeneralMaxPendingConnections, 100);
         }},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.label);
        TempRoot root;
        root.Store(c.stored);
        auto settings = MakeSettings(root, c.build);
        ASSERT_TRUE(settings->Load());
        c.check(*settings);
    }
}

TEST(ServerSettingsTest, LocalAddressRule) {
    struct Case {
        const char* label;
        Values stored;
        std::vector<std::string> host;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"missing takes the host's first", {}, {"192.168.1.7", "10.0.0.9"}, "192.168.1.7"},
        {"missing on a host without one", {}, {}, "127.0.0.1"},
        {"empty counts as missing", {{"GeneralTcpipAddress", ""}}, {"192.168.1.7"}, "192.168.1.7"},
        {"blank counts as missing", {{"GeneralTcpipAddress", " "}}, {}, "127.0.0.1"},
        {"every interface only when asked for",
         {{"GeneralTcpipAddress", "0.0.0.0"}},
         {"192.168.1.7"},
         "0.0.0.0"},
        {"stored is kept without the switch",
         {{"GeneralTcpipAddress", "10.1.1.1"}},
         {"192.168.1.7"},
         "10.1.1.1"},
        {"switch keeps an address of the host",
         {{"GeneralTcpipAddress", "10.0.0.9"}, {"AutoCorrectIP", "yes"}},
         {"192.168.1.7", "10.0.0.9"},
         "10.0.0.9"},
        {"switch replaces a foreign address",
         {{"GeneralTcpipAddress", "10.1.1.1"}, {"AutoCorrectIP", "yes"}},
         {"192.168.1.7", "10.0.0.9"},
         "192.168.1.7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempRoot root;
        root.Store(c.stored);
        auto settings = MakeSettings(root, SettingsBuild::kServer, c.host);
        ASSERT_TRUE(settings->Load());
        EXPECT_EQ(settings->GeneralTcpipAddress, c.expected);
        EXPECT_EQ(settings->FQDN, c.expected);
        EXPECT_EQ(settings->GeneralHttpAddr, std::string("http://") + c.expected);
    }

    using Listing = CServerSettings::HostListing;
    for (const auto& [failure, text] :
         {std::pair{Listing::kNoHostName, "Failed to get local host name"},
          std::pair{Listing::kNoAddresses, "Failed to get local host hostent"}}) {
        TempRoot root;
        CServerSettings settings(root.Path(), SettingsBuild::kServer);
        settings.SetAddressLister([failure](std::vector<std::string>& out) {
            out = {"192.168.1.7"};
            return failure;
        });
        CCapturedLog log(g_log);
        std::string address = "10.1.1.1";
        EXPECT_FALSE(settings.GetLocalAddress(address));
        EXPECT_EQ(address, "10.1.1.1");
        EXPECT_TRUE(log.Has(text));
    }
}

TEST(ServerSettingsTest, TheRealHostListingHasNoLoopbackAddress) {
    TempRoot root;
    CServerSettings settings(root.Path(), SettingsBuild::kServer);
    std::string address = "127.0.0.1";
    if (settings.GetLocalAddress(address)) {
        EXPECT_NE(address.rfind("127.", 0), 0u) << address;
        EXPECT_NE(inet_addr(address.c_str()), INADDR_NONE) << address;
    } else {
        EXPECT_EQ(address, "127.0.0.1");
    }
}

TEST(ServerSettingsTest, TheExportedListingOffersLoopbackOnlyWhenAsked) {
    std::vector<std::string> with;
    std::vector<std::string> without;
    ASSERT_EQ(ListHostAddresses(with, HostLoopback::kInclude),
              CServerSettings::HostListing::kListed);
    ASSERT_EQ(ListHostAddresses(without, HostLoopback::kSkip),
              CServerSettings::HostListing::kListed);
    EXPECT_NE(std::find(with.begin(), with.end(), "127.0.0.1"), with.end());
    for (const std::string& address : without) {
        EXPECT_NE(address.rfind("127.", 0), 0u) << address;
        EXPECT_NE(std::find(with.begin(), with.end(), address), with.end()) << address;
    }
}

TEST(ServerSettingsTest, AnEmptyStoredWebAddressStaysEmptyOnlyForTheConsole) {
    struct Case {
        SettingsBuild build;
        const char* http;
        const char* https;
    };
    for (const Case& c :
         {Case{SettingsBuild::kConsole, "", ""},
          Case{SettingsBuild::kServer, "http://127.0.0.1:81", "https://127.0.0.1"}}) {
        TempRoot root;
        root.Store({{"GeneralTcpipAddress", "127.0.0.1"},
                    {"GeneralTcpipPort", "81"},
                    {"GeneralHttpAddr", ""},
                    {"GeneralHttpsAddr", " "}});
        auto settings = MakeSettings(root, c.build, {"127.0.0.1"});
        ASSERT_TRUE(settings->Load());
        EXPECT_EQ(settings->GeneralHttpAddr, c.http);
        EXPECT_EQ(settings->GeneralHttpsAddr, c.https);
        if (c.build == SettingsBuild::kConsole) {
            // A console that saves what it loaded keeps the stored texts empty.
            settings->EmSmtpServer = "smtp.example";
            ASSERT_TRUE(settings->Save());
            EXPECT_EQ(root.Stored("GeneralHttpAddr"), std::optional<std::string>(""));
            EXPECT_EQ(root.Stored("GeneralHttpsAddr"), std::optional<std::string>(""));
        }
    }
}

TEST(ServerSettingsTest, ConsoleFindsAFreePortAndWritesItBack) {
    struct Case {
        const char* label;
        std::vector<int> busy;
        bool noSocket;
        const char* expectedPort;
        std::vector<int> expectedProbes;
        bool writtenBack;
        const char* logged;
    };
    const std::vector<Case> cases = {
        {"80 free", {}, false, "80", {80}, true, nullptr},
        {"80 and 8080 busy", {80, 8080}, false, "8081", {80, 8080, 8081}, true, nullptr},
        {"all busy",
         {80, 8080, 8081, 8082, 8083},
         false,
         "80",
         {80, 8080, 8081, 8082, 8083},
         true,
         "Failed to find an available TCP port. Please set the port yourself in Settings | "
         "General Page."},
        {"no socket",
         {},
         true,
         "80",
         {80},
         false,
         "Failed create socket when trying to correct TCP port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempRoot root;
        auto settings = MakeSettings(root, SettingsBuild::kConsole, {"192.168.1.7"});
        std::vector<int> probes;
        settings->SetPortProbe([&](const std::string& address, int port) {
            EXPECT_EQ(address, "192.168.1.7");
            probes.push_back(port);
            if (c.noSocket) {
                return CServerSettings::PortState::kNoSocket;
            }
            for (int busy : c.busy) {
                if (busy == port) {
                    return CServerSettings::PortState::kInUse;
                }
            }
            return CServerSettings::PortState::kFree;
        });
        CCapturedLog log(g_log);
        ASSERT_TRUE(settings->Load());
        EXPECT_EQ(settings->GeneralTcpipPort, c.expectedPort);
        EXPECT_EQ(probes, c.expectedProbes);
        if (c.writtenBack) {
            EXPECT_EQ(root.Stored("GeneralTcpipPort"), c.expectedPort);
            EXPECT_EQ(root.Stored("GeneralTcpipAddress"), "192.168.1.7");
        } else {
            EXPECT_EQ(root.Stored("GeneralTcpipPort"), std::nullopt);
        }
        if (c.logged) {
            EXPECT_TRUE(log.Has(c.logged));
        }
    }
}

TEST(ServerSettingsTest, ServerNeverProbesOrWritesThePort) {
    TempRoot root;
    auto settings = MakeSettings(root, SettingsBuild::kServer);
    settings->SetPortProbe([](const std::string&, int) {
        ADD_FAILURE() << "the server build probed a port";
        return CServerSettings::PortState::kInUse;
    });
    ASSERT_TRUE(settings->Load());
    EXPECT_EQ(settings->GeneralTcpipPort, "80");
    EXPECT_EQ(root.Stored("GeneralTcpipPort"), std::nullopt);
}

TEST(ServerSettingsTest, RealProbeSeesAListeningPort) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    struct sockaddr_in where {};
    where.sin_family = AF_INET;
    where.sin_port = htons(8083);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(listener, 1) != 0) {
        ::close(listener);
        GTEST_SKIP() << "127.0.0.1:8083 is taken by another program";
    }
    TempRoot root;
    CServerSettings settings(root.Path(), SettingsBuild::kConsole);
    CCapturedLog log(g_log);
    std::string port = "8083";
    EXPECT_TRUE(settings.AutoCorrectPort("127.0.0.1", port));
    ::close(listener);
    EXPECT_EQ(port, "8083");
    EXPECT_TRUE(log.Has("Failed to find an available TCP port."));
}

TEST(ServerSettingsTest, ConsoleLoadFailsOnAnUnreadableStoreServerLoadDoesNot) {
    TempRoot root;
    std::filesystem::create_directories(CSettingsStore::PathUnderRoot(root.Path()));
    CCapturedLog log(g_log);
    auto console = MakeSettings(root, SettingsBuild::kConsole);
    EXPECT_FALSE(console->Load());
    EXPECT_FALSE(console->m_loaded);
    auto server = MakeSettings(root, SettingsBuild::kServer);
    EXPECT_TRUE(server->Load());
    EXPECT_EQ(server->GeneralTcpipPort, "80");
    EXPECT_EQ(server->m_tasks.size(), 6u);
    EXPECT_TRUE(log.Has("Error [21]: Is a directory\r\n when accessing registry."));
}

namespace {

// Gives every saved member a value other than its default.
void FillEverything(CServerSettings& s) {
    s.SecurityCertName = "cert";
    s.SecurityCertIssuer = "issuer";
    s.SecurityCertSerial = "01 02";
    s.SecurityCertExpiration = "2030-01-01";
    s.GeneralOrganizationName = "Org = \"Quoted\"\r\nSecond line";
    s.GeneralTcpipAddress = "10.0.0.5";
    s.FQDN = "web.example";
    s.GeneralTcpipPort = "8080";
    s.GeneralSslPort = "8443";
    s.GeneralSessionTimeout = 30;
    s.GeneralMaxUpload = 25;
    s.DbOdbcConnectString = "DSN=zr2;UID=a;PWD=b=c";
    s.DbAccessSerialize = false;
    s.DbConnectionThreadOwn = true;
    s.DbConnectionIdleTimeout = 15;
    s.EmSmtpServer = "smtp.example";
    s.EmSmtpPort = "587";
    s.EmSmtpUserName = "user";
    s.EmSmtpPassword = "p\\w=d";
    s.GeneralHttpAddr = "http://web.example:8080";
    s.GeneralHttpsAddr = "https://web.example:8443";
    s.EmPop3Server = "pop.example";
    s.EmPop3Port = "995";
    s.EmImporterUserName = "importer";
    s.EmImporterPassword = "secret";
    s.EmImporterEmail = "in@example.org";
    s.EmMaxEmailOut = 750;
    s.EmDispatcherEmail = "dispatch@example.org";
    s.EmAdminEmail = "admin@example.org;boss@example.org";
    s.ServiceDependency = "postgresql";
    s.ServiceUserName = "velmorin";
    s.ServicePassword = "svc";
    s.MimeTextEncoding = "iso-8859-2";
}

}  // namespace

TEST(ServerSettingsTest, SaveThenLoadGivesTheSameSettings) {
    TempRoot root;
    auto saved = MakeSettings(root, SettingsBuild::kConsole);
    ASSERT_TRUE(saved->Load());
    FillEverything(*saved);
    saved->m_mimeMap.Clear();
    saved->m_mimeMap.Set("svg", "image/svg+xml");
    saved->m_mimeMap.Set("zrp", "text/html");
    saved->m_mimeChanged = true;
    const std::string longScript = std::string(600, 'p') + "\r\n=x";
    saved->m_tasks[1].m_scriptPath = longScript;
    saved->m_tasks[1].m_enabled = true;
    saved->m_tasksChanged = true;
    ASSERT_TRUE(saved->Save());
    EXPECT_FALSE(saved->m_mimeChanged);
    EXPECT_FALSE(saved->m_tasksChanged);

    auto loaded = MakeSettings(root, SettingsBuild::kConsole);
    ASSERT_TRUE(loaded->Load());
    EXPECT_FALSE(saved->IsDifferent(*loaded));
    EXPECT_FALSE(loaded->IsDifferent(*saved));
    EXPECT_EQ(loaded->GeneralOrganizationName, saved->GeneralOrganizationName);
    EXPECT_EQ(loaded->m_tasks[1].m_scriptPath, longScript);
    EXPECT_TRUE(loaded->m_tasks[1].m_enabled);
    ASSERT_EQ(loaded->m_mimeMap.Size(), 2u);
    EXPECT_EQ(loaded->m_mimeMap.Entries()[0].m_extension, "svg");
    EXPECT_EQ(loaded->m_mimeMap.Entries()[1].m_extension, "zrp");
    // The server reads what the console saved, values it alone reads included.
    root.Store({{"SmtpTimeout", "120"}});
    auto server = MakeSettings(root, SettingsBuild::kServer);
    ASSERT_TRUE(server->Load());
    EXPECT_FALSE(server->IsDifferent(*saved));
    EXPECT_EQ(server->SmtpTimeout, 120);
}

TEST(ServerSettingsTest, IsDifferentSeesEachSavedSettingButNotTheLogSwitches) {
    using Change = std::pair<const char*, std::function<void(CServerSettings&)>>;
    const std::vector<Change> differing = {
        {"organisation", [](CServerSettings& s) { s.GeneralOrganizationName += "x"; }},
        {"certificate serial", [](CServerSettings& s) { s.SecurityCertSerial = "02"; }},
        {"upload limit", [](CServerSettings& s) { s.GeneralMaxUpload = 11; }},
        {"serialisation", [](CServerSettings& s) { s.DbAccessSerialize = false; }},
        {"idle time-out", [](CServerSettings& s) { s.DbConnectionIdleTimeout = 1; }},
        {"SMTP password", [](CServerSettings& s) { s.EmSmtpPassword = "new"; }},
        {"most mail out", [](CServerSettings& s) { s.EmMaxEmailOut = 501; }},
        {"importer address", [](CServerSettings& s) { s.EmImporterEmail = "a@b"; }},
        {"service password", [](CServerSettings& s) { s.ServicePassword = "pw"; }},
        {"text encoding", [](CServerSettings& s) { s.MimeTextEncoding = "utf-8x"; }},
        {"tasks changed", [](CServerSettings& s) { s.m_tasksChanged = true; }},
        {"MIME changed", [](CServerSettings& s) { s.m_mimeChanged = true; }},
    };
    TempRoot root;
    auto base = MakeSettings(root, SettingsBuild::kConsole);
    ASSERT_TRUE(base->Load());
    for (const Change& change : differing) {
        auto copy = MakeSettings(root, SettingsBuild::kConsole);
        ASSERT_TRUE(copy->Load());
        ASSERT_FALSE(base->IsDifferent(*copy));
        change.second(*copy);
        EXPECT_TRUE(base->IsDifferent(*copy)) << change.first;
    }
    auto copy = MakeSettings(root, SettingsBuild::kConsole);
    ASSERT_TRUE(copy->Load());
    copy->LogHttp = copy->LogSmtp = copy->LogPop3 = true;
    EXPECT_FALSE(base->IsDifferent(*copy));
}

TEST(ServerSettingsTest, FailedSaveReportsAndLeavesTheStoreAsItWas) {
    TempRoot root;
    root.Store({{"GeneralOrganizationName", "Before"}});
    const std::string storePath = CSettingsStore::PathUnderRoot(root.Path());
    auto settings = MakeSettings(root, SettingsBuild::kConsole);
    ASSERT_TRUE(settings->Load());
    settings->GeneralOrganizationName = "After";
    settings->m_mimeChanged = true;
    std::filesystem::remove(storePath + ".lock");
    std::filesystem::create_directories(storePath + ".lock");

    EXPECT_FALSE(settings->Save());
    EXPECT_TRUE(settings->m_mimeChanged);
    EXPECT_EQ(root.Stored("GeneralOrganizationName"), "Before");
    EXPECT_EQ(root.Stored("EmMaxEmailOut"), std::nullopt);  // nothing of the save landed
    EXPECT_FALSE(settings->SaveConnectString());
    EXPECT_FALSE(settings->SaveTaskScripts());
}

TEST(ServerSettingsTest, SaveWritesTheDocumentedForms) {
    TempRoot root;
    auto settings = MakeSettings(root, SettingsBuild::kConsole);
    ASSERT_TRUE(settings->Load());
    settings->DbAccessSerialize = false;
    settings->GeneralSessionTimeout = 45;
    settings->LogHttp = true;
    settings->m_mimeMap.Clear();
    settings->m_mimeMap.Set("svg", "image/svg+xml");
    ASSERT_TRUE(settings->Save());
    EXPECT_EQ(root.Stored("DbAccessSerialize"), "no");
    EXPECT_EQ(root.Stored("DbConnectionThreadOwn"), "no");
    EXPECT_EQ(root.Stored("GeneralSessionTimeout"), "45");
    EXPECT_EQ(root.Stored("MimeCount"), "1");
    EXPECT_EQ(root.Stored("Mime001FileExtension"), "svg");
    EXPECT_EQ(root.Stored("Mime001ContentType"), "image/svg+xml");
    EXPECT_EQ(root.Stored("LogHttp"), std::nullopt);
    EXPECT_EQ(root.Stored("SmtpTimeout"), std::nullopt);
}

TEST(ServerSettingsTest, ScriptSaveWritesOnlyTheTaskScripts) {
    TempRoot root;
    auto settings = MakeSettings(root, SettingsBuild::kServer);
    ASSERT_TRUE(settings->Load());
    root.Store({{"GeneralOrganizationName", "Written by the console meanwhile"}});
    settings->m_tasks[2].m_scriptPath = "/srv/other.zrs";
    settings->GeneralOrganizationName = "not to be saved";
    ASSERT_TRUE(settings->SaveTaskScripts());
    EXPECT_EQ(root.Stored("Task03Script"), "/srv/other.zrs");
    EXPECT_EQ(root.Stored("GeneralOrganizationName"), "Written by the console meanwhile");
}

TEST(ServerSettingsTest, UploadLimitInBytesDoesNotOverflow) {
    TempRoot root;
    CServerSettings settings(root.Path(), SettingsBuild::kServer);
    settings.GeneralMaxUpload = 4096;
    EXPECT_EQ(settings.GetUploadLimitBytes(), int64_t{4096} * 1024 * 1024);
    settings.GeneralMaxUpload = 10;
    EXPECT_EQ(settings.GetUploadLimitBytes(), 10485760);
}
