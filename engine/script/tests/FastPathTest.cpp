#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "engine/script/SspHarness.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

// The message of an error text, without the place it names (shapes that take different
// paths put the operator at different columns).
std::string Message(const std::string& error) {
    std::size_t at = error.rfind("\r\n\r\n");
    return at == std::string::npos ? error : error.substr(at + 4);
}

// The line and column an error text names, without its file (each run has its own).
std::string Place(const std::string& error) {
    const std::size_t end = error.find("): ");
    const std::size_t start = error.rfind(" (", end);
    return end == std::string::npos || start == std::string::npos
               ? error
               : error.substr(start, end + 1 - start);
}

// What `a op b` gives as a value, assigned to a variable, and as a condition must not depend
// on whether the operands make a plain shape (worked directly for integers) or not (the
// plan and the values' own operators): each program is run in both shapes and the outputs
// and error messages compared, over operands of every kind a script can make.
TEST(FastPathTest, PlainShapesGiveWhatThePlanGives) {
    const std::vector<std::string> operands = {"0",          "1",           "-7",         "13",
                                               "2147483647", "-2147483647", "1246576927", "2.5",
                                               "null",       "'12'",        "'ab'",       "''"};
    const std::vector<std::string> arithmetic = {"+", "-", "*", "/", "%", "||"};
    const std::vector<std::string> comparisons = {"<", "<=", ">", ">=", "=", "==", "!=", "<>"};
    for (const std::string& a : operands) {
        for (const std::string& b : operands) {
            const std::string set = "set Local.a = " + a + "; set Local.b = " + b + ";\n";
            std::vector<std::pair<std::string, std::string>> pairs;
            for (const std::string& op : arithmetic) {
                pairs.emplace_back(set + "write Local.a " + op + " Local.b;",
                                   set + "write Local.a " + op + " (Local.b);");
                pairs.emplace_back(
                    set + "set Local.r = Local.a " + op + " Local.b; write Local.r;",
                    set + "set Local.r = Local.a " + op + " (Local.b); write Local.r;");
                // A negative literal is a unary minus in its own right: not this shape.
                if (b[0] != '-' && a[0] != '-') {
                    pairs.emplace_back("write " + a + " " + op + " " + b + ";",
                                       "write " + a + " " + op + " (" + b + ");");
                }
                // A literal on the right, which the shape may know to be an integer.
                if (b[0] != '-') {
                    pairs.emplace_back(set + "write Local.a " + op + " " + b + ";",
                                       set + "write Local.a " + op + " (" + b + ");");
                }
            }
            const std::string id = "\nfunction id(v) return arg.v; endfunction";
            for (const char* op : {"+", "-", "*", "/"}) {
                // Sides read by calls.
                pairs.emplace_back(
                    "write Local.id(" + a + ") " + op + " Local.id(" + b + ");" + id,
                    "write Local.id(" + a + ") " + op + " (Local.id(" + b + "));" + id);
            }
            for (const std::string& op : comparisons) {
                pairs.emplace_back(
                    set + "if (Local.a " + op + " Local.b) write 'y'; else write 'n'; endif",
                    set + "if (Local.a " + op +
                        " Local.b and 1 = 1) write 'y'; else write 'n'; endif");
                if (b[0] != '-') {
                    pairs.emplace_back(
                        set + "if (Local.a " + op + " " + b + ") write 'y'; else write 'n'; endif",
                        set + "if (Local.a " + op + " " + b +
                            " and 1 = 1) write 'y'; else write 'n'; endif");
                }
            }
            for (const auto& [plain, planned] : pairs) {
                CSspRunResult fast = RunSspText(plain, false);
                CSspRunResult slow = RunSspText(planned, false);
                EXPECT_EQ(fast.m_code, slow.m_code) << plain;
                EXPECT_EQ(fast.m_output, slow.m_output) << plain;
                EXPECT_EQ(Message(fast.m_error), Message(slow.m_error)) << plain;
            }
        }
    }
}

