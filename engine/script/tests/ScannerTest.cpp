#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspExpression.h"
#include "engine/script/SspInterpreter.h"

// Drives the interpreter's scanner over a text of its own.
class CSspScannerTestPeer {
public:
    explicit CSspScannerTestPeer(std::string text) : m_text(std::move(text)) {
        m_interp.m_scanner.Start(m_text.data(), m_text.data() + m_text.size(), 0);
    }

    std::vector<std::string> Tokens() {
        std::vector<std::string> tokens;
        for (;;) {
            std::string token;
            m_interp.m_scanner.NextToken(token);
            if (token.empty()) {
                return tokens;
            }
            tokens.push_back(token);
        }
    }
    CSspStatement Statement() {
        CSspExpression own;
        return m_interp.m_scanner.ReadStatementTokens(own).m_stmt;
    }
    CSspStatement Condition() {
        CSspExpression own;
        return m_interp.m_scanner.ReadParenthesized(own).m_stmt;
    }
    // The statement's value, or its error and the error's offset, by the short scans or by
    // the linked slots.
    std::string Value(bool linked) {
        CSspExpression own;
        const CSspExpression& expr = m_interp.m_scanner.ReadStatementTokens(own);
        CSspValue value;
        try {
            const int last = static_cast<int>(expr.Size()) - 1;
            using EMethod = CSspExpressionPlan::EMethod;
            m_interp.RunPlan(expr,
                             CSspExpressionPlan::Build(expr.m_stmt, 0, last,
                                                       linked ? EMethod::Linked : EMethod::Short),
                             value);
        } catch (const CSspException& e) {
            return e.Message() + " @" + std::to_string(Offset(e));
        }
        return value.GetText();
    }
    int CodeStart(std::string& literal) { return m_interp.m_scanner.FindCodeStart(literal); }
    void EndBlock(int kind) {
        m_interp.m_scanner.SetCodeKind(kind);
        std::string token;
        m_interp.m_scanner.NextToken(token);  // the "}--"
        m_interp.m_scanner.EndCodeBlock();
    }
    // Offset of an error's position in the text; -1 when it has none.
    int Offset(const CSspException& e) const {
        return e.Position() ? static_cast<int>(e.Position() - m_text.data()) : -1;
    }
    int PosOffset() const {
        return static_cast<int>(m_interp.m_scanner.Position() - m_text.data());
    }
    int CodeKind() const { return m_interp.m_scanner.CodeKind(); }

private:
    std::string m_text;
    CSspInterpreter m_interp;
};

