#include "engine/web/HeadScanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct ScanCase {
    const char* name;
    std::string bytes;
    bool complete;
    size_t headSize;  // when complete
    int64_t postBody;
};

TEST(HeadScannerTest, FindsTheEndOfAHeadByTheReadersLineRules) {
    const std::string get = "GET /a HTTP/1.0\r\nHost: x\r\n\r\n";
    const std::string post = "post /f.zrp HTTP/1.0\r\nContent-length: 12\r\n\r\n";
    const std::vector<ScanCase> cases = {
        {"headers then an empty line", get + "body", true, get.size(), -1},
        {"no empty line yet", "GET /a HTTP/1.0\r\nHost: x\r\n", false, 0, -1},
        {"an empty request line ends at once", "\r\nrest", true, 2, -1},
        {"a console command needs no header block", "Brackmoor.Disconnect 12\r\n", true, 25, -1},
        {"the command mark counts only in the first word", "GET /Brackmoor.x HTTP/1.0\r\n", false,
         0, -1},
        {"a lone LF is no line end", "GET / HTTP/1.0\r\n\n\r\n", false, 0, -1},
        {"CR with another byte is dropped with it", "GET / HTTP/1.0\r\n\rx\r\n", true, 20, -1},
        {"a POST names its body length", post + "a=1", true, post.size(), 12},
        {"a GET's length is no body to wait for", "GET / HTTP/1.0\r\nContent-Length: 5\r\n\r\n",
         true, 37, -1},
        {"a length that is not digits is none", "POST / HTTP/1.0\r\nContent-Length: 5x\r\n\r\n",
         true, 39, -1},
        {"the last length counts",
         "POST / HTTP/1.0\r\nContent-Length: 5\r\nContent-Length: 7; x\r\n\r\n", true, 60, 7},
        // The reader refuses a head with a NUL in any line and reads no body for it.
        {"a NUL in a header leaves no body to wait for",
         "POST / HTTP/1.0\r\nContent-Length: 5\r\nHost: re\0al\r\n\r\n"s, true, 51, -1},
        {"a NUL in the request line leaves no body to wait for",
         "POST /\0 HTTP/1.0\r\nContent-Length: 5\r\n\r\n"s, true, 39, -1},
        {"a NUL the line rules drop after a CR is no NUL of the head",
         "POST / HTTP/1.0\r\nContent-Length: 5\r\nX: a\r\0b\r\n\r\n"s, true, 47, 5},
        {"a request line longer than the reader's line ends the head",
         std::string(5000, 'a') + "\r\nHost: x", true, 5002, -1},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Whole, and byte by byte as a slow client sends it.
        CHeadScanner whole;
        EXPECT_EQ(whole.Feed(c.bytes), c.complete);
        CHeadScanner split;
        for (char byte : c.bytes) {
            split.Feed(std::string_view(&byte, 1));
        }
        EXPECT_EQ(split.IsComplete(), c.complete);
        if (c.complete) {
            EXPECT_EQ(whole.HeadSize(), c.headSize);
            EXPECT_EQ(split.HeadSize(), c.headSize);
            EXPECT_EQ(whole.PostBodyLength(), c.postBody);
        }
    }
}

}  // namespace
