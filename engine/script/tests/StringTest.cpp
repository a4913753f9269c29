#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/foundation/SspValue.h"
#include "engine/script/SspString.h"
#include "engine/script/tests/BuiltinCall.h"

using builtin_test::Call;
using builtin_test::CallError;
using builtin_test::Int;
using builtin_test::Text;

namespace {

struct CutCase {
    const char* member;
    const char* text;
    int start;  // unused by left and right
    int count;
    const char* expected;
};

// substring/mid/left/right never read outside the text, whatever the page passes.
TEST(StringObject, CuttingStaysInsideTheText) {
    const CutCase cases[] = {
        {"substring", "abcdef", 3, 2, "cd"},
        {"substring", "abc", 5, 1, ""},
        {"substring", "abcdef", 4, 100, "def"},
        {"substring", "abc", 3, 1, "c"},
        {"substring", "abc", 4, 1, ""},
        {"substring", "abc", 1, -1, ""},
        {"substring", "abc", 0, 2, "ab"},
        {"substring", "abc", -5, 1, "a"},
        {"substring", "", 1, 1, ""},
        {"mid", "abcdef", 2, 3, "bcd"},
        {"MID", "abcdef", 6, 9, "f"},
        {"left", "abc", 0, 2, "ab"},
        {"left", "abc", 0, 10, "abc"},
        {"left", "abc", 0, 0, ""},
        {"left", "abc", 0, -1, ""},
        {"right", "abc", 0, 2, "bc"},
        {"right", "abc", 0, 10, "abc"},
        {"right", "abc", 0, -3, ""},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(std::string(c.member) + "('" + c.text + "'," + std::to_string(c.start) + "," +
                     std::to_string(c.count) + ")");
        std::string member = c.member;
        bool twoArgs = member == "left" || member == "right";
        CSspValue result =
            twoArgs
                ? Call(g_sspString, "String", c.member, {Text(c.text), Int(c.count)})
                : Call(g_sspString, "String", c.member, {Text(c.text), Int(c.start), Int(c.count)});
        EXPECT_EQ(result.m_type, kSqlVarChar);
        EXPECT_EQ(result.GetText(), c.expected);
    }
}

struct FindCase {
    const char* member;
    const char* text;
    const char* sought;
    int start;  // 0: not passed
    int expected;
};

TEST(StringObject, FindingGivesOneBasedPositions) {
    const FindCase cases[] = {
        {"FindOneOf", "hello", "ol", 0, 3},   {"FindOneOf", "hello", "xyz", 0, 0},
        {"FindOneOf", "", "a", 0, 0},         {"FindOneOf", "abc", "", 0, 0},
        {"FindString", "abcabc", "c", 4, 6},  {"FindString", "abcabc", "c", 0, 3},
        {"FindString", "abcabc", "bc", 3, 5}, {"FindString", "abc", "x", 0, 0},
        {"FindString", "abc", "a", 4, 0},     {"FindString", "abc", "a", 99, 0},
        {"FindString", "abc", "a", -3, 1},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(std::string(c.member) + "('" + c.text + "','" + c.sought + "'," +
                     std::to_string(c.start) + ")");
        CSspValue result =
            c.start == 0 ? Call(g_sspString, "String", c.member, {Text(c.text), Text(c.sought)})
                         : Call(g_sspString, "String", c.member,
                                {Text(c.text), Text(c.sought), Int(c.start)});
        EXPECT_EQ(result.m_type, kSqlInteger);
        EXPECT_EQ(result.m_integer, c.expected);
    }
}

TEST(StringObject, TrimAndLength) {
    EXPECT_EQ(Call(g_sspString, "String", "trim", {Text(" \t a b \r\n")}).GetText(), "a b");
    EXPECT_EQ(Call(g_sspString, "String", "trim", {Text("   ")}).GetText(), "");
    // Bytes from 0x80 up are text, not white space.
    EXPECT_EQ(Call(g_sspString, "String", "trim", {Text("\xA0x\xA0 ")}).GetText(), "\xA0x\xA0");

    EXPECT_EQ(Call(g_sspString, "String", "length", {Text("abc")}).m_integer, 3);
    EXPECT_EQ(Call(g_sspString, "String", "length", {Text("")}).m_integer, 0);
    EXPECT_EQ(Call(g_sspString, "String", "length", {Int(12345)}).m_integer, 5);
    EXPECT_EQ(Call(g_sspString, "String", "length", {Text(std::string("a\0b", 3))}).m_integer, 3);
}

TEST(StringObject, ValidityChecksTreatNothingAsValid) {
    struct Case {
        const char* member;
        CSspValue arg;
        bool passArg;
        int expected;
    };
    const Case cases[] = {
        {"IsValidDateTime", CSspValue(), false, 1},
        {"IsValidDateTime", Text(""), true, 1},
        {"IsValidDateTime", Text("12/31/1999"), true, 1},
        {"IsValidDateTime", Text("12/31/1999 2:05 PM"), true, 1},
        {"IsValidDateTime", Text("{d '2004-02-29'}"), true, 1},
        {"IsValidDateTime", Text("2/30/2004"), true, 0},
        {"IsValidDateTime", Text("hello"), true, 0},
        {"IsValidDateTime", CSspValue::FromDateTime(946649100), true, 1},
        {"IsValidDateTime", Int(5), true, 0},
        {"IsValidNumber", CSspValue(), false, 1},
        {"IsValidNumber", Text(""), true, 1},
        {"IsValidNumber", Text("-12.5"), true, 1},
        {"IsValidNumber", Text("1,000"), true, 1},
        {"IsValidNumber", Text("1a"), true, 0},
        {"IsValidNumber", Int(7), true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.member) + "(" + c.arg.GetText() + ")");
        CSspValue result = c.passArg ? Call(g_sspString, "String", c.member, {c.arg})
                                     : Call(g_sspString, "String", c.member);
        EXPECT_EQ(result.m_type, kSqlInteger);
        EXPECT_EQ(result.m_integer, c.expected);
    }
}

