#include "engine/web/HttpRequest.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspInterpreter.h"
#include "engine/web/HttpResponse.h"
#include "engine/web/tests/ReadResultPrint.h"
#include "engine/web/tests/WireHarness.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using wire_test::WireTest;
using EReadResult = CHttpRequest::EReadResult;

// What a result holds before the read has run.
constexpr auto kNotRead = static_cast<EReadResult>(99);

struct RequestCase {
    std::string name;
    std::string raw;
    EReadResult result;
    std::string url;
    std::string extension;
    std::map<std::string, std::string> fields;  // present with these values
    std::vector<std::string> absent;
    std::map<std::string, std::string> cookies;  // the whole cookie map
};

void PrintTo(const RequestCase& c, std::ostream* os) {
    *os << c.name << " " << ::testing::PrintToString(c.raw);
}

class RequestReadTest : public WireTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(RequestReadTest, ReadsLineHeadersAndVariables) {
    const RequestCase& c = GetParam();
    EReadResult result = kNotRead;
    CHttpRequest* seen = nullptr;
    std::unique_ptr<CHttpRequest> request;
    Exchange(c.raw, [&](CSocketConn& conn) {
        request = std::make_unique<CHttpRequest>(&conn);
        request->SetRootFolder(m_root);
        result = request->ReadRequest();
        if (result == EReadResult::kOk) {
            request->GetForm().Parse();
        }
        seen = request.get();
    });
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(result, c.result);
    if (c.result != EReadResult::kOk) {
        return;
    }
    EXPECT_EQ(seen->GetUrl(), c.url);
    EXPECT_EQ(seen->GetExtension(), c.extension);
    for (const auto& [name, value] : c.fields) {
        std::string got;
        EXPECT_TRUE(seen->GetField(name, &got)) << name;
        EXPECT_EQ(got, value) << name;
    }
    for (const std::string& name : c.absent) {
        EXPECT_FALSE(seen->GetField(name)) << name;
    }
    EXPECT_EQ(seen->GetCookies(), c.cookies);
}

const std::string kBadLengths[] = {"-5", "12abc", "99999999999999999999", "0x10", ""};