// Neither side defined: the plan reads the left side first, so its variable is the one named,
// in every place a plain shape can stand (the longer form of each takes the plan).
TEST(FastPathTest, AnUndefinedSideIsNamedInThePlansOrder) {
    const std::string f = "\nfunction f(a) return arg.a; endfunction";
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"write Local.x + Local.y;", "write Local.x + Local.y + 0;"},
        {"set Local.r = Local.x * Local.y;", "set Local.r = Local.x * Local.y * 1;"},
        {"if (Local.x < Local.y) write 1; endif",
         "if (Local.x < Local.y and 1 = 1) write 1; endif"},
        {"write Local.f(Local.x - Local.y);" + f, "write Local.f(Local.x - Local.y - 0);" + f},
        {"return Local.x || Local.y;", "return Local.x || Local.y || '';"},
    };
    for (const auto& [plain, planned] : pairs) {
        CSspRunResult fast = RunSspText(plain, false);
        CSspRunResult slow = RunSspText(planned, false);
        EXPECT_EQ(slow.m_code, fast.m_code) << plain;
        EXPECT_NE(Message(slow.m_error).find(": x"), std::string::npos) << slow.m_error;
        EXPECT_EQ(Message(fast.m_error), Message(slow.m_error)) << plain;
    }
}

// Loops and function bodies run again over the statements read on their first pass; what
// they write must be what each pass computes, including branches first taken late in the
// loop, loops inside loops, breaks, continues and calls that recurse.
TEST(FastPathTest, LoopsAndCallsRunAgainOverWhatWasRead) {
    const std::string program =
        "set Local.i = 0;\n"
        "while (Local.i < 40)\n"
        "  set Local.i = Local.i + 1;\n"
        "  if (Local.i % 15 = 0) write 'FB';\n"
        "  elseif (Local.i % 5 = 0) write 'B';\n"
        "  elseif (Local.i % 3 = 0) write 'F';\n"
        "  else\n"
        "    if (Local.i = 37) continue; endif\n"
        "    write Local.i;\n"
        "  endif\n"
        "  if (Local.i > 30) set Local.j = 0;\n"
        "    while (1 = 1)\n"
        "      set Local.j = Local.j + 1;\n"
        "      if (Local.j > 2) break; endif\n"
        "      write '.';\n"
        "    endwhile\n"
        "  endif\n"
        "  write ',';\n"
        "endwhile\n"
        "write Local.fib(12);\n"
        "function fib(n)\n"
        "  if (arg.n < 2) return arg.n; endif\n"
        "  return Local.fib(arg.n - 1) + Local.fib(arg.n - 2);\n"
        "endfunction\n";
    std::string expected;
    for (int i = 1; i <= 40; ++i) {
        if (i % 15 == 0) {
            expected += "FB";
        } else if (i % 5 == 0) {
            expected += "B";
        } else if (i % 3 == 0) {
            expected += "F";
        } else if (i == 37) {
            continue;
        } else {
            expected += std::to_string(i);
        }
        if (i > 30) {
            expected += "..";
        }
        expected += ",";
    }
    expected += "144";
    CSspRunResult result = RunSspText(program, false);
    EXPECT_EQ(result.m_error, "");
    EXPECT_EQ(result.m_output, expected);
}

