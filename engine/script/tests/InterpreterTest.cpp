#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/LogSink.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspErrorLocation.h"
#include "engine/script/SspHarness.h"
#include "engine/script/SspInterpreter.h"
#include "engine/testsupport/CapturedLog.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

// Asks the run to stop once it has written `limit` values.
class CStoppingResponse : public CSspMemoryResponse {
public:
    CStoppingResponse(CSspInterpreter& interp, int limit) : m_interp(interp), m_limit(limit) {}
    void WriteValue(const CSspValue& value) override {
        CSspMemoryResponse::WriteValue(value);
        if (++m_writes == m_limit) {
            m_interp.RequestStop();
        }
    }

private:
    CSspInterpreter& m_interp;
    int m_limit;
    int m_writes = 0;
};

std::string Repeat(const std::string& piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += piece;
    }
    return out;
}

std::string TempScript(const std::string& text) {
    static const CTempFolder folder;
    std::string path = folder.File(
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".zrs");
    WriteFile(path, text);
    return path;
}

TEST(InterpreterTest, EndlessLoopStopsBeforeNextStatement) {
    // Five writes, then the stop: also through a function, and between long statements.
    const std::pair<std::string, std::string> cases[] = {
        {"while (1) write 'x'; endwhile", "xxxxx"},
        {"write Local.spin(0);\nfunction spin(n) while (1) write 'y'; endwhile endfunction",
         "yyyyy"},
        {"while (1) write 1" + Repeat("+1", 31999) + "; endwhile", Repeat("32000", 5)},
        {"while (1) write Local.one() || 'r'; endwhile\n"
         "function one() write 'z'; return 1; endfunction",
         "z1rz1rz"},
    };
    for (const auto& [text, output] : cases) {
        std::string path = TempScript(text);
        CSspInterpreter interp;
        CStoppingResponse response(interp, 5);
        int rc = interp.RunPage(path, "/script/t.zrs", nullptr, &response);
        EXPECT_EQ(rc, kSspStopped) << text.substr(0, 40) << interp.m_strError;
        EXPECT_EQ(response.m_output, output) << text.substr(0, 40);
    }
}

// A loop whose statements only compute, run again from what its first pass kept, still
// looks for a stop asked from another thread on every pass.
TEST(InterpreterTest, ComputingLoopStopsWhenAskedFromAnotherThread) {
    // Asks from a thread of its own, a little after the first value is written.
    class CStopLater : public CSspMemoryResponse {
    public:
        explicit CStopLater(CSspInterpreter& interp) : m_interp(interp) {}
        ~CStopLater() override {
            if (m_stopper.joinable()) {
                m_stopper.join();
            }
        }
        void WriteValue(const CSspValue& value) override {
            CSspMemoryResponse::WriteValue(value);
            m_stopper = std::thread([this] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                m_interp.RequestStop();
            });
        }

    private:
        CSspInterpreter& m_interp;
        std::thread m_stopper;
    };
    const std::string texts[] = {
        "write 'go';\nset Local.i = 0;\nwhile (1 = 1)\n  set Local.i = Local.i + 1;\nendwhile\n",
        "Local.spin(0);\nfunction spin(n)\n  write 'go';\n  set Local.i = arg.n;\n"
        "  while (Local.i >= arg.n)\n    set Local.i = Local.i + 0;\n  endwhile\nendfunction\n",
    };
    for (const std::string& text : texts) {
        std::string path = TempScript(text);
        CSspInterpreter interp;
        CStopLater response(interp);
        int rc = interp.RunPage(path, "/script/t.zrs", nullptr, &response);
        EXPECT_EQ(rc, kSspStopped) << text << interp.m_strError;
    }
}

// Dumps the chain's position the first time a value is written.
class CDumpingResponse : public CSspMemoryResponse {
public:
    explicit CDumpingResponse(CSspInterpreter& interp) : m_interp(interp) {}
    void WriteValue(const CSspValue& value) override {
        CSspMemoryResponse::WriteValue(value);
        if (!m_dumped) {
            m_dumped = true;
            m_interp.DumpPosition();
        }
    }

private:
    CSspInterpreter& m_interp;
    bool m_dumped = false;
};

TEST(InterpreterTest, DumpPositionNamesEveryCallOfTheChain) {
    struct CCase {
        const char* m_text;
        int m_callOffset;   // where the root stands after its call statement
        int m_writeOffset;  // where the function stands after its write
    };
    const CCase cases[] = {
        {"set Local.a = 1;\nLocal.f(1);\nfunction f(x) write 'x'; endfunction\n", 28, 11},
        // The function's interpreter ran one that called another before: its run now has no
        // call under it.
        {"Local.g(0);\nLocal.f(1);\nfunction f(x) write 'x'; endfunction\n"
         "function g(x) Local.h(0); endfunction\nfunction h(x) endfunction\n",
         23, 11},
    };
    for (const CCase& c : cases) {
        std::string path = TempScript(c.m_text);
        auto log = std::make_unique<CCapturedLog>(g_log);
        CSspInterpreter interp;
        CDumpingResponse response(interp);
        int rc = interp.RunPage(path, "/script/t.zrs", nullptr, &response);
        const std::vector<std::string> lines = log->Entries();
        log.reset();
        EXPECT_EQ(rc, kSspDone) << interp.m_strError;
        ASSERT_EQ(lines.size(), 2u) << c.m_text;
        EXPECT_EQ(lines[0].find("File: " + path + " called a function at offset " +
                                std::to_string(c.m_callOffset) + "."),
                  0u)
            << lines[0];
        EXPECT_EQ(lines[1].find("File: " + path + " hanged before offset " +
                                std::to_string(c.m_writeOffset) + "."),
                  0u)
            << lines[1];
    }
}