namespace {

using Tokens = std::vector<std::string>;

TEST(ScannerTest, CutsTokens) {
    struct Case {
        const char* text;
        Tokens tokens;
    } cases[] = {
        {"a<=b", {"a", "<=", "b"}},
        {"a=<b", {"a", "=", "<", "b"}},
        {"a=>b", {"a", "=", ">", "b"}},
        {"a!b a|b", {"a!b", "a|b"}},
        {"x||y<>z!=w==v>=u", {"x", "||", "y", "<>", "z", "!=", "w", "==", "v", ">=", "u"}},
        {"Request.Redirect 1.5 {d", {"Request.Redirect", "1.5", "{d"}},
        {"f(a,b);", {"f", "(", "a", ",", "b", ")", ";"}},
        {"Local.i}-->", {"Local.i", "}--", ">"}},
        {"a%b*c/d+e-f", {"a", "%", "b", "*", "c", "/", "d", "+", "e", "-", "f"}},
        {"\ta\r\n b", {"a", "b"}},
        {"a // note\nb", {"a", "b"}},
        {"a//note\nb", {"a", "b"}},  // a comment right after a token ends it
        {"'it''s' x", {"'it''s'", "x"}},
        {"'a\\'b' x", {"'a\\'b'", "x"}},
        {"'C:\\\\' x", {"'C:\\\\'", "x"}},
        {"'abc' 'def'", {"'abcdef'"}},
        {"'abc' // more\n  'def' x", {"'abcdef'", "x"}},
        {"'}--' x", {"'}--'", "x"}},
        {"name'lit'", {"name", "'lit'"}},
    };
    for (const Case& c : cases) {
        CSspScannerTestPeer peer(c.text);
        EXPECT_EQ(peer.Tokens(), c.tokens) << c.text;
    }
}

TEST(ScannerTest, UnterminatedLiteralFailsAtItsQuote) {
    for (const char* text : {"x 'abc", "x 'ab\ncd'", "x 'a' 'b"}) {
        CSspScannerTestPeer peer(text);
        try {
            peer.Tokens();
            ADD_FAILURE() << "no error for " << text;
        } catch (const CSspException& e) {
            EXPECT_EQ(e.Message(), "String missing ending single quote.") << text;
            EXPECT_GE(peer.Offset(e), 2) << text;
        }
    }
}

TEST(ScannerTest, StatementTokensClassesAndDepths) {
    CSspScannerTestPeer peer("f (1, g(2)) + (3 * 4) and x; rest");
    CSspStatement stmt = peer.Statement();
    EXPECT_EQ(stmt.m_tokens, (Tokens{"f(1,g(2))", "+", "3", "*", "4", "and", "x"}));
    EXPECT_EQ(stmt.m_classes, (std::vector<uint8_t>{1, 2, 0, 3, 0, 5, 0}));
    EXPECT_EQ(stmt.m_depths, (std::vector<int>{0, 0, 1, 1, 1, 0, 0}));
    EXPECT_EQ(peer.Tokens(), (Tokens{"rest"}));
}

TEST(ScannerTest, StatementStopsBeforeBlockEnd) {
    CSspScannerTestPeer peer("1 + 2 }-->");
    CSspStatement stmt = peer.Statement();
    EXPECT_EQ(stmt.Size(), 3u);
    EXPECT_EQ(peer.Tokens(), (Tokens{"}--", ">"}));
}

TEST(ScannerTest, DateLiteralsBecomeOneToken) {
    CSspScannerTestPeer peer("{d '2003-04-05'} + {TS '1999-12-31 14:05:00' };");
    CSspStatement stmt = peer.Statement();
    EXPECT_EQ(stmt.m_tokens, (Tokens{"{d'2003-04-05'}", "+", "{TS'1999-12-31 14:05:00'}"}));
}

TEST(ScannerTest, StatementErrors) {
    struct Case {
        const char* text;
        const char* message;
        int offset;
    } cases[] = {
        {"1 + 2) ;", "Missing (", 4},  // just before the surplus ")"
        {" (1 + 2 ;", "Missing ending )", 0},
        {"f(1 ;", "Missing ending )", 0},
        {" 1 + 2 endif", "Missing ending ;", 0},
        {" 1 + 2", "Missing ending ;", 0},
        {"x {d '2003' ;", "Missing ending }.", 2},
    };
    for (const Case& c : cases) {
        CSspScannerTestPeer peer(c.text);
        try {
            peer.Statement();
            ADD_FAILURE() << "no error for " << c.text;
        } catch (const CSspException& e) {
            EXPECT_EQ(e.Message(), c.message) << c.text;
            EXPECT_EQ(peer.Offset(e), c.offset) << c.text;
        }
    }
    CSspScannerTestPeer noParen("a == 1)");
    try {
        noParen.Condition();
        ADD_FAILURE() << "no error";
    } catch (const CSspException& e) {
        EXPECT_EQ(e.Message(), "Missing (");
    }
}

TEST(ScannerTest, ConditionStopsAtItsParenthesis) {
    CSspScannerTestPeer peer("((a == 1) or b) rest");
    CSspStatement stmt = peer.Condition();
    EXPECT_EQ(stmt.m_tokens, (Tokens{"a", "==", "1", "or", "b"}));
    EXPECT_EQ(stmt.m_depths, (std::vector<int>{1, 1, 1, 0, 0}));
    EXPECT_EQ(peer.Tokens(), (Tokens{"rest"}));

    CSspScannerTestPeer open("(a == 1; b)");
    EXPECT_THROW(open.Condition(), CSspException);
}

TEST(ScannerTest, FindsCodeBlocks) {
    struct Case {
        const char* text;
        int kind;
        const char* literal;
        int after;
    } cases[] = {
        {"ab<!--{x", 1, "ab", 7},
        {"ab--{x", 2, "ab", 5},
        {"<!-- html comment --> --{", 2, "<!-- html comment --> ", 25},
        {"plain", 0, "plain", 5},
    };
    for (const Case& c : cases) {
        CSspScannerTestPeer peer(c.text);
        std::string literal;
        EXPECT_EQ(peer.CodeStart(literal), c.kind) << c.text;
        EXPECT_EQ(literal, c.literal) << c.text;
        EXPECT_EQ(peer.PosOffset(), c.after) << c.text;
    }
}

TEST(ScannerTest, BlockEnds) {
    CSspScannerTestPeer later("}--\n\n  >x");
    later.EndBlock(1);
    EXPECT_EQ(later.CodeKind(), 0);
    EXPECT_EQ(later.Tokens(), (Tokens{"x"}));

    CSspScannerTestPeer dashes("}-- >");
    dashes.EndBlock(2);  // a "--{" block ends at "}--"
    EXPECT_EQ(dashes.Tokens(), (Tokens{">"}));

    CSspScannerTestPeer wrong("}-- x");
    try {
        wrong.EndBlock(1);
        ADD_FAILURE() << "no error";
    } catch (const CSspException& e) {
        EXPECT_EQ(e.Message(), "Should be }-->");
        EXPECT_EQ(wrong.Offset(e), 3);
    }
}

// Long ranges take the linked slots, short ones the plain scans: both give the same values,
// errors and error places, the odd forms included.
TEST(ScannerTest, ShortAndLinkedEvaluationAgree) {
    const char* texts[] = {
        "1 + 2 * 3 - 4 / 2 % 3;",
        "((1)) + ((2) * (3 - 1));",
        "(((1 + 2) * 3) + 4) % 5;",
        "'a' || (1 + 2) || 'b' || 1.50;",
        "(4 + 5 2 * 3) * 10;",
        "(1 + 2)(3 + 4);",
        "4 + 5 2 * 3;",
        "1 + + 2 3;",
        "3 * -2;",
        "-(2 * 3) - -1;",
        "2 * (-3);",
        "- 2;",
        "(1) (2);",
        "1 2;",
        "1 < 2;",
        "(1 < 2);",
        "+ 1;",
        "1 +;",
        "1 / 0;",
        "(1 / 0) + (2 +);",
        "((2));",
    };
    for (const char* text : texts) {
        EXPECT_EQ(CSspScannerTestPeer(text).Value(true), CSspScannerTestPeer(text).Value(false))
            << text;
    }
}

}  // namespace
