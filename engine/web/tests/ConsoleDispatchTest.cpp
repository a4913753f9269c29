// Console command lines over a real socket: the reader hands them on as soon as the line is in.
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "engine/web/ConsoleCommandHandler.h"
#include "engine/web/ServerThread.h"
#include "engine/web/tests/ServingTestSupport.h"

namespace serving_test {
namespace {

// Answers every command with its words and, for GetReq, the pool's own listing.
class CEchoConsole : public CConsoleCommandHandler {
public:
    explicit CEchoConsole(CServerThreadPool& pool) : m_pool(pool) {}
    void HandleCommand(CServerThread& thread, const std::string& command,
                       const std::string& argument) override {
        std::string reply = command + "|" + argument + "\r\n";
        if (command.find(".GetReq") != std::string::npos) {
            reply += m_pool.ListConnections(nullptr);
        }
        {
            std::lock_guard<std::mutex> guard(m_lock);
            ++m_calls;
        }
        thread.Connection().Send(reply);
    }
    int Calls() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_calls;
    }

private:
    CServerThreadPool& m_pool;
    std::mutex m_lock;
    int m_calls = 0;
};

class ConsoleDispatchTest : public ServingTest {
protected:
    void SetUp() override {
        ServingTest::SetUp();
        m_console = std::make_unique<CEchoConsole>(*m_pool);
        CConsoleCommandHandler::Install(m_console.get());
    }
    void TearDown() override {
        CConsoleCommandHandler::Install(nullptr);
        ServingTest::TearDown();
        m_console.reset();
    }
    std::unique_ptr<CEchoConsole> m_console;
};

TEST_F(ConsoleDispatchTest, CommandLineIsAnsweredWithoutWaitingForTheHeaderEnd) {
    // The client keeps its side open: only the server's answer and close end the read.
    struct Case {
        const char* sent;
        const char* reply;
    } cases[] = {
        {"Brackmoor.Disconnect 5\r\n", "Brackmoor.Disconnect|5\r\n"},
        {"Brackmoor.RunNow 3\r\n\r\n", "Brackmoor.RunNow|3\r\n"},
        {"Brackmoor.GetTask /x.zrp HTTP/1.0\r\nHost: a\r\n", "Brackmoor.GetTask|/x.zrp\r\n"},
        {"Old.Brackmoor.Disconnect 7\r\n", "Old.Brackmoor.Disconnect|7\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Fetch(c.sent), c.reply) << c.sent;
    }
    EXPECT_EQ(m_console->Calls(), static_cast<int>(std::size(cases)));
}

TEST_F(ConsoleDispatchTest, OrdinaryRequestStillReadsItsHeaders) {
    WriteFile("h.zrp", "host=--{ Request.Host; }--|");
    // The mark is case-sensitive, so this is a page request, and its header is read.
    CSocketConn conn;
    conn.SetTimeout(30);
    ASSERT_TRUE(conn.Connect("127.0.0.1", m_port));
    conn.Send("brackmoor.GetTask /h.zrp HTTP/1.0\r\n");
    conn.Send("Host: late.example\r\n\r\n");
    const std::string answer = ReadAll(conn);
    EXPECT_NE(BodyOf(answer).find("host=late.example|"), std::string::npos) << answer;
    EXPECT_EQ(m_console->Calls(), 0);
}

TEST_F(ConsoleDispatchTest, OverLongRequestLineIsInvalidAndItsTailIsNoCommand) {
    // The first 4095 bytes fill the line buffer; the command begins right after them.
    const std::string padded = "GET " + std::string(4091, 'a') + "Brackmoor.GetReq x";
    for (const std::string& end : {std::string("\r\n\r\n"), std::string("\r\n")}) {
        const std::string answer = Fetch(padded + end);
        EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
        EXPECT_NE(answer.find("Invalid HTTP address."), std::string::npos) << answer;
        EXPECT_EQ(answer.find("Brackmoor"), std::string::npos) << answer;
    }
    EXPECT_EQ(m_console->Calls(), 0);
}

TEST_F(ConsoleDispatchTest, ListingKeepsTheUrlAsSent) {
    // The console's reply encodes the separator; the pool's listing must not do it first.
    const std::string reply = Fetch("Brackmoor.GetReq /a*b.zrp?q=*\r\n");
    EXPECT_EQ(reply.rfind("Brackmoor.GetReq|/a*b.zrp?q=*\r\n", 0), 0u) << reply;
    EXPECT_NE(reply.find("*/a*b.zrp?q=* (http)\r\n"), std::string::npos) << reply;
    EXPECT_EQ(reply.find("%2A"), std::string::npos) << reply;
    EXPECT_TRUE(reply.ends_with("watermark*1\r\n\r\n")) << reply;
}

}  // namespace
}  // namespace serving_test
