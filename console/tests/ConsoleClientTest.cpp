// The protocol client against a scripted server, and the rows it makes of the replies.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/ConsoleClient.h"
#include "engine/testsupport/LoopbackPeer.h"
#include "engine/testsupport/LoopbackPort.h"

namespace {

// Takes one command: with a reply, reads the command through its empty line and answers;
// without, reads every line until the console closes.
class CScriptedServer : public CLoopbackPeer {
public:
    explicit CScriptedServer(std::string reply = {}) : m_reply(std::move(reply)) { Start(); }
    ~CScriptedServer() override { Stop(); }
    std::vector<std::string> Command() {
        Finish();
        return Lines();
    }

protected:
    void Serve() override {
        if (!Accept()) {
            return;
        }
        std::string line;
        while (ReadLine(line)) {
            if (line.empty() && !m_reply.empty()) {
                Send(m_reply);
                Close();
                return;
            }
        }
    }

private:
    std::string m_reply;
};

TEST(ConsoleClient, TheFourCommandsBytes) {
    std::string text;
    std::string error;
    {
        CScriptedServer server("\r\n");
        EXPECT_TRUE(CConsoleClient("127.0.0.1", server.Port()).GetTaskList(text, error)) << error;
        EXPECT_EQ(server.Command(), (std::vector<std::string>{"Brackmoor.GetTask", ""}));
    }
    {
        CScriptedServer server("\r\n");
        EXPECT_TRUE(CConsoleClient("127.0.0.1", server.Port()).GetRequests(text, error)) << error;
        EXPECT_EQ(server.Command(), (std::vector<std::string>{"Brackmoor.GetReq", ""}));
    }
    {
        CScriptedServer server;
        EXPECT_TRUE(CConsoleClient("127.0.0.1", server.Port()).RunNow(4, error)) << error;
        EXPECT_EQ(server.Command(), (std::vector<std::string>{"Brackmoor.RunNow 4", ""}));
    }
    {
        CScriptedServer server;
        EXPECT_TRUE(CConsoleClient("127.0.0.1", server.Port()).Disconnect(77, error)) << error;
        EXPECT_EQ(server.Command(), (std::vector<std::string>{"Brackmoor.Disconnect 77"}));
    }
}

TEST(ConsoleClient, TaskListRowsAndLongLines) {
    const std::string wide(300, 'w');
    const std::string wider(4000, 'x');
    CScriptedServer server(
        "0*Web Server*http://h*Running\r\n"
        "1*Secure Web Server*https://h*Disabled\r\n"
        "2*Email Sender*" +
        wide +
        "*Stopped\r\n"
        "3*Import*" +
        wider +
        "*Disabled\r\n"
        "\r\n");
    std::string text;
    std::string error;
    ASSERT_TRUE(CConsoleClient("127.0.0.1", server.Port()).GetTaskList(text, error)) << error;
    const std::vector<CServerRow> rows = ParseServerRows(text);
    ASSERT_EQ(rows.size(), 4u) << text.substr(0, 200);
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].m_itemData, static_cast<long>(i));
        EXPECT_EQ(rows[i].m_columns[0], std::to_string(i));
    }
    EXPECT_EQ(rows[0].m_columns[1], "Web Server");
    EXPECT_EQ(rows[0].m_columns[2], "http://h");
    EXPECT_EQ(rows[0].m_columns[3], "Running");
    EXPECT_EQ(rows[2].m_columns[2], wide);
    EXPECT_EQ(rows[3].m_columns[2], wider);
    EXPECT_EQ(rows[3].m_columns[3], "Disabled");
}

TEST(ConsoleClient, RequestListAndWatermark) {
    CScriptedServer server("10.1.1.1*4242*T*http://h/x (http)\r\nwatermark*7\r\n\r\n");
    std::string text;
    std::string error;
    ASSERT_TRUE(CConsoleClient("127.0.0.1", server.Port()).GetRequests(text, error)) << error;
    const CRequestList list = ParseRequestList(text);
    ASSERT_EQ(list.m_rows.size(), 1u);
    EXPECT_EQ(list.m_rows[0].m_address, "10.1.1.1");
    EXPECT_EQ(list.m_rows[0].m_threadId, 4242);
    EXPECT_EQ(list.m_rows[0].m_assigned, "T");
    EXPECT_EQ(list.m_rows[0].m_request, "http://h/x (http)");
    EXPECT_EQ(list.m_highWater, "High water mark: 7");
    EXPECT_EQ(ParseRequestList("\r\n").m_highWater, "");
}

TEST(ConsoleClient, NoListenerIsAConnectFailure) {
    const int port = FreeLoopbackPort();
    ASSERT_NE(port, 0);
    CConsoleClient client("127.0.0.1", port);
    std::string text = "stale";
    std::string error;
    EXPECT_FALSE(client.GetTaskList(text, error));
    EXPECT_EQ(text, "");
    EXPECT_EQ(error, "Failed to connect to Velmorin Server.");
    EXPECT_FALSE(client.RunNow(2, error));
    EXPECT_EQ(error, "Failed to connect to Velmorin Server.");
    EXPECT_FALSE(client.Disconnect(2, error));
    EXPECT_EQ(error, "Failed to connect to Velmorin Server.");
}

TEST(ConsoleClient, RunNowAndDisconnectRefusalsInOrder) {
    const std::vector<CServerRow> rows = ParseServerRows(
        "0*Web Server*http://h*Running\r\n1*Secure Web Server*https://h*Disabled\r\n"
        "2*Email Sender*every 1 min*12/10 10:00:00\r\n"
        "0*Broken*every 1 min*12/10 10:00:00\r\n"
        "5*Import*every 10 min*DISABLED\r\n");
    ASSERT_EQ(rows.size(), 5u);
    struct Case {
        int row;
        const char* refusal;
    } cases[] = {
        {-1, "Please select a task other than the web server."},
        {0, "Please select a task other than the web server."},
        {1, "Please select a task other than the web server."},
        {2, ""},
        {3, "Script ID not found. Please click the Refresh button then retry."},
        {4, "The task you selected is disabled."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RunNowRefusal(c.row, c.row < 0 ? nullptr : &rows[static_cast<size_t>(c.row)]),
                  c.refusal)
            << c.row;
    }
    EXPECT_EQ(RunNowNotice(rows[2]),
              "Email Sender is now running in the background.\nRefer to log files for results.");

    CConsoleConnection request;
    EXPECT_EQ(DisconnectRefusal(nullptr), "Please select a request first. ");
    EXPECT_EQ(DisconnectRefusal(&request), "Thread ID not found");
    request.m_threadId = 9;
    EXPECT_EQ(DisconnectRefusal(&request), "");
}

}  // namespace
