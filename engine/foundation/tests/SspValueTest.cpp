#include "engine/foundation/SspValue.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/foundation/LocaleDates.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/testsupport/ScopedLocale.h"
#include "engine/testsupport/ScopedTimeZone.h"

namespace {

constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();

CSspValue Text(std::string s) {
    return CSspValue::FromText(std::move(s));
}
CSspValue Int(std::int32_t n) {
    return CSspValue::FromInteger(n);
}
CSspValue Small(std::int32_t n) {
    return CSspValue::FromInteger(n, kSqlSmallInt);
}
CSspValue Dbl(double d) {
    return CSspValue::FromDouble(d);
}
CSspValue Real(float f) {
    return CSspValue::FromReal(f);
}
// A decimal as a number literal makes it: the decimals are counted in the text.
CSspValue Dec(std::string_view s) {
    CSspValue v;
    v.SetNumber(s);
    return v;
}
CSspValue Span(std::int64_t s) {
    return CSspValue::FromTimeSpan(s);
}
CSspValue Bin(std::string_view bytes) {
    return CSspValue::FromBinary(bytes);
}
CSspValue Null() {
    return Text("");
}

std::string Describe(const CSspValue& v) {
    return "type " + std::to_string(v.m_type) + " text '" + v.GetText() + "'";
}

// Dates print in local time; pin the zone so the tests mean the same everywhere.
class SspValueTest : public ::testing::Test {
protected:
    void SetUp() override { SetLocaleDateSettings(CLocaleDates{}); }
    void TearDown() override {
        m_zone.reset();
        SetLocaleDateSettings(CLocaleDates{});
    }
    static std::int64_t At(int y, int mo, int d, int h = 0, int mi = 0) {
        return CSspDateTime::MakeLocalTime(y, mo, d, h, mi, 0);
    }

private:
    std::unique_ptr<CScopedTimeZone> m_zone = std::make_unique<CScopedTimeZone>("UTC0");
};

struct ArithCase {
    const char* name;
    CSspValue left;
    const char* op;
    CSspValue right;
    int type;
    std::string text;
    int decimals;
};

TEST_F(SspValueTest, ArithmeticFollowsTheOperandPairRule) {
    const std::vector<ArithCase> cases = {
        {"numeric texts add as integers", Text("5"), "+", Text("7"), kSqlInteger, "12", 0},
        {"text plus non-number joins", Text("5"), "+", Text("x"), kSqlVarChar, "5x", 0},
        {"number plus text joins", Int(5), "+", Text("x"), kSqlVarChar, "5x", 0},
        {"char text keeps its type", CSspValue::FromText("a", kSqlChar), "+", Int(1), kSqlChar,
         "a1", 0},
        {"text x reads as integer 0", Int(5), "*", Text("x"), kSqlInteger, "0", 0},
        {"decimal text plus integer", Text("1.50"), "+", Int(2), kSqlNumeric, "3.50", 2},
        {"decimals take the larger count", Dec("1.5"), "+", Dec("2.25"), kSqlNumeric, "3.75", 2},
        {"integer minus decimal", Int(3), "-", Text("1.5"), kSqlNumeric, "1.5", 1},
        {"integer over decimal", Int(10), "/", Dec("4.0"), kSqlNumeric, "2.5", 1},
        {"decimal without decimals divides as integers", CSspValue::FromText("7", kSqlNumeric), "/",
         Int(2), kSqlNumeric, "3", 0},
        {"NULL plus gives the other", Null(), "+", Int(3), kSqlInteger, "3", 0},
        {"plus NULL gives the other", Text("ab"), "+", Null(), kSqlVarChar, "ab", 0},
        {"NULL times stays empty", Null(), "*", Int(3), kSqlVarChar, "", 0},
        {"divide by NULL stays empty", Int(3), "/", Null(), kSqlVarChar, "", 0},
        {"integer division truncates", Int(-7), "/", Int(2), kSqlInteger, "-3", 0},
        {"remainder keeps the left sign", Int(-7), "%", Int(3), kSqlInteger, "-1", 0},
        {"remainder reads texts", Text("17"), "%", Text("5"), kSqlInteger, "2", 0},
        {"addition wraps", Int(kIntMax), "+", Int(1), kSqlInteger, "-2147483648", 0},
        {"subtraction wraps", Int(kIntMin), "-", Int(1), kSqlInteger, "2147483647", 0},
        {"multiplication wraps", Int(65536), "*", Int(65536), kSqlInteger, "0", 0},
        {"result takes the right integer type", Int(2), "+", Small(3), kSqlSmallInt, "5", 0},
        {"integer and double give double", Int(1), "/", Dbl(4), kSqlDouble, "0.250000", 0},
        {"double and integer keep the left type", CSspValue::FromDouble(1.5, kSqlFloat), "*",
         Int(2), kSqlFloat, "3.000000", 0},
        {"real and integer give real", Real(1.5f), "+", Int(1), kSqlReal, "2.500000", 0},
        {"decimal and double give double", Dec("0.5"), "+", Dbl(0.25), kSqlDouble, "0.750000", 0},
        {"decimal and real give real", Dec("0.5"), "*", Real(3.0f), kSqlReal, "1.500000", 0},
        {"NULL minus a number negates", Null(), "-", Int(3), kSqlInteger, "-3", 0},
        {"NULL minus a span negates", Null(), "-", Span(5), kSqlTime, "-1 23:59:55", 0},
        {"NULL minus text stays empty", Null(), "-", Text("x"), kSqlVarChar, "", 0},
        {"concatenation joins numbers", Int(5), "||", Int(6), kSqlVarChar, "56", 0},
        {"concatenation with NULL", Null(), "||", Text("a"), kSqlVarChar, "a", 0},
        {"unknown operator leaves the result", Int(1), "^", Int(2), kSqlNoType, "", 0},
    };
    for (const ArithCase& c : cases) {
        CSspValue result;
        EXPECT_EQ(result.ApplyOperator(c.left, c.op, c.right), kOpOk) << c.name;
        EXPECT_EQ(result.m_type, c.type) << c.name << ": " << Describe(result);
        EXPECT_EQ(result.GetText(), c.text) << c.name;
        if (result.IsDecimal()) {
            EXPECT_EQ(result.m_decimals, c.decimals) << c.name;
        }
    }
}

struct ErrorCase {
    const char* name;
    CSspValue left;
    const char* op;
    CSspValue right;
    int code;
};

TEST_F(SspValueTest, MisusedOperatorsReportCodesInsteadOfCrashing) {
    const CSspValue date = CSspValue::FromDateTime(At(2004, 1, 1));
    const std::vector<ErrorCase> cases = {
        {"integer divided by zero", Int(7), "/", Int(0), kOpNotAllowed},
        {"integer remainder by zero", Int(7), "%", Int(0), kOpNotAllowed},
        {"minimum integer over -1", Int(kIntMin), "/", Int(-1), kOpNotAllowed},
        {"minimum integer remainder -1", Int(kIntMin), "%", Int(-1), kOpNotAllowed},
        {"numeric texts divided by zero", Text("7"), "/", Text("0"), kOpNotAllowed},
        {"decimal divided by zero", Dec("1.5"), "/", Int(0), kOpNotAllowed},
        {"decimal without decimals by zero", CSspValue::FromText("7", kSqlNumeric), "/", Int(0),
         kOpNotAllowed},
        {"double divided by zero", Dbl(1), "/", Dbl(0), kOpNotAllowed},
        {"two non-numbers multiplied", Text("x"), "*", Text("y"), kOpNotAllowed},
        {"two non-numbers remainder", Text("x"), "%", Text("y"), kOpNotAllowed},
        {"number plus date", Int(1), "+", date, kOpNotAllowed},
        {"binary plus number", Bin("ab"), "+", Int(1), kOpNotAllowed},
        {"date plus number", date, "+", Int(3), kOpNeedTimeSpan},
        {"span plus number", Span(3), "+", Int(3), kOpNeedDateTime},
        {"number minus text", Int(3), "-", Text("x"), kOpNotAllowed},
        {"text minus number", Text("abc"), "-", Int(1), kOpNotAllowed},
        {"span minus number", Span(3), "-", Int(1), kOpNeedTimeSpan},
        {"date minus number", date, "-", Int(1), kOpNeedSpanOrDateTime},
    };
    for (const ErrorCase& c : cases) {
        CSspValue result;
        EXPECT_EQ(result.ApplyOperator(c.left, c.op, c.right), c.code) << c.name;
    }
}

TEST_F(SspValueTest, ErrorCodesMapToTheirMessages) {
    EXPECT_STREQ(SspOperatorErrorText(kOpNeedTimeSpan), "Right operand should be a TimeSpan.");
    EXPECT_STREQ(SspOperatorErrorText(kOpNeedDateTime),
                 "Right operand should be a datetime field.");
    EXPECT_STREQ(SspOperatorErrorText(kOpNeedSpanOrDateTime),
                 "Right operand should be a TimeSpan or datetime field.");
    EXPECT_STREQ(SspOperatorErrorText(kOpNotAllowed), "Operation not allowed on these operands.");
    EXPECT_EQ(SspOperatorErrorText(kOpOk), nullptr);
    EXPECT_EQ(SspOperatorErrorText(-5), nullptr);
}

TEST_F(SspValueTest, DatesAndSpansCombine) {
    const std::int64_t t = At(1999, 12, 31, 14, 5);
    struct Case {
        const char* name;
        CSspValue left;
        const char* op;
        CSspValue right;
        int type;
        std::int64_t seconds;  // date-time or span, by type
    };
    const std::vector<Case> cases = {
        {"date plus span", CSspValue::FromDateTime(t), "+", Span(86400), kSqlDate, t + 86400},
        {"timestamp plus span keeps timestamp", CSspValue::FromDateTime(t, kSqlTimestamp), "+",
         Span(60), kSqlTimestamp, t + 60},
        {"span plus date takes the date's type", Span(60), "+",
         CSspValue::FromDateTime(t, kSqlTimestamp), kSqlTimestamp, t + 60},
        {"span plus span", Span(60), "+", Span(30), kSqlTime, 90},
        {"date text plus span", Text("12/31/1999 14:05"), "+", Span(3600), kSqlDate, t + 3600},
        {"date minus span", CSspValue::FromDateTime(t), "-", Span(3600), kSqlDate, t - 3600},
        {"date minus date", CSspValue::FromDateTime(t + 93784), "-", CSspValue::FromDateTime(t),
         kSqlTime, 93784},
        {"date text minus date", Text("1/1/2000"), "-", CSspValue::FromDateTime(t), kSqlTime,
         At(2000, 1, 1) - t},
        {"span minus span", Span(100), "-", Span(30), kSqlTime, 70},
    };
    for (const Case& c : cases) {
        CSspValue result;
        ASSERT_EQ(result.ApplyOperator(c.left, c.op, c.right), kOpOk) << c.name;
        EXPECT_EQ(result.m_type, c.type) << c.name;
        EXPECT_EQ(result.IsTimeSpan() ? result.m_timeSpan : result.m_dateTime, c.seconds) << c.name;
    }

    CSspValue joined;
    ASSERT_EQ(joined.Add(CSspValue::FromDateTime(t), Text(" ok")), kOpOk);
    EXPECT_EQ(joined.m_type, kSqlVarChar);
    EXPECT_EQ(joined.m_text, "12/31/1999 02:05PM ok");
}

TEST_F(SspValueTest, OperandsAreNotChangedAndResultMayAliasThem) {
    const CSspValue five = Text("5");
    CSspValue result;
    ASSERT_EQ(result.Add(five, Int(7)), kOpOk);
    EXPECT_EQ(five.m_type, kSqlVarChar);
    EXPECT_EQ(five.m_text, "5");

    CSspValue v = Int(6);
    ASSERT_EQ(v.Multiply(v, v), kOpOk);
    EXPECT_EQ(v.GetInteger(), 36);
    CSspValue s = Text("ab");
    ASSERT_EQ(s.Concat(s, s), kOpOk);
    EXPECT_EQ(s.GetText(), "abab");
    CSspValue d = Dec("2.5");
    ASSERT_EQ(d.Subtract(Int(10), d), kOpOk);
    EXPECT_EQ(d.GetText(), "7.5");
}

TEST_F(SspValueTest, TimeSpanPrintsDaysHoursMinutesSeconds) {
    const std::vector<std::pair<std::int64_t, std::string>> cases = {
        {93784, "1 2:3:4"},
        {0, "0 0:0:0"},
        {3 * 86400 + 59, "3 0:0:59"},
        {-1, "-1 23:59:59"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(Span(seconds).GetText(), text) << seconds;
        EXPECT_FALSE(Span(seconds).IsNull()) << seconds;
    }
}

TEST_F(SspValueTest, NullMarkersAreRecognisedByBitPattern) {
    CSspValue emptyBlock = Bin("abc");
    emptyBlock.SetNull();
    struct Case {
        const char* name;
        CSspValue value;
        bool isNull;
    };
    const std::vector<Case> cases = {
        {"integer sentinel", Int(kNullInteger), true},
        {"integer next to the sentinel", Int(kNullInteger - 1), false},
        {"real sentinel", Real(kNullReal), true},
        {"real one step from the sentinel", Real(std::nextafter(kNullReal, 0.0f)), false},
        {"double sentinel", Dbl(-9.123e+19), true},
        {"double one step from the sentinel", Dbl(std::nextafter(kNullDouble, 0.0)), false},
        {"double zero", Dbl(0), false},
        {"date zero", CSspValue::FromDateTime(0), true},
        {"date negative", CSspValue::FromDateTime(-5), true},
        {"date positive", CSspValue::FromDateTime(1), false},
        {"span zero", Span(0), false},
        {"empty text", Null(), true},
        {"no type", CSspValue(), true},
        {"binary without block", CSspValue::FromText("", kSqlLongVarBinary), true},
        {"binary block of length 0", emptyBlock, true},
        {"long text", CSspValue::FromText("x", kSqlLongVarChar), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.IsNull(), c.isNull) << c.name;
    }
    EXPECT_TRUE(emptyBlock.m_blob.HasBlock()) << "SetNull keeps the block for reuse";
    EXPECT_EQ(Int(kNullInteger).GetText(), "");
    EXPECT_EQ(Int(kNullInteger).ToSqlLiteral(), "NULL");
}

TEST_F(SspValueTest, SetNullResetsEveryTypedMember) {
    for (int type : {kSqlVarChar, kSqlInteger, kSqlReal, kSqlDouble, kSqlNumeric, kSqlDate,
                     kSqlLongVarBinary, kSqlLongVarChar}) {
        CSspValue v;
        v.m_type = type;
        v.SetFromText("12");
        v.m_columnSize = 8;
        v.SetNull();
        EXPECT_TRUE(v.IsNull()) << type;
        EXPECT_EQ(v.m_type, type);
        EXPECT_EQ(v.m_columnSize, CSspValue::kDefaultColumnSize);
        EXPECT_EQ(v.GetText(), "") << type;
    }
}

// Reset and AssignInteger stand for assigning a made value: from values of every kind, each
// must leave what the assignment leaves, members and memory alike.
TEST_F(SspValueTest, ResetAndAssignIntegerLeaveWhatAnAssignmentLeaves) {
    auto same = [](const CSspValue& a, const CSspValue& b) {
        return a.m_type == b.m_type && a.m_text == b.m_text && a.m_columnSize == b.m_columnSize &&
               a.m_decimals == b.m_decimals && a.m_integer == b.m_integer &&
               std::bit_cast<std::uint32_t>(a.m_real) == std::bit_cast<std::uint32_t>(b.m_real) &&
               std::bit_cast<std::uint64_t>(a.m_double) ==
                   std::bit_cast<std::uint64_t>(b.m_double) &&
               a.m_dateTime == b.m_dateTime && a.m_timeSpan == b.m_timeSpan &&
               a.m_blob.View() == b.m_blob.View();
    };
    std::vector<CSspValue> kinds = {CSspValue::FromText(std::string(100, 'x')),
                                    CSspValue::FromInteger(7, kSqlSmallInt),
                                    CSspValue::FromDouble(2.5),
                                    CSspValue::FromReal(1.5f),
                                    CSspValue::FromDateTime(86400),
                                    CSspValue::FromTimeSpan(60),
                                    CSspValue::FromBinary("bytes")};
    kinds[0].m_columnSize = 8;
    kinds[0].m_decimals = 2;
    for (const CSspValue& kind : kinds) {
        CSspValue reset(kind);
        reset.Reset();
        CSspValue assigned(kind);
        assigned = CSspValue();
        EXPECT_TRUE(same(reset, assigned)) << kind.m_type;
        EXPECT_LE(reset.m_text.capacity(), std::string().capacity()) << kind.m_type;
        EXPECT_FALSE(reset.m_blob.HasBlock()) << kind.m_type;

        for (int type : {kSqlInteger, kSqlSmallInt}) {
            CSspValue worked(kind);
            worked.AssignInteger(-3, type);
            CSspValue copied(kind);
            copied = CSspValue::FromInteger(-3, type);
            EXPECT_TRUE(same(worked, copied)) << kind.m_type << " " << type;
            EXPECT_EQ(worked.GetText(), "-3");
        }
    }
}

TEST_F(SspValueTest, CompareRules) {
    const CSspValue date = CSspValue::FromDateTime(At(2004, 1, 1));
    struct Case {
        CSspValue left;
        const char* op;
        CSspValue right;
        bool expected;
    };
    const std::vector<Case> cases = {
        {Null(), "=", Null(), true},
        {Null(), "==", CSspValue(), true},
        {Null(), "<>", Null(), false},
        {Null(), "<=", Null(), false},
        {Null(), "<>", Int(3), true},
        {Int(3), "!=", Null(), true},
        {Null(), "<", Int(3), false},
        {Null(), ">", Int(3), false},
        {Null(), "=", Int(3), false},
        {Text("10"), ">", Int(9), true},
        {Text("10"), ">", Text("9"), false},
        {Text("abc"), "<", Text("abd"), true},
        {Text("B"), "<", Text("a"), true},
        {Text("\xe9"), ">", Text("z"), true},
        {Text("abc"), "=", Text("abc"), true},
        {Text("abc"), "==", Text("ABC"), false},
        {Int(3), "=", Dbl(3.0), true},
        {Dec("1.50"), "==", Dbl(1.5), true},
        {Text("2"), "<=", Dec("2.0"), true},
        {date, ">", Text("12/31/2003"), true},
        {date, "=", CSspValue::FromDateTime(At(2004, 1, 1), kSqlTimestamp), true},
        {Span(5), "<", Span(6), true},
        {Span(5), ">=", Span(6), false},
        {Text("a"), "~", Text("a"), false},
        {Int(3), "=>", Int(3), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.left.Compare(c.op, c.right), c.expected)
            << Describe(c.left) << " " << c.op << " " << Describe(c.right);
    }
}

TEST_F(SspValueTest, SqlLiterals) {
    const std::int64_t t = At(1999, 12, 31, 14, 5);
    struct Case {
        const char* name;
        CSspValue value;
        std::string literal;
    };
    const std::vector<Case> cases = {
        {"quote doubled", Text("O'Brien"), "'O''Brien'"},
        {"empty text", Null(), "NULL"},
        {"integer", Int(-42), "-42"},
        {"integer sentinel", Int(kNullInteger), "NULL"},
        {"decimal", Dec("3.50"), "3.50"},
        {"negative decimal", CSspValue::FromText("-3", kSqlDecimal), "-3"},
        {"decimal holding code", CSspValue::FromText("1 or 1=1", kSqlNumeric), "'1 or 1=1'"},
        {"decimal holding a quote", CSspValue::FromText("1'; drop", kSqlNumeric), "'1''; drop'"},
        {"decimal in exponent form", CSspValue::FromText("1e5", kSqlNumeric), "'1e5'"},
        {"decimal with bare point", CSspValue::FromText("1.", kSqlNumeric), "'1.'"},
        {"empty decimal", CSspValue::FromText("", kSqlNumeric), "NULL"},
        {"double", Dbl(1.5), "1.5"},
        // Every digit that tells the double apart, and no more.
        {"double beyond six decimals", Dbl(0.1234567), "0.1234567"},
        {"double with 17 digits", Dbl(0.1 + 0.2), "0.30000000000000004"},
        {"large double", Dbl(1e22), "1e+22"},
        {"small double", Dbl(-2.5e-9), "-2.5e-09"},
        {"whole double", Dbl(300), "300"},
        {"real as the double it holds", Real(0.5f), "0.5"},
        {"real keeps its float digits", Real(0.1f), "0.10000000149011612"},
        {"real NULL", Real(kNullReal), "NULL"},
        {"date keeps the date form", CSspValue::FromDateTime(t, kSqlDate), "{d '1999-12-31'}"},
        {"timestamp keeps its time", CSspValue::FromDateTime(t, kSqlTimestamp),
         "{ts '1999-12-31 14:05:00'}"},
        {"date zero", CSspValue::FromDateTime(0), "NULL"},
        {"span as text", Span(93784), "'1 2:3:4'"},
        {"binary as quoted bytes", Bin("it's"), "'it''s'"},
        {"empty binary", CSspValue::FromText("", kSqlLongVarBinary), "NULL"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.ToSqlLiteral(), c.literal) << c.name;
    }
    EXPECT_EQ(CSspValue::EscapeSqlQuotes("''a'"), "''''a''");
}

// Between real and double values no digit is lost; other pairs take the printed form.
TEST_F(SspValueTest, TextForAnotherValue) {
    struct Case {
        CSspValue value;
        CSspValue target;
        const char* text;
    };
    const Case cases[] = {
        {Dbl(0.1234567), Dbl(0), "0.1234567"}, {Dbl(0.1234567), Real(0), "0.1234567"},
        {Real(0.5f), Dbl(0), "0.5"},           {Dbl(0.1234567), Text("x"), "0.123457"},
        {Dbl(0.1234567), Int(0), "0.123457"},  {Int(3), Dbl(0), "3"},
        {Dbl(kNullDouble), Dbl(0), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.GetTextFor(c.target), c.text) << c.value.GetText();
    }
}

TEST_F(SspValueTest, ReadingAsNumbers) {
    struct Case {
        const char* name;
        CSspValue value;
        std::int32_t integer;
        double dbl;
    };
    const std::vector<Case> cases = {
        {"real truncates", Real(2.9f), 2, static_cast<double>(2.9f)},
        {"double truncates toward zero", Dbl(-2.9), -2, -2.9},
        {"double beyond 32 bits saturates", Dbl(1e20), kIntMax, 1e20},
        {"double below 32 bits saturates", Dbl(-1e20), kIntMin, -1e20},
        {"empty text gives the sentinels", Null(), kNullInteger, kNullDouble},
        {"text with leading blanks and trailing junk", Text(" 42abc"), 42, 42.0},
        {"text that is no number", Text("abc"), 0, 0.0},
        {"text with a fraction", Text("2.5"), 2, 2.5},
        {"integer sentinel as a number", Int(kNullInteger), kNullInteger, 1246576928.0},
        {"decimal reads its text", Dec("3.75"), 3, 3.75},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.GetInteger(), c.integer) << c.name;
        EXPECT_EQ(c.value.GetDouble(), c.dbl) << c.name;
    }
    EXPECT_EQ(Dbl(std::nan("")).GetInteger(), 0);
}

// Integers clamp to 32 bits; only sign, digits, point and exponent make a number, read as far
// as they go.
TEST_F(SspValueTest, NumberTexts) {
    struct Case {
        const char* text;
        std::int32_t integer;
        double dbl;
    };
    const Case cases[] = {
        {"3000000000", kIntMax, 3e9},
        {"-3000000000", kIntMin, -3e9},
        {"4294967297", kIntMax, 4294967297.0},
        {"-99999999999999999999999", kIntMin, -1e23},
        {"2147483647", kIntMax, 2147483647.0},
        {"-2147483648", kIntMin, -2147483648.0},
        {" \t+17x", 17, 17.0},
        {"0x10", 0, 0.0},
        {"inf", 0, 0.0},
        {"-infinity", 0, 0.0},
        {"nan", 0, 0.0},
        {"NAN(1)", 0, 0.0},
        {"1.5e3", 1, 1500.0},
        {"-.5E-1", 0, -0.05},
        {"2e", 2, 2.0},
        {"2e+x", 2, 2.0},
        {"7.", 7, 7.0},
        {".", 0, 0.0},
        {"-", 0, 0.0},
        {"1e999", 1, HUGE_VAL},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CSspValue::TextToInt(c.text), c.integer) << c.text;
        EXPECT_EQ(CSspValue::TextToDouble(c.text), c.dbl) << c.text;
    }
}

