// Requests over a real socket through the listener, the pool and the dispatcher.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "engine/settings/RootFolder.h"
#include "engine/web/ConsoleCommandHandler.h"
#include "engine/web/RequestDispatch.h"
#include "engine/web/ServerThread.h"
#include "engine/web/tests/ServingTestSupport.h"

namespace serving_test {
namespace {

TEST_F(ServingTest, RoutesEachPathByItsShape) {
    WriteFile("help/index.zrp", "help page");
    WriteFile("docs/index.html", "docs");
    WriteFile("b.html", "outside");
    WriteFile("a.txt", "plain text");
    WriteFile("Script/x.ZRS", "secret script");
    WriteFile("script/x.zrs", "secret script");
    WriteFile("scripts/x.zrs", "public script");
    WriteFile("script/run.zrp", "ran <!--{ write 1 + 1; }-->");
    WriteFile("log/day01.txt", "password=hunter2");
    struct Case {
        const char* request;
        const char* answerStart;  // the answer begins so
        const char* contains;     // and holds this
        const char* absent;       // and never this
    } cases[] = {
        {"GET /help HTTP/1.0\r\n\r\n",
         "HTTP/1.0 301\r\nLocation: /help/\r\nContent-Length: 0\r\n\r\n", "", "index"},
        {"GET /help/ HTTP/1.0\r\n\r\n",
         "HTTP/1.0 302 Moved Temporarily\r\nLocation: /help/index.zrp\r\nContent-Length: 0\r\n\r\n",
         "", "help page"},
        {"GET /docs/ HTTP/1.0\r\n\r\n",
         "HTTP/1.0 302 Moved Temporarily\r\nLocation: /docs/index.html\r\n", "", "200 OK"},
        {"\r\n", "HTTP/1.0 301\r\nLocation: /\r\n", "", "200"},
        {"GET /a/../b.html HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n", "Invalid HTTP address.",
         "outside"},
        // Refused before the folder redirect could look for /../x/index.zrp.
        {"GET /../x/ HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n", "Invalid HTTP address.", "Location"},
        {"GET /a\\b.html HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n", "Invalid HTTP address.", "301"},
        {"GET //a.txt HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n", "Invalid HTTP address.",
         "plain text"},
        {"GET /Script/x.ZRS HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n",
         ".zrs files in a script folder are system files.", "secret"},
        {"GET /script/x.zrs HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n", "system files", "secret"},
        {"GET /scripts/x.zrs HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n", "public script",
         "system files"},
        {"GET /script/run.zrp HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n", "ran 2", "system files"},
        {"GET /log/day01.txt HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n", "system files", "hunter2"},
        {"GET /a.txt?x=1 HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n",
         "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Length: 10\r\n\r\nplain text",
         "Error"},
        {"GET /missing.txt HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n", "missing.txt", "Location"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        std::string answer = Fetch(c.request);
        EXPECT_EQ(answer.substr(0, std::string(c.answerStart).size()), c.answerStart) << answer;
        EXPECT_NE(answer.find(c.contains), std::string::npos) << answer;
        EXPECT_EQ(answer.find(c.absent), std::string::npos) << answer;
    }
}

// The day logs and the system scripts stay refused however the path is spelled.
TEST_F(ServingTest, SystemFoldersAreRefusedInEverySpellingOfTheirPath) {
    WriteFile("log/day10.txt", "GET /login.zrp?password=hunter2");
    WriteFile("log/index.html", "GET /login.zrp?password=hunter2");
    WriteFile("script/x.zrs", "secret script");
    const char* const logRefused = "Files in the log folder are system files.";
    const char* const scriptRefused = ".zrs files in a script folder are system files.";
    const char* const invalid = "Invalid HTTP address.";
    struct Case {
        const char* path;
        const char* refusal;
    } cases[] = {
        {"/log/day10.txt", logRefused},
        {"/LOG/day10.txt", logRefused},
        {"/Log/Day10.TXT", logRefused},
        {"log/day10.txt", logRefused},
        {"/log", logRefused},
        {"/LOG", logRefused},
        {"/log/", logRefused},
        {"/./log/day10.txt", invalid},
        {"/log/./day10.txt", invalid},
        {"/a/../log/day10.txt", invalid},
        {"/log/.", invalid},
        {"/.", invalid},
        {"/script/x.zrs", scriptRefused},
        {"script/x.zrs", scriptRefused},
        {"/SCRIPT/X.ZRS", scriptRefused},
        {"/./script/x.zrs", invalid},
        {"/script/./x.zrs", invalid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string answer = Get(c.path);
        EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
        EXPECT_NE(answer.find(c.refusal), std::string::npos) << answer;
        EXPECT_EQ(answer.find("hunter2"), std::string::npos) << answer;
        EXPECT_EQ(answer.find("secret script"), std::string::npos) << answer;
    }
}

TEST_F(ServingTest, OverLongHeaderLineIsDroppedWholeUpToItsLineEnd) {
    WriteFile("c.zrp",
              "x=--{ Request.getCookie('x'); }--|y=--{ Request.getCookie('y'); }--|"
              "--{ Request.AllHeaders; }--");
    // 5000 bytes, the last of them a header of their own once the first 4095 are cut off.
    const std::string hidden = "Cookie: x=smuggled";
    const std::string longLine = "X-Pad: " + std::string(5000 - 7 - hidden.size(), 'p') + hidden;
    ASSERT_EQ(longLine.size(), 5000u);
    std::string answer =
        Fetch("GET /c.zrp HTTP/1.0\r\n" + longLine + "\r\nCookie: y=normal\r\n\r\n");
    std::string body = BodyOf(answer);
    EXPECT_EQ(body.rfind("x=|y=normal|GET /c.zrp HTTP/1.0\r\nCookie: y=normal\r\n", 0), 0u)
        << answer;
    EXPECT_EQ(body.find("smuggled"), std::string::npos) << body;
    EXPECT_EQ(body.find("ppp"), std::string::npos) << body;
}

// "Host: re\0al" once reached a page as written. A head with a NUL anywhere is refused as a
// whole, and not even the error page sees its lines.
TEST_F(ServingTest, AHeadHoldingANulIsAnInvalidAddress) {
    using namespace std::string_literals;
    WriteFile("h.zrp", "page ran host=[--{ Request.Host; }--]");
    WriteFile("error.zrp",
              "error page [--{ Response.error; }--][--{ Request.Host; }--]"
              "[--{ Request.UrlFull; }--][--{ Request.AllHeaders; }--]"
              "[--{ Request.getCookie('a'); }--]");
    const std::string big(100000, 'x');  // above what the listener waits for itself
    struct Case {
        const char* label;
        std::string request;
    } cases[] = {
        {"in a header value", "GET /h.zrp HTTP/1.0\r\nHost: re\0al\r\n\r\n"s},
        {"in a header name", "GET /h.zrp HTTP/1.0\r\nHo\0st: real\r\n\r\n"s},
        {"in the request line", "GET /h.zrp\0x HTTP/1.0\r\nHost: real\r\n\r\n"s},
        {"in the cut-off part of a long header line",
         "GET /h.zrp HTTP/1.0\r\nX-Pad: " + std::string(5000, 'p') + "\0\r\nHost: real\r\n\r\n"s},
        {"in the head of a small form",
         "POST /h.zrp HTTP/1.0\r\nContent-Length: 3\r\nCookie: a=\0b\r\n\r\nx=1"s},
        {"in the head of a large upload",
         "POST /h.zrp HTTP/1.0\r\nContent-Length: " + std::to_string(big.size()) +
             "\r\nCookie: a=\0b\r\n\r\n"s + big},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string answer = Fetch(c.request);
        EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
        EXPECT_NE(answer.find("error page [Invalid HTTP address.]"), std::string::npos) << answer;
        EXPECT_EQ(answer.find("page ran"), std::string::npos) << answer;
        EXPECT_EQ(answer.find('\0'), std::string::npos) << answer;
    }
    // The same heads without the NUL reach the page.
    EXPECT_NE(Fetch("GET /h.zrp HTTP/1.0\r\nHost: real\r\n\r\n").find("page ran host=[real]"),
              std::string::npos);
}

TEST_F(ServingTest, PostedFormAndUploadReachThePage) {
    WriteFile("form.zrp", "title=--{ Request.title; }--|file=--{ Request.file1; }--|");
    const std::string boundary = "XyZ";
    std::string body = "--" + boundary +
                       "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\nHello world\r\n"
                       "--" +
                       boundary +
                       "\r\nContent-Disposition: form-data; name=\"file1\"; "
                       "filename=\"c:\\docs\\report.bin\"\r\nContent-Type: "
                       "application/octet-stream\r\n\r\n\x01\x02\x03\r\n--" +
                       boundary + "--\r\n";
    std::string answer =
        Fetch("POST /form.zrp HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=" + boundary +
              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("Content-Type: text/html; charset=iso-8859-1\r\n"), std::string::npos);
    EXPECT_NE(BodyOf(answer).find("title=Hello world|file="), std::string::npos) << answer;
    EXPECT_NE(BodyOf(answer).find("report.bin|"), std::string::npos) << answer;
}

TEST_F(ServingTest, UploadAboveTheLimitGetsTheLimitPage) {
    g_settings.GeneralMaxUpload = 1;
    WriteFile("form.zrp", "should not run");
    std::string answer = Fetch("POST /form.zrp HTTP/1.0\r\nContent-Length: 2000000\r\n\r\nabc");
    EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("The amount of data you sent has exceeded the limit of 1 MB."),
              std::string::npos)
        << answer;
    EXPECT_EQ(answer.find("should not run"), std::string::npos);
    std::string noLength = Fetch("POST /form.zrp HTTP/1.0\r\n\r\n");
    EXPECT_NE(noLength.find("Content-Length missing from your HTTP request."), std::string::npos)
        << noLength;
}

TEST_F(ServingTest, ErrorPagesShowTheFailure) {
    const std::string failing = "x\n--{ foo.bar; }--";
    WriteFile("app/bad.zrp", failing);
    WriteFile("app/own.zrp", "<!--{ Local.setErrorFile('own-error.zrp'); }-->--{ foo.bar; }--");
    WriteFile("app/own-error.zrp", "OWN:--{ Response.error; }--");
    WriteFile("nested/bad.zrp", failing);

    // No error.zrp: the built-in page with the message alone.
    std::string builtIn = Get("/app/bad.zrp");
    EXPECT_EQ(builtIn.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << builtIn;
    EXPECT_NE(builtIn.find("Unknown Object: foo"), std::string::npos) << builtIn;
    EXPECT_EQ(builtIn.find("Additional error"), std::string::npos) << builtIn;
    EXPECT_EQ(BodyOf(builtIn).find("x\n"), std::string::npos) << "the page's own output is dropped";

    WriteFile("error.zrp", "ERR:--{ Response.error; }--");
    std::string shown = Get("/app/bad.zrp");
    EXPECT_EQ(shown.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << shown;
    std::string body = BodyOf(shown);
    EXPECT_EQ(body.rfind("ERR:" + m_root + "/webroot/app/bad.zrp (2,5): ", 0), 0u) << body;
    EXPECT_NE(body.find("Unknown Object: foo"), std::string::npos) << body;

    std::string own = Get("/app/own.zrp");
    EXPECT_NE(BodyOf(own).find("OWN:"), std::string::npos) << own;
    EXPECT_EQ(BodyOf(own).find("ERR:"), std::string::npos) << own;

    // An error page that fails itself: both texts in the built-in page.
    WriteFile("error.zrp", "--{ nobody.here; }--");
    std::string both = Get("/nested/bad.zrp");
    EXPECT_NE(both.find("Unknown Object: foo"), std::string::npos) << both;
    EXPECT_NE(both.find("Unknown Object: foo<br>"), std::string::npos) << "line ends become <br>";
    EXPECT_NE(both.find("Additional error: " + m_root + "/webroot/error.zrp (1,5): "),
              std::string::npos)
        << both;
    EXPECT_NE(both.find("Unknown Object: nobody"), std::string::npos) << both;
}

TEST_F(ServingTest, FormValueReachesAProgramAsOnePlainArgument) {
    // Server files must lie inside the process's own root, so this one serves from there.
    StopListener();
    m_pool = std::make_unique<CServerThreadPool>();
    m_pool->SetRootFolder(g_rootDir);
    StartListener();
    const std::string folder = "serving-" + std::to_string(getpid());
    const std::string web = g_rootDir + "/webroot/" + folder;
    std::filesystem::create_directories(web);
    const std::string seen = m_root + "/seen.txt";
    std::ofstream(web + "/tool.sh")
        << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" + seen + "'\nexit 3\n";
    std::filesystem::permissions(web + "/tool.sh", std::filesystem::perms::owner_all);
    std::ofstream(web + "/run.zrp")
        << "<!--{ file tool('tool.sh'); }-->ran=--{ tool.run('\"' || Request.v || '\"'); }--";

    std::string answer = Get("/" + folder + "/run.zrp?v=;%20rm%20-rf%20/");
    std::filesystem::remove_all(web);
    EXPECT_EQ(BodyOf(answer), "ran=3") << answer;
    std::ifstream in(seen);
    std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(args, "1|; rm -rf /");
}

TEST_F(ServingTest, SilentPageStillAnswersWithItsHeaders) {
    WriteFile("quiet.zrp", "<!--{ Response.setCookie('seen', 'yes'); }-->");
    std::string answer = Get("/quiet.zrp");
    EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("Set-Cookie: seen=yes"), std::string::npos) << answer;
    EXPECT_NE(answer.find("Content-Length: 0\r\n\r\n"), std::string::npos) << answer;
    EXPECT_EQ(BodyOf(answer), "");
}

TEST_F(ServingTest, RedirectingPageSendsOnlyTheRedirect) {
    WriteFile("go.zrp", "before<!--{ Response.redirect('/elsewhere.html'); }-->after");
    std::string answer = Get("/go.zrp");
    EXPECT_EQ(answer.rfind("HTTP/1.0 302 Moved Temporarily\r\nLocation: /elsewhere.html\r\n", 0),
              0u)
        << answer;
    EXPECT_EQ(answer.find("before"), std::string::npos);
    EXPECT_EQ(answer.find("HTTP/1.0", 4), std::string::npos) << "one answer only";
}

TEST_F(ServingTest, LogHttpWritesTheUrlAsItCame) {
    g_settings.LogHttp = true;
    WriteFile("a.txt", "x");
    Get("/a.txt?v=%s%n%d");
    g_settings.LogHttp = false;
    bool found = false;
    bool sent = false;
    for (const std::string& line : m_log->Lines()) {
        if (line.find("127.0.0.1 /a.txt?v=%s%n%d [") != std::string::npos) {
            found = true;
            sent = sent || line.find("] sent.") != std::string::npos;
        }
    }
    EXPECT_TRUE(found);
    EXPECT_TRUE(sent);
}

class CRecordingConsole : public CConsoleCommandHandler {
public:
    void HandleCommand(CServerThread& thread, const std::string& command,
                       const std::string& argument) override {
        m_command = command;
        m_argument = argument;
        m_request = thread.GetCurrentRequest();
        thread.Connection().Send("answered\r\n\r\n");
    }
    std::string m_command;
    std::string m_argument;
    std::string m_request;
};

TEST_F(ServingTest, ConsoleCommandsNeverReachThePages) {
    WriteFile("x.zrp", "page ran");
    // Without the server program's handler the connection closes unanswered.
    EXPECT_EQ(Fetch("Brackmoor.GetTask\r\n\r\n"), "");
    EXPECT_EQ(Fetch("Brackmoor.GetReq /x.zrp HTTP/1.0\r\n\r\n"), "");

    CRecordingConsole console;
    CConsoleCommandHandler::Install(&console);
    std::string answer = Fetch("Brackmoor.Disconnect /x.zrp\r\n\r\n");
    CConsoleCommandHandler::Install(nullptr);
    EXPECT_EQ(answer, "answered\r\n\r\n");
    EXPECT_EQ(console.m_command, "Brackmoor.Disconnect");
    EXPECT_EQ(console.m_argument, "/x.zrp");
    EXPECT_EQ(console.m_request, "/x.zrp (http)");
    // The mark is case-sensitive: anything else is an ordinary request.
    EXPECT_NE(Fetch("brackmoor.GetTask /x.zrp HTTP/1.0\r\n\r\n").find("page ran"),
              std::string::npos);
}

TEST(DispatchNames, DatabaseFileOutputKeepsLettersAndDigits) {
    struct Case {
        const char* extension;
        const char* kept;
    } cases[] = {{"pdf", "pdf"},
                 {"tar.gz", "targz"},
                 {"p/../../x", "px"},
                 {"", ""},
                 {"A1;rm -rf", "A1rmrf"}};
    for (const Case& c : cases) {
        EXPECT_EQ(CRequestDispatch::SafeExtension(c.extension), c.kept) << c.extension;
    }
}

}  // namespace
}  // namespace serving_test