// A function body without loops keeps its open ifs itself once it has run: each body is
// called over and over in orders that reach its branches late, so that some of its jumps are
// known to the region and some are not, and what it writes must be what the text says.
TEST(FastPathTest, BodiesWithoutLoopsTakeTheirBranchesAsTheTextSays) {
    const std::string pick =
        "function pick(n)\n"
        "  if (arg.n < 3)\n"
        "    if (arg.n = 0) write 'z'; elseif (arg.n = 1) write 'o'; else write 't'; endif\n"
        "    set Local.r = 'small';\n"
        "  elseif (arg.n < 6)\n"
        "    if (arg.n % 2 = 0) return 'even'; endif\n"
        "    set Local.r = 'odd';\n"
        "  else\n"
        "    write '!';\n"
        "    set Local.r = 'big';\n"
        "  endif\n"
        "  return Local.r;\n"
        "endfunction\n"
        // A branch after an else is taken as the reading takes it.
        "function late(n)\n"
        "  if (arg.n = 0) write 'a'; else write 'b'; elseif (arg.n = 1) write 'c'; endif\n"
        "  return '.';\n"
        "endfunction\n"
        // No return: the body's end is read past its last endif.
        "function tail(n)\n"
        "  if (arg.n = 1) write 'one'; elseif (arg.n = 2) write 'two'; else write 'x'; endif\n"
        "endfunction\n";
    auto tailOf = [](int n) -> std::string { return n == 1 ? "one" : n == 2 ? "two" : "x"; };
    // What each call writes, then what it gives.
    auto pickOf = [](int n) -> std::pair<std::string, std::string> {
        if (n < 3) {
            return {n == 0 ? "z" : n == 1 ? "o" : "t", "small"};
        }
        if (n < 6) {
            return {"", n % 2 == 0 ? "even" : "odd"};
        }
        return {"!", "big"};
    };
    auto lateOf = [](int n) -> std::string { return n == 0 ? "a" : n == 1 ? "bc" : "b"; };
    // Nested ifs as deep as a body keeps itself and one deeper.
    auto deep = [](int depth) {
        std::string body = "function deep" + std::to_string(depth) + "(n)\n";
        for (int k = 0; k < depth; ++k) {
            body += "if (arg.n > " + std::to_string(k) + ") write '" + std::to_string(k) + "';\n";
        }
        for (int k = 0; k < depth; ++k) {
            body += k % 2 == 0 ? "endif\n" : "else write '-'; endif\n";
        }
        return body + "return '.';\nendfunction\n";
    };
    auto deepOf = [](int depth, int n) {
        std::string out;
        const int reached = std::min(n, depth);
        for (int k = 0; k < reached; ++k) {
            out += std::to_string(k);
        }
        // The if that failed has an else when an odd number of endifs close it.
        if (reached < depth && (depth - 1 - reached) % 2 == 1) {
            out += "-";
        }
        return out;
    };
    const std::vector<std::vector<int>> orders = {
        {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7},
        {7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0},
        {1, 1, 1, 1, 1, 1, 4, 4, 4, 4, 4, 4, 0, 0, 0, 0, 9, 9, 9, 9, 2, 3, 5, 8},
        {9, 9, 9, 9, 9, 9, 9, 9, 0, 0, 0, 0, 0, 0, 0, 0, 3, 1, 8, 4, 6, 2, 7, 5},
    };
    for (std::size_t o = 0; o < orders.size(); ++o) {
        std::string program = "write ';';\n";
        std::string expected = ";";
        for (int n : orders[o]) {
            const std::string arg = std::to_string(n);
            program += "write Local.pick(" + arg + ") || Local.late(" + arg + ") || ',';\n";
            program += "write Local.deep8(" + arg + ") || Local.deep9(" + arg + ") || ';';\n";
            program += "set Local.t = Local.tail(" + arg + ");\n";
            const auto [writes, gives] = pickOf(n);
            expected += writes + lateOf(n) + gives + ".,";
            expected += deepOf(8, n) + deepOf(9, n) + "..;" + tailOf(n);
        }
        program = "<!--{" + program + pick + deep(8) + deep(9) + "}-->";
        CSspRunResult result = RunSspText(program);
        EXPECT_EQ(result.m_error, "") << "order " << o;
        EXPECT_EQ(result.m_output, expected) << "order " << o;
    }
}

// An error in a body that keeps its open ifs itself names the place the reading names.
TEST(FastPathTest, AnErrorInABodyWithoutLoopsNamesItsPlace) {
    const std::string body =
        "function e(n)\n"
        "  if (arg.n > 1)\n"
        "    if (arg.n > 4) write 'big'; elseif (Local.u) write 'u'; endif\n"
        "  else write 's';\n"
        "  endif\n"
        "  return 'e';\n"
        "endfunction\n";
    // The failing call at the same place in both.
    const CSspRunResult first = RunSspText("\nwrite Local.e(3);\n" + body, false);
    ASSERT_NE(first.m_error, "");
    const std::pair<const char*, const char*> cases[] = {
        {"write Local.e(0); write Local.e(5); write Local.e(6);", "sebigebige"},
        {"write Local.e(7); write Local.e(1); write Local.e(9);", "bigesebige"},
    };
    for (const auto& [calls, output] : cases) {
        const CSspRunResult later =
            RunSspText(std::string(calls) + "\nwrite Local.e(3);\n" + body, false);
        EXPECT_EQ(later.m_output, output) << calls;
        EXPECT_EQ(Message(later.m_error), Message(first.m_error)) << calls;
        EXPECT_EQ(Place(later.m_error), Place(first.m_error)) << calls;
    }
}

