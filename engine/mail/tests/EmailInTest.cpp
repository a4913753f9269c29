#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/foundation/SspValue.h"
#include "engine/mail/SspEmailIn.h"
#include "engine/script/tests/BuiltinCall.h"
#include "engine/settings/MimeMap.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/ScriptedPop3.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

using builtin_test::Call;
using builtin_test::CallError;
using builtin_test::Text;

namespace {

std::string DataFile(const std::string& name) {
    return ReadFile(std::string(VELMORIN_TEST_DATA) + "/mime/" + name);
}

class EmailIn : public ::testing::Test {
protected:
    EmailIn() {
        m_map.FillDefaults();
        m_settings.m_nTimeout = 10;
    }

    std::string Get(const char* member) { return Call(m_in, "in", member).GetText(); }
    int Int(const char* member, std::initializer_list<CSspValue> args = {}) {
        return Call(m_in, "in", member, args).m_integer;
    }
    void Set(const char* name, const std::string& value) {
        Call(m_in, "in", "SetVar", {Text(name), Text(value)});
    }
    // Stores a message in the mailbox folder "box@x.org" under the spool name.
    std::string Store(const std::string& name, const std::string& bytes) {
        std::string folder = m_root.Path() + "/mail/box@x.org";
        std::filesystem::create_directories(folder);
        WriteFile(folder + "/" + name, bytes);
        return folder + "/" + name;
    }

