#include <gtest/gtest.h>

#include <string>

#include "engine/script/SspHarness.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

namespace {

// Programs whose value or error depends on the order operators are applied in: precedence,
// unary minus, parentheses, long statements (linked slots), conditions with and/or, and the
// place each misplaced operator is reported at, an operator standing alone read as a name. "@" in
// an error stands for the file's path.
TEST(EvaluationOrderTest, ValuesAndErrorsAtTheirPlaces) {
    struct Case {
        const char* program;
        const char* output;
        const char* error;
    } cases[] = {
        {"write 2 + 3 * 4 - 1;", "13", ""},
        {"write 10 - 2 - 3;", "5", ""},
        {"write - 3 * 2;", "-6", ""},
        {"write 2 * - 3;", "",
         "@ (1,11): \r\nwrite 2 * - 3;\r\n\r\nMissing right operand after */%%+-."},
        {"write (1 + 2) * (3 + 4);", "21", ""},
        {"write 'a' || 1 + 2 || 'b';", "a12b", ""},
        {"write 7 / 2;", "3", ""},
        {"write 7 % 3 * 2;", "2", ""},
        {"write 1 2;", "", "@ (1,8): \r\nwrite 1 2;\r\n\r\nMissing operator."},
        {"write * 2;", "", "@ (1,7): \r\nwrite * 2;\r\n\r\nMissing left operand before */%%+-."},
        {"write 2 +;", "", "@ (1,9): \r\nwrite 2 +;\r\n\r\nMissing right operand after */%%+-."},
        {"write 1 / 0;", "",
         "@ (1,9): \r\nwrite 1 / 0;\r\n\r\nOperation not allowed on these operands."},
        {"write ((2));", "2", ""},
        {"write 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 * (2 - 3) * 4;", "5", ""},
        {"if (1 < 2 and 2 < 3 or Local.nope) write 'y'; endif", "y", ""},
        {"if (1 > 2 and Local.nope) write 'y'; else write 'n'; endif", "n", ""},
        {"if (1 < 2 < 3) write 'y'; endif", "",
         "@ (1,11): \r\nif (1 < 2 < 3) write 'y'; endif\r\n\r\nFound two consecutive comparison "
         "operators."},
        {"if (and 1) write 'y'; endif", "",
         "@ (1,5): \r\nif (and 1) write 'y'; endif\r\n\r\nExpression missing before And/Or."},
        {"set Local.a = 5; set local.A = Local.a + 1; write LOCAL.a;", "6", ""},
        {"write Local.missing;", "",
         "@ (1,7): \r\nwrite Local.missing;\r\n\r\nLocal variable not defined. Use a set statement "
         "to define it: missing"},
        {"write (1 + 2) (3);", "", "@ (1,13): \r\nwrite (1 + 2) (3);\r\n\r\nMissing ("},
        {"write 1.50 + 1;", "2.50", ""},
        {"write '' || null || 'x';", "x", ""},
        {"write 3 - - 2;", "",
         "@ (1,11): \r\nwrite 3 - - 2;\r\n\r\nMissing right operand after */%%+-."},
        {"write 2 * (3 + (4 - 1) * 2) - (1);", "17", ""},
        {"write Local.f(2, 3) * 2;\nfunction f(a, b) return arg.a - arg.b * 2; endfunction", "-8",
         ""},
        {"write (1 + 2;", "", "@ (1,6): \r\nwrite (1 + 2;\r\n\r\nMissing ending )"},
        {"write 1 + 2);", "", "@ (1,11): \r\nwrite 1 + 2);\r\n\r\nMissing ("},
        {"write 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + (1 2);", "",
         "@ (1,45): \r\nwrite 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + (1 2);\r\n\r\nMissing operator."},
        {"write +;", "", "@ (1,7): \r\nwrite +;\r\n\r\nUnknown global function: +"},
        {"write (<);", "", "@ (1,8): \r\nwrite (<);\r\n\r\nUnknown global function: <"},
        {"if (1 < and) write 1; endif", "",
         "@ (1,9): \r\nif (1 < and) write 1; endif\r\n\r\nExpression missing after And/Or."},
        {"write 1 + (-);", "", "@ (1,12): \r\nwrite 1 + (-);\r\n\r\nUnknown global function: -"},
        // A variable read before a call that changes it keeps the value it had.
        {"set Local.x = 1; write Local.x + Local.SetVar('x', 5) + Local.x;", "6", ""},
        {"set Local.x = 1; if (Local.x = Local.SetVar('x', 1)) write 'eq'; else write 'ne'; endif "
         "write Local.x;",
         "ne1", ""},
        {"set Local.x = 2; write Local.x * Local.Var('x', Local.SetVar('x', 3));", "6", ""},
        {"set Local.x = 1; write Local.x + Local.SetVar('x', 5);", "1", ""},
        {"set Local.x = 4; write Local.x - Local.Var('x', Local.SetVar('x', 3));", "1", ""},
        {"set Local.x = 4; write Local.Var('x', Local.SetVar('x', 3)) - Local.x;", "0", ""},
    };
    CTempFolder folder;
    const std::string path = folder.File("order.zrs");
    for (const Case& c : cases) {
        WriteFile(path, c.program);
        CSspRunResult result = RunSspFile(path);
        std::string error = c.error;
        if (std::size_t at = error.find('@'); at != std::string::npos) {
            error.replace(at, 1, path);
        }
        EXPECT_EQ(result.m_code, error.empty() ? 0 : 1) << c.program;
        EXPECT_EQ(result.m_output, c.output) << c.program;
        EXPECT_EQ(result.m_error, error) << c.program;
    }
}

}  // namespace