// In a page, branches that fail go on past literal text and code of both kinds: each pass
// lands where the text says, in the kind of code found there, whichever branch failed before.
TEST(FastPathTest, FailedBranchesOfAPageLoopLandWhereTheTextSays) {
    std::string mixed = "<p>";
    std::string crossing;
    for (int i = 1; i <= 12; ++i) {
        if (i % 4 == 0) {
            mixed += " [four] ";
        } else if (i % 3 == 0) {
            mixed += "three";
        } else if (i == 5) {
            mixed += "five";
        } else if (i > 9) {
            mixed += "(big)";
        } else {
            mixed += std::to_string(i);
        }
        mixed += ",";
        crossing += i % 2 == 0 ? "e[even]," : ",";
    }
    mixed += "</p>";
    struct CCase {
        std::string m_page;
        std::string m_expected;
    };
    const std::vector<CCase> cases = {
        {"<p>--{ set Local.i = 0;\n"
         "while (Local.i < 12) set Local.i = Local.i + 1;\n"
         "  if (Local.i % 4 = 0) }-- [four] --{\n"
         "  elseif (Local.i % 3 = 0) }--<!--{ write 'three'; }-->--{\n"
         "  elseif (Local.i = 5) write 'five';\n"
         "  else\n"
         "    if (Local.i > 9) }--(big)--{ else write Local.i; endif\n"
         "  endif\n"
         "  write ',';\n"
         "endwhile }--</p>",
         mixed},
        // The failed branch leaves "<!--{" code and goes on in "--{" code.
        {"<!--{ set Local.i = 0;\n"
         "while (Local.i < 12) set Local.i = Local.i + 1;\n"
         "  if (Local.i % 2 = 0) write 'e'; }-->[even]--{ endif write ','; }--<!--{\n"
         "endwhile }-->",
         crossing},
    };
    for (const CCase& c : cases) {
        CSspRunResult result = RunSspText(c.m_page, true);
        EXPECT_EQ(result.m_error, "") << c.m_page;
        EXPECT_EQ(result.m_output, c.m_expected) << c.m_page;
    }
}

// A loop whose branches are first taken on later and later passes: what the region holds
// grows pass by pass, then stops growing, and every pass still writes what it computes.
TEST(FastPathTest, ALoopWhoseBranchesJoinLateWritesEveryPass) {
    std::string program = "set Local.i = 0;\nwhile (Local.i < 30)\n  set Local.i = Local.i + 1;\n";
    for (int k = 1; k <= 25; ++k) {
        program += "  if (Local.i = " + std::to_string(k) + ") write '<" + std::to_string(k) +
                   ">'; set Local.k = Local.i * 2; write Local.k; endif\n";
    }
    program += "  write '.';\nendwhile\n";
    std::string expected;
    for (int i = 1; i <= 30; ++i) {
        if (i <= 25) {
            expected += "<" + std::to_string(i) + ">" + std::to_string(i * 2);
        }
        expected += ".";
    }
    CSspRunResult result = RunSspText(program, false);
    EXPECT_EQ(result.m_error, "");
    EXPECT_EQ(result.m_output, expected);
}

// An error raised on a late pass of a loop names its own place, as on the first pass.
TEST(FastPathTest, ErrorsOnLaterPassesKeepTheirPlaces) {
    const std::string program =
        "set Local.i = 0;\n"
        "while (Local.i < 10)\n"
        "  set Local.i = Local.i + 1;\n"
        "  set Local.d = 5 - Local.i;\n"
        "  write 10 / Local.d;\n"
        "endwhile\n";
    CSspRunResult result = RunSspText(program, false);
    EXPECT_EQ(result.m_code, 1);
    EXPECT_EQ(result.m_output, "23510");
    EXPECT_NE(
        result.m_error.find(" (5,12): \r\n  write 10 / Local.d;\r\n\r\nOperation not allowed"),
        std::string::npos)
        << result.m_error;
}

