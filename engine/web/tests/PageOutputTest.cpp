// Page output held in memory: the same bytes on the wire as output collected in a file,
// the file used only past the spill size or when asked for, and the thread's buffer reused.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/UniqueFd.h"
#include "engine/web/HttpRequest.h"
#include "engine/web/HttpResponse.h"
#include "engine/web/RequestDispatch.h"
#include "engine/web/tests/ServingTestSupport.h"
#include "engine/web/tests/WireHarness.h"

namespace {

using wire_test::MaskDates;
using wire_test::WireTest;

constexpr size_t kSpill = CHttpResponse::kSpillSize;

// Files created in a folder while it is watched.
class CreationWatch {
public:
    explicit CreationWatch(const std::string& folder)
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        EXPECT_GE(inotify_add_watch(m_fd.Get(), folder.c_str(), IN_CREATE), 0);
    }
    int Count() {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while ((n = read(m_fd.Get(), buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                count += (event->mask & IN_CREATE) != 0;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    }

private:
    CUniqueFd m_fd;
};

class PageOutputTest : public WireTest {
protected:
    // What a client receives from a response on `path`, collected in memory when `buffered`.
    std::string Answer(bool buffered, const std::function<void(CHttpResponse&)>& write) {
        return Exchange("GET / HTTP/1.0\r\n\r\n", [&](CSocketConn& conn) {
            CHttpResponse response(&conn);
            response.SetOutputFile(m_root + "/tmp/dyn9.html");
            if (buffered) {
                response.SetOutputBuffer(&m_buffer);
            }
            response.OpenOutput();
            write(response);
            response.Finish();
        });
    }

    // What a client receives for `url`, answered by a dispatch with the test's buffer.
    std::string Serve(const std::string& url) {
        return Exchange("GET " + url + " HTTP/1.0\r\n\r\n", [&](CSocketConn& conn) {
            CHttpRequest request(&conn);
            request.SetRootFolder(m_root);
            const CHttpRequest::EReadResult result = request.ReadRequest();
            CRequestDispatch dispatch(conn, 9, m_root);
            dispatch.SetOutputBuffer(&m_buffer);
            dispatch.HandleRequest(request, result);
        });
    }

    std::string OutputPath() const { return m_root + "/tmp/dyn9.html"; }

    std::string m_buffer;
};

TEST_F(PageOutputTest, MemoryAndFileGiveTheSameAnswerOnEachSideOfTheSpillSize) {
    const size_t sizes[] = {0, 3, kSpill - 1, kSpill, kSpill + 1, 3 * kSpill + 7};
    for (size_t size : sizes) {
        std::string body;
        for (size_t i = 0; i < size; ++i) {
            body += static_cast<char>('a' + i % 23);
        }
        bool buffered = false;
        // Written in pieces, so that the spill happens in the middle of a page.
        auto write = [&](CHttpResponse& r) {
            for (size_t at = 0; at < body.size(); at += 4099) {
                r.WriteText(std::string_view(body).substr(at, 4099));
            }
            EXPECT_EQ(std::filesystem::exists(OutputPath()), !buffered || size > kSpill) << size;
        };
        std::string fromFile = Answer(buffered, write);
        buffered = true;
        std::string fromMemory = Answer(buffered, write);
        EXPECT_EQ(MaskDates(fromMemory), MaskDates(fromFile)) << size;
        EXPECT_EQ(fromMemory.substr(fromMemory.find("\r\n\r\n") + 4), body) << size;
        EXPECT_NE(fromMemory.find("Content-Length: " + std::to_string(size) + "\r\n"),
                  std::string::npos)
            << size;
        EXPECT_FALSE(std::filesystem::exists(OutputPath())) << size;
    }
}

TEST_F(PageOutputTest, ReadAndClearSeeTheWholeOutputAcrossTheSpill) {
    const std::string start(kSpill - 1, 's');
    std::string got = Answer(true, [&](CHttpResponse& r) {
        r.WriteText(start);
        EXPECT_EQ(r.ReadOutput(), start);
        EXPECT_FALSE(std::filesystem::exists(OutputPath()));
        r.WriteText("xy");  // one byte past the spill size
        EXPECT_TRUE(std::filesystem::exists(OutputPath()));
        EXPECT_EQ(r.ReadOutput(), start + "xy");
        r.ClearOutput();
        EXPECT_EQ(r.ReadOutput(), "");
        r.WriteText("after");
        EXPECT_EQ(r.ReadOutput(), "after");
    });
    EXPECT_EQ(got.substr(got.find("\r\n\r\n") + 4), "after");

    got = Answer(true, [&](CHttpResponse& r) {
        r.WriteText(start);
        r.ClearOutput();
        EXPECT_EQ(r.ReadOutput(), "");
        // Cleared output starts again from nothing: this much more stays in memory.
        r.WriteText(start);
        EXPECT_FALSE(std::filesystem::exists(OutputPath()));
        EXPECT_EQ(r.ReadOutput(), start);
    });
    EXPECT_EQ(got.substr(got.find("\r\n\r\n") + 4), start);
}

TEST_F(PageOutputTest, OutputFileAskedForHoldsTheSameBytes) {
    auto write = [&](CHttpResponse& r) {
        r.WriteText("abc");
        r.WriteBinary("\0d", 2);
        const std::string& path = r.GetOutputFile();
        EXPECT_EQ(path, OutputPath());
        EXPECT_EQ(ReadFile(path), std::string("abc\0d", 5));
        r.WriteText("ef");
        EXPECT_EQ(ReadFile(path), std::string("abc\0def", 7));
        EXPECT_EQ(r.ReadOutput(), std::string("abc\0def", 7));
    };
    std::string fromFile = Answer(false, write);
    std::string fromMemory = Answer(true, write);
    EXPECT_EQ(MaskDates(fromMemory), MaskDates(fromFile));
    EXPECT_EQ(fromMemory.substr(fromMemory.find("\r\n\r\n") + 4), std::string("abc\0def", 7));
}

TEST_F(PageOutputTest, OrdinaryPagesReuseTheBufferAndMakeNoFile) {
    WriteFile("webroot/p.zrp", "page --{ 6 * 7; }-- done");
    const std::string literal(kSpill + 1000, 'x');
    WriteFile("webroot/big.zrp", literal + "--{ 6 * 7; }--");
    CreationWatch watch(m_root + "/tmp");
    std::string first = Serve("/p.zrp");
    EXPECT_EQ(first.substr(first.find("\r\n\r\n") + 4), "page 42 done");
    const char* data = m_buffer.data();
    const size_t capacity = m_buffer.capacity();
    for (int i = 0; i < 50; ++i) {
        std::string answer = Serve("/p.zrp");
        ASSERT_EQ(MaskDates(answer), MaskDates(first)) << i;
    }
    EXPECT_EQ(m_buffer.data(), data);
    EXPECT_EQ(m_buffer.capacity(), capacity);
    EXPECT_EQ(watch.Count(), 0) << "an ordinary page made a file";

    // A page past the spill size goes through its file, whole, and leaves none behind.
    std::string big = Serve("/big.zrp");
    EXPECT_TRUE(big.substr(big.find("\r\n\r\n") + 4) == literal + "42");
    EXPECT_EQ(watch.Count(), 1);
    EXPECT_TRUE(ListFolder(m_root + "/tmp").empty());
    EXPECT_LE(m_buffer.capacity(), 2 * kSpill);
}

// Files of this process may grow to `bytes` while it lives; writes past that fail (EFBIG)
// instead of killing the process.
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t bytes) {
        EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &m_saved), 0);
        m_oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~CFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldSignal);
    }
    CFileSizeLimit(const CFileSizeLimit&) = delete;
    CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_oldSignal)(int) = SIG_DFL;
};

