#include "engine/foundation/SspDateTime.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/foundation/LocaleDates.h"
#include "engine/testsupport/ScopedTimeZone.h"

namespace {

constexpr const char* kUtc = "UTC0";
// POSIX rules need no zone database: New York and Berlin with their daylight saving.
constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";
constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

class SspDateTimeTest : public ::testing::Test {
protected:
    void SetUp() override { SetLocaleDateSettings(CLocaleDates{}); }
    void TearDown() override {
        m_zone.reset();
        SetLocaleDateSettings(CLocaleDates{});
    }
    void UseZone(const char* zone) { m_zone->Use(zone); }
    static std::int64_t At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
        return CSspDateTime::MakeLocalTime(y, mo, d, h, mi, s);
    }

private:
    std::unique_ptr<CScopedTimeZone> m_zone = std::make_unique<CScopedTimeZone>(kUtc);
};

std::string Fields(const CSspDateTime& dt) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", dt.GetYear(), dt.GetMonth(),
                  dt.GetDay(), dt.GetHour(), dt.GetMinute(), dt.GetSecond());
    return buf;
}

TEST_F(SspDateTimeTest, ParsesLiteralsAndLocaleDates) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"{d '1999-12-31'}", "1999-12-31 00:00:00"},
        {"{d '99-12-31'}", "1999-12-31 00:00:00"},
        {"{ts '1999-12-31 14:05:09'}", "1999-12-31 14:05:09"},
        {"{ts '70-01-02 00:00:00.000'}", "1970-01-02 00:00:00"},
        {"12/31/1999 14:05", "1999-12-31 14:05:00"},
        {"12/31/70", "1970-12-31 00:00:00"},
        {"2/29/2004", "2004-02-29 00:00:00"},
        {"1-2-2004", "2004-01-02 00:00:00"},
        {"1.2.04", "2004-01-02 00:00:00"},
        {"  \t1/2/2004 10:30  ", "2004-01-02 10:30:00"},
        {"12/31/2004 24:00", "2005-01-01 00:00:00"},
        {"12/31/2038 23:59", "2038-12-31 23:59:00"},
        {"1/1/2004 12:30 AM", "2004-01-01 00:30:00"},
        {"1/1/2004 12:30 PM", "2004-01-01 12:30:00"},
        {"1/1/2004 1:15 pm", "2004-01-01 13:15:00"},
        {"1/1/2004 1:15am", "2004-01-01 01:15:00"},
        {"1/1/2004 13:15 PM", "2004-01-01 13:15:00"},
        {"1/1/2004 9:05:30", "2004-01-01 09:05:00"},
    };
    for (const auto& [text, fields] : cases) {
        CSspDateTime dt(text);
        EXPECT_TRUE(dt.IsValid()) << text;
        EXPECT_EQ(Fields(dt), fields) << text;
    }
}

TEST_F(SspDateTimeTest, RejectsDatesThatDoNotExist) {
    const std::vector<const char*> cases = {
        "",
        "   ",
        "abc",
        "2/30/2004",
        "2/29/2003",
        "4/31/2004",
        "13/1/2004",
        "0/1/2004",
        "1/0/2004",
        "12/31/69",
        "1/1/2039",
        "12/31/2038 24:00",
        "1/x/2004",
        "1/2",
        "1/2/2004 25:00",
        "1/2/2004 10:60",
        "1/2/2004 10",
        "1/2/2004 1x:00",
        "1/2/99999999999999",
        "{d '2004-02-30'}",
        "{d '2039-01-01'}",
        "{d '1969-12-31'}",
        "{d 'junk'}",
        "{D '1999-12-31'}",
        "{ts '2004-02-29 24:00:00'}",
        "{ts '2004-02-29 23:60:00'}",
        "{ts '2004-02-29 23:00:60'}",
    };
    for (const char* text : cases) {
        CSspDateTime dt(text);
        EXPECT_FALSE(dt.IsValid()) << text;
        EXPECT_EQ(dt.m_time, 0) << text;
    }
}

