#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

#include "engine/mail/EmailSender.h"
#include "engine/mail/SspEmailOut.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/ScriptedSmtp.h"
#include "engine/testsupport/SmtpSink.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

CMailSettings Settings(int port) {
    CMailSettings settings;
    settings.m_strAdminEmail = "admin@z";
    settings.m_strSmtpServer = "127.0.0.1";
    settings.m_strSmtpPort = std::to_string(port);
    settings.m_nSmtpTimeout = 5;
    settings.m_mimeMap.FillDefaults();
    return settings;
}

// Local noon of a day of January 2024.
std::time_t Noon(int day) {
    std::tm local{};
    local.tm_year = 124;
    local.tm_mon = 0;
    local.tm_mday = day;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

std::string Outbox(const CTempFolder& root) {
    return root.Path() + "/mail/outbox/";
}

// Queues a message the way a script does.
void Queue(const CTempFolder& root, const CMailSettings& settings, const std::string& to,
           const std::string& subject, const std::string& content = "body") {
    CLogWriter quiet;
    CSspEmailOut mail;
    mail.m_strTo = to;
    mail.m_strFrom = "a@x";
    mail.m_strSubject = subject;
    mail.m_strContent = content;
    ASSERT_EQ(mail.Send(settings, root.Path(), quiet), 1);
}

std::string Header(const std::string& data, const std::string& name) {
    size_t start = data.find("\r\n" + name + ": ");
    if (start == std::string::npos) {
        return "<none>";
    }
    start += name.size() + 4;
    return data.substr(start, data.find("\r\n", start) - start);
}

}  // namespace

TEST(EmailSender, SendsTheOutboxAndRemovesSentFiles) {
    CSmtpSink sink;
    ASSERT_TRUE(sink.Started());
    CTempFolder root;
    CCapturedLog log;
    CMailSettings settings = Settings(sink.Port());
    Queue(root, settings, "b@y", "one");
    Queue(root, settings, "c@y", "two");
    CEmailSender sender(log.Writer());
    sender.Run(settings, root.Path());

    EXPECT_TRUE(log.Has("Email Sender started running.")) << log.All();
    EXPECT_TRUE(log.Has("Email Sender ended. 2 email(s) sent")) << log.All();
    EXPECT_TRUE(sender.JobError().empty());
    EXPECT_TRUE(ListFolder(Outbox(root)).empty());
    std::vector<CSmtpSink::Message> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].m_to, std::vector<std::string>{"b@y"});
    EXPECT_EQ(Header(messages[0].m_data, "Subject"), "one");
    EXPECT_EQ(messages[1].m_to, std::vector<std::string>{"c@y"});
    EXPECT_EQ(Header(messages[1].m_data, "Subject"), "two");
}

TEST(EmailSender, EmptyOutboxSendsNothing) {
    CTempFolder root;
    CCapturedLog log;
    CEmailSender sender(log.Writer());
    // Nobody listens: an empty outbox must not even connect.
    sender.Run(Settings(FreeLoopbackPort()), root.Path());
    EXPECT_TRUE(log.Has("Email Sender ended. No mail to send.")) << log.All();
    EXPECT_TRUE(sender.JobError().empty());
}

TEST(EmailSender, HeaderBlockIsReadBackAsWritten) {
    CSmtpSink sink;
    ASSERT_TRUE(sink.Started());
    CTempFolder root;
    CCapturedLog log;
    std::filesystem::create_directories(Outbox(root));
    WriteFile(Outbox(root) + "20240101-000000.txt",
              "To: b@y\r\nSubject:  two blanks\r\nMIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed;\r\n\tboundary=\"q\"\r\n\r\n"
              ".\r\n.starts with a dot\nlast line");
    CEmailSender sender(log.Writer());
    sender.Run(Settings(sink.Port()), root.Path());
    std::vector<CSmtpSink::Message> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1u);
    const std::string& data = messages[0].m_data;
    // An empty from is the administrator.
    EXPECT_EQ(messages[0].m_from, "admin@z");
    EXPECT_EQ(Header(data, "Subject"), "two blanks");
    EXPECT_NE(data.find("\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n"
                        "\tboundary=\"q\"\r\n\r\n"),
              std::string::npos)
        << data;
    // The server removes the stuffing again; the lines arrive as they were queued.
    EXPECT_NE(data.find("\r\n\r\n.\r\n.starts with a dot\r\nlast line\r\n\r\n"), std::string::npos)
        << data;
}