// Calls read their arguments from what the first call read: several arguments, a trailing
// comma, arguments named in another case, and a body whose branches are first taken on
// later calls, so that what its region holds grows call by call.
TEST(FastPathTest, CallsRunAgainOverWhatTheirFirstCallRead) {
    std::string program =
        "function pair(a, B, c)\n"
        "  return arg.a * 100 + arg.b * 10 + arg.C;\n"
        "endfunction\n"
        "function same(N, n)\n"
        "  return arg.n;\n"
        "endfunction\n"
        "function grow(k)\n";
    for (int k = 1; k <= 25; ++k) {
        program +=
            "  if (arg.k = " + std::to_string(k) + ") write '<" + std::to_string(k) + ">'; endif\n";
    }
    program +=
        "  return arg.k * 2;\n"
        "endfunction\n"
        "set Local.i = 0;\n"
        "while (Local.i < 30)\n"
        "  set Local.i = Local.i + 1;\n"
        "  write Local.grow(Local.i);\n"
        "  write '=';\n"
        "  write Local.pair(Local.i % 10, Local.i % 7, Local.i % 3,);\n"
        "  write Local.same(Local.i, 0);\n"
        "  write ';';\n"
        "endwhile\n";
    std::string expected;
    for (int i = 1; i <= 30; ++i) {
        if (i <= 25) {
            expected += "<" + std::to_string(i) + ">";
        }
        expected += std::to_string(i * 2) + "=" +
                    std::to_string(i % 10 * 100 + i % 7 * 10 + i % 3) + std::to_string(i) + ";";
    }
    CSspRunResult result = RunSspText(program, false);
    EXPECT_EQ(result.m_error, "");
    EXPECT_EQ(result.m_output, expected);
}

// An empty argument before a comma fails at the call, after the arguments before it ran, on
// the first call as on later ones.
TEST(FastPathTest, AnEmptyArgumentFailsAfterTheOnesBeforeIt) {
    const std::string program =
        "function w(x)\n"
        "  write arg.x;\n"
        "  return 0;\n"
        "endfunction\n"
        "function two(a, b)\n"
        "  return 0;\n"
        "endfunction\n"
        "set Local.i = 0;\n"
        "while (Local.i < 3)\n"
        "  set Local.i = Local.i + 1;\n"
        "  if (Local.i = 3) set Local.r = Local.two(Local.w('a'), , 1); endif\n"
        "  set Local.r = Local.two(Local.w(Local.i), 1);\n"
        "endwhile\n";
    CSspRunResult result = RunSspText(program, false);
    EXPECT_EQ(result.m_code, 1);
    EXPECT_EQ(result.m_output, "12a");
    EXPECT_NE(result.m_error.find(" (11,34): "), std::string::npos) << result.m_error;
}

// An argument found by its name on earlier calls is still missing from a call that leaves it
// out, and fails there.
TEST(FastPathTest, AnArgumentLeftOutOfALaterCallFails) {
    const std::string program =
        "function f(a, b)\n"
        "  return arg.a + arg.b;\n"
        "endfunction\n"
        "set Local.i = 0;\n"
        "while (Local.i < 3)\n"
        "  set Local.i = Local.i + 1;\n"
        "  if (Local.i < 3) write Local.f(Local.i, 10); else write Local.f(Local.i); endif\n"
        "endwhile\n";
    CSspRunResult result = RunSspText(program, false);
    EXPECT_EQ(result.m_code, 1);
    EXPECT_EQ(result.m_output, "1112");
    EXPECT_NE(result.m_error.find("Argument not found in function call statement."),
              std::string::npos)
        << result.m_error;
}

