#include <gtest/gtest.h>

#include "engine/mail/SspEmailOut.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

const std::string kB = CSspEmailOut::kBoundary;

CMailSettings Settings(const std::string& encoding = "") {
    CMailSettings settings;
    settings.m_strAdminEmail = "admin@z";
    settings.m_strTextEncoding = encoding;
    settings.m_mimeMap.FillDefaults();
    return settings;
}

struct OutboxCase {
    const char* m_name;
    std::function<void(CSspEmailOut&)> m_build;
    std::string m_encoding;
    std::string m_expected;
};

}  // namespace

TEST(EmailOut, OutboxFileBytes) {
    const OutboxCase cases[] = {
        {"plain message",
         [](CSspEmailOut& m) {
             m.m_strTo = "b@y";
             m.m_strFrom = "a@x";
             m.m_strSubject = "hi";
             m.m_strContent = "Hello";
         },
         "", "From: a@x\r\nTo: b@y\r\nCc: \r\nBcc: \r\nSubject: hi\r\n\r\nHello"},
        {"no receiver goes to the administrator with the error line",
         [](CSspEmailOut& m) { m.m_strContent = "body"; }, "",
         "From: admin@z\r\nTo: admin@z\r\nCc: \r\nBcc: \r\nSubject: \r\n\r\n"
         "Error: Intended receiver has no email address\r\nbody"},
        {"text/plain is a single MIME part in 8bit with the charset",
         [](CSspEmailOut& m) {
             m.m_strTo = "b@y";
             m.m_strFrom = "a@x";
             m.m_strContentType = "TEXT/PLAIN";
             m.m_strContent = "Hi";
             m.AddHeader("X-Tag: 1");
         },
         "iso-8859-1",
         "From: a@x\r\nTo: b@y\r\nCc: \r\nBcc: \r\nSubject: \r\nX-Tag: 1\r\nMIME-Version: 1.0\r\n"
         "Content-Type: TEXT/PLAIN; charset=\"iso-8859-1\"\r\n"
         "Content-Transfer-Encoding: 8bit\r\n\r\nHi"},
        {"an encoding alone makes the body text/plain and base64",
         [](CSspEmailOut& m) {
             m.m_strTo = "b@y";
             m.m_strFrom = "a@x";
             m.m_strContentTransferEncoding = "Base64";
             m.m_strContent = "abc";
         },
         "",
         "From: a@x\r\nTo: b@y\r\nCc: \r\nBcc: \r\nSubject: \r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/plain\r\nContent-Transfer-Encoding: Base64\r\n\r\nYWJj"},
        {"other content types are written without MIME lines",
         [](CSspEmailOut& m) {
             m.m_strTo = "b@y";
             m.m_strFrom = "a@x";
             m.m_strContentType = "application/json";
             m.m_strContent = "{}";
         },
         "", "From: a@x\r\nTo: b@y\r\nCc: \r\nBcc: \r\nSubject: \r\n\r\n{}"},
        {"attachment typed by its extension in any case",
         [](CSspEmailOut& m) {
             m.m_strTo = "b@y";
             m.m_strFrom = "a@x";
             m.m_strSubject = "report";
             m.m_strContent = "see";
             m.Attach("r.PDF", "abc");
         },
         "",
         "From: a@x\r\nTo: b@y\r\nCc: \r\nBcc: \r\nSubject: report\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed;\r\n\tboundary=\"" +
             kB + "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n--" + kB +
             "\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 8bit\r\n\r\nsee\r\n--" +
             kB +
             "\r\nContent-Type: application/pdf;\r\n\tname=\"r.PDF\"\r\n"
             "Content-Transfer-Encoding: base64\r\n"
             "Content-Disposition: attachment;\r\n\tfilename=\"r.PDF\"\r\n\r\nYWJj\r\n--" +
             kB + "--\r\n"},
        {"header values cannot start lines of their own",
         [](CSspEmailOut& m) {
             m.m_strTo = "b@y\r\nBcc: victim@v";
             m.m_strFrom = "a@x";
             m.m_strSubject = "hi\nX-Evil: 1";
             m.AddHeader("X-Long: one\r\n\ttwo\r\nBcc: victim@v\rX-More: 2\n three");
             m.AddHeader("\r\n");
         },
         "",
         "From: a@x\r\nTo: b@y  Bcc: victim@v\r\nCc: \r\nBcc: \r\nSubject: hi X-Evil: 1\r\n"
         "X-Long: one\r\n\ttwo\r\n three\r\n\r\n"},
    };
    for (const OutboxCase& c : cases) {
        SCOPED_TRACE(c.m_name);
        CSspEmailOut mail;
        c.m_build(mail);
        EXPECT_EQ(mail.ComposeOutboxText(Settings(c.m_encoding)), c.m_expected);
    }
}