TEST_F(SspValueTest, TextForms) {
    struct Case {
        const char* name;
        CSspValue value;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"binary lone blank", Bin(" "), ""},
        {"binary two blanks", Bin("  "), "  "},
        {"binary bytes", Bin(std::string_view("a\0b", 3)), std::string("a\0b", 3)},
        {"binary without block", CSspValue::FromText("", kSqlBinary), ""},
        {"integer", Int(-17), "-17"},
        {"real", Real(1.5f), "1.500000"},
        {"double", Dbl(-0.125), "-0.125000"},
        {"double NULL", Dbl(kNullDouble), ""},
        {"date", CSspValue::FromDateTime(At(1999, 12, 31, 14, 5)), "12/31/1999 02:05PM"},
        {"date zero", CSspValue::FromDateTime(0), ""},
        {"text", Text("as is "), "as is "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.GetText(), c.text) << c.name;
    }
}

TEST_F(SspValueTest, SetFromTextFillsTheLiveMember) {
    struct Case {
        int type;
        const char* text;
        bool isNull;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {kSqlDouble, "0", false, "0.000000"},
        {kSqlDouble, "", true, ""},
        {kSqlReal, "2.5", false, "2.500000"},
        {kSqlInteger, "", true, ""},
        {kSqlInteger, "12", false, "12"},
        {kSqlSmallInt, "-3x", false, "-3"},
        {kSqlDate, "12/31/1999 14:05", false, "12/31/1999 02:05PM"},
        {kSqlTimestamp, "not a date", true, ""},
        {kSqlLongVarBinary, "abc", false, "abc"},
        {kSqlLongVarChar, "long", false, "long"},
        {kSqlVarChar, "text", false, "text"},
    };
    for (const Case& c : cases) {
        CSspValue v;
        v.m_type = c.type;
        v.SetFromText(c.text);
        EXPECT_EQ(v.IsNull(), c.isNull) << c.type << " '" << c.text << "'";
        EXPECT_EQ(v.GetText(), c.printed) << c.type << " '" << c.text << "'";
    }

    CSspValue dec;
    dec.m_type = kSqlDecimal;
    dec.SetFromText("3.250");
    EXPECT_EQ(dec.m_decimals, 3);
    EXPECT_EQ(dec.m_text, "3.250");
}

