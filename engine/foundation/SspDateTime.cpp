#include "engine/foundation/SspDateTime.h"

#include <locale.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <limits>
#include <vector>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/SspValue.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Yields the runs of characters that are not delimiters, skipping delimiter runs before each.
class PartReader {
public:
    PartReader(std::string_view text, std::string_view delimiters)
        : m_text(text), m_delimiters(delimiters) {}

    std::string_view Next() {
        while (m_pos < m_text.size() && IsDelimiter(m_text[m_pos])) {
            ++m_pos;
        }
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && !IsDelimiter(m_text[m_pos])) {
            ++m_pos;
        }
        return m_text.substr(start, m_pos - start);
    }

    std::string_view Rest() const { return m_text.substr(m_pos); }

private:
    bool IsDelimiter(char c) const { return m_delimiters.find(c) != std::string_view::npos; }

    std::string_view m_text;
    std::string_view m_delimiters;
    std::size_t m_pos = 0;
};

// A field made of digits only; false for an empty field or one too large for an int.
bool ReadDigits(std::string_view text, int* value) {
    if (text.empty()) {
        return false;
    }
    std::int64_t n = 0;
    for (char c : text) {
        if (!IsDigit(c)) {
            return false;
        }
        n = n * 10 + (c - '0');
        if (n > std::numeric_limits<int>::max()) {
            return false;
        }
    }
    *value = static_cast<int>(n);
    return true;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDate(int year, int month, int day) {
    return year >= CSspDateTime::kMinYear && year <= CSspDateTime::kMaxYear && month >= 1 &&
           month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool BreakDown(std::int64_t time, bool utc, struct tm* out) {
    if (time < std::numeric_limits<time_t>::min() || time > std::numeric_limits<time_t>::max()) {
        return false;
    }
    const time_t t = static_cast<time_t>(time);
    return (utc ? gmtime_r(&t, out) : localtime_r(&t, out)) != nullptr;
}

bool LocalYearInRange(std::int64_t time) {
    struct tm parts {};
    if (!BreakDown(time, false, &parts)) {
        return false;
    }
    const int year = parts.tm_year + 1900;
    return year >= CSspDateTime::kMinYear && year <= CSspDateTime::kMaxYear;
}

void AppendTwoDigits(std::string& out, int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", n);
    out += buf;
}

void AppendFourDigits(std::string& out, int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d", n);
    out += buf;
}

locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

// Rewrites a pattern of the page dialect into one glibc's strftime reads the same way: the '#'
// flag (no leading zeros, long forms) becomes glibc's '-' flag or an explicit long form, and %c
// takes the short numeric form pages expect.
std::string TranslatePattern(std::string_view pattern) {
    std::string out;
    out.reserve(pattern.size() + 16);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
            continue;
        }
        if (i + 1 >= pattern.size()) {
            out += "%%";  // a lone trailing '%' prints itself
            break;
        }
        bool alternate = false;
        char conv = pattern[++i];
        if (conv == '#') {
            if (i + 1 >= pattern.size()) {
                out += "%%#";
                break;
            }
            alternate = true;
            conv = pattern[++i];
        }
        switch (conv) {
            case 'c':
                out += alternate ? "%A, %B %-d, %Y %H:%M:%S" : "%m/%d/%y %H:%M:%S";
                break;
            case 'x':
                out += alternate ? "%A, %B %-d, %Y" : "%m/%d/%y";
                break;
            case 'd':
            case 'H':
            case 'I':
            case 'j':
            case 'm':
            case 'M':
            case 'S':
            case 'U':
            case 'w':
            case 'W':
            case 'y':
            case 'Y':
                out += alternate ? "%-" : "%";
                out += conv;
                break;
            default:
                out += '%';
                out += conv;
        }
    }
    return out;
}

}  // namespace

CSspDateTime::CSspDateTime(std::int64_t time) {
    SetTime(time);
}

CSspDateTime::CSspDateTime(std::string_view text) {
    SetText(text);
}

void CSspDateTime::SetTime(std::int64_t time) {
    m_time = time < 0 ? 0 : time;
    m_bValid = LocalYearInRange(m_time) ? 1 : 0;
}

