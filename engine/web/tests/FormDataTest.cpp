#include "engine/web/FormData.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/foundation/SspValue.h"
#include "engine/web/HttpRequest.h"
#include "engine/web/tests/ReadResultPrint.h"
#include "engine/web/tests/WireHarness.h"

namespace {

using namespace std::string_literals;
using wire_test::WireTest;

// Bytes a text reader would mangle: NUL, CR LF, a lone CR, something that looks like a
// boundary without the CR LF before it, and high bytes.
const std::string kFileBytes = "line1\r\nline2\0\0tail\r--XyZ\n\xff\xfe\r\n"s;

std::string Multipart(const std::string& boundary, const std::string& fileName) {
    return "--" + boundary + "\r\n" +
           "Content-Disposition: form-data; name=\"Title\"\r\n\r\n"
           "  first  \r\n--" +
           boundary + "\r\n" + "Content-Disposition: form-data; name=\"File1\"; filename=\"" +
           fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + kFileBytes +
           "\r\n--" + boundary + "\r\n" +
           "Content-Disposition: form-data; name=\"title\"\r\n\r\nsecond\r\n--" + boundary +
           "--\r\n";
}

TEST_F(WireTest, MultipartUploadIsCopiedByteForByte) {
    std::string body = Multipart("XyZ", "C:\\My Docs\\a b.txt");
    std::string raw =
        "POST /up.zrp HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
        "Content-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    CHttpRequest::EReadResult result = CHttpRequest::EReadResult::kNoConnection;
    bool parsed = false;
    CFormData::ECopyResult copied = CFormData::ECopyResult::kNoVariable;
    std::string fileName;
    std::string title;
    std::string sentName;
    CLongBinary data;
    CFormData::ECopyResult copyText = CFormData::ECopyResult::kNoVariable;
    Exchange(raw, [&](CSocketConn& conn) {
        CHttpRequest request(&conn);
        result = request.ReadRequest();
        CFormData& form = request.GetForm();
        EXPECT_TRUE(form.IsMultipart());
        parsed = form.Parse();
        copied = form.CopyFilePart("FILE1", fileName, data);
        request.GetField("title", &title);
        request.GetField("file1", &sentName);
        std::string ignored;
        copyText = form.CopyFilePart("title", ignored, data);
    });
    EXPECT_EQ(result, CHttpRequest::EReadResult::kOk);
    EXPECT_TRUE(parsed);
    EXPECT_EQ(copied, CFormData::ECopyResult::kOk);
    EXPECT_EQ(fileName, "a_b.txt");
    EXPECT_EQ(sentName, "C:\\My Docs\\a b.txt");
    EXPECT_EQ(title, "first\nsecond");
    EXPECT_EQ(copyText, CFormData::ECopyResult::kNotAFile);
    // The text field's failed copy leaves the upload's bytes alone.
    EXPECT_EQ(std::string(data.View()), kFileBytes);
}

TEST(FormDataTest, CopyFilePartResults) {
    CFormData form;
    form.SetMultipart(true);
    form.Body() = Multipart("b0", "x.bin");
    ASSERT_TRUE(form.Parse());
    CLongBinary data;
    std::string name;
    EXPECT_EQ(form.CopyFilePart("nothing", name, data), CFormData::ECopyResult::kNoVariable);
    EXPECT_EQ(form.CopyFilePart("title", name, data), CFormData::ECopyResult::kNotAFile);
    // A larger block is kept for the smaller upload.
    ASSERT_TRUE(data.Assign(std::string(4096, 'q').data(), 4096));
    EXPECT_EQ(form.CopyFilePart("file1", name, data), CFormData::ECopyResult::kOk);
    EXPECT_EQ(data.Capacity(), 4096u);
    EXPECT_EQ(std::string(data.View()), kFileBytes);
    EXPECT_TRUE(form.IsFile("File1"));
    EXPECT_FALSE(form.IsFile("title"));
}

TEST(FormDataTest, MultipartWithoutItsClosingDelimiterKeepsWhatCameBefore) {
    CFormData form;
    form.SetMultipart(true);
    form.Body() =
        "--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\none\r\n--B\r\n"
        "Content-Disposition: form-data; name=\"f\"; filename=\"f.txt\"\r\n\r\ncut off";
    EXPECT_FALSE(form.Parse());
    EXPECT_EQ(*form.GetValue("a"), "one");
    CLongBinary data;
    std::string name;
    EXPECT_EQ(form.CopyFilePart("f", name, data), CFormData::ECopyResult::kOk);
    EXPECT_EQ(std::string(data.View()), "cut off");
}

TEST(FormDataTest, MultipartOddShapesDoNotFail) {
    const std::string bodies[] = {
        "",
        "no line end at all",
        "--B\r\n",
        "--B\r\nContent-Disposition: form-data; name=\"a\"\r\n",  // no blank line after
        "--B\r\nContent-Disposition: form-data; name=\"e\"; filename=\"\"\r\n\r\n\r\n--B--",
    };
    for (const std::string& body : bodies) {
        CFormData form;
        form.SetMultipart(true);
        form.Body() = body;
        EXPECT_TRUE(form.Parse()) << body;
        EXPECT_FALSE(form.IsFile("e")) << body;
    }
}

TEST(FormDataTest, UploadFileNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\My Docs\\a b.txt", "a_b.txt"},
        {"/home/u/r e.pdf", "r_e.pdf"},
        {"D:x.doc", "x.doc"},
        {"plain.txt", "plain.txt"},
        {"C:\\dir\\", "_"},
        {"..", "_"},
        {"a/..", "_"},
        {"C:\\.", "_"},
        {"", "_"},
        {"x\\y/z.txt", "z.txt"},
        {"C:\\..\\/../etc/passwd", "passwd"},
    };
    for (const auto& [sent, stored] : cases) {
        EXPECT_EQ(CFormData::UploadFileName(sent), stored) << sent;
    }
}

TEST(FormDataTest, UrlEncodedRules) {
    struct Case {
        std::string text;
        std::string name;
        const char* value;  // nullptr: absent
    };
    const Case cases[] = {
        {"a=1&b=2", "b", "2"},
        {"a=1#x&b=2", "b", nullptr},
        {"a&b=2", "a&b", "2"},  // a name runs to the next '='
        {"x=%41%4a%2", "x", "AJ%2"},
        {"x=%zz", "x", "S"},  // any pair is taken: (90 - 55) * 17, cut to a byte
        {"Big=  v  ", "big", "v"},
        {"k=a+b%2Bc", "k", "a b+c"},
        {"=v", "", "v"},
        {"tail", "tail", ""},
    };
    for (const Case& c : cases) {
        CFormData form;
        form.ParseUrlEncoded(c.text);
        const std::string* value = form.GetValue(c.name);
        if (c.value == nullptr) {
            EXPECT_EQ(value, nullptr) << c.text;
        } else {
            ASSERT_NE(value, nullptr) << c.text;
            EXPECT_EQ(*value, c.value) << c.text;
        }
    }
}

}  // namespace