std::vector<RequestCase> RequestCases() {
    std::vector<RequestCase> cases = {
        {"query",
         "GET /a/b.zrp?x=1&x=2&y=+a%41 HTTP/1.0\r\n\r\n",
         EReadResult::kOk,
         "/a/b.zrp",
         "zrp",
         {{"x", "1\n2"}, {"y", "aA"}},
         {},
         {}},
        {"fragment_ends_query",
         "GET /p.zrp?a=1#frag&b=2 HTTP/1.0\r\n\r\n",
         EReadResult::kOk,
         "/p.zrp",
         "zrp",
         {{"a", "1"}},
         {"b", "frag"},
         {}},
        {"repeats_and_empties",
         "GET /f.zrp?A=&a=1&a=&a=2&flag HTTP/1.0\r\n\r\n",
         EReadResult::kOk,
         "/f.zrp",
         "zrp",
         {{"a", "1\n2"}, {"flag", ""}},
         {},
         {}},
        {"cookies_skip_bad_pieces",
         "GET / HTTP/1.0\r\nCookie: a=1; =x; b\r\n\r\n",
         EReadResult::kOk,
         "/",
         "",
         {},
         {},
         {{"a", "1"}}},
        {"cookie_decoded_last_wins",
         "GET / HTTP/1.0\r\ncookie:s=a%20b; s=c+d\r\n\r\n",
         EReadResult::kOk,
         "/",
         "",
         {},
         {},
         {{"s", "c d"}}},
        {"post_keeps_its_query",
         "POST /a.zrp?x=1 HTTP/1.0\r\nContent-Length: 3\r\n\r\ny=2",
         EReadResult::kOk,
         "/a.zrp",
         "zrp",
         {{"x", "1"}, {"y", "2"}},
         {},
         {}},
        {"post_without_length",
         "POST /a.zrp HTTP/1.0\r\n\r\ny=2",
         EReadResult::kNoLength,
         "",
         "",
         {},
         {},
         {}},
        {"nul_in_request_line",
         "GET /a.txt\0.zrp HTTP/1.0\r\n\r\n"s,
         EReadResult::kInvalidAddress,
         "",
         "",
         {},
         {},
         {}},
        {"tab_in_request_line",
         "GET /a\t.zrp HTTP/1.0\r\n\r\n",
         EReadResult::kInvalidAddress,
         "",
         "",
         {},
         {},
         {}},
        {"empty_first_line", "\r\n", EReadResult::kOk, "", "", {}, {}, {}},
        {"header_not_finished",
         "GET / HTTP/1.0\r\nHost: x\r\n",
         EReadResult::kFailed,
         "",
         "",
         {},
         {},
         {}},
        {"header_block_too_large",
         "GET / HTTP/1.0\r\n" +
             [] {
                 std::string lines;
                 for (int i = 0; i < 40; ++i) {
                     lines += "X-Pad: " + std::string(2000, 'p') + "\r\n";
                 }
                 return lines;
             }() +
             "\r\n",
         EReadResult::kHeaderTooLarge,
         "",
         "",
         {},
         {},
         {}},
    };
    int i = 0;
    for (const std::string& length : kBadLengths) {
        cases.push_back({"bad_length_" + std::to_string(i++),
                         "POST /a.zrp HTTP/1.0\r\nContent-Length: " + length + "\r\n\r\nabc",
                         EReadResult::kNoLength,
                         "",
                         "",
                         {},
                         {},
                         {}});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, RequestReadTest, ::testing::ValuesIn(RequestCases()),
                         [](const ::testing::TestParamInfo<RequestCase>& p) {
                             return p.param.name;
                         });

TEST_F(WireTest, PathsMapUnderTheWebRootOrIntoTheDatabase) {
    CHttpRequest request;
    request.SetRootFolder(m_root);
    request.ParseRequestLine("GET /a/b.zrp?q=1 HTTP/1.0");
    EXPECT_EQ(request.GetLocalPath(), m_root + "/webroot/a/b.zrp");
    EXPECT_EQ(request.GetUrlFull(), "/a/b.zrp?q=1");
    EXPECT_EQ(request.GetUrlDir(), "/a/");
    EXPECT_FALSE(request.IsFileInDb());
    request.ParseRequestLine("GET /FileInDB/abc/x.pdf HTTP/1.0");
    EXPECT_TRUE(request.IsFileInDb());
    EXPECT_EQ(request.GetLocalPath(), "");
    EXPECT_EQ(request.GetExtension(), "pdf");
    request.ParseRequestLine("GET /x/filedb HTTP/1.0");
    EXPECT_TRUE(request.IsFileInDb());
    request.ParseRequestLine("GET nofolder HTTP/1.0");
    EXPECT_EQ(request.GetUrlDir(), "/");
    EXPECT_EQ(request.GetLocalPath(), m_root + "/webroot/nofolder");
}

TEST_F(WireTest, LongHeaderLineIsLoggedOnceAndTheRequestIsAnswered) {
    std::string longLine = "X-Long: " + std::string(4992, 'a');
    EReadResult result = kNotRead;
    std::string host;
    std::string got = Exchange("GET /p.zrp HTTP/1.0\r\n" + longLine + "\r\nHost: after\r\n\r\n",
                               [&](CSocketConn& conn) {
                                   CHttpRequest request(&conn);
                                   result = request.ReadRequest();
                                   host = request.GetHost();
                                   CHttpResponse response(&conn);
                                   response.Redirect("/done", false);
                               });
    EXPECT_EQ(result, EReadResult::kOk);
    EXPECT_EQ(host, "after");
    EXPECT_EQ(got.rfind("HTTP/1.0 302 Moved Temporarily\r\nLocation: /done\r\n", 0), 0u);
    // Cut short: a flood of such lines must not fill the day log.
    const std::string entry = "Long header [" + longLine.substr(0, 200) + "] ignored.\r\n";
    EXPECT_EQ(m_log->CountEqual(entry), 1);
    auto lines = m_log->Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("Long header", 0) == 0; }),
              1);
}

