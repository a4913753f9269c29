#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/mail/Pop3Client.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/DovecotServer.h"
#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/ScriptedPop3.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

const char kMailbox[] = "tu@127.0.0.1";

struct Session {
    int m_result = 0;
    std::vector<std::string> m_stored;  // contents of the stored files, in name order
    std::vector<std::string> m_files;   // every file of the mailbox folder
    std::string m_log;
};

Session Fetch(int port, const std::string& user = "tu", const std::string& password = "secret",
              bool logTraffic = true) {
    CTempFolder root;
    CCapturedLog log;
    CPop3Settings settings;
    settings.m_nTimeout = 10;
    settings.m_bLog = logTraffic;
    Session out;
    {
        CPop3Client client(root.Path(), settings, log.Writer());
        out.m_result = client.FetchAll("127.0.0.1", std::to_string(port), user, password, kMailbox);
    }
    std::string folder = root.Path() + "/mail/" + kMailbox;
    if (Exists(folder)) {
        out.m_files = ListFolder(folder);
        for (const std::string& name : out.m_files) {
            out.m_stored.push_back(ReadFile(folder + "/" + name));
        }
    }
    out.m_log = log.All();
    return out;
}

std::vector<CPop3Step> LoggedOn(const std::string& list) {
    return {
        {"", "+OK ready\r\n"}, {"USER tu", "+OK\r\n"}, {"PASS secret", "+OK\r\n"}, {"LIST", list}};
}

TEST(Pop3Client, RealServerEmptiesTheMailbox) {
    CDovecotServer server;
    const std::string first =
        "From: a@x.org\r\nSubject: one\r\n\r\nbody one\r\n.leading dot\r\n..two "
        "dots\r\n.\r\nend\r\n";
    const std::string second = "From: b@x.org\r\nSubject: two\r\n\r\n" + std::string(5000, 'w') +
                               "\r\n\r\n\r\nlast line\r\n";
    server.AddMessage(first);
    server.AddMessage(second);
    ASSERT_TRUE(server.Start()) << server.LogText();

    Session s = Fetch(server.Port());
    EXPECT_EQ(s.m_result, 2) << s.m_log;
    std::vector<std::string> stored = s.m_stored;
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, (std::vector<std::string>{first, second}));
    for (const std::string& name : s.m_files) {
        EXPECT_EQ(name.substr(name.size() - 4), ".eml");
    }
    EXPECT_EQ(server.MessageCount(), 0) << server.LogText();
}

TEST(Pop3Client, RealServerRefusesAWrongPassword) {
    CDovecotServer server;
    server.AddMessage("Subject: kept\r\n\r\nstays\r\n");
    ASSERT_TRUE(server.Start()) << server.LogText();

    Session s = Fetch(server.Port(), "tu", "wrong");
    EXPECT_EQ(s.m_result, -1);
    EXPECT_NE(s.m_log.find("Wrong email account password (-ERR"), std::string::npos) << s.m_log;
    EXPECT_NE(s.m_log.find("QUIT\r\n"), std::string::npos) << s.m_log;
    EXPECT_TRUE(s.m_stored.empty());
    EXPECT_EQ(server.MessageCount(), 1);
}

TEST(Pop3Client, RetrRefusedKeepsWhatWasStored) {
    CScriptedPop3 peer({{"", "+OK ready\r\n"},
                        {"USER tu", "+OK\r\n"},
                        {"PASS secret", "+OK\r\n"},
                        {"LIST", "+OK 2 messages\r\n1 8\r\n2 8\r\n.\r\n"},
                        {"RETR 1", "+OK 8 octets\r\nline 1\r\n.\r\n"},
                        {"DELE 1", "+OK\r\n"},
                        {"RETR 2", "-ERR message gone\r\n"}});
    Session s = Fetch(peer.Port());
    EXPECT_EQ(s.m_result, 1);
    EXPECT_EQ(s.m_stored, (std::vector<std::string>{"line 1\r\n"}));
    std::vector<std::string> lines = peer.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "DELE 2"), 0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "QUIT");
    EXPECT_NE(s.m_log.find("-ERR message gone"), std::string::npos);
}

