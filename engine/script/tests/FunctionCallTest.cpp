// Calls of a page's own functions run in child interpreters that the root keeps between calls:
// every call must still run as it would in a new one.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/EngineMessages.h"
#include "engine/script/SspDebugHooks.h"
#include "engine/script/SspFile.h"
#include "engine/script/SspHarness.h"
#include "engine/script/SspInterpreter.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

TEST(FunctionCallTest, EachCallStartsFromNothingLeftByTheCallsBefore) {
    struct Case {
        const char* name;
        const char* text;
        int code;
        const char* output;
        std::string error;  // the end of the error text
    };
    const Case cases[] = {
        {"locals end with their call",
         "write Local.put();\nwrite Local.get();\n"
         "function put() set Local.x = 'kept'; return 'p'; endfunction\n"
         "function get() return Local.x; endfunction\n",
         kSspError, "p", std::string(g_msg.m_localVarNotDefined) + "x"},
        {"declared objects end with their call",
         "write Local.a() || Local.d();\n"
         "function a() array t; t.Add(1); return t.GetSize(); endfunction\n"
         "function d() datetime t(2001, 2, 3); return t.getYear(); endfunction\n",
         kSspDone, "12001", ""},
        {"an if left by return is not open in the next call",
         "write Local.r(1);\nwrite Local.plain();\n"
         "function r(n) if (arg.n) return 'r'; endif return 'no'; endfunction\n"
         "function plain() write 'p'; endfunction\n",
         kSspDone, "rp", ""},
        {"a loop left by return is not open in the next call",
         "write Local.w();\nwrite Local.plain();\n"
         "function w() while (1) return 'w'; endwhile endfunction\n"
         "function plain() write 'p'; endfunction\n",
         kSspDone, "wp", ""},
        {"calls in argument lists while the outer list is half made",
         "write Local.j(Local.j('a', 'b'), Local.j('c', Local.j('d', 'e'))) || ' ' || "
         "Local.sum(4);\n"
         "function j(x, y) return arg.x || arg.y; endfunction\n"
         "function add(a, b) return arg.a + arg.b; endfunction\n"
         "function sum(n) if (arg.n < 1) return 0; endif "
         "return Local.add(arg.n, Local.sum(arg.n - 1)); endfunction\n",
         kSspDone, "abcde 10", ""},
        {"a shorter argument list after a longer one",
         "write Local.two(1, 2);\nwrite Local.two(3);\n"
         "function two(a, b) return arg.a || arg.b; endfunction\n",
         kSspError, "12", "Argument not found in function call statement."},
        {"a call without return gives its argument nothing an earlier argument held",
         "write Local.echo('stale') || '[' || Local.echo(Local.none()) || ']';\n"
         "function echo(v) return arg.v; endfunction\n"
         "function none() write ''; endfunction\n",
         kSspDone, "stale[]", ""},
        {"nor to a one-argument sum whose side it is",
         "write Local.echo(8) || '[' || Local.echo(1 + Local.none()) || ']';\n"
         "function echo(v) return arg.v; endfunction\n"
         "function none() write ''; endfunction\n",
         kSspDone, "8[1]", ""},
        {"calls at one depth from places that take turns run each place's function",
         "set Local.i = 0;\n"
         "while (Local.i < 6) set Local.i = Local.i + 1; write Local.pick(Local.i % 2); endwhile\n"
         "function pick(n) if (arg.n = 1) return Local.a(arg.n); endif "
         "return Local.b(arg.n); endfunction\n"
         "function a(x) return 'a' || arg.x; endfunction\n"
         "function b(y) return 'b' || arg.y; endfunction\n",
         kSspDone, "a1b0a1b0a1b0", ""},
        {"a name in another case finds the same function, called again",
         "write Local.twice() || Local.twice();\n"
         "function twice() return Local.f(1) || Local.F(2) || Local.f(3); endfunction\n"
         "function f(n) return arg.n; endfunction\n",
         kSspDone, "123123", ""},
        {"a worked argument alone, called again, lacks the parameter after it",
         "set Local.i = 0;\n"
         "while (Local.i < 6) set Local.i = Local.i + 1; write Local.g(Local.i); endwhile\n"
         "function g(n) return Local.two(arg.n + 1); endfunction\n"
         "function two(a, b) if (arg.a < 6) return arg.a; endif return arg.b; endfunction\n",
         kSspError, "2345",
         " (4,62): \r\nfunction two(a, b) if (arg.a < 6) return arg.a; endif return arg.b; "
         "endfunction\r\n\r\nArgument not found in function call statement."},
        {"a worked argument that fails on a later call names its place",
         "set Local.i = 5;\n"
         "while (Local.i > 0) set Local.i = Local.i - 1; write Local.g(Local.i); endwhile\n"
         "function g(n) return Local.h(12 / arg.n); endfunction\n"
         "function h(x) return arg.x; endfunction\n",
         kSspError, "34612",
         " (3,33): \r\nfunction g(n) return Local.h(12 / arg.n); endfunction\r\n\r\n"
         "Operation not allowed on these operands."},
        {"an array result, twice",
         "array r = Local.fill(3);\narray s = Local.fill(1);\n"
         "write r.GetSize() || s.GetSize();\n"
         "function fill(n) array t; set Local.i = 0; "
         "while (Local.i < arg.n) t.Add(Local.i); set Local.i = Local.i + 1; endwhile "
         "return t; endfunction\n",
         kSspDone, "31", ""},
        {"an error in a later call names its own place",
         "write Local.q(5);\nwrite Local.q(0);\nfunction q(n)\n  return 10 / arg.n; endfunction\n",
         kSspError, "2",
         " (4,13): \r\n  return 10 / arg.n; endfunction\r\n\r\n"
         "Operation not allowed on these operands."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSspRunResult r = RunSspText(c.text, false);
        EXPECT_EQ(r.m_code, c.code) << r.m_error;
        EXPECT_EQ(r.m_output, c.output);
        ASSERT_GE(r.m_error.size(), c.error.size()) << r.m_error;
        EXPECT_EQ(r.m_error.substr(r.m_error.size() - c.error.size()), c.error) << r.m_error;
    }
}

// Runs /app/page.zrp under `root` at `url` as a page that declared the file object m over
// `lib`.
int RunPageWithLib(const std::string& root, CSspInterpreter& page, CSspMemoryResponse& output,
                   const std::string& lib = "/app/lib.zrs",
                   const std::string& url = "/app/page.zrp") {
    auto file = std::make_unique<CSspFile>("m", root);
    file->SetServerFile(lib, &page);
    page.m_declared.push_back(CSspDeclared{CSspDeclKind::File, "m", nullptr, std::move(file)});
    return page.RunPage(root + "/webroot/app/page.zrp", url, nullptr, &output);
}

// A file object's functions call the functions of its file, the page's those of the page, even
// when both have one of the same name and their calls take turns. A file object over the
// page's own file runs it at a URL of its own: each call sees the URL of its caller.
TEST(FunctionCallTest, FileObjectAndPageCallTheirOwnFunctions) {
    struct Case {
        const char* name;
        const char* lib;  // the file object's file; nullptr for the page's own
        const char* page;
        const char* url;  // of the page's run
        const char* output;
    };
    const Case cases[] = {
        {"a function of the same name in each file",
         "function name() return 'lib'; endfunction\n"
         "function who() return Local.name() || Local.name(); endfunction\n",
         "<!--{ write m.who() || Local.name() || m.who() || Local.name();\n"
         "function name() return 'page'; endfunction }-->",
         "/app/page.zrp", "liblibpageliblibpage"},
        {"one file at two URLs", nullptr,
         "<!--{ write Local.u() || ' ' || m.w() || ' ' || Local.u() || ' ' || m.w();\n"
         "function u() return Local.url() || Local.urlPath(); endfunction\n"
         "function w() return Local.u(); endfunction }-->",
         "/alias/page.zrp",
         "/alias/page.zrp/alias/ /app/page.zrp/app/ /alias/page.zrp/alias/ /app/page.zrp/app/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CTempFolder folder;
        const std::string root = folder.Path();
        std::filesystem::create_directories(root + "/webroot/app");
        if (c.lib != nullptr) {
            WriteFile(root + "/webroot/app/lib.zrs", c.lib);
        }
        WriteFile(root + "/webroot/app/page.zrp", c.page);
        CSspInterpreter page;
        CSspMemoryResponse output;
        EXPECT_EQ(RunPageWithLib(root, page, output,
                                 c.lib != nullptr ? "/app/lib.zrs" : "/app/page.zrp", c.url),
                  kSspDone)
            << page.m_strError;
        EXPECT_EQ(output.m_output, c.output);
    }
}

// An error in a function names the file of that function, whichever file's function the
// interpreter that runs it ran before.
TEST(FunctionCallTest, AnErrorNamesTheFileOfItsFunction) {
    const CTempFolder folder;
    const std::string root = folder.Path();
    std::filesystem::create_directories(root + "/webroot/app");
    WriteFile(root + "/webroot/app/lib.zrs",
              "function name() return 'lib'; endfunction\n"
              "function who() return Local.name(); endfunction\n"
              "function bad() return Local.nothing; endfunction\n"
              "function whobad() return Local.bad(); endfunction\n");
    const struct {
        const char* call;
        const char* file;  // of the error
    } cases[] = {
        {"m.who() || Local.name() || m.who() || Local.bad()", "page.zrp"},
        {"Local.name() || m.who() || Local.name() || m.whobad()", "lib.zrs"},
    };
    for (const auto& c : cases) {
        WriteFile(root + "/webroot/app/page.zrp",
                  std::string("<!--{ write ") + c.call +
                      ";\nfunction name() return 'page'; endfunction\n"
                      "function bad() return Local.nothing; endfunction }-->");
        CSspInterpreter page;
        CSspMemoryResponse output;
        EXPECT_EQ(RunPageWithLib(root, page, output), kSspError) << c.call;
        // The innermost place of the nested error text is the failing function's.
        const std::string folderText = root + "/webroot/app/";
        const std::size_t innermost = page.m_strError.rfind(folderText);
        ASSERT_NE(innermost, std::string::npos) << page.m_strError;
        EXPECT_EQ(page.m_strError.substr(innermost + folderText.size()),
                  std::string(c.file) +
                      " (3,23): \r\nfunction bad() return Local.nothing; endfunction" +
                      (std::string(c.file) == "page.zrp" ? " }-->" : "") +
                      "\r\n\r\nLocal variable not defined. Use a set statement to define "
                      "it: nothing");
    }
}

// What a debugger sees of each called function's interpreter as it binds to its file.
class CCallHooks : public CSspDebugHooks {
public:
    void AttachInterpreter(CSspInterpreter& interp) override {
        m_events.push_back("attach " + std::to_string(interp.m_nDepth) + " '" +
                           interp.m_strErrorUrl + "' " + (interp.m_pChild ? "child " : "") +
                           (interp.m_winThread == std::this_thread::get_id() ? "here" : "away"));
    }
    void DetachInterpreter(CSspInterpreter& interp) override {
        m_events.push_back("detach " + std::to_string(interp.m_nErrorOffset));
    }
    bool BeforeStatement(CSspInterpreter& interp) override {
        // A debugger may evaluate a watch from another thread while the run waits.
        if (&interp == interp.m_pRoot && interp.GetCurrentLine() == 2 && m_watch.empty()) {
            std::thread watcher([&] { m_watch = interp.EvaluateWatch("Local.bad()"); });
            watcher.join();
        }
        return false;
    }
    bool BeforeLiteralText(CSspInterpreter&) override { return false; }

    std::vector<std::string> m_events;
    std::string m_watch;
};

TEST(FunctionCallTest, DebuggerSeesEveryCallAsANewInterpreter) {
    const CTempFolder folder;
    const std::string text =
        "write Local.mark();\nwrite Local.plain(1);\n"
        "function mark() Local.setErrorFile('/oops.zrp'); return 'm'; endfunction\n"
        "function plain(n) return arg.n; endfunction\n"
        "function bad() return bar.x; endfunction\n";
    const std::string path = folder.File("calls.zrs");
    WriteFile(path, text);
    CCallHooks hooks;
    CSspDebugHooks::Install(&hooks);
    CSspRunResult r = RunSspFile(path, "/script/calls.zrs");
    CSspDebugHooks::Install(nullptr);
    EXPECT_EQ(r.m_code, kSspDone) << r.m_error;
    EXPECT_EQ(r.m_output, "m1");
    EXPECT_NE(hooks.m_watch.find("Unknown Object: bar"), std::string::npos) << hooks.m_watch;
    // The watch's call binds on the watcher's thread; each call starts with no error page, no
    // child and no error, whatever the one before it left.
    const std::string bar = std::to_string(text.find("bar.x"));
    EXPECT_EQ(hooks.m_events,
              (std::vector<std::string>{"attach 0 '' here", "attach 1 '' here", "detach -1",
                                        "attach 1 '' here", "detach " + bar, "attach 1 '' here",
                                        "detach -1", "detach -1"}));
}

// A debugger that comes while a page runs sees every call from then on, also those of a
// function called before it came.
TEST(FunctionCallTest, DebuggerThatComesDuringARunSeesTheCallsAfter) {
    // Installs the hooks once the first value is written.
    class CInstallingResponse : public CSspMemoryResponse {
    public:
        explicit CInstallingResponse(CSspDebugHooks& hooks) : m_hooks(hooks) {}
        void WriteValue(const CSspValue& value) override {
            CSspMemoryResponse::WriteValue(value);
            CSspDebugHooks::Install(&m_hooks);
        }

    private:
        CSspDebugHooks& m_hooks;
    };
    const CTempFolder folder;
    const std::string path = folder.File("late.zrs");
    WriteFile(path,
              "write Local.a(1);\nwrite Local.a(2);\nwrite Local.a(3);\n"
              "function a(n) return arg.n; endfunction\n");
    CCallHooks hooks;
    CInstallingResponse response(hooks);
    CSspInterpreter interp;
    const int rc = interp.RunPage(path, "/script/late.zrs", nullptr, &response);
    CSspDebugHooks::Install(nullptr);
    EXPECT_EQ(rc, kSspDone) << interp.m_strError;
    EXPECT_EQ(response.m_output, "123");
    EXPECT_EQ(hooks.m_events, (std::vector<std::string>{"attach 1 '' here", "detach -1",
                                                        "attach 1 '' here", "detach -1"}));
}

}  // namespace
