// Slow clients against the real listener: heads and small bodies that trickle in wait in the
// listener's loop, not in server threads, and are closed at the head deadline; a normal
// client is served meanwhile. Uploads at full speed are unaffected.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/web/tests/ServingTestSupport.h"

namespace serving_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <typename F>
bool Eventually(F done) {
    for (int i = 0; i < 3000 && !done(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

class SlowClientsTest : public ServingTest {
protected:
    static constexpr int kHeadSeconds = 4;

    void SetUp() override {
        ServingTest::SetUp();
        // The loop reads its settings when it starts.
        StopListener();
        g_settings.GeneralHeaderTimeout = kHeadSeconds;
        StartListener();
        WriteFile("a.txt", "served");
    }
    void TearDown() override {
        StopTrickle();
        ServingTest::TearDown();
        g_settings.GeneralHeaderTimeout = 10;
    }

    // Connects `count` clients that each send `start` at once, then one byte of `more`
    // every two seconds.
    void StartSlowClients(size_t count, const std::string& start, const std::string& more) {
        m_slow = OpenSending(count, start);
        m_trickle = std::thread([this, more] {
            for (size_t at = 0; at < more.size() && !m_stop; ++at) {
                for (int i = 0; i < 200 && !m_stop; ++i) {
                    std::this_thread::sleep_for(10ms);
                }
                for (auto& conn : m_slow) {
                    ::send(conn->GetHandle(), &more[at], 1, MSG_NOSIGNAL);
                }
            }
        });
    }
    void StopTrickle() {
        m_stop = true;
        if (m_trickle.joinable()) {
            m_trickle.join();
        }
    }

    // A normal client is served 100 times while the slow ones wait. Each answer comes well
    // within a slow client's byte interval (2 s): one that waited behind them could not. The
    // bound is loose because the suite runs many tests at once, under sanitizers too.
    void ExpectNormalClientServed() {
        for (int i = 0; i < 100; ++i) {
            const auto start = Clock::now();
            ASSERT_EQ(BodyOf(Get("/a.txt")), "served") << "request " << i;
            EXPECT_LT(Clock::now() - start, 1000ms) << "request " << i;
        }
        EXPECT_LE(m_pool->GetThreadCount(), 2u) << "the slow clients hold no server thread";
    }

    // Every slow client is closed without an answer at the head deadline.
    void ExpectSlowClientsClosedUnanswered() {
        for (auto& conn : m_slow) {
            EXPECT_EQ(ReadAll(*conn), "");
        }
        EXPECT_TRUE(Eventually([&] { return m_listener->GetPendingCount() == 0; }));
        auto lines = m_log->Lines();
        size_t timeouts = 0;
        for (const std::string& line : lines) {
            timeouts += line.find("Timeout receiving on socket") != std::string::npos ? 1 : 0;
        }
        EXPECT_GE(timeouts, 1u);
        EXPECT_LT(timeouts, m_slow.size() / 4) << "the time-outs are folded in the log";
    }

    std::vector<std::unique_ptr<CSocketConn>> m_slow;
    std::thread m_trickle;
    std::atomic<bool> m_stop{false};
};

TEST_F(SlowClientsTest, TricklingHeadsWaitInTheLoopUntilTheirDeadline) {
    StartSlowClients(200, "G", "ET /a.txt HTTP/1.0\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(Eventually([&] { return m_listener->GetPendingCount() == 200; }));
    ExpectNormalClientServed();
    ExpectSlowClientsClosedUnanswered();
    EXPECT_EQ(BodyOf(Get("/a.txt")), "served");
}

TEST_F(SlowClientsTest, TricklingPostBodiesWaitInTheLoopUntilTheirDeadline) {
    WriteFile("form.zrp", "a=--{ Request.a; }--");
    const std::string body = "a=" + std::string(998, 'x');
    StartSlowClients(50, "POST /form.zrp HTTP/1.0\r\nContent-Length: 1000\r\n\r\na", body);
    ASSERT_TRUE(Eventually([&] { return m_listener->GetPendingCount() == 50; }));
    ExpectNormalClientServed();
    ExpectSlowClientsClosedUnanswered();
}

TEST_F(SlowClientsTest, UploadsAtFullSpeedUpToTheLimitAreServed) {
    WriteFile("size.zrp", "size=--{ Request.FieldSize('a'); }--");
    for (size_t length : {size_t(100), size_t(200000), size_t(10 * 1048576)}) {
        const std::string body = "a=" + std::string(length - 2, 'x');
        const std::string answer = Fetch(
            "POST /size.zrp HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body);
        EXPECT_EQ(BodyOf(answer), "size=" + std::to_string(length - 2)) << length;
    }
}

TEST_F(SlowClientsTest, PastThePendingCapTheOldestWaitingIsClosed) {
    StopListener();
    g_settings.GeneralMaxPendingConnections = 3;
    StartListener();
    std::vector<std::unique_ptr<CSocketConn>> waiting;
    for (int i = 0; i < 4; ++i) {
        waiting.push_back(std::move(OpenSending(1, "GET /a.txt HTTP/1.0\r\n").at(0)));
        ASSERT_TRUE(Eventually([&] {
            return m_listener->GetPendingCount() == static_cast<size_t>(std::min(i + 1, 3));
        }));
    }
    g_settings.GeneralMaxPendingConnections = 4096;
    EXPECT_EQ(ReadAll(*waiting[0]), "") << "the oldest was closed for the newest";
    EXPECT_TRUE(m_log->Has("connections are already waiting for their request header."));
    for (size_t i = 1; i < waiting.size(); ++i) {
        ASSERT_TRUE(waiting[i]->Send("\r\n"));
        EXPECT_EQ(BodyOf(ReadAll(*waiting[i])), "served") << i;
    }
}

}  // namespace
}  // namespace serving_test