// A function's loop and branch records serve its next call: calls that leave the loop by
// break, by return from inside it or at its end, take other branches each time, and
// alternate with another function at the same depth, each write what they compute.
TEST(FastPathTest, FunctionsRunAgainOverTheRecordsOfTheirLastCall) {
    const std::string program =
        "function walk(n)\n"
        "  set Local.k = 0;\n"
        "  set Local.out = '';\n"
        "  while (Local.k < 10)\n"
        "    set Local.k = Local.k + 1;\n"
        "    if (Local.k > arg.n) break; endif\n"
        "    if (Local.k = 7) return 'seven' || Local.other(Local.k); endif\n"
        "    if (Local.k % 2 = 0) set Local.out = Local.out || 'e';\n"
        "    elseif (Local.k % 3 = 0) set Local.out = Local.out || 't';\n"
        "    else set Local.out = Local.out || 'o';\n"
        "    endif\n"
        "  endwhile\n"
        "  return Local.out;\n"
        "endfunction\n"
        "function other(n)\n"
        "  if (arg.n > 2) return 'x'; else return 'y'; endif\n"
        "endfunction\n"
        "set Local.i = 0;\n"
        "while (Local.i < 12)\n"
        "  set Local.i = Local.i + 1;\n"
        "  write Local.walk(Local.i % 9) || Local.other(Local.i) || ',';\n"
        "endwhile\n";
    std::string expected;
    for (int i = 1; i <= 12; ++i) {
        const int n = i % 9;
        std::string out;
        for (int k = 1; k <= 10 && k <= n; ++k) {
            if (k == 7) {
                out = "sevenx";
                break;
            }
            out += k % 2 == 0 ? "e" : k % 3 == 0 ? "t" : "o";
        }
        expected += out + (i > 2 ? "x" : "y") + ",";
    }
    CSspRunResult result = RunSspText(program, false);
    EXPECT_EQ(result.m_error, "");
    EXPECT_EQ(result.m_output, expected);
}

