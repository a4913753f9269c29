#include "engine/foundation/SocketConn.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/LogWriter.h"
#include "engine/foundation/tests/LineCount.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/ReadAll.h"

namespace {

using namespace std::chrono_literals;
using enum CSocketConn::ELineRead;

class SocketConnTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_log = std::make_unique<CCapturedLog>(g_log);
        ASSERT_TRUE(m_listener.Listen("127.0.0.1", 0));
        m_port = m_listener.GetLocalPort();
        ASSERT_GT(m_port, 0);
    }
    void TearDown() override { g_log.SetFolder(""); }

    // Connects m_client to the listener and accepts the other end into m_server.
    void Pair() {
        ASSERT_TRUE(m_client.Connect("127.0.0.1", m_port));
        ASSERT_TRUE(m_listener.Accept(m_server));
        EXPECT_EQ(m_server.GetPeerAddressText(), "127.0.0.1");
    }

    std::unique_ptr<CCapturedLog> m_log;
    CSocketConn m_listener;
    CSocketConn m_server;
    CSocketConn m_client;
    int m_port = 0;
};

struct LineCase {
    const char* name;
    std::string input;  // sent by the peer, which then closes
    int size;           // buffer size given to ReadLine
    std::vector<std::pair<CSocketConn::ELineRead, std::string>> reads;  // of each call
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name << " " << ::testing::PrintToString(c.input);
}

class ReadLineTest : public SocketConnTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(ReadLineTest, ReturnsCodesAndText) {
    const LineCase& c = GetParam();
    Pair();
    ASSERT_TRUE(m_client.Send(c.input));
    m_client.Close();
    std::vector<char> buffer(static_cast<size_t>(c.size) + 8, 'X');
    for (const auto& [code, text] : c.reads) {
        int length = -99;
        const CSocketConn::ELineRead r = m_server.ReadLine(buffer.data(), c.size, &length);
        EXPECT_EQ(r, code) << c.name;
        EXPECT_EQ(std::string(buffer.data()), text) << c.name;
        EXPECT_EQ(length, static_cast<int>(text.size())) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadLineTest,
    ::testing::Values(
        LineCase{"crlf", "GET / HTTP/1.0\r\n", 100, {{kLine, "GET / HTTP/1.0"}, {kClosed, ""}}},
        LineCase{"cr_drops_next", "a\rb\r\n", 100, {{kLine, "a"}, {kClosed, ""}}},
        LineCase{"lone_lf_kept", "a\nb\r\n", 100, {{kLine, "a\nb"}}},
        LineCase{"empty_line", "\r\nx\r\n", 100, {{kLine, ""}, {kLine, "x"}}},
        LineCase{"too_long_then_rest", "abcdefg\r\n", 5, {{kTooLong, "abcd"}, {kLine, "efg"}}},
        LineCase{"exact_fit_then_crlf", "abcd\r\nz\r\n", 5, {{kLine, "abcd"}, {kLine, "z"}}},
        LineCase{"closed_mid_line", "abc", 100, {{kClosed, "abc"}}},
        LineCase{"line_over_read_ahead",
                 std::string(20000, 'q') + "\r\n",
                 30000,
                 {{kLine, std::string(20000, 'q')}}}),
    [](const ::testing::TestParamInfo<LineCase>& p) { return std::string(p.param.name); });

TEST_F(SocketConnTest, LinesAndRawReadsShareTheReadAhead) {
    Pair();
    std::string body(50000, '\0');
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>(i * 7);
    }
    ASSERT_TRUE(m_client.Send("HEAD\r\n" + body));
    char line[64];
    ASSERT_EQ(ReadLineCount(m_server, line, sizeof line), 4);
    std::string got(body.size(), 'x');
    ASSERT_TRUE(m_server.ReceiveExact(got.data(), got.size()));
    EXPECT_EQ(got, body);
}

TEST_F(SocketConnTest, InvalidAddressesFailToConnect) {
    for (const std::string host : {"255.255.255.255", "", "1.2.3.4.5"}) {
        CSocketConn conn;
        EXPECT_FALSE(conn.Connect(host, m_port)) << host;
        EXPECT_FALSE(conn.IsOpen());
        EXPECT_EQ(m_log->CountEqual("[" + host + "] is an invalid IP address\r\n"), 1) << host;
    }
}