TEST_F(WireTest, OverLongHeaderLineIsDroppedUpToItsLineEndHoweverLong) {
    struct Case {
        size_t length;  // of the header line
        EReadResult result;
        size_t logged;  // "Long header" entries
    } cases[] = {
        {4095, EReadResult::kOk, 0},  // fills the buffer exactly: an ordinary line
        {4096, EReadResult::kOk, 1},
        {12000, EReadResult::kOk, 1},  // three buffers' worth
        {70000, EReadResult::kHeaderTooLarge, 1},
    };
    // Each case's line its own text: the log folds a repeated one.
    char fill = 'b';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        size_t before = m_log->Lines().size();
        ++fill;
        std::string line = "X-Long: " + std::string(c.length - 8, fill);
        EReadResult result = kNotRead;
        std::string host;
        std::string all;
        Exchange("GET /p.zrp HTTP/1.0\r\n" + line + "\r\nHost: after\r\n\r\n",
                 [&](CSocketConn& conn) {
                     CHttpRequest request(&conn);
                     result = request.ReadRequest();
                     host = request.GetHost();
                     all = request.GetAllHeaders();
                 });
        EXPECT_EQ(result, c.result);
        if (c.result == EReadResult::kOk) {
            EXPECT_EQ(host, "after");
            EXPECT_EQ(all.find(std::string(4, fill)) != std::string::npos, c.logged == 0)
                << all.size();
        }
        EXPECT_EQ(m_log->Lines().size() - before, c.logged);
    }
}

