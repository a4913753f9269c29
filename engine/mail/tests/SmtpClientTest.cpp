#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "engine/foundation/Base64.h"
#include "engine/mail/SmtpClient.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/ScopedTimeZone.h"
#include "engine/testsupport/ScriptedSmtp.h"
#include "engine/testsupport/SmtpSink.h"

namespace {

std::string HostName() {
    char name[65] = {};
    gethostname(name, 64);
    return name;
}

std::string B64(const std::string& bytes) {
    std::string text;
    Base64Encode(bytes.data(), bytes.size(), text);
    return text;
}

CMailSettings Settings(const std::string& user = "", const std::string& password = "") {
    CMailSettings settings;
    settings.m_strSmtpUserName = user;
    settings.m_strSmtpPassword = password;
    settings.m_nSmtpTimeout = 5;
    return settings;
}

// The header block of a recorded DATA exchange, and the rest.
std::pair<std::string, std::string> SplitData(const std::string& data) {
    size_t end = data.find("\r\n\r\n");
    if (end == std::string::npos) {
        return {data, ""};
    }
    return {data.substr(0, end + 2), data.substr(end + 4)};
}

const std::vector<CSmtpStep> kGreeting = {{"", "220 fake ready\r\n"}};

std::vector<CSmtpStep> With(std::vector<CSmtpStep> steps) {
    steps.insert(steps.begin(), kGreeting.begin(), kGreeting.end());
    return steps;
}

}  // namespace

TEST(SmtpClient, MessageWithoutAuthentication) {
    CScriptedSmtp server(With({{"HELO ", "250 hello\r\n"},
                               {"MAIL From: <a@x>", "250 ok\r\n"},
                               {"RCPT To: <b@y>", "250 ok\r\n"},
                               {"RCPT To: <c@y>", "250 ok\r\n"},
                               {"RCPT To: <d@y>", "251 forwarded\r\n"},
                               {"RCPT To: <e@y>", "250 ok\r\n"},
                               {"DATA", "354 go\r\n"},
                               {"", "250 queued\r\n"}}));
    CCapturedLog log;
    CSmtpClient client(Settings(), log.Writer());
    client.SetClock([] { return std::time_t(1700000000); });
    ASSERT_TRUE(client.Connect("127.0.0.1", std::to_string(server.Port())));
    EXPECT_EQ(client.SendMail("a@x", "b@y", "c@y; d@y", "e@y", "hi", {"X-Tag: 1"}, "Hello\r\n"), 0);
    client.Disconnect();

    std::vector<std::string> lines = server.Lines();
    EXPECT_EQ(lines, (std::vector<std::string>{"HELO " + HostName(), "MAIL From: <a@x>",
                                               "RCPT To: <b@y>", "RCPT To: <c@y>", "RCPT To: <d@y>",
                                               "RCPT To: <e@y>", "DATA", "QUIT"}));
    EXPECT_TRUE(server.Unexpected().empty());
    ASSERT_EQ(server.Data().size(), 1u);
    auto [head, body] = SplitData(server.Data()[0]);
    EXPECT_EQ(head, "Date: " + CSmtpClient::DateHeaderValue(1700000000) +
                        "\r\nFrom: <a@x>\r\nTo: b@y\r\nCc: c@y, d@y\r\nSubject: hi\r\n"
                        "X-Mailer: <Velmorin Server Mailer 2>\r\nX-Tag: 1\r\n");
    EXPECT_EQ(body, "Hello\r\n\r\n.\r\n");
    EXPECT_EQ(head.find("e@y"), std::string::npos) << "Bcc must not show";
}