TEST(EmailSender, WireDataOfAQueuedFile) {
    CScriptedSmtp server(std::vector<CSmtpStep>{{"", "220 hi\r\n"}});
    CTempFolder root;
    CCapturedLog log;
    std::filesystem::create_directories(Outbox(root));
    WriteFile(Outbox(root) + "20240101-000000.txt",
              "From: a@x\r\nTo: b@y\r\nCc: \r\nBcc: \r\nSubject: s\r\n\r\n.\r\n.x\r\nend");
    CEmailSender sender(log.Writer());
    sender.Run(Settings(server.Port()), root.Path());
    ASSERT_EQ(server.Data().size(), 1u) << log.All();
    const std::string data = server.Data()[0];
    EXPECT_NE(data.find("\r\n\r\n..\r\n..x\r\nend\r\n\r\n.\r\n"), std::string::npos) << data;
    EXPECT_EQ(data.find("Cc:"), std::string::npos);
    EXPECT_EQ(data.find("Bcc:"), std::string::npos);
}

// A recipient refused for now (4xx) keeps the whole message for the next run.
TEST(EmailSender, RefusedRecipientKeepsOnlyThatFile) {
    CScriptedSmtp server({{"", "220 hi\r\n"},
                          {"HELO", "250 hi\r\n"},
                          {"MAIL", "250 ok\r\n"},
                          {"RCPT To: <first@y>", "250 ok\r\n"},
                          {"DATA", "354 go\r\n"},
                          {"", "250 ok\r\n"},
                          {"MAIL", "250 ok\r\n"},
                          {"RCPT To: <second@y>", "450 mailbox busy\r\n"},
                          {"RSET", "250 reset\r\n"}});
    CTempFolder root;
    CCapturedLog log;
    CMailSettings settings = Settings(server.Port());
    for (const char* to : {"first@y", "second@y", "third@y"}) {
        Queue(root, settings, to, to);
    }
    const std::vector<std::string> queued = ListFolder(Outbox(root));
    ASSERT_EQ(queued.size(), 3u);
    std::vector<std::string> ordered = CEmailSender::ListOutbox(root.Path());
    CEmailSender sender(log.Writer());
    sender.Run(settings, root.Path());

    EXPECT_EQ(ListFolder(Outbox(root)), std::vector<std::string>{ordered[1]});
    EXPECT_TRUE(log.Has("Failed to send " + Outbox(root) + ordered[1])) << log.All();
    EXPECT_TRUE(log.Has("450 mailbox busy")) << log.All();
    EXPECT_TRUE(log.Has("Email Sender ended. 2 email(s) sent")) << log.All();
    EXPECT_EQ(server.Data().size(), 2u);
    EXPECT_TRUE(server.Unexpected().empty());
}

TEST(EmailSender, KeepsSentMailUnderTheSameNames) {
    CSmtpSink sink;
    ASSERT_TRUE(sink.Started());
    CTempFolder root;
    CCapturedLog log;
    CMailSettings settings = Settings(sink.Port());
    settings.m_bKeepSentMail = true;
    Queue(root, settings, "b@y", "one");
    Queue(root, settings, "b@y", "two");
    const std::vector<std::string> queued = ListFolder(Outbox(root));
    CEmailSender sender(log.Writer());
    sender.Run(settings, root.Path());
    EXPECT_TRUE(ListFolder(Outbox(root)).empty());
    EXPECT_EQ(ListFolder(root.Path() + "/mail/sent"), queued);
    EXPECT_EQ(sink.Messages().size(), 2u);
}

