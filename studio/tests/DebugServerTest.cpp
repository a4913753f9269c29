#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "engine/foundation/SocketConn.h"
#include "engine/testsupport/LoopbackPort.h"
#include "engine/testsupport/ReadAll.h"
#include "studio/DebugController.h"
#include "studio/tests/DebuggerFixture.h"

namespace {

// What a command (built here from fixed words, ports and temporary paths) writes.
std::string Output(const std::string& command) {
    std::string body;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            body.append(buffer, n);
        }
        pclose(pipe);
    }
    return body;
}

// The body curl gets for <scheme>://127.0.0.1:<port><path>.
std::string Curl(int port, const std::string& path, const std::string& scheme = "http") {
    return Output("curl -s -k --max-time 30 " + scheme + "://127.0.0.1:" + std::to_string(port) +
                  path);
}

class DebugServerTest : public DebugControllerTest {
protected:
    void SetUp() override {
        DebugControllerTest::SetUp();
        m_port = FreeLoopbackPort();
        ASSERT_NE(m_port, 0);
        m_debugger->SetPort(std::to_string(m_port));
    }
    void StartServer() {
        m_debugger->StartOrContinue("");
        ASSERT_TRUE(m_debugger->IsRunning());
    }

    int m_port = 0;
};

const char* kPage = "<html>\nhello\n<!--{ write 'x'; }-->\nend\n";

TEST_F(DebugServerTest, BreakpointsPauseAPageAndTheBodyIsUnchanged) {
    const std::string path = Script("webroot/a.zrp", kPage);
    StartServer();
    EXPECT_TRUE(m_log.Has("Debugger has started its web server at http://127.0.0.1:" +
                          std::to_string(m_port) + ". It will pause"));
    // Without a breakpoint the page runs through.
    const std::string plain = Curl(m_port, "/a.zrp");
    EXPECT_EQ(plain, "<html>\nhello\nx\nend\n");
    m_debugger->ToggleBreakpoint(path, 2);
    m_debugger->ToggleBreakpoint(path, 3);
    std::future<std::string> body =
        std::async(std::launch::async, [&] { return Curl(m_port, "/a.zrp"); });
    ASSERT_TRUE(WaitPaused(1));
    EXPECT_EQ(m_front.Breaks().back(), std::make_pair(2, path));
    m_debugger->StartOrContinue("");
    ASSERT_TRUE(WaitPaused(2));
    EXPECT_EQ(m_front.Breaks().back(), std::make_pair(3, path));
    m_debugger->StartOrContinue("");
    EXPECT_EQ(body.get(), plain);
    EXPECT_EQ(m_front.Breaks().size(), 2u);
    // A finished page leaves the server running.
    EXPECT_TRUE(m_debugger->IsRunning());
    const std::string traffic = m_front.HttpText();
    EXPECT_NE(
        traffic.find("-------------------- Resquest Header --------------------\r\nGET /a.zrp"),
        std::string::npos);
    EXPECT_NE(traffic.find("-------------------- HTML Generated ---------------------\r\n<html>\n"),
              std::string::npos);
    EXPECT_NE(traffic.find("hello\n"), std::string::npos);
    EXPECT_NE(traffic.find("Response Header --------------------\r\nHTTP/1.0 200 OK"),
              std::string::npos);
    m_debugger->Stop();
    EXPECT_TRUE(m_debugger->IsIdle());
    EXPECT_EQ(m_log.Count("Debugger ended."), 1);
}

