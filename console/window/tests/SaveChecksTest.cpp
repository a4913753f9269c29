// The checks Save runs on the working copy, as a table over one loaded copy.
#include "console/window/SaveChecks.h"

#include <functional>

#include <gtest/gtest.h>

#include "console/ConsoleMessages.h"
#include "console/window/tests/WindowFixture.h"

namespace {

using Change = std::function<void(CServerSettings&)>;

void EnableSender(CServerSettings& s) {
    s.m_tasks[0].m_enabled = true;
    s.EmSmtpServer = "smtp.example";
    s.EmAdminEmail = "admin@example.org; boss@example.org";
}

// Task 1 as an enabled Email Importer with its mailbox set up.
void EnableImporter(CServerSettings& s) {
    EnableSender(s);
    s.m_tasks[1].m_name = "Email Importer";
    s.m_tasks[1].m_enabled = true;
    s.EmPop3Server = "pop.example";
    s.EmImporterEmail = "in@example.org";
    s.EmImporterUserName = "in";
    s.EmImporterPassword = "secret";
}

void AddTasksUpTo(CServerSettings& s, size_t count) {
    while (s.m_tasks.size() < count) {
        CTaskEntry task;
        task.m_name = "Extra " + std::to_string(s.m_tasks.size());
        task.m_scriptPath = "/x.zrs";
        task.m_dayCode = CTaskEntry::kInterval;
        task.m_interval = 300;
        s.m_tasks.push_back(task);
    }
}

struct Case {
    const char* label;
    Change change;
    std::string refusal;
    bool warnImporters = false;
};

}  // namespace

TEST(SaveChecks, RefusalsAndPasses) {
    const std::string session =
        "Session time out can not be smaller than 1 minute or larger than 1440 minutes.";
    const std::string upload = "Maximum upload can not be smaller than 1M or larger than 1000M. ";
    const std::string senderOff = "For task 2 and above to work, you must enable Email Sender.";
    const Case cases[] = {
        {"defaults", [](CServerSettings&) {}, ""},
        {"session 0", [](CServerSettings& s) { s.GeneralSessionTimeout = 0; }, session},
        {"session 1441", [](CServerSettings& s) { s.GeneralSessionTimeout = 1441; }, session},
        {"session 1", [](CServerSettings& s) { s.GeneralSessionTimeout = 1; }, ""},
        {"session 1440", [](CServerSettings& s) { s.GeneralSessionTimeout = 1440; }, ""},
        {"upload 0", [](CServerSettings& s) { s.GeneralMaxUpload = 0; }, upload},
        {"upload 1001", [](CServerSettings& s) { s.GeneralMaxUpload = 1001; }, upload},
        {"upload 1000", [](CServerSettings& s) { s.GeneralMaxUpload = 1000; }, ""},
        {"empty connect string", [](CServerSettings& s) { s.DbOdbcConnectString.clear(); },
         "ODBC connect string has not been set yet.\nPlease goto the Database page and click on "
         "the change button to set it."},
        {"task 1 without the sender", [](CServerSettings& s) { s.m_tasks[1].m_enabled = true; },
         senderOff},
        {"task 13 takes no part",
         [](CServerSettings& s) {
             AddTasksUpTo(s, 14);
             s.m_tasks[13].m_enabled = true;
             s.m_tasks[13].m_interval = 0;
         },
         ""},
        {"task 12 does",
         [](CServerSettings& s) {
             AddTasksUpTo(s, 14);
             s.m_tasks[12].m_enabled = true;
         },
         senderOff},
        {"sender without SMTP host",
         [](CServerSettings& s) {
             EnableSender(s);
             s.EmSmtpServer.clear();
         },
         "Please go to email page to set SMTP Host for Email Sender to work."},
        {"importer without mailbox",
         [](CServerSettings& s) {
             EnableImporter(s);
             s.EmImporterPassword.clear();
         },
         "POP3 host or email account for Email Importer has not been set up yet.\nPlease go to "
         "the Email page to set them."},
        {"importer address of an administrator but for case",
         [](CServerSettings& s) {
             EnableImporter(s);
             s.EmImporterEmail = "BOSS@Example.org";
         },
         ConsoleMessages().msgImporterAddress},
        {"importer address of a dispatcher",
         [](CServerSettings& s) {
             EnableImporter(s);
             s.EmDispatcherEmail = "x@example.org,in@example.org";
         },
         ConsoleMessages().msgImporterAddress},
        {"one importer", EnableImporter, ""},
        {"two importers warn and pass",
         [](CServerSettings& s) {
             EnableImporter(s);
             s.m_tasks[2].m_name = "Email Importer 2";
             s.m_tasks[2].m_enabled = true;
         },
         "", true},
        {"daily task at midnight",
         [](CServerSettings& s) {
             s.m_tasks[3].m_dayCode = CTaskEntry::kEveryDay;
             s.m_tasks[3].m_interval = 0;
         },
         ""},
        {"weekly task at midnight",
         [](CServerSettings& s) {
             s.m_tasks[3].m_dayCode = CTaskEntry::kSunday;
             s.m_tasks[3].m_interval = 0;
         },
         ""},
        {"interval of 0",
         [](CServerSettings& s) {
             s.m_tasks[4].m_dayCode = CTaskEntry::kInterval;
             s.m_tasks[4].m_interval = 0;
         },
         "Interval of task System is smaller than 1 minute. That is not allowed. "},
    };
    CWindowFixture fixture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto copy = fixture.Stored();
        c.change(*copy);
        const CSaveCheck check = CheckSettingsForSave(*copy, fixture.Settings(), false);
        EXPECT_EQ(check.m_refusal, c.refusal);
        EXPECT_EQ(check.m_warnImporters, c.warnImporters);
        EXPECT_FALSE(check.m_askAddressChange);
    }
}

TEST(SaveChecks, AnAddressChangeAsksOnlyWhileRunningAndOnlyForAPassingCopy) {
    CWindowFixture fixture;
    const struct {
        const char* label;
        Change change;
        bool running;
        bool ask;
    } cases[] = {
        {"port while running", [](CServerSettings& s) { s.GeneralTcpipPort = "1"; }, true, true},
        {"address while running", [](CServerSettings& s) { s.GeneralTcpipAddress = "127.0.0.2"; },
         true, true},
        {"port while stopped", [](CServerSettings& s) { s.GeneralTcpipPort = "1"; }, false, false},
        {"nothing while running", [](CServerSettings&) {}, true, false},
        {"port and a refusal",
         [](CServerSettings& s) {
             s.GeneralTcpipPort = "1";
             s.GeneralSessionTimeout = 0;
         },
         true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto copy = fixture.Stored();
        c.change(*copy);
        EXPECT_EQ(CheckSettingsForSave(*copy, fixture.Settings(), c.running).m_askAddressChange,
                  c.ask);
    }
}
