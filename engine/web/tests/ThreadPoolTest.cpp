// The pool's limit, reuse and stop, and the listener's start and accept loop, over real
// sockets.
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/SystemError.h"
#include "engine/settings/RootFolder.h"
#include "engine/web/ServerThread.h"
#include "engine/web/ThreadMessageQueue.h"
#include "engine/web/tests/ServingTestSupport.h"

namespace serving_test {
namespace {

// Waits (bounded) until `done` holds; the bound only keeps a broken build from hanging.
template <typename F>
bool Eventually(F done) {
    for (int i = 0; i < 3000; ++i) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

size_t CountEntries(const char* folder) {
    size_t count = 0;
    if (DIR* dir = opendir(folder)) {
        while (dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
    }
    return count;
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

class ThreadPoolTest : public ServingTest {
protected:
    // Serves from the process's own root, where the programs a page runs must lie, in a
    // folder of this test (removed at the end) holding wait.sh, which sleeps `seconds`.
    // Returns the folder's URL path.
    std::string ServeWithAWait(const char* seconds) {
        StopListener();
        m_pool = std::make_unique<CServerThreadPool>();
        m_pool->SetRootFolder(g_rootDir);
        StartListener();
        const std::string folder = "/threads-" + std::to_string(getpid());
        m_web = g_rootDir + "/webroot" + folder;
        std::filesystem::create_directories(m_web);
        std::ofstream(m_web + "/wait.sh") << "#!/bin/sh\nsleep " << seconds << "\n";
        std::filesystem::permissions(m_web + "/wait.sh", std::filesystem::perms::owner_all);
        return folder;
    }
    void TearDown() override {
        ServingTest::TearDown();
        if (!m_web.empty()) {
            std::filesystem::remove_all(m_web);
        }
    }
    void WriteServed(const std::string& name, const std::string& text) {
        std::ofstream(m_web + "/" + name) << text;
    }
    std::string m_web;
};

// A whole head with a body too large to wait for in the listener, so a server thread takes
// it, and a body that never comes, so it keeps it.
constexpr const char* kHeldRequest =
    "POST /slow.zrp?x=1 HTTP/1.0\r\nContent-Length: 1000000\r\n\r\n";

TEST_F(ThreadPoolTest, FiftyHeldConnectionsFillThePoolAndTheNextIsRefused) {
    WriteFile("a.txt", "served");
    auto held = OpenSending(CServerThreadPool::kMaxThreads, kHeldRequest);
    ASSERT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 50; }));
    EXPECT_EQ(m_pool->GetThreadCount(), 50u);

    CSocketConn refused;
    refused.SetTimeout(30);
    ASSERT_TRUE(refused.Connect("127.0.0.1", m_port));
    refused.Send("GET /a.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(ReadAll(refused), "");
    EXPECT_TRUE(Eventually([&] { return m_log->Has(CServerThreadPool::kDenied); }));

    // The held clients give up: their threads answer nothing and become idle.
    for (auto& conn : held) {
        conn->Close();
    }
    ASSERT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 0; }));
    EXPECT_EQ(BodyOf(Get("/a.txt")), "served");
    EXPECT_EQ(m_pool->GetThreadCount(), 50u) << "idle threads are reused, none is added";
}

TEST_F(ThreadPoolTest, ClientsThatKeepTheirSocketAfterTheAnswerHoldNoThread) {
    WriteFile("a.txt", "served");
    auto readers = OpenSending(CServerThreadPool::kMaxThreads, "GET /a.txt HTTP/1.0\r\n\r\n");
    // Each reads its whole answer and keeps its end of the connection open.
    for (auto& conn : readers) {
        ASSERT_EQ(BodyOf(ReadAll(*conn)), "served");
    }
    EXPECT_EQ(BodyOf(Get("/a.txt")), "served") << "the next connection finds an idle thread";
    EXPECT_FALSE(m_log->Has(CServerThreadPool::kDenied));
}

