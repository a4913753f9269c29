#include "engine/foundation/Tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"

namespace {

enum class Step { Token, Part };

std::vector<std::string> Split(const char* text, const char* delimiters, Step step) {
    CTokenizer tok(text, delimiters, false);
    std::vector<std::string> out;
    for (int guard = 0; guard < 100; ++guard) {
        std::string run = step == Step::Token ? tok.NextToken() : tok.NextPart();
        out.push_back(run);
        if (run.empty()) {
            break;
        }
    }
    return out;
}

using Runs = std::vector<std::string>;

}  // namespace

TEST(Tokenizer, SplitsIntoRuns) {
    struct Case {
        const char* text;
        const char* delimiters;
        Step step;
        Runs expected;
    };
    const Case cases[] = {
        {"a,,b", ",", Step::Token, {"a", ",,", "b", ""}},
        {"a,,b", ",", Step::Part, {"a", "b", ""}},
        {",,a", ",", Step::Part, {"a", ""}},
        {",,a", ",", Step::Token, {",,", "a", ""}},
        {"GET /x HTTP/1.0\r\n", " \r\n", Step::Part, {"GET", "/x", "HTTP/1.0", ""}},
        {"a, b;c", ", ;", Step::Token, {"a", ", ", "b", ";", "c", ""}},
        {"trailing,,", ",", Step::Part, {"trailing", ""}},
        {"", ",", Step::Token, {""}},
        {"no delimiters here", ",", Step::Part, {"no delimiters here", ""}},
        {"whole", "", Step::Token, {"whole", ""}},
        {"abc", nullptr, Step::Token, {""}},
        {nullptr, ",", Step::Part, {""}},
        {"caf\xE9\xFF,x", ",", Step::Part, {"caf\xE9\xFF", "x", ""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Split(c.text, c.delimiters, c.step), c.expected) << (c.text ? c.text : "(null)");
    }
}

TEST(Tokenizer, EndOfTextLeavesThePositionWhereItIs) {
    CTokenizer tok("ab", ",", false);
    EXPECT_EQ(tok.NextToken(), "ab");
    EXPECT_EQ(tok.GetPos(), 2u);
    EXPECT_EQ(tok.NextToken(), "");
    EXPECT_EQ(tok.NextPart(), "");
    EXPECT_EQ(tok.GetPos(), 2u);
}

TEST(Tokenizer, CopiedTextSurvivesTheCallersBuffer) {
    std::string text = "x=1;y=2";
    std::string delimiters = ";";
    CTokenizer tok(text.c_str(), delimiters.c_str(), true);
    text.assign("zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz");
    delimiters.assign("z");
    EXPECT_EQ(tok.NextPart(), "x=1");
    EXPECT_EQ(tok.NextPart(), "y=2");
    EXPECT_EQ(tok.NextPart(), "");
}

TEST(Tokenizer, NextPartByChangesTheDelimitersForOneCallOnly) {
    CTokenizer tok("Content-Type: text/html; charset=x", ":", false);
    EXPECT_EQ(tok.NextPart(), "Content-Type");
    tok.SkipChars(": ");
    EXPECT_EQ(tok.NextPartBy(";"), "text/html");
    EXPECT_TRUE(tok.IsDelimiter(':'));
    EXPECT_FALSE(tok.IsDelimiter(';'));
    EXPECT_EQ(tok.NextPart(), "; charset=x");
}

TEST(Tokenizer, DelimiterAndSkipRules) {
    CTokenizer tok("  \t word", ",", false);
    EXPECT_FALSE(tok.IsDelimiter('\0'));
    EXPECT_TRUE(tok.IsDelimiter(','));
    tok.SkipChars(" \t");
    EXPECT_EQ(tok.GetPos(), 4u);
    tok.SkipChars(nullptr);
    EXPECT_EQ(tok.NextToken(), "word");

    CTokenizer noDelimiters("  x", nullptr, false);
    noDelimiters.SkipChars(" ");
    EXPECT_EQ(noDelimiters.GetPos(), 0u);
}

TEST(Tokenizer, SetPosNeverPassesTheEnd) {
    CTokenizer tok("abc,def", ",", false);
    tok.SetPos(4);
    EXPECT_EQ(tok.NextPart(), "def");
    tok.SetPos(1000);
    EXPECT_EQ(tok.GetPos(), 7u);
    EXPECT_EQ(tok.NextToken(), "");
    tok.SetText("xy,z", ",", false);
    EXPECT_EQ(tok.GetPos(), 0u);
    EXPECT_EQ(tok.NextPart(), "xy");
}

namespace {

// Runs a script member of `tok` as a page's call at `position` with `args` arguments.
std::string CallMember(CTokenizer& tok, const char* member, const char* position, int args = 0) {
    CSspCall call;
    call.m_strMember = member;
    call.m_pPos = position;
    for (int i = 0; i < args; ++i) {
        call.AddArg(CSspValue::FromInteger(i));
    }
    CSspValue result;
    tok.CallMethod(call, result);
    return result.GetText();
}

}  // namespace

TEST(Tokenizer, ScriptMembers) {
    const char source[] = "tok.Next()";
    CTokenizer tok("one two", " ", true);
    EXPECT_EQ(CallMember(tok, "NextToken", source), "one");
    EXPECT_EQ(CallMember(tok, "NextPart", source, 2), "two") << "arguments are ignored";
    EXPECT_EQ(CallMember(tok, "NextPart", source), "");

    for (const char* member : {"nexttoken", "Next", ""}) {
        try {
            CallMember(tok, member, source + 4);
            ADD_FAILURE() << member << " did not throw";
        } catch (const CSspException& e) {
            EXPECT_EQ(e.Message(), std::string("Unknown tokenizer field: ") + member);
            EXPECT_EQ(e.Position(), source + 4);
        }
    }
}
