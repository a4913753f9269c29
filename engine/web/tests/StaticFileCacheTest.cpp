#include "engine/web/StaticFileCache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/testsupport/WholeFile.h"
#include "engine/web/HttpResponse.h"
#include "engine/web/tests/WireHarness.h"

namespace {

using wire_test::MaskDates;
using wire_test::WireTest;

// Sets the file's modification time to `seconds` after the epoch; a second write within the
// file system's clock tick could otherwise keep the time it had.
void SetModified(const std::string& path, time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

class StaticFileCacheTest : public WireTest {
protected:
    // What a client receives for the file, sent through `cache` (none: read from disk).
    std::string Get(const std::string& name, CStaticFileCache* cache) {
        return MaskDates(Exchange("GET / HTTP/1.0\r\n\r\n", [&](CSocketConn& conn) {
            CHttpResponse response(&conn);
            response.SetFileCache(cache);
            response.Send(Web(name));
        }));
    }
    std::string Web(const std::string& name) { return m_root + "/webroot/" + name; }

    // Files are held at once, not only after they have settled.
    CStaticFileCache m_cache{std::chrono::seconds(0)};
};

TEST_F(StaticFileCacheTest, HeldFileGoesOutAsTheFileItself) {
    WriteFile("webroot/a.html", "<p>held</p>");
    const std::string fromDisk = Get("a.html", nullptr);
    ASSERT_NE(fromDisk.find("\r\n\r\n<p>held</p>"), std::string::npos) << fromDisk;
    EXPECT_EQ(Get("a.html", &m_cache), fromDisk);  // read and kept
    EXPECT_EQ(m_cache.Count(), 1u);
    EXPECT_EQ(Get("a.html", &m_cache), fromDisk);  // from memory
}

struct EditCase {
    std::string name;
    // Changes the file after it was sent once; the body the next request must get.
    std::function<void(const std::string& path)> edit;
    std::string body;
};

void PrintTo(const EditCase& c, std::ostream* os) {
    *os << c.name;
}

class EditTest : public StaticFileCacheTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(EditTest, EditedFileIsReadAtTheNextRequest) {
    const EditCase& c = GetParam();
    WriteFile("webroot/e.html", "old text");
    SetModified(Web("e.html"), 1000000000);
    ASSERT_NE(Get("e.html", &m_cache).find("\r\n\r\nold text"), std::string::npos);
    ASSERT_EQ(m_cache.Count(), 1u);
    c.edit(Web("e.html"));
    const std::string got = Get("e.html", &m_cache);
    EXPECT_EQ(got.substr(got.find("\r\n\r\n") + 4).find(c.body), 0u) << got;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditTest,
    ::testing::Values(EditCase{"SameSize",
                               [](const std::string& path) {
                                   ASSERT_TRUE(WriteFile(path, "new text"));
                                   SetModified(path, 1000000001);
                               },
                               "new text"},
                      EditCase{"Longer",
                               [](const std::string& path) {
                                   ASSERT_TRUE(WriteFile(path, "newer text"));
                                   SetModified(path, 1000000000);
                               },
                               "newer text"},
                      // An editor's save: another file of the same size and time renamed over it.
                      EditCase{"RenamedOver",
                               [](const std::string& path) {
                                   ASSERT_TRUE(WriteFile(path + ".new", "new text"));
                                   SetModified(path + ".new", 1000000000);
                                   std::filesystem::rename(path + ".new", path);
                               },
                               "new text"},
                      EditCase{"Removed",
                               [](const std::string& path) { std::filesystem::remove(path); },
                               "<HTML>"}),
    [](const ::testing::TestParamInfo<EditCase>& p) { return p.param.name; });

TEST_F(StaticFileCacheTest, KeepsOnlySmallSettledFiles) {
    WriteFile("webroot/big.bin", std::string(CStaticFileCache::kMaxFileSize + 1, 'b'));
    const std::string big = Get("big.bin", &m_cache);
    EXPECT_NE(big.find("Content-Length: " + std::to_string(CStaticFileCache::kMaxFileSize + 1)),
              std::string::npos);
    EXPECT_EQ(m_cache.Count(), 0u);

    // Just written: a same-size write in the same clock tick would go unseen.
    CStaticFileCache settling;
    WriteFile("webroot/new.html", "fresh");
    EXPECT_NE(Get("new.html", &settling).find("\r\n\r\nfresh"), std::string::npos);
    EXPECT_EQ(settling.Count(), 0u);
}

}  // namespace