// Evaluates watch expressions the first time a value is written, as the paused studio does.
class CWatchingResponse : public CSspMemoryResponse {
public:
    explicit CWatchingResponse(CSspInterpreter& interp) : m_interp(interp) {}
    void WriteValue(const CSspValue& value) override {
        CSspMemoryResponse::WriteValue(value);
        if (m_watches.empty()) {
            for (const char* expression : {"Local.a * 10 + 1", "bar.x", "(1", "Local.f(4)"}) {
                m_watches.push_back(m_interp.EvaluateWatch(expression));
            }
        }
    }
    std::vector<std::string> m_watches;

private:
    CSspInterpreter& m_interp;
};

TEST(InterpreterTest, WatchEvaluatesWithoutDisturbingTheRun) {
    std::string path = TempScript(
        "set Local.a = 4;\nwrite Local.a;\nwrite Local.a + 1;\n"
        "function f(x) return arg.x * 2; endfunction\n");
    CSspInterpreter interp;
    CWatchingResponse response(interp);
    int rc = interp.RunPage(path, "/script/t.zrs", nullptr, &response);
    EXPECT_EQ(rc, kSspDone) << interp.m_strError;
    EXPECT_EQ(response.m_output, "45");
    EXPECT_EQ(response.m_watches,
              (std::vector<std::string>{"41", "Unknown Object: bar", "Missing ending )", "8"}));
    EXPECT_EQ(interp.m_strError, "");
}

TEST(InterpreterTest, LoopErrorReportsItsPlaceOnEveryPass) {
    // The statement is scanned once and then taken from the token cache; the error on the
    // third pass must still name its own line and column.
    CSspRunResult r = RunSspText(
        "set Local.i = 0;\nwhile (Local.i < 5)\n  write 10 / (2 - Local.i);\n"
        "  set Local.i = Local.i + 1;\nendwhile\n",
        false);
    EXPECT_EQ(r.m_code, kSspError);
    EXPECT_EQ(r.m_output, "510");
    EXPECT_NE(r.m_error.find(" (3,12): \r\n  write 10 / (2 - Local.i);\r\n\r\n"
                             "Operation not allowed on these operands."),
              std::string::npos)
        << r.m_error;
}

TEST(InterpreterTest, ParenthesisedCallRunsOnce) {
    CSspRunResult twice = RunSspText(
        "write (Local.say('a')) || '|';\nfunction say(t) write arg.t; return arg.t; endfunction\n",
        false);
    EXPECT_EQ(twice.m_output, "aa|");  // once by the function, once by the caller
}

TEST(InterpreterTest, FunctionErrorNamesItsFileLineWithinCallersError) {
    CSspRunResult r = RunSspText(
        "A--{ Local.f(1); }--\n<!--{ function f(a)\n  return bar.x; endfunction }-->", true);
    EXPECT_EQ(r.m_code, kSspError);
    // The caller's place first, then the function's, both counted in the file.
    std::size_t outer = r.m_error.find(" (1,6): \r\nA--{ Local.f(1); }--\r\n\r\n");
    std::size_t inner = r.m_error.find(
        " (3,10): \r\n  return bar.x; endfunction }-->\r\n\r\n"
        "Unknown Object: bar");
    EXPECT_NE(outer, std::string::npos) << r.m_error;
    EXPECT_NE(inner, std::string::npos) << r.m_error;
    EXPECT_LT(outer, inner);
}