TEST(EmailSender, SentMailThatCannotBeKeptIsNotSentAgain) {
    CSmtpSink sink;
    ASSERT_TRUE(sink.Started());
    CTempFolder root;
    CCapturedLog log;
    CMailSettings settings = Settings(sink.Port());
    settings.m_bKeepSentMail = true;
    Queue(root, settings, "b@y", "once");
    // A plain file stands where the sent folder should be.
    WriteFile(root.Path() + "/mail/sent", "in the way");
    CEmailSender sender(log.Writer());
    sender.Run(settings, root.Path());
    EXPECT_TRUE(log.Has("Failed to create deleted mail folder")) << log.All();
    EXPECT_TRUE(ListFolder(Outbox(root)).empty());
    sender.Run(settings, root.Path());
    EXPECT_EQ(sink.Messages().size(), 1u);
}

TEST(EmailSender, DailyLimit) {
    CSmtpSink sink;
    ASSERT_TRUE(sink.Started());
    CTempFolder root;
    CCapturedLog log;
    CMailSettings settings = Settings(sink.Port());
    settings.m_nMaxEmailOut = 2;
    for (int i = 0; i < 6; ++i) {
        Queue(root, settings, "b@y", "mail " + std::to_string(i));
    }
    std::time_t now = Noon(10);
    CEmailSender sender(log.Writer(), [&now] { return now; });

    // The mail that crosses the limit is still sent, and the crossing is logged.
    sender.Run(settings, root.Path());
    EXPECT_EQ(sink.Messages().size(), 3u);
    EXPECT_EQ(ListFolder(Outbox(root)).size(), 3u);
    EXPECT_TRUE(
        log.Has("Maximum number of outgoing emails has exceeded 2.\nNo more emails "
                "will be sent today. \n"))
        << log.All();

    // Later the same day nothing goes out.
    sender.Run(settings, root.Path());
    EXPECT_EQ(sink.Messages().size(), 3u);
    EXPECT_TRUE(log.Has("Maximum number of outgoing emails per day reached.")) << log.All();

    // The next day counts afresh.
    now = Noon(11);
    sender.Run(settings, root.Path());
    EXPECT_EQ(sink.Messages().size(), 6u);
    EXPECT_TRUE(ListFolder(Outbox(root)).empty());
}

TEST(EmailSender, CountAtTheMaximumStillSendsOne) {
    CSmtpSink sink;
    ASSERT_TRUE(sink.Started());
    CTempFolder root;
    CCapturedLog log;
    CMailSettings settings = Settings(sink.Port());
    settings.m_nMaxEmailOut = 2;
    CEmailSender sender(log.Writer());
    Queue(root, settings, "b@y", "first");
    Queue(root, settings, "b@y", "second");
    sender.Run(settings, root.Path());
    EXPECT_EQ(sender.SentToday(), 2);
    EXPECT_FALSE(log.Has("Maximum number")) << log.All();

    Queue(root, settings, "b@y", "third");
    Queue(root, settings, "b@y", "fourth");
    sender.Run(settings, root.Path());
    EXPECT_EQ(sink.Messages().size(), 3u);
    EXPECT_EQ(ListFolder(Outbox(root)).size(), 1u);
    EXPECT_EQ(log.Count("Maximum number of outgoing emails has exceeded 2."), 1);
}

