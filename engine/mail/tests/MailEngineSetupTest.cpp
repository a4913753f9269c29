#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/LogWriter.h"
#include "engine/mail/MailAdminMailer.h"
#include "engine/mail/MailEngineSetup.h"
#include "engine/script/SspHarness.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/ScriptedPop3.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"
#include "engine/web/ServerContext.h"
#include "engine/web/ServerContextLink.h"

namespace {

// Pages run against the process's own context, settings and root, as in the server. The
// outbox is the process's, shared with other runs: each test marks its mails with a subject
// of its own and removes what it queued.
class MailEngineSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallMailEngine();
        CServerContextLink::InstallProcessLink();
        m_oldHost = g_settings.EmSmtpServer;
        m_oldAdmin = g_settings.EmAdminEmail;
        g_settings.EmSmtpServer = "127.0.0.1";
        g_settings.EmAdminEmail = "admin@velmorin.test";
        m_oldLogFolder = g_log.GetFolder();
        m_log = std::make_unique<CCapturedLog>(g_log);
        m_marker = "glue-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }

    void TearDown() override {
        for (const std::string& path : Queued()) {
            std::filesystem::remove(path);
        }
        m_log.reset();
        g_log.SetFolder(m_oldLogFolder);
        g_settings.EmSmtpServer = m_oldHost;
        g_settings.EmAdminEmail = m_oldAdmin;
        CServerContextLink::Uninstall();
    }

    // Outbox files whose subject line is this test's marker.
    std::vector<std::string> Queued() const {
        std::vector<std::string> found;
        const std::string outbox = g_rootDir + "/mail/outbox";
        if (!Exists(outbox)) {
            return found;
        }
        for (const std::string& name : ListFolder(outbox)) {
            const std::string path = outbox + "/" + name;
            if (ReadFile(path).find("\r\nSubject: " + m_marker + "\r\n") != std::string::npos) {
                found.push_back(path);
            }
        }
        return found;
    }

    std::unique_ptr<CCapturedLog> m_log;
    std::string m_marker;
    std::string m_oldHost;
    std::string m_oldAdmin;
    std::string m_oldLogFolder;
};

TEST_F(MailEngineSetupTest, DeclaredEmailOutQueuesTheOutboxFile) {
    const std::string page =
        "<!--{ email_out m; m.SetVar('to', 'ann@x.test; bob@x.test');"
        " m.SetVar('subject', '" +
        m_marker +
        "'); m.SetVar('content', 'Line one');"
        " m.AddHeader('X-Ticket: 7'); }-->--{ m.Send(); }--";
    CSspRunResult run = RunSspText(page);
    ASSERT_EQ(run.m_code, 0) << run.m_error;
    EXPECT_EQ(run.m_output, "1");
    std::vector<std::string> queued = Queued();
    ASSERT_EQ(queued.size(), 1u) << m_log->All();
    EXPECT_EQ(ReadFile(queued[0]),
              "From: admin@velmorin.test\r\nTo: ann@x.test; bob@x.test\r\n"
              "Cc: \r\nBcc: \r\nSubject: " +
                  m_marker + "\r\nX-Ticket: 7\r\n\r\nLine one");
}

TEST_F(MailEngineSetupTest, SendOfANonAddressIsAScriptErrorAndQueuesNothing) {
    const struct {
        const char* m_field;
        const char* m_value;
        const char* m_error;
    } cases[] = {
        {"to", "Bob Smith", "Not an email address in To: Bob Smith"},
        {"cc", "Smith, Bob <bob@x.test>", "Not an email address in Cc: Smith"},
        {"bcc", "ann@x.test bob", "Not an email address in Bcc: ann@x.test bob"},
        {"from", "Webmaster", "Not an email address in From: Webmaster"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_value);
        CSspRunResult run =
            RunSspText("<!--{ email_out m; m.SetVar('to', 'ann@x.test'); m.SetVar('" +
                       std::string(c.m_field) + "', '" + c.m_value + "'); m.SetVar('subject', '" +
                       m_marker + "'); }-->--{ m.Send(); }--");
        EXPECT_EQ(run.m_code, 1);
        EXPECT_NE(run.m_error.find(c.m_error), std::string::npos) << run.m_error;
        EXPECT_TRUE(Queued().empty());
    }
    // The same message with its name kept apart from the address is queued.
    CSspRunResult run = RunSspText(
        "<!--{ email_out m; m.SetVar('to', '\"Smith, Bob\" <bob@x.test>'); m.SetVar('subject', '" +
        m_marker + "'); }-->--{ m.Send(); }--");
    ASSERT_EQ(run.m_code, 0) << run.m_error;
    EXPECT_EQ(run.m_output, "1");
    EXPECT_EQ(Queued().size(), 1u);
}

