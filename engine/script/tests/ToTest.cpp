#include <cstdlib>
#include <ctime>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/foundation/LocaleDates.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspTo.h"
#include "engine/script/SspToCipher.h"
#include "engine/script/tests/BuiltinCall.h"
#include "engine/testsupport/ScopedTimeZone.h"

using builtin_test::Call;
using builtin_test::CallError;
using builtin_test::Int;
using builtin_test::Text;

namespace {

class ToObject : public ::testing::Test {
protected:
    void SetUp() override { SetLocaleDateSettings(CLocaleDates{}); }
    void TearDown() override { g_sspTo.SetCipherMembers(nullptr); }

    CScopedTimeZone m_zone{"UTC"};
};

std::string ToText(const char* member, const CSspValue& arg) {
    return Call(g_sspTo, "To", member, {arg}).GetText();
}

struct TextCase {
    const char* member;
    std::string input;
    std::string expected;
};

TEST_F(ToObject, TextConversions) {
    const TextCase cases[] = {
        {"cgi", "50% off!", "50%25+off%21"},
        {"cgi", "a b", "a+b"},
        {"cgi", "*-._@AZaz09", "*-._@AZaz09"},
        {"cgi", "\r\n\t", "%0d%0a\t"},
        {"cgi", "\"#$&'()+,/", "%22%23%24%26%27%28%29%2b%2c%2f"},
        {"cgi", ":;<=>?[\\]^`{|}~", "%3a%3b%3c%3d%3e%3f%5b%5c%5d%5e%60%7b%7c%7d%7e"},
        {"cgi", "caf\xE9", "caf\xE9"},
        {"html", "", "None"},
        {"html", "a<b>&\"c\"", "a&lt;b&gt;&amp;&quot;c&quot;"},
        {"html", "l1\r\nl2", "l1<br>\r\nl2"},
        {"html", "plain\rtext", "plain\rtext"},
        {"html2", "", ""},
        {"html2", "a\r\n<", "a\r\n&lt;"},
        {"2QuoteStr", "O'Brien", "O''Brien"},
        {"sql", "''", "''''"},
        {"js", "it's", "it\\'s"},
        {"js", "a''b \"c\"", "a\\'\\'b \"c\""},
        {"js", "plain text 1.5 & \"more\"", "plain text 1.5 & \"more\""},
        {"js", "a\\'b", "a\\\\\\'b"},
        {"js", "l1\r\nl2\n", "l1\\r\\nl2\\n"},
        {"js", "</script><b>", "\\x3c/script>\\x3cb>"},
        {"upper", "abc\xE4z", "ABC\xE4Z"},
        {"lower", "ABC\xC4Z", "abc\xC4z"},
        {"hex", "AB\n", "41420a"},
        {"hex", "", ""},
        {"dec", "41 42 43", "ABC"},
        {"dec", "414243", "A$"},
        {"dec", "6a", "j"},
        {"dec", "4", ""},
        {"dec", "41 4", "A"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(std::string(c.member) + "(" + c.input + ")");
        CSspValue result = Call(g_sspTo, "To", c.member, {Text(c.input)});
        EXPECT_EQ(result.m_type, kSqlVarChar);
        EXPECT_EQ(result.GetText(), c.expected);
    }
}

TEST_F(ToObject, HexOfBinaryUsesItsBytes) {
    CSspValue binary = CSspValue::FromBinary(std::string("\x00\xff\x10", 3));
    EXPECT_EQ(ToText("hex", binary), "00ff10");
    EXPECT_EQ(ToText("hex", Int(10)), "3130");
}

TEST_F(ToObject, IntegerAndNumber) {
    CSspValue i = Call(g_sspTo, "To", "Integer", {Text(" -42abc")});
    EXPECT_EQ(i.m_type, kSqlInteger);
    EXPECT_EQ(i.m_integer, -42);
    EXPECT_EQ(Call(g_sspTo, "To", "Integer", {Text("3000000000")}).m_integer, 2147483647);
    CSspValue empty = Call(g_sspTo, "To", "Integer", {Text("")});
    EXPECT_EQ(empty.m_type, kSqlInteger);
    EXPECT_TRUE(empty.IsNull());

    struct Case {
        const char* text;
        const char* decimals;  // nullptr: not passed
        int type;
        const char* printed;
    };
    const Case cases[] = {
        {"1.50", nullptr, kSqlNumeric, "1.50"},
        {"3", nullptr, kSqlInteger, "3"},
        {"2.456", "1", kSqlNumeric, "2.5"},
        {"7", "2", kSqlNumeric, "7.00"},
        {"9.99", "0", kSqlInteger, "9"},
        // Out of range clamps; hexadecimal, "inf" and "nan" are no numbers.
        {"3000000000", nullptr, kSqlInteger, "2147483647"},
        {"-3000000000", nullptr, kSqlInteger, "-2147483648"},
        {"0x10", nullptr, kSqlInteger, "0"},
        {"0x1p3", "1", kSqlNumeric, "0.0"},
        {"inf", "2", kSqlNumeric, "0.00"},
        {"nan", "2", kSqlNumeric, "0.00"},
        {"1e2", "1", kSqlNumeric, "100.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CSspValue n = c.decimals ? Call(g_sspTo, "To", "Number", {Text(c.text), Text(c.decimals)})
                                 : Call(g_sspTo, "To", "Number", {Text(c.text)});
        EXPECT_EQ(n.m_type, c.type);
        EXPECT_EQ(n.GetText(), c.printed);
    }
}

TEST_F(ToObject, OdbcDateForms) {
    EXPECT_EQ(ToText("OdbcDateStr", Text("12/31/1999 14:05")), "{d '1999-12-31'}");
    EXPECT_EQ(ToText("OdbcDateTimeStr", Text("12/31/1999 2:05 PM")), "{ts '1999-12-31 14:05:00'}");
    EXPECT_EQ(ToText("OdbcDateTimeStr", Text("{d '2004-02-29'}")), "{ts '2004-02-29 00:00:00'}");
    EXPECT_EQ(ToText("OdbcDateStr", Text("not a date")), "");
    EXPECT_EQ(ToText("OdbcDateTimeStr", Text("")), "");
}

TEST_F(ToObject, HoursAndMinutes) {
    CSspValue ninetyMinutes = CSspValue::FromTimeSpan(5400);
    CSspValue hours = Call(g_sspTo, "To", "Hours", {ninetyMinutes});
    EXPECT_EQ(hours.m_type, kSqlInteger);
    EXPECT_EQ(hours.m_integer, 1);
    CSspValue exact = Call(g_sspTo, "To", "Hours", {ninetyMinutes, Text("2")});
    EXPECT_EQ(exact.m_type, kSqlNumeric);
    EXPECT_EQ(exact.GetText(), "1.50");
    // Seconds below a whole minute do not count.
    EXPECT_EQ(Call(g_sspTo, "To", "Hours", {CSspValue::FromTimeSpan(5459), Text("3")}).GetText(),
              "1.500");

    CSspValue number = Call(g_sspTo, "To", "Hours", {CSspValue::FromDouble(2.25)});
    EXPECT_EQ(number.m_type, kSqlDouble);
    EXPECT_DOUBLE_EQ(number.m_double, 2.25);
    EXPECT_EQ(Call(g_sspTo, "To", "Hours", {Text("3.7")}).GetText(), "3");
    EXPECT_EQ(Call(g_sspTo, "To", "Hours", {Text("3.75"), Text("1")}).GetText(), "3.8");

    struct Case {
        CSspValue value;
        int expected;
    };
    const Case minutes[] = {
        {ninetyMinutes, 90},  {CSspValue::FromTimeSpan(-150), -2},
        {Int(7), 7},          {CSspValue::FromDouble(2.9), 2},
        {Text("12 min"), 12},
    };
    for (const Case& c : minutes) {
        SCOPED_TRACE(c.value.GetText());
        CSspValue result = Call(g_sspTo, "To", "Minutes", {c.value});
        EXPECT_EQ(result.m_type, kSqlInteger);
        EXPECT_EQ(result.m_integer, c.expected);
    }
    EXPECT_TRUE(Call(g_sspTo, "To", "Minutes", {Text("")}).IsNull());
}

TEST_F(ToObject, TimeSpanAddsItsParts) {
    CSspValue span = Call(g_sspTo, "To", "TimeSpan", {Int(1), Int(2), Int(3), Int(4)});
    EXPECT_EQ(span.m_type, kSqlTime);
    EXPECT_EQ(span.m_timeSpan, 93784);
    EXPECT_EQ(span.GetText(), "1 2:3:4");
    EXPECT_EQ(Call(g_sspTo, "To", "TimeSpan", {Text("0"), Text("0"), Text("90")}).m_timeSpan, 5400);
    // Large counts are computed in 64 bits.
    EXPECT_EQ(Call(g_sspTo, "To", "TimeSpan", {Int(30000), Int(0), Int(0)}).m_timeSpan,
              int64_t{30000} * 86400);
}

// A text scrambled by hand: 'c' put in front of "ab", pairs swapped ("acb"), Base64 ("YWNi"),
// pairs swapped again.
TEST_F(ToObject, DecryptedReadsTheScrambledForm) {
    EXPECT_EQ(ToText("Decrypted", Text("WYiN")), "ab");
    EXPECT_EQ(ToText("Decrypted", Text("")), "");
    EXPECT_EQ(ToText("Encrypted", Text("")), "");
}

TEST_F(ToObject, EncryptedRoundTrips) {
    std::string highBytes;
    for (int c = 1; c < 256; ++c) {
        highBytes += static_cast<char>(c);
    }
    const std::string texts[] = {
        "x", "ab", "abc", "hello world", std::string(100, 'q'), highBytes, "O'Brien <a@b.c>\r\n"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        std::string coded = ToText("Encrypted", Text(text));
        EXPECT_NE(coded, text);
        EXPECT_EQ(ToText("Decrypted", Text(coded)), text);
    }
    // Long texts are Base64 lines of 76 characters, then pairs swapped: LF CR between them.
    EXPECT_NE(ToText("Encrypted", Text(std::string(100, 'q'))).find("\n\r"), std::string::npos);
}

TEST_F(ToObject, EncryptedVariesFromCallToCall) {
    std::set<std::string> seen;
    for (int i = 0; i < 40; ++i) {
        seen.insert(ToText("Encrypted", Text("same text")));
    }
    EXPECT_GT(seen.size(), 1u);
}

class RecordingCipher : public CSspToCipherMembers {
public:
    bool CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) override {
        m_members += call.m_strMember + ";";
        if (!SspNameEquals(call.m_strMember, "cipher")) {
            return false;
        }
        result = CSspValue::FromText("handled");
        return true;
    }
    std::string m_members;
};

TEST_F(ToObject, CipherMembersGoToTheirHandler) {
    g_sspTo.SetCipherMembers(nullptr);
    const char* unknown = "Unknown conversion library \"to\" function: ";
    EXPECT_EQ(CallError(g_sspTo, "To", "cipher", {Text("x")}), std::string(unknown) + "cipher");
    EXPECT_EQ(CallError(g_sspTo, "To", "fileUrl",
                        {Text("t"), Text("k"), Text("1"), Text("d"), Text("a.txt")}),
              std::string(unknown) + "fileUrl");

    RecordingCipher cipher;
    g_sspTo.SetCipherMembers(&cipher);
    EXPECT_EQ(Call(g_sspTo, "To", "cipher", {Text("x")}).GetText(), "handled");
    EXPECT_EQ(CallError(g_sspTo, "To", "fileUrl", {Text("t"), Text("k"), Text("1"), Text("d")}),
              "Missing parameter.");
    EXPECT_EQ(CallError(g_sspTo, "To", "rot13", {Text("x")}), std::string(unknown) + "rot13");
    // Conversion members never reach the handler.
    EXPECT_EQ(ToText("upper", Text("x")), "X");
    EXPECT_EQ(cipher.m_members, "cipher;rot13;");
    InstallSspToCipher();
}

TEST_F(ToObject, ErrorsNameTheProblem) {
    struct Case {
        const char* member;
        int args;
        const char* expected;
    };
    const Case cases[] = {
        {"cgi", 0, "Missing parameter."},
        {"Hours", 0, "Missing parameter."},
        {"TimeSpan", 2, "Missing parameter."},
        {"dec", 0, "Missing parameter."},
        {"Ascii", 1, "Unknown conversion library \"to\" function: Ascii"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.member);
        std::string message = c.args == 0   ? CallError(g_sspTo, "To", c.member)
                              : c.args == 1 ? CallError(g_sspTo, "To", c.member, {Int(1)})
                                            : CallError(g_sspTo, "To", c.member, {Int(1), Int(2)});
        EXPECT_EQ(message, c.expected);
    }
}

}  // namespace