TEST_F(SspDateTimeTest, ParseTimeDesignators) {
    struct Case {
        const char* text;
        bool ok;
        int hour;
        int minute;
    };
    const std::vector<Case> twelveHour = {
        {"", true, 0, 0},          {"12:30 AM", true, 0, 30}, {"12:30 PM", true, 12, 30},
        {"1:15 pm", true, 13, 15}, {"11:59p", true, 11, 59},  {"24:00", true, 24, 0},
        {"7:5", true, 7, 5},       {"25:00", false, 0, 0},    {"10:-1", false, 0, 0},
        {"x", false, 0, 0},
    };
    for (const Case& c : twelveHour) {
        int h = -1, m = -1;
        EXPECT_EQ(CSspDateTime::ParseTime(c.text, &h, &m), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(h, c.hour) << c.text;
            EXPECT_EQ(m, c.minute) << c.text;
        }
    }

    CLocaleDates dates;
    dates.m_24Hour = true;
    SetLocaleDateSettings(dates);
    int h = -1, m = -1;
    ASSERT_TRUE(CSspDateTime::ParseTime("1:15 PM", &h, &m));
    EXPECT_EQ(h, 1) << "the 24-hour clock ignores designators";

    dates.m_24Hour = false;
    dates.m_amText = "vorm";
    dates.m_pmText = "nachm";
    dates.m_timeSeparator = '.';
    SetLocaleDateSettings(dates);
    ASSERT_TRUE(CSspDateTime::ParseTime("2.05 nachm", &h, &m));
    EXPECT_EQ(h, 14);
    EXPECT_EQ(m, 5);
    ASSERT_TRUE(CSspDateTime::ParseTime("12.05 VORM", &h, &m));
    EXPECT_EQ(h, 0);
}

TEST_F(SspDateTimeTest, PrintedForms) {
    const CSspDateTime dt(At(1999, 12, 31, 14, 5, 9));
    EXPECT_EQ(dt.GetDateStr(), "12/31/1999");
    EXPECT_EQ(dt.GetDateStr2(), "12/31");
    EXPECT_EQ(dt.GetTimeStr(), "02:05PM");
    EXPECT_EQ(dt.GetDateTimeStr(), "12/31/1999 02:05PM");
    EXPECT_EQ(dt.GetDateTimeStr2(), "12/31 02:05PM");
    EXPECT_EQ(dt.GetOdbcDateStr(), "{d '1999-12-31'}");
    EXPECT_EQ(dt.GetOdbcDateTimeStr(), "{ts '1999-12-31 14:05:09'}");
    EXPECT_EQ(dt.GetHttpDateTimeStr(), "Fri, 31 Dec 1999 14:05:09 GMT");

    const std::vector<std::pair<int, std::string>> clock = {
        {0, "12:30AM"}, {11, "11:30AM"}, {12, "12:30PM"}, {13, "01:30PM"}, {23, "11:30PM"}};
    for (const auto& [hour, text] : clock) {
        EXPECT_EQ(CSspDateTime(At(2004, 6, 1, hour, 30)).GetTimeStr(), text) << hour;
    }
}

TEST_F(SspDateTimeTest, LocaleSettingsDecideOrderSeparatorsAndClock) {
    struct Case {
        const char* name;
        CLocaleDates dates;
        const char* input;
        std::string dateTime;
        std::string dateTime2;
        std::string pattern;
        std::string dateTimePattern;
    };
    CLocaleDates german;
    german.m_dateSeparator = '.';
    german.m_dateOrder = DateOrder::kDayMonthYear;
    german.m_24Hour = true;
    CLocaleDates iso;
    iso.m_dateSeparator = '-';
    iso.m_timeSeparator = '.';
    iso.m_dateOrder = DateOrder::kYearMonthDay;
    iso.m_amText = "am";
    iso.m_pmText = "pm";
    const std::vector<Case> cases = {
        {"defaults", CLocaleDates{}, "12/31/1999 14:05", "12/31/1999 02:05PM", "12/31 02:05PM",
         "mm/dd/yyyy", "mm/dd/yyyy hh:mm:ss"},
        {"day first, 24 hours", german, "31.12.1999 14:05", "31.12.1999 14:05", "31.12 14:05",
         "dd.mm.yyyy", "dd.mm.yyyy hh:mm:ss"},
        {"year first", iso, "1999-12-31 2.05 pm", "1999-12-31 02.05pm", "12-31 02.05pm",
         "yyyy-mm-dd", "yyyy-mm-dd hh.mm.ss"},
    };
    for (const Case& c : cases) {
        SetLocaleDateSettings(c.dates);
        const CSspDateTime dt(c.input);
        ASSERT_TRUE(dt.IsValid()) << c.name;
        EXPECT_EQ(dt.m_time, At(1999, 12, 31, 14, 5)) << c.name;
        EXPECT_EQ(dt.GetDateTimeStr(), c.dateTime) << c.name;
        EXPECT_EQ(dt.GetDateTimeStr2(), c.dateTime2) << c.name;
        EXPECT_EQ(GetLocaleDatePattern(), c.pattern) << c.name;
        EXPECT_EQ(GetLocaleDateTimePattern(), c.dateTimePattern) << c.name;
    }
}