TEST_F(ThreadPoolTest, IdleThreadsAreReusedInListOrder) {
    WriteFile("a.txt", "served");
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(BodyOf(Get("/a.txt")), "served");
        ASSERT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 0; }));
    }
    EXPECT_EQ(m_pool->GetThreadCount(), 1u);

    // Two held connections make two threads; afterwards the first serves again.
    CSocketConn a, b;
    for (CSocketConn* conn : {&a, &b}) {
        conn->SetTimeout(30);
        ASSERT_TRUE(conn->Connect("127.0.0.1", m_port));
        conn->Send(kHeldRequest);
    }
    ASSERT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 2; }));
    std::string listing = m_pool->ListConnections(nullptr);
    EXPECT_NE(listing.find("127.0.0.1*"), std::string::npos) << listing;
    EXPECT_NE(listing.find("watermark*2\r\n\r\n"), std::string::npos) << listing;
    a.Close();
    b.Close();
    ASSERT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 0; }));
    EXPECT_EQ(BodyOf(Get("/a.txt")), "served");
    EXPECT_EQ(m_pool->GetThreadCount(), 2u);
}

TEST_F(ThreadPoolTest, ConsoleSeesAndDropsARunningRequest) {
    CSocketConn slow;
    slow.SetTimeout(30);
    ASSERT_TRUE(slow.Connect("127.0.0.1", m_port));
    slow.Send(kHeldRequest);
    ASSERT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 1; }));
    std::string listing = m_pool->ListConnections(nullptr);
    // "client*thread id*assigned*current request" - the request text comes once the head
    // is read, so only the leading fields are known here.
    ASSERT_EQ(listing.rfind("127.0.0.1*", 0), 0u) << listing;
    long id = std::stol(listing.substr(std::strlen("127.0.0.1*")));
    EXPECT_GT(id, 0);
    EXPECT_EQ(m_pool->ListConnections(id), "watermark*1\r\n\r\n") << "the asker is left out";
    m_pool->DisconnectConnection(id + 1000000);  // no such thread: nothing happens
    EXPECT_EQ(m_pool->GetBusyCount(), 1u);
    m_pool->DisconnectConnection(id);
    EXPECT_EQ(ReadAll(slow), "");
    EXPECT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 0; }));
}

TEST_F(ThreadPoolTest, DisconnectEndsALoopingPageWhileOthersAreServed) {
    g_settings.DbAccessSerialize = false;
    WriteFile("spin.zrp", "<!--{ while (1) set Local.i = 1; endwhile }-->");
    WriteFile("p.zrp", "page --{ 6 * 7; }--");
    CSocketConn spinner;
    spinner.SetTimeout(30);
    ASSERT_TRUE(spinner.Connect("127.0.0.1", m_port));
    spinner.Send("GET /spin.zrp HTTP/1.0\r\n\r\n");
    std::string listing;
    ASSERT_TRUE(Eventually([&] {
        listing = m_pool->ListConnections(nullptr);
        return listing.find("/spin.zrp (http)") != std::string::npos;
    }));
    EXPECT_NE(Get("/p.zrp").find("page 42"), std::string::npos) << "served beside the loop";

    const long id = std::stol(listing.substr(std::strlen("127.0.0.1*")));
    const auto start = std::chrono::steady_clock::now();
    m_pool->DisconnectConnection(id);
    ASSERT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 0; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(ReadAll(spinner), "") << "a stopped page sends nothing";
    const size_t threads = m_pool->GetThreadCount();
    EXPECT_NE(Get("/p.zrp").find("page 42"), std::string::npos);
    EXPECT_EQ(m_pool->GetThreadCount(), threads) << "the stopped page's thread serves again";
    g_settings.DbAccessSerialize = true;
}

TEST_F(ThreadPoolTest, APageWhoseClientLeftStopsAtItsNextWrite) {
    WriteFile("writer.zrp", "<!--{ while (1) Response.write('x'); endwhile }-->");
    CSocketConn client;
    client.SetTimeout(30);
    ASSERT_TRUE(client.Connect("127.0.0.1", m_port));
    client.Send("GET /writer.zrp HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(Eventually([&] {
        return m_pool->ListConnections(nullptr).find("/writer.zrp (http)") != std::string::npos;
    }));
    client.Close();
    EXPECT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 0; }));
}

