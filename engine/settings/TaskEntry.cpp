#include "engine/settings/TaskEntry.h"

#include <cstdio>

#include "engine/foundation/SspDateTime.h"

namespace {

const char* const kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

// The local time of `date`'s calendar day plus `days`, at `minutes` after midnight. mktime
// carries the day and the minutes into months and hours, and decides daylight saving itself.
std::time_t AtMinutesOfDay(const std::tm& date, int days, int64_t minutes) {
    std::tm when = date;
    when.tm_mday += days;
    when.tm_hour = static_cast<int>(minutes / 60);
    when.tm_min = static_cast<int>(minutes % 60);
    when.tm_sec = 0;
    when.tm_isdst = -1;
    return std::mktime(&when);
}

}  // namespace

void CTaskEntry::ComputeNextRun(std::time_t now) {
    const bool weekly = m_dayCode >= kSunday && m_dayCode <= kSaturday;
    if (m_dayCode != kInterval && m_dayCode != kEveryDay && !weekly) {
        return;
    }
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        return;
    }
    const std::time_t minute = now - local.tm_sec;
    if (m_dayCode == kInterval) {
        m_nextRun = minute + m_interval;
        return;
    }
    const int64_t minutes = m_interval / 60;
    int days = 0;
    int step = 1;
    if (weekly) {
        days = m_dayCode - 34 - local.tm_wday;
        if (days >= 7) {
            days -= 7;
        }
        step = 7;
    }
    std::time_t next = AtMinutesOfDay(local, days, minutes);
    if (next <= minute) {
        next = AtMinutesOfDay(local, days + step, minutes);
    }
    m_nextRun = next;
}

int32_t CTaskEntry::DayCodeFromName(const std::string& name) {
    for (int32_t day = 0; day < 7; ++day) {
        if (name == kDayNames[day]) {
            return kSunday + day;
        }
    }
    return name == "Day" ? kEveryDay : kInterval;
}

std::string CTaskEntry::GetDayName() const {
    if (m_dayCode == kEveryDay) {
        return "Day";
    }
    if (m_dayCode >= kSunday && m_dayCode <= kSaturday) {
        return kDayNames[m_dayCode - kSunday];
    }
    return std::string();
}

std::string CTaskEntry::GetScheduleText() const {
    char text[64];
    if (m_dayCode == kInterval) {
        std::snprintf(text, sizeof text, "%d minute(s)", static_cast<int>(m_interval / 60));
        return text;
    }
    int64_t minutes = (m_interval / 60) % 1440;
    if (minutes < 0) {
        minutes += 1440;
    }
    const CSspDateTime at(CSspDateTime::MakeLocalTime(2001, 1, 1, static_cast<int>(minutes / 60),
                                                      static_cast<int>(minutes % 60), 0));
    return GetDayName() + " at " + at.GetTimeStr();
}