TEST_F(SocketConnTest, RefusedConnectLogsAndLeavesNoSocket) {
    CSocketConn probe;
    ASSERT_TRUE(probe.Listen("127.0.0.1", 0));
    int closedPort = probe.GetLocalPort();
    probe.Close();
    CSocketConn conn;
    conn.SetTimeout(2);
    EXPECT_FALSE(conn.Connect("127.0.0.1", closedPort));
    EXPECT_FALSE(conn.IsOpen());
    EXPECT_EQ(
        m_log->CountEqual("Failed to connect to 127.0.0.1:" + std::to_string(closedPort) + "\r\n"),
        1);
}

TEST_F(SocketConnTest, BindingAPortInUseLogsTheBindText) {
    CSocketConn second;
    EXPECT_FALSE(second.Listen("127.0.0.1", m_port));
    EXPECT_EQ(m_log->CountEqual("Failed to bind to 127.0.0.1:" + std::to_string(m_port) +
                                ". This address and port may be used by another software such as "
                                "IIS, or this computer's network connection is broken. \r\n"),
              1);
}

TEST_F(SocketConnTest, SilentPeerTimesOut) {
    Pair();
    ASSERT_TRUE(m_server.SetTimeout(1));
    char buffer[16];
    EXPECT_EQ(m_server.Receive(buffer, sizeof buffer), -1);
    EXPECT_EQ(m_log->CountEqual("Timeout receiving on socket\r\n"), 1);
    EXPECT_EQ(m_server.ReadLine(buffer, sizeof buffer), CSocketConn::ELineRead::kRecvError);
}

TEST_F(SocketConnTest, DeadlineBoundsATrickleOfBytes) {
    Pair();
    ASSERT_TRUE(m_server.SetTimeout(5));
    std::jthread trickle([this](std::stop_token stop) {
        // 3 s of bytes, then the peer leaves: without the deadline the line ends as closed.
        for (int i = 0; i < 30 && !stop.stop_requested() && m_client.Send("x"); ++i) {
            std::this_thread::sleep_for(100ms);
        }
        m_client.Close();
    });
    m_server.SetDeadline(std::chrono::steady_clock::now() + 700ms);
    char buffer[4096];
    // Each byte comes well within the time-out; only the deadline can end this.
    EXPECT_EQ(m_server.ReadLine(buffer, sizeof buffer), CSocketConn::ELineRead::kRecvError);
    EXPECT_EQ(m_log->CountEqual("Timeout receiving on socket\r\n"), 1);
    trickle.request_stop();
    m_server.Close();
}

TEST_F(SocketConnTest, RateFloorCutsATrickleButNotASteadyPeer) {
    struct FloorCase {
        const char* name;
        size_t piece;  // bytes sent every 100 ms for 3 s, then the peer leaves
        bool cut;
    };
    for (const FloorCase& c : {FloorCase{"trickle of 500 bytes a second", 50, true},
                               FloorCase{"steady 5000 bytes a second", 500, false}}) {
        SCOPED_TRACE(c.name);
        CSocketConn client;
        CSocketConn server;
        ASSERT_TRUE(client.Connect("127.0.0.1", m_port));
        ASSERT_TRUE(m_listener.Accept(server));
        ASSERT_TRUE(server.SetTimeout(30));
        std::jthread sender([&client, &c](std::stop_token stop) {
            const std::string piece(c.piece, 'x');
            for (int i = 0; i < 30 && !stop.stop_requested() && client.Send(piece); ++i) {
                std::this_thread::sleep_for(100ms);
            }
            client.Shutdown();
        });
        const size_t before = m_log->Count("Timeout receiving on socket\r\n");
        server.SetRateFloor(1024, 1s);
        char buffer[4096];
        long n;
        size_t total = 0;
        while ((n = server.Receive(buffer, sizeof buffer)) > 0) {
            total += static_cast<size_t>(n);
        }
        EXPECT_EQ(n, c.cut ? -1 : 0);
        EXPECT_EQ(m_log->Count("Timeout receiving on socket\r\n"), before + (c.cut ? 1 : 0));
        if (!c.cut) {
            EXPECT_EQ(total, 30 * c.piece);
        }
        sender.request_stop();
    }
}