TEST_F(SspValueTest, SetNumberAndCountDecimals) {
    struct Case {
        const char* text;
        std::optional<std::string_view> decimals;
        int type;
        std::string printed;
        int decimalCount;
    };
    const std::vector<Case> cases = {
        {"12", std::nullopt, kSqlInteger, "12", 0},
        {"1.50", std::nullopt, kSqlNumeric, "1.50", 2},
        {"3.14159", "2", kSqlNumeric, "3.14", 2},
        {"2", "3", kSqlNumeric, "2.000", 3},
        {"1.5", "0", kSqlInteger, "1", 0},
        {"abc", std::nullopt, kSqlInteger, "0", 0},
        {"-", std::nullopt, kSqlInteger, "0", 0},
        {"2", "-1", kSqlNumeric, "2.000000", -1},  // printf's rule for a negative precision
    };
    for (const Case& c : cases) {
        CSspValue v;
        v.SetNumber(c.text, c.decimals);
        EXPECT_EQ(v.m_type, c.type) << c.text;
        EXPECT_EQ(v.GetText(), c.printed) << c.text;
        EXPECT_EQ(v.m_decimals, c.decimalCount) << c.text;
    }
    CSspValue absurd;
    absurd.SetNumber("1", "2000000000");
    EXPECT_LE(absurd.GetText().size(), 1100u) << "a script cannot make a value of gigabytes";
    EXPECT_EQ(absurd.GetText().substr(0, 4), "1.00");

    const std::vector<std::pair<const char*, int>> counts = {{"", 0},   {"12", 0},  {"1.5", 1},
                                                             {"1.", 0}, {".25", 2}, {"1.2.3", 3}};
    for (const auto& [text, n] : counts) {
        EXPECT_EQ(CSspValue::CountDecimals(text), n) << text;
    }
}