// A loop's statements, once their fast form has run, are run again from what that pass kept:
// each program is run so (in "@(a op b)@" and "@and" write nothing but spaces) and in a form
// that no fast path takes (the right side in parentheses, the condition joined with a true
// one), column for column the same, and what they write and the errors they raise compared.
// The passes that leave the fast form (a side or a target that changes its kind, a zero
// divisor, a break, a return, an error) come late in each loop.
TEST(FastPathTest, LoopsRunAgainFromWhatTheirFirstPassKeptAsThePlanRunsThem) {
    std::vector<std::string> programs = {
        // The loop's own variable turns text on late passes, and back.
        "set Local.i = 0;\n"
        "while (Local.i < 30 @and)\n"
        "  set Local.i = Local.i + @(1)@;\n"
        "  if (Local.i % @(7)@ = 3) set Local.i = '0' || Local.i; endif\n"
        "  write Local.i; write ',';\n"
        "endwhile\n",
        // The condition's other side turns NULL on a late pass, which ends the loop.
        "set Local.i = 0; set Local.n = 30; set Local.alt = 30;\n"
        "while (Local.i < Local.n @and)\n"
        "  set Local.i = Local.i + @(3)@;\n"
        "  if (Local.i = 3 or Local.i = 15) set Local.n = Local.alt; endif\n"
        "  if (Local.i = 6) set Local.alt = null; endif\n"
        "  if (Local.i > 40) break; endif\n"
        "endwhile\n"
        "write Local.i;\n",
        // A target written as text by another statement of the same pass, then by the fast
        // form again; arithmetic that wraps.
        "set Local.i = 1; set Local.r = 0;\n"
        "while (Local.i != 0 @and)\n"
        "  set Local.r = Local.i * @(7)@;\n"
        "  write Local.r; set Local.r = Local.r || 'x'; write Local.r;\n"
        "  set Local.i = Local.i * @(1000)@;\n"
        "  if (Local.i < 0) set Local.i = 0; endif\n"
        "endwhile\n",
        // A divisor that reaches zero on a late pass raises the error at its place.
        "set Local.d = 6;\n"
        "while (Local.d > -3 @and)\n"
        "  set Local.d = Local.d - @(1)@;\n"
        "  set Local.q = 60 / @(Local.d)@;\n"
        "  write Local.q; write ',';\n"
        "endwhile\n",
        // Loops inside loops, with continue and a break on a late pass of each.
        "set Local.i = 0; set Local.t = 0;\n"
        "while (Local.i < 12 @and)\n"
        "  set Local.i = Local.i + @(1)@;\n"
        "  set Local.j = 0;\n"
        "  while (Local.j < Local.i @and)\n"
        "    set Local.j = Local.j + @(1)@;\n"
        "    if (Local.j = 5) continue; endif\n"
        "    if (Local.j > 8) break; endif\n"
        "    set Local.t = Local.t + @(Local.j)@;\n"
        "  endwhile\n"
        "  if (Local.i = 10) break; endif\n"
        "  write Local.t; write ',';\n"
        "endwhile\n"
        "write Local.i;\n",
        // A loop in a function body, left by return on a late pass, on every call.
        "set Local.k = 0;\n"
        "while (Local.k < 5 @and)\n"
        "  set Local.k = Local.k + @(1)@;\n"
        "  write Local.upto(Local.k * 3); write ',';\n"
        "endwhile\n"
        "function upto(n)\n"
        "  set Local.s = 0;\n"
        "  while (Local.s < 100 @and)\n"
        "    set Local.s = Local.s + @(arg.n)@;\n"
        "    if (Local.s > 20) return Local.s; endif\n"
        "  endwhile\n"
        "endfunction\n",
    };
    // Loops of about as many statements as a run keeps reads for, and of more.
    for (int statements : {22, 30}) {
        std::string program = "set Local.i = 0; set Local.t = 0;\nwhile (Local.i < 4 @and)\n";
        for (int k = 1; k < statements; ++k) {
            program += "  set Local.t = Local.t * @(" + std::to_string(k % 3 + 1) + ")@;\n";
        }
        program += "  set Local.i = Local.i + @(1)@; set Local.t = Local.t + Local.i;\nendwhile\n";
        programs.push_back(program + "write Local.t;\n");
    }
    const auto form = [](std::string text, bool fast) {
        const std::pair<std::string, std::string> marks[] = {
            {"@(", fast ? "  " : " ("},
            {")@", fast ? "  " : ") "},
            {"@and", fast ? "          " : "and 1 = 1 "}};
        for (const auto& [mark, with] : marks) {
            for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark)) {
                text.replace(at, mark.size(), with);
            }
        }
        return text;
    };
    for (const std::string& program : programs) {
        CSspRunResult fast = RunSspText(form(program, true), false);
        CSspRunResult slow = RunSspText(form(program, false), false);
        EXPECT_EQ(fast.m_code, slow.m_code) << program;
        EXPECT_EQ(fast.m_output, slow.m_output) << program;
        EXPECT_EQ(Place(fast.m_error), Place(slow.m_error)) << program;
        EXPECT_EQ(Message(fast.m_error), Message(slow.m_error)) << program;
    }
}