// Statements of tens of thousands of tokens give their results (the evaluator is linear in
// them); parentheses nest past 255 levels; call arguments nest at most as deep as calls.
TEST(InterpreterTest, LongStatementsEvaluate) {
    struct Case {
        std::string text;
        const char* output;
        const char* error;  // the end of the error text, or nullptr
    };
    const Case cases[] = {
        {"write 1" + Repeat("+1", 31999) + ";", "32000", nullptr},
        {"write 2" + Repeat("*1", 31999) + Repeat("-1", 1000) + ";", "-998", nullptr},
        {Repeat("if (1) ", 20000) + "write 'in';" + Repeat(" endif", 20000), "in", nullptr},
        {Repeat("if (0) ", 20000) + "write 'in';" + Repeat(" endif", 20000), "", nullptr},
        {"if (1" + Repeat(" and 1", 20000) + ") write 'all'; endif", "all", nullptr},
        {"write " + Repeat("(1+", 300) + "1" + Repeat(")", 300) + ";", "301", nullptr},
        {"write " + Repeat("(", 20000) + "7" + Repeat(")", 20000) + ";", "7", nullptr},
        {"write " + Repeat("To.upper(", 200) + "'a'" + Repeat(")", 200) + ";", "A", nullptr},
        {"write " + Repeat("To.upper(", 201) + "'a'" + Repeat(")", 201) + ";", "",
         "Function calls are nested too deeply (more than 200 levels)."},
    };
    for (const Case& c : cases) {
        CSspRunResult r = RunSspText(c.text, false);
        EXPECT_EQ(r.m_output, c.output) << c.text.substr(0, 40);
        if (c.error == nullptr) {
            EXPECT_EQ(r.m_code, kSspDone) << r.m_error.substr(0, 200);
        } else {
            EXPECT_EQ(r.m_code, kSspError);
            EXPECT_TRUE(r.m_error.ends_with(c.error)) << r.m_error.substr(0, 200);
        }
    }
}

// The deepest parentheses are evaluated first, whatever their place: calls run in that order.
TEST(InterpreterTest, DeepestParenthesesRunFirst) {
    CSspRunResult r = RunSspText(
        "write (Local.a(1)) + ((Local.b(2)));\n"
        "function a(x) write 'a'; return arg.x; endfunction\n"
        "function b(x) write 'b'; return arg.x; endfunction\n",
        false);
    EXPECT_EQ(r.m_code, kSspDone) << r.m_error;
    EXPECT_EQ(r.m_output, "ba3");
}

TEST(InterpreterTest, PercentIsDoubledOnceThroughCalls) {
    CSspRunResult r = RunSspText(
        "write Local.a(1);\nfunction a(x) return Local.b(1); endfunction\n"
        "function b(x) return 3 * -2; endfunction\n",
        false);
    EXPECT_EQ(r.m_code, kSspError);
    std::size_t at = r.m_error.find("*/%%+-.");
    EXPECT_NE(at, std::string::npos) << r.m_error;
    EXPECT_EQ(r.m_error.find("%%%"), std::string::npos) << r.m_error;
}

TEST(InterpreterTest, RecursionEndsInDepthErrorAndProcessLives) {
    CSspRunResult r = RunSspText(
        "--{ Local.f(1); }--<!--{ function f(n) return Local.f(arg.n + 1) + 1; endfunction }-->",
        true);
    EXPECT_EQ(r.m_code, kSspError);
    EXPECT_NE(r.m_error.find("Function calls are nested too deeply (more than 200 levels)."),
              std::string::npos);
    // Each level of the chain adds its call's place to the text.
    std::size_t levels = 0;
    for (std::size_t at = r.m_error.find("): \r\n"); at != std::string::npos;
         at = r.m_error.find("): \r\n", at + 1)) {
        ++levels;
    }
    EXPECT_EQ(levels, static_cast<std::size_t>(CSspInterpreter::kMaxCallDepth) + 1);

    CSspRunResult after = RunSspText("--{ 1 + 1; }--", true);
    EXPECT_EQ(after.m_output, "2");
}

TEST(InterpreterTest, MissingFileIsAnErrorRun) {
    CSspRunResult r = RunSspFile("/nonexistent/dir/page.zrp");
    EXPECT_EQ(r.m_code, kSspError);
    EXPECT_EQ(r.m_error.rfind("Failed to open file:  [/nonexistent/dir/page.zrp]. ", 0), 0u);
}

TEST(ErrorLocationTest, LinesAndColumns) {
    const std::string text = "one\r\ntwo\nthree";
    struct Case {
        int offset;
        int line;
        int column;
        const char* lineText;
    } cases[] = {{0, 1, 1, "one"}, {3, 1, 4, "one"},   {4, 1, 5, "one"},
                 {5, 2, 1, "two"}, {9, 3, 1, "three"}, {14, 3, 6, "three"}};
    for (const Case& c : cases) {
        CSspErrorLocation loc =
            LocateSspError(text.data(), text.data() + text.size(), text.data() + c.offset);
        EXPECT_EQ(loc.m_line, c.line) << c.offset;
        EXPECT_EQ(loc.m_column, c.column) << c.offset;
        EXPECT_EQ(loc.m_lineText, c.lineText) << c.offset;
    }
}

TEST(ErrorLocationTest, FormatsOrPassesThrough) {
    const std::string text = "ab\ncd 50%";
    const char* b = text.data();
    const char* e = b + text.size();
    EXPECT_EQ(FormatSspError("/p.zrp", b, e, b + 4, "bad 5%"),
              "/p.zrp (2,2): \r\ncd 50%\r\n\r\nbad 5%%");
    EXPECT_EQ(FormatSspError("/p.zrp", b, e, nullptr, "bad 5%"), "bad 5%");
    EXPECT_EQ(FormatSspError("/p.zrp", b, e, e + 1, "outside"), "outside");
}

}  // namespace