bool CSspDateTime::SetText(std::string_view text) {
    m_time = 0;
    m_bValid = 0;
    text = TrimAsciiSpace(text);
    if (text.empty()) {
        return false;
    }
    std::int64_t time = 0;
    bool ok = false;
    if (text.size() > 1 && text.starts_with("{d")) {
        ok = ParseOdbcDate(text, &time);
    } else if (text.size() > 2 && text.starts_with("{ts")) {
        ok = ParseOdbcTimestamp(text, &time);
    } else if (IsDigit(text.front())) {
        ok = ParseLocaleDate(text, &time);
    }
    if (ok) {
        m_time = time;
        m_bValid = 1;
    }
    return ok;
}

std::int64_t CSspDateTime::Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t CSspDateTime::MakeLocalTime(int year, int month, int day, int hour, int minute,
                                         int second) {
    if (!IsValidDate(year, month, day)) {
        return -1;
    }
    const std::int64_t t = NormalisedLocalTime(year, month, day, hour, minute, second);
    if (t < 0 || !LocalYearInRange(t)) {
        return -1;  // also an hour of 24 that carries past the last valid day
    }
    return t;
}

std::int64_t CSspDateTime::NormalisedLocalTime(int year, int month, int day, int hour, int minute,
                                               int second) {
    struct tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;  // the zone rules decide daylight saving
    return static_cast<std::int64_t>(mktime(&parts));
}

bool CSspDateTime::ParseOdbcDate(std::string_view text, std::int64_t* time) {
    PartReader parts(text, "{d '-}");
    int year = CSspValue::TextToInt(parts.Next());
    const int month = CSspValue::TextToInt(parts.Next());
    const int day = CSspValue::TextToInt(parts.Next());
    if (year >= 0 && year < 100) {
        year += 1900;
    }
    const std::int64_t t = MakeLocalTime(year, month, day, 0, 0, 0);
    if (t < 0) {
        return false;
    }
    *time = t;
    return true;
}

bool CSspDateTime::ParseOdbcTimestamp(std::string_view text, std::int64_t* time) {
    PartReader parts(text, "{ts '-:}");
    int year = CSspValue::TextToInt(parts.Next());
    const int month = CSspValue::TextToInt(parts.Next());
    const int day = CSspValue::TextToInt(parts.Next());
    const int hour = CSspValue::TextToInt(parts.Next());
    const int minute = CSspValue::TextToInt(parts.Next());
    const int second = CSspValue::TextToInt(parts.Next());
    if (year >= 0 && year < 100) {
        year += 1900;
    }
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
        return false;
    }
    const std::int64_t t = MakeLocalTime(year, month, day, hour, minute, second);
    if (t < 0) {
        return false;
    }
    *time = t;
    return true;
}

bool CSspDateTime::ParseLocaleDate(std::string_view text, std::int64_t* time) {
    const CLocaleDates locale = GetLocaleDateSettings();
    std::string delimiters = " /-.";
    delimiters += locale.m_dateSeparator;
    PartReader parts(text, delimiters);
    int fields[3];
    for (int& field : fields) {
        if (!ReadDigits(parts.Next(), &field)) {
            return false;
        }
    }
    int year = 0, month = 0, day = 0;
    switch (locale.m_dateOrder) {
        case DateOrder::kDayMonthYear:
            day = fields[0], month = fields[1], year = fields[2];
            break;
        case DateOrder::kYearMonthDay:
            year = fields[0], month = fields[1], day = fields[2];
            break;
        case DateOrder::kMonthDayYear:
            month = fields[0], day = fields[1], year = fields[2];
            break;
    }
    if (year < 100) {
        year += year < 70 ? 2000 : 1900;
    }
    if (!IsValidDate(year, month, day)) {
        return false;
    }
    std::string_view rest = parts.Rest();
    while (!rest.empty() && IsAsciiSpace(rest.front())) {
        rest.remove_prefix(1);
    }
    int hour = 0, minute = 0;
    if (!ParseTime(rest, &hour, &minute)) {
        return false;
    }
    const std::int64_t t = MakeLocalTime(year, month, day, hour, minute, 0);
    if (t < 0) {
        return false;
    }
    *time = t;
    return true;
}