// Half-closing after the request is how some HTTP/1.0 clients say they are done sending; they
// still read the answer.
TEST_F(ThreadPoolTest, AClientThatHalfClosesAfterItsRequestGetsItsPage) {
    WriteFile("half.zrp", "<!--{ Response.write('answered'); }-->");
    CSocketConn client;
    client.SetTimeout(30);
    ASSERT_TRUE(client.Connect("127.0.0.1", m_port));
    ASSERT_TRUE(client.Send("GET /half.zrp HTTP/1.0\r\n\r\n"));
    ASSERT_EQ(::shutdown(client.GetHandle(), SHUT_WR), 0);
    EXPECT_EQ(BodyOf(ReadAll(client)), "answered");
}

TEST_F(ThreadPoolTest, HalfClosedClientsGetTheWholeAnswerOfASlowPage) {
    const std::string folder = ServeWithAWait("1.5");
    g_settings.LogHttp = true;
    struct Case {
        const char* page;
        const char* text;
        const char* body;
    } cases[] = {
        {"quiet.zrp", "<!--{ file w('wait.sh'); }--><!--{ set Local.r = w.run('', '20'); }-->done",
         "done"},
        {"chatty.zrp",
         "<!--{ file w('wait.sh'); }-->a<!--{ set Local.r = w.run('', '20'); }-->b<!--{ set "
         "Local.r = w.run('', '20'); }-->c",
         "abc"},
    };
    for (const Case& c : cases) {
        WriteServed(c.page, c.text);
        const std::string url = folder + "/" + c.page;
        CSocketConn client;
        client.SetTimeout(30);
        ASSERT_TRUE(client.Connect("127.0.0.1", m_port));
        ASSERT_TRUE(client.Send("GET " + url + " HTTP/1.0\r\n\r\n"));
        ASSERT_EQ(::shutdown(client.GetHandle(), SHUT_WR), 0);
        const std::string answer = ReadAll(client);
        EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << c.page << ": " << answer;
        EXPECT_EQ(BodyOf(answer), c.body) << c.page;
        EXPECT_TRUE(Eventually([&] {
            return m_log->Has(" " + url + " [") && m_log->Has("] sent.");
        })) << c.page;
        EXPECT_FALSE(m_log->Has("] not sent.")) << c.page;
    }
    g_settings.LogHttp = false;
}

TEST_F(ThreadPoolTest, APageThatNeverWritesIsStoppedSoonAfterItsClientGoes) {
    WriteFile("spin.zrp", "<!--{ while (1) set Local.i = 1; endwhile }-->");
    enum class Leave { kClose, kReset, kHalfClose };
    for (Leave leave : {Leave::kClose, Leave::kReset, Leave::kHalfClose}) {
        SCOPED_TRACE(static_cast<int>(leave));
        CSocketConn client;
        client.SetTimeout(30);
        ASSERT_TRUE(client.Connect("127.0.0.1", m_port));
        client.Send("GET /spin.zrp HTTP/1.0\r\n\r\n");
        std::string listing;
        ASSERT_TRUE(Eventually([&] {
            listing = m_pool->ListConnections(nullptr);
            return listing.find("/spin.zrp (http)") != std::string::npos;
        }));
        const auto start = std::chrono::steady_clock::now();
        if (leave == Leave::kHalfClose) {
            ASSERT_EQ(::shutdown(client.GetHandle(), SHUT_WR), 0);
            // Still there: its page runs on until it is ended on purpose.
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
            EXPECT_EQ(m_pool->GetBusyCount(), 1u);
            m_pool->DisconnectConnection(std::stol(listing.substr(std::strlen("127.0.0.1*"))));
        } else {
            if (leave == Leave::kReset) {
                const linger now{1, 0};
                ASSERT_EQ(setsockopt(client.GetHandle(), SOL_SOCKET, SO_LINGER, &now, sizeof now),
                          0);
            }
            ASSERT_EQ(::close(client.Detach()), 0);
        }
        ASSERT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 0; }));
        if (leave != Leave::kHalfClose) {
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        }
    }
}