TEST(EmailSender, JobErrors) {
    const struct {
        const char* m_name;
        bool m_admin;
        const char* m_file;  // queued as is
        const char* m_error;
    } cases[] = {
        {"no administrator", false, "To: b@y\r\n\r\nx",
         "Administrator's email address has not been set."},
        {"mail without a receiver", true, "From: a@x\r\nSubject: s\r\n\r\nx", "Failed to send "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_name);
        CSmtpSink sink;
        ASSERT_TRUE(sink.Started());
        CTempFolder root;
        CCapturedLog log;
        CMailSettings settings = Settings(sink.Port());
        if (!c.m_admin) {
            settings.m_strAdminEmail.clear();
        }
        std::filesystem::create_directories(Outbox(root));
        WriteFile(Outbox(root) + "20240101-000000.txt", c.m_file);
        CEmailSender sender(log.Writer());
        sender.Run(settings, root.Path());
        EXPECT_NE(sender.JobError().find(c.m_error), std::string::npos) << sender.JobError();
        EXPECT_TRUE(log.Has("Email Sender ended with error: " + sender.JobError())) << log.All();
        EXPECT_TRUE(sink.Messages().empty());
        std::vector<std::string> files = ListFolder(Outbox(root));
        // The unsendable file stays; an error mail joins it only when someone can receive it.
        ASSERT_EQ(files.size(), c.m_admin ? 2u : 1u);
        EXPECT_EQ(files[0], "20240101-000000.txt");
        if (c.m_admin) {
            EXPECT_EQ(ReadFile(Outbox(root) + files[1]),
                      "From: admin@z\r\nTo: admin@z\r\nCc: \r\nBcc: \r\n"
                      "Subject: Email Sender error\r\n\r\n" +
                          sender.JobError());
            EXPECT_EQ(sender.JobError(),
                      "Failed to send " + Outbox(root) + "20240101-000000.txt. \r\n");
        }
    }
}

TEST(EmailSender, UnreachableServerEndsTheRun) {
    CTempFolder root;
    CCapturedLog log;
    const int port = FreeLoopbackPort();
    CMailSettings settings = Settings(port);
    Queue(root, settings, "b@y", "s");
    CEmailSender sender(log.Writer());
    sender.Run(settings, root.Path());
    EXPECT_TRUE(log.Has("Email Sender ended. Failed to connect to SMTP server 127.0.0.1:" +
                        std::to_string(port)))
        << log.All();
    EXPECT_EQ(ListFolder(Outbox(root)).size(), 1u);
}

TEST(EmailSender, LostConnectionStopsAndKeepsTheRest) {
    // The server accepts the first message, then stops answering.
    CScriptedSmtp server({{"", "220 hi\r\n"},
                          {"HELO", "250 hi\r\n"},
                          {"MAIL", "250 ok\r\n"},
                          {"RCPT", "250 ok\r\n"},
                          {"DATA", "354 go\r\n"},
                          {"", "250 ok\r\n"},
                          {"MAIL", ""},
                          {"never", ""}});
    CTempFolder root;
    CCapturedLog log;
    CMailSettings settings = Settings(server.Port());
    settings.m_nSmtpTimeout = 1;
    for (int i = 0; i < 3; ++i) {
        Queue(root, settings, "b@y", "s");
    }
    CEmailSender sender(log.Writer());
    sender.Run(settings, root.Path());
    EXPECT_EQ(ListFolder(Outbox(root)).size(), 2u);
    EXPECT_TRUE(log.Has("Your SMTP server is not responding to MAIL From: <a@x>.")) << log.All();
    EXPECT_TRUE(log.Has("Email Sender ended. 1 email(s) sent")) << log.All();
}

