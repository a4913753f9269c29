#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/foundation/LocaleDates.h"

// The engine's date value: seconds since 1970-01-01 00:00:00 UTC, where 0 means "no date".
// It parses ODBC literals ("{d '1999-12-31'}", "{ts '1999-12-31 14:05:00'}") and dates typed in
// the locale order ("12/31/1999 2:05 PM"), prints the locale, ODBC and HTTP forms, and does
// calendar arithmetic in local time (the TZ of the process).
//
// A time counts as valid only when its local year lies in 1970 to 2038; every parser rejects
// dates outside that range and days that the month does not have (2/30 is not March 1st).
// Parsing never throws. Not thread-safe per object; distinct objects may be used concurrently.
class CSspDateTime {
public:
    static constexpr int kMinYear = 1970;
    static constexpr int kMaxYear = 2038;

    // Time 0, not valid, no name.
    CSspDateTime() = default;
    // SetTime(time).
    explicit CSspDateTime(std::int64_t time);
    // SetText(text).
    explicit CSspDateTime(std::string_view text);

    // Name of a declared `datetime` object; empty for a bare value.
    std::string m_strName;
    // Start of the declaring keyword in the page source; identifies the declaration.
    const char* m_pDeclPos = nullptr;
    // 1 when the last set or parse succeeded.
    int m_bValid = 0;
    // Seconds since the epoch; 0 means no date; never negative.
    std::int64_t m_time = 0;

    // A negative time becomes 0. Valid when the local year of the time is in range.
    void SetTime(std::int64_t time);
    // Trims white space, then parses a "{d" literal, a "{ts" literal (both prefixes
    // case-sensitive) or, for text beginning with a digit, a locale date. A failed parse (or an
    // empty text) leaves time 0 and not valid. Returns the validity.
    bool SetText(std::string_view text);

    bool IsValid() const { return m_bValid != 0; }
    std::int64_t GetTime() const { return m_time; }

    // The current time of the system clock.
    static std::int64_t Now();

    // Printed forms. Every locale form and the ODBC forms are empty when the time is 0.
    std::string GetDateStr() const;          // "12/31/1999" in the locale order
    std::string GetDateStr2() const;         // "12/31" (day first for day-month-year)
    std::string GetTimeStr() const;          // "02:05PM", or "14:05" on the 24-hour clock
    std::string GetDateTimeStr() const;      // GetDateStr() + " " + GetTimeStr()
    std::string GetDateTimeStr2() const;     // GetDateStr2() + " " + GetTimeStr()
    std::string GetOdbcDateStr() const;      // "{d '1999-12-31'}"
    std::string GetOdbcDateTimeStr() const;  // "{ts '1999-12-31 14:05:00'}"
    // "Thu, 01 Jan 2004 00:00:00 GMT": UTC and English whatever the locale; time 0 prints
    // the first second of 1970.
    std::string GetHttpDateTimeStr() const;

    // The time formatted with a strftime pattern in the dialect pages are written in: the
    // '#' flag ("%#d" drops leading zeros, "%#x" and "%#c" the long forms) is understood, and
    // names print in English. Format uses local time, FormatGmt UTC. The result is not cut.
    std::string Format(std::string_view pattern) const;
    std::string FormatGmt(std::string_view pattern) const;

    // Fields of the local time.
    int GetYear() const;       // four digits
    int GetMonth() const;      // 1 to 12
    int GetDay() const;        // 1 to 31
    int GetDayOfWeek() const;  // 1 (Sunday) to 7 (Saturday)
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;

    // Calendar arithmetic. Each sets the time (a result below 0 becomes 0) and leaves the
    // validity flag as it was. Computed in 64 bits, so no count can overflow.
    void AddDays(std::int64_t n);
    void AddWeeks(std::int64_t n);
    // Moves the local month by n (either direction, carrying into the year); day, hour and
    // minute stay, seconds become 0; a day the month lacks runs into the next month
    // (January 31st plus one month is March 2nd in a leap year).
    void AddMonths(std::int64_t n);
    void AddQuarters(std::int64_t n);

    // The parsers behind SetText; each gives the time on success and leaves *time untouched
    // on failure.
    // "{d 'yyyy-mm-dd'}": year below 100 gets 1900 added; local midnight.
    static bool ParseOdbcDate(std::string_view text, std::int64_t* time);
    // "{ts 'yyyy-mm-dd hh:mm:ss'}": hour 0 to 23, minute and second 0 to 59.
    static bool ParseOdbcTimestamp(std::string_view text, std::int64_t* time);
    // Three digit-only fields in the locale order, cut at the date separator, blank, '/',
    // '-' and '.'; a two-digit year is 20yy below 70, else 19yy; an optional time follows.
    static bool ParseLocaleDate(std::string_view text, std::int64_t* time);
    // "hh:mm" with an optional AM/PM designator on the 12-hour clock; hour 0 to 24, minute 0
    // to 59; empty text is 00:00.
    static bool ParseTime(std::string_view text, int* hour, int* minute);

    // Local time of a calendar date, or -1 when it is out of range or does not exist.
    static std::int64_t MakeLocalTime(int year, int month, int day, int hour, int minute,
                                      int second);
    // Local time of the fields, the calendar carrying out-of-range ones (month 13 is January
    // of the next year); daylight saving is the system's. -1 when mktime cannot place it.
    static std::int64_t NormalisedLocalTime(int year, int month, int day, int hour, int minute,
                                            int second);

private:
    std::string FormatWith(std::string_view pattern, bool utc) const;
};