TEST_F(ThreadPoolTest, FiftyLoopingPagesStopWithinOneDeadline) {
    WriteFile("spin.zrp", "<!--{ while (1) set Local.i = 1; endwhile }-->");
    auto spinners = OpenSending(CServerThreadPool::kMaxThreads, "GET /spin.zrp HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(
        Eventually([&] { return m_pool->GetBusyCount() == CServerThreadPool::kMaxThreads; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_pool->StopAll(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(m_pool->GetThreadCount(), 0u);
}

TEST_F(ThreadPoolTest, ListenerOnATakenPortNeverStarts) {
    auto second = CListenerThread::Create(m_pool.get());
    second->m_strAddress = "127.0.0.1";
    second->m_nPort = m_port;
    ASSERT_TRUE(second->Start());
    EXPECT_FALSE(second->WaitStarted(5, std::chrono::milliseconds(100)));
    EXPECT_TRUE(second->WaitForEnd(std::chrono::seconds(30)));
    EXPECT_FALSE(second->m_bStarted.load());
    EXPECT_TRUE(m_log->Has("Web server failed to start."));
}

TEST_F(ThreadPoolTest, StopAllSetsAsideAPageThatDoesNotEnd) {
    // A page asked to stop ends at its next statement; one waiting for a program cannot.
    const std::string folder = ServeWithAWait("2");
    WriteServed("spin.zrp", "<!--{ file w('wait.sh'); }-->--{ w.run('', '20'); }--");
    WriteServed("a.txt", "served");
    EXPECT_EQ(BodyOf(Get(folder + "/a.txt")), "served");
    CSocketConn spinner;
    spinner.SetTimeout(30);
    ASSERT_TRUE(spinner.Connect("127.0.0.1", m_port));
    spinner.Send("GET " + folder + "/spin.zrp HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 1; }));
    // Let the page get into its loop.
    ASSERT_TRUE(Eventually([&] {
        return m_pool->ListConnections(nullptr).find("/spin.zrp (http)") != std::string::npos;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    m_pool->SetStopWait(std::chrono::milliseconds(300));
    EXPECT_EQ(m_pool->StopAll(), -1);
    EXPECT_TRUE(
        m_log->Has("Failed to wait for server thread to exit. Make sure your ODBC driver meets the "
                   "requirement described in zrs.doc."));
    EXPECT_TRUE(m_log->Has("hanged before offset")) << "where the page stands is logged";
    EXPECT_EQ(m_pool->GetThreadCount(), 0u);
    // Asked to stop, the page ends at its next statement and the thread is reaped.
    EXPECT_TRUE(Eventually([&] { return m_pool->GetAbandonedCount() == 0; }));
    // The pool starts afresh for the next connection.
    EXPECT_EQ(BodyOf(Get(folder + "/a.txt")), "served");
    EXPECT_EQ(m_pool->StopAll(), 0);
}

TEST_F(ThreadPoolTest, NothingGrowsOverTenThousandRequests) {
    WriteFile("a.txt", "steady");
    WriteFile("p.zrp", "page --{ 6 * 7; }--");
    auto serveSome = [&](int count) {
        for (int i = 0; i < count; ++i) {
            std::string answer = Get(i % 2 ? "/a.txt" : "/p.zrp");
            if (answer.find(i % 2 ? "steady" : "page 42") == std::string::npos) {
                return false;
            }
        }
        return true;
    };
    ASSERT_TRUE(serveSome(200));  // warm-up: threads, buffers and caches settle
    ASSERT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 0; }));
    size_t fds = CountEntries("/proc/self/fd");
    // A client may connect again before the last thread is idle, so the pool can grow to
    // its peak; every other thread of the process stays as it was.
    size_t others = CountEntries("/proc/self/task") - m_pool->GetThreadCount();
    long rss = ResidentKb();

    ASSERT_TRUE(serveSome(10000));
    ASSERT_TRUE(Eventually([&] { return m_pool->GetBusyCount() == 0; }));
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(CountEntries("/proc/self/task") - m_pool->GetThreadCount(), others);
    EXPECT_LE(m_pool->GetThreadCount(), CServerThreadPool::kMaxThreads);
    EXPECT_EQ(CountEntries((m_root + "/tmp").c_str()), 0u) << "output files are removed";
#if !defined(__SANITIZE_ADDRESS__)
    // The sanitizer's quarantine holds freed memory, so the resident size says nothing there.
    EXPECT_LT(ResidentKb() - rss, 8 * 1024);
#else
    (void)rss;
#endif
}

TEST_F(ThreadPoolTest, AcceptFailuresBackOffInsteadOfFloodingTheLog) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers probe memory through a pipe; with no descriptor left they report
    // objects they cannot read as broken.
    GTEST_SKIP() << "exhausts the descriptors the sanitizer runtime needs";
#endif
    WriteFile("a.txt", "served");
    // The clients' sockets exist before descriptors run out; the kernel completes their
    // connections in the backlog while accept cannot take them.
    std::vector<std::unique_ptr<CSocketConn>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<CSocketConn>());
        clients.back()->Attach(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = CountEntries("/proc/self/fd") - 1;  // the listing's own descriptor is gone
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(m_port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (auto& client : clients) {
        // The connection's socket is non-blocking: the handshake may still be under way.
        int r = connect(client->GetHandle(), reinterpret_cast<sockaddr*>(&server), sizeof server);
        EXPECT_TRUE(r == 0 || errno == EINPROGRESS) << SystemErrorText(errno);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    long failures = m_log->CountEqual("Listener failed to accept.\r\n");
    EXPECT_GE(failures, 1);
    EXPECT_LT(failures, 20) << "a spinning accept loop logs thousands";
    // Once descriptors are free again, the waiting clients are served.
    for (auto& client : clients) {
        client->SetTimeout(30);
        client->Send("GET /a.txt HTTP/1.0\r\n\r\n");
        EXPECT_EQ(BodyOf(ReadAll(*client)), "served");
    }
}

TEST(ThreadMessageQueue, DeliversInOrderAndRefusesAfterClose) {
    CThreadMessageQueue queue;
    EXPECT_TRUE(queue.Post(WM_SERVE_CONNECTION, 1, -1));
    EXPECT_TRUE(queue.Post(WM_SCHEDULER_TICK, 2, 0));
    std::thread reader([&] {
        CThreadMessage m;
        ASSERT_TRUE(queue.Get(m));
        EXPECT_EQ(m.m_id, 0x8001u);
        EXPECT_EQ(m.m_wParam, 1u);
        EXPECT_EQ(m.m_lParam, -1);
        ASSERT_TRUE(queue.Get(m));
        EXPECT_EQ(m.m_id, 0x8002u);
        ASSERT_TRUE(queue.Get(m));  // waits for the post below
        EXPECT_EQ(m.m_id, static_cast<unsigned>(WM_QUIT));
    });
    queue.Post(WM_QUIT);
    reader.join();
    CThreadMessage m;
    EXPECT_FALSE(queue.GetUntil(m, std::chrono::steady_clock::now()));
    queue.Close();
    EXPECT_FALSE(queue.Post(WM_QUIT));
    EXPECT_FALSE(queue.Get(m));
}

TEST(ThreadMessageQueue, SleepingReaderWakesForAPostTheCloseOrItsDeadline) {
    using Clock = std::chrono::steady_clock;
    CThreadMessageQueue queue;
    CThreadMessage m;
    EXPECT_FALSE(queue.GetUntil(m, Clock::now() + std::chrono::milliseconds(50)));

    std::thread reader([&] {
        CThreadMessage got;
        ASSERT_TRUE(queue.GetUntil(got, Clock::now() + std::chrono::seconds(60)));
        EXPECT_EQ(got.m_wParam, 7u);
        EXPECT_FALSE(queue.Get(got));  // woken by the close
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reader sleeps by now
    queue.Post(WM_SERVE_CONNECTION, 7);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.Close();
    reader.join();
}

}  // namespace
}  // namespace serving_test