bool CSspDateTime::ParseTime(std::string_view text, int* hour, int* minute) {
    if (text.empty()) {
        *hour = 0;
        *minute = 0;
        return true;
    }
    const CLocaleDates locale = GetLocaleDateSettings();
    std::string delimiters = " :AP";
    delimiters += locale.m_timeSeparator;
    for (const std::string* designator : {&locale.m_amText, &locale.m_pmText}) {
        for (char c : *designator) {
            delimiters += AsciiUpper(c);
            delimiters += AsciiLower(c);
        }
    }
    PartReader parts(text, delimiters);
    int h = 0, m = 0;
    if (!ReadDigits(parts.Next(), &h) || h > 24 || !ReadDigits(parts.Next(), &m) || m > 59) {
        return false;
    }
    if (!locale.m_24Hour) {
        const std::string_view designator = TrimAsciiSpace(parts.Rest());
        if (AsciiEqualNoCase(designator, locale.m_amText) || AsciiEqualNoCase(designator, "AM")) {
            if (h == 12) {
                h = 0;
            }
        } else if (AsciiEqualNoCase(designator, locale.m_pmText) ||
                   AsciiEqualNoCase(designator, "PM")) {
            if (h < 12) {
                h += 12;
            }
        }
    }
    *hour = h;
    *minute = m;
    return true;
}

std::string CSspDateTime::GetDateStr() const {
    struct tm parts {};
    if (m_time == 0 || !BreakDown(m_time, false, &parts)) {
        return {};
    }
    const CLocaleDates locale = GetLocaleDateSettings();
    const char sep = locale.m_dateSeparator;
    std::string out;
    switch (locale.m_dateOrder) {
        case DateOrder::kDayMonthYear:
            AppendTwoDigits(out, parts.tm_mday);
            out += sep;
            AppendTwoDigits(out, parts.tm_mon + 1);
            out += sep;
            AppendFourDigits(out, parts.tm_year + 1900);
            break;
        case DateOrder::kYearMonthDay:
            AppendFourDigits(out, parts.tm_year + 1900);
            out += sep;
            AppendTwoDigits(out, parts.tm_mon + 1);
            out += sep;
            AppendTwoDigits(out, parts.tm_mday);
            break;
        case DateOrder::kMonthDayYear:
            AppendTwoDigits(out, parts.tm_mon + 1);
            out += sep;
            AppendTwoDigits(out, parts.tm_mday);
            out += sep;
            AppendFourDigits(out, parts.tm_year + 1900);
            break;
    }
    return out;
}

std::string CSspDateTime::GetDateStr2() const {
    struct tm parts {};
    if (m_time == 0 || !BreakDown(m_time, false, &parts)) {
        return {};
    }
    const CLocaleDates locale = GetLocaleDateSettings();
    const bool dayFirst = locale.m_dateOrder == DateOrder::kDayMonthYear;
    std::string out;
    AppendTwoDigits(out, dayFirst ? parts.tm_mday : parts.tm_mon + 1);
    out += locale.m_dateSeparator;
    AppendTwoDigits(out, dayFirst ? parts.tm_mon + 1 : parts.tm_mday);
    return out;
}

std::string CSspDateTime::GetTimeStr() const {
    struct tm parts {};
    if (m_time == 0 || !BreakDown(m_time, false, &parts)) {
        return {};
    }
    const CLocaleDates locale = GetLocaleDateSettings();
    int hour = parts.tm_hour;
    std::string suffix;
    if (!locale.m_24Hour) {
        suffix = hour >= 12 ? locale.m_pmText : locale.m_amText;
        if (hour == 0) {
            hour = 12;
        } else if (hour > 12) {
            hour -= 12;
        }
    }
    std::string out;
    AppendTwoDigits(out, hour);
    out += locale.m_timeSeparator;
    AppendTwoDigits(out, parts.tm_min);
    return out + suffix;
}

std::string CSspDateTime::GetDateTimeStr() const {
    if (m_time == 0) {
        return {};
    }
    return GetDateStr() + " " + GetTimeStr();
}

std::string CSspDateTime::GetDateTimeStr2() const {
    if (m_time == 0) {
        return {};
    }
    return GetDateStr2() + " " + GetTimeStr();
}

std::string CSspDateTime::GetOdbcDateStr() const {
    if (m_time == 0) {
        return {};
    }
    return FormatWith("{d '%Y-%m-%d'}", false);
}

std::string CSspDateTime::GetOdbcDateTimeStr() const {
    if (m_time == 0) {
        return {};
    }
    return FormatWith("{ts '%Y-%m-%d %H:%M:%S'}", false);
}