TEST(Pop3Client, LineRulesApplyOnlyAtALineStart) {
    // The long line arrives in pieces; its last piece is a lone dot.
    const std::string longLine = std::string(3 * CPop3Client::kMessageLineMax, 'x') + ".";
    const std::string wire = "a\rb\nc\r\n" + longLine + "\r\n..dots\r\n.x\r\n\r\n.\r\n";
    CScriptedPop3 scripted({{"", "+OK ready\r\n"},
                            {"USER tu", "+OK\r\n"},
                            {"PASS secret", "+OK\r\n"},
                            {"LIST", "+OK\r\n1 10\r\n.\r\n"},
                            {"RETR 1", "+OK\r\n" + wire},
                            {"DELE 1", "+OK\r\n"}});
    Session s = Fetch(scripted.Port());
    EXPECT_EQ(s.m_result, 1) << s.m_log;
    EXPECT_EQ(s.m_stored,
              (std::vector<std::string>{"a\rb\nc\r\n" + longLine + "\r\n.dots\r\n.x\r\n\r\n"}));
    EXPECT_TRUE(scripted.Received("DELE 1"));
}

TEST(Pop3Client, BrokenTransferLeavesNoFileAndNoDele) {
    CScriptedPop3 peer({{"", "+OK ready\r\n"},
                        {"USER tu", "+OK\r\n"},
                        {"PASS secret", "+OK\r\n"},
                        {"LIST", "+OK\r\n1 100\r\n.\r\n"},
                        {"RETR 1", "+OK\r\nhalf of a mess"}},
                       true);
    Session s = Fetch(peer.Port());
    EXPECT_EQ(s.m_result, 0);
    EXPECT_TRUE(s.m_files.empty()) << s.m_files.front();
    EXPECT_FALSE(peer.Received("DELE"));
    EXPECT_NE(s.m_log.find("Failed to receive a complete mail from POP3"), std::string::npos);
}

TEST(Pop3Client, LogonFailures) {
    struct Case {
        std::vector<CPop3Step> m_steps;
        const char* m_log;
        bool m_quit;
    };
    const Case cases[] = {
        {{{"", "-ERR busy\r\n"}}, "POP3 server not ready (-ERR busy)", false},
        {{{"", "+OK\r\n"}, {"USER tu", "-ERR who\r\n"}},
         "Wrong email account user name (-ERR who)",
         true},
        {{{"", "+OK\r\n"}, {"USER tu", "+OK\r\n"}, {"PASS secret", "-ERR bad\r\n"}},
         "Wrong email account password (-ERR bad)",
         true},
        {LoggedOn("-ERR no list\r\n"), "-ERR no list", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_log);
        CScriptedPop3 peer(c.m_steps, !c.m_quit);
        Session s = Fetch(peer.Port());
        EXPECT_EQ(s.m_result, -1);
        EXPECT_NE(s.m_log.find(c.m_log), std::string::npos) << s.m_log;
        EXPECT_EQ(peer.Received("QUIT"), c.m_quit);
        EXPECT_FALSE(peer.Received("RETR"));
    }

    int closed = FreeLoopbackPort();
    Session refused = Fetch(closed);
    EXPECT_EQ(refused.m_result, -1);
    EXPECT_NE(
        refused.m_log.find("Failed to connect to POP3 server 127.0.0.1:" + std::to_string(closed)),
        std::string::npos);
}

TEST(Pop3Client, EmptyMailboxAndLongReplies) {
    // A greeting longer than a reply line is read to its end, so USER gets its own answer.
    CScriptedPop3 peer({{"", "+OK " + std::string(700, 'g') + "\r\n"},
                        {"USER tu", "+OK\r\n"},
                        {"PASS secret", "+OK\r\n"},
                        {"LIST", "+OK 0 messages\r\n.\r\n"}});
    Session s = Fetch(peer.Port());
    EXPECT_EQ(s.m_result, 0) << s.m_log;
    EXPECT_TRUE(peer.Received("QUIT"));
    EXPECT_FALSE(peer.Received("RETR"));
}

TEST(Pop3Client, CredentialsNeverInjectOrLeak) {
    // A line break in the account would send a command of its own: nothing is even connected.
    int port = FreeLoopbackPort();
    for (const auto& [user, password] : std::vector<std::pair<std::string, std::string>>{
             {"tu\r\nDELE 1", "secret"}, {"tu", "secret\nDELE 1"}, {"tu\r", "x"}}) {
        Session s = Fetch(port, user, password);
        EXPECT_EQ(s.m_result, -1);
        EXPECT_EQ(s.m_log.find("Failed to connect"), std::string::npos) << s.m_log;
    }

    CScriptedPop3 peer(LoggedOn("+OK\r\n.\r\n"));
    Session s = Fetch(peer.Port(), "tu", "secret", true);
    EXPECT_EQ(s.m_result, 0);
    EXPECT_NE(s.m_log.find("USER tu"), std::string::npos);
    EXPECT_NE(s.m_log.find("PASS "), std::string::npos);
    EXPECT_EQ(s.m_log.find("secret"), std::string::npos) << s.m_log;
}

}  // namespace