TEST_F(PageOutputTest, AFailedSpillWriteNeverSendsAShortPageAsASuccess) {
    const size_t size = 2 * kSpill + 7;
    std::string body;
    for (size_t i = 0; i < size; ++i) {
        body += static_cast<char>('a' + i % 23);
    }
    struct Case {
        const char* name;
        bool buffered;
        rlim_t fileLimit;    // where the disk is full
        size_t memoryLimit;  // what memory may take instead
        bool whole;          // the whole page as a success, else the server's error
    } cases[] = {
        {"full while spilling the buffer", true, kSpill / 2, CHttpResponse::kMemoryLimit, true},
        {"full after the spill", true, kSpill + kSpill / 2, CHttpResponse::kMemoryLimit, true},
        {"full, no buffer of its own", false, kSpill / 2, CHttpResponse::kMemoryLimit, true},
        {"full and no memory for it", true, kSpill + kSpill / 2, kSpill + kSpill / 4, false},
        {"full at once, no memory", false, 100, kSpill, false},
    };
    for (const Case& c : cases) {
        const int writeFailures = m_log->Count("Failed to write output file.");
        const int losses = m_log->Count("could be kept neither on disk nor in memory");
        std::string got;
        {
            CFileSizeLimit limit(c.fileLimit);
            got = Answer(c.buffered, [&](CHttpResponse& r) {
                r.SetMemoryLimit(c.memoryLimit);
                for (size_t at = 0; at < body.size(); at += 4099) {
                    r.WriteText(std::string_view(body).substr(at, 4099));
                }
            });
        }
        EXPECT_GT(m_log->Count("Failed to write output file."), writeFailures) << c.name;
        EXPECT_FALSE(std::filesystem::exists(OutputPath())) << c.name;
        const std::string sent = got.substr(got.find("\r\n\r\n") + 4);
        if (c.whole) {
            EXPECT_EQ(got.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << c.name;
            EXPECT_TRUE(sent == body) << c.name << ": " << sent.size() << " bytes";
            EXPECT_NE(got.find("Content-Length: " + std::to_string(size) + "\r\n"),
                      std::string::npos)
                << c.name;
        } else {
            EXPECT_EQ(got.rfind("HTTP/1.0 500 Internal Server Error\r\n", 0), 0u)
                << c.name << ": " << got.substr(0, 200);
            EXPECT_NE(sent.find(g_msg.m_outputLost), std::string::npos) << c.name;
            EXPECT_EQ(m_log->Count("could be kept neither on disk nor in memory"), losses + 1)
                << c.name;
        }
    }
}

using PoolPageOutputTest = serving_test::ServingTest;

TEST_F(PoolPageOutputTest, ServerThreadsAnswerPagesWithoutAnOutputFile) {
    WriteFile("p.zrp", "page --{ 6 * 7; }--");
    std::filesystem::create_directories(m_root + "/tmp");
    CreationWatch watch(m_root + "/tmp");
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(serving_test::BodyOf(Get("/p.zrp")), "page 42") << i;
    }
    EXPECT_EQ(watch.Count(), 0);
}

}  // namespace