TEST(EmailOut, AttachmentTypes) {
    CMailSettings settings = Settings();
    const struct {
        const char* m_name;
        const char* m_type;
    } cases[] = {
        {"r.PDF", "application/pdf"},
        {"page.Html", "text/html"},
        {"README", "application/octet-stream"},
        {"archive.unknownext", "application/octet-stream"},
        {"x.tar.gz.zip", "application/x-zip-compressed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(settings.ContentTypeFor(c.m_name), c.m_type) << c.m_name;
    }
    // Without an entry for the extension the "*" row decides.
    settings.m_mimeMap.Set("*", "application/x-other");
    EXPECT_EQ(settings.ContentTypeFor("README"), "application/x-other");
}

TEST(EmailOut, LongAttachmentIsBase64InLines) {
    CSspEmailOut mail;
    mail.m_strTo = "b@y";
    mail.Attach("data.bin", std::string(58, '\xff'));
    const std::string text = mail.ComposeOutboxText(Settings());
    EXPECT_NE(text.find("\r\n\r\n" + std::string(76, '/') + "\r\n/w==\r\n--" + kB + "--\r\n"),
              std::string::npos)
        << text;
}

TEST(EmailOut, SendQueuesOneFile) {
    CTempFolder root;
    CCapturedLog log;
    CSspEmailOut mail;
    mail.m_strTo = "b@y";
    mail.m_strFrom = "a@x";
    mail.m_strSubject = "hi";
    mail.m_strContent = "Hello";
    ASSERT_EQ(mail.Send(Settings(), root.Path(), log.Writer()), 1);
    const std::string folder = root.Path() + "/mail/outbox";
    std::vector<std::string> files = ListFolder(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].size(), std::string("20240131-235959.txt").size());
    EXPECT_EQ(ReadFile(folder + "/" + files[0]),
              "From: a@x\r\nTo: b@y\r\nCc: \r\nBcc: \r\nSubject: hi\r\n\r\nHello");
}

TEST(EmailOut, DoNotSendToRefusesTheMessage) {
    const struct {
        const char* m_to;
        const char* m_cc;
        const char* m_bcc;
        bool m_refused;
    } cases[] = {
        {"b@y", "c@y;Boss@Corp.example", "", true},  {"\"Boss@corp.example\"", "", "", true},
        {"b@y", "", "x@y, boss@corp.example", true}, {"b@y", "boss@corp.example.org", "", false},
        {"Boss <BOSS@corp.example>", "", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.m_to) + " / " + c.m_cc + " / " + c.m_bcc);
        CTempFolder root;
        CCapturedLog log;
        CSspEmailOut mail;
        mail.m_strTo = c.m_to;
        mail.m_strCc = c.m_cc;
        mail.m_strBcc = c.m_bcc;
        mail.m_strSubject = "loop";
        mail.m_strDoNotSendTo = "boss@corp.example";
        EXPECT_EQ(mail.Send(Settings(), root.Path(), log.Writer()), c.m_refused ? 0 : 1);
        EXPECT_EQ(ListFolder(root.Path() + "/mail/outbox").size(), c.m_refused ? 0u : 1u);
        EXPECT_EQ(log.Has("The following email can not be sent back to boss@corp.example "
                          "because you've set it in DoNotSendTo: loop"),
                  c.m_refused)
            << log.All();
    }
}

TEST(EmailOut, NonAddressIsLoggedAndNotQueued) {
    CTempFolder root;
    CCapturedLog log;
    CSspEmailOut mail;
    mail.m_strTo = "ops@x, Operations";
    EXPECT_EQ(mail.Send(Settings(), root.Path(), log.Writer()), 0);
    EXPECT_TRUE(log.Has("Not an email address in To: Operations")) << log.All();
    EXPECT_FALSE(Exists(root.Path() + "/mail/outbox"));
}

TEST(EmailOut, UnwritableOutboxReportsFailure) {
    CTempFolder root;
    CCapturedLog log;
    WriteFile(root.Path() + "/mail", "blocks the folder");
    CSspEmailOut mail;
    mail.m_strTo = "b@y";
    EXPECT_EQ(mail.Send(Settings(), root.Path(), log.Writer()), 0);
    EXPECT_TRUE(log.Has("Failed to create email file.")) << log.All();
}

TEST(EmailOut, ResetEmptiesEverything) {
    CSspEmailOut mail;
    mail.m_strTo = "b@y";
    mail.m_strSubject = "s";
    mail.AddHeader("X-A: 1");
    mail.Attach("a.txt", "x");
    mail.Reset();
    EXPECT_EQ(mail.ComposeOutboxText(Settings()),
              "From: admin@z\r\nTo: admin@z\r\nCc: \r\nBcc: \r\nSubject: \r\n\r\n"
              "Error: Intended receiver has no email address\r\n");
}