TEST_F(MailEngineSetupTest, DeclaredEmailInTakesItsAccountAndFetches) {
    const std::string user = "glue" + std::to_string(getpid());
    const std::string mailbox = g_rootDir + "/mail/" + user + "@127.0.0.1";
    CScriptedPop3 peer({{"", "+OK ready\r\n"},
                        {"USER " + user, "+OK\r\n"},
                        {"PASS secret", "+OK\r\n"},
                        {"LIST", "+OK\r\n1 40\r\n.\r\n"},
                        {"RETR 1",
                         "+OK\r\nFrom: Jo <jo@x.test>\r\nSubject: fetched\r\n\r\n"
                         "hello\r\n.\r\n"},
                        {"DELE 1", "+OK\r\n"}});
    const std::string page = "<!--{ email_in box('127.0.0.1', '" + user +
                             "', 'secret'); box.SetVar('Pop3Port', '" +
                             std::to_string(peer.Port()) +
                             "'); }-->--{ box.Username; }--|--{ box.Pop3Port; }--|"
                             "--{ box.FetchMail(); }--|--{ box.from; }--|--{ box.subject; }--|"
                             "--{ box.DeleteMail(); }--|--{ box.FetchMail(); }--";
    CSspRunResult run = RunSspText(page);
    std::filesystem::remove_all(mailbox);
    ASSERT_EQ(run.m_code, 0) << run.m_error;
    EXPECT_EQ(run.m_output, user + "|" + std::to_string(peer.Port()) + "|1|jo@x.test|fetched|1|0")
        << m_log->All();
    EXPECT_TRUE(peer.Received("QUIT"));
}

TEST_F(MailEngineSetupTest, EmailInWithoutThreeArgumentsKeepsAnEmptyAccount) {
    CSspRunResult run = RunSspText(
        "<!--{ email_in box('127.0.0.1', 'ann'); }-->"
        "[--{ box.Pop3Host; }--|--{ box.Username; }--|--{ box.Pop3Port; }--]");
    ASSERT_EQ(run.m_code, 0) << run.m_error;
    EXPECT_EQ(run.m_output, "[||110]");
}

TEST_F(MailEngineSetupTest, ServerSendMailQueuesFromTheAdministrator) {
    const struct {
        const char* m_to;
        const char* m_head;  // the outbox file up to the subject
        const char* m_body;  // after the subject line
    } cases[] = {
        {"ops@x.test", "From: admin@velmorin.test\r\nTo: ops@x.test\r\n", "\r\nBody text"},
        // Nobody named: the administrator gets it, told that the receiver was missing.
        {"", "From: admin@velmorin.test\r\nTo: admin@velmorin.test\r\n",
         "\r\nError: Intended receiver has no email address\r\nBody text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_to);
        CSspRunResult run = RunSspText(std::string("--{ Server.SendMail('") + c.m_to + "', '" +
                                       m_marker + "', 'Body text'); }--");
        ASSERT_EQ(run.m_code, 0) << run.m_error;
        EXPECT_EQ(run.m_output, "1");
        std::vector<std::string> queued = Queued();
        ASSERT_EQ(queued.size(), 1u) << m_log->All();
        EXPECT_EQ(ReadFile(queued[0]), std::string(c.m_head) + "Cc: \r\nBcc: \r\nSubject: " +
                                           m_marker + "\r\n" + c.m_body);
        std::filesystem::remove(queued[0]);
    }
}

TEST_F(MailEngineSetupTest, ServerSendMailWithoutHostOrAdministratorQueuesNothing) {
    const struct {
        const char* m_host;
        const char* m_admin;
        const char* m_logged;
    } cases[] = {
        {"", "admin@velmorin.test", "Please specify SMTP host for notifier to work."},
        {"127.0.0.1", "", "Please set administrator email addresses."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_logged);
        g_settings.EmSmtpServer = c.m_host;
        g_settings.EmAdminEmail = c.m_admin;
        CSspRunResult run =
            RunSspText("--{ Server.SendMail('ops@x.test', '" + m_marker + "', 'Body'); }--");
        ASSERT_EQ(run.m_code, 0) << run.m_error;
        EXPECT_EQ(run.m_output, "0");
        EXPECT_NE(m_log->All().find(c.m_logged), std::string::npos) << m_log->All();
        EXPECT_TRUE(Queued().empty());
    }
}

TEST(AdminMailer, AnOutboxThatCannotBeWrittenGivesZero) {
    CTempFolder root;
    WriteFile(root.Path() + "/mail", "a file where the spool folder should be");
    CServerSettings settings(root.Path(), SettingsBuild::kServer);
    settings.EmSmtpServer = "127.0.0.1";
    settings.EmAdminEmail = "admin@velmorin.test";
    CCapturedLog log;
    CServerContext context(settings);
    CMailAdminMailer mailer(settings, root.Path(), log.Writer());
    context.SetAdminMailer(&mailer);
    CServerContextLink link(context);
    CServerContextLink::InstallFor(&link);
    CSspRunResult run = RunSspText("--{ Server.SendMail('ops@x.test', 'S', 'B'); }--");
    CServerContextLink::Uninstall();
    ASSERT_EQ(run.m_code, 0) << run.m_error;
    EXPECT_EQ(run.m_output, "0");
    EXPECT_FALSE(log.Entries().empty());
}

}  // namespace