TEST(SmtpClient, NoCcLineWithoutCopies) {
    CScriptedSmtp server(With({{"HELO", "250 hello\r\n"}}));
    CCapturedLog log;
    CSmtpClient client(Settings(), log.Writer());
    ASSERT_TRUE(client.Connect("127.0.0.1", std::to_string(server.Port())));
    EXPECT_EQ(client.SendMail("a@x", "b@y, c@y", "", "", "hi", {}, "x\r\n"), 0);
    client.Disconnect();
    ASSERT_EQ(server.Data().size(), 1u);
    auto [head, body] = SplitData(server.Data()[0]);
    EXPECT_NE(head.find("\r\nTo: b@y, c@y\r\nSubject: hi\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("Cc:"), std::string::npos) << head;
}

TEST(SmtpClient, BodyCannotEndTheDataEarly) {
    const struct {
        const char* m_name;
        std::string m_body;
        std::string m_wire;
    } cases[] = {
        {"lone dot line", "a\r\n.\r\nb\r\n", "a\r\n..\r\nb\r\n"},
        {"dot text", ".x\r\n", "..x\r\n"},
        {"lone LF dot", "a\n.\nRCPT\n", "a\r\n..\r\nRCPT\r\n"},
        {"lone CR dot", "a\r.\rb", "a\r\n..\r\nb"},
        {"dot after CR LF then LF", "a\r\n\n.\r\n", "a\r\n\r\n..\r\n"},
        {"dot inside a line stays", "a.b\r\n", "a.b\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CSmtpClient::WireBody(c.m_body), c.m_wire) << c.m_name;
    }

    CScriptedSmtp server(With({{"HELO", "250 hello\r\n"}}));
    CCapturedLog log;
    CSmtpClient client(Settings(), log.Writer());
    ASSERT_TRUE(client.Connect("127.0.0.1", std::to_string(server.Port())));
    EXPECT_EQ(client.SendMail("a@x", "b@y", "", "", "s", {}, "one\n.\nQUIT\r\n"), 0);
    client.Disconnect();
    ASSERT_EQ(server.Data().size(), 1u);
    EXPECT_EQ(SplitData(server.Data()[0]).second, "one\r\n..\r\nQUIT\r\n\r\n.\r\n");
}

TEST(SmtpClient, AuthenticatesWithLogin) {
    CScriptedSmtp server(With({{"EHLO ", "250-fake\r\n250-SIZE 1000\r\n250 AUTH LOGIN PLAIN\r\n"},
                               {"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
                               {B64("user"), "334 UGFzc3dvcmQ6\r\n"},
                               {B64("secret"), "235 welcome\r\n"},
                               {"MAIL From: <a@x>", "250 ok\r\n"}}));
    CCapturedLog log;
    CMailSettings settings = Settings("user", "secret");
    settings.m_bLogSmtp = true;
    CSmtpClient client(settings, log.Writer());
    ASSERT_TRUE(client.Connect("127.0.0.1", std::to_string(server.Port())));
    EXPECT_EQ(client.SendMail("a@x", "b@y", "", "", "s", {}, "x\r\n"), 0);
    client.Disconnect();
    std::vector<std::string> lines = server.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "EHLO " + HostName());
    EXPECT_EQ(lines[1], "AUTH LOGIN");
    EXPECT_EQ(lines[2], B64("user"));
    EXPECT_EQ(lines[3], B64("secret"));
    EXPECT_TRUE(server.Unexpected().empty());
    // The traffic is logged, the credentials never.
    EXPECT_TRUE(log.Has("AUTH LOGIN")) << log.All();
    EXPECT_TRUE(log.Has("235 welcome")) << log.All();
    EXPECT_FALSE(log.Has(B64("user")));
    EXPECT_FALSE(log.Has(B64("secret")));
    EXPECT_FALSE(log.Has("secret"));
}

TEST(SmtpClient, FallsBackToPlainInOneMessage) {
    const std::string user(60, 'u');  // long enough that Base64 would wrap at 76
    CScriptedSmtp server(
        With({{"EHLO ", "250 fake\r\n"},
              {"AUTH LOGIN", "504 not offered\r\n"},
              {"AUTH PLAIN", "334 \r\n"},
              {B64(std::string(1, '\0') + user + '\0' + "pw").substr(0, 76), "235 welcome\r\n"}}));
    CCapturedLog log;
    CSmtpClient client(Settings(user, "pw"), log.Writer());
    ASSERT_TRUE(client.Connect("127.0.0.1", std::to_string(server.Port())));
    client.Disconnect();
    std::vector<std::string> lines = server.Lines();
    ASSERT_GE(lines.size(), 5u);
    std::string expected = B64(std::string(1, '\0') + user + '\0' + "pw");
    expected.erase(std::remove(expected.begin(), expected.end(), '\r'), expected.end());
    expected.erase(std::remove(expected.begin(), expected.end(), '\n'), expected.end());
    EXPECT_EQ(lines[3], expected);
    EXPECT_EQ(lines[4], "QUIT");
}

TEST(SmtpClient, RefusedEhloFallsBackToHelo) {
    CScriptedSmtp server(With({{"EHLO ", "502 no extensions here\r\n"}, {"HELO ", "250 hi\r\n"}}));
    CCapturedLog log;
    CSmtpClient client(Settings("user", "pw"), log.Writer());
    ASSERT_TRUE(client.Connect("127.0.0.1", std::to_string(server.Port())));
    client.Disconnect();
    EXPECT_TRUE(server.Unexpected().empty());
    EXPECT_TRUE(log.Has("502 no extensions here")) << log.All();
    EXPECT_TRUE(
        log.Has("Your SMTP server does not require authentication. Please clear the User name and "
                "password in Server Console, Server Settings, Email Page, Email Sender group."))
        << log.All();
}

TEST(SmtpClient, RefusalsGiveTheirCodes) {
    const struct {
        const char* m_name;
        std::vector<CSmtpStep> m_steps;
        int m_result;
        bool m_rset;
    } cases[] = {
        {"recipient refused for now",
         {{"HELO", "250 hi\r\n"},
          {"MAIL", "250 ok\r\n"},
          {"RCPT To: <b@y>", "450-mailbox busy\r\n450 really\r\n"}},
         CSmtpClient::kRefused,
         true},
        {"only recipient refused for good",
         {{"HELO", "250 hi\r\n"},
          {"MAIL", "250 ok\r\n"},
          {"RCPT To: <b@y>", "550-no such user\r\n550 really\r\n"}},
         CSmtpClient::kUndeliverable,
         true},
        {"sender refused with 505",
         {{"HELO", "250 hi\r\n"}, {"MAIL", "505 auth first\r\n"}},
         CSmtpClient::kSender505,
         true},
        {"sender refused",
         {{"HELO", "250 hi\r\n"}, {"MAIL", "553 bad sender\r\n"}},
         CSmtpClient::kRefused,
         true},
        {"reply shorter than a code",
         {{"HELO", "250 hi\r\n"}, {"MAIL", "25\r\n"}},
         CSmtpClient::kRefused,
         true},
        {"DATA refused",
         {{"HELO", "250 hi\r\n"},
          {"MAIL", "250 ok\r\n"},
          {"RCPT", "250 ok\r\n"},
          {"DATA", "451 later\r\n"}},
         CSmtpClient::kRefused,
         true},
        {"message refused",
         {{"HELO", "250 hi\r\n"},
          {"MAIL", "250 ok\r\n"},
          {"RCPT", "250 ok\r\n"},
          {"DATA", "354 go\r\n"},
          {"", "554 spam\r\n"}},
         CSmtpClient::kRefused,
         true},
        {"no reply within the time-out",
         {{"HELO", "250 hi\r\n"}, {"MAIL", "250 ok\r\n"}, {"RCPT", ""}},
         CSmtpClient::kConnectionLost,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_name);
        std::vector<CSmtpStep> steps = With(c.m_steps);
        if (c.m_result == CSmtpClient::kConnectionLost) {
            // The peer never answers RCPT.
            steps.push_back({"QUIT-never", ""});
        }
        std::unique_ptr<CScriptedSmtp> server;
        server = std::make_unique<CScriptedSmtp>(steps);
        CCapturedLog log;
        CMailSettings settings = Settings();
        settings.m_nSmtpTimeout = c.m_result == CSmtpClient::kConnectionLost ? 1 : 5;
        CSmtpClient client(settings, log.Writer());
        ASSERT_TRUE(client.Connect("127.0.0.1", std::to_string(server->Port())));
        EXPECT_EQ(client.SendMail("a@x", "b@y", "", "", "s", {}, "x\r\n"), c.m_result);
        client.Disconnect();
        std::vector<std::string> lines = server->Lines();
        bool rset = std::find(lines.begin(), lines.end(), "RSET") != lines.end();
        EXPECT_EQ(rset, c.m_rset);
        if (c.m_result == -3 || c.m_result == -4) {
            // The server's reply is logged in full.
            EXPECT_FALSE(log.Entries().empty());
        }
    }
}

TEST(SmtpClient, RecipientRefusalLogsEveryReplyLine) {
    CScriptedSmtp server(With({{"HELO", "250 hi\r\n"},
                               {"MAIL", "250 ok\r\n"},
                               {"RCPT", "450-mailbox busy\r\n450 really\r\n"}}));
    CCapturedLog log;
    CSmtpClient client(Settings(), log.Writer());
    ASSERT_TRUE(client.Connect("127.0.0.1", std::to_string(server.Port())));
    EXPECT_EQ(client.SendMail("a@x", "b@y", "", "", "s", {}, "x\r\n"), -3);
    // The session is usable again after RSET.
    EXPECT_EQ(client.SendMail("a@x", "c@y", "", "", "s", {}, "x\r\n"), 0);
    client.Disconnect();
    EXPECT_TRUE(log.Has("450-mailbox busy\r\n450 really\r\n")) << log.All();
}

TEST(SmtpClient, EmptyToSendsNothing) {
    CCapturedLog log;
    CSmtpClient client(Settings(), log.Writer());
    EXPECT_EQ(client.SendMail("a@x", "", "c@y", "", "lost", {}, "x"), -1);
    EXPECT_TRUE(log.Has("Attemping to send [lost] without receipient")) << log.All();
}

TEST(SmtpClient, GreetingProblems) {
    const struct {
        const char* m_name;
        bool m_silent;
        std::vector<CSmtpStep> m_steps;
        const char* m_log;
    } cases[] = {
        {"silent server", true, {}, "Your SMTP server is not responding to connect or data."},
        {"refusing server", false, {{"", "554 go away\r\n"}}, "554 go away"},
        {"HELO refused", false, {{"", "220 hi\r\n"}, {"HELO", "501 who?\r\n"}}, "501 who?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_name);
        CScriptedSmtp server(c.m_steps, c.m_silent);
        CCapturedLog log;
        CMailSettings settings = Settings();
        settings.m_nSmtpTimeout = 1;
        CSmtpClient client(settings, log.Writer());
        EXPECT_FALSE(client.Connect("127.0.0.1", std::to_string(server.Port())));
        EXPECT_TRUE(log.Has(c.m_log)) << log.All();
        client.Disconnect();
    }
}

TEST(SmtpClient, NobodyListening) {
    CCapturedLog log;
    CSmtpClient client(Settings(), log.Writer());
    EXPECT_FALSE(client.Connect("127.0.0.1", std::to_string(FreeLoopbackPort())));
}

TEST(SmtpClient, DateHeaderUsesEnglishNamesAndTheZoneOffset) {
    // 2024-01-15 12:00:00 UTC, a Monday.
    const std::time_t moment = 1705320000;
    const struct {
        const char* m_zone;
        const char* m_expected;
    } cases[] = {
        {"Asia/Kolkata", "Mon, 15 Jan 2024 17:30:00 +0530"},
        {"America/St_Johns", "Mon, 15 Jan 2024 08:30:00 -0330"},
        {"UTC", "Mon, 15 Jan 2024 12:00:00 +0000"},
        {"Europe/Berlin", "Mon, 15 Jan 2024 13:00:00 +0100"},
    };
    for (const auto& c : cases) {
        CScopedTimeZone zone(c.m_zone);
        EXPECT_EQ(CSmtpClient::DateHeaderValue(moment), c.m_expected) << c.m_zone;
    }
    CScopedTimeZone summer("America/New_York");
    EXPECT_EQ(CSmtpClient::DateHeaderValue(1720008000), "Wed, 03 Jul 2024 08:00:00 -0400");
}

TEST(SmtpClient, RealServerWithLoginAndWithPlain) {
    for (bool plainOnly : {false, true}) {
        SCOPED_TRACE(plainOnly ? "PLAIN only" : "LOGIN offered");
        CSmtpSink sink("mailer", "s3cret pass", plainOnly);
        ASSERT_TRUE(sink.Started()) << "python3-aiosmtpd is needed (scripts/install-deps.sh)";
        CCapturedLog log;
        CSmtpClient client(Settings("mailer", "s3cret pass"), log.Writer());
        ASSERT_TRUE(client.Connect("127.0.0.1", std::to_string(sink.Port())));
        EXPECT_EQ(client.SendMail("a@x", "b@y", "c@y", "d@y", "hi", {}, "Hello\r\n.dot\r\n"), 0)
            << log.All();
        client.Disconnect();
        std::vector<CSmtpSink::Message> messages = sink.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].m_auth, "mailer");
        EXPECT_EQ(messages[0].m_from, "a@x");
        EXPECT_EQ(messages[0].m_to, (std::vector<std::string>{"b@y", "c@y", "d@y"}));
        auto [head, body] = SplitData(messages[0].m_data);
        EXPECT_EQ(body, "Hello\r\n.dot\r\n\r\n");
        EXPECT_EQ(head.find("d@y"), std::string::npos);
    }
}

TEST(SmtpClient, RealServerRefusesWrongPassword) {
    CSmtpSink sink("mailer", "right");
    ASSERT_TRUE(sink.Started());
    CCapturedLog log;
    CSmtpClient client(Settings("mailer", "wrong"), log.Writer());
    // A failed authentication still connects; the log says why mail will fail.
    EXPECT_TRUE(client.Connect("127.0.0.1", std::to_string(sink.Port()))) << log.All();
    EXPECT_TRUE(log.Has("535")) << log.All();
    client.Disconnect();
}
