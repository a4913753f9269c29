#include "engine/web/HttpResponse.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspDebugHooks.h"
#include "engine/script/SspInterpreter.h"
#include "engine/web/tests/WireHarness.h"

namespace {

using namespace std::string_literals;
using wire_test::MaskDates;
using wire_test::WireTest;

constexpr char kSource[] = "Response.member(args)";

void CallResponse(CHttpResponse& response, const std::string& member,
                  const std::vector<CSspValue>& args, CSspValue* result = nullptr) {
    CSspInterpreter interp;
    CSspCall call;
    call.m_strObject = "Response";
    call.m_strMember = member;
    call.m_pPos = kSource;
    call.m_bHasArgs = true;
    for (const CSspValue& arg : args) {
        call.AddArg(arg);
    }
    CSspValue ignored;
    response.CallMethod(interp, call, result != nullptr ? *result : ignored);
}

CSspValue Text(const std::string& text) {
    return CSspValue::FromText(text);
}

// The header line of the answer that begins with `name`, without its CR LF.
std::string HeaderLine(const std::string& answer, const std::string& name) {
    size_t start = answer.find("\r\n" + name);
    if (start == std::string::npos) {
        return std::string();
    }
    start += 2;
    return answer.substr(start, answer.find("\r\n", start) - start);
}

class ResponseTest : public WireTest {
protected:
    // The bytes a client receives when the server answers with `answer`.
    std::string Answer(const std::function<void(CHttpResponse&)>& answer) {
        return Exchange("GET / HTTP/1.0\r\n\r\n", [&](CSocketConn& conn) {
            CHttpResponse response(&conn);
            answer(response);
        });
    }
    std::string Web(const std::string& name) { return m_root + "/webroot/" + name; }
};

TEST_F(ResponseTest, StaticFileGoesOutWithExactHeaders) {
    WriteFile("webroot/a.txt", "hello");
    std::string got = Answer([&](CHttpResponse& r) { EXPECT_EQ(r.Send(Web("a.txt")), 1); });
    EXPECT_EQ(MaskDates(got),
              "HTTP/1.0 200 OK\r\nDate: <date>\r\nContent-Type: text/plain; "
              "charset=iso-8859-1\r\nContent-Length: 5\r\n\r\nhello");
}

TEST_F(ResponseTest, LargeBinaryFileArrivesWhole) {
    std::string content;
    for (int i = 0; i < 3000000; ++i) {
        content += static_cast<char>((i * 131) >> 3);
    }
    WriteFile("webroot/big.bin", content);
    std::string got = Answer([&](CHttpResponse& r) { r.Send(Web("big.bin")); });
    size_t bodyAt = got.find("\r\n\r\n");
    ASSERT_NE(bodyAt, std::string::npos);
    EXPECT_EQ(HeaderLine(got, "Content-Length"), "Content-Length: 3000000");
    EXPECT_TRUE(got.compare(bodyAt + 4, std::string::npos, content) == 0);
}

struct StaticCase {
    std::string name;
    std::function<void(WireTest&, const std::string& path)> make;
    int sent;
    std::string contentType;  // the header line, or a text the error page holds
    std::string body;         // exact body when sent
};

void PrintTo(const StaticCase& c, std::ostream* os) {
    *os << c.name;
}

class StaticSendTest : public ResponseTest, public ::testing::WithParamInterface<StaticCase> {};

TEST_P(StaticSendTest, SendsOnlyRegularFiles) {
    const StaticCase& c = GetParam();
    g_settings.m_mimeMap.Set("*", "application/x-star");
    std::string path = Web("item." + c.name);
    c.make(*this, path);
    int sent = -1;
    std::string got = Answer([&](CHttpResponse& r) { sent = r.Send(path); });
    EXPECT_EQ(sent, c.sent);
    if (c.sent == 1) {
        EXPECT_EQ(HeaderLine(got, "Content-Type"), c.contentType);
        EXPECT_EQ(got.substr(got.find("\r\n\r\n") + 4), c.body);
        return;
    }
    EXPECT_EQ(got.rfind("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: ", 0), 0u);
    EXPECT_NE(got.find("<BODY>" + path + " : Error [2]: No such file or directory"),
              std::string::npos)
        << got;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StaticSendTest,
    ::testing::Values(
        StaticCase{"png",
                   [](WireTest&, const std::string& p) {
                       std::FILE* out = std::fopen(p.c_str(), "wb");
                       std::fwrite("\x89PNG\0", 1, 5, out);
                       std::fclose(out);
                   },
                   1, "Content-Type: application/x-star", "\x89PNG\0"s},
        StaticCase{
            "txt",
            [](WireTest&, const std::string& p) { std::fclose(std::fopen(p.c_str(), "wb")); }, 1,
            "Content-Type: text/plain; charset=iso-8859-1", ""},
        StaticCase{"dir",
                   [](WireTest&, const std::string& p) { std::filesystem::create_directory(p); }, 0,
                   "", ""},
        StaticCase{"fifo", [](WireTest&, const std::string& p) { mkfifo(p.c_str(), 0600); }, 0, "",
                   ""},
        StaticCase{"missing", [](WireTest&, const std::string&) {}, 0, "", ""}),
    [](const ::testing::TestParamInfo<StaticCase>& p) { return p.param.name; });

TEST_F(ResponseTest, EmptyFileSaysContentLengthZero) {
    WriteFile("webroot/e.html", "");
    std::string got = Answer([&](CHttpResponse& r) { r.Send(Web("e.html")); });
    EXPECT_EQ(HeaderLine(got, "Content-Length"), "Content-Length: 0");
    EXPECT_EQ(got.substr(got.size() - 4), "\r\n\r\n");
}

TEST_F(ResponseTest, PathOfAMissingFileIsShownAsText) {
    std::string path = Web("<b>x.txt");
    std::string got = Answer([&](CHttpResponse& r) { r.Send(path); });
    EXPECT_EQ(got.find("<b>x"), std::string::npos);
    EXPECT_NE(got.find("&lt;b&gt;x.txt : Error [2]"), std::string::npos);
}

TEST(HttpResponseTest, ContentTypeByExtension) {
    g_settings.m_mimeMap.FillDefaults();
    g_settings.m_mimeMap.Set("*", "application/x-star");
    const std::pair<std::string, std::string> cases[] = {
        {"/w/report.PDF", "application/pdf"}, {"/w/page.HtMl", "text/html"},
        {"/w/x.png", "application/x-star"},   {"/w/noextension", "application/x-star"},
        {"/w.d/file", "application/x-star"},
    };
    for (const auto& [path, type] : cases) {
        EXPECT_EQ(CHttpResponse::GetContentType(path), type) << path;
    }
    g_settings.m_mimeMap.Remove("*");
    EXPECT_EQ(CHttpResponse::GetContentType("/w/x.png"), "application/octet-stream");
}

struct CharsetCase {
    std::string name;
    std::string setType;
    std::string setCharset;
    std::string encoding;
    std::string line;
};

void PrintTo(const CharsetCase& c, std::ostream* os) {
    *os << c.name;
}

class CharsetTest : public ResponseTest, public ::testing::WithParamInterface<CharsetCase> {};

TEST_P(CharsetTest, ContentTypeLine) {
    const CharsetCase& c = GetParam();
    g_settings.MimeTextEncoding = c.encoding;
    WriteFile("webroot/f.bin", "x");
    std::string got = Answer([&](CHttpResponse& r) {
        CallResponse(r, "ContentType", {Text(c.setType)});
        if (!c.setCharset.empty()) {
            CallResponse(r, "Charset", {Text(c.setCharset)});
        }
        r.Send(Web("f.bin"));
    });
    EXPECT_EQ(HeaderLine(got, "Content-Type"), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CharsetTest,
    ::testing::Values(CharsetCase{"text_gets_encoding", "text/html", "", "iso-8859-1",
                                  "Content-Type: text/html; charset=iso-8859-1"},
                      CharsetCase{"text_prefix_any_case", "TEXT/css", "", "utf-8",
                                  "Content-Type: TEXT/css; charset=utf-8"},
                      CharsetCase{"image_never_gets_encoding", "image/gif", "", "iso-8859-1",
                                  "Content-Type: image/gif"},
                      CharsetCase{"page_charset_for_any_type", "image/gif", "koi8-r", "iso-8859-1",
                                  "Content-Type: image/gif; charset=koi8-r"},
                      CharsetCase{"no_encoding_set", "text/html", "", "",
                                  "Content-Type: text/html"},
                      CharsetCase{"line_breaks_dropped", "text/html\r\nX-Evil: 1", "a\r\nb", "",
                                  "Content-Type: text/htmlX-Evil: 1; charset=ab"}),
    [](const ::testing::TestParamInfo<CharsetCase>& p) { return p.param.name; });

TEST_F(ResponseTest, HeaderOrderCookiesAndAddedLines) {
    WriteFile("webroot/p.html", "<p>");
    std::string got = Answer([&](CHttpResponse& r) {
        CallResponse(r, "Expires", {Text("0")});
        CallResponse(r, "setCookie", {Text("n"), Text("a b;c")});
        CallResponse(r, "setCookie", {Text("e"), Text(""), Text("  "), Text("")});
        CallResponse(r, "setCookie", {Text("p\r\n"), Text("1\r\n"), Text("/\r\n"), Text("soon")});
        CallResponse(r, "AddHeader", {Text("X-A: 1")});
        CallResponse(r, "AddHeader", {Text("")});
        CallResponse(r, "AddHeader", {Text("X-B: 2")});
        r.Send(Web("p.html"));
    });
    EXPECT_EQ(MaskDates(got),
              "HTTP/1.0 200 OK\r\nDate: <date>\r\nExpires: <date>\r\n"
              "Set-Cookie: n=a+b%3bc\r\nSet-Cookie: e=\r\n"
              "Set-Cookie: p=1%0d%0a; path=/; expires=soon\r\n"
              "X-A: 1\r\nX-B: 2\r\n"
              "Content-Type: text/html; charset=iso-8859-1\r\nContent-Length: 3\r\n\r\n<p>");
    EXPECT_EQ(HeaderLine(got, "Expires").substr(9), HeaderLine(got, "Date").substr(6));
}

// A header text with a line break, or a cookie field with a ';', is a script error and none
// of it goes out: a page cannot add header lines or cookie attributes from request input.
TEST_F(ResponseTest, HeaderAndCookieInjectionIsRefused) {
    WriteFile("webroot/p.html", "<p>");
    const char* lineBreak = "Line break (CR or LF) not allowed in the parameter of AddHeader.";
    const char* semicolon = "Semicolon not allowed in the name, path or expires of setCookie.";
    struct Case {
        const char* member;
        std::vector<CSspValue> args;
        const char* error;
    };
    const Case cases[] = {
        {"AddHeader", {Text("X-A: 1\r\nSet-Cookie: evil=1")}, lineBreak},
        {"AddHeader", {Text("X-A: 1\rSet-Cookie: evil=1")}, lineBreak},
        {"AddHeader", {Text("X-A: 1\nSet-Cookie: evil=1")}, lineBreak},
        {"AddHeader", {Text("\r\n")}, lineBreak},
        {"setCookie", {Text("evil;Domain=x"), Text("1")}, semicolon},
        {"setCookie", {Text("evil"), Text("1"), Text("/; Domain=x")}, semicolon},
        {"setCookie", {Text("evil"), Text("1"), Text("/"), Text("soon; Domain=x")}, semicolon},
    };
    for (const Case& c : cases) {
        std::string message = "(no error)";
        std::string got = Answer([&](CHttpResponse& r) {
            try {
                CallResponse(r, c.member, c.args);
            } catch (const CSspException& e) {
                message = e.Message();
                EXPECT_EQ(e.Position(), kSource);
            }
            r.Send(Web("p.html"));
        });
        EXPECT_EQ(message, c.error) << c.args[0].GetText();
        EXPECT_EQ(got.find("X-A"), std::string::npos) << got;
        EXPECT_EQ(got.find("evil"), std::string::npos) << got;
        EXPECT_EQ(got.find("Domain"), std::string::npos) << got;
        EXPECT_EQ(HeaderLine(got, "Content-Length"), "Content-Length: 3") << got;
    }
}

// Seconds since the epoch of an HTTP date.
int64_t ParseHttpDate(const std::string& text) {
    std::tm tm{};
    EXPECT_NE(strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm), nullptr) << text;
    return static_cast<int64_t>(timegm(&tm));
}

TEST_F(ResponseTest, ExpiresMinutes) {
    WriteFile("webroot/x.html", "x");
    const std::pair<const char*, int64_t> cases[] = {{"-1", 0}, {"90", 5400}, {"1441", 86460}};
    for (const auto& [minutes, seconds] : cases) {
        std::string got = Answer([&](CHttpResponse& r) {
            CallResponse(r, "Expires", {Text(minutes)});
            r.Send(Web("x.html"));
        });
        int64_t date = ParseHttpDate(HeaderLine(got, "Date").substr(6));
        int64_t expires = ParseHttpDate(HeaderLine(got, "Expires").substr(9));
        EXPECT_EQ(expires - date, seconds) << minutes;
    }
    for (const char* minutes : {"", "-2", "-100"}) {
        std::string got = Answer([&](CHttpResponse& r) {
            if (*minutes != '\0') {
                CallResponse(r, "Expires", {Text(minutes)});
            }
            r.Send(Web("x.html"));
        });
        EXPECT_EQ(HeaderLine(got, "Expires"), "") << minutes;
        EXPECT_NE(HeaderLine(got, "Date"), "") << minutes;
    }
}

TEST_F(ResponseTest, Redirects) {
    const std::pair<std::function<void(CHttpResponse&)>, std::string> cases[] = {
        {[](CHttpResponse& r) { CallResponse(r, "redirect", {Text("/x")}); },
         "HTTP/1.0 302 Moved Temporarily\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n"},
        {[](CHttpResponse& r) {
             r.AddCookie("sspSessionID", "7 7");
             r.Redirect("/help/", true);
         },
         "HTTP/1.0 301\r\nLocation: /help/\r\nSet-Cookie: sspSessionID=7+7\r\n"
         "Content-Length: 0\r\n\r\n"},
        {[](CHttpResponse& r) { r.Redirect("/a\r\nSet-Cookie: x=1\n", false); },
         "HTTP/1.0 302 Moved Temporarily\r\nLocation: /a%0d%0aSet-Cookie: x=1%0a\r\n"
         "Content-Length: 0\r\n\r\n"},
    };
    for (const auto& [answer, expected] : cases) {
        EXPECT_EQ(Answer(answer), expected);
    }
}

TEST_F(ResponseTest, HtmlErrorPage) {
    std::string got = Answer([](CHttpResponse& r) { r.SendHtmlError("Bad <b>thing</b>"); });
    std::string body =
        "<HTML>\r\n<HEAD><TITLE>Error</TITLE></HEAD>\r\n<BODY><center>\r\n<table "
        "width=\"80%\">\r\n  <tr><th bgcolor=\"#FF0000\"><font color=black>\r\n    Error\r\n  "
        "</font></th></tr>\r\n  <tr><td bgcolor=white><font color=black>\r\n    Bad "
        "<b>thing</b>\r\n  </font></td></tr>\r\n  <tr bgcolor=\"#6699cc\"><td "
        "align=center>\r\n    Please click browser's back button to go back.\r\n  "
        "</td></tr>\r\n</table>\r\n</center></BODY>\r\n</HTML>\r\n";
    EXPECT_EQ(got, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body);
}

TEST_F(ResponseTest, OutputFileIsCollectedSentAndRemoved) {
    std::string path = m_root + "/tmp/dyn1.html";
    std::string nothing = Answer([&](CHttpResponse& r) {
        r.SetOutputFile(path);
        r.Finish();
    });
    EXPECT_EQ(nothing, "");
    std::string got = Answer([&](CHttpResponse& r) {
        r.SetOutputFile(path);
        r.WriteText("ab");
        r.WriteBinary("\0c", 2);
        EXPECT_EQ(r.ReadOutput(), "ab\0c"s);
        r.ClearOutput();
        EXPECT_EQ(r.ReadOutput(), "");
        CallResponse(r, "write", {Text("xyz")});
        CSspValue content;
        CallResponse(r, "content", {}, &content);
        EXPECT_EQ(content.GetText(), "xyz");
        r.Finish();
        EXPECT_EQ(r.ReadOutput(), "");
        r.WriteText("after close");
        EXPECT_TRUE(std::filesystem::exists(path));
    });
    EXPECT_EQ(got.substr(got.find("\r\n\r\n") + 4), "xyz");
    EXPECT_EQ(HeaderLine(got, "Content-Type"), "Content-Type: text/html; charset=iso-8859-1");
    EXPECT_FALSE(std::filesystem::exists(path));
}

// A debugger that only keeps the traffic it is shown.
class CEchoRecorder : public CSspDebugHooks {
public:
    void AttachInterpreter(CSspInterpreter&) override {}
    void DetachInterpreter(CSspInterpreter&) override {}
    bool BeforeStatement(CSspInterpreter&) override { return false; }
    bool BeforeLiteralText(CSspInterpreter&) override { return false; }
    void EchoHttpText(std::string_view text) override { m_echoed.emplace_back(text); }

