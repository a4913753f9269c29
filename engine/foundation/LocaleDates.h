#pragma once

#include <string>

// The order in which a date is typed and printed in the user's locale.
enum class DateOrder : int {
    kMonthDayYear = 0,
    kDayMonthYear = 1,
    kYearMonthDay = 2,
};

// How the process prints and reads dates: separators, order, clock and the AM/PM texts.
// The host's locale is never consulted (the process stays in the "C" locale); the record starts
// with the defaults below and the settings may replace it.
struct CLocaleDates {
    static constexpr std::size_t kMaxDesignatorLength = 15;

    char m_dateSeparator = '/';
    char m_timeSeparator = ':';
    DateOrder m_dateOrder = DateOrder::kMonthDayYear;
    bool m_24Hour = false;  // false: 12-hour clock with the AM/PM texts
    std::string m_amText = "AM";
    std::string m_pmText = "PM";
};

// Puts the defaults into the process record. Each program calls it once at start-up.
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
