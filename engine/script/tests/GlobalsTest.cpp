#include <string>

#include <gtest/gtest.h>

#include "engine/foundation/SspValue.h"
#include "engine/script/SspGlobals.h"
#include "engine/script/tests/BuiltinCall.h"

using builtin_test::Call;
using builtin_test::CallError;
using builtin_test::Int;
using builtin_test::Text;

namespace {

CSspValue Global(const char* name, std::initializer_list<CSspValue> args) {
    return Call(g_sspGlobals, name, "", args);
}

TEST(GlobalFunctions, EachAliasRunsItsMember) {
    struct Case {
        const char* name;
        std::initializer_list<CSspValue> args;
        int type;
        const char* printed;
    };
    const Case cases[] = {
        {"substring", {Text("abcdef"), Int(3), Int(2)}, kSqlVarChar, "cd"},
        {"cgi", {Text("50% off!")}, kSqlVarChar, "50%25+off%21"},
        {"html", {Text("")}, kSqlVarChar, "None"},
        {"html2", {Text("<")}, kSqlVarChar, "&lt;"},
        {"upper", {Text("aB")}, kSqlVarChar, "AB"},
        {"lower", {Text("aB")}, kSqlVarChar, "ab"},
        {"trim", {Text("  x ")}, kSqlVarChar, "x"},
        {"FindOneOf", {Text("hello"), Text("ol")}, kSqlInteger, "3"},
        {"HasChars", {Text("hello"), Text("o")}, kSqlInteger, "5"},
        {"FindString", {Text("abcabc"), Text("c"), Int(4)}, kSqlInteger, "6"},
        {"char_length", {Text("abcd")}, kSqlInteger, "4"},
        {"IsValidDateTime", {}, kSqlInteger, "1"},
        {"IsValidDateTime", {Text("soon")}, kSqlInteger, "0"},
        {"ToInteger", {Text("12x")}, kSqlInteger, "12"},
        {"ToNumber", {Text("1.5"), Text("2")}, kSqlNumeric, "1.50"},
        {"To2QuoteStr", {Text("it's")}, kSqlVarChar, "it''s"},
        {"ToOdbcDateStr", {Text("{ts '2004-01-02 03:04:05'}")}, kSqlVarChar, "{d '2004-01-02'}"},
        {"ToOdbcDateTimeStr",
         {Text("{d '2004-01-02'}")},
         kSqlVarChar,
         "{ts '2004-01-02 00:00:00'}"},
        {"ToHours", {CSspValue::FromTimeSpan(7200)}, kSqlInteger, "2"},
        {"ToMinutes", {CSspValue::FromTimeSpan(7200)}, kSqlInteger, "120"},
        {"TimeSpan", {Int(1), Int(2), Int(3), Int(4)}, kSqlTime, "1 2:3:4"},
        {"SUBSTRING", {Text("abc"), Int(2), Int(1)}, kSqlVarChar, "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSspValue result = Global(c.name, c.args);
        EXPECT_EQ(result.m_type, c.type);
        EXPECT_EQ(result.GetText(), c.printed);
    }
}

TEST(GlobalFunctions, ErrorsAreThoseOfTheMember) {
    EXPECT_EQ(CallError(g_sspGlobals, "substring", "", {Text("abc"), Int(1)}),
              "Missing parameter.");
    EXPECT_EQ(CallError(g_sspGlobals, "TimeSpan", "", {Int(1), Int(2)}), "Missing parameter.");
    EXPECT_EQ(CallError(g_sspGlobals, "cgi", ""), "Missing parameter.");
}

// Only the listed names are global: other String and To members need their object.
TEST(GlobalFunctions, OtherNamesAreUnknown) {
    for (const char* name : {"left", "mid", "random", "hex", "Integer", "nosuch"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(CallError(g_sspGlobals, name, "", {Text("abc"), Int(1), Int(1)}),
                  std::string("Unknown global function: ") + name);
    }
}

}  // namespace