TEST(EmailSender, EightThreadsQueueAndEverythingIsDelivered) {
    CSmtpSink sink;
    ASSERT_TRUE(sink.Started());
    CTempFolder root;
    CCapturedLog log;
    CMailSettings settings = Settings(sink.Port());
    settings.m_nMaxEmailOut = 100000;
    constexpr int kThreads = 8;
    constexpr int kEach = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                Queue(root, settings, "b@y", std::to_string(t) + "/" + std::to_string(i));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ASSERT_EQ(ListFolder(Outbox(root)).size(), static_cast<size_t>(kThreads * kEach));
    CEmailSender sender(log.Writer());
    sender.Run(settings, root.Path());
    EXPECT_TRUE(log.Has("Email Sender ended. 800 email(s) sent")) << log.All();
    std::set<std::string> subjects;
    for (const CSmtpSink::Message& message : sink.Messages()) {
        subjects.insert(Header(message.m_data, "Subject"));
    }
    EXPECT_EQ(subjects.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_TRUE(ListFolder(Outbox(root)).empty());
}

TEST(EmailSender, NamedAddressesReachTheServerAsAddresses) {
    CSmtpSink sink;
    ASSERT_TRUE(sink.Started());
    CTempFolder root;
    CCapturedLog log;
    CMailSettings settings = Settings(sink.Port());
    CSspEmailOut mail;
    mail.m_strFrom = "Ann Example <ann@example.test>";
    mail.m_strTo =
        "Bob Smith <bob@example.test>, \"Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m\" <zoe@example.test>";
    mail.m_strCc = "\"Last, First\" <first@example.test>";
    mail.m_strBcc = "carol@example.test (Carol)";
    mail.m_strSubject = "named";
    ASSERT_EQ(mail.Send(settings, root.Path(), log.Writer()), 1) << log.All();
    // A queue written before display names were read: blank-separated bare addresses.
    WriteFile(Outbox(root) + "00000000-000000.txt",
              "From: a@x\r\nTo: old@y other@y\r\nCc: \r\nBcc: \r\nSubject: old\r\n\r\nbody");
    CEmailSender sender(log.Writer());
    sender.Run(settings, root.Path());

    EXPECT_TRUE(sender.JobError().empty()) << sender.JobError();
    EXPECT_TRUE(ListFolder(Outbox(root)).empty()) << log.All();
    std::vector<CSmtpSink::Message> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 2u) << log.All();
    EXPECT_EQ(messages[0].m_to, (std::vector<std::string>{"old@y", "other@y"}));
    EXPECT_EQ(Header(messages[0].m_data, "To"), "old@y, other@y");
    const CSmtpSink::Message& named = messages[1];
    // Folded header lines read as one.
    std::string unfolded = named.m_data;
    for (size_t at; (at = unfolded.find("\r\n ")) != std::string::npos;) {
        unfolded.erase(at, 2);
    }
    EXPECT_EQ(named.m_from, "ann@example.test");
    EXPECT_EQ(named.m_to, (std::vector<std::string>{"bob@example.test", "zoe@example.test",
                                                    "first@example.test", "carol@example.test"}));
    EXPECT_EQ(Header(named.m_data, "From"), "Ann Example <ann@example.test>");
    EXPECT_EQ(Header(unfolded, "To"),
              "Bob Smith <bob@example.test>, =?UTF-8?B?Wm/DqyDDhW5nc3Ryw7Zt?= "
              "<zoe@example.test>");
    EXPECT_EQ(Header(named.m_data, "Cc"), "\"Last, First\" <first@example.test>");
    EXPECT_EQ(named.m_data.find("carol"), std::string::npos) << named.m_data;
}

