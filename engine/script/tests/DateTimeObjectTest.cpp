#include <cstdlib>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "engine/foundation/LocaleDates.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspDateTimeObject.h"
#include "engine/script/tests/BuiltinCall.h"
#include "engine/testsupport/ScopedTimeZone.h"

using builtin_test::Call;
using builtin_test::CallError;
using builtin_test::Int;
using builtin_test::Text;

namespace {

class DateTimeObject : public ::testing::Test {
protected:
    void SetUp() override { SetLocaleDateSettings(CLocaleDates{}); }

    static CSspDateTimeObject Make(const char* text) {
        return CSspDateTimeObject(CSspDateTime(std::string_view(text)));
    }

    CScopedTimeZone m_zone{"UTC"};
};

TEST_F(DateTimeObject, ReadsFieldsAndPrintedForms) {
    CSspDateTimeObject d = Make("12/31/1999 14:05");
    struct Case {
        const char* member;
        const char* printed;
    };
    const Case cases[] = {
        {"isValid", "1"},
        {"getYear", "1999"},
        {"getMonth", "12"},
        {"getDay", "31"},
        {"getDayOfWeek", "6"},
        {"getHour", "14"},
        {"getMinute", "5"},
        {"getSecond", "0"},
        {"getDateStr", "12/31/1999"},
        {"getDateStr2", "12/31"},
        {"getTimeStr", "02:05PM"},
        {"getDateTimeStr", "12/31/1999 02:05PM"},
        {"getDateTimeStr2", "12/31 02:05PM"},
        {"getOdbcDateStr", "{d '1999-12-31'}"},
        {"getOdbcDateTimeStr", "{ts '1999-12-31 14:05:00'}"},
        {"getHttpDateTimeStr", "Fri, 31 Dec 1999 14:05:00 GMT"},
        {"GETYEAR", "1999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.member);
        EXPECT_EQ(Call(d, "d", c.member).GetText(), c.printed);
    }
    EXPECT_EQ(Call(d, "d", "getYear").m_type, kSqlInteger);
    EXPECT_EQ(Call(d, "d", "format", {Text("%Y-%m-%d %H")}).GetText(), "1999-12-31 14");
    EXPECT_EQ(Call(d, "d", "formatGmt", {Text("%H:%M")}).GetText(), "14:05");
}

TEST_F(DateTimeObject, WithoutMemberItIsItsDateValue) {
    CSspDateTimeObject d = Make("{ts '2004-01-02 03:04:05'}");
    CSspValue value = Call(d, "d", "");
    EXPECT_EQ(value.m_type, kSqlDate);
    EXPECT_EQ(value.m_dateTime, d.m_value.GetTime());
    EXPECT_GT(value.m_dateTime, 0);
}

TEST_F(DateTimeObject, ArithmeticMovesTheObject) {
    struct Case {
        const char* start;
        const char* member;
        int n;
        const char* odbc;
    };
    const Case cases[] = {
        {"1/31/2004", "addMonth", 1, "{ts '2004-03-02 00:00:00'}"},
        {"1/15/2004", "addMonth", -1, "{ts '2003-12-15 00:00:00'}"},
        {"1/31/2004", "addDay", -1, "{ts '2004-01-30 00:00:00'}"},
        {"1/31/2004", "addWeek", 2, "{ts '2004-02-14 00:00:00'}"},
        {"1/31/2004 10:30", "addQuarter", 1, "{ts '2004-05-01 10:30:00'}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.start) + " " + c.member);
        CSspDateTimeObject d = Make(c.start);
        CSspValue moved = Call(d, "d", c.member, {Int(c.n)});
        EXPECT_EQ(moved.m_type, kSqlDate);
        EXPECT_EQ(moved.m_dateTime, d.m_value.GetTime());
        EXPECT_EQ(Call(d, "d", "getOdbcDateTimeStr").GetText(), c.odbc);
    }
}

TEST_F(DateTimeObject, CopyTakesTheArgumentsDate) {
    CSspDateTimeObject d;
    EXPECT_EQ(Call(d, "d", "isValid").m_integer, 0);
    Call(d, "d", "copy", {Text("2/29/2004")});
    EXPECT_EQ(Call(d, "d", "getDay").m_integer, 29);
    EXPECT_EQ(Call(d, "d", "isValid").m_integer, 1);

    CSspDateTimeObject other = Make("7/4/2010");
    Call(d, "d", "copy", {Call(other, "other", "")});
    EXPECT_EQ(Call(d, "d", "getOdbcDateStr").GetText(), "{d '2010-07-04'}");
}

TEST_F(DateTimeObject, NoDatePrintsEmptyLocaleForms) {
    CSspDateTimeObject d = Make("not a date");
    EXPECT_EQ(Call(d, "d", "isValid").m_integer, 0);
    for (const char* member : {"getDateStr", "getTimeStr", "getDateTimeStr", "getOdbcDateStr"}) {
        SCOPED_TRACE(member);
        EXPECT_EQ(Call(d, "d", member).GetText(), "");
    }
    EXPECT_EQ(Call(d, "d", "getHttpDateTimeStr").GetText(), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST_F(DateTimeObject, Errors) {
    CSspDateTimeObject d = Make("1/1/2000");
    for (const char* member :
         {"format", "formatGmt", "addDay", "addWeek", "addMonth", "addQuarter", "copy"}) {
        SCOPED_TRACE(member);
        EXPECT_EQ(CallError(d, "d", member), "Missing parameter.");
    }
    EXPECT_EQ(CallError(d, "d", "getCentury"), "Unknown datetime field: getCentury");
    EXPECT_EQ(Call(d, "d", "getYear").m_integer, 2000) << "errors leave the date alone";
}

}  // namespace
