#pragma once

#include <string>

// The order in which a date is typed and printed in the user's locale.
enum class DateOrder : int {
    kMonthDayYear = 0,
    kDayMonthYear = 1,
    kYearMonthDay = 2,
};

// How the process prints and reads dates: separators, order, clock and the AM/PM texts.
// The record starts with the defaults below; each program loads it once from its LC_TIME
// locale. The process itself stays in the "C" locale: numbers print and parse the same
// everywhere.
struct CLocaleDates {
    static constexpr std::size_t kMaxDesignatorLength = 15;

    char m_dateSeparator = '/';
    char m_timeSeparator = ':';
    DateOrder m_dateOrder = DateOrder::kMonthDayYear;
    bool m_24Hour = false;  // false: 12-hour clock with the AM/PM texts
    std::string m_amText = "AM";
    std::string m_pmText = "PM";
};

// The record of the named locale ("" names the process's LC_TIME locale as the environment
// gives it: LC_ALL, LC_TIME, then LANG). The C and POSIX locales (C.UTF-8 too), and a locale
// the system does not have, give the defaults; any other gives its date order and separator
// (D_FMT), its clock and time separator (T_FMT) and its AM/PM texts (AM_STR, PM_STR; an empty
// one keeps the default).
CLocaleDates LocaleDatesOf(const std::string& localeName);

// Puts the record of the process's LC_TIME locale into the process record. Each program calls
// it once at start-up.
void LoadLocaleDateSettings();

// Replaces the process record. A NUL separator keeps the default one, an order outside the three
// keeps month-day-year, and designators are cut to kMaxDesignatorLength characters.
// Safe to call while other threads read the record.
void SetLocaleDateSettings(const CLocaleDates& dates);

// A copy of the process record; safe from any thread.
CLocaleDates GetLocaleDateSettings();

// "mm/dd/yyyy", "dd/mm/yyyy" or "yyyy/mm/dd" by the order, with the date separator.
std::string GetLocaleDatePattern();

// GetLocaleDatePattern() followed by " hh:mm:ss" with the time separator.
std::string GetLocaleDateTimePattern();
