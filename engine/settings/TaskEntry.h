#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// One row of the scheduled-task table. The table belongs to CServerSettings, whose task lock
// guards every row; code that reads or changes a row of a shared settings object holds it.
class CTaskEntry {
public:
    // Day codes.
    static constexpr int32_t kEveryDay = 40;
    static constexpr int32_t kSunday = 41;  // 41..47: every week on Sunday..Saturday
    static constexpr int32_t kSaturday = 47;
    static constexpr int32_t kInterval = 50;  // every m_interval seconds

    std::string m_name;
    bool m_enabled = false;
    std::string m_scriptPath;  // full path of the script, "none" for the Email Sender
    int32_t m_dayCode = 0;
    int64_t m_interval = 0;  // seconds: the interval (code 50) or the time of day after midnight
    int64_t m_nextRun = 0;   // seconds since 1970-01-01 00:00:00 UTC

    // Sets m_nextRun from `now`, read as local time with its seconds dropped:
    //   code 50: now + interval;
    //   code 40: today at the row's hour and minute, or the same wall-clock time the next
    //            calendar day when that is not later than now;
    //   codes 41..47: the next such weekday at the row's time, today included only when the
    //            time is still to come.
    // Days are calendar days, so a daily time stays the same across daylight-saving changes.
    // Any other code leaves m_nextRun as it is.
    void ComputeNextRun(std::time_t now);
    void ComputeNextRun() { ComputeNextRun(std::time(nullptr)); }

    // "Sunday".."Saturday" give 41..47, "Day" 40, any other text 50 (compared exactly).
    static int32_t DayCodeFromName(const std::string& name);

    // "Day" for 40, the weekday name for 41..47, empty text otherwise.
    std::string GetDayName() const;

    // "%d minute(s)" of the interval for code 50; otherwise "<day name> at <time>" with the time
    // of day in the process's locale time form (CSspDateTime::GetTimeStr).
    std::string GetScheduleText() const;
};