TEST_F(SocketConnTest, SendToAClosedPeerFailsWithoutKillingTheProcess) {
    Pair();
    m_client.Close();
    std::string block(65536, 'z');
    bool ok = true;
    for (int i = 0; i < 200 && ok; ++i) {
        ok = m_server.Send(block);
    }
    EXPECT_FALSE(ok);
    auto lines = m_log->Lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("Socket error [", 0) == 0 && l.find("] when sending.") != std::string::npos;
    }));
}

TEST_F(SocketConnTest, CloseFromAnotherThreadEndsABlockedReceive) {
    Pair();
    long result = 99;
    std::thread reader([&] {
        char buffer[16];
        result = m_server.Receive(buffer, sizeof buffer);
    });
    std::this_thread::sleep_for(200ms);
    m_server.Close();
    reader.join();
    EXPECT_LE(result, 0);
    // The owner's Close now releases the descriptor.
    EXPECT_TRUE(m_server.IsOpen());
    m_server.Close();
    EXPECT_FALSE(m_server.IsOpen());
}

TEST_F(SocketConnTest, CloseFromAnotherThreadEndsABlockedAccept) {
    bool accepted = true;
    std::thread acceptor([&] {
        CSocketConn conn;
        accepted = m_listener.Accept(conn);
    });
    std::this_thread::sleep_for(200ms);
    m_listener.Close();
    acceptor.join();
    EXPECT_FALSE(accepted);
}

TEST_F(SocketConnTest, ClosingAfterThePeerLeftLogsNothing) {
    Pair();
    m_client.Close();
    std::this_thread::sleep_for(50ms);
    m_server.Close();
    m_server.Close();
    EXPECT_TRUE(m_log->Lines().empty());
}

TEST_F(SocketConnTest, QuietConnectionLogsNothing) {
    CSocketConn conn;
    conn.SetLogging(false);
    EXPECT_FALSE(conn.Connect("255.255.255.255", m_port));
    EXPECT_TRUE(m_log->Lines().empty());
}

TEST_F(SocketConnTest, DrainDropsPendingInputWithoutWaiting) {
    Pair();
    ASSERT_TRUE(m_client.Send("line one\r\nrest of it"));
    std::this_thread::sleep_for(100ms);
    char buffer[64];
    ASSERT_EQ(ReadLineCount(m_server, buffer, sizeof buffer), 8);
    m_server.DrainInput();
    ASSERT_TRUE(m_client.Send("next\r\n"));
    EXPECT_EQ(ReadLineCount(m_server, buffer, sizeof buffer), 4);
    EXPECT_STREQ(buffer, "next");
}

TEST_F(SocketConnTest, SendFileSendsHeadAndFileBytes) {
    Pair();
    char path[] = "/tmp/sockconn-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string content = std::string("ab\0cd", 5) + std::string(100000, 'k');
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    EXPECT_TRUE(m_server.SendFile("HEAD\r\n", fd, 1, content.size() - 1));
    // A file shorter than promised is a failure, not a hang.
    EXPECT_FALSE(m_server.SendFile("", fd, content.size() - 2, 10));
    close(fd);
    unlink(path);
    m_server.Close();
    std::string got = ReadAll(m_client);
    EXPECT_EQ(got.substr(0, got.size() - 2), "HEAD\r\n" + content.substr(1));
}

// A layer that flips every byte, standing in for TLS.
class CFlipTransport : public CConnTransport {
public:
    int m_handshakes = 0;
    int m_shutdowns = 0;
    bool Handshake(CSocketConn& conn) override {
        ++m_handshakes;
        char hello[5];
        return conn.RecvPlain(hello, 5) == 5 && std::string(hello, 5) == "HELLO";
    }
    long Read(CSocketConn& conn, char* buffer, size_t size) override {
        long n = conn.RecvPlain(buffer, size);
        for (long i = 0; i < n; ++i) {
            buffer[i] = static_cast<char>(~buffer[i]);
        }
        return n;
    }
    bool Write(CSocketConn& conn, const char* data, size_t length) override {
        std::string out(data, length);
        for (char& c : out) {
            c = static_cast<char>(~c);
        }
        return conn.SendAllPlain(out.data(), out.size());
    }
    void Shutdown(CSocketConn& conn) override {
        ++m_shutdowns;
        conn.SendAllPlain("BYE", 3);
    }
};

std::string Flip(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(~c);
    }
    return s;
}