TEST_F(SspValueTest, NumericAndDateTimeTests) {
    struct Case {
        CSspValue value;
        bool numeric;
        bool hasDateTime;
    };
    const std::vector<Case> cases = {
        {Text("-"), true, false},
        {Text("."), true, false},
        {Text("1,5"), true, false},
        {Text("-12.5"), true, false},
        {Text(""), false, false},
        {Text("1-2"), false, false},
        {Text(" 1"), false, false},
        {Text("abc"), false, false},
        {Text("12/31/1999"), false, true},
        {Text("{d '1999-12-31'}"), false, true},
        {Text("2/30/2004"), false, false},
        {CSspValue::FromText("12", kSqlLongVarChar), false, false},
        {Int(1), true, false},
        {CSspValue::FromDateTime(0), false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.IsNumeric(), c.numeric) << Describe(c.value);
        EXPECT_EQ(c.value.HasDateTime(), c.hasDateTime) << Describe(c.value);
    }
    EXPECT_EQ(Text("12/31/1999 14:05").GetDateTime(), At(1999, 12, 31, 14, 5));
    EXPECT_EQ(Text("nope").GetDateTime(), 0);
    EXPECT_EQ(Int(5).GetDateTime(), 0);
}

TEST_F(SspValueTest, BlobsAreOwnedCopiedAndTaken) {
    CSspValue original = Bin("abcdef");
    CSspValue copy = original;
    copy.m_blob.Data()[0] = 'X';
    EXPECT_EQ(original.GetText(), "abcdef") << "a copy owns its bytes";
    EXPECT_EQ(copy.GetText(), "Xbcdef");

    // A shorter value reuses the destination's block.
    CLongBinary dst;
    ASSERT_TRUE(dst.Assign("0123456789", 10));
    const unsigned char* block = dst.Data();
    ASSERT_TRUE(CSspValue::CopyBlob(dst, Bin("xy").m_blob));
    EXPECT_EQ(dst.Data(), block);
    EXPECT_EQ(dst.View(), "xy");
    // A source without a block empties the destination.
    ASSERT_TRUE(CSspValue::CopyBlob(dst, CLongBinary()));
    EXPECT_EQ(dst.Length(), 0u);

    CLongBinary given;
    ASSERT_TRUE(given.Assign("data", 4));
    CSspValue taker;
    taker.m_type = kSqlLongVarBinary;
    taker.TakeBlob(given);
    EXPECT_EQ(taker.GetText(), "data");
    EXPECT_FALSE(given.HasBlock());
    EXPECT_EQ(given.Length(), 0u);

    CSspValue moved = std::move(taker);
    EXPECT_EQ(moved.GetText(), "data");
    EXPECT_EQ(taker.m_blob.Length(), 0u);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(taker.m_blob.View(), "");

    CSspValue self = Bin("same");
    self = *&self;
    EXPECT_EQ(self.GetText(), "same");
}

// A comma locale must not change how numbers read or print.
TEST_F(SspValueTest, NumbersUseTheCLocaleWhateverTheProcessLocale) {
    auto comma = std::make_unique<CScopedLocale>("de_DE.UTF-8");
    if (!comma->Active()) {
        GTEST_SKIP() << "no comma-decimal locale available and localedef could not make one";
    }
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    const std::string localeForm = probe;

    CSspValue d;
    d.m_type = kSqlDouble;
    d.SetFromText("2.5");
    const double read = d.m_double;
    const std::string printed = Dbl(1.5).GetText();
    CSspValue n;
    n.SetNumber("1.25");
    const std::string decimal = n.GetText();
    CSspValue sum;
    sum.Add(Text("1.50"), Int(2));
    const std::string sumText = sum.GetText();

    comma.reset();
    ASSERT_EQ(localeForm, "1,5") << "the comma locale was not in effect";
    EXPECT_EQ(read, 2.5);
    EXPECT_EQ(printed, "1.500000");
    EXPECT_EQ(decimal, "1.25");
    EXPECT_EQ(sumText, "3.50");
}

}  // namespace