bool AllDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

TEST(StringObject, RandomIsPaddedToTheDigitsAsked) {
    for (int digits : {1, 3, 5, 8}) {
        SCOPED_TRACE(digits);
        std::string text = Call(g_sspString, "String", "random", {Int(digits)}).GetText();
        EXPECT_EQ(text.size(), static_cast<size_t>(digits));
        EXPECT_TRUE(AllDigits(text)) << text;
    }
    // No digits, or none wanted: the plain number.
    for (int digits : {0, -2}) {
        std::string text = Call(g_sspString, "String", "random", {Int(digits)}).GetText();
        ASSERT_TRUE(AllDigits(text)) << text;
        EXPECT_EQ(text, std::to_string(std::stoi(text))) << "no padding expected";
        EXPECT_LE(std::stoi(text), 32767);
    }
    // Eight places hold at most five digits of the number: three leading zeros at least.
    EXPECT_EQ(Call(g_sspString, "String", "random", {Int(8)}).GetText().substr(0, 3), "000");
}

// Calls within one second must not repeat, as a clock-seeded generator would make them.
TEST(StringObject, RandomDoesNotRepeatWithinASecond) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        seen.insert(Call(g_sspString, "String", "random").GetText());
    }
    EXPECT_GT(seen.size(), 1u);
}

TEST(StringObject, ErrorsNameTheProblem) {
    EXPECT_EQ(CallError(g_sspString, "String", "substring", {Text("abc"), Int(1)}),
              "Missing parameter.");
    EXPECT_EQ(CallError(g_sspString, "String", "trim"), "Missing parameter.");
    EXPECT_EQ(CallError(g_sspString, "String", "FindString", {Text("abc")}), "Missing parameter.");
    EXPECT_EQ(CallError(g_sspString, "String", "right", {Text("abc")}), "Missing parameter.");
    EXPECT_EQ(CallError(g_sspString, "String", "Reverse", {Text("abc")}),
              "Unknown string library \"string\" function: Reverse");
}

TEST(StringObject, MemberNamesIgnoreCase) {
    EXPECT_EQ(Call(g_sspString, "string", "SUBSTRING", {Text("abcdef"), Int(3), Int(2)}).GetText(),
              "cd");
    EXPECT_EQ(Call(g_sspString, "String", "findoneof", {Text("hello"), Text("l")}).m_integer, 3);
}

}  // namespace
