#include "engine/foundation/LocaleDates.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <clocale>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/foundation/SspDateTime.h"

namespace {

// Sets or clears an environment variable for one test and puts it back afterwards.
class CEnvironmentVariable {
public:
    explicit CEnvironmentVariable(const char* name) : m_name(name) {
        const char* value = ::getenv(name);
        m_saved = value ? std::optional<std::string>(value) : std::nullopt;
    }
    ~CEnvironmentVariable() {
        if (m_saved) {
            ::setenv(m_name, m_saved->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    void Set(const char* value) { ::setenv(m_name, value, 1); }
    void Clear() { ::unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_saved;
};

struct LocaleCase {
    const char* m_locale;
    DateOrder m_order;
    char m_dateSeparator;
    bool m_24Hour;
    const char* m_am;
    const char* m_pm;
    const char* m_dateTime;  // 1999-12-31 14:05 as GetDateTimeStr prints it
};

const std::vector<LocaleCase> kCases = {
    {"C", DateOrder::kMonthDayYear, '/', false, "AM", "PM", "12/31/1999 02:05PM"},
    {"POSIX", DateOrder::kMonthDayYear, '/', false, "AM", "PM", "12/31/1999 02:05PM"},
    {"en_US.UTF-8", DateOrder::kMonthDayYear, '/', false, "AM", "PM", "12/31/1999 02:05PM"},
    // German has no day-half texts: the defaults stay, unused on its 24-hour clock.
    {"de_DE.UTF-8", DateOrder::kDayMonthYear, '.', true, "AM", "PM", "31.12.1999 14:05"},
    {"en_GB.UTF-8", DateOrder::kDayMonthYear, '/', true, "am", "pm", "31/12/1999 14:05"},
    // A locale the system does not have keeps the defaults.
    {"xx_NOWHERE.UTF-8", DateOrder::kMonthDayYear, '/', false, "AM", "PM", "12/31/1999 02:05PM"},
};

class LocaleDatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_tz.Set("UTC0");
        ::tzset();
    }
    void TearDown() override {
        SetLocaleDateSettings(CLocaleDates{});
        ::tzset();
    }

    CEnvironmentVariable m_tz{"TZ"};
    CEnvironmentVariable m_all{"LC_ALL"};
    CEnvironmentVariable m_time{"LC_TIME"};
    CEnvironmentVariable m_lang{"LANG"};
};

TEST_F(LocaleDatesTest, EachLocaleGivesItsOrderSeparatorsClockAndDayHalves) {
    for (const LocaleCase& c : kCases) {
        SCOPED_TRACE(c.m_locale);
        const CLocaleDates dates = LocaleDatesOf(c.m_locale);
        EXPECT_EQ(dates.m_dateOrder, c.m_order);
        EXPECT_EQ(dates.m_dateSeparator, c.m_dateSeparator);
        EXPECT_EQ(dates.m_timeSeparator, ':');
        EXPECT_EQ(dates.m_24Hour, c.m_24Hour);
        EXPECT_EQ(dates.m_amText, c.m_am);
        EXPECT_EQ(dates.m_pmText, c.m_pm);
        SetLocaleDateSettings(dates);
        const CSspDateTime at(CSspDateTime::MakeLocalTime(1999, 12, 31, 14, 5, 0));
        EXPECT_EQ(at.GetDateTimeStr(), c.m_dateTime);
        // What is printed reads back in the same locale.
        CSspDateTime parsed;
        parsed.SetText(c.m_dateTime);
        EXPECT_EQ(parsed.GetTime(), at.GetTime());
    }
}

// The program's start reads the locale as setlocale(LC_TIME, "") would choose it, but leaves
// the process's own locale alone.
TEST_F(LocaleDatesTest, LoadReadsTheEnvironmentsTimeLocaleWithoutSettingIt) {
    struct Environment {
        const char* m_all;
        const char* m_time;
        const char* m_lang;
        char m_dateSeparator;
    };
    for (const Environment& e : {Environment{nullptr, nullptr, "de_DE.UTF-8", '.'},
                                 Environment{nullptr, "de_DE.UTF-8", "en_US.UTF-8", '.'},
                                 Environment{"C", "de_DE.UTF-8", nullptr, '/'},
                                 Environment{nullptr, "C.UTF-8", "de_DE.UTF-8", '/'},
                                 Environment{nullptr, nullptr, nullptr, '/'}}) {
        e.m_all ? m_all.Set(e.m_all) : m_all.Clear();
        e.m_time ? m_time.Set(e.m_time) : m_time.Clear();
        e.m_lang ? m_lang.Set(e.m_lang) : m_lang.Clear();
        LoadLocaleDateSettings();
        EXPECT_EQ(GetLocaleDateSettings().m_dateSeparator, e.m_dateSeparator)
            << (e.m_all ? e.m_all : "-") << " " << (e.m_time ? e.m_time : "-") << " "
            << (e.m_lang ? e.m_lang : "-");
    }
    EXPECT_STREQ(std::setlocale(LC_TIME, nullptr), "C");
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
}

}  // namespace