// A call's arguments, read again from what its first call read: a lone argument of a fast
// shape (a side that turns text on a late call, a side read by a call), lists of other
// sizes at the same depth, arguments the callee does not read, several arguments of which a
// late one fails after the ones before it ran, and arguments passed as written. Each program
// runs with the marked arguments as written ("[" and "]" blanks) and in parentheses, which no
// fast form takes, column for column the same; both must write and fail as expected.
TEST(FastPathTest, CallArgumentsReadAgainGiveWhatEachCallComputes) {
    const std::string functions =
        "function id(v) return arg.v; endfunction\n"
        "function one(a) return arg.a; endfunction\n"
        "function two(a, b) return arg.a * 10 + arg.b; endfunction\n"
        "function none() return 'n'; endfunction\n"
        "function w(x) write arg.x; return 0; endfunction\n";
    const std::string loop =
        "set Local.i = 0; set Local.z = 1;\n"
        "while (Local.i < 5)\n"
        "  set Local.i = Local.i + 1;\n";
    struct Case {
        std::string program;
        std::string output;
        std::string error;  // the place and the message's start, or "" for none
    };
    const Case cases[] = {
        {loop +
             "  set Local.v = Local.i;\n"
             "  if (Local.i = 3) set Local.v = '12'; endif\n"
             "  if (Local.i = 4) set Local.v = 'ab'; endif\n"
             "  write Local.id([Local.v - 1]); write ',';\n"
             "endwhile\n" +
             functions,
         "0,1,11,", " (7,27): Operation not allowed"},
        {loop +
             "  write Local.id([Local.id(Local.i) * 2]);\n"
             "  write Local.id([10 - Local.id(Local.i)]);\n"
             "endwhile\n" +
             functions,
         "29486786105", ""},
        {loop +
             "  write Local.one([Local.i + 1]); write Local.two(Local.i, Local.i * 2);\n"
             "  write Local.none(); write Local.one(Local.i);\n"
             "  write Local.none([Local.i / Local.z]);\n"
             "  if (Local.i = 3) set Local.z = 0; endif\n"
             "  write ',';\n"
             "endwhile\n" +
             functions,
         "212n1n,324n2n,436n3n,548n4", " (6,29): Operation not allowed"},
        {loop +
             "  set Local.d = 3 - Local.i;\n"
             "  set Local.r = Local.two(Local.w(Local.i), 10 / Local.d);\n"
             "endwhile\n" +
             functions,
         "123", " (5,48): Operation not allowed"},
        {loop +
             "  write Local.one([Local.i + 1]);\n"
             "  if (Local.i = 3) set Local.r = Request.exist(Local.w(Local.i)); endif\n"
             "endwhile\n" +
             functions,
         "234", " (5,34): Request object not available."},
    };
    const auto form = [](std::string text, bool fast) {
        for (char& c : text) {
            if (c == '[' || c == ']') {
                c = fast ? ' ' : (c == '[' ? '(' : ')');
            }
        }
        return text;
    };
    for (const Case& c : cases) {
        for (bool fast : {true, false}) {
            const std::string program = form(c.program, fast);
            CSspRunResult result = RunSspText(program, false);
            EXPECT_EQ(result.m_output, c.output) << program;
            if (c.error.empty()) {
                EXPECT_EQ(result.m_code, 0) << program;
                EXPECT_EQ(result.m_error, "") << program;
            } else {
                EXPECT_EQ(result.m_code, 1) << program;
                EXPECT_EQ((Place(result.m_error) + ": " + Message(result.m_error))
                              .substr(0, c.error.size()),
                          c.error)
                    << program;
            }
        }
    }
}

// Runs of one file share its compiled statements and what their calls learn about them:
// runs on several threads at once, each from the first read of the file, compute their own
// calls.
TEST(FastPathTest, RunsOfOneFileOnSeveralThreadsComputeTheirOwnCalls) {
    CTempFolder folder;
    const std::string path = folder.File("calls.zrs");
    ASSERT_TRUE(WriteFile(path,
                          "set Local.i = 0;\n"
                          "while (Local.i < 20)\n"
                          "  set Local.i = Local.i + 1;\n"
                          "  write Local.fib(Local.i % 9); write Local.two(Local.i, Local.i - 1);\n"
                          "  write Local.none(); write ',';\n"
                          "endwhile\n"
                          "function fib(n)\n"
                          "  if (arg.n < 2) return arg.n; endif\n"
                          "  return Local.fib(arg.n - 1) + Local.fib(arg.n - 2);\n"
                          "endfunction\n"
                          "function two(a, b) return arg.a * 100 + arg.b; endfunction\n"
                          "function none() return '.'; endfunction\n"));
    std::string expected;
    const int fib[] = {0, 1, 1, 2, 3, 5, 8, 13, 21};
    for (int i = 1; i <= 20; ++i) {
        expected += std::to_string(fib[i % 9]) + std::to_string(i * 100 + i - 1) + ".,";
    }
    constexpr int kThreads = 6;
    constexpr int kRuns = 3;
    std::vector<std::vector<CSspRunResult>> results(kThreads);
    std::latch start(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                for (int run = 0; run < kRuns; ++run) {
                    results[t].push_back(RunSspFile(path));
                }
            });
        }
    }
    for (const std::vector<CSspRunResult>& runs : results) {
        for (const CSspRunResult& result : runs) {
            EXPECT_EQ(result.m_error, "");
            EXPECT_EQ(result.m_output, expected);
        }
    }
}

}  // namespace