    std::vector<std::string> m_echoed;
};

TEST_F(ResponseTest, AnInstalledDebuggerSeesWritesAndTheHeader) {
    CEchoRecorder recorder;
    CSspDebugHooks::Install(&recorder);
    std::string path = m_root + "/tmp/dyn3.html";
    std::string got = Answer([&](CHttpResponse& r) {
        r.SetOutputFile(path);
        r.WriteText("ab");
        r.WriteBinary("\0cde", 4);
        r.Finish();
        r.WriteText("after close");
    });
    CSspDebugHooks::Install(nullptr);
    ASSERT_EQ(recorder.m_echoed.size(), 3u);
    EXPECT_EQ(recorder.m_echoed[0], "ab");
    EXPECT_EQ(recorder.m_echoed[1], "4 bytes of binary data");
    EXPECT_EQ(recorder.m_echoed[2],
              "\r\n-------------------- Response Header --------------------\r\n" +
                  got.substr(0, got.find("\r\n\r\n") + 4));
}

TEST_F(ResponseTest, OutputFileThatCannotBeMadeIsLoggedPerWrite) {
    std::string path = m_root + "/missing/dyn2.html";
    std::string got = Answer([&](CHttpResponse& r) {
        r.SetOutputFile(path);
        r.WriteText("a");
        r.WriteText("b");
        r.Finish();
    });
    EXPECT_EQ(got, "");
    EXPECT_EQ(m_log->CountEqual("Failed to create output file. [" + path +
                                "]. No such file or directory\r\n"),
              2);
}

TEST(HttpResponseTest, WriteValueFollowsTheDateMode) {
    CTempFolder dir;
    CHttpResponse response;
    response.SetOutputFile(dir.File("o.html"));
    int64_t time = CSspDateTime::MakeLocalTime(1999, 12, 31, 14, 5, 0);
    CSspValue date = CSspValue::FromDateTime(time, kSqlTimestamp);
    CSspDateTime expect(time);
    const std::pair<std::string, std::string> cases[] = {
        {"0", expect.GetDateTimeStr()}, {"1", expect.GetDateTimeStr2()}, {"2", expect.GetDateStr()},
        {"3", expect.GetDateStr2()},    {"4", expect.GetTimeStr()},      {"%Y", "1999"},
        {std::string(200, 'Y'), ""},
    };
    for (const auto& [mode, text] : cases) {
        response.ClearOutput();
        CSspValue previous;
        CallResponse(response, "DateTimeOutputFormat", {Text(mode)}, &previous);
        response.WriteValue(date);
        EXPECT_EQ(response.ReadOutput(), text) << mode;
    }
    response.ClearOutput();
    response.WriteValue(CSspValue::FromInteger(42));
    response.WriteValue(CSspValue::FromDateTime(0));
    EXPECT_EQ(response.ReadOutput(), "42");
    CSspValue previous;
    CallResponse(response, "DateTimeOutputFormat", {Text("2")}, &previous);
    EXPECT_EQ(previous.GetText(), std::string(200, 'Y'));
    response.CloseOutput();
}

TEST(HttpResponseTest, ScriptMemberErrors) {
    const std::pair<std::pair<std::string, int>, std::string> cases[] = {
        {{"write", 0}, "Missing parameter."},
        {{"redirect", 0}, "Missing parameter."},
        {{"Expires", 0}, "Missing parameter."},
        {{"setCookie", 1}, "Missing parameter."},
        {{"AddHeader", 0}, "Missing parameter for AddHeader."},
        {{"bogus", 0}, "Unknown response field: bogus"},
    };
    for (const auto& [call, text] : cases) {
        CHttpResponse response;
        std::vector<CSspValue> args(static_cast<size_t>(call.second), Text("a"));
        std::string message = "(no error)";
        try {
            CallResponse(response, call.first, args);
        } catch (const CSspException& e) {
            message = e.Message();
            EXPECT_EQ(e.Position(), kSource);
        }
        EXPECT_EQ(message, text) << call.first;
    }
}

TEST(HttpResponseTest, MembersWithoutAConnection) {
    CHttpResponse response;
    response.SetErrorText("it broke");
    CSspValue result;
    CallResponse(response, "ERROR", {}, &result);
    EXPECT_EQ(result.GetText(), "it broke");
    CallResponse(response, "expires", {Text("15abc")});
    EXPECT_EQ(response.GetExpires(), 15);
    CallResponse(response, "setCookie", {Text("Sid"), Text("v")});
    EXPECT_EQ(response.GetCookie("sid"), "v");
    EXPECT_EQ(response.GetCookie("other"), "");
    EXPECT_EQ(response.Send("/etc/hostname"), 0);
}

}  // namespace