TEST_F(SspDateTimeTest, SetLocaleDateSettingsKeepsTheRecordSound) {
    CLocaleDates odd;
    odd.m_dateSeparator = '\0';
    odd.m_timeSeparator = '\0';
    odd.m_dateOrder = static_cast<DateOrder>(7);
    odd.m_amText = std::string(20, 'a');
    SetLocaleDateSettings(odd);
    const CLocaleDates got = GetLocaleDateSettings();
    EXPECT_EQ(got.m_dateSeparator, '/');
    EXPECT_EQ(got.m_timeSeparator, ':');
    EXPECT_EQ(got.m_dateOrder, DateOrder::kMonthDayYear);
    EXPECT_EQ(got.m_amText.size(), CLocaleDates::kMaxDesignatorLength);
}

TEST_F(SspDateTimeTest, TimeZeroPrintsNothingButTheHttpEpoch) {
    const CSspDateTime dt;
    for (const std::string& text :
         {dt.GetDateStr(), dt.GetDateStr2(), dt.GetTimeStr(), dt.GetDateTimeStr(),
          dt.GetDateTimeStr2(), dt.GetOdbcDateStr(), dt.GetOdbcDateTimeStr()}) {
        EXPECT_EQ(text, "");
    }
    EXPECT_EQ(dt.GetHttpDateTimeStr(), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST_F(SspDateTimeTest, HttpFormIsUtcWhateverTheZone) {
    EXPECT_EQ(CSspDateTime("{d '2004-01-01'}").GetHttpDateTimeStr(),
              "Thu, 01 Jan 2004 00:00:00 GMT");
    UseZone(kNewYork);
    EXPECT_EQ(CSspDateTime("{d '2004-01-01'}").GetHttpDateTimeStr(),
              "Thu, 01 Jan 2004 05:00:00 GMT");
    EXPECT_EQ(CSspDateTime("{d '2004-07-01'}").GetHttpDateTimeStr(),
              "Thu, 01 Jul 2004 04:00:00 GMT");
}

TEST_F(SspDateTimeTest, MonthArithmeticRunsOverShortMonths) {
    struct Case {
        std::int64_t start;
        std::int64_t months;
        std::string fields;
    };
    const std::vector<Case> cases = {
        {At(2004, 1, 31), 1, "2004-03-02 00:00:00"},
        {At(2003, 1, 31), 1, "2003-03-03 00:00:00"},
        {At(2004, 1, 15, 8, 30), -1, "2003-12-15 08:30:00"},
        {At(2004, 3, 31), -1, "2004-03-02 00:00:00"},
        {At(2004, 5, 10), 12, "2005-05-10 00:00:00"},
        {At(2004, 5, 10), -13, "2003-04-10 00:00:00"},
        {At(2004, 5, 10), -24, "2002-05-10 00:00:00"},
        {At(2004, 5, 10, 10, 20, 30), 0, "2004-05-10 10:20:00"},
    };
    for (const Case& c : cases) {
        CSspDateTime dt(c.start);
        dt.AddMonths(c.months);
        EXPECT_EQ(Fields(dt), c.fields) << c.months;
    }
    CSspDateTime quarter(At(2004, 11, 30));
    quarter.AddQuarters(1);
    EXPECT_EQ(Fields(quarter), "2005-03-02 00:00:00");
    quarter.AddQuarters(-4);
    EXPECT_EQ(Fields(quarter), "2004-03-02 00:00:00");

    CSspDateTime plus(CSspDateTime("1/31/2004").m_time);
    plus.AddMonths(1);
    EXPECT_EQ(plus.GetDateStr(), "03/02/2004");
}

TEST_F(SspDateTimeTest, MonthArithmeticKeepsTheLocalHourAcrossDaylightSaving) {
    UseZone(kNewYork);
    CSspDateTime dt(At(2004, 3, 1, 10, 0));
    dt.AddMonths(1);
    EXPECT_EQ(Fields(dt), "2004-04-01 10:00:00");
    // Days are fixed counts of seconds, so the local hour moves by the offset change.
    CSspDateTime days(At(2004, 3, 1, 10, 0));
    days.AddDays(31);
    EXPECT_EQ(Fields(days), "2004-04-01 11:00:00");
}

TEST_F(SspDateTimeTest, DayAndWeekArithmetic) {
    const std::int64_t start = At(2004, 2, 28);
    CSspDateTime dt(start);
    dt.AddDays(1);
    EXPECT_EQ(Fields(dt), "2004-02-29 00:00:00");
    dt.AddWeeks(2);
    EXPECT_EQ(dt.m_time, start + 15 * 86400);
    dt.AddDays(-15);
    EXPECT_EQ(dt.m_time, start);

    CSspDateTime late(At(2038, 12, 31));
    late.AddDays(1);
    EXPECT_EQ(late.GetYear(), 2039);
    EXPECT_TRUE(late.IsValid()) << "arithmetic leaves the validity flag alone";

    // Counts far beyond any calendar neither overflow nor go below the epoch.
    const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
    const std::vector<std::pair<const char*, void (CSspDateTime::*)(std::int64_t)>> ops = {
        {"days", &CSspDateTime::AddDays},
        {"weeks", &CSspDateTime::AddWeeks},
        {"months", &CSspDateTime::AddMonths},
        {"quarters", &CSspDateTime::AddQuarters},
    };
    for (const auto& [name, op] : ops) {
        CSspDateTime back(start);
        (back.*op)(-huge);
        EXPECT_EQ(back.m_time, 0) << name;
        CSspDateTime forward(start);
        (forward.*op)(huge);
        EXPECT_GE(forward.m_time, 0) << name;
        CSspDateTime small(start);
        (small.*op)(-1000000);
        EXPECT_EQ(small.m_time, 0) << name;
    }
}

TEST_F(SspDateTimeTest, SetTimeBoundsValidity) {
    struct Case {
        std::int64_t time;
        std::int64_t stored;
        bool valid;
    };
    const std::vector<Case> cases = {
        {-5, 0, true},  // the epoch itself lies in 1970
        {86400, 86400, true},
        {At(2038, 12, 31, 23, 59), At(2038, 12, 31, 23, 59), true},
        {At(2038, 12, 31, 23, 59) + 60, At(2038, 12, 31, 23, 59) + 60, false},
    };
    for (const Case& c : cases) {
        CSspDateTime dt;
        dt.SetTime(c.time);
        EXPECT_EQ(dt.m_time, c.stored) << c.time;
        EXPECT_EQ(dt.IsValid(), c.valid) << c.time;
    }

    // East of Greenwich the first local midnight of 1970 lies before the epoch.
    UseZone(kBerlin);
    EXPECT_FALSE(CSspDateTime("1/1/1970").IsValid());
    EXPECT_TRUE(CSspDateTime("1/1/1970 02:00").IsValid());
    CSspDateTime before;
    before.SetTime(-5);
    EXPECT_EQ(before.m_time, 0);
}

TEST_F(SspDateTimeTest, FieldGetters) {
    const CSspDateTime dt(At(2004, 3, 5, 9, 7, 8));
    EXPECT_EQ(Fields(dt), "2004-03-05 09:07:08");
    EXPECT_EQ(dt.GetDayOfWeek(), 6);                             // Friday
    EXPECT_EQ(CSspDateTime(std::int64_t{1}).GetDayOfWeek(), 5);  // Thursday
    UseZone(kNewYork);
    EXPECT_EQ(dt.GetHour(), 4);
    EXPECT_EQ(dt.GetDay(), 5);
}

TEST_F(SspDateTimeTest, FormatReadsThePageDialect) {
    const CSspDateTime dt(At(2004, 3, 5, 9, 7, 8));
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"%#d/%#m/%Y", "5/3/2004"},
        {"%d.%m.%y", "05.03.04"},
        {"%A %B %a %b", "Friday March Fri Mar"},
        {"%#x", "Friday, March 5, 2004"},
        {"%x %X", "03/05/04 09:07:08"},
        {"%c", "03/05/04 09:07:08"},
        {"%#c", "Friday, March 5, 2004 09:07:08"},
        {"%#H:%M", "9:07"},
        {"%#I %p %#p", "9 AM AM"},
        {"%j %#j", "065 65"},
        {"%#y", "4"},
        {"100%%", "100%"},
        {"%#%", "%"},
        {"x%", "x%"},
        {"x%#", "x%#"},
        {"", ""},
    };
    for (const auto& [pattern, text] : cases) {
        EXPECT_EQ(dt.Format(pattern), text) << pattern;
    }
    const std::string longPattern(500, 'y');
    EXPECT_EQ(dt.Format(longPattern + "%Y"), longPattern + "2004");

    UseZone(kNewYork);
    EXPECT_EQ(dt.Format("%H:%M"), "04:07");
    EXPECT_EQ(dt.FormatGmt("%H:%M %Z"), "09:07 GMT");
}

}  // namespace