std::string CSspDateTime::GetHttpDateTimeStr() const {
    struct tm parts {};
    if (!BreakDown(m_time, true, &parts)) {
        return {};
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %.2d %s %.4d %.2d:%.2d:%.2d GMT", kWeekdays[parts.tm_wday],
                  parts.tm_mday, kMonths[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour,
                  parts.tm_min, parts.tm_sec);
    return buf;
}

std::string CSspDateTime::Format(std::string_view pattern) const {
    return FormatWith(TranslatePattern(pattern), false);
}

std::string CSspDateTime::FormatGmt(std::string_view pattern) const {
    return FormatWith(TranslatePattern(pattern), true);
}

std::string CSspDateTime::FormatWith(std::string_view pattern, bool utc) const {
    struct tm parts {};
    if (pattern.empty() || !BreakDown(m_time, utc, &parts)) {
        return {};
    }
    const std::string format(pattern);
    // strftime reports both "too small" and "empty result" as 0, so grow a few times and then
    // accept that the result is empty.
    std::vector<char> buf(format.size() * 4 + 64);
    for (int attempt = 0; attempt < 6; ++attempt) {
        const std::size_t n = strftime_l(buf.data(), buf.size(), format.c_str(), &parts, CLocale());
        if (n > 0) {
            return std::string(buf.data(), n);
        }
        buf.resize(buf.size() * 4);
    }
    return {};
}

namespace {

int LocalField(std::int64_t time, int tm::*field, int offset) {
    struct tm parts {};
    if (!BreakDown(time, false, &parts)) {
        return 0;
    }
    return parts.*field + offset;
}

}  // namespace

int CSspDateTime::GetYear() const {
    return LocalField(m_time, &tm::tm_year, 1900);
}

int CSspDateTime::GetMonth() const {
    return LocalField(m_time, &tm::tm_mon, 1);
}

int CSspDateTime::GetDay() const {
    return LocalField(m_time, &tm::tm_mday, 0);
}

int CSspDateTime::GetDayOfWeek() const {
    return LocalField(m_time, &tm::tm_wday, 1);
}

int CSspDateTime::GetHour() const {
    return LocalField(m_time, &tm::tm_hour, 0);
}

int CSspDateTime::GetMinute() const {
    return LocalField(m_time, &tm::tm_min, 0);
}

int CSspDateTime::GetSecond() const {
    return LocalField(m_time, &tm::tm_sec, 0);
}

namespace {

// time + n * unit, saturated, and never below 0.
std::int64_t AddScaled(std::int64_t time, std::int64_t n, std::int64_t unit) {
    std::int64_t delta = 0;
    std::int64_t sum = 0;
    if (__builtin_mul_overflow(n, unit, &delta)) {
        sum = n < 0 ? 0 : std::numeric_limits<std::int64_t>::max();
    } else if (__builtin_add_overflow(time, delta, &sum)) {
        sum = delta < 0 ? 0 : std::numeric_limits<std::int64_t>::max();
    }
    return sum < 0 ? 0 : sum;
}

}  // namespace

void CSspDateTime::AddDays(std::int64_t n) {
    m_time = AddScaled(m_time, n, kSecondsPerDay);
}

void CSspDateTime::AddWeeks(std::int64_t n) {
    m_time = AddScaled(m_time, n, 7 * kSecondsPerDay);
}

void CSspDateTime::AddMonths(std::int64_t n) {
    struct tm parts {};
    if (!BreakDown(m_time, false, &parts)) {
        m_time = 0;
        return;
    }
    // Month index counted from year 0, so that moving back carries into the year too.
    const std::int64_t index = static_cast<std::int64_t>(parts.tm_year) * 12 + parts.tm_mon;
    std::int64_t moved = 0;
    if (__builtin_add_overflow(index, n, &moved)) {
        m_time = 0;
        return;
    }
    std::int64_t year = moved / 12;
    std::int64_t month = moved % 12;
    if (month < 0) {
        month += 12;
        year -= 1;
    }
    if (year < std::numeric_limits<int>::min() || year > std::numeric_limits<int>::max() - 1900) {
        m_time = 0;
        return;
    }
    parts.tm_year = static_cast<int>(year);
    parts.tm_mon = static_cast<int>(month);
    parts.tm_sec = 0;
    parts.tm_isdst = -1;
    const time_t t = mktime(&parts);
    m_time = t < 0 ? 0 : t;
}

void CSspDateTime::AddQuarters(std::int64_t n) {
    std::int64_t months = 0;
    if (__builtin_mul_overflow(n, 3, &months)) {
        m_time = 0;
        return;
    }
    AddMonths(months);
}
