#include "engine/foundation/LocaleDates.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Reached through a function so that static initialisers of other files may read it.
struct LocaleDatesState {
    std::mutex m_lock;
    CLocaleDates m_dates;
};

LocaleDatesState& State() {
    static LocaleDatesState state;
    return state;
}

std::string OrderedPattern(const CLocaleDates& dates) {
    const char sep = dates.m_dateSeparator;
    switch (dates.m_dateOrder) {
        case DateOrder::kDayMonthYear:
            return std::string("dd") + sep + "mm" + sep + "yyyy";
        case DateOrder::kYearMonthDay:
            return std::string("yyyy") + sep + "mm" + sep + "dd";
        case DateOrder::kMonthDayYear:
            break;
    }
    return std::string("mm") + sep + "dd" + sep + "yyyy";
}

// The locale name setlocale(LC_TIME, "") would choose, without changing the process's locale.
std::string EnvironmentTimeLocale() {
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return "C";
}

bool IsCLocale(const std::string& name) {
    return name.empty() || name == "C" || name == "POSIX" || name.starts_with("C.");
}

// A format with the composite conversions written out, so that only single fields remain.
std::string ExpandFormat(const std::string& format, locale_t locale) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        const char conversion = format[++i];
        switch (conversion) {
            case 'D':
                out += "%m/%d/%y";
                break;
            case 'F':
                out += "%Y-%m-%d";
                break;
            case 'T':
                out += "%H:%M:%S";
                break;
            case 'R':
                out += "%H:%M";
                break;
            case 'r':
                out += nl_langinfo_l(T_FMT_AMPM, locale);
                break;
            default:
                out += '%';
                out += conversion;
        }
    }
    return out;
}

// The first character between two fields of a format; NUL when there is none that a date
// could be typed with (a letter, a digit, a blank or a byte beyond ASCII).
char FieldSeparator(const std::string& format) {
    bool afterField = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%') {
            ++i;
            while (i < format.size() && (format[i] == 'E' || format[i] == 'O')) {
                ++i;  // alternative-digit modifiers
            }
            afterField = true;
            continue;
        }
        if (afterField) {
            const unsigned char c = static_cast<unsigned char>(format[i]);
            return std::ispunct(c) != 0 && c < 0x80 ? static_cast<char>(c) : '\0';
        }
    }
    return '\0';
}

// Where the first of the given conversions stands in a format; npos when none does.
size_t FieldPosition(const std::string& format, const char* conversions) {
    for (size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] == '%') {
            size_t at = i + 1;
            while (at < format.size() && (format[at] == 'E' || format[at] == 'O')) {
                ++at;
            }
            if (at < format.size() && std::strchr(conversions, format[at]) != nullptr) {
                return i;
            }
            i = at;
        }
    }
    return std::string::npos;
}

DateOrder OrderOf(const std::string& dateFormat) {
    const size_t year = FieldPosition(dateFormat, "YyCG");
    const size_t month = FieldPosition(dateFormat, "mbBh");
    const size_t day = FieldPosition(dateFormat, "de");
    if (year != std::string::npos && (month == std::string::npos || year < month) &&
        (day == std::string::npos || year < day)) {
        return DateOrder::kYearMonthDay;
    }
    if (day != std::string::npos && month != std::string::npos && day < month) {
        return DateOrder::kDayMonthYear;
    }
    return DateOrder::kMonthDayYear;
}

}  // namespace

CLocaleDates LocaleDatesOf(const std::string& localeName) {
    const std::string name = localeName.empty() ? EnvironmentTimeLocale() : localeName;
    CLocaleDates dates;
    if (IsCLocale(name)) {
        return dates;
    }
    const locale_t locale = newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) {
        return dates;
    }
    const std::string dateFormat = ExpandFormat(nl_langinfo_l(D_FMT, locale), locale);
    const std::string timeFormat = ExpandFormat(nl_langinfo_l(T_FMT, locale), locale);
    dates.m_dateOrder = OrderOf(dateFormat);
    if (const char separator = FieldSeparator(dateFormat); separator != '\0') {
        dates.m_dateSeparator = separator;
    }
    if (const char separator = FieldSeparator(timeFormat); separator != '\0') {
        dates.m_timeSeparator = separator;
    }
    dates.m_24Hour = FieldPosition(timeFormat, "Hk") != std::string::npos &&
                     FieldPosition(timeFormat, "Il") == std::string::npos;
    const std::string am = nl_langinfo_l(AM_STR, locale);
    const std::string pm = nl_langinfo_l(PM_STR, locale);
    if (!am.empty()) {
        dates.m_amText = am;
    }
    if (!pm.empty()) {
        dates.m_pmText = pm;
    }
    freelocale(locale);
    return dates;
}

void LoadLocaleDateSettings() {
    SetLocaleDateSettings(LocaleDatesOf(""));
}

void SetLocaleDateSettings(const CLocaleDates& dates) {
    CLocaleDates clean = dates;
    const CLocaleDates defaults;
    if (clean.m_dateSeparator == '\0') {
        clean.m_dateSeparator = defaults.m_dateSeparator;
    }
    if (clean.m_timeSeparator == '\0') {
        clean.m_timeSeparator = defaults.m_timeSeparator;
    }
    switch (clean.m_dateOrder) {
        case DateOrder::kMonthDayYear:
        case DateOrder::kDayMonthYear:
        case DateOrder::kYearMonthDay:
            break;
        default:
            clean.m_dateOrder = defaults.m_dateOrder;
    }
    if (clean.m_amText.size() > CLocaleDates::kMaxDesignatorLength) {
        clean.m_amText.resize(CLocaleDates::kMaxDesignatorLength);
    }
    if (clean.m_pmText.size() > CLocaleDates::kMaxDesignatorLength) {
        clean.m_pmText.resize(CLocaleDates::kMaxDesignatorLength);
    }
    LocaleDatesState& state = State();
    std::lock_guard<std::mutex> guard(state.m_lock);
    state.m_dates = std::move(clean);
}

CLocaleDates GetLocaleDateSettings() {
    LocaleDatesState& state = State();
    std::lock_guard<std::mutex> guard(state.m_lock);
    return state.m_dates;
}

std::string GetLocaleDatePattern() {
    return OrderedPattern(GetLocaleDateSettings());
}

std::string GetLocaleDateTimePattern() {
    const CLocaleDates dates = GetLocaleDateSettings();
    const char sep = dates.m_timeSeparator;
    return OrderedPattern(dates) + " hh" + sep + "mm" + sep + "ss";
}