TEST_F(DebugServerTest, ConsoleCommandsAreClosedUnanswered) {
    StartServer();
    CSocketConn conn;
    conn.SetTimeout(10);
    ASSERT_TRUE(conn.Connect("127.0.0.1", m_port));
    conn.Send("Brackmoor.GetTask / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(ReadAll(conn), "");
    m_debugger->Stop();
}

TEST_F(DebugServerTest, SecondRequestWaitsForThePausedOne) {
    m_settings.DbAccessSerialize = false;
    ASSERT_TRUE(m_settings.Save());
    const std::string path = Script("webroot/a.zrp", kPage);
    StartServer();
    m_debugger->ToggleBreakpoint(path, 2);
    std::future<std::string> first =
        std::async(std::launch::async, [&] { return Curl(m_port, "/a.zrp"); });
    ASSERT_TRUE(WaitPaused(1));
    std::future<std::string> second =
        std::async(std::launch::async, [&] { return Curl(m_port, "/a.zrp"); });
    for (int i = 0; i < 1000 && m_log.Count("Waiting for last .zrp/.zrs to finish.") < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(m_log.Count("Waiting for last .zrp/.zrs to finish."), 2);
    EXPECT_EQ(m_front.Breaks().size(), 1u);
    m_debugger->StartOrContinue("");
    EXPECT_EQ(first.get(), "<html>\nhello\nx\nend\n");
    ASSERT_TRUE(WaitPaused(2));
    m_debugger->StartOrContinue("");
    EXPECT_EQ(second.get(), "<html>\nhello\nx\nend\n");
    m_debugger->Stop();
}

TEST_F(DebugServerTest, StopWhilePausedEndsThePage) {
    const std::string path = Script("webroot/a.zrp", kPage);
    StartServer();
    m_debugger->ToggleBreakpoint(path, 2);
    std::future<std::string> body =
        std::async(std::launch::async, [&] { return Curl(m_port, "/a.zrp"); });
    ASSERT_TRUE(WaitPaused(1));
    m_debugger->Stop();
    EXPECT_TRUE(m_debugger->IsIdle());
    EXPECT_EQ(m_log.Count("Debugger ended."), 1);
    body.get();
}

TEST_F(DebugServerTest, PortTakenLeavesTheDebuggerIdle) {
    CSocketConn taken;
    ASSERT_TRUE(taken.Listen("127.0.0.1", m_port));
    m_debugger->StartOrContinue("");
    EXPECT_TRUE(m_log.Has("Make sure the TCP port for Velmorin Studio is available"));
    EXPECT_TRUE(m_debugger->IsIdle());
}

TEST_F(DebugServerTest, HttpsOnThePlainPortGetsAHint) {
    StartServer();
    CSocketConn conn;
    conn.SetTimeout(10);
    ASSERT_TRUE(conn.Connect("127.0.0.1", m_port));
    conn.Send(std::string("\x16\x03\x01\x00\x05hello", 10));
    conn.Close();
    for (int i = 0; i < 1000 && !m_log.Has("You may be trying to access"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(
        m_log.Has("\r\nYou may be trying to access this regular web server using "
                  "https://.... Try using http://... in your browser."));
    m_debugger->Stop();
}

TEST_F(DebugServerTest, SecuredServerServesHttpsAndHintsAtPlainRequests) {
    mkdir(m_root.File("certs").c_str(), 0755);
    const std::string key = m_root.File("certs/server.key");
    Output("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + key + " -out " +
           m_root.File("certs/server.pem") +
           " -subj /CN=Studio\\ Test -days 2 -set_serial 0x0102 2>/dev/null");
    ASSERT_EQ(chmod(key.c_str(), 0600), 0);
    m_settings.SecurityCertName = "studio test";
    m_settings.SecurityCertIssuer = "Studio Test";
    m_settings.SecurityCertSerial = "0102";
    ASSERT_TRUE(m_settings.Save());
    Script("webroot/a.zrp", kPage);
    m_debugger->SetSsl(true);
    StartServer();
    EXPECT_TRUE(m_log.Has("Debugger has started its secured web server at https://127.0.0.1:" +
                          std::to_string(m_port) + ". It will pause"));
    EXPECT_EQ(Curl(m_port, "/a.zrp", "https"), "<html>\nhello\nx\nend\n");
    Curl(m_port, "/a.zrp");
    EXPECT_TRUE(m_log.Has("\r\nYou should type https://..., not http://... in your browser"));
    m_debugger->Stop();
    EXPECT_TRUE(m_debugger->IsIdle());
}

}  // namespace

namespace {

// A non-loopback IPv4 address of this host, or "" when it has none.
std::string OtherHostAddress() {
    std::vector<std::string> addresses;
    if (ListHostAddresses(addresses, HostLoopback::kSkip) !=
            CServerSettings::HostListing::kListed ||
        addresses.empty()) {
        return std::string();
    }
    return addresses.front();
}

}  // namespace

TEST_F(DebugServerTest, AnswersOnLoopbackOnlyWhenTheRootHoldsNoAddress) {
    const std::string other = OtherHostAddress();
    if (other.empty()) {
        GTEST_SKIP() << "this host has no address besides loopback";
    }
    m_settings.GeneralTcpipAddress.clear();
    ASSERT_TRUE(m_settings.Save());
    Script("webroot/a.zrp", "<html>here</html>");
    StartServer();
    EXPECT_NE(Curl(m_port, "/a.zrp").find("here"), std::string::npos);
    CSocketConn conn;
    conn.SetTimeout(5);
    EXPECT_FALSE(conn.Connect(other, m_port)) << other;
    m_debugger->Stop();
    ASSERT_TRUE(WaitIdle());
}