TEST_F(WireTest, BodyOverTheLimitIsRefusedBeforeItIsReadAndTheClientGetsTheAnswer) {
    const int64_t declared = 10485761;
    std::string received;
    bool bodySent = false;
    std::thread client([&] {
        CSocketConn conn;
        conn.SetTimeout(20);
        ASSERT_TRUE(conn.Connect("127.0.0.1", m_port));
        conn.Send("POST /up.zrp HTTP/1.0\r\nContent-Length: " + std::to_string(declared) +
                  "\r\n\r\n");
        std::thread body([&conn, &bodySent, declared] {
            std::string chunk(65536, 'b');
            int64_t left = declared;
            while (left > 0 && conn.SendAllPlain(chunk.data(),
                                                 static_cast<size_t>(std::min<int64_t>(
                                                     left, static_cast<int64_t>(chunk.size()))))) {
                left -= std::min<int64_t>(left, static_cast<int64_t>(chunk.size()));
            }
            bodySent = left == 0;
            ::shutdown(conn.GetHandle(), SHUT_WR);
        });
        received = wire_test::ReadAll(conn);
        body.join();
    });
    CSocketConn server;
    ASSERT_TRUE(m_listener.Accept(server));
    server.SetTimeout(20);
    CHttpRequest request(&server);
    const EReadResult result = request.ReadRequest();
    EXPECT_EQ(result, EReadResult::kTooLarge);
    EXPECT_TRUE(request.GetForm().Body().empty());
    CHttpResponse response(&server);
    response.SendHtmlError(CHttpRequest::ReadErrorText(result));
    server.CloseGracefully(std::chrono::milliseconds(20000));
    client.join();
    EXPECT_TRUE(bodySent);
    EXPECT_EQ(received.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_NE(received.find("The amount of data you sent has exceeded the limit of 10 MB. "),
              std::string::npos);
}

TEST_F(WireTest, BodyOfExactlyTheLimitIsRead) {
    g_settings.GeneralMaxUpload = 1;
    std::string body(1048576, 'z');
    body[1000] = '\0';
    for (int extra : {0, 1}) {
        EReadResult result = kNotRead;
        size_t length = 0;
        std::string raw = "POST /a.zrp HTTP/1.0\r\nContent-Length: " +
                          std::to_string(body.size() + static_cast<size_t>(extra)) + "\r\n\r\n" +
                          body + std::string(static_cast<size_t>(extra), 'z');
        Exchange(raw, [&](CSocketConn& conn) {
            CHttpRequest request(&conn);
            result = request.ReadRequest();
            length = request.GetForm().Body().size();
        });
        EXPECT_EQ(result, extra == 0 ? EReadResult::kOk : EReadResult::kTooLarge) << extra;
        EXPECT_EQ(length, extra == 0 ? body.size() : 0u) << extra;
    }
}

TEST_F(WireTest, ShortBodyIsAReadFailure) {
    EReadResult result = kNotRead;
    Exchange("POST /a.zrp HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc", [&](CSocketConn& conn) {
        CHttpRequest request(&conn);
        result = request.ReadRequest();
    });
    EXPECT_EQ(result, EReadResult::kFailed);
}

TEST_F(WireTest, HeaderMustArriveWithinOneTimeOut) {
    EReadResult result = kNotRead;
    std::jthread client([this](std::stop_token stop) {
        CSocketConn conn;
        ASSERT_TRUE(conn.Connect("127.0.0.1", m_port));
        conn.Send("GET / HTTP/1.0\r\n");
        // A header line every 300 ms: each within the time-out, the whole taking 6 s. The
        // client then leaves, so a reader without a deadline ends too, but without a time-out.
        for (int i = 0; i < 20 && !stop.stop_requested() && conn.Send("X-Slow: 1\r\n"); ++i) {
            std::this_thread::sleep_for(300ms);
        }
    });
    CSocketConn server;
    ASSERT_TRUE(m_listener.Accept(server));
    server.SetTimeout(1);
    CHttpRequest request(&server);
    result = request.ReadRequest();
    client.request_stop();
    server.Close();
    EXPECT_EQ(result, EReadResult::kFailed);
    EXPECT_EQ(m_log->CountEqual("Timeout receiving on socket\r\n"), 1);
}

TEST(HttpRequestTest, BrowserDetection) {
    struct Case {
        const char* agent;
        const char* type;
        int major;
        int minor;
    };
    const Case cases[] = {
        {"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)", "MSIE", 6, 0},
        {"Mozilla/4.79 [en]", "Navigator", 4, 7},
        {"Opera/9.80 (X11)", "Opera", 9, 8},
        {"Lynx", "Lynx", 0, 0},
        {"Mozilla/99999999999999.5 (msie 7.0)", "Navigator", 2147483647, 5},
    };
    for (const Case& c : cases) {
        CHttpRequest request;
        request.DetectBrowser(c.agent);
        EXPECT_EQ(request.GetBrowserType(), c.type) << c.agent;
        EXPECT_EQ(request.GetBrowserMajor(), c.major) << c.agent;
        EXPECT_EQ(request.GetBrowserMinor(), c.minor) << c.agent;
    }
}

TEST(HttpRequestTest, ReadErrorTexts) {
    g_settings.GeneralMaxUpload = 10;
    const std::pair<EReadResult, std::string> cases[] = {
        {EReadResult::kOk, ""},
        {EReadResult::kFailed, ""},
        {EReadResult::kTooLarge, "The amount of data you sent has exceeded the limit of 10 MB. "},
        {EReadResult::kNoLength, "Content-Length missing from your HTTP request."},
        {EReadResult::kNoMemory, "Out of memory"},
        {EReadResult::kInvalidAddress, "Invalid HTTP address."},
        {EReadResult::kHeaderTooLarge, "Server Error."},
        {EReadResult::kNoConnection, "Server Error."},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(CHttpRequest::ReadErrorText(code), text) << ::testing::PrintToString(code);
    }
}

TEST(HttpRequestTest, WithoutAConnectionNothingIsRead) {
    CHttpRequest request;
    EXPECT_EQ(request.ReadRequest(), EReadResult::kNoConnection);
}

// --- Script members ---------------------------------------------------------------------

constexpr char kSource[] = "Request.member(args)";

struct MemberCall {
    std::string member;
    std::vector<std::string> args;
    bool hasArgs = true;
};

CSspValue CallRequest(CHttpRequest& request, const MemberCall& m) {
    CSspInterpreter interp;
    CSspCall call;
    call.m_strObject = "Request";
    call.m_strMember = m.member;
    call.m_pPos = kSource;
    call.m_bHasArgs = m.hasArgs;
    for (const std::string& arg : m.args) {
        call.AddArg(CSspValue::FromText(arg));
    }
    CSspValue result;
    request.CallMethod(interp, call, result);
    return result;
}

std::string CallError(CHttpRequest& request, const MemberCall& m) {
    try {
        CallRequest(request, m);
    } catch (const CSspException& e) {
        EXPECT_EQ(e.Position(), kSource);
        return e.Message();
    }
    return "(no error)";
}

TEST(HttpRequestTest, ScriptMembers) {
    CHttpRequest request;
    request.ParseRequestLine("GET /app/p.zrp?name=Ann&Empty= HTTP/1.0");
    request.ParseHeaderLine("Referer: http://h/from.zrp");
    request.ParseHeaderLine("Cookie: sid=42");
    request.GetForm().Parse();
    struct Case {
        MemberCall call;
        std::string text;
    };
    const Case cases[] = {
        {{"FieldExist", {"NAME"}}, "1"},
        {{"exist", {"empty"}}, "1"},
        {{"exist", {"nope"}}, "0"},
        {{"FieldSize", {"name"}}, "3"},
        {{"size", {"nope"}}, "0"},
        {{"FieldValue", {"name"}}, "Ann"},
        {{"FieldValue", {"nope"}}, ""},
        {{"URLPATH", {}}, "/app/"},
        {{"Url", {}}, "/app/p.zrp"},
        {{"UrlFull", {}}, "/app/p.zrp?name=Ann&Empty="},
        {{"Referer", {}}, "http://h/from.zrp"},
        {{"protocol", {}}, "sspRun"},
        {{"IpAddress", {}}, ""},
        {{"getCookie", {"sid"}}, "42"},
        {{"getCookie", {"SID"}}, ""},
        {{"name", {}, false}, "Ann"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CallRequest(request, c.call).GetText(), c.text) << c.call.member;
    }
    EXPECT_EQ(CallRequest(request, {"FieldExist", {"name"}}).m_type, kSqlInteger);
    CallRequest(request, {"SetVar", {"Name", "  Bob "}});
    EXPECT_EQ(CallRequest(request, {"FieldValue", {"name"}}).GetText(), "Bob");
}

TEST(HttpRequestTest, ScriptMemberErrors) {
    CHttpRequest request;
    request.ParseHeaderLine("Referer: http://h/from.zrp");
    const std::pair<MemberCall, std::string> cases[] = {
        {{"FieldExist", {}}, "Missing field name."},
        {{"size", {}}, "Missing field name."},
        {{"FieldValue", {}, false}, "Missing field name."},
        {{"getCookie", {}}, "Missing parameter."},
        {{"SetField", {"a"}}, "Incorrect number of parameter."},
        {{"SetVar", {"a", "b", "c"}}, "Incorrect number of parameter."},
        {{"nosuch", {}, false},
         "nosuch is not a request function nor a form field in: http://h/from.zrp"},
    };
    for (const auto& [call, text] : cases) {
        EXPECT_EQ(CallError(request, call), text) << call.member;
    }
}

}  // namespace