    CTempFolder m_root;
    CCapturedLog m_log;
    CMimeMap m_map;
    CPop3Settings m_settings;
    CSspEmailIn m_in{"in", m_root.Path(), m_log.Writer(), m_settings, m_map};
};

TEST_F(EmailIn, WalksTheMailboxInArrivalOrder) {
    Store("20260101-000000-10.eml", "Subject: fourth\r\n\r\n");
    Store("20260101-000000-2.eml", "Subject: third\r\n\r\n");
    Store("20260101-000000.eml", "Subject: first\r\n\r\n");
    Store("20260101-000000-1.eml", "Subject: second\r\n\r\n");
    Store("notes.txt", "Subject: not mail\r\n\r\n");
    Store(".new-20260101-000000-abc", "Subject: being written\r\n\r\n");
    Set("Address", "box@x.org");

    std::vector<std::string> subjects;
    while (Int("FetchMail") == 1) {
        subjects.push_back(Get("subject"));
    }
    EXPECT_EQ(subjects, (std::vector<std::string>{"first", "second", "third", "fourth"}));
    EXPECT_EQ(Int("FetchMail"), 0);
    // Without a POP3 host nothing is downloaded, and the log says why.
    EXPECT_TRUE(m_log.Has("Email_In.Pop3Host has not been set yet."));
}

TEST_F(EmailIn, MembersOfTheCurrentMessage) {
    std::string path = Store("20260101-000000.eml", DataFile("qp_soft_break.eml"));
    Set("Address", "box@x.org");
    ASSERT_EQ(Int("FetchMail"), 1);
    EXPECT_EQ(Get("FileName"), path);
    EXPECT_EQ(Get("from"), "jd@x.org");
    EXPECT_EQ(Get("FROMNAME"), "John Doe");
    EXPECT_EQ(Get("to"), "a@x.org, ann@y.org, bob@z.org");
    EXPECT_EQ(Get("cc"), "c@x.org");
    EXPECT_EQ(Get("priority"), "1");
    EXPECT_EQ(Get("XMailer"), "Tester 1.0");
    EXPECT_EQ(Get("XLoop"), "loop@x.org");
    EXPECT_EQ(Get("subject"), "Caf\xE9 au lait");
    EXPECT_EQ(Get("content"), "HelloWorld=1");
    EXPECT_EQ(Get("htmlContent"), "");
    EXPECT_EQ(Get("headers").find("From: \"John Doe\" <jd@x.org>\r\n"), 0u);
    EXPECT_EQ(Int("size"), static_cast<int>(DataFile("qp_soft_break.eml").size()));
    EXPECT_EQ(Int("AttachmentCount"), 0);
    EXPECT_EQ(Int("GetAttachment"), 0);
}

TEST_F(EmailIn, AttachmentsOneByOne) {
    Store("20260101-000000.eml", DataFile("mixed.eml"));
    Set("Address", "box@x.org");
    ASSERT_EQ(Int("FetchMail"), 1);
    EXPECT_EQ(Int("AttachmentCount"), 4);
    EXPECT_EQ(Get("AttachName"), "");
    EXPECT_EQ(Int("AttachSize"), 0);
    EXPECT_EQ(CallError(m_in, "in", "AttachData"), "No more attachment in the email.");

    ASSERT_EQ(Int("GetAttachment"), 1);
    EXPECT_EQ(Get("AttachName"), "a.txt");
    EXPECT_EQ(Int("AttachSize"), 5);
    CSspValue data = Call(m_in, "in", "AttachData");
    EXPECT_EQ(data.m_type, kSqlLongVarBinary);
    EXPECT_EQ(data.GetText(), CSspValue::FromBinary("Hello").GetText());

    std::vector<std::string> names{"a.txt"};
    while (Int("GetAttachment") == 1) {
        names.push_back(Get("AttachName"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "Unknown.txt", "Unknown.eml", "x.zrp"}));
    EXPECT_EQ(Int("GetAttachment"), 0);
    EXPECT_EQ(CallError(m_in, "in", "AttachData"), "No more attachment in the email.");
}

TEST_F(EmailIn, SenderNamedAttachmentStaysInTheMailbox) {
    Store("20260101-000000.eml", DataFile("mixed.eml"));
    Set("Address", "box@x.org");
    ASSERT_EQ(Int("FetchMail"), 1);
    std::string path;
    ASSERT_TRUE(m_in.SaveAttachment(3, m_in.MailboxPath(), &path));
    EXPECT_EQ(path, m_root.Path() + "/mail/box@x.org/x.zrp");
    EXPECT_EQ(ReadFile(path), "<!--{ }-->");
    EXPECT_FALSE(Exists(m_root.Path() + "/webroot/x.zrp"));
    EXPECT_FALSE(m_in.SaveAttachment(4, m_in.MailboxPath()));
}

TEST_F(EmailIn, DeleteAndMove) {
    Set("Address", "box@x.org");
    EXPECT_EQ(Int("DeleteMail"), 0);
    EXPECT_EQ(Int("MoveToDeleted"), 0);

    std::string first = Store("20260101-000000.eml", "Subject: a\r\n\r\n");
    std::string second = Store("20260101-000001.eml", "Subject: b\r\n\r\n");
    std::string third = Store("20260101-000002.eml", "Subject: c\r\n\r\n");
    ASSERT_EQ(Int("FetchMail"), 1);
    // Folder names never climb out of the spool.
    EXPECT_EQ(Int("MoveToFolder", {Text("../escape")}), 0);
    EXPECT_EQ(Int("MoveToFolder", {Text("a..b")}), 0);
    EXPECT_TRUE(Exists(first));
    EXPECT_EQ(Int("MoveToFolder", {Text("saved")}), 1);
    EXPECT_FALSE(Exists(first));
    EXPECT_TRUE(Exists(m_root.Path() + "/mail/saved/20260101-000000.eml"));
    // The walk does not advance, and the name stays set.
    EXPECT_EQ(Get("FileName"), first);
    EXPECT_EQ(Int("DeleteMail"), 0);

    ASSERT_EQ(Int("FetchMail"), 1);
    EXPECT_EQ(Int("DeleteMail"), 1);
    EXPECT_FALSE(Exists(second));
    ASSERT_EQ(Int("FetchMail"), 1);
    EXPECT_EQ(Int("MoveToDeleted"), 1);
    EXPECT_TRUE(Exists(m_root.Path() + "/mail/deleted/20260101-000002.eml"));
    EXPECT_FALSE(Exists(third));
    EXPECT_EQ(Int("FetchMail"), 0);
    EXPECT_EQ(CallError(m_in, "in", "MoveToFolder"), "Missing parameter.");
}

TEST_F(EmailIn, ScriptErrors) {
    EXPECT_EQ(CallError(m_in, "in", "bogus"), "Unknown Email_In field: bogus");
    EXPECT_EQ(CallError(m_in, "in", "SetVar", {Text("bogus"), Text("x")}),
              "Unknown Email_In field: bogus");
    EXPECT_EQ(CallError(m_in, "in", "fetch"),
              "Email_In.fetch is obsolete. Please replace it with FetchMail. After the email is "
              "processed, call DeleteMail to detele it. ");
    std::string path = Store("20260101-000000.eml", "Subject: a\r\n\r\n");
    Set("Address", "box@x.org");
    ASSERT_EQ(Int("FetchMail"), 1);
    WriteFile(path, "");
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(CallError(m_in, "in", "subject"), "Failed to open file: " + path);
}

TEST_F(EmailIn, MailboxFolderNames) {
    struct Case {
        const char* m_user;
        const char* m_host;
        const char* m_address;
        const char* m_mailbox;
    };
    const Case cases[] = {
        {"joe", "pop.x.org", "", "joe@pop.x.org"},
        {"joe/box:1", "pop.x.org", "", "joe@pop.x.org"},
        {"DOM\\joe", "h", "", "DOM@h"},
        {"joe", "h", "support@x.org", "support@x.org"},
        {"joe", "..", "", ""},
        {"joe", "h", "../../webroot", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_mailbox);
        CSspEmailIn in("in", m_root.Path(), m_log.Writer(), m_settings, m_map);
        in.SetAccount(c.m_host, c.m_user, "pw");
        if (*c.m_address != '\0') {
            Call(in, "in", "SetVar", {Text("Address"), Text(c.m_address)});
        }
        EXPECT_EQ(in.MailboxName(), c.m_mailbox);
    }
}

TEST_F(EmailIn, AnotherUserStartsAfresh) {
    Store("20260101-000000.eml", "Subject: a\r\n\r\n");
    Set("Username", "tu");
    Set("Address", "box@x.org");
    ASSERT_EQ(Int("FetchMail"), 1);
    Set("Username", "tu");
    EXPECT_NE(Get("FileName"), "");
    Set("Username", "other");
    EXPECT_EQ(Get("FileName"), "");
    EXPECT_EQ(Get("Address"), "");

    m_in.Reset();
    EXPECT_EQ(Get("Pop3Port"), "110");
    EXPECT_EQ(Get("Username"), "");
}

TEST_F(EmailIn, DownloadsOnceThenWalks) {
    CScriptedPop3 peer({{"", "+OK ready\r\n"},
                        {"USER tu", "+OK\r\n"},
                        {"PASS secret", "+OK\r\n"},
                        {"LIST", "+OK\r\n1 40\r\n.\r\n"},
                        {"RETR 1",
                         "+OK\r\nFrom: jd@x.org\r\nSubject: fetched\r\n\r\n"
                         "hello\r\n.\r\n"},
                        {"DELE 1", "+OK\r\n"}});
    m_in.SetAccount("127.0.0.1", "tu", "secret");
    Set("Pop3Port", std::to_string(peer.Port()));
    ASSERT_EQ(Int("FetchMail"), 1) << m_log.All();
    EXPECT_EQ(Get("subject"), "fetched");
    EXPECT_EQ(Get("content"), "hello");
    EXPECT_EQ(Get("FileName").find(m_root.Path() + "/mail/tu@127.0.0.1/"), 0u);
    EXPECT_TRUE(peer.Received("QUIT"));
    // The account was downloaded once; a second FetchMail only walks on.
    EXPECT_EQ(Int("FetchMail"), 0);
    EXPECT_FALSE(m_log.Has("Failed to connect"));
}

}  // namespace
