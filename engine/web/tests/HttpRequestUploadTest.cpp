// Uploads of a multipart POST reaching a page's FileUpload declaration over a real socket.
#include <gtest/gtest.h>

#include <string>

#include "engine/web/tests/ServingTestSupport.h"

namespace serving_test {
namespace {

const std::string kBoundary = "XyZ";

std::string TextPart(const std::string& name, const std::string& value) {
    return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
           value + "\r\n";
}

std::string FilePart(const std::string& name, const std::string& fileName,
                     const std::string& data) {
    return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"; filename=\"" + fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
           data + "\r\n";
}

class HttpRequestUploadTest : public ServingTest {
protected:
    std::string Post(const std::string& url, const std::string& parts) {
        const std::string body = parts + "--" + kBoundary + "--\r\n";
        return Fetch("POST " + url +
                     " HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=" + kBoundary +
                     "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }
};

TEST_F(HttpRequestUploadTest, DeclaredUploadHoldsTheSentFile) {
    WriteFile("up.zrp",
              "<!--{ FileUpload f = Request.File1; }-->size=--{ f.size; }--|name=--{ f.name; }--|");
    // Bytes that look like line ends and a boundary stay part of the data.
    const std::string data("\x00\x01\r\n--XyQ\r\n\xff", 11);
    struct Case {
        const char* sentName;
        const char* shownName;
    } cases[] = {
        {"report.bin", "report.bin"},
        {"C:\\My Docs\\a b.txt", "a_b.txt"},
        {"/home/me/notes.txt", "notes.txt"},
        {"D:x.dat", "x.dat"},
    };
    for (const Case& c : cases) {
        const std::string answer =
            Post("/up.zrp", TextPart("title", "Hello") + FilePart("file1", c.sentName, data));
        EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
        const std::string body = BodyOf(answer);
        EXPECT_NE(body.find("size=" + std::to_string(data.size()) + "|"), std::string::npos)
            << c.sentName << ": " << body;
        EXPECT_NE(body.find(std::string("|name=") + c.shownName + "|"), std::string::npos)
            << c.sentName << ": " << body;
    }
}

TEST_F(HttpRequestUploadTest, UploadContentIsTheSentBytes) {
    WriteFile("echo.zrp", "<!--{ FileUpload f = Request.doc; }-->[--{ f.content; }--]");
    const std::string data = "line one\r\nline two\r\n";
    const std::string body = BodyOf(Post("/echo.zrp", FilePart("doc", "d.txt", data)));
    EXPECT_NE(body.find("[" + data + "]"), std::string::npos) << body;
}

TEST_F(HttpRequestUploadTest, FieldThatIsNoUploadFailsThePage) {
    struct Case {
        const char* field;
        const char* message;
    } cases[] = {
        {"title", "Failed to get the uploaded file: title"},
        {"nothere", "File field is not found in the data the browser sent: nothere"},
    };
    // The error page quotes the source line, so the page's own output is made, not written.
    for (const Case& c : cases) {
        WriteFile("bad.zrp", std::string("<!--{ FileUpload f = Request.") + c.field +
                                 "; }-->--{ 'PAGE' || '-RAN'; }--");
        const std::string answer =
            Post("/bad.zrp", TextPart("title", "Hello") + FilePart("file1", "a.bin", "abc"));
        EXPECT_NE(answer.find(c.message), std::string::npos) << c.field << ": " << answer;
        EXPECT_EQ(BodyOf(answer).find("PAGE-RAN"), std::string::npos) << c.field << ": " << answer;
    }
}

}  // namespace
}  // namespace serving_test