TEST_F(SocketConnTest, TransportCarriesLinesAndSends) {
    Pair();
    auto owned = std::make_unique<CFlipTransport>();
    CFlipTransport* layer = owned.get();
    m_server.SetSslOn(true);
    m_server.SetTransport(std::move(owned));
    ASSERT_TRUE(m_client.Send("HELLO" + Flip("GET / HTTP/1.0\r\n\r\n")));
    char line[64];
    EXPECT_EQ(ReadLineCount(m_server, line, sizeof line), 14);
    EXPECT_STREQ(line, "GET / HTTP/1.0");
    EXPECT_EQ(ReadLineCount(m_server, line, sizeof line), 0);
    EXPECT_TRUE(m_server.Send("answer"));
    EXPECT_EQ(layer->m_handshakes, 1);
    m_server.Close();
    std::string got(9, '\0');
    ASSERT_TRUE(m_client.ReceiveExact(got.data(), got.size()));
    EXPECT_EQ(got, Flip("answer") + "BYE");
}

TEST_F(SocketConnTest, BytesHeldForTheCloseArriveWholeBeforeTheEnd) {
    for (const bool layered : {false, true}) {
        Pair();
        if (layered) {
            m_server.SetTransport(std::make_unique<CFlipTransport>());
            ASSERT_TRUE(m_client.Send("HELLO"));
        }
        // More than a segment: the full ones leave at once, the last with the FIN.
        std::string answer(200000, 'a');
        answer += "end";
        ASSERT_TRUE(m_server.SendBeforeClose(answer));
        m_server.Close();
        const std::string got = ReadAll(m_client);
        EXPECT_EQ(got, layered ? Flip(answer) + "BYE" : answer) << layered;
        m_client.Close();
    }
}

TEST_F(SocketConnTest, TransportCarriesAFileThroughItsReadLoop) {
    Pair();
    m_server.SetTransport(std::make_unique<CFlipTransport>());
    char path[] = "/tmp/sockconn-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string content(200000, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i % 251);
    }
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ASSERT_TRUE(m_client.Send("HELLO"));
    std::string head = "HTTP/1.0 200 OK\r\n\r\n";
    std::string got;
    std::thread reader([&] {
        char buffer[8192];
        long n;
        while (got.size() < head.size() + content.size() &&
               (n = m_client.Receive(buffer, sizeof buffer)) > 0) {
            got.append(buffer, static_cast<size_t>(n));
        }
    });
    EXPECT_TRUE(m_server.SendFile(head, fd, 0, content.size()));
    reader.join();
    close(fd);
    unlink(path);
    EXPECT_EQ(got, Flip(head + content));
}

TEST_F(SocketConnTest, AcceptingANewConnectionDropsTheOldLayer) {
    Pair();
    m_server.SetSslOn(true);
    m_server.SetTransport(std::make_unique<CFlipTransport>());
    CSocketConn second;
    ASSERT_TRUE(second.Connect("127.0.0.1", m_port));
    ASSERT_TRUE(m_listener.Accept(m_server));
    m_server.SetTimeout(2);
    ASSERT_TRUE(m_server.Send("plain"));
    EXPECT_TRUE(m_server.IsSslOn());
    std::string got(5, '\0');
    ASSERT_TRUE(second.ReceiveExact(got.data(), got.size()));
    EXPECT_EQ(got, "plain");
}

TEST_F(SocketConnTest, GracefulCloseLetsAStillSendingPeerReadTheAnswer) {
    Pair();
    std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nno";
    bool allSent = false;
    std::jthread sender([this, &allSent] {
        std::string chunk(65536, 'u');
        // Still sending an upload long after the server has answered.
        int sent = 0;
        while (sent < 512 && m_client.SendAllPlain(chunk.data(), chunk.size())) {
            ++sent;
        }
        allSent = sent == 512;
        ::shutdown(m_client.GetHandle(), SHUT_WR);
    });
    // The server reads a little, as a reader does before it refuses a request.
    char head[100];
    ASSERT_TRUE(m_server.ReceiveExact(head, sizeof head));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(m_server.Send(answer));
    m_server.CloseGracefully(3000ms);
    sender.join();
    EXPECT_TRUE(allSent) << "the client's upload was cut by a reset";
    std::string got;
    char buffer[4096];
    long n;
    while ((n = m_client.Receive(buffer, sizeof buffer)) > 0) {
        got.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(n, 0) << "the client saw a reset instead of the end of the answer";
    EXPECT_EQ(got, answer);
}

}  // namespace