TEST(EmailSender, PermanentlyRefusedRecipients) {
    const struct {
        const char* m_name;
        const char* m_to;
        std::vector<CSmtpStep> m_steps;
        size_t m_data;                     // messages the server took
        bool m_undelivered;                // the file went to mail/undelivered
        std::vector<std::string> m_named;  // in the log and, unless empty admin, the error
        bool m_errorMail;
    } cases[] = {
        {"every recipient refused",
         "b@y, Carl <c@y>",
         {{"", "220 hi\r\n"},
          {"HELO", "250 hi\r\n"},
          {"MAIL", "250 ok\r\n"},
          {"RCPT To: <b@y>", "550 no such user\r\n"},
          {"RCPT To: <c@y>", "553 mailbox name not allowed\r\n"},
          {"RSET", "250 reset\r\n"}},
         0,
         true,
         {"b@y: 550 no such user", "c@y: 553 mailbox name not allowed",
          "could not be delivered to anyone and was moved to "},
         true},
        {"some recipients refused",
         "good@y, bad@y",
         {{"", "220 hi\r\n"},
          {"HELO", "250 hi\r\n"},
          {"MAIL", "250 ok\r\n"},
          {"RCPT To: <good@y>", "250 ok\r\n"},
          {"RCPT To: <bad@y>", "550 no such user\r\n"},
          {"DATA", "354 go\r\n"},
          {"", "250 ok\r\n"}},
         1,
         false,
         {"was sent, but not to:\r\n  bad@y: 550 no such user\r\n"},
         true},
        {"the administrator alone refused",
         "admin@z",
         {{"", "220 hi\r\n"},
          {"HELO", "250 hi\r\n"},
          {"MAIL", "250 ok\r\n"},
          {"RCPT To: <admin@z>", "550 no such user\r\n"},
          {"RSET", "250 reset\r\n"}},
         0,
         true,
         {"admin@z: 550 no such user"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_name);
        CScriptedSmtp server(c.m_steps);
        CTempFolder root;
        CCapturedLog log;
        CMailSettings settings = Settings(server.Port());
        Queue(root, settings, c.m_to, "refused");
        const std::string queued = ListFolder(Outbox(root)).at(0);
        CEmailSender sender(log.Writer());
        sender.Run(settings, root.Path());

        EXPECT_EQ(server.Data().size(), c.m_data);
        EXPECT_TRUE(server.Unexpected().empty());
        const std::vector<std::string> undelivered = ListFolder(root.Path() + "/mail/undelivered");
        EXPECT_EQ(undelivered,
                  c.m_undelivered ? std::vector<std::string>{queued} : std::vector<std::string>{});
        for (const std::string& named : c.m_named) {
            EXPECT_TRUE(log.Has(named)) << named << "\n" << log.All();
            if (c.m_errorMail) {
                EXPECT_NE(sender.JobError().find(named), std::string::npos) << sender.JobError();
            }
        }
        // Nothing is left to be tried again: the outbox holds at most the error mail.
        std::vector<std::string> outbox = ListFolder(Outbox(root));
        ASSERT_EQ(outbox.size(), c.m_errorMail ? 1u : 0u) << log.All();
        if (c.m_errorMail) {
            EXPECT_NE(outbox[0], queued);
            const std::string error = ReadFile(Outbox(root) + outbox[0]);
            EXPECT_NE(error.find("To: admin@z\r\n"), std::string::npos) << error;
            EXPECT_NE(error.find("Subject: Email Sender error\r\n"), std::string::npos) << error;
            EXPECT_NE(error.find(c.m_named[0]), std::string::npos) << error;
        } else {
            EXPECT_TRUE(sender.JobError().empty()) << sender.JobError();
        }
    }
}

TEST(EmailSender, QueuedNonAddressIsMovedAsideUnsent) {
    CSmtpSink sink;
    ASSERT_TRUE(sink.Started());
    CTempFolder root;
    CCapturedLog log;
    std::filesystem::create_directories(Outbox(root));
    WriteFile(Outbox(root) + "20240101-000000.txt",
              "From: a@x\r\nTo: Bob Smith\r\nCc: \r\nBcc: \r\nSubject: s\r\n\r\nx");
    CEmailSender sender(log.Writer());
    sender.Run(Settings(sink.Port()), root.Path());
    EXPECT_TRUE(sink.Messages().empty());
    EXPECT_EQ(ListFolder(root.Path() + "/mail/undelivered"),
              std::vector<std::string>{"20240101-000000.txt"});
    EXPECT_NE(sender.JobError().find("Bob Smith: Not an email address."), std::string::npos)
        << sender.JobError();
}
